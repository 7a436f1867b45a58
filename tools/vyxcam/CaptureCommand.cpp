// CaptureCommand.cpp - `vyxcam capture`: N frames into numbered files.
#include <climits>
#include <cstdio>
#include <vector>

#include "Camera.h"
#include "Commands.h"
#include "Errors.h"
#include "FrameLoop.h"
#include "FramePattern.h"
#include "FrameSaver.h"
#include "Progress.h"
#include "StopSignal.h"
#include "VYXZebApi.h"

namespace vyxcam {

namespace {

// The frames' geometry once the settings are in force: a capture holds
// multi-frame frames, one below the other.
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

}  // namespace

int runCapture(const CaptureOptions& o, const GlobalOptions& g)
{
    std::string error;
    const std::optional<FramePattern> pattern = FramePattern::parse(o.pattern, &error);
    if (!pattern) throw UsageError("-o: " + error);
    if (!pattern->numbered() && o.count > 1)
        throw UsageError("-o " + o.pattern + " names one file for " + std::to_string(o.count) +
                         " frames: put a frame number in it, for example frame-%04d.png");
    std::optional<ImageFormat> format = o.format.empty() ? formatFromPath(o.pattern) : formatFromName(o.format);
    if (!format) format = ImageFormat::Png;

    installStopHandler();
    Camera camera(o.settings.sensor, runLogFolder(g));
    checkCameraRanges(o.settings);
    applySettings(o.settings);
    ImageView geometry = frameGeometry(camera.sensor());
    const Json settings = readSettings(camera.sensor());

    Json files = Json::array();
    FrameStats stats;
    {
        Progress progress(o.count, "frames");
        stats = runFrameLoop(
            camera.sensor(), o.count, o.settings.timeoutMs,
            [&](const unsigned char* frame, unsigned long number) {
                ImageView view = geometry;
                view.pixels = frame;
                const std::string name = pattern->name(number);
                saveFrame(name, *format, view);
                files.push_back(name);
            },
            &progress);
    }
    if (g.json) {
        Json j = frameStatsJson(stats, "captured");
        j["width"] = geometry.width;
        j["height"] = geometry.height;
        j["bits_per_pixel"] = geometry.channels * 8;
        j["format"] = formatName(*format);
        j["files"] = files;
        j["settings"] = settings;
        printJson(j);
    } else {
        printFrameStats(stats, "captured", stdout);
    }
    return stats.ok() ? kExitOk : kExitCameraError;
}

}  // namespace vyxcam
