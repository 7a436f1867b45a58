// The launcher: a program written only against the device files runs on the
// board under vyxsim, and a program that never ends is ended after a frame
// target, with the HDMI screen written (and rewritten while it runs, each
// time whole; black, without waiting, when no program used the board).  Bad
// options and a board that does
// not come up are refused before anything reaches a device path; the end of
// a run ends the program's whole process group, and the exit status says how
// the program ended.
#include <png.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "BoardTest.h"
#include "SimCommand.h"

#include "VcdReader.h"

namespace {

using vyxtest::binDir;

int run(const std::string& cmd, std::string& out) { return vyxtest::runCommand(cmd, out); }

class Launcher : public vyxtest::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        char templ[] = "/tmp/vyxsim-test-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
        sim = vyxtest::vyxsimCommand(dir);
    }
    bool emulated() const { return !std::string(VYX_TEST_EMULATOR).empty(); }

    // Writes a shell script into the test folder; returns its path.
    std::string script(const std::string& name, const std::string& body) {
        std::string path = dir + "/" + name;
        std::ofstream(path) << body;
        return path;
    }

    // Runs a program under vyxsim, waits (bounded) until the program wrote
    // the file "started" in the test folder, then sends vyxsim SIGTERM as a
    // user or a service manager would; returns vyxsim's exit status.
    int runThenTerminate(const std::string& program, std::string& out) {
        std::string driver = script("driver.sh", sim + " -- " + program + " &\n" +
                                                     "v=$!\n"
                                                     "i=0\n"
                                                     "while [ ! -s " +
                                                     dir +
                                                     "/started ] && [ $i -lt 600 ]; do\n"
                                                     "  sleep 0.05; i=$((i+1))\n"
                                                     "done\n"
                                                     "kill -TERM $v\n"
                                                     "wait $v\n");
        return run("/bin/sh " + driver, out);
    }

    static size_t count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }

    void TearDown() override {
        std::string out;
        run("rm -rf '" + dir + "'", out);
        BoardTest::TearDown();
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

// A typo or a bad value is refused with status 2 before anything runs: a
// mistyped option is never taken for the program.
TEST_F(Launcher, BadOptionsAreRefusedBeforeAnythingRuns) {
    const std::string marker = dir + "/ran";
    for (const char* opts : {"--frame 10",
                             "-f 1",
                             "--frames 0",
                             "--frames -1",
                             "--frames 1x",
                             "--frames 99999999999999999999999",
                             "--seconds nan",
                             "--seconds inf",
                             "--seconds -1",
                             "--seconds 0",
                             "--seconds ''",
                             "--seconds 1s",
                             "--scene ''",
                             "--scene-fps -1",
                             "--scene-fps 2x",
                             "--light nan",
                             "--seed -3",
                             "--seed x",
                             "--trigger-every 0",
                             "--hdmi x.png --hdmi-every 0",
                             "--hdmi x.png --hdmi-every nan",
                             "--hdmi x.png --hdmi-every -50",
                             "--hdmi x.png --hdmi-every 1e400",
                             "--hdmi-every 100",
                             "--poll sometimes",
                             "--poll ''"}) {
        std::string out;
        EXPECT_EQ(run(sim + " " + opts + " -- /bin/sh -c 'touch " + marker + "'", out), 2) << opts << "\n"
                                                                                           << out;
        EXPECT_NE(out.find("vyxsim: "), std::string::npos) << out;
    }
    std::string out;
    run(sim + " --frame 10 -- /bin/true", out);
    EXPECT_NE(out.find("unknown option --frame"), std::string::npos) << out;
    EXPECT_NE(out.find("usage: vyxsim"), std::string::npos) << out;
    struct stat st;
    EXPECT_NE(stat(marker.c_str(), &st), 0) << "a refused command line ran its program";
}

// Without the board in the program, the program would reach the machine's
// real device nodes: vyxsim refuses with 125 whether the library is missing,
// is no shared library, loads but is not the board, or the loader would drop
// it (a set-user-ID program).  (A program is no library either, but a
// position-independent one looks like one until the loader refuses it: the
// handshake catches that.)  The probe's --idle touches no device path,
// so nothing real is reached even while the refusal is being made.
TEST_F(Launcher, WithoutTheBoardTheRunIsRefused) {
    const std::string idle = " -- " + binDir() + "/board_probe --idle";
    struct Case {
        std::string board, says;
    };
    const Case cases[] = {
        {dir + "/missing.so", "cannot be read"},
        {script("text.so", "not a library\n"), "is not a shared library"},
        {binDir() + "/../lib/libvyxSensorQ210B.so", "did not come up"},
        {binDir() + "/board_probe", "did not come up"},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(run("VYXSIM_BOARD=" + c.board + " " + sim + idle, out), 125) << c.board << "\n" << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_EQ(out.find("virtual board active"), std::string::npos) << out;
    }
    std::string out, suid = dir + "/probe_suid";
    ASSERT_EQ(run("cp " + binDir() + "/board_probe " + suid + " && chmod 4755 " + suid, out), 0) << out;
    EXPECT_EQ(run(sim + " -- " + suid + " --idle", out), 125) << out;
    EXPECT_NE(out.find("set-user-ID"), std::string::npos) << out;
}

// One banner for the whole run, however many processes load the board.
TEST_F(Launcher, TheBannerIsShownOncePerRun) {
    std::string out;
    // In a cross build the host's shell runs without the board.
    std::string program =
        emulated() ? binDir() + "/board_probe --idle" : "/bin/sh -c '/bin/true; /bin/true; /bin/true'";
    EXPECT_EQ(run(sim + " -- " + program, out), 0) << out;
    EXPECT_EQ(count(out, "virtual board active"), 1u) << out;
}

TEST_F(Launcher, AProgramKilledByASignalGives128PlusTheSignal) {
    std::string out;
    // (Not SIGSEGV: a sanitizer runtime in the shell would catch that one.)
    EXPECT_EQ(run(sim + " -- /bin/sh -c 'kill -USR1 $$'", out), 128 + SIGUSR1) << out;
}

// SIGTERM to vyxsim ends the program and what it started in its group (here
// a child of a wrapper shell), and vyxsim reports the signal.
TEST_F(Launcher, ATerminatedRunEndsTheWholeProcessGroup) {
    std::string prog = script("prog.sh", "sleep 1000 &\necho $! > " + dir + "/started\nwait\n");
    std::string out;
    EXPECT_EQ(runThenTerminate("/bin/sh " + prog, out), 128 + SIGTERM) << out;
    std::ifstream in(dir + "/started");
    pid_t child = 0;
    ASSERT_TRUE(in >> child) << out;
    EXPECT_NE(kill(child, 0), 0) << "the wrapper's child outlived the run";
    EXPECT_EQ(errno, ESRCH);
}

// A process whose main thread has ended shows as a zombie while its other
// threads run on: it is still the program, and one that ignores SIGTERM is
// killed after the grace.  (A zombie whose last threads the kernel is still
// taking down is waited for instead: it ended, SIGKILL changes nothing.)
TEST_F(Launcher, AProgramWhoseMainThreadEndedIsStillKilledWhenItIgnoresSigterm) {
    std::string out;
    EXPECT_EQ(run(sim + " --seconds 0.2 -- " + binDir() + "/board_probe --main-thread-ends", out),
              128 + SIGKILL)
        << out;
    EXPECT_NE(out.find("ignored SIGTERM"), std::string::npos) << out;
    // Named by its pid and state (under an emulator the name is the emulator's).
    EXPECT_NE(out.find("vyxsim:   pid "), std::string::npos) << "the process left is named\n" << out;
    EXPECT_NE(out.find("zombie"), std::string::npos) << out;
}

// A program that fails while ending, or has to be killed, does not look like
// a clean run.
TEST_F(Launcher, AFailedOrForcedEndIsNotASuccess) {
    std::string failing =
        script("failing.sh", "trap 'exit 3' TERM\necho > " + dir + "/started\nwhile :; do sleep 0.1; done\n");
    std::string out;
    EXPECT_EQ(runThenTerminate("/bin/sh " + failing, out), 3) << out;
    EXPECT_NE(out.find("failed while ending"), std::string::npos) << out;

    ASSERT_EQ(remove((dir + "/started").c_str()), 0);
    std::string deaf =
        script("deaf.sh", "trap '' TERM\necho > " + dir + "/started\nwhile :; do sleep 0.1; done\n");
    out.clear();
    EXPECT_EQ(runThenTerminate("/bin/sh " + deaf, out), 128 + SIGKILL) << out;
    EXPECT_NE(out.find("ignored SIGTERM"), std::string::npos) << out;
}

// The board among other preloaded libraries: a helper library before or
// after the board in LD_PRELOAD, whose constructor calls what the board takes
// over, must leave the board working and the program running.  The program
// is the probe with --idle, which touches no device path: should the board
// not come up, nothing real is reached.

// Runs the idle probe with a preload list, natively or through the emulator.
// The board's settings reach the program: the noise is the same for the
// same seed and differs for another (a fresh program's first frame is
// always frame 1), the stamp can be switched off, and a scene that cannot be
// read is reported once while the run goes on with the test pattern.
TEST_F(Launcher, BoardSettingsReachTheProgram) {
    auto frameLine = [&](const std::string& options, const std::string& probeArgs = "") {
        std::string out;
        EXPECT_EQ(run(sim + " " + options + " -- " + binDir() + "/board_probe " + probeArgs, out), 0) << out;
        const size_t at = out.find("board_probe: ");
        return at == std::string::npos ? out : out.substr(at, out.find('\n', at) - at);
    };
    const std::string plain = frameLine(""), seeded = frameLine("--noise --seed 5");
    EXPECT_NE(plain.find("frame 1 "), std::string::npos) << plain;
    EXPECT_EQ(frameLine("--noise --seed 5"), seeded);
    EXPECT_NE(frameLine("--noise --seed 6"), seeded);
    EXPECT_NE(seeded, plain);
    EXPECT_NE(frameLine("--no-stamp", "--unstamped").find("unstamped frame"), std::string::npos);

    std::string out;
    EXPECT_EQ(run(sim + " --scene " + dir + "/missing.png -- " + binDir() + "/board_probe", out), 0) << out;
    EXPECT_EQ(count(out, "cannot read the scene"), 1u) << out;
    EXPECT_EQ(out.substr(out.find("board_probe: ")).substr(0, plain.size()), plain) << out;
}

// An application waiting on its external trigger works from the shell: a
// square wave on the trigger input, or a pulse for each SIGUSR1 to vyxsim.
TEST_F(Launcher, AnExternallyTriggeredCaptureRunsFromTheShell) {
    std::string out;
    const std::string capture = binDir() + "/vyxcam capture --trigger external0";
    EXPECT_EQ(
        run(sim + " --seconds 120 --trigger-every 100 -- " + capture + " -n 10 -o " + dir + "/f-%02d.pgm",
            out),
        0)
        << out;
    struct stat st;
    for (const char* name : {"/f-00.pgm", "/f-09.pgm"})
        EXPECT_EQ(stat((dir + name).c_str(), &st), 0) << name << out;

    // Once vyxsim shows the board's banner (it takes SIGUSR1 by then),
    // SIGUSR1 until the capture is done (bounded: 600 x 0.1 s).  Should a
    // frame not come, the trace tells where the pulses stopped: at the
    // trigger input, at the PL or at the interrupt.
    const std::string log = dir + "/signals.log", vcdPath = dir + "/signals.vcd";
    std::string driver =
        script("signals.sh", sim + " --seconds 120 --trigger-on-signal --trace " + vcdPath + " -- " +
                                 capture + " -n 2 -o " + dir + "/s-%02d.pgm 2>" + log +
                                 " &\n"
                                 "v=$!\n"
                                 "i=0\n"
                                 "while ! grep -q 'board active' " +
                                 log +
                                 " && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done\n"
                                 "i=0\n"
                                 "while kill -0 $v 2>/dev/null && [ $i -lt 600 ]; do\n"
                                 "  kill -USR1 $v; sleep 0.1; i=$((i+1))\n"
                                 "done\n"
                                 "wait $v\n");
    out.clear();
    const int status = run("/bin/sh " + driver + "; s=$?; cat " + log + "; exit $s", out);
    const bool captured = stat((dir + "/s-01.pgm").c_str(), &st) == 0;
    if (status != 0 || !captured) {
        const vcdtest::Vcd vcd = vcdtest::readVcd(vcdPath);
        out += "trace" + (vcd.error.empty() ? std::string() : " (" + vcd.error + ")") + ", rising edges:";
        for (const char* name : {"trigger_in", "exposure", "frame_written", "frame_done_irq", "frame_dropped",
                                 "buffers_full", "capture_read"})
            out += std::string(" ") + name + " " + std::to_string(vcd.when(name).size());
        out += ", ends at " + std::to_string(vcd.endTime) + "\n";
    }
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(captured) << out;
}

// ---------------------------------------------------------------- the screen file

constexpr int kScreenWidth = 1280, kScreenHeight = 720;

// The screen file as a viewer finds it at one moment.
struct ScreenRead {
    bool there = false;
    bool whole = false;                     // a complete 1280 x 720 PNG
    std::pair<ino_t, long long> version{};  // which write it is (inode, change time)
    std::vector<uint8_t> rgb;
    uint8_t at(int x, int y, int channel) const {
        return rgb[(static_cast<size_t>(y) * kScreenWidth + x) * 3 + channel];
    }
};

ScreenRead readScreen(const std::string& path) {
    ScreenRead r;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return r;
    r.there = true;
    struct stat st;
    if (fstat(fileno(f), &st) == 0)
        r.version = {st.st_ino, static_cast<long long>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_stdio(&image, f)) {
        image.format = PNG_FORMAT_RGB;
        r.rgb.resize(PNG_IMAGE_SIZE(image));
        r.whole = image.width == kScreenWidth && image.height == kScreenHeight &&
                  png_image_finish_read(&image, nullptr, r.rgb.data(), 0, nullptr);
    }
    png_image_free(&image);
    fclose(f);
    return r;
}

bool writeGrey(const std::string& path, int width, int height, uint8_t value) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height, value);
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_GRAY;
    return png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr) != 0;
}

double seconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// A command line running beside the test, its output in a file.
class Background {
public:
    Background(const std::string& cmd, const std::string& log) : m_log(log) {
        m_pid = fork();
        if (m_pid == 0) {
            execl("/bin/sh", "sh", "-c", ("exec " + cmd + " >" + log + " 2>&1").c_str(), nullptr);
            _exit(127);
        }
    }
    ~Background() {
        if (running()) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool running() {
        if (m_done || m_pid <= 0) return false;
        m_done = waitpid(m_pid, &m_status, WNOHANG) == m_pid;
        return !m_done;
    }
    // SIGTERM, then waits (bounded) for the end; its exit status, -1 when it
    // had to be killed.
    int terminate(double boundS) {
        if (running()) kill(m_pid, SIGTERM);
        const double end = seconds() + boundS;
        while (running() && seconds() < end)
            poll(nullptr, 0, 20);
        if (running()) return -1;
        return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : 128 + WTERMSIG(m_status);
    }
    std::string output() const {
        std::ifstream in(m_log);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string m_log;
    pid_t m_pid = -1;
    int m_status = 0;
    bool m_done = false;
};

// Bounds of the waits below: the show takes the library's start-up (over a
// second, several under the emulator on a loaded machine).
constexpr double kShowBoundS = 120;
constexpr int kRewritesSeen = 4;

// With --hdmi-every the screen file appears while the program still runs,
// and a viewer reading it as fast as it can while it is rewritten always
// finds a whole PNG; it shows what the program put on the screen.
TEST_F(Launcher, TheScreenFileIsRewrittenWholeWhileTheProgramRuns) {
    const std::string picture = dir + "/grey.png", screen = dir + "/screen.png";
    constexpr uint8_t kGrey = 200;
    ASSERT_TRUE(writeGrey(picture, 64, 36, kGrey));
    // vyxcam show FILE keeps the picture on screen until it is ended.
    Background shown(sim + " --seconds 600 --hdmi " + screen + " --hdmi-every 50 -- " + binDir() +
                         "/vyxcam show " + picture,
                     dir + "/run.log");
    std::set<std::pair<ino_t, long long>> versions;
    size_t reads = 0, showing = 0;
    const double end = seconds() + kShowBoundS;
    while (shown.running() && seconds() < end && (versions.size() < kRewritesSeen || showing == 0)) {
        const ScreenRead r = readScreen(screen);
        if (!r.there) {
            poll(nullptr, 0, 5);
            continue;
        }
        ++reads;
        ASSERT_TRUE(r.whole) << "read " << reads << " found a partial screen file\n" << shown.output();
        versions.insert(r.version);
        if (r.at(kScreenWidth / 2, kScreenHeight / 2, 0) == kGrey &&
            r.at(kScreenWidth / 2, kScreenHeight / 2, 2) == kGrey)
            ++showing;
    }
    EXPECT_TRUE(shown.running()) << "the program ended before the screen was seen\n" << shown.output();
    EXPECT_GE(versions.size(), static_cast<size_t>(kRewritesSeen)) << shown.output();
    EXPECT_GT(showing, 0u) << "the screen file never showed the picture\n" << shown.output();
    // A run ended by a signal to vyxsim gives 128 + that signal.
    EXPECT_EQ(shown.terminate(kShowBoundS), 128 + SIGTERM) << shown.output();
    // The final screen, and no temporary file left beside it.
    const ScreenRead last = readScreen(screen);
    ASSERT_TRUE(last.whole) << shown.output();
    EXPECT_EQ(last.at(kScreenWidth / 2, kScreenHeight / 2, 1), kGrey);
    std::string listing;
    run("ls -a " + dir, listing);
    EXPECT_EQ(listing.find(".tmp"), std::string::npos) << listing;
}

// A run in which no program touched the board has a black screen: vyxsim
// writes it at once and says so, whether the program ended by itself or
// vyxsim ended it (nobody is asked to write the screen, nothing waited for).
TEST_F(Launcher, WithoutABoardInTheRunTheScreenIsBlackAndNotWaitedFor) {
    const std::string screen = dir + "/screen.png";
    for (const std::string& options : {" --hdmi " + screen + " -- " + binDir() + "/board_probe --idle",
                                       " --seconds 0.2 --hdmi " + screen + " -- /bin/sleep 120"}) {
        unlink(screen.c_str());
        std::string out;
        EXPECT_EQ(run(sim + options, out), 0) << options << "\n" << out;
        EXPECT_NE(out.find("no program of the run used the board: the HDMI screen written to " + screen +
                           " is black"),
                  std::string::npos)
            << options << "\n"
            << out;
        const ScreenRead r = readScreen(screen);
        ASSERT_TRUE(r.whole) << options << "\n" << out;
        EXPECT_EQ(std::count(r.rgb.begin(), r.rgb.end(), 0), static_cast<long>(r.rgb.size())) << options;
    }
}

// A run the launcher ends leaves a whole trace: the board writes out what it
// holds before the program is ended.  The run is ended once the program has
// had its frame: an event, not a time (under the emulator on a loaded
// machine one second was not always enough for the frame).
TEST_F(Launcher, ARunEndedByTheLauncherLeavesAWholeTrace) {
    const std::string vcdPath = dir + "/run.vcd", framed = "board_probe: frame";
    Background traced(sim + " --seconds 600 --trace " + vcdPath + " -- " + binDir() + "/board_probe --wait",
                      dir + "/run.log");
    const double end = seconds() + kShowBoundS;
    while (traced.running() && seconds() < end && traced.output().find(framed) == std::string::npos)
        poll(nullptr, 0, 20);
    ASSERT_NE(traced.output().find(framed), std::string::npos) << traced.output();
    EXPECT_EQ(traced.terminate(kShowBoundS), 128 + SIGTERM) << traced.output();
    const vcdtest::Vcd vcd = vcdtest::readVcd(vcdPath);
    ASSERT_EQ(vcd.error, "") << traced.output();
    const int64_t soft = vcd.first("soft_trigger", 1, 0);
    ASSERT_GE(soft, 0) << traced.output();
    const int64_t irq = vcd.first("frame_done_irq", 1, soft);
    ASSERT_GE(irq, 0) << traced.output();
    EXPECT_GE(irq, vcd.first("exposure", 0, soft));
    EXPECT_GE(vcd.first("capture_read", 1, irq), irq);
    // The end of the run: written when the launcher stopped the program.
    EXPECT_GE(vcd.endTime, irq);
}

// A program that loads the board itself (no vyxsim) gets the rewrites from
// the board's variables: the file appears, whole, while the program runs.
TEST_F(Launcher, TheBoardsVariablesRewriteTheScreenWithoutTheLauncher) {
    const std::string screen = dir + "/screen.png", board = VYX_TEST_BOARD_LIBRARY;
    std::string emulator = VYX_TEST_EMULATOR;
    for (char& c : emulator)
        if (c == '|') c = ' ';
    const std::string variables = "VYX_BOARD_HDMI=" + screen + " VYXSIM_HDMI_EVERY=20 ";
    // A sanitized build: the runtime is not the first library here, on purpose.
    std::string env = "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0 " + variables;
    env += emulator.empty() ? "LD_PRELOAD=" + board + " "
                            : "QEMU_SET_ENV=LD_PRELOAD=" + board + " " + emulator + " ";
    Background probe("env " + env + binDir() + "/board_probe --wait", dir + "/probe.log");
    ScreenRead r;
    const double end = seconds() + kShowBoundS;
    while (probe.running() && seconds() < end && !(r = readScreen(screen)).there)
        poll(nullptr, 0, 5);
    EXPECT_TRUE(probe.running()) << probe.output();
    EXPECT_TRUE(r.whole) << probe.output();
    probe.terminate(kShowBoundS);
}

int runPreloaded(const std::string& list, std::string& out) {
    std::string emulator = VYX_TEST_EMULATOR;
    for (char& c : emulator)
        if (c == '|') c = ' ';
    std::string probe = binDir() + "/board_probe --idle";
    // A sanitized build: the runtime is not the first library here, on purpose.
    std::string env = "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0 ";
    env += emulator.empty() ? "LD_PRELOAD=" + list + " "
                            : "QEMU_SET_ENV=LD_PRELOAD=" + list + " " + emulator + " ";
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

// ---------------------------------------------------------------- cost and limits
// A process that never touches a board path pays nothing for the board: no
// descriptors, no mappings, no threads.  Ordinary programs therefore give the
// same output and status under vyxsim as without it, under the same limits,
// and their first open gets the same (lowest) number.
class LauncherLimits : public Launcher {
protected:
    // The program as run without the board (through the emulator in a cross build).
    std::string plain(const std::string& program) const {
        std::string emulator = VYX_TEST_EMULATOR;
        for (char& c : emulator)
            if (c == '|') c = ' ';
        return emulator.empty() ? program : emulator + " " + program;
    }
    // Standard output and status of a command under a shell limit, with
    // nothing inherited above standard error (the test runner may pass some
    // descriptors on).
    static int limited(const std::string& limit, const std::string& cmd, std::string& out) {
        return run("/bin/sh -c 'exec 3<&- 4<&- 5<&- 6<&- 7<&- 8<&- 9<&- && " + limit + " && exec " + cmd +
                       " 2>/dev/null'",
                   out);
    }
};

TEST_F(LauncherLimits, OrdinaryProgramsRunAsWithoutTheBoard) {
    std::vector<std::string> programs = {binDir() + "/board_probe --first-open"};
    std::vector<std::string> limits = {"ulimit -n 12"};
    if (!emulated()) programs.push_back("/bin/echo ordinary output");
#ifndef __SANITIZE_ADDRESS__
    // The emulator, and a sanitizer's shadow memory in vyxsim itself, reserve
    // more address space than this.
    if (!emulated()) limits.push_back("ulimit -v 200000");
#endif
    for (const auto& limit : limits) {
        for (const auto& program : programs) {
            std::string without, with;
            int plainStatus = limited(limit, plain(program), without);
            if (plainStatus != 0) {
                ADD_FAILURE() << program << " does not run under " << limit << " even without the board";
                continue;
            }
            EXPECT_EQ(limited(limit, sim + " -- " + program, with), plainStatus) << limit << ": " << program;
            EXPECT_EQ(with, without) << limit << ": " << program;
        }
    }
    // vyxsim's pipes are out of the program's way.
    std::string out;
    ASSERT_EQ(limited("true", sim + " -- " + binDir() + "/board_probe --first-open", out), 0);
    EXPECT_EQ(out, "board_probe: first open 3\n");
}

// A program that needs the board where it cannot be built gets an error from
// its call, said once, instead of a death before main().
TEST_F(LauncherLimits, AProgramThatCannotHaveTheBoardGetsAnErrorFromItsCall) {
    std::string out;
    int rc = run("/bin/sh -c 'exec 3<&- 4<&- 5<&- 6<&- 7<&- 8<&- 9<&- && ulimit -n 12 && exec " + sim +
                     " -- " + binDir() + "/board_probe'",
                 out);
    EXPECT_EQ(rc, 1) << out;
    EXPECT_EQ(count(out, "cannot build the virtual board"), 1u) << out;
    EXPECT_NE(out.find("board_probe: cannot open the SPI bus"), std::string::npos) << out;
}

// The control settings reach the program through a wrapper shell: the
// shell's own copy of the board never uses it and leaves them alone.
TEST_F(LauncherLimits, ControlSettingsReachTheProgramThroughAWrapperShell) {
    if (emulated()) GTEST_SKIP() << "a host shell starts emulated programs only through binfmt_misc";
    std::string out, png = dir + "/screen.png";
    char bin[PATH_MAX];
    ASSERT_NE(realpath(binDir().c_str(), bin), nullptr);
    for (const char* wrap : {"exec ", "cd / && "}) {
        out.clear();
        int rc = run(sim + " --frames 1 --seconds 120 --hdmi " + png + " -- /bin/sh -c '" + wrap + bin +
                         "/board_probe --wait'",
                     out);
        EXPECT_EQ(rc, 0) << wrap << "\n" << out;
        EXPECT_NE(out.find("frame target reached"), std::string::npos) << wrap << "\n" << out;
        struct stat st;
        EXPECT_EQ(stat(png.c_str(), &st), 0) << wrap << "\n" << out;
        unlink(png.c_str());
    }
}
