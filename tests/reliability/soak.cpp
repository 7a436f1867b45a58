// soak.cpp - long-running capture on the virtual board.
//
// Captures and releases frames in continuous mode at the highest rate the
// board models (shortest exposure, a narrow window) for a given time, and
// checks every frame and, at each report, the process:
//   - frames: the board stamps each exposed frame with a counter.  Counters
//     must rise; a counter seen twice or going back is a duplicate, and a
//     gap the PL did not drop a frame for (no free buffer) is a frame the
//     library lost;
//   - captures: in continuous mode at hundreds of frames per second a
//     capture that times out means an interrupt went missing;
//   - the process: resident memory, descriptors and threads must not grow
//     after the first report.
// Each report is one line (or one JSON object with --json); the exit status
// is 0 when nothing was found, 1 otherwise, 2 for a bad command line.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "ProcessCensus.h"
#include "VYXZebApi.h"
#include "VyxModel.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    double seconds = 3600;
    double reportSeconds = 60;
    unsigned long rows = 64;
    long memoryGrowthKiB = 16 * 1024;
    bool json = false;
};

std::atomic<bool> g_bStop{false};
void OnStopSignal(int) { g_bStop.store(true); }

// Frames as the stamps show them.
struct FrameTally {
    uint64_t captured = 0;
    uint64_t duplicates = 0;   // counter not above the previous one
    uint64_t gaps = 0;         // counters skipped between two captures
    uint64_t unstamped = 0;    // no valid stamp in the frame
    uint64_t timeouts = 0;     // captures that found no frame in time
    uint64_t failures = 0;     // any other capture or release result
    uint32_t last = 0;
    bool haveLast = false;

    void Frame(const unsigned char* frame) {
        uint32_t counter = 0;
        if (!vb::modelFrameCounter(frame, &counter)) {
            ++unstamped;
            return;
        }
        ++captured;
        if (haveLast) {
            if (static_cast<int32_t>(counter - last) <= 0) ++duplicates;
            else gaps += counter - last - 1;
        }
        last = counter;
        haveLast = true;
    }
};

struct Soak {
    Options opt;
    FrameTally tally;
    uint64_t droppedAtStart = 0;
    vyxtest::Census baseline;   // after the first report
    bool haveBaseline = false;
    bool findings = false;

