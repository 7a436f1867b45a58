// bench_render - what rendering one frame afresh costs the virtual board's
// PL thread (FrameSource::render: the scene, the window, binning, the
// analogue chain's brightness map), at the settings of the capture
// benchmark's points and a few more (binning, mirror and flip, the moving
// scene, a frame with noise, and the points again with cold caches), as a
// share of the sensor's frame period at the same settings.
//
// Each iteration restarts the scene's sequence so that the frame is
// rendered, never copied from the last one.  The share is the CPU time of
// one render over the frame period the sensor model gives; a fast window
// must stay well below 10 % of it, or the board cannot keep up with the
// sensor whenever the settings change.
//
//   cmake -DVYX_BUILD_BENCH=ON ... && ninja bench_render && bin/bench_render
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "FrameSource.h"
#include "Q210BRegs.h"
#include "SensorModel.h"
#include "SensorNoise.h"

namespace {

using namespace vb::model;

// The start-up clocks give 25 ms in 8689 lines.
constexpr double kLinesPerMs = 8689.0 / 25.0;

enum Option { kPlain = 0, kBinned = 1, kMirrorFlip = 2, kMoving = 4, kNoise = 8, kCold = 16 };

// kCold: before each render the caches are filled with other data, as the
// PL thread finds them after copying frames while other programs ran.
constexpr size_t kEvictBytes = 64u << 20;  // twice the largest last-level cache seen here

void evictCaches(std::vector<uint8_t>& other)
{
    for (size_t i = 0; i < other.size(); i += 64)
        other[i]++;
}

// A centred window of w x h pixels exposed for `exposureUs` (0: one line).
void configure(SensorChip& chip, int w, int h, int exposureUs, int options)
{
    const int divisor = options & kBinned ? 2 : 1;
    chip.write(q210b::kRegColCount, static_cast<uint16_t>(w * divisor));
    chip.write(q210b::kRegRowCount, static_cast<uint16_t>(h * divisor));
    chip.write(q210b::kRegFirstCol,
               static_cast<uint16_t>((kArrayColumns - w * divisor) / 2 + q210b::kWindowOrigin));
    chip.write(q210b::kRegFirstRow,
               static_cast<uint16_t>((kArrayRows - h * divisor) / 2 + q210b::kWindowOrigin));
    chip.write(q210b::kRegAddressMode, options & kBinned ? 0x0808 : 0);
    const double lines = exposureUs == 0 ? 1.0 : exposureUs / 1000.0 * kLinesPerMs;
    chip.write(q210b::kRegExposure, static_cast<uint16_t>(lines + 0.5));
    if (options & kMirrorFlip)
        chip.write(q210b::kRegControl, 0x0E01 | q210b::kControlMirror | q210b::kControlFlip);
}

void BM_FreshRender(benchmark::State& state)
{
    const int w = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1));
    const int options = static_cast<int>(state.range(3));
    SensorChip chip;
    configure(chip, w, h, static_cast<int>(state.range(2)), options);
    FrameSource source(chip);
    if (options & kMoving)
        source.setScene(Scene::moving());
    if (options & kNoise)
        source.setNoise(std::make_shared<SensorNoise>(1));
    std::vector<uint8_t> frame(static_cast<size_t>(w) * h);
    std::vector<uint8_t> other(options & kCold ? kEvictBytes : 0);
    FrameTime t;
    for (auto _ : state) {
        if (options & kCold) {
            state.PauseTiming();
            evictCaches(other);
            state.ResumeTiming();
        }
        source.setSceneFps(0);  // the sequence starts again: a fresh render
        t.counter++;
        t.doneNs += 1000000;
        source.render(frame.data(), static_cast<uint32_t>(frame.size()), static_cast<uint32_t>(w), t);
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    const FrameSource::Stats s = source.stats();
    const double periodUs = sensorReadout(chip.snapshot()).frameTimeS * 1e6;
    const double renderUs = s.rendered ? static_cast<double>(s.renderNs + s.noiseNs) / 1e3 / s.rendered : 0;
    state.counters["render_us"] = renderUs;
    state.counters["period_us"] = periodUs;
    state.counters["share_%"] = periodUs > 0 ? 100.0 * renderUs / periodUs : 0;
}

BENCHMARK(BM_FreshRender)
    ->ArgNames({"w", "h", "exp_us", "opt"})
    ->Args({160, 128, 0, kPlain})
    ->Args({320, 240, 200, kPlain})
    ->Args({640, 480, 1000, kPlain})
    ->Args({1280, 1024, 2000, kPlain})
    ->Args({1280, 1024, 25000, kPlain})
    ->Args({320, 240, 200, kMirrorFlip})
    ->Args({320, 240, 200, kBinned})
    ->Args({320, 240, 200, kMoving})
    ->Args({320, 240, 200, kNoise})
    ->Unit(benchmark::kMicrosecond);

// Cold caches cost milliseconds per render outside the timing: a fixed
// number of renders.
BENCHMARK(BM_FreshRender)
    ->ArgNames({"w", "h", "exp_us", "opt"})
    ->Args({160, 128, 0, kCold})
    ->Args({320, 240, 200, kCold})
    ->Args({640, 480, 1000, kCold})
    ->Args({1280, 1024, 2000, kCold})
    ->Iterations(200)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
