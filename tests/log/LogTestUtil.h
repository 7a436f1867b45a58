// Helpers shared by the log tests: private temporary folders, file reading and
// the parsing of entry time stamps.
#ifndef VYX_LOG_TEST_UTIL_H
#define VYX_LOG_TEST_UTIL_H

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cctype>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "VYXLog.h"

namespace logtest {

// A private folder under $TMPDIR (or /tmp), removed with its contents.
class TempDir {
public:
    TempDir()
    {
        const char* base = getenv("TMPDIR");
        std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vyxlog_XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()) != nullptr)
            m_path = buf.data();
    }
    ~TempDir()
    {
        if (!m_path.empty())
            nftw(m_path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    bool ok() const { return !m_path.empty(); }

private:
    static int RemoveEntry(const char* p, const struct stat*, int, struct FTW*) { return remove(p); }
    std::string m_path;
};

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline std::vector<std::string> ListFolder(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

inline bool IsDir(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

inline bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Wall clock in milliseconds, cut the way the log cuts it.
inline int64_t NowMs()
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

// Local calendar fields to milliseconds since the epoch.
inline int64_t LocalToMs(int year, int mon, int day, int hour, int min, int sec, int ms)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = mon - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    t.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&t)) * 1000 + ms;
}

// Length of the entry prefix "YYYY-MM-DD hh-mm-ss-mmmm: ".
constexpr size_t kPrefixLen = 26;

// Parses an entry prefix at `pos` of `s`: its time stamp in milliseconds since
// the epoch into *ms and the printed milliseconds into *msField.  (Plain
// parsing: std::regex trips a false -Wmaybe-uninitialized in sanitizer builds.)
inline bool ParsePrefix(const std::string& s, size_t pos, int64_t* ms = nullptr, int* msField = nullptr)
{
    static const char shape[] = "dddd-dd-dd dd-dd-dd-dddd: ";
    if (s.size() < pos + kPrefixLen)
        return false;
    for (size_t i = 0; i < kPrefixLen; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[pos + i]);
        if (shape[i] == 'd' ? !isdigit(c) : c != static_cast<unsigned char>(shape[i]))
            return false;
    }
    auto num = [&](size_t off, size_t len) { return std::stoi(s.substr(pos + off, len)); };
    if (ms != nullptr)
        *ms = LocalToMs(num(0, 4), num(5, 2), num(8, 2), num(11, 2), num(14, 2), num(17, 2), num(20, 4));
    if (msField != nullptr)
        *msField = num(20, 4);
    return true;
}

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::stringstream ss(text);
    for (std::string line; std::getline(ss, line);)
        lines.push_back(line);
    return lines;
}

// Path of the SDK log as VYXLOG_LogGet reports it ("" when off).
inline std::string CurrentLogPath()
{
    bool on = false;
    char path[VYXLOG_PATH_SIZE] = {};
    VYXLOG_LogGet(&on, path);
    return on ? std::string(path) : std::string();
}

inline unsigned int* AsPathArg(const std::string& s)
{
    return reinterpret_cast<unsigned int*>(const_cast<char*>(s.c_str()));
}

} // namespace logtest

#endif // VYX_LOG_TEST_UTIL_H
