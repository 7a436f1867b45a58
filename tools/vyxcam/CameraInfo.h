// CameraInfo.h - what the open camera reports about itself, as JSON with
// stable key names (listed in README.md), and as text for people.
//
// Setting keys are named after the options that set them (--exposure-ms is
// "exposure_ms"), so a script can read a value from `vyxcam info --json` and
// pass it back on a command line.
#ifndef VYXCAM_CAMERA_INFO_H
#define VYXCAM_CAMERA_INFO_H

#include <cstdio>
#include <nlohmann/json.hpp>

namespace vyxcam {

// JSON objects keep their keys in the order they were written.
using Json = nlohmann::ordered_json;

// Library version, sensors with their identity, ranges and current
// settings, GPIO lines.  Needs the open camera; throws CallError.
Json readCameraInfo();

// One sensor's identity, capture size, ranges and current settings.
Json readSensorInfo(int sensor);

// The settings in force on one sensor, keyed like the options.
Json readSettings(int sensor);

// "2.2.0.0"; works without the camera.
std::string libraryVersion();

// Writes readCameraInfo()'s result for people.
void printCameraInfo(const Json& info, FILE* out);

// A float the library reports, as the double with the same 7 significant
// digits (so JSON shows 24.99993, not 24.999929428100586).
double floatValue(float value);

}  // namespace vyxcam

#endif
