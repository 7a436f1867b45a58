// bench_image - speed of the demos' per-pixel helpers on one 1280 x 1024
// 8-bit frame, against memcpy of the frame and, when OpenCV is available,
// against its single-threaded counterparts.
//
// Every figure is a ratio (reference time / helper time: above 1 means the
// helper is faster), printed twice: from the fastest repetitions of the
// separate benchmarks, and from a paired measurement that alternates helper
// and reference call by call and takes the median of the per-round ratios.
// Both sides of a paired round see the same load, so the paired figure is
// the one judged against the targets on a shared machine.
//
//   bench_image             Google Benchmark's table, then the ratios
//   bench_image --json      the ratios and the machine's load as one JSON
//                           object on stdout (progress goes to stderr)
//
// One reference is not a competitor: "one store per pixel" writes a value
// into a table slot chosen by each pixel, as any histogram must, but loads
// and adds nothing.  No exact count that updates a counter per pixel can be
// faster, so its ratio to cv::calcHist is the most any such histogram can
// gain over OpenCV on the machine at hand; the grey histogram passes it on
// camera pictures by updating one counter per pair of neighbouring pixels.
#include "BenchReport.h"
#include "VYXImage.h"
#include "VYXImageKernels.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#ifdef VYX_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
constexpr size_t kFrameBytes = static_cast<size_t>(kWidth) * kHeight;  // stride == width
constexpr int kThreshold = 128;
constexpr int kBandLow = 60;
constexpr int kBandHigh = 180;

using Frame = std::vector<uint8_t>;

// Uniform noise: every pixel independent, the worst case for any
// data-dependent branch and for the histogram's counter accesses.
Frame NoiseFrame()
{
    Frame f(kFrameBytes);
    std::mt19937 rng(1);
    for (auto& p : f) {
        p = static_cast<uint8_t>(rng());
    }
    return f;
}

// A smooth diagonal ramp: long runs of neighbouring pixels on the same side
// of any threshold.
Frame SmoothFrame()
{
    Frame f(kFrameBytes);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            f[static_cast<size_t>(y) * kWidth + x] = static_cast<uint8_t>((x + y) * 255 / (kWidth + kHeight));
        }
    }
    return f;
}

// What the sensor delivers: a few large, softly lit objects with sensor noise
// on top, so most pixels share a narrow range of grey levels.
Frame CameraFrame()
{
    Frame f(kFrameBytes);
    std::mt19937 rng(2);
    std::normal_distribution<float> noise(0.0f, 3.0f);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            float v = 90.0f + 40.0f * std::sin(x * 0.004f) * std::cos(y * 0.003f);
            if ((x - 800) * (x - 800) + (y - 500) * (y - 500) < 200 * 200) {
                v += 70.0f;   // a bright round object
            }
            v += noise(rng);
            f[static_cast<size_t>(y) * kWidth + x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    }
    return f;
}

const Frame& Noise() { static const Frame f = NoiseFrame(); return f; }
const Frame& Smooth() { static const Frame f = SmoothFrame(); return f; }
const Frame& Camera() { static const Frame f = CameraFrame(); return f; }

// ---- the calls being compared ----

void CountHistogram(const Frame& src, int* hist)
{
    vyximage::CountGrey(src.data(), kWidth, 0, 0, kWidth, kHeight, hist);
    benchmark::DoNotOptimize(hist);
}

// The store-per-pixel reference: the histogram's words, bytes and eight
// tables, with each counter update (load, add, store) cut down to a store.
__attribute__((noinline)) void OneStorePerPixel(const Frame& src)
{
    static uint32_t table[8][256];
    const uint8_t* p = src.data();
    for (size_t i = 0; i + 8 <= kFrameBytes; i += 8) {
        uint32_t a;
        uint32_t b;
        std::memcpy(&a, p + i, sizeof(a));
        std::memcpy(&b, p + i + 4, sizeof(b));
        const auto v = static_cast<uint32_t>(i);
        table[0][a & 0xFFu] = v;
        table[1][(a >> 8) & 0xFFu] = v;
        table[2][(a >> 16) & 0xFFu] = v;
        table[3][a >> 24] = v;
        table[4][b & 0xFFu] = v;
        table[5][(b >> 8) & 0xFFu] = v;
        table[6][(b >> 16) & 0xFFu] = v;
        table[7][b >> 24] = v;
    }
    benchmark::DoNotOptimize(table);
}

