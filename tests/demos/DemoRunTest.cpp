// End-to-end runs of the real demo binaries on the virtual board, through
// the launcher: vyxsim --root DIR --frames N [--hdmi FILE] -- DEMO ARGS.
// The launcher ends the demo cleanly after N delivered frames; every run is
// also bounded in time here.
#include <gtest/gtest.h>

#include "TestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr auto kRunBound = std::chrono::seconds(240);   // two runs fit the suite's time-out

#ifdef VYX_TEST_SANITIZED
// Long enough for the allocator to be exercised on every path of the loop.
constexpr int kLongRunFrames = 300;
#else
constexpr int kLongRunFrames = 40;
#endif

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

using vyxtest::ReadFile;

bool Exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

size_t CountOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

uint32_t Le32(const std::string& s, size_t at)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

struct RunResult {
    bool bFinished = false;   // ended within the bound
    int nStatus = -1;         // waitpid status
    std::string out;
    std::string err;
};

class DemoRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_bin = Env("VYX_TEST_BIN");
        ASSERT_FALSE(m_bin.empty()) << "VYX_TEST_BIN is not set (run through ctest)";
        ASSERT_TRUE(Exists(m_bin + "/vyxsim")) << "the launcher is not built: " << m_bin << "/vyxsim";
        char templ[] = "/tmp/vyx-demo-run-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        m_dir = templ;
        m_root = m_dir + "/root";
    }

    void TearDown() override
    {
        if (!m_dir.empty() && !HasFailure()) {
            const std::string cmd = "rm -rf '" + m_dir + "'";
            EXPECT_EQ(std::system(cmd.c_str()), 0);
        }
    }

    // Runs the launcher with the given arguments, output into files, and
    // waits for it within kRunBound (killed when it overruns).
    RunResult Launch(const std::vector<std::string>& simArgs)
    {
        std::vector<std::string> argv;
        // In a cross build the launcher is a board binary: prefix the
        // emulator the test itself runs under.
        std::istringstream emulator(Env("VYX_TEST_EMULATOR"));
        for (std::string word; emulator >> word;) argv.push_back(word);
        argv.push_back(m_bin + "/vyxsim");
        argv.insert(argv.end(), simArgs.begin(), simArgs.end());
        std::vector<char*> cargv;
        for (auto& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);

        const std::string outPath = m_dir + "/stdout.txt";
        const std::string errPath = m_dir + "/stderr.txt";
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        const int rc = posix_spawnp(&pid, cargv[0], &fa, nullptr, cargv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        RunResult r;
        if (rc != 0) {
            ADD_FAILURE() << "posix_spawnp " << cargv[0] << ": " << std::strerror(rc);
            return r;
        }
        auto waited = std::async(std::launch::async, [pid] {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return status;
        });
        if (waited.wait_for(kRunBound) == std::future_status::ready) {
            r.bFinished = true;
            r.nStatus = waited.get();
        } else {
            kill(pid, SIGKILL);
            r.nStatus = waited.get();
        }
        r.out = ReadFile(outPath);
        r.err = ReadFile(errPath);
        return r;
    }

    static void ExpectCleanEnd(const RunResult& r)
    {
        EXPECT_TRUE(r.bFinished) << "the bounded run did not end; stderr:\n" << r.err;
        EXPECT_TRUE(WIFEXITED(r.nStatus) && WEXITSTATUS(r.nStatus) == 0)
            << "status " << r.nStatus << "; stderr:\n" << r.err;
        for (const char* bad : {"AddressSanitizer", "LeakSanitizer", "runtime error:"}) {
            EXPECT_EQ(r.err.find(bad), std::string::npos) << r.err;
        }
    }

    std::string m_bin;
    std::string m_dir;
    std::string m_root;
};

TEST_F(DemoRun, BmpDemoKeepsARingOfTwentyFilesAndShowsTheFrames)
{
    const std::string png = m_dir + "/hdmi.png";
    const RunResult r = Launch({"--root", m_root, "--frames", "24", "--hdmi", png, "--",
                                m_bin + "/bmp_demo"});
    ExpectCleanEnd(r);
    const size_t processed = CountOf(r.out, "===MyProcessData \r\n");
    ASSERT_GE(processed, 21u) << "the ring must have wrapped; stdout:\n" << r.out;

    // Exactly the twenty ring names, Failed20 and up never.  (Probed by
    // name: a 32-bit readdir cannot always list a host folder.)
    const std::string data = m_root + "/picture/data";
    for (int i = 0; i < 100; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "/Failed%02d.bmp", i);
        EXPECT_EQ(Exists(data + name), i < 20) << name;
    }

    // Each file is a whole 600 x 480 grey frame (the default field of view)
    // carrying the per-frame analysis: the centred AOI (150, 120, 300, 240)
    // outlined in white, the top-left 320 x 240 binarised.
    const std::string bmp = ReadFile(data + "/Failed01.bmp");
    ASSERT_EQ(bmp.size(), 1078u + 600u * 480u);
    ASSERT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(Le32(bmp, 18), 600u);
    EXPECT_EQ(static_cast<int32_t>(Le32(bmp, 22)), -480);
    auto px = [&](int x, int y) { return static_cast<uint8_t>(bmp[1078 + static_cast<size_t>(y) * 600 + x]); };
    for (int x = 150; x < 450; ++x) {
        ASSERT_EQ(px(x, 120), 255) << x;
        ASSERT_EQ(px(x, 359), 255) << x;
    }
    for (int y = 120; y < 360; ++y) {
        ASSERT_EQ(px(150, y), 255) << y;
        ASSERT_EQ(px(449, y), 255) << y;
    }
    for (int y = 0; y < 240; ++y) {
        for (int x = 0; x < 320; ++x) {
            const uint8_t v = px(x, y);
            ASSERT_TRUE(v == 0 || v == 255) << x << "," << y << " = " << int(v);
        }
    }

    // The emulated HDMI screen was saved as a PNG picture.
    const std::string screen = ReadFile(png);
    ASSERT_GE(screen.size(), 8u) << png;
    EXPECT_EQ(screen.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

TEST_F(DemoRun, CaptureDemoRunsCleanlyForManyFrames)
{
    // A 640 x 400 field of view shown in a 640 x 400 window.
    const RunResult r = Launch({"--root", m_root, "--frames", std::to_string(kLongRunFrames), "--",
                                m_bin + "/capture_demo", "0", "320", "160", "640", "400", "640", "400"});
    ExpectCleanEnd(r);
    EXPECT_EQ(r.out.find("VYXZEB_Init failed"), std::string::npos) << r.out;
}

}  // namespace