    int Setup() {
        if (VYXZEB_Init() != 0) return Fail("VYXZEB_Init failed");
        unsigned long ulMin = 0, ulMax = 0;
        if (VYXZEB_GetExposureLinesRange(0, &ulMin, &ulMax) != 0 || VYXZEB_SetExposureLines(0, ulMin) != 0)
            return Fail("cannot set the shortest exposure");
        if (VYXZEB_SetCaptureFieldOfView(0, 0, 0, 1280, opt.rows) != 0) return Fail("cannot set the window");
        if (VYXZEB_CaptureSetTimeOut(0, 1000) != 0 || VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_CONTINUOUS) != 0)
            return Fail("cannot start continuous acquisition");
        droppedAtStart = vb::modelCounters().framesDropped;
        return 0;
    }

    int Fail(const char* what) {
        fprintf(stderr, "soak: %s\n", what);
        return 1;
    }

    void CaptureOne() {
        unsigned char* frame = nullptr;
        const int ret = VYXZEB_CaptureData(0, &frame);
        if (ret == VYXZEB_RET_CAPTURE_TIMEOUT) {
            ++tally.timeouts;
            return;
        }
        if (ret != 0 || !frame) {
            ++tally.failures;
            return;
        }
        tally.Frame(frame);
        if (VYXZEB_ReleaseBuffer(0) != 0) ++tally.failures;
    }

    // Frames the PL dropped since the start: they account for gaps.
    uint64_t Dropped() const { return vb::modelCounters().framesDropped - droppedAtStart; }
    uint64_t Lost() const {
        const uint64_t dropped = Dropped();
        return tally.gaps > dropped ? tally.gaps - dropped : 0;
    }

    void Report(double elapsed, uint64_t framesBefore, double interval) {
        const vyxtest::Census now = vyxtest::TakeCensus();
        if (!haveBaseline) {
            baseline = now;
            haveBaseline = true;
        }
        const long growth = now.rssKiB - baseline.rssKiB;
        const bool bad = tally.duplicates || tally.unstamped || tally.timeouts || tally.failures || Lost() ||
                         now.descriptors != baseline.descriptors || now.threads != baseline.threads ||
                         growth > opt.memoryGrowthKiB;
        findings = findings || bad;
        const double fps = interval > 0 ? static_cast<double>(tally.captured - framesBefore) / interval : 0;
        if (opt.json) {
            nlohmann::json j = {{"elapsed_s", elapsed},   {"frames", tally.captured}, {"fps", fps},
                                {"pl_dropped", Dropped()}, {"lost", Lost()},           {"duplicates", tally.duplicates},
                                {"unstamped", tally.unstamped}, {"timeouts", tally.timeouts},
                                {"failures", tally.failures},  {"rss_kib", now.rssKiB},
                                {"descriptors", now.descriptors}, {"threads", now.threads}, {"ok", !bad}};
            printf("%s\n", j.dump().c_str());
        } else {
            printf("%8.0f s  frames %10llu  %7.1f fps  PL dropped %6llu  lost %llu  dup %llu  unstamped %llu  "
                   "timeouts %llu  failures %llu  rss %ld KiB (%+ld)  fds %d  threads %d  %s\n",
                   elapsed, static_cast<unsigned long long>(tally.captured), fps,
                   static_cast<unsigned long long>(Dropped()), static_cast<unsigned long long>(Lost()),
                   static_cast<unsigned long long>(tally.duplicates),
                   static_cast<unsigned long long>(tally.unstamped), static_cast<unsigned long long>(tally.timeouts),
                   static_cast<unsigned long long>(tally.failures), now.rssKiB, growth, now.descriptors,
                   now.threads, bad ? "FOUND" : "ok");
        }
        fflush(stdout);
    }

    int Run() {
        if (Setup() != 0) return 1;
        const auto start = Clock::now();
        const auto end = start + std::chrono::duration<double>(opt.seconds);
        auto nextReport = start + std::chrono::duration<double>(opt.reportSeconds);
        auto lastReport = start;
        uint64_t framesAtReport = 0;
        for (;;) {
            const auto now = Clock::now();
            const bool bDone = now >= end || g_bStop.load();
            if (now >= nextReport || bDone) {
                Report(std::chrono::duration<double>(now - start).count(), framesAtReport,
                       std::chrono::duration<double>(now - lastReport).count());
                framesAtReport = tally.captured;
                lastReport = now;
                nextReport = now + std::chrono::duration<double>(opt.reportSeconds);
            }
            if (bDone) break;
            CaptureOne();
        }
        if (VYXZEB_UnInit() != 0) return Fail("VYXZEB_UnInit failed");
        return findings ? 1 : 0;
    }
};

}  // namespace

int main(int argc, char** argv) {
    Soak soak;
    CLI::App app{"Long-running capture on the virtual board: frame loss and duplication, memory, descriptors "
                 "and threads, reported at intervals"};
    app.add_option("-s,--seconds", soak.opt.seconds, "how long to capture")->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("-r,--report", soak.opt.reportSeconds, "seconds between reports")->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("--rows", soak.opt.rows, "rows of the sensor window (fewer rows: a higher frame rate)")
        ->check(CLI::Range(16ul, 1024ul))->capture_default_str();
    app.add_option("--memory-growth", soak.opt.memoryGrowthKiB,
                   "resident memory growth after the first report that counts as a finding, KiB")
        ->check(CLI::NonNegativeNumber)->capture_default_str();
    app.add_flag("--json", soak.opt.json, "one JSON object per report");
    CLI11_PARSE(app, argc, argv);

    struct sigaction sa = {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    return soak.Run();
}