#ifdef VYX_BENCH_OPENCV
// cv::calcHist over a whole 8-bit frame into 256 bins, one thread.
struct CvHistogram {
    cv::Mat hist;
    void operator()(const Frame& src)
    {
        cv::Mat m(kHeight, kWidth, CV_8UC1, const_cast<uint8_t*>(src.data()));
        const int channels[] = {0};
        const int histSize[] = {256};
        const float range[] = {0.0f, 256.0f};
        const float* ranges[] = {range};
        cv::calcHist(&m, 1, channels, cv::Mat(), hist, 1, histSize, ranges);
        benchmark::DoNotOptimize(hist.data);
    }
};

// THRESH_BINARY sets p > thresh; the helper's p >= 128 is p > 127.
void CvThreshold(Frame& work)
{
    cv::Mat m(kHeight, kWidth, CV_8UC1, work.data());
    cv::threshold(m, m, kThreshold - 1, 255, cv::THRESH_BINARY);
}

void CvInRange(Frame& work, cv::Mat& out)
{
    cv::Mat m(kHeight, kWidth, CV_8UC1, work.data());
    cv::inRange(m, cv::Scalar(kBandLow), cv::Scalar(kBandHigh), out);
}
#endif

// ---- separate benchmarks (Google Benchmark) ----

using FrameFn = const Frame& (*)();

void SetBytes(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFrameBytes));
}

void BM_Memcpy(benchmark::State& state)
{
    const Frame& src = Camera();
    Frame dst(kFrameBytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), kFrameBytes);
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

