// SimCommand.h - running programs under the launcher from a board test.
//
// The launcher tests and the escape suite start `vyxsim` as a child, under
// qemu in the armhf build (VYX_TEST_EMULATOR, its words separated by '|'),
// with a sandbox root in the test's own folder.
#ifndef VYX_TEST_SIM_COMMAND_H
#define VYX_TEST_SIM_COMMAND_H

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef VYX_TEST_EMULATOR
#define VYX_TEST_EMULATOR ""
#endif

namespace vyxtest {

// Folder of the test binaries (VYX_TEST_BIN, else the working directory).
inline std::string binDir() {
    if (const char* env = getenv("VYX_TEST_BIN")) return env;
    return ".";
}

// The command line that starts vyxsim with its sandbox in dir/root.
inline std::string vyxsimCommand(const std::string& dir) {
    std::string emulator = VYX_TEST_EMULATOR;
    for (char& c : emulator)
        if (c == '|') c = ' ';
    return (emulator.empty() ? "" : emulator + " ") + binDir() + "/vyxsim --root " + dir + "/root";
}

// Runs a command line; returns its exit status and appends its output
// (stdout and stderr) to out.
inline int runCommand(const std::string& cmd, std::string& out) {
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vyxtest

#endif
