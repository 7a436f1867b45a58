// fuzz_settings_json - the live view's settings body (PUT /api/settings).
//
// The input is a camera set (0..3, the first byte) and the request body.  It
// goes through the two steps the web server's handler takes before anything
// reaches the camera: jsonFromBody, then settingsFromJson.  Either step may refuse
// the body (a parse error, a FieldError naming the key); nothing else may
// escape: any other exception (a type error from a value of the wrong
// kind) would end the server's request with a 500 instead of a 400 that
// names the key.  Checked on every body accepted:
//   - the settings satisfy the API's fixed limits (SettingsCheck.h);
//   - a FieldError names a field and what it allows;
//   - the settings read the same when written back as JSON by the server's
//     own rules (every key named after its option) and read again.
// Needs no camera: the handler's checks come before the camera is asked.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "SettingsCheck.h"
#include "SettingsJson.h"

namespace {

constexpr const char* kTarget = "fuzz_settings_json";

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "%s: %s\n", kTarget, what.c_str());
    std::abort();
}

// The settings as the JSON body that asks for them.
vyxcam::Json ToJson(const vyxcam::CameraSettings& s)
{
    vyxcam::Json j = vyxcam::Json::object();
    auto window = [](const vyxcam::SensorWindow& w, bool origin) {
        vyxcam::Json o{{"width", w.width}, {"height", w.height}};
        if (origin) {
            o["x"] = w.x;
            o["y"] = w.y;
        }
        return o;
    };
    if (s.addressMode)
        j["address_mode"] = *s.addressMode;
    if (s.fov)
        j["fov"] = window(*s.fov, true);
    if (s.center)
        j["center"] = window(*s.center, false);
    if (s.mirror)
        j["mirror"] = *s.mirror;
    if (s.flip)
        j["flip"] = *s.flip;
    if (s.exposureMs)
        j["exposure_ms"] = *s.exposureMs;
    if (s.exposureLines)
        j["exposure_lines"] = *s.exposureLines;
    if (s.gain)
        j["gain"] = *s.gain;
    if (s.flash)
        j["flash"] = *s.flash ? "on" : "off";
    if (s.flashInvert)
        j["flash_invert"] = *s.flashInvert;
    if (s.frameBuffers)
        j["frame_buffers"] = *s.frameBuffers;
    if (s.multiFrame)
        j["multi_frame"] = *s.multiFrame;
    if (s.fixedRate)
        j["fixed_rate"] = *s.fixedRate;
    if (s.triggerDelay)
        j["trigger_delay_us"] = *s.triggerDelay;
    if (s.triggerFilter)
        j["trigger_filter"] = *s.triggerFilter;
    if (s.timeoutMs)
        j["timeout_ms"] = *s.timeoutMs;
    if (s.trigger)
        j["trigger"] = vyxcam::triggerToName(*s.trigger);
    return j;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int sensor = data[0] & 3;
    std::string error;
    const std::optional<vyxcam::Json> body =
        vyxcam::jsonFromBody(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), &error);
    if (!body) {
        if (error.empty())
            Fail("a body refused without a reason");
        return 0;  // answered 400 "the body is not JSON"
    }
    vyxcam::CameraSettings s;
    try {
        s = vyxcam::settingsFromJson(*body, sensor);
    } catch (const vyxcam::FieldError& e) {
        // An unknown key is named as sent, and a key may be "".
        const bool emptyKeySent = body->is_object() && body->contains("");
        if ((e.field.empty() && !emptyKeySent) || e.allowed.empty() || std::string(e.what()).empty())
            Fail("a refusal that names no field or no allowed values");
        return 0;
    }
    if (s.sensor != sensor)
        Fail("the camera set changed");
    vyxfuzz::CheckSettings(kTarget, s);
    const vyxcam::Json again = ToJson(s);
    vyxcam::CameraSettings t;
    try {
        t = vyxcam::settingsFromJson(again, sensor);
    } catch (const vyxcam::FieldError& e) {
        Fail("accepted settings are refused when read back: " + std::string(e.what()) + " in " +
             again.dump());
    }
    if (ToJson(t) != again)
        Fail("settings read back differ: " + again.dump() + " / " + ToJson(t).dump());
    return 0;
}