// The single threshold's speed does not depend on the data (no branches per
// pixel), so it runs in place on the frame it binarised the time before.
void BM_ThresholdSingle(benchmark::State& state)
{
    Frame work = Camera();
    for (auto _ : state) {
        VYXIMAGE_Y8_ThresholdSingle(work.data(), kWidth, kHeight, kThreshold, 0);
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

// The band threshold is timed on fresh data every time (restored outside the
// timed part), on noise and on a smooth ramp, to show that its speed does not
// depend on the pixels.
void BM_ThresholdBand(benchmark::State& state, FrameFn frame)
{
    Frame work(kFrameBytes);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.data(), frame().data(), kFrameBytes);
        state.ResumeTiming();
        VYXIMAGE_Y8_ThresholdDouble(work.data(), kWidth, kHeight, kBandLow, kBandHigh, 0);
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

// Counting only; the bars VYXIMAGE_Y8_Histgram draws afterwards are a few
// hundred pixels.
void BM_HistogramCount(benchmark::State& state, FrameFn frame)
{
    int hist[256];
    for (auto _ : state) {
        CountHistogram(frame(), hist);
    }
    SetBytes(state);
}

void BM_OneStorePerPixel(benchmark::State& state, FrameFn frame)
{
    for (auto _ : state) {
        OneStorePerPixel(frame());
    }
    SetBytes(state);
}

#ifdef VYX_BENCH_OPENCV
void BM_CvThreshold(benchmark::State& state)
{
    Frame work = Camera();
    for (auto _ : state) {
        CvThreshold(work);
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

void BM_CvInRange(benchmark::State& state)
{
    Frame work(kFrameBytes);
    cv::Mat out(kHeight, kWidth, CV_8UC1);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.data(), Noise().data(), kFrameBytes);
        state.ResumeTiming();
        CvInRange(work, out);
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

void BM_CvCalcHist(benchmark::State& state, FrameFn frame)
{
    CvHistogram calc;
    for (auto _ : state) {
        calc(frame());
    }
    SetBytes(state);
}
#endif

// Five repetitions each; the ratios use the fastest.
constexpr int kRepetitions = 5;
BENCHMARK(BM_Memcpy)->Repetitions(kRepetitions);
BENCHMARK(BM_ThresholdSingle)->Repetitions(kRepetitions);
BENCHMARK_CAPTURE(BM_ThresholdBand, noise, &Noise)->Repetitions(kRepetitions);
BENCHMARK_CAPTURE(BM_ThresholdBand, smooth, &Smooth)->Repetitions(kRepetitions);
BENCHMARK_CAPTURE(BM_HistogramCount, camera, &Camera)->Repetitions(kRepetitions);
BENCHMARK_CAPTURE(BM_HistogramCount, noise, &Noise)->Repetitions(kRepetitions);
BENCHMARK_CAPTURE(BM_OneStorePerPixel, camera, &Camera)->Repetitions(kRepetitions);
BENCHMARK_CAPTURE(BM_OneStorePerPixel, noise, &Noise)->Repetitions(kRepetitions);
#ifdef VYX_BENCH_OPENCV
BENCHMARK(BM_CvThreshold)->Repetitions(kRepetitions);
BENCHMARK(BM_CvInRange)->Repetitions(kRepetitions);
BENCHMARK_CAPTURE(BM_CvCalcHist, camera, &Camera)->Repetitions(kRepetitions);
BENCHMARK_CAPTURE(BM_CvCalcHist, noise, &Noise)->Repetitions(kRepetitions);
#endif

// Prints the usual table and keeps, per benchmark, the smallest CPU time per
// iteration over the repetitions: on a shared machine the fastest repetition
// is the one least disturbed by other work.
class FastestReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.error_occurred || r.run_type != Run::RT_Iteration) {
                continue;
            }
            const double t = r.GetAdjustedCPUTime();
            auto it = m_times.find(r.run_name.function_name);
            if (it == m_times.end() || t < it->second) {
                m_times[r.run_name.function_name] = t;
            }
        }
    }

    // reference / own, when both ran.
    std::optional<double> Ratio(const std::string& reference, const std::string& own) const
    {
        const auto ref = m_times.find(reference);
        const auto mine = m_times.find(own);
        if (ref == m_times.end() || mine == m_times.end() || mine->second <= 0) {
            return std::nullopt;
        }
        return ref->second / mine->second;
    }

private:
    std::map<std::string, double> m_times;
};

// ---- paired measurement ----

// Rounds per paired ratio: odd, so that the median is one round's figure.
constexpr int kPairedRounds = 201;

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// One comparison: the helper ("own") and its reference, as separate
// benchmarks (by name) and as calls for the paired measurement; each side's
// prepare step runs untimed before its timed call.
struct Comparison {
    vyxbench::Ratio ratio;
    std::string ownBench;
    std::string refBench;
    std::function<void()> own;
    std::function<void()> ref;
    std::function<void()> prepareOwn = [] {};
    std::function<void()> prepareRef = [] {};
};

// Median over the rounds of (reference time / own time).
double PairedRatio(const Comparison& c)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> ratios;
    for (int round = 0; round < kPairedRounds; ++round) {
        double own = 0;
        double ref = 0;
        for (int side = 0; side < 2; ++side) {
            // Alternate which side goes first, so neither always finds the
            // caches warmed by the other.
            const bool ownNow = (side == 0) == (round % 2 == 0);
            (ownNow ? c.prepareOwn : c.prepareRef)();
            const auto t0 = Clock::now();
            (ownNow ? c.own : c.ref)();
            benchmark::ClobberMemory();
            (ownNow ? own : ref) = Seconds(Clock::now() - t0);
        }
        if (own > 0) {
            ratios.push_back(ref / own);
        }
    }
    std::sort(ratios.begin(), ratios.end());
    return ratios.empty() ? 0.0 : ratios[ratios.size() / 2];
}

