// SettingsJson.h - SETTINGS as a JSON object: the live view's PUT
// /api/settings.  Keys are those of readSettings() (named after the
// command-line options), plus "center" ({"width", "height"}) and
// "timeout_ms"; every key is optional.  Types and the limits the API fixes
// are checked here, as the command line checks them while it is read; the
// sensor's ranges are checked against the open camera (Settings.h).
#ifndef VYXCAM_SETTINGS_JSON_H
#define VYXCAM_SETTINGS_JSON_H

#include <optional>
#include <stdexcept>
#include <string>

#include "CameraInfo.h"
#include "Settings.h"

namespace vyxcam {

// A key that is unknown, of the wrong type or outside its range.
struct FieldError : std::runtime_error {
    FieldError(const std::string& field, const std::string& message, const std::string& allowed)
        : std::runtime_error(message), field(field), allowed(allowed)
    {
    }
    std::string field;     // "gain", "fov.width"
    std::string allowed;   // "0 to 4", "true or false"
};

// The JSON value of a request body; nullopt with the reason in *error when
// the body is not JSON (bad syntax, or a number beyond what a double holds).
std::optional<Json> jsonFromBody(const std::string& body, std::string* error);

// Reads the settings a JSON object asks for, for camera set `sensor`.
// Throws FieldError.
CameraSettings settingsFromJson(const Json& body, int sensor);

// The JSON key of a command-line option: "--exposure-ms" is "exposure_ms".
std::string keyOfOption(const std::string& option);

}  // namespace vyxcam

#endif
