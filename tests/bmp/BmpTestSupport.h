// BmpTestSupport.h - helpers of the BMP writer's tests: board paths and
// the host files behind them in the board's sandbox.
#ifndef VYX_TESTS_BMP_SUPPORT_H
#define VYX_TESTS_BMP_SUPPORT_H

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BoardTest.h"
#include "VYXZebApi.h"
#include "VyxBoard.h"

namespace bmptest {

inline std::string Host(const std::string& boardPath) { return vb::sandboxPath(boardPath); }

inline std::string ReadHost(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteHost(const std::string& hostPath, const std::string& text) {
    std::ofstream(hostPath, std::ios::binary) << text;
}

inline bool Exists(const std::string& hostPath) {
    struct stat st;
    return lstat(hostPath.c_str(), &st) == 0;
}

// Names in a sandbox folder, sorted.
inline std::vector<std::string> Listing(const std::string& boardFolder) {
    std::vector<std::string> names;
    DIR* d = opendir(Host(boardFolder).c_str());
    if (!d) {
        ADD_FAILURE() << "cannot list " << boardFolder;
        return names;
    }
    errno = 0;
    while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    EXPECT_EQ(0, errno) << "listing " << boardFolder;
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// The id of a process that has ended (and been reaped), for temporary files
// an ended process left behind.
inline pid_t EndedProcess() {
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    int status = 0;
    waitpid(pid, &status, 0);
    return pid;
}

// Removes everything in a sandbox folder, sub-folders included.
inline void EmptyFolder(const std::string& boardFolder) {
    for (const std::string& n : Listing(boardFolder)) {
        const std::string p = Host(boardFolder + n);
        if (unlink(p.c_str()) == 0) continue;
        EmptyFolder(boardFolder + n + "/");
        rmdir(p.c_str());
    }
}

// A fixture whose tests share one initialised device per suite
// (VYXZEB_Init takes over a second); each test starts on a reset board and
// leaves no descriptor or mapping of its own open (BoardTest.h).
class SharedDeviceTest : public vyxtest::BoardTest {
protected:
    static void SetUpTestSuite() { s_init = VYXZEB_Init(); }
    static void TearDownTestSuite() {
        if (s_init == 0) VYXZEB_UnInit();
        s_init = -1;
    }
    static inline int s_init = -1;
};

}  // namespace bmptest

#endif
