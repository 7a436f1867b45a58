// CameraInfo.cpp - identity, ranges and settings through the public API.
#include "CameraInfo.h"

#include <cstdlib>
#include <string>

#include "Errors.h"
#include "Settings.h"
#include "VYXZebApi.h"

namespace vyxcam {

using json = Json;

namespace {

const char* sensorTypeName(int type)
{
    switch (type) {
    case VYXZEB_SENSOR_V880A: return "V880A";
    case VYXZEB_SENSOR_Q210B: return "Q210B";
    default: return "unknown";
    }
}

template <typename T>
json minMax(T min, T max)
{
    return json{{"min", min}, {"max", max}};
}

json readRanges(int n)
{
    unsigned long minW = 0, minH = 0, maxW = 0, maxH = 0;
    VYXCAM_CHECK(VYXZEB_GetCaptureFieldOfViewRange, n, &minW, &minH, &maxW, &maxH);
    float minMs = 0, maxMs = 0;
    VYXCAM_CHECK(VYXZEB_GetExposureTimeRange, n, &minMs, &maxMs);
    unsigned long minLines = 0, maxLines = 0, minGain = 0, maxGain = 0, minDelay = 0, maxDelay = 0;
    VYXCAM_CHECK(VYXZEB_GetExposureLinesRange, n, &minLines, &maxLines);
    VYXCAM_CHECK(VYXZEB_GetGainRange, n, &minGain, &maxGain);
    VYXCAM_CHECK(VYXZEB_GetTriggerDelayRange, n, &minDelay, &maxDelay);
    unsigned long minFrames = 0, maxFrames = 0;
    VYXCAM_CHECK(VYXZEB_GetMultiFrameRange, n, &minFrames, &maxFrames);
    unsigned short minFilter = 0, maxFilter = 0;
    VYXCAM_CHECK(VYXZEB_GetTriggerFilterRange, n, &minFilter, &maxFilter);
    return json{
        {"fov", {{"min_width", minW}, {"min_height", minH}, {"max_width", maxW}, {"max_height", maxH}}},
        {"exposure_ms", minMax(floatValue(minMs), floatValue(maxMs))},
        {"exposure_lines", minMax(minLines, maxLines)},
        {"gain", minMax(minGain, maxGain)},
        {"trigger_delay_us", minMax(minDelay, maxDelay)},
        {"multi_frame", minMax(minFrames, maxFrames)},
        {"trigger_filter", minMax(minFilter, maxFilter)},
    };
}

json readGpio()
{
    unsigned short count = 0, mask = 0;
    VYXCAM_CHECK(VYXZEB_GpioGetNum, &count);
    VYXCAM_CHECK(VYXZEB_GpioGetDirection, &mask);
    return json{{"count", count}, {"direction_mask", mask}};
}

std::string hexWord(unsigned long word)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", word & 0xFFFFFFFFul);
    return text;
}

void printRange(FILE* out, const char* label, const json& r, const char* unit)
{
    std::fprintf(out, "    %-18s %s to %s%s\n", label, r["min"].dump().c_str(), r["max"].dump().c_str(), unit);
}

void printSensor(const json& s, FILE* out)
{
    const json& size = s["capture_size"];
    const json& r = s["ranges"];
    const json& fov = r["fov"];
    std::fprintf(out, "sensor %d: %s (type %d), device kind %d, PL version %s\n", s["index"].get<int>(),
                 s["type_name"].get<std::string>().c_str(), s["type"].get<int>(), s["device_kind"].get<int>(),
                 hexWord(s["pl_version"].get<unsigned long>()).c_str());
    std::fprintf(out, "  capture size        %d x %d, %d bits per pixel\n", size["width"].get<int>(),
                 size["height"].get<int>(), size["bits_per_pixel"].get<int>());
    std::fprintf(out, "  ranges\n");
    std::fprintf(out, "    %-18s width %s to %s, height %s to %s\n", "fov", fov["min_width"].dump().c_str(),
                 fov["max_width"].dump().c_str(), fov["min_height"].dump().c_str(), fov["max_height"].dump().c_str());
    printRange(out, "exposure_ms", r["exposure_ms"], " ms");
    printRange(out, "exposure_lines", r["exposure_lines"], " lines");
    printRange(out, "gain", r["gain"], "");
    printRange(out, "trigger_delay_us", r["trigger_delay_us"], "");
    printRange(out, "multi_frame", r["multi_frame"], " frames per buffer");
    printRange(out, "trigger_filter", r["trigger_filter"], "");
    std::fprintf(out, "  settings\n");
    for (const auto& item : s["settings"].items()) {
        const json& v = item.value();
        std::string text = v.is_string() ? v.get<std::string>() : v.dump();
        if (item.key() == "fov")
            text = v["x"].dump() + "," + v["y"].dump() + "," + v["width"].dump() + "," + v["height"].dump();
        std::fprintf(out, "    %-18s %s\n", item.key().c_str(), text.c_str());
    }
}

}  // namespace

double floatValue(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", static_cast<double>(value));
    return std::strtod(text, nullptr);
}

