// SettingsOptions.cpp - SETTINGS on the command line.
#include "SettingsOptions.h"

#include <CLI/CLI.hpp>

#include <climits>

#include "Parse.h"

namespace vyxcam {

namespace {

constexpr const char* kGroup = "Settings (applied in this order after the camera opens)";

// What the virtual board does with each trigger; what the real PL does
// electrically is the PL's own business.
constexpr const char* kTriggerHelp =
    "Trigger mode, applied last: continuous (the PL acquires on its own frame clock), software (one frame "
    "per capture; the default), external0..external3 (frames from the PL's external trigger input, trigger "
    "types 0..3; the virtual board takes its GPIO input line 0 and makes a frame on a rising edge, a falling "
    "edge, both edges, and once per frame period while the line is high)";

[[noreturn]] void invalid(const std::string& option, const std::string& text, const std::string& expected)
{
    throw CLI::ValidationError(option, "'" + text + "' is not " + expected);
}

unsigned long unsignedValue(const std::string& option, const std::string& text, unsigned long min,
                            unsigned long max)
{
    const auto value = parseUnsigned(text, ULONG_MAX);
    if (!value) invalid(option, text, "a whole number");
    if (*value < min || *value > max)
        throw CLI::ValidationError(option, text + " is outside " + std::to_string(min) + " to " + std::to_string(max));
    return *value;
}

// An option taking a whole number from min to max into target.
CLI::Option* addUnsigned(CLI::App& cmd, const std::string& name, std::optional<unsigned long>& target,
                         unsigned long min, unsigned long max, const std::string& help)
{
    return cmd
        .add_option_function<std::string>(
            name, [&target, name, min, max](const std::string& text) { target = unsignedValue(name, text, min, max); },
            help)
        ->type_name("N")
        ->group(kGroup);
}

SensorWindow windowValue(const std::string& option, const std::string& text, bool withOrigin)
{
    const auto values = parseUnsignedList(text, withOrigin ? 4 : 2, ULONG_MAX);
    if (!values) invalid(option, text, withOrigin ? "X,Y,W,H (four whole numbers)" : "W,H (two whole numbers)");
    SensorWindow w;
    const std::vector<unsigned long>& v = *values;
    if (withOrigin) {
        w.x = v[0];
        w.y = v[1];
    }
    w.width = v[withOrigin ? 2 : 0];
    w.height = v[withOrigin ? 3 : 1];
    return w;
}

void addGeometry(CLI::App& cmd, CameraSettings& s)
{
    cmd.add_option_function<std::string>(
           "--address-mode",
           [&s](const std::string& t) {
               s.addressMode = static_cast<int>(unsignedValue("--address-mode", t, 0, kMaxAddressMode));
           },
           "Row and column address mode: 0 full size, 1 half, 2 a third, 3 a quarter, 4 an eighth")
        ->type_name("N")
        ->group(kGroup);
    auto* fov = cmd.add_option_function<std::string>(
                       "--fov", [&s](const std::string& t) { s.fov = windowValue("--fov", t, true); },
                       "Field of view in sensor pixels: first column, first row, width, height "
                       "(the sensor aligns columns and widths to its steps)")
                    ->type_name("X,Y,W,H")
                    ->group(kGroup);
    cmd.add_option_function<std::string>(
           "--center", [&s](const std::string& t) { s.center = windowValue("--center", t, false); },
           "A W x H field of view in the middle of the sensor")
        ->type_name("W,H")
        ->excludes(fov)
        ->group(kGroup);
    cmd.add_flag_function(
           "--mirror", [&s](std::int64_t) { s.mirror = true; }, "Mirror each row")
        ->group(kGroup);
    cmd.add_flag_function(
           "--flip", [&s](std::int64_t) { s.flip = true; }, "Flip the row order")
        ->group(kGroup);
}

void addExposure(CLI::App& cmd, CameraSettings& s)
{
    auto* ms = cmd.add_option_function<std::string>(
                      "--exposure-ms",
                      [&s](const std::string& t) {
                          s.exposureMs = parseNonNegative(t);
                          if (!s.exposureMs) invalid("--exposure-ms", t, "a number of milliseconds");
                      },
                      "Exposure time in milliseconds (range: vyxcam info)")
                   ->type_name("F")
                   ->group(kGroup);
    addUnsigned(cmd, "--exposure-lines", s.exposureLines, 0, ULONG_MAX, "Exposure in sensor lines (range: vyxcam info)")
        ->excludes(ms);
    addUnsigned(cmd, "--gain", s.gain, 0, ULONG_MAX, "Analogue gain in the sensor's steps (range: vyxcam info)");
}

void addAcquisition(CLI::App& cmd, CameraSettings& s)
{
    cmd.add_option_function<std::string>(
           "--flash",
           [&s](const std::string& t) {
               if (t != "on" && t != "off") invalid("--flash", t, "on or off");
               s.flash = t == "on";
           },
           "Flash (strobe) output of the sensor")
        ->type_name("on|off")
        ->group(kGroup);
    cmd.add_flag_function(
           "--flash-invert", [&s](std::int64_t) { s.flashInvert = true; }, "Inverted flash output")
        ->group(kGroup);
    addUnsigned(cmd, "--frame-buffers", s.frameBuffers, 0, kMaxFrameBufferNumber,
                "The PL's frame-buffer number, 0 to 3");
    addUnsigned(cmd, "--multi-frame", s.multiFrame, 1, ULONG_MAX,
                "Frames per frame buffer (1 up to what 10 MiB holds at the frame size); each capture then "
                "holds N frames, one below the other");
    addUnsigned(cmd, "--fixed-rate", s.fixedRate, 0, kMaxFixedRate,
                "Fixed frame rate in frames per second (continuous mode); 0 = the sensor's own rate");
    addUnsigned(cmd, "--trigger-delay-us", s.triggerDelay, 0, kMaxTriggerDelay,
                "Delay between an external trigger and its frame, 0 to 65535 (microseconds on the virtual board)");
    addUnsigned(cmd, "--trigger-filter", s.triggerFilter, 0, kMaxTriggerFilter,
                "Shortest external trigger pulse that counts, 0 to 65535 (microseconds on the virtual board)");
    addUnsigned(cmd, "--timeout-ms", s.timeoutMs, 1, ULONG_MAX,
                "How long one capture waits for its frame, in milliseconds (default 8000)");
    cmd.add_option_function<std::string>(
           "--trigger",
           [&s](const std::string& t) {
               s.trigger = triggerFromName(t);
               if (!s.trigger) {
                   std::string names;
                   for (const TriggerName& n : kTriggerNames) names += (names.empty() ? "" : ", ") + std::string(n.name);
                   invalid("--trigger", t, "a trigger mode (" + names + ")");
               }
           },
           kTriggerHelp)
        ->type_name("MODE")
        ->group(kGroup);
}

}  // namespace

void addSettingsOptions(CLI::App& command, CameraSettings& s)
{
    command
        .add_option_function<std::string>(
            "--sensor",
            [&s](const std::string& t) { s.sensor = static_cast<int>(unsignedValue("--sensor", t, 0, kMaxSensorIndex)); },
            "Camera set to use (default 0)")
        ->type_name("N");
    addGeometry(command, s);
    addExposure(command, s);
    addAcquisition(command, s);
}

}  // namespace vyxcam
