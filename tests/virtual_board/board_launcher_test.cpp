// The launcher: a program written only against the device files runs on the
// board under vyxsim, and a program that never ends is ended after a frame
// target, with the HDMI screen written.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#ifndef VYX_TEST_EMULATOR
#define VYX_TEST_EMULATOR ""
#endif

namespace {

std::string binDir() {
    if (const char* env = getenv("VYX_TEST_BIN")) return env;
    return ".";
}

// Runs a command line; returns its exit status and output (stdout and stderr).
int run(const std::string& cmd, std::string& out) {
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Launcher : public testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/vyxsim-test-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
        std::string emulator = VYX_TEST_EMULATOR;
        for (char& c : emulator)
            if (c == '|') c = ' ';
        sim = (emulator.empty() ? "" : emulator + " ") + binDir() + "/vyxsim --root " + dir + "/root";
    }
    void TearDown() override {
        std::string out;
        run("rm -rf '" + dir + "'", out);
    }
    std::string dir, sim;
};

TEST_F(Launcher, ADeviceFileProgramGetsItsFrame) {
    std::string out;
    int rc = run(sim + " -- " + binDir() + "/board_probe", out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("board_probe: frame"), std::string::npos) << out;
    EXPECT_NE(out.find("virtual board active"), std::string::npos) << out;
    struct stat st;
    EXPECT_EQ(stat((dir + "/root/picture/sd").c_str(), &st), 0);
    EXPECT_EQ(stat((dir + "/root/picture/data").c_str(), &st), 0);
}

TEST_F(Launcher, AnEndlessProgramEndsAfterTheFrameTargetWithTheScreenSaved) {
    std::string out, png = dir + "/screen.png";
    // --seconds bounds the run should the frame never come.
    int rc = run(sim + " --frames 1 --seconds 120 --hdmi " + png + " -- " + binDir() +
                     "/board_probe --wait",
                 out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("frame target reached"), std::string::npos) << out;
    struct stat st;
    ASSERT_EQ(stat(png.c_str(), &st), 0) << out;
    EXPECT_GT(st.st_size, 0);
}

TEST_F(Launcher, AnEndlessProgramEndsAfterItsTime) {
    std::string out;
    int rc = run(sim + " --seconds 0.5 -- " + binDir() + "/board_probe --wait", out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("time is up"), std::string::npos) << out;
}

// AddressSanitizer refuses a process whose first preloaded library is not its
// runtime; the launcher sees the runtime among the program's libraries and
// preloads it ahead of the board, so the program needs no options.
TEST_F(Launcher, AnAddressSanitizedProgramRunsWithoutOptions) {
    std::string out;
    // LeakSanitizer cannot stop the world under qemu.
    std::string env = std::string(VYX_TEST_EMULATOR).empty() ? "" : "ASAN_OPTIONS=detect_leaks=0 ";
    int rc = run("env -u ASAN_OPTIONS " + env + sim + " -- " + binDir() + "/board_probe_asan", out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("board_probe: frame"), std::string::npos) << out;
    EXPECT_EQ(out.find("does not come first"), std::string::npos) << out;
}

TEST_F(Launcher, AProgramsOwnFailureIsPassedOn) {
    std::string out;
    EXPECT_EQ(run(sim + " -- /bin/sh -c 'exit 7'", out), 7) << out;
    EXPECT_NE(run(sim + " --frames 0 -- /bin/true", out), 0);
}

}  // namespace
