// Capture loop on the virtual board (Google Benchmark; not a test).
//
// VYXZEB_CaptureData + VYXZEB_ReleaseBuffer in continuous mode at five
// settings of the field of view and the exposure, from the start-up
// 1280 x 1024 at 25 ms down to 160 x 128 at the shortest exposure the sensor
// takes.  Per point it reports, against the frame rate the board's sensor
// model gives for the same settings:
//   delivered / modelled   frames the loop received per second over the
//                          sensor's rate: 1.0 means neither the library nor
//                          the board loses a frame (target 0.99);
//   board CPU / frame period  the board's own CPU time per frame (its PL
//                          thread: frame timing, copying the pixels into the
//                          buffer, the interrupt) as a share of the frame
//                          period;
//   render / frame period  rendering one frame's pixels afresh (what a new
//                          setting costs once) as a share of the frame
//                          period (target: at most 10 %), the mean of
//                          kFreshRenders renders after the timed loop, each
//                          forced by restarting the scene;
//   caller CPU per frame   the library's own work per frame on the calling
//                          thread (the capture is zero-copy);
//   latency                from the end of a frame's readout to the capture
//                          returning it (median, 99th percentile, maximum);
//   polling                the board's polling window and the time the
//                          program's threads spent polling per frame
//                          (virtual_board/README.md: where a machine wakes
//                          sleeping threads too late, the board polls);
//   longest gap            the longest time between two frames the loop
//                          received: a gap longer than the four buffers'
//                          worth of frames is where frames were dropped;
//   others' CPU, steal     what the rest of the machine did meanwhile: CPU
//                          time of other processes and time the host took
//                          the virtual CPUs away, as shares of all CPUs.
//                          The target holds for an otherwise idle machine.
// Each point runs kRepetitions times; the run with the median ratio gives
// every figure of the point (a few milliseconds the host takes the virtual
// CPUs away cost one run a fraction of a percent of its frames), and --json
// also lists each run's ratio.
// With --noise the sensor noise is on for the whole run (every frame gets
// it, copied or fresh), and each point also reports
//   noise / frame period   the noise's CPU time per frame as a share of the
//                          frame period;
//   render + noise / frame period  a fresh frame with noise.
// With --json the same is printed as one JSON object (the table goes to
// standard error); bench/README.md lists the figures.
//
//   cmake -DVYX_BUILD_BENCH=ON ... && ninja bench_capture && bin/bench_capture [--noise] [--json]
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "VYXZebApi.h"
#include "VyxBoard.h"
#include "VyxModel.h"

namespace {

constexpr unsigned long kArrayWidth = 1280, kArrayHeight = 1024;
constexpr double kDeliveredTarget = 0.99;
constexpr double kShareTarget = 0.10;
constexpr long kShortestExposure = 0;  // exposure argument: the sensor's minimum
constexpr int kFreshRenders = 20;      // fresh renders measured per point
constexpr int kRepetitions = 3;        // timed runs per point; the median one is reported
constexpr uint64_t kNoiseSeed = 1;

// --noise: the sensor noise is on for the whole run.
bool g_noise = false;

struct Point {
    long width = 0, height = 0, exposureUs = 0;
    double exposureMs = 0;  // as set
    double modelledFps = 0;
    double deliveredFps = 0;
    double callerCpuUs = 0;  // per delivered frame
    double boardCpuUs = 0;   // per frame the sensor produced
    double renderUs = -1;    // one fresh render, -1 when none happened
    double noiseUs = -1;     // the noise of one frame, -1 without --noise
    double framePeriodUs = 0;
    double longestGapMs = 0;  // between two frames received
    // From frame done to received; -1 when not measured.
    double latencyP50Us = -1, latencyP99Us = -1, latencyMaxUs = -1;
    double pollWindowUs = 0;   // the board's polling window as the loop ended (0: it slept)
    double programPollUs = 0;  // per frame, the program's threads polling for it
    double othersCpu = 0;      // other processes' CPU time, share of all CPUs
    double steal = 0;          // time the host ran something else, share of all CPUs
    long frames = 0, failures = 0, dropped = 0;
    std::vector<double> runRatios;  // delivered / modelled of each timed run, in order

