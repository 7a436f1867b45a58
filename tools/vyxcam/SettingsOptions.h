// SettingsOptions.h - the SETTINGS options of the command line (CLI11).
// Each option checks its syntax and the API's fixed limits as it is read
// (a CLI::ValidationError naming the option); the sensor's ranges are
// checked later, against the open camera (Settings.h).
#ifndef VYXCAM_SETTINGS_OPTIONS_H
#define VYXCAM_SETTINGS_OPTIONS_H

#include "Settings.h"

namespace CLI {
class App;
}

namespace vyxcam {

// Adds --exposure-ms ... --timeout-ms and --sensor to a command, filling s.
void addSettingsOptions(CLI::App& command, CameraSettings& s);

}  // namespace vyxcam

#endif
