// The board among other preloaded libraries: a helper library before or
// after the board in LD_PRELOAD, whose constructor calls what the board takes
// over, must leave the board working and the program running.  The program
// is the probe with --idle, which touches no device path: should the board
// not come up, nothing real is reached.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#ifndef VYX_TEST_EMULATOR
#define VYX_TEST_EMULATOR ""
#endif

namespace {

int run(const std::string& cmd, std::string& out) {
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the idle probe with a preload list, natively or through the emulator.
int runPreloaded(const std::string& list, std::string& out) {
    std::string emulator = VYX_TEST_EMULATOR;
    for (char& c : emulator)
        if (c == '|') c = ' ';
    const char* bin = getenv("VYX_TEST_BIN");
    std::string probe = std::string(bin ? bin : ".") + "/board_probe --idle";
    // A sanitized build: the runtime is not the first library here, on purpose.
    std::string env = "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0 ";
    env += emulator.empty() ? "LD_PRELOAD=" + list + " " : "QEMU_SET_ENV=LD_PRELOAD=" + list + " " + emulator + " ";
    return run("env " + env + probe, out);
}

TEST(Preload, TheBoardWorksInEitherOrderWithAnotherPreloadedLibrary) {
    const std::string board = VYX_TEST_BOARD_LIBRARY, helper = VYX_TEST_PRELOAD_HELPER;
    for (const std::string& list : {helper + ":" + board, board + ":" + helper}) {
        std::string out;
        EXPECT_EQ(runPreloaded(list, out), 0) << list << "\n" << out;
        EXPECT_NE(out.find("board_preload_helper: loaded"), std::string::npos) << list << "\n" << out;
        EXPECT_NE(out.find("virtual board active"), std::string::npos) << list << "\n" << out;
        EXPECT_EQ(out.find("cannot be preloaded"), std::string::npos) << list << "\n" << out;
    }
}

}  // namespace