    double Ratio() const { return modelledFps > 0 ? deliveredFps / modelledFps : 0; }
};

// The machine's CPU time from /proc/stat and this process's own, in seconds.
struct MachineCpu {
    double busy = 0, steal = 0, self = 0;
    std::chrono::steady_clock::time_point at;
};

MachineCpu ReadMachineCpu()
{
    MachineCpu m;
    m.at = std::chrono::steady_clock::now();
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    std::ifstream stat("/proc/stat");
    std::string cpu;
    unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    if (stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal && cpu == "cpu") {
        m.busy = static_cast<double>(user + nice + system + irq + softirq) / tick;
        m.steal = static_cast<double>(steal) / tick;
    }
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    m.self = static_cast<double>(self.ru_utime.tv_sec + self.ru_stime.tv_sec) +
             static_cast<double>(self.ru_utime.tv_usec + self.ru_stime.tv_usec) * 1e-6;
    return m;
}

// Latency of each frame the loop received: from the moment the sensor's
// readout ended (the board's clock, which is the steady clock) to the
// moment the capture returned it.  The frame's counter comes from its stamp;
// in continuous mode frame n is done n - m periods after frame m, so one
// frame of the board's log dates them all.
class FrameLatency {
public:
    FrameLatency() { m_received.reserve(kMaxFrames); }

    void Received(const unsigned char* frame, std::chrono::steady_clock::time_point at)
    {
        uint32_t counter = 0;
        if (m_received.size() < kMaxFrames && vb::modelFrameCounter(frame, &counter))
            m_received.push_back(
                {counter,
                 std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count()});
    }