std::string libraryVersion()
{
    int v[4] = {};
    VYXZEB_GetLibVersion(&v[0], &v[1], &v[2], &v[3]);
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

json readSettings(int n)
{
    float ms = 0;
    unsigned long lines = 0, gain = 0, x = 0, y = 0, w = 0, h = 0;
    VYXCAM_CHECK(VYXZEB_GetExposureTime, n, &ms);
    VYXCAM_CHECK(VYXZEB_GetExposureLines, n, &lines);
    VYXCAM_CHECK(VYXZEB_GetGain, n, &gain);
    VYXCAM_CHECK(VYXZEB_GetCaptureFieldOfView, n, &x, &y, &w, &h);
    VYX_ADDRESSMODE mode = VYX_ADDRESSMODE_NORMAL;
    VYXCAM_CHECK(VYXZEB_GetAddressMode, n, &mode);
    bool mirror = false, flip = false, flash = false, invert = false;
    VYXCAM_CHECK(VYXZEB_GetMirror, n, &mirror);
    VYXCAM_CHECK(VYXZEB_GetFlip, n, &flip);
    VYXCAM_CHECK(VYXZEB_FlashGetEnable, n, &flash);
    VYXCAM_CHECK(VYXZEB_FlashGetInvert, n, &invert);
    unsigned long buffers = 0, frames = 0, rate = 0, delay = 0;
    VYXCAM_CHECK(VYXZEB_GetFrameBufNum, n, &buffers);
    VYXCAM_CHECK(VYXZEB_GetMultiFrame, n, &frames);
    VYXCAM_CHECK(VYXZEB_GetFixFrameRate, n, &rate);
    VYXCAM_CHECK(VYXZEB_GetTriggerDelay, n, &delay);
    unsigned short filter = 0;
    VYXCAM_CHECK(VYXZEB_GetTriggerFilter, n, &filter);
    VYXZEB_TRIGGER_MODE trigger = VYXZEB_TRIGGER_SOFTWARE;
    VYXCAM_CHECK(VYXZEB_GetTriggerMode, n, &trigger);
    // Keys in the order the settings are applied (Settings.h).
    json s = json::object();
    s["address_mode"] = static_cast<int>(mode);
    s["fov"] = json{{"x", x}, {"y", y}, {"width", w}, {"height", h}};
    s["mirror"] = mirror;
    s["flip"] = flip;
    s["exposure_ms"] = floatValue(ms);
    s["exposure_lines"] = lines;
    s["gain"] = gain;
    s["flash"] = flash ? "on" : "off";
    s["flash_invert"] = invert;
    s["frame_buffers"] = buffers;
    s["multi_frame"] = frames;
    s["fixed_rate"] = rate;
    s["trigger_delay_us"] = delay;
    s["trigger_filter"] = filter;
    s["trigger"] = triggerToName(trigger);
    return s;
}

json readSensorInfo(int n)
{
    VYXZEB_SENSOR_TYPE type = VYXZEB_SENSOR_Q210B;
    VYXCAM_CHECK(VYXZEB_GetSensorType, n, &type);
    int kind = 0, version = 0;
    VYXCAM_CHECK(VYXZEB_GetDeviceInformation, n, &kind, &version);
    int width = 0, height = 0, bits = 0;
    VYXCAM_CHECK(VYXZEB_GetCaptureSize, n, &width, &height, &bits);
    return json{
        {"index", n},
        {"type", static_cast<int>(type)},
        {"type_name", sensorTypeName(type)},
        {"device_kind", kind},
        {"pl_version", static_cast<unsigned long>(static_cast<unsigned int>(version))},
        {"capture_size", {{"width", width}, {"height", height}, {"bits_per_pixel", bits}}},
        {"ranges", readRanges(n)},
        {"settings", readSettings(n)},
    };
}

json readCameraInfo()
{
    int count = 0;
    VYXCAM_CHECK(VYXZEB_GetSensorNum, &count);
    json sensors = json::array();
    for (int n = 0; n < count; ++n) sensors.push_back(readSensorInfo(n));
    return json{
        {"library_version", libraryVersion()},
        {"sensor_count", count},
        {"sensors", sensors},
        {"gpio", readGpio()},
    };
}

void printCameraInfo(const json& info, FILE* out)
{
    std::fprintf(out, "library version %s, %d sensor%s\n", info["library_version"].get<std::string>().c_str(),
                 info["sensor_count"].get<int>(), info["sensor_count"].get<int>() == 1 ? "" : "s");
    for (const json& s : info["sensors"]) printSensor(s, out);
    const json& gpio = info["gpio"];
    const unsigned mask = gpio["direction_mask"].get<unsigned>();
    std::fprintf(out, "gpio: %d lines, direction mask 0x%02X (", gpio["count"].get<int>(), mask);
    for (int line = 0; line < gpio["count"].get<int>(); ++line)
        std::fprintf(out, "%s%d %s", line ? ", " : "", line, (mask >> line) & 1u ? "out" : "in");
    std::fprintf(out, ")\n");
}

}  // namespace vyxcam
