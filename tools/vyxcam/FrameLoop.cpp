// FrameLoop.cpp - the capture loop and its summary.
#include "FrameLoop.h"

#include <time.h>

#include <cstdio>

#include "Errors.h"
#include "Progress.h"
#include "StopSignal.h"
#include "VYXZebApi.h"
#include "VYXZebRet.h"

namespace vyxcam {

namespace {

std::string timeoutDetail(std::optional<unsigned long> timeoutMs)
{
    return timeoutMs ? "no frame within " + std::to_string(*timeoutMs) + " ms" : std::string();
}

}  // namespace

ImageView frameGeometry(int sensor)
{
    int width = 0, height = 0, bits = 0;
    VYXCAM_CHECK(VYXZEB_GetCaptureSize, sensor, &width, &height, &bits);
    unsigned long frames = 1;
    VYXCAM_CHECK(VYXZEB_GetMultiFrame, sensor, &frames);
    ImageView v;
    v.width = width;
    v.height = height * static_cast<int>(frames ? frames : 1);
    v.channels = bits / 8;
    v.stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    return v;
}

FrameStats runFrameLoop(int sensor, unsigned long count, std::optional<unsigned long> timeoutMs,
                        const FrameSink& sink, Progress* progress)
{
    FrameStats stats;
    stats.requested = count;
    const double start = monotonicSeconds();
    while ((count == 0 || stats.attempts < count) && !stopRequested()) {
        unsigned char* frame = nullptr;
        ++stats.attempts;
        const int rc = VYXZEB_CaptureData(sensor, &frame);
        if (rc != VYXZEB_RET_SUCCESS) {
            // A stop signal ends the frame wait with a time-out: not a failure.
            if (rc == VYXZEB_RET_CAPTURE_TIMEOUT && stopRequested()) {
                --stats.attempts;
                break;
            }
            ++stats.failed[rc];
            reportCall("VYXZEB_CaptureData", rc, rc == VYXZEB_RET_CAPTURE_TIMEOUT ? timeoutDetail(timeoutMs) : "");
            if (rc != VYXZEB_RET_CAPTURE_TIMEOUT) {
                stats.aborted = true;
                break;
            }
        } else {
            try {
                sink(frame, stats.frames);
                ++stats.frames;
            } catch (const std::runtime_error& e) {
                std::fprintf(stderr, "%s%s\n", dynamic_cast<const CallError*>(&e) ? "" : "vyxcam: ", e.what());
                stats.aborted = true;
            }
            const int released = VYXZEB_ReleaseBuffer(sensor);
            if (released != VYXZEB_RET_SUCCESS) {
                reportCall("VYXZEB_ReleaseBuffer", released);
                stats.aborted = true;
            }
            if (stats.aborted) break;
        }
        stats.elapsedSeconds = monotonicSeconds() - start;
        if (progress != nullptr) progress->update(stats.attempts, stats.attempts - stats.frames, stats.fps());
    }
    stats.elapsedSeconds = monotonicSeconds() - start;
    stats.interrupted = stopRequested();
    return stats;
}

Json frameStatsJson(const FrameStats& s, const char* doneKey)
{
    Json failed = Json::array();
    for (const auto& f : s.failed)
        failed.push_back(Json{{"code", f.first}, {"name", VYXZEB_RetName(f.first)}, {"count", f.second}});
    Json j;
    j["requested"] = s.requested ? Json(s.requested) : Json(nullptr);
    j[doneKey] = s.frames;
    j["failed"] = failed;
    j["elapsed_s"] = s.elapsedSeconds;
    j["fps"] = s.fps();
    j["interrupted"] = s.interrupted;
    return j;
}

void printFrameStats(const FrameStats& s, const char* verb, FILE* out)
{
    if (s.requested)
        std::fprintf(out, "%s %lu of %lu frames", verb, s.frames, s.requested);
    else
        std::fprintf(out, "%s %lu frames", verb, s.frames);
    std::fprintf(out, " in %.3f s (%.1f fps)%s\n", s.elapsedSeconds, s.fps(), s.interrupted ? ", interrupted" : "");
    for (const auto& f : s.failed)
        std::fprintf(out, "failed: %lu x %d %s\n", f.second, f.first, VYXZEB_RetName(f.first));
}

}  // namespace vyxcam
