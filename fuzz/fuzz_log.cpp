// fuzz_log - the diagnostic log with any folder, file name, path and text.
//
// Each input opens one log in a private scratch folder (VYXLOG_InitEx with a
// folder and a name of any bytes and lengths around the 127-character
// limit, or VYXLOG_Init with a path buffer of exactly its own length, or the
// SDK's own log through VYXLOG_LogSet), writes entries of every kind through
// it and closes it.  Checked each time:
//   - a path that fits is accepted and one that does not is refused, exactly
//     at the limit, and a refused call leaves nothing behind;
//   - the file then holds every entry written, in order, each with its
//     time stamp and its exact text (formatted texts cut after 1023
//     characters, error entries without a line break), and nothing else;
//   - VYXLOG_LogGet reports the path in its 128 bytes;
//   - a handle that is not a live log, or one closed already, is refused.
// Nothing is read or written outside the buffers given (AddressSanitizer).
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "VYXLog.h"

namespace {

constexpr size_t kPathLimit = VYXLOG_PATH_SIZE - 1;   // characters of a path, terminator excluded
constexpr size_t kTextLimit = VYXLOG_TEXT_SIZE - 1;
constexpr size_t kDefaultNameLength = 27;             // VYXLog_YYYYMMDD(hhmmss).txt
constexpr size_t kStampLength = 26;                   // "YYYY-MM-DD hh-mm-ss-mmmm: "

[[noreturn]] void Fail(const std::string& what)
{
    fprintf(stderr, "fuzz_log: %s\n", what.c_str());
    abort();
}

void RemoveRoot();

// The scratch folder of this process, emptied before every input and
// removed at exit.
const std::string& Root()
{
    // Never destroyed: RemoveRoot runs at exit, after static destructors.
    static const std::string& root = *new std::string([] {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vyx-fuzz-log-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) Fail("cannot make a scratch folder");
        atexit(RemoveRoot);
        return pattern;
    }());
    return root;
}

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void RemoveRoot() { nftw(Root().c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS); }

