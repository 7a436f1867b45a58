// fuzz_bmp - the BMP writer with any file name, image size and free space.
//
// Runs on the virtual board, which puts "/picture/..." into a sandbox
// folder.  Before every input the sandbox's picture folders are set up
// afresh with the things a careless writer trips over: a sub-folder, a link
// to a folder outside the picture folders, a link to a file there, and a
// link to itself.  The name is put together from a folder prefix (right,
// nearly right and wrong ones) and components (those above, "..", ".",
// empty, too long, odd bytes); the image size from values at the edges of
// the 32-bit fields; the free space the board reports from values around
// the file's size.  Checked after every call:
//   - nothing outside the picture folders changed, and nothing was written
//     through a link;
//   - a save that succeeded had a name under "/picture/sd/" or
//     "/picture/data/" without "..", enough free space, and left exactly one
//     regular file holding the headers and the caller's rows;
//   - a save that failed left the picture folders as they were;
//   - a plain name in a folder that exists, with room, is saved.
// The writer never reads past the caller's rows (AddressSanitizer).
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "VYXZebApi.h"
#include "VyxBoard.h"

// The writer refuses to run without an initialised device; it uses nothing
// of the device beyond that, so any object will do here.
class CZeb;
namespace {
char g_device;
}
CZeb* g_Zeb = reinterpret_cast<CZeb*>(&g_device);

