// TestSupport.h - small helpers shared by the API and device tests.
#ifndef VYX_TEST_SUPPORT_H
#define VYX_TEST_SUPPORT_H

#include <dirent.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "VYXZebApi.h"

namespace vyxtest {

// A temporary folder removed (with its files) when the object goes away.
class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/vyx_test_XXXXXX";
        const char* p = mkdtemp(tmpl);
        path_ = p ? p : "";
    }
    ~TempDir() {
        if (DIR* d = opendir(path_.c_str())) {
            while (dirent* e = readdir(d)) {
                if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                    unlink((path_ + "/" + e->d_name).c_str());
            }
            closedir(d);
        }
        rmdir(path_.c_str());
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The library's log switched on into a private folder for the life of the
// object; Text() reads everything written so far (entries are flushed at
// once).
class LogCapture {
public:
    LogCapture() {
        VYXZEB_LogSet(false, nullptr);
        ok_ = VYXZEB_LogSet(true, dir_.path().c_str()) == 0;
        bool on = false;
        char path[128] = {};
        VYXZEB_LogGet(&on, path);
        file_ = path;
    }
    ~LogCapture() { VYXZEB_LogSet(false, nullptr); }
    bool ok() const { return ok_ && !file_.empty(); }
    const std::string& path() const { return file_; }
    std::string Text() const { return ReadFile(file_); }
    // Text written since the last call of Mark().
    std::string SinceMark() const { return Text().substr(mark_); }
    void Mark() { mark_ = Text().size(); }

private:
    TempDir dir_;
    std::string file_;
    bool ok_ = false;
    size_t mark_ = 0;
};

inline bool Contains(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

inline size_t CountOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

// Entries in /proc/self/<folder> (fd, task): for leak checks.
inline int CountEntries(const char* folder) {
    std::string path = std::string("/proc/self/") + folder;
    int n = 0;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] != '.') ++n;
        }
        closedir(d);
    }
    return n;
}

// The process's thread count once it is at most `limit`, waiting (bounded:
// 5 s) while it is above: a joined thread can stay listed for a moment
// while the kernel (or qemu) takes it down.  Above `limit` after the bound.
inline int ThreadsSettledTo(int limit) {
    int n = CountEntries("task");
    for (int i = 0; i < 500 && n > limit; ++i) {
        usleep(10000);
        n = CountEntries("task");
    }
    return n;
}

inline int CountMappings() {
    std::ifstream in("/proc/self/maps");
    std::string line;
    int n = 0;
    while (std::getline(in, line)) ++n;
    return n;
}

}  // namespace vyxtest

#endif
