// Settings.cpp - range checks and the fixed order of applying settings.
#include "Settings.h"

#include <cstdio>
#include <string>

#include "Errors.h"

namespace vyxcam {

namespace {

std::string rangeText(double min, double max)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g to %g", min, max);
    return text;
}

[[noreturn]] void outside(const std::string& option, const std::string& value, const std::string& what,
                          double min, double max)
{
    throw RangeError(option, option + " " + value + ": outside the " + what + " " + rangeText(min, max),
                     rangeText(min, max));
}

struct FovRange {
    unsigned long minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
};

FovRange fovRange(int sensor)
{
    // The range call reports the smallest width and height, then the largest.
    FovRange r;
    VYXCAM_CHECK(VYXZEB_GetCaptureFieldOfViewRange, sensor, &r.minWidth, &r.minHeight, &r.maxWidth, &r.maxHeight);
    return r;
}

void checkWindowSize(const char* option, const std::string& value, const SensorWindow& w, const FovRange& r)
{
    if (w.width < r.minWidth || w.width > r.maxWidth)
        outside(option, value, "camera's field-of-view widths", r.minWidth, r.maxWidth);
    if (w.height < r.minHeight || w.height > r.maxHeight)
        outside(option, value, "camera's field-of-view heights", r.minHeight, r.maxHeight);
}

std::string windowText(const SensorWindow& w, bool withOrigin)
{
    std::string size = std::to_string(w.width) + "," + std::to_string(w.height);
    return withOrigin ? std::to_string(w.x) + "," + std::to_string(w.y) + "," + size : size;
}

void checkFov(const CameraSettings& s)
{
    if (!s.fov && !s.center) return;
    const FovRange r = fovRange(s.sensor);
    if (s.fov) {
        const SensorWindow& w = *s.fov;
        const std::string value = windowText(w, true);
        checkWindowSize("--fov", value, w, r);
        if (w.x + w.width > r.maxWidth || w.y + w.height > r.maxHeight) {
            const std::string sensor = std::to_string(r.maxWidth) + " x " + std::to_string(r.maxHeight);
            throw RangeError("--fov", "--fov " + value + ": the window leaves the sensor's " + sensor + " pixels",
                             "a window inside " + sensor);
        }
    }
    if (s.center) checkWindowSize("--center", windowText(*s.center, false), *s.center, r);
}

template <typename T>
void checkUnsignedRange(const char* option, const std::optional<unsigned long>& value, const char* what,
                        int (*range)(int, T*, T*), int sensor, const char* rangeFunction)
{
    if (!value) return;
    T min = 0, max = 0;
    check(rangeFunction, range(sensor, &min, &max));
    if (*value < min || *value > max)
        outside(option, std::to_string(*value), what, static_cast<double>(min), static_cast<double>(max));
}

void applyGeometry(const CameraSettings& s)
{
    const int n = s.sensor;
    if (s.addressMode) VYXCAM_CHECK(VYXZEB_SetAddressMode, n, static_cast<VYX_ADDRESSMODE>(*s.addressMode));
    std::optional<SensorWindow> window = s.fov;
    if (s.center) {
        const FovRange r = fovRange(n);
        window = *s.center;
        window->x = (r.maxWidth - s.center->width) / 2;
        window->y = (r.maxHeight - s.center->height) / 2;
    }
    if (window) {
        VYXCAM_CHECK(VYXZEB_SetCaptureFieldOfView, n, window->x, window->y, window->width, window->height);
        SensorWindow set;
        VYXCAM_CHECK(VYXZEB_GetCaptureFieldOfView, n, &set.x, &set.y, &set.width, &set.height);
        if (set.x != window->x || set.y != window->y || set.width != window->width || set.height != window->height)
            std::fprintf(stderr, "vyxcam: the sensor aligned the field of view %s to %s\n",
                         windowText(*window, true).c_str(), windowText(set, true).c_str());
    }
    if (s.mirror) VYXCAM_CHECK(VYXZEB_SetMirror, n, *s.mirror);
    if (s.flip) VYXCAM_CHECK(VYXZEB_SetFlip, n, *s.flip);
}

void applyExposure(const CameraSettings& s)
{
    const int n = s.sensor;
    if (s.exposureMs) {
        float min = 0, max = 0;
        VYXCAM_CHECK(VYXZEB_GetExposureTimeRange, n, &min, &max);
        if (*s.exposureMs < min || *s.exposureMs > max) {
            char value[32];
            std::snprintf(value, sizeof value, "%g", *s.exposureMs);
            outside("--exposure-ms", value, "exposure times of this field of view (ms)", min, max);
        }
        VYXCAM_CHECK(VYXZEB_SetExposureTime, n, static_cast<float>(*s.exposureMs));
    }
    if (s.exposureLines) VYXCAM_CHECK(VYXZEB_SetExposureLines, n, *s.exposureLines);
    if (s.gain) VYXCAM_CHECK(VYXZEB_SetGain, n, *s.gain);
}

void applyAcquisition(const CameraSettings& s)
{
    const int n = s.sensor;
    if (s.flash) VYXCAM_CHECK(VYXZEB_FlashSetEnable, n, *s.flash);
    if (s.flashInvert) VYXCAM_CHECK(VYXZEB_FlashSetInvert, n, *s.flashInvert);
    if (s.frameBuffers) VYXCAM_CHECK(VYXZEB_SetFrameBufNum, n, *s.frameBuffers);
    if (s.multiFrame) {
        unsigned long min = 0, max = 0;
        VYXCAM_CHECK(VYXZEB_GetMultiFrameRange, n, &min, &max);
        if (*s.multiFrame < min || *s.multiFrame > max)
            outside("--multi-frame", std::to_string(*s.multiFrame), "frames per buffer at this frame size",
                    static_cast<double>(min), static_cast<double>(max));
        VYXCAM_CHECK(VYXZEB_SetMultiFrame, n, *s.multiFrame);
    }
    if (s.fixedRate) VYXCAM_CHECK(VYXZEB_SetFixFrameRate, n, *s.fixedRate);
    if (s.triggerDelay) VYXCAM_CHECK(VYXZEB_SetTriggerDelay, n, *s.triggerDelay);
    if (s.triggerFilter) VYXCAM_CHECK(VYXZEB_SetTriggerFilter, n, static_cast<unsigned short>(*s.triggerFilter));
    if (s.timeoutMs) VYXCAM_CHECK(VYXZEB_CaptureSetTimeOut, n, *s.timeoutMs);
    VYXCAM_CHECK(VYXZEB_SetTriggerMode, n, s.trigger.value_or(VYXZEB_TRIGGER_SOFTWARE));
}

}  // namespace

std::optional<VYXZEB_TRIGGER_MODE> triggerFromName(const std::string& name)
{
    for (const TriggerName& t : kTriggerNames)
        if (name == t.name) return t.mode;
    return std::nullopt;
}

const char* triggerToName(int mode)
{
    for (const TriggerName& t : kTriggerNames)
        if (mode == t.mode) return t.name;
    return "unknown";
}

void checkCameraRanges(const CameraSettings& s)
{
    checkUnsignedRange<unsigned long>("--gain", s.gain, "camera's gain range", VYXZEB_GetGainRange, s.sensor,
                                      "VYXZEB_GetGainRange");
    checkUnsignedRange<unsigned long>("--exposure-lines", s.exposureLines, "camera's exposure lines",
                                      VYXZEB_GetExposureLinesRange, s.sensor, "VYXZEB_GetExposureLinesRange");
    checkFov(s);
}

void applySettings(const CameraSettings& s)
{
    applyGeometry(s);
    applyExposure(s);
    applyAcquisition(s);
}

}  // namespace vyxcam