    void Summarise(int64_t periodNs, Point& p) const
    {
        const std::vector<vb::ModelFrame> log = vb::modelFrames();
        if (log.empty() || m_received.empty())
            return;
        const vb::ModelFrame& ref = log.back();
        std::vector<double> us;
        us.reserve(m_received.size());
        for (const auto& r : m_received) {
            const int64_t frames = static_cast<int64_t>(r.first) - static_cast<int64_t>(ref.counter);
            us.push_back(static_cast<double>(r.second - (ref.doneNs + frames * periodNs)) / 1e3);
        }
        std::sort(us.begin(), us.end());
        const auto at = [&](double q) {
            return us[static_cast<size_t>(q * static_cast<double>(us.size() - 1))];
        };
        p.latencyP50Us = at(0.50);
        p.latencyP99Us = at(0.99);
        p.latencyMaxUs = us.back();
    }

private:
    static constexpr size_t kMaxFrames = 1 << 17;
    std::vector<std::pair<uint32_t, int64_t>> m_received;  // counter, steady clock in ns
};

// Others' CPU and steal between two readings, as shares of all CPUs.
void MachineShares(const MachineCpu& a, const MachineCpu& b, Point& p)
{
    const double cpus = static_cast<double>(sysconf(_SC_NPROCESSORS_ONLN));
    const double span = std::chrono::duration<double>(b.at - a.at).count() * cpus;
    if (span <= 0)
        return;
    p.othersCpu = std::max(0.0, (b.busy - a.busy) - (b.self - a.self)) / span;
    p.steal = (b.steal - a.steal) / span;
}

// Every run of each point, in order: Google Benchmark first runs a point
// with growing iteration counts until one takes the minimum time, which is
// the first timed run; the other timed runs follow.
std::map<std::vector<long>, std::vector<Point>> g_runs;

// Per point, the timed run with the median delivered/modelled ratio, with
// the ratios of all timed runs.
std::map<std::vector<long>, Point> MedianPoints()
{
    std::map<std::vector<long>, Point> out;
    for (const auto& entry : g_runs) {
        const std::vector<Point>& runs = entry.second;
        std::vector<Point> timed(runs.end() - std::min<size_t>(runs.size(), kRepetitions), runs.end());
        std::vector<double> ratios;
        for (const Point& p : timed)
            ratios.push_back(p.Ratio());
        std::sort(timed.begin(), timed.end(),
                  [](const Point& a, const Point& b) { return a.Ratio() < b.Ratio(); });
        Point median = timed[timed.size() / 2];
        median.runRatios = ratios;
        out[entry.first] = median;
    }
    return out;
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Field of view centred on the array, then the exposure (0: the shortest).
float Configure(unsigned long width, unsigned long height, long exposureUs)
{
    VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE);
    VYXZEB_SetCaptureFieldOfView(0, (kArrayWidth - width) / 2, (kArrayHeight - height) / 2, width, height);
    float exposureMs = static_cast<float>(exposureUs) / 1000.0f;
    if (exposureUs == kShortestExposure) {
        float shortest = 0, longest = 0;
        VYXZEB_GetExposureTimeRange(0, &shortest, &longest);
        exposureMs = shortest;
    }
    VYXZEB_SetExposureTime(0, exposureMs);
    VYXZEB_GetExposureTime(0, &exposureMs);
    VYXZEB_CaptureSetTimeOut(0, 2000);
    return exposureMs;
}

// Frames rendered afresh at the point's settings: the scene restarts before
// each capture, so its next frame is rendered, not copied.  Mean CPU time of
// one render in microseconds, -1 when none happened.
double FreshRenderUs()
{
    const vb::ModelCounters before = vb::modelCounters();
    for (int i = 0; i < kFreshRenders; ++i) {
        vb::modelSetSceneFps(0);
        unsigned char* frame = nullptr;
        if (VYXZEB_CaptureData(0, &frame) == 0)
            VYXZEB_ReleaseBuffer(0);
    }
    const vb::ModelCounters after = vb::modelCounters();
    const uint64_t rendered = after.framesRendered - before.framesRendered;
    if (rendered == 0)
        return -1;
    return static_cast<double>(after.renderNs - before.renderNs) / 1e3 / static_cast<double>(rendered);
}

void BM_CaptureRelease(benchmark::State& state)
{
    Point p;
    p.width = state.range(0);
    p.height = state.range(1);
    p.exposureUs = state.range(2);
    p.exposureMs =
        Configure(static_cast<unsigned long>(p.width), static_cast<unsigned long>(p.height), p.exposureUs);
    const vb::ModelTiming timing = vb::modelSensorTiming();
    p.framePeriodUs = static_cast<double>(timing.framePeriodNs) / 1e3;
    p.modelledFps = 1e9 / static_cast<double>(timing.framePeriodNs);
    // A fresh scene: the run's first frame is rendered afresh, the others
    // copied while the settings stay.
    vb::modelUsePattern();
    const vb::ModelCounters before = vb::modelCounters();
    VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_CONTINUOUS);