void EmptyRoot()
{
    nftw(Root().c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
    if (mkdir(Root().c_str(), 0700) != 0) Fail("cannot remake the scratch folder");
}

bool IsDir(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Every path under the scratch folder, sorted, for "nothing left behind".
std::vector<std::string> g_listing;   // nftw's callback takes no context

int CollectOne(const char* path, const struct stat*, int, struct FTW*)
{
    g_listing.push_back(path);
    return 0;
}

std::vector<std::string> Listing()
{
    g_listing.clear();
    nftw(Root().c_str(), CollectOne, 16, FTW_PHYS);
    std::sort(g_listing.begin(), g_listing.end());
    return g_listing;
}

// One file-name component: any bytes but '/' and NUL, never "." or "..",
// of a length the input picks (around what is left of the path limit).
std::string Component(vyxfuzz::Input& in, size_t room)
{
    const size_t lo = room > 8 ? room - 8 : 0;
    size_t n = static_cast<size_t>(in.Bool() ? in.Range(static_cast<int64_t>(lo), static_cast<int64_t>(room) + 8)
                                             : in.Range(0, 24));
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        char c = static_cast<char>(in.Take<uint8_t>());
        if (c == '/' || c == '\0') c = '_';
        s.push_back(in.Empty() ? 'n' : c);
    }
    if (s == "." || s == "..") s = "dots";
    return s;
}

struct Entry {
    std::string text;
    bool lineBreak;
};

// Writes a few entries of every kind through h; returns those that must be
// in the file (a written entry reports 0, a refused one 1).
std::vector<Entry> WriteEntries(vyxfuzz::Input& in, HANDLE h, bool hasFile)
{
    std::vector<Entry> written;
    const int count = static_cast<int>(in.Range(0, 6));
    for (int i = 0; i < count; ++i) {
        const int level = in.Bool() ? static_cast<int>(in.Range(-2, 3)) : 1;
        std::string text = in.Bytes(in.Bool() ? 3000 : 40);
        text = text.substr(0, text.find('\0'));
        int ret = 0;
        Entry e{text, true};
        switch (in.Range(0, 5)) {
        case 0: ret = VYXLOG_OutputString(h, text.c_str(), level); break;
        case 1: ret = VYXLOG_OutputStringEx(h, level, "%s", text.c_str()); break;
        case 2: {
            const int n = in.Take<int32_t>(), width = static_cast<int>(in.Range(-1100, 1100));
            char buf[4096];
            snprintf(buf, sizeof buf, "%d|%*s|%%|%.*s", n, width, "w", static_cast<int>(text.size()), text.c_str());
            e.text = buf;
            ret = VYXLOG_OutputStringEx(h, level, "%d|%*s|%%|%.*s", n, width, "w", static_cast<int>(text.size()),
                                        text.c_str());
            break;
        }
        case 3: {
            const unsigned int code = in.Bool() ? in.Take<uint32_t>() : static_cast<unsigned>(in.Range(0, 140));
            char buf[256];
            e.text = strerror_r(static_cast<int>(code), buf, sizeof buf);
            e.lineBreak = false;
            ret = VYXLOG_OutputError(h, code, level);
            break;
        }
        case 4: {
            const int code = static_cast<int>(in.Range(0, 140));
            char buf[256];
            e.text = strerror_r(code, buf, sizeof buf);
            e.lineBreak = false;
            errno = code;
            ret = VYXLOG_OutputLastError(h, level);
            break;
        }
        default: {
            const double v = static_cast<double>(in.Take<int32_t>()) / 7.0;
            char buf[128];
            snprintf(buf, sizeof buf, "%.3f %c", v, 'x');
            e.text = buf;
            ret = VYXLOG_OutputStringEx(h, level, "%.3f %c", v, 'x');
        }
        }
        if (e.text.size() > kTextLimit && e.lineBreak) e.text.resize(kTextLimit);
        const bool expectWritten = level >= 0 && hasFile;
        if (ret != (expectWritten ? 0 : 1)) Fail("an output call reported " + std::to_string(ret));
        if (expectWritten) written.push_back(e);
    }
    return written;
}

bool IsStamp(const std::string& s, size_t at)
{
    static const char kShape[] = "dddd-dd-dd dd-dd-dd-dddd: ";
    if (at + kStampLength > s.size()) return false;
    for (size_t i = 0; i < kStampLength; ++i) {
        const char c = s[at + i];
        if (kShape[i] == 'd' ? (c < '0' || c > '9') : c != kShape[i]) return false;
    }
    return true;
}

void CheckFile(const std::string& path, const std::vector<Entry>& entries)
{
    const std::string content = ReadAll(path);
    size_t at = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!IsStamp(content, at)) Fail("entry " + std::to_string(i) + " has no time stamp");
        at += kStampLength;
        const std::string& want = entries[i].text;
        if (content.compare(at, want.size(), want) != 0) Fail("entry " + std::to_string(i) + " has the wrong text");
        at += want.size();
        if (entries[i].lineBreak) {
            if (at >= content.size() || content[at] != '\n') Fail("entry " + std::to_string(i) + " has no line break");
            ++at;
        }
    }
    if (at != content.size()) Fail("the file holds more than the entries written");
}

// VYXLOG_InitEx with a folder and name the input makes.
void FolderAndName(vyxfuzz::Input& in)
{
    const std::string root = Root();
    const size_t folderRoom = kPathLimit > root.size() + 1 ? kPathLimit - root.size() - 1 : 0;
    const std::string folder = root + "/" + Component(in, in.Bool() ? folderRoom : folderRoom / 2);
    const bool defaultName = in.Range(0, 3) == 0;
    const size_t nameRoom = kPathLimit > folder.size() + 1 ? kPathLimit - folder.size() - 1 : 0;
    const std::string name = defaultName ? std::string() : Component(in, nameRoom);
    const bool useDefault = name.empty();
    if (in.Bool()) {
        std::ofstream(folder) << "a file where the folder would go";   // must be refused
    }
    const bool folderUsable = IsDir(folder) || !Exists(folder);
    const size_t nameLength = useDefault ? kDefaultNameLength : name.size();
    const bool fits = folder.size() + 1 + nameLength <= kPathLimit;
    const std::vector<std::string> before = Listing();

    HANDLE untouched = reinterpret_cast<HANDLE>(0x1);
    HANDLE h = untouched;
    const int ret = VYXLOG_InitEx(&h, reinterpret_cast<unsigned int*>(const_cast<char*>(folder.c_str())),
                                  reinterpret_cast<unsigned int*>(const_cast<char*>(name.c_str())), true, false);
    if (ret != ((fits && folderUsable) ? 0 : 1)) Fail("InitEx gave " + std::to_string(ret) + " for a path that " +
                                                      (fits ? "fits" : "does not fit"));
    if (ret != 0) {
        if (h != untouched) Fail("a refused InitEx changed the handle");
        if (Listing() != before) Fail("a refused InitEx left something behind");
        return;
    }
    const std::vector<Entry> entries = WriteEntries(in, h, true);
    if (VYXLOG_UnInit(&h) != 0 || h != nullptr) Fail("UnInit of a live log failed");
    if (VYXLOG_UnInit(&h) != 1) Fail("a second UnInit was accepted");
    std::string path = folder + "/" + name;
    if (useDefault) {
        const std::vector<std::string> after = Listing();
        path.clear();
        for (const std::string& p : after) {
            const size_t slash = p.rfind('/');
            if (p.size() - slash - 1 == kDefaultNameLength && p.compare(slash + 1, 7, "VYXLog_") == 0) path = p;
        }
        if (path.empty()) Fail("no log file of the default name");
    }
    CheckFile(path, entries);
}