// A Within comparison times the same helper on two inputs: its figure is
// the relative difference |own / ref - 1| rather than ref / own.
double Judged(const vyxbench::Ratio& r, double refOverOwn)
{
    return r.goal == vyxbench::Goal::Within ? std::fabs(1.0 / refOverOwn - 1.0) : refOverOwn;
}

// Working buffers shared by the paired calls.
struct Buffers {
    Frame work = Frame(kFrameBytes);
    Frame dst = Frame(kFrameBytes);
    int hist[256] = {};
#ifdef VYX_BENCH_OPENCV
    cv::Mat out = cv::Mat(kHeight, kWidth, CV_8UC1);
    CvHistogram cvHist;
#endif
};

vyxbench::Ratio MakeRatio(const char* key, const char* what, vyxbench::Goal goal, double target)
{
    vyxbench::Ratio r;
    r.key = key;
    r.what = what;
    r.goal = goal;
    r.target = target;
    return r;
}

std::vector<Comparison> Comparisons(Buffers& b)
{
    using vyxbench::Goal;
    const auto fresh = [&b](FrameFn frame) {
        return [&b, frame] { std::memcpy(b.work.data(), frame().data(), kFrameBytes); };
    };
    const auto single = [&b] { VYXIMAGE_Y8_ThresholdSingle(b.work.data(), kWidth, kHeight, kThreshold, 0); };
    const auto band = [&b] {
        VYXIMAGE_Y8_ThresholdDouble(b.work.data(), kWidth, kHeight, kBandLow, kBandHigh, 0);
    };
    const auto count = [&b](FrameFn frame) { return [&b, frame] { CountHistogram(frame(), b.hist); }; };
    const auto stores = [](FrameFn frame) { return [frame] { OneStorePerPixel(frame()); }; };

    std::vector<Comparison> list;
    list.push_back({MakeRatio("threshold_vs_memcpy", "single threshold vs memcpy of the frame", Goal::AtLeast, 1.5),
                    "BM_ThresholdSingle", "BM_Memcpy", single,
                    [&b] { std::memcpy(b.dst.data(), Camera().data(), kFrameBytes); }});
    list.push_back({MakeRatio("band_noise_vs_smooth", "band threshold, noise vs smooth frame", Goal::Within, 0.10),
                    "BM_ThresholdBand/noise", "BM_ThresholdBand/smooth", band, band, fresh(&Noise), fresh(&Smooth)});
    list.push_back({MakeRatio("histogram_camera_vs_one_store_per_pixel",
                              "grey histogram vs one store per pixel, camera", Goal::Information, 0),
                    "BM_HistogramCount/camera", "BM_OneStorePerPixel/camera", count(&Camera), stores(&Camera)});
    list.push_back({MakeRatio("histogram_noise_vs_one_store_per_pixel",
                              "grey histogram vs one store per pixel, noise", Goal::Information, 0),
                    "BM_HistogramCount/noise", "BM_OneStorePerPixel/noise", count(&Noise), stores(&Noise)});
#ifdef VYX_BENCH_OPENCV
    const auto calc = [&b](FrameFn frame) { return [&b, frame] { b.cvHist(frame()); }; };
    list.push_back({MakeRatio("threshold_vs_cv_threshold", "single threshold vs cv::threshold", Goal::AtLeast, 1.0),
                    "BM_ThresholdSingle", "BM_CvThreshold", single, [&b] { CvThreshold(b.work); },
                    fresh(&Camera), fresh(&Camera)});
    list.push_back({MakeRatio("band_vs_cv_inrange", "band threshold vs cv::inRange", Goal::AtLeast, 2.5),
                    "BM_ThresholdBand/noise", "BM_CvInRange", band, [&b] { CvInRange(b.work, b.out); },
                    fresh(&Noise), fresh(&Noise)});
    list.push_back({MakeRatio("histogram_camera_vs_cv_calchist", "grey histogram vs cv::calcHist, camera",
                              Goal::AtLeast, 1.5),
                    "BM_HistogramCount/camera", "BM_CvCalcHist/camera", count(&Camera), calc(&Camera)});
    list.push_back({MakeRatio("histogram_noise_vs_cv_calchist", "grey histogram vs cv::calcHist, noise",
                              Goal::AtLeast, 1.5),
                    "BM_HistogramCount/noise", "BM_CvCalcHist/noise", count(&Noise), calc(&Noise)});
    list.push_back({MakeRatio("one_store_per_pixel_camera_vs_cv_calchist",
                              "one store per pixel vs cv::calcHist, camera", Goal::Information, 0),
                    "BM_OneStorePerPixel/camera", "BM_CvCalcHist/camera", stores(&Camera), calc(&Camera)});
    list.push_back({MakeRatio("one_store_per_pixel_noise_vs_cv_calchist",
                              "one store per pixel vs cv::calcHist, noise", Goal::Information, 0),
                    "BM_OneStorePerPixel/noise", "BM_CvCalcHist/noise", stores(&Noise), calc(&Noise)});
#endif
    return list;
}