    double cpu = 0;
    FrameLatency latency;
    const MachineCpu machineStart = ReadMachineCpu();
    const auto start = std::chrono::steady_clock::now();
    auto lastFrame = start;
    for (auto _ : state) {
        const double cpuStart = ThreadCpuSeconds();
        unsigned char* frame = nullptr;
        const int ret = VYXZEB_CaptureData(0, &frame);
        VYXZEB_ReleaseBuffer(0);
        cpu += ThreadCpuSeconds() - cpuStart;
        if (ret == 0) {
            benchmark::DoNotOptimize(frame[0]);
            const auto now = std::chrono::steady_clock::now();
            if (p.frames > 0)
                p.longestGapMs = std::max(p.longestGapMs,
                                          std::chrono::duration<double, std::milli>(now - lastFrame).count());
            lastFrame = now;
            latency.Received(frame, now);
            ++p.frames;
        } else {
            ++p.failures;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    MachineShares(machineStart, ReadMachineCpu(), p);
    p.pollWindowUs = static_cast<double>(vb::modelCounters().pollWindowNs) / 1e3;  // while frames still come
    latency.Summarise(timing.framePeriodNs, p);
    VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE);
    const vb::ModelCounters after = vb::modelCounters();
    p.deliveredFps = seconds > 0 ? static_cast<double>(p.frames) / seconds : 0;
    const double produced = static_cast<double>(after.framesExposed - before.framesExposed);
    p.dropped = static_cast<long>(after.framesDropped - before.framesDropped);
    p.callerCpuUs = p.frames ? cpu * 1e6 / static_cast<double>(p.frames) : 0;
    p.boardCpuUs = produced > 0 ? static_cast<double>(after.plCpuNs - before.plCpuNs) / 1e3 / produced : 0;
    p.programPollUs =
        produced > 0 ? static_cast<double>(after.programPollNs - before.programPollNs) / 1e3 / produced : 0;
    const uint64_t written = after.framesWritten - before.framesWritten;
    if (g_noise && written > 0)
        p.noiseUs = static_cast<double>(after.noiseNs - before.noiseNs) / 1e3 / static_cast<double>(written);
    VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_CONTINUOUS);
    p.renderUs = FreshRenderUs();
    VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE);

    state.SetItemsProcessed(p.frames);
    state.counters["delivered_fps"] =
        benchmark::Counter(static_cast<double>(p.frames), benchmark::Counter::kIsRate);
    state.counters["modelled_fps"] = p.modelledFps;
    state.counters["caller_cpu_us/frame"] = p.callerCpuUs;
    state.counters["board_cpu_us/frame"] = p.boardCpuUs;
    state.counters["dropped"] = static_cast<double>(p.dropped);
    state.counters["longest_gap_ms"] = p.longestGapMs;
    state.counters["latency_p99_us"] = p.latencyP99Us;
    state.counters["poll_window_us"] = p.pollWindowUs;
    state.counters["others_cpu"] = p.othersCpu;
    state.counters["steal"] = p.steal;
    state.counters["failed_captures"] = static_cast<double>(p.failures);
    g_runs[{p.width, p.height, p.exposureUs}].push_back(p);
    VYXZEB_SetExposureTime(0, 25.0f);
}
// Arguments: field of view width and height, exposure in microseconds (0:
// the shortest the sensor takes).  The exposure bounds the sensor's rate.
BENCHMARK(BM_CaptureRelease)
    ->Args({1280, 1024, 25000})
    ->Args({1280, 1024, 2000})
    ->Args({640, 480, 1000})
    ->Args({320, 240, 200})
    ->Args({160, 128, kShortestExposure})
    ->UseRealTime()
    ->MinTime(2.0)
    ->Repetitions(kRepetitions)
    ->DisplayAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

std::string Name(const Point& p)
{
    char text[64];
    if (p.exposureUs == kShortestExposure)
        std::snprintf(text, sizeof text, "%ldx%ld_shortest", p.width, p.height);
    else
        std::snprintf(text, sizeof text, "%ldx%ld_%ldus", p.width, p.height, p.exposureUs);
    return text;
}

vyxbench::Ratio MakeRatio(const Point& p, const char* key, const char* what, vyxbench::Goal goal,
                          double target, double value)
{
    const std::string name = Name(p);
    vyxbench::Ratio r;
    r.key = "capture_" + name + "_" + key;
    r.what = "capture " + name + ": " + what;
    r.goal = goal;
    r.target = target;
    r.paired = value;
    return r;
}

std::vector<vyxbench::Ratio> Ratios(const std::map<std::vector<long>, Point>& points)
{
    using vyxbench::Goal;
    std::vector<vyxbench::Ratio> out;
    for (const auto& entry : points) {
        const Point& p = entry.second;
        out.push_back(MakeRatio(p, "delivered_vs_modelled", "delivered / modelled fps (median of runs)",
                                Goal::AtLeast, kDeliveredTarget, p.Ratio()));
        out.push_back(MakeRatio(p, "board_cpu_vs_frame_period", "board CPU / frame period", Goal::Information,
                                0, p.boardCpuUs / p.framePeriodUs));
        if (p.renderUs >= 0)
            out.push_back(MakeRatio(p, "render_vs_frame_period", "fresh render / frame period", Goal::Within,
                                    kShareTarget, p.renderUs / p.framePeriodUs));
        if (p.noiseUs >= 0) {
            out.push_back(MakeRatio(p, "noise_vs_frame_period", "noise / frame period", Goal::Information, 0,
                                    p.noiseUs / p.framePeriodUs));
            if (p.renderUs >= 0)
                out.push_back(MakeRatio(p, "render_with_noise_vs_frame_period",
                                        "fresh render + noise / frame period", Goal::Information, 0,
                                        (p.renderUs + p.noiseUs) / p.framePeriodUs));
        }
    }
    return out;
}

