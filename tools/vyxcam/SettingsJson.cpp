// SettingsJson.cpp - reading SETTINGS from a JSON object.
#include "SettingsJson.h"

#include <climits>
#include <cmath>
#include <cstdint>

namespace vyxcam {

namespace {

std::string rangeText(unsigned long min, unsigned long max)
{
    return std::to_string(min) + " to " + std::to_string(max);
}

[[noreturn]] void wrong(const std::string& field, const std::string& what, const std::string& allowed)
{
    throw FieldError(field, field + ": " + what + "; it takes " + allowed, allowed);
}

unsigned long unsignedField(const Json& v, const std::string& field, unsigned long min, unsigned long max)
{
    const std::string allowed =
        max == ULONG_MAX ? "a whole number, " + std::to_string(min) + " or more" : "a whole number from " + rangeText(min, max);
    if (!v.is_number_integer()) wrong(field, "not a whole number", allowed);
    // A whole number may be held signed (JSON built here) or unsigned (parsed).
    if (v.is_number_unsigned() || v.get<std::int64_t>() >= 0) {
        const auto n = v.get<std::uint64_t>();
        if (n >= min && n <= max) return static_cast<unsigned long>(n);
    }
    wrong(field, v.dump() + " is outside " + rangeText(min, max), allowed);
}

bool boolField(const Json& v, const std::string& field)
{
    if (!v.is_boolean()) wrong(field, "not true or false", "true or false");
    return v.get<bool>();
}

SensorWindow windowField(const Json& v, const std::string& field, bool withOrigin)
{
    const char* const keys[] = {"x", "y", "width", "height"};
    const std::string allowed = withOrigin ? "an object {\"x\", \"y\", \"width\", \"height\"} of whole numbers"
                                           : "an object {\"width\", \"height\"} of whole numbers";
    if (!v.is_object()) wrong(field, "not an object", allowed);
    unsigned long values[4] = {};
    for (int i = withOrigin ? 0 : 2; i < 4; ++i) {
        if (!v.contains(keys[i])) wrong(field, std::string("\"") + keys[i] + "\" is missing", allowed);
        values[i] = unsignedField(v[keys[i]], field + "." + keys[i], 0, ULONG_MAX);
    }
    for (const auto& item : v.items()) {
        bool known = false;
        for (int i = withOrigin ? 0 : 2; i < 4; ++i) known = known || item.key() == keys[i];
        if (!known) wrong(field + "." + item.key(), "not a key of " + field, allowed);
    }
    return SensorWindow{values[0], values[1], values[2], values[3]};
}

std::string triggerNames()
{
    std::string names;
    for (const TriggerName& t : kTriggerNames) names += (names.empty() ? "" : ", ") + std::string(t.name);
    return names;
}

// One key of the object into s.
void readKey(const std::string& key, const Json& v, CameraSettings& s)
{
    if (key == "address_mode") {
        s.addressMode = static_cast<int>(unsignedField(v, key, 0, kMaxAddressMode));
    } else if (key == "fov") {
        s.fov = windowField(v, key, true);
    } else if (key == "center") {
        s.center = windowField(v, key, false);
    } else if (key == "mirror") {
        s.mirror = boolField(v, key);
    } else if (key == "flip") {
        s.flip = boolField(v, key);
    } else if (key == "exposure_ms") {
        if (!v.is_number() || !std::isfinite(v.get<double>()) || v.get<double>() < 0)
            wrong(key, "not a number of milliseconds", "a number of milliseconds, 0 or more");
        s.exposureMs = v.get<double>();
    } else if (key == "exposure_lines") {
        s.exposureLines = unsignedField(v, key, 0, ULONG_MAX);
    } else if (key == "gain") {
        s.gain = unsignedField(v, key, 0, ULONG_MAX);
    } else if (key == "flash") {
        if (!v.is_string() || (v != "on" && v != "off")) wrong(key, "not \"on\" or \"off\"", "\"on\" or \"off\"");
        s.flash = v == "on";
    } else if (key == "flash_invert") {
        s.flashInvert = boolField(v, key);
    } else if (key == "frame_buffers") {
        s.frameBuffers = unsignedField(v, key, 0, kMaxFrameBufferNumber);
    } else if (key == "multi_frame") {
        s.multiFrame = unsignedField(v, key, 1, ULONG_MAX);
    } else if (key == "fixed_rate") {
        s.fixedRate = unsignedField(v, key, 0, kMaxFixedRate);
    } else if (key == "trigger_delay_us") {
        s.triggerDelay = unsignedField(v, key, 0, kMaxTriggerDelay);
    } else if (key == "trigger_filter") {
        s.triggerFilter = unsignedField(v, key, 0, kMaxTriggerFilter);
    } else if (key == "timeout_ms") {
        s.timeoutMs = unsignedField(v, key, 1, ULONG_MAX);
    } else if (key == "trigger") {
        s.trigger = v.is_string() ? triggerFromName(v.get<std::string>()) : std::nullopt;
        if (!s.trigger) wrong(key, "not a trigger mode", triggerNames());
    } else {
        wrong(key, "not a setting",
              "address_mode, fov, center, mirror, flip, exposure_ms, exposure_lines, gain, flash, flash_invert, "
              "frame_buffers, multi_frame, fixed_rate, trigger_delay_us, trigger_filter, timeout_ms, trigger");
    }
}

}  // namespace

std::optional<Json> jsonFromBody(const std::string& body, std::string* error)
{
    try {
        return Json::parse(body);
    } catch (const Json::exception& e) {  // parse_error, and out_of_range for 1e400
        *error = e.what();
        return std::nullopt;
    }
}

CameraSettings settingsFromJson(const Json& body, int sensor)
{
    if (!body.is_object()) wrong("settings", "not a JSON object", "an object of settings");
    CameraSettings s;
    s.sensor = sensor;
    for (const auto& item : body.items()) readKey(item.key(), item.value(), s);
    if (s.fov && s.center) wrong("center", "goes with fov", "either fov or center");
    if (s.exposureMs && s.exposureLines) wrong("exposure_lines", "goes with exposure_ms", "either exposure_ms or exposure_lines");
    return s;
}

std::string keyOfOption(const std::string& option)
{
    std::string key = option.rfind("--", 0) == 0 ? option.substr(2) : option;
    for (char& c : key)
        if (c == '-') c = '_';
    return key;
}

}  // namespace vyxcam