void PrintUsage()
{
    std::printf("bench_image: speed ratios of the demos' image helpers on a 1280 x 1024 frame\n"
                "  --json    print the ratios and the machine's load as one JSON object on stdout;\n"
                "            the benchmark table and progress go to stderr\n"
                "Google Benchmark's own flags follow.\n\n");
}

}  // namespace

int main(int argc, char** argv)
{
    const bool json = vyxbench::TakeJsonFlag(argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            PrintUsage();
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
#ifdef VYX_BENCH_OPENCV
    cv::setNumThreads(1);
#endif
    const nlohmann::json before = vyxbench::MachineState();
    std::FILE* human = json ? stderr : stdout;

    FastestReporter reporter;
    if (json) {
        reporter.SetOutputStream(&std::cerr);
        reporter.SetErrorStream(&std::cerr);
    }
    benchmark::RunSpecifiedBenchmarks(&reporter);

    Buffers buffers;
    std::vector<Comparison> comparisons = Comparisons(buffers);
    std::fprintf(human, "\npaired ratios (median of %d alternating rounds, reference time / helper time):\n",
                 kPairedRounds);
    std::vector<vyxbench::Ratio> ratios;
    for (Comparison& c : comparisons) {
        vyxbench::Ratio r = c.ratio;
        if (const auto fastest = reporter.Ratio(c.refBench, c.ownBench)) {
            r.fastest = Judged(r, *fastest);
        }
        r.paired = Judged(r, PairedRatio(c));
        vyxbench::PrintRatio(human, r);
        std::fflush(human);
        ratios.push_back(r);
    }

    std::fprintf(human, "\nratios from the fastest repetitions of the separate benchmarks:\n");
    for (vyxbench::Ratio r : ratios) {
        r.paired.reset();
        vyxbench::PrintRatio(human, r);
    }
    const nlohmann::json after = vyxbench::MachineState();
    std::fprintf(human, "\nload average before the run %s, after it %s\n", vyxbench::LoadText(before).c_str(),
                 vyxbench::LoadText(after).c_str());

    if (json) {
        nlohmann::json extra;
        extra["frame"] = {{"width", kWidth}, {"height", kHeight}};
        extra["paired_rounds"] = kPairedRounds;
#ifdef VYX_BENCH_OPENCV
        extra["opencv"] = CV_VERSION;
#else
        extra["opencv"] = nullptr;
#endif
        std::cout << vyxbench::RatiosJson("bench_image", before, after, ratios, extra).dump(2) << std::endl;
    }
    benchmark::Shutdown();
    return 0;
}