nlohmann::json PointsJson(const std::map<std::vector<long>, Point>& medians)
{
    nlohmann::json points = nlohmann::json::array();
    for (const auto& entry : medians) {
        const Point& p = entry.second;
        points.push_back(
            {{"width", p.width},
             {"height", p.height},
             {"exposure_ms", p.exposureMs},
             {"frame_period_us", p.framePeriodUs},
             {"modelled_fps", p.modelledFps},
             {"delivered_fps", p.deliveredFps},
             {"delivered_vs_modelled_runs", p.runRatios},
             {"frames", p.frames},
             {"dropped", p.dropped},
             {"failed_captures", p.failures},
             {"caller_cpu_us_per_frame", p.callerCpuUs},
             {"longest_gap_ms", p.longestGapMs},
             {"poll_window_us", p.pollWindowUs},
             {"program_poll_us_per_frame", p.programPollUs},
             {"latency_us", {{"p50", p.latencyP50Us}, {"p99", p.latencyP99Us}, {"max", p.latencyMaxUs}}},
             {"others_cpu_share", p.othersCpu},
             {"steal_share", p.steal},
             {"board_cpu_us_per_frame", p.boardCpuUs},
             {"fresh_render_us", p.renderUs >= 0 ? nlohmann::json(p.renderUs) : nlohmann::json()},
             {"noise_us_per_frame", p.noiseUs >= 0 ? nlohmann::json(p.noiseUs) : nlohmann::json()}});
    }
    return points;
}

}  // namespace

// Removes every "--noise" from argv; true when there was one.
bool TakeNoiseFlag(int& argc, char** argv)
{
    bool found = false;
    int out = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--noise") == 0)
            found = true;
        else
            argv[out++] = argv[i];
    }
    argc = out;
    argv[argc] = nullptr;
    return found;
}

int main(int argc, char** argv) {
    const bool json = vyxbench::TakeJsonFlag(argc, argv);
    g_noise = TakeNoiseFlag(argc, argv);
    if (!vb::isActive()) {
        std::fprintf(stderr,
                     "bench_capture: the virtual board is not active; refusing to touch device nodes\n");
        return 1;
    }
    if (VYXZEB_Init() != 0) {
        std::fprintf(stderr, "bench_capture: VYXZEB_Init failed\n");
        return 1;
    }
    if (g_noise)
        vb::modelSetNoise(true, kNoiseSeed);
    const nlohmann::json machineBefore = vyxbench::MachineState();
    benchmark::Initialize(&argc, argv);
    benchmark::ConsoleReporter reporter;
    if (json)
        reporter.SetOutputStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    VYXZEB_UnInit();
    const nlohmann::json machineAfter = vyxbench::MachineState();

    const std::map<std::vector<long>, Point> points = MedianPoints();
    const std::vector<vyxbench::Ratio> ratios = Ratios(points);
    std::FILE* out = json ? stderr : stdout;
    std::fprintf(out, "\nLoad average %s before, %s after\n", vyxbench::LoadText(machineBefore).c_str(),
                 vyxbench::LoadText(machineAfter).c_str());
    for (const vyxbench::Ratio& r : ratios)
        vyxbench::PrintRatio(out, r);
    for (const auto& entry : points) {
        std::fprintf(out, "capture %s: delivered / modelled of each run:", Name(entry.second).c_str());
        for (double r : entry.second.runRatios)
            std::fprintf(out, " %.4f", r);
        std::fprintf(out, "\n");
    }
    if (json)
        std::cout << vyxbench::RatiosJson("bench_capture", machineBefore, machineAfter, ratios,
                                          {{"points", PointsJson(points)}, {"noise", g_noise}})
                         .dump(2)
                  << "\n";
    return 0;
}
