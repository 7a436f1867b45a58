// Capture loop on the virtual board (Google Benchmark; not a test).
//
// Measures how many frames per second VYXZEB_CaptureData + VYXZEB_ReleaseBuffer
// deliver in continuous mode, against the frame rate the board's sensor model
// runs at for the same settings, and the CPU time the library spends on the
// calling thread per frame.  The interesting figures are the ratios:
//   delivered_vs_modelled  close to 1.0 means the library keeps up with the
//                          sensor and loses no frame to its own overhead;
//   caller_cpu_us/frame    the library's own work per frame on the caller's
//                          thread (the capture is zero-copy: no pixel is touched).
//
//   cmake -DVYX_BUILD_BENCH=ON ... && ninja bench_capture && bin/bench_capture
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>

#include "VYXZebApi.h"
#include "VyxBoard.h"
#include "VyxModel.h"

namespace {

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void BM_CaptureRelease(benchmark::State& state) {
    const unsigned long width = static_cast<unsigned long>(state.range(0));
    const unsigned long height = static_cast<unsigned long>(state.range(1));
    const float exposureMs = static_cast<float>(state.range(2)) / 1000.0f;
    VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE);
    VYXZEB_SetCaptureFieldOfView(0, (1280 - width) / 2, (1024 - height) / 2, width, height);
    VYXZEB_SetExposureTime(0, exposureMs);
    VYXZEB_CaptureSetTimeOut(0, 2000);
    VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_CONTINUOUS);
    const double modelledFps = 1e6 / static_cast<double>(vb::modelSensorFramePeriodUs());

    long frames = 0, failures = 0;
    double cpu = 0;
    for (auto _ : state) {
        const double before = ThreadCpuSeconds();
        unsigned char* frame = nullptr;
        const int ret = VYXZEB_CaptureData(0, &frame);
        VYXZEB_ReleaseBuffer(0);
        cpu += ThreadCpuSeconds() - before;
        if (ret == 0) {
            benchmark::DoNotOptimize(frame[0]);
            ++frames;
        } else {
            ++failures;
        }
    }
    state.SetItemsProcessed(frames);
    state.counters["delivered_fps"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
    state.counters["modelled_fps"] = modelledFps;
    state.counters["caller_cpu_us/frame"] = frames ? cpu * 1e6 / static_cast<double>(frames) : 0;
    state.counters["failed_captures"] = static_cast<double>(failures);
    VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE);
    VYXZEB_SetExposureTime(0, 25.0f);
}
// Arguments: field of view width and height, exposure in microseconds (the
// exposure bounds the sensor's frame rate).
BENCHMARK(BM_CaptureRelease)
    ->Args({1280, 1024, 25000})
    ->Args({1280, 1024, 2000})
    ->Args({640, 480, 1000})
    ->Args({320, 240, 200})
    ->UseRealTime()->MinTime(3.0)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (!vb::isActive()) {
        fprintf(stderr, "bench_capture: the virtual board is not active; refusing to touch device nodes\n");
        return 1;
    }
    if (VYXZEB_Init() != 0) {
        fprintf(stderr, "bench_capture: VYXZEB_Init failed\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    VYXZEB_UnInit();
    return 0;
}
