// ShowCommand.cpp - `vyxcam show`: a picture file, or the live frames, on
// the camera's HDMI output.
#include <climits>
#include <cstdio>
#include <cstring>

#include "Camera.h"
#include "Commands.h"
#include "Errors.h"
#include "FrameLoop.h"
#include "ImageFile.h"
#include "Progress.h"
#include "StopSignal.h"
#include "VYXZebApi.h"

namespace vyxcam {

namespace {

// A block of the camera's physically contiguous memory, given back on exit.
class PoolBlock {
public:
    explicit PoolBlock(size_t bytes)
    {
        const int rc = VYXZEB_Malloc(bytes, &m_block);
        check("VYXZEB_Malloc", rc,
              "no free memory block takes the picture's " + std::to_string(bytes) + " bytes");
    }
    ~PoolBlock()
    {
        if (m_block != nullptr) VYXZEB_Free(&m_block);
    }
    PoolBlock(const PoolBlock&) = delete;
    PoolBlock& operator=(const PoolBlock&) = delete;
    unsigned char* data() { return m_block; }

private:
    unsigned char* m_block = nullptr;
};

Json rectJson(const ScreenRect& r)
{
    return Json{{"x", r.x}, {"y", r.y}, {"width", r.width}, {"height", r.height}};
}

// The picture goes into the rectangle, scaled to fill it: the video widget
// is the rectangle, the image is placed at its origin at its size.
ScreenRect place(int sensor, const std::optional<ScreenRect>& at)
{
    const ScreenRect r = at.value_or(ScreenRect{});
    if (at) {
        VYXCAM_CHECK(VYXZEB_SetVideoWidgetPos, sensor, r.x, r.y, r.width, r.height);
        VYXCAM_CHECK(VYXZEB_SetPosition, sensor, 0, 0, r.width, r.height);
    }
    return r;
}

int showFile(const ShowOptions& o, const GlobalOptions& g)
{
    const Image image = readImageFile(o.file);
    installStopHandler();
    Camera camera(o.settings.sensor, runLogFolder(g));
    checkCameraRanges(o.settings);
    applySettings(o.settings);
    const ScreenRect rect = place(camera.sensor(), o.at);
    PoolBlock block(image.pixels.size());
    std::memcpy(block.data(), image.pixels.data(), image.pixels.size());
    const int bits = image.channels * 8;
    VYXCAM_CHECK(VYXZEB_ShowUserLoadData, camera.sensor(), block.data(), static_cast<unsigned>(image.width),
                 static_cast<unsigned>(image.height), static_cast<unsigned>(bits));
    if (!g.json)
        std::fprintf(stderr, "vyxcam: showing %s (%d x %d, %s) at %lu,%lu,%lu,%lu; %s\n", o.file.c_str(), image.width,
                     image.height, bits == 8 ? "grey" : "colour", rect.x, rect.y, rect.width, rect.height,
                     o.holdMs ? "holding it" : "Ctrl-C ends");
    const long hold = o.holdMs ? static_cast<long>(std::min<unsigned long>(*o.holdMs, LONG_MAX)) : -1;
    const bool interrupted = waitForStop(hold);
    if (g.json)
        printJson(Json{{"file", o.file},
                       {"width", image.width},
                       {"height", image.height},
                       {"bits_per_pixel", bits},
                       {"at", rectJson(rect)},
                       {"interrupted", interrupted}});
    return kExitOk;
}

int showLive(const ShowOptions& o, const GlobalOptions& g)
{
    installStopHandler();
    Camera camera(o.settings.sensor, runLogFolder(g));
    checkCameraRanges(o.settings);
    applySettings(o.settings);
    const ScreenRect rect = place(camera.sensor(), o.at);
    FrameStats stats;
    {
        Progress progress(o.count, "frames");
        stats = runFrameLoop(
            camera.sensor(), o.count, o.settings.timeoutMs,
            [&](const unsigned char* frame, unsigned long) {
                VYXCAM_CHECK(VYXZEB_ShowCaptureData, camera.sensor(), const_cast<unsigned char*>(frame));
            },
            &progress);
    }
    if (g.json) {
        Json j = frameStatsJson(stats, "shown");
        j["at"] = rectJson(rect);
        j["settings"] = readSettings(camera.sensor());
        printJson(j);
    } else {
        printFrameStats(stats, "shown", stdout);
    }
    return stats.ok() ? kExitOk : kExitCameraError;
}

}  // namespace

int runShow(const ShowOptions& o, const GlobalOptions& g)
{
    if (o.live == !o.file.empty()) throw UsageError("give either a FILE or --live");
    if (o.live && o.holdMs) throw UsageError("--hold-ms keeps a FILE on screen; --live shows until -n or Ctrl-C");
    if (!o.live && o.count) throw UsageError("-n counts live frames: it goes with --live");
    return o.live ? showLive(o, g) : showFile(o, g);
}

}  // namespace vyxcam
