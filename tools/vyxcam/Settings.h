// Settings.h - the camera settings every capturing command takes (SETTINGS
// in the help): what they are, their limits and the one order they are
// applied in.
//
// Settings do not survive a process: VYXZEB_Init loads the sensor's start-up
// table and resets the PL.  A command therefore opens the camera and applies
// exactly the settings on its command line, right away, in this order:
//
//    1. --address-mode              geometry first: the frame size and the
//    2. --fov or --center           sensor's line length follow from it
//    3. --mirror, --flip
//    4. --exposure-ms or --exposure-lines
//                                   after the geometry, whose line length
//                                   bounds the exposure
//    5. --gain
//    6. --flash, --flash-invert
//    7. --frame-buffers
//    8. --multi-frame               its maximum follows the frame size
//    9. --fixed-rate
//   10. --trigger-delay-us, --trigger-filter
//   11. --timeout-ms
//   12. --trigger                   always, and last: changing the mode stops
//                                   the PL, empties its frame buffers and
//                                   starts acquisition again with everything
//                                   above in force (default: software)
//
// Limits.  What the API itself fixes (the trigger names, address modes 0 to
// 4, frame-buffer number 0 to 3, trigger delay and filter 0 to 65535, a
// fixed rate of at most 1000000 fps) is checked while the command line is
// read, before the camera opens.  What the sensor decides (gain, exposure
// lines, field of view) is checked against the ranges the camera reports
// right after VYXZEB_Init, before anything is applied; the exposure time and
// the multi-frame count, whose ranges follow the geometry, right before they
// are applied.  A value outside is a usage error either way (UsageError).
#ifndef VYXCAM_SETTINGS_H
#define VYXCAM_SETTINGS_H

#include <optional>
#include <string>

#include "Errors.h"
#include "VYXZebApi.h"

namespace vyxcam {

// Limits the API fixes (see VYXZebApi.h).
constexpr unsigned long kMaxFrameBufferNumber = 3;       // VYXZEB_SetFrameBufNum
constexpr unsigned long kMaxTriggerDelay = 65535;        // VYXZEB_GetTriggerDelayRange
constexpr unsigned long kMaxTriggerFilter = 65535;       // VYXZEB_GetTriggerFilterRange
constexpr unsigned long kMaxFixedRate = 1000000;         // above: a period of 0, the same as off
constexpr int kMaxAddressMode = VYX_ADDRESSMODE_DIV8;
constexpr int kMaxSensorIndex = 3;                       // at most four camera sets

// A rectangle of the sensor in sensor pixels (--fov), or only a size
// (--center: x and y are then worked out from the camera's range).
struct SensorWindow {
    unsigned long x = 0, y = 0, width = 0, height = 0;
};

// A setting outside its range.  what() is the whole message ("--gain 99:
// outside the camera's gain range 0 to 48"); option and allowed say which
// setting and what it takes, for the live view's answers.
struct RangeError : UsageError {
    RangeError(const std::string& option, const std::string& message, const std::string& allowed)
        : UsageError(message), option(option), allowed(allowed)
    {
    }
    std::string option;    // "--gain"
    std::string allowed;   // "0 to 48"
};

// Every setting is optional: what the command line does not name keeps the
// value VYXZEB_Init gave it.
struct CameraSettings {
    int sensor = 0;
    std::optional<int> addressMode;
    std::optional<SensorWindow> fov;
    std::optional<SensorWindow> center;
    std::optional<bool> mirror;
    std::optional<bool> flip;
    std::optional<double> exposureMs;
    std::optional<unsigned long> exposureLines;
    std::optional<unsigned long> gain;
    std::optional<bool> flash;
    std::optional<bool> flashInvert;
    std::optional<unsigned long> frameBuffers;
    std::optional<unsigned long> multiFrame;
    std::optional<unsigned long> fixedRate;
    std::optional<unsigned long> triggerDelay;
    std::optional<unsigned long> triggerFilter;
    std::optional<unsigned long> timeoutMs;
    std::optional<VYXZEB_TRIGGER_MODE> trigger;   // applied as software when not given
};

// The trigger names of --trigger and the modes they stand for.
struct TriggerName {
    const char* name;
    VYXZEB_TRIGGER_MODE mode;
};
constexpr TriggerName kTriggerNames[] = {
    {"continuous", VYXZEB_TRIGGER_CONTINUOUS},   {"software", VYXZEB_TRIGGER_SOFTWARE},
    {"external0", VYXZEB_TRIGGER_EXTERNAL_TYPE0}, {"external1", VYXZEB_TRIGGER_EXTERNAL_TYPE1},
    {"external2", VYXZEB_TRIGGER_EXTERNAL_TYPE2}, {"external3", VYXZEB_TRIGGER_EXTERNAL_TYPE3},
};
std::optional<VYXZEB_TRIGGER_MODE> triggerFromName(const std::string& name);
// Name of a mode; "unknown" for a value outside the enumeration.
const char* triggerToName(int mode);

// Checks the sensor's ranges (gain, exposure lines, field of view) against
// what the camera reports.  Throws UsageError naming the option, CallError
// when a range cannot be read.
void checkCameraRanges(const CameraSettings& s);

// Applies the settings in the order above.  Throws CallError at the first
// failing call, UsageError for an exposure time or multi-frame count outside
// the range of the new geometry.
void applySettings(const CameraSettings& s);

}  // namespace vyxcam

#endif