namespace {

constexpr uint64_t kMaxImageBytes = 1 << 20;   // larger images run against a full disk only
constexpr uint32_t kHeaderBytes = 14 + 40;
constexpr uint32_t kPaletteBytes = 256 * 4;

[[noreturn]] void Fail(const std::string& what)
{
    fprintf(stderr, "fuzz_bmp: %s\n", what.c_str());
    abort();
}

std::string Host(const std::string& boardPath) { return vb::sandboxPath(boardPath); }

// Outside the picture folders, inside the sandbox: what a link may point at.
std::string Outside() { return vb::sandboxRoot() + "/outside"; }

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void EmptyFolder(const std::string& host)
{
    nftw(host.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
    if (mkdir(host.c_str(), 0755) != 0) Fail("cannot remake " + host);
}

void Setup()
{
    EmptyFolder(Host("/picture/sd"));
    EmptyFolder(Host("/picture/data"));
    EmptyFolder(Outside());
    std::ofstream(Outside() + "/victim.bmp") << "not to be touched";
    const std::string sd = Host("/picture/sd");
    if (mkdir((sd + "/dir").c_str(), 0755) != 0 || mkdir((Host("/picture/data") + "/dir").c_str(), 0755) != 0 ||
        symlink(Outside().c_str(), (sd + "/out").c_str()) != 0 ||
        symlink((Outside() + "/victim.bmp").c_str(), (sd + "/lnk.bmp").c_str()) != 0 ||
        symlink("loop", (sd + "/loop").c_str()) != 0)
        Fail("cannot set up the picture folders");
}

// Every entry under a host folder: path -> kind, size and link target.
std::map<std::string, std::string> Snapshot(const std::string& host)
{
    static std::map<std::string, std::string>* sink;
    std::map<std::string, std::string> all;
    sink = &all;
    nftw(
        host.c_str(),
        [](const char* path, const struct stat* st, int, struct FTW*) {
            std::string what = S_ISDIR(st->st_mode) ? "dir" : S_ISLNK(st->st_mode) ? "link:" : "file:";
            if (S_ISLNK(st->st_mode)) {
                char target[PATH_MAX] = {};
                if (readlink(path, target, sizeof target - 1) < 0) target[0] = '?';
                what += target;
            } else if (S_ISREG(st->st_mode)) {
                what += std::to_string(st->st_size) + ":" + std::to_string(st->st_mtim.tv_nsec) + ":" +
                        std::to_string(st->st_ino);
            }
            (*sink)[path] = what;
            return 0;
        },
        16, FTW_PHYS);
    return all;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool HasParent(const std::string& path)
{
    return ("/" + path + "/").find("/../") != std::string::npos;
}

// The name: a prefix and up to four components.
std::string Name(vyxfuzz::Input& in, bool* plain)
{
    static const char* const kPrefixes[] = {"/picture/sd/",  "/picture/data/",  "/picture/sd/",  "/picture/data/",
                                            "/picture/",     "/picture/sdcard/", "/picture/sd",   "picture/sd/",
                                            "//picture/sd/", "/picture/../picture/sd/", "/tmp/", ""};
    static const char* const kParts[] = {"a.bmp", "dir", "out", "lnk.bmp", "loop", "..", ".", "", "missing",
                                         "%s%n.bmp", "\xff\xfe.bmp", " ", "dir/", "a.bmp/", "long", "toolong"};
    const std::string prefix = in.Pick(kPrefixes);
    const int parts = static_cast<int>(in.Range(1, 4));
    std::vector<std::string> chosen;
    for (int i = 0; i < parts; ++i) {
        std::string part = in.Pick(kParts);
        if (part == "long") part = std::string(255, 'L');
        if (part == "toolong") part = std::string(256, 'T');
        chosen.push_back(part);
    }
    std::string name = prefix;
    for (size_t i = 0; i < chosen.size(); ++i) name += (i > 0 ? "/" : "") + chosen[i];
    *plain = (prefix == "/picture/sd/" || prefix == "/picture/data/") &&
             ((chosen.size() == 1 && chosen[0] == "a.bmp") ||
              (chosen.size() == 2 && chosen[0] == "dir" && chosen[1] == "a.bmp"));
    return name;
}

int Dimension(vyxfuzz::Input& in)
{
    static const int kEdges[] = {0, -1, 1, 2, 3, 4, 5, 31, 32, 33, 64, 1280, 65535, 65536, INT_MAX, INT_MIN};
    return in.Bool() ? in.Pick(kEdges) : static_cast<int>(in.Range(1, 300));
}

uint64_t FileBytes(int width, int height, int bits)
{
    return kHeaderBytes + (bits == 8 ? kPaletteBytes : 0) +
           (static_cast<uint64_t>(width) * static_cast<uint64_t>(bits) + 31) / 32 * 4 * static_cast<uint64_t>(height);
}

uint64_t ReportedFree(const std::string& boardFolder)
{
    struct statfs fs;
    if (statfs(boardFolder.c_str(), &fs) != 0) return 0;
    return static_cast<uint64_t>(fs.f_bsize) * static_cast<uint64_t>(fs.f_bfree);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    vyxfuzz::Input in(data, size);
    Setup();
    bool plain = false;
    const std::string name = Name(in, &plain);
    static const int kBits[] = {8, 24, 32, 8, 0, 1, 16, 48, -8};
    const int width = Dimension(in), height = Dimension(in), bits = in.Pick(kBits);
    const bool sane = width > 0 && height > 0 && (bits == 8 || bits == 24 || bits == 32);
    const uint64_t fileBytes = sane ? FileBytes(width, height, bits) : 0;
    const bool fits = sane && fileBytes - kHeaderBytes - (bits == 8 ? kPaletteBytes : 0) <= kMaxImageBytes;

    // Free space: plenty, or within a few blocks of the file's size.  An
    // image larger than the buffer below always meets a disk too small.
    static const int64_t kAround[] = {-8192, -4097, -4096, -1, 0, 1, 4095, 4096, 4097, 8192};
    const bool tight = !fits || in.Bool();
    if (tight) {
        const int64_t wanted = fits ? static_cast<int64_t>(fileBytes) + in.Pick(kAround) : int64_t{1} << 20;
        vb::setFakeFreeSpace(static_cast<uint64_t>(std::max<int64_t>(0, wanted)));
    } else {
        vb::clearFakeFreeSpace();
    }

    const size_t bufferBytes = fits ? static_cast<size_t>(fileBytes - kHeaderBytes - (bits == 8 ? kPaletteBytes : 0)) : 16;
    unsigned char* pixels = static_cast<unsigned char*>(malloc(bufferBytes == 0 ? 1 : bufferBytes));
    for (size_t i = 0; i < bufferBytes; ++i) pixels[i] = static_cast<unsigned char>(i * 13 + 7);
    const bool nullData = in.Range(0, 15) == 0;

    const std::string root = vb::sandboxRoot();
    const auto before = Snapshot(root);
    const uint64_t freeBytes = ReportedFree(name.compare(0, 14, "/picture/data/") == 0 ? "/picture/data/" : "/picture/sd/");
    const int ret = VYXZEB_HelperSaveToBmp(nullData ? nullptr : pixels, width, height, bits, name.c_str());
    const auto after = Snapshot(root);

    if (Snapshot(Outside()) != [&] {
            std::map<std::string, std::string> outside;
            for (const auto& e : before)
                if (e.first.compare(0, Outside().size(), Outside()) == 0) outside.insert(e);
            return outside;
        }())
        Fail("something outside the picture folders changed, saving \"" + name + "\"");

    const bool underFolders = name.compare(0, 12, "/picture/sd/") == 0 || name.compare(0, 14, "/picture/data/") == 0;
    if (ret == VYXZEB_RET_SUCCESS) {
        if (!underFolders || HasParent(name)) Fail("saved under a name outside the picture folders: " + name);
        if (!sane || nullData) Fail("saved an image it should have refused");
        if (freeBytes <= fileBytes) Fail("saved with no more free space than the file takes");
        const std::string host = Host(name);
        struct stat st;
        if (lstat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != fileBytes)
            Fail("the saved file is missing or has the wrong size: " + name);
        const std::string content = ReadAll(host);
        if (content.compare(content.size() - bufferBytes, bufferBytes, reinterpret_cast<const char*>(pixels),
                            bufferBytes) != 0)
            Fail("the saved rows differ from the caller's");
        // Exactly that file is new or changed.
        auto expected = before;
        expected.erase(host);
        auto got = after;
        got.erase(host);
        if (got != expected) Fail("a save changed more than its file: " + name);
    } else {
        if (after != before) Fail("a refused save changed the picture folders: " + name);
        if (plain && sane && !nullData && freeBytes > fileBytes)
            Fail("a plain save was refused with " + std::to_string(ret) + ": " + name);
    }
    free(pixels);
    return 0;
}
