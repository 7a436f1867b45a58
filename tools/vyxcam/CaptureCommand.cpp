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