// VYXLOG_Init with a path buffer exactly as long as the path.
void PlainPath(vyxfuzz::Input& in)
{
    const std::string root = Root();
    const size_t room = kPathLimit > root.size() + 1 ? kPathLimit - root.size() - 1 : 0;
    const std::string path = root + "/" + Component(in, room);
    char* buffer = static_cast<char*>(malloc(path.size() + 1));
    memcpy(buffer, path.c_str(), path.size() + 1);
    HANDLE h = nullptr;
    if (VYXLOG_Init(&h, reinterpret_cast<unsigned int*>(buffer), true, false) != 0 || h == nullptr)
        Fail("Init gave no handle");
    free(buffer);
    // The log gets a file when the path fits and names no folder.
    const bool fits = path.size() <= kPathLimit;
    const bool hasFile = fits && !IsDir(path);
    const std::vector<Entry> entries = WriteEntries(in, h, hasFile);
    // A handle that is no log, and a copy of one closed through another
    // variable, are refused.
    int notALog = 0;
    HANDLE bogus = &notALog, copy = h;
    if (VYXLOG_UnInit(&bogus) != 1) Fail("UnInit accepted a handle that is no log");
    if (VYXLOG_UnInit(&h) != 0) Fail("UnInit of a live log failed");
    if (VYXLOG_UnInit(&copy) != 1 || VYXLOG_OutputString(copy, "late", 1) != 1) Fail("a closed handle was used");
    if (hasFile) CheckFile(path, entries);
    else if (!fits && Exists(path.substr(0, kPathLimit))) Fail("a path too long was cut and created");
}

// The SDK's own log: switched on in a folder, reported, switched off.
void SdkLog(vyxfuzz::Input& in)
{
    const std::string root = Root();
    const size_t room = kPathLimit > root.size() + 2 + kDefaultNameLength ? kPathLimit - root.size() - 2 - kDefaultNameLength : 0;
    const std::string folder = root + "/" + Component(in, room);
    const bool fits = folder.size() + 1 + kDefaultNameLength <= kPathLimit;
    if (VYXLOG_LogSet(true, folder.c_str()) != (fits ? 0 : 1)) Fail("LogSet(true) disagrees with the limit");
    bool on = !fits;
    char* reported = static_cast<char*>(malloc(VYXLOG_PATH_SIZE));
    VYXLOG_LogGet(&on, reported);
    if (on != fits) Fail("LogGet disagrees with LogSet");
    std::vector<Entry> entries;
    std::string path;
    if (fits) {
        path = reported;
        if (path.compare(0, folder.size() + 8, folder + "/VYXLog_") != 0 ||
            path.size() != folder.size() + 1 + kDefaultNameLength)
            Fail("LogGet reports another path");
        entries = WriteEntries(in, hVYXLog, true);
    }
    free(reported);
    if (VYXLOG_LogSet(false, nullptr) != (fits ? 0 : 1)) Fail("LogSet(false) disagrees");
    if (hVYXLog != nullptr) Fail("the SDK's log is still on");
    if (fits) CheckFile(path, entries);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    vyxfuzz::Input in(data, size);
    EmptyRoot();
    switch (in.Range(0, 2)) {
    case 0: FolderAndName(in); break;
    case 1: PlainPath(in); break;
    default: SdkLog(in); break;
    }
    return 0;
}
