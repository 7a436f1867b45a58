// SimConfig.h - the virtual board's run settings: what the camera looks at,
// sensor noise, the frame stamp, the outside world on the trigger input, the
// signal trace and the screen file.
//
// Each setting is an environment variable read once, when the board's model
// starts in a process.  The launcher vyxsim turns its options into these
// variables; a program that loads the board another way (LD_PRELOAD, a test
// linking it) sets them itself.  A value that cannot be used is reported on
// standard error and the setting keeps its default.
//
//   VYXSIM_SCENE=PATH          a PNG file, a folder of PNG files (played in
//                              name order, looping) or "moving"
//   VYXSIM_SCENE_FPS=F         pictures per second of scene time; 0 (default)
//                              shows one picture per frame the sensor produces
//   VYXSIM_LIGHT=X             brightness factor on every frame (default 1)
//   VYXSIM_STAMP=0             no frame counter in the first 8 bytes of a frame
//   VYXSIM_NOISE=1             sensor noise (SensorNoise.h)
//   VYXSIM_SEED=N              seed of the noise (default 1)
//   VYXSIM_TRIGGER_EVERY=MS    square wave of that period on trigger input line 0
//   VYXSIM_TRIGGER_ON_SIGNAL=1 each SIGUSR1 to the program gives one pulse on it
//   VYXSIM_TRACE=FILE.vcd      waveform trace of the camera's signals
//   VYXSIM_HDMI_EVERY=MS       rewrite the screen file (vyxsim --hdmi) that often
//   VYXSIM_POLL=auto|on|off    poll for frames instead of sleeping (WakePolicy.h)
#ifndef VYX_MODEL_SIM_CONFIG_H
#define VYX_MODEL_SIM_CONFIG_H

#include <cstdint>
#include <string>

#include "WakePolicy.h"

namespace vb {
namespace model {

namespace env {
constexpr const char* kScene = "VYXSIM_SCENE";
constexpr const char* kSceneFps = "VYXSIM_SCENE_FPS";
constexpr const char* kLight = "VYXSIM_LIGHT";
constexpr const char* kStamp = "VYXSIM_STAMP";
constexpr const char* kNoise = "VYXSIM_NOISE";
constexpr const char* kSeed = "VYXSIM_SEED";
constexpr const char* kTriggerEvery = "VYXSIM_TRIGGER_EVERY";
constexpr const char* kTriggerOnSignal = "VYXSIM_TRIGGER_ON_SIGNAL";
constexpr const char* kTrace = "VYXSIM_TRACE";
constexpr const char* kHdmiEvery = "VYXSIM_HDMI_EVERY";
constexpr const char* kPoll = "VYXSIM_POLL";
}  // namespace env

// The special scene name of the built-in moving pattern (MovingScene.h).
constexpr const char* kMovingSceneName = "moving";

struct SimConfig {
    std::string scene;    // empty: the test pattern
    double sceneFps = 0;  // 0: one picture per produced frame
    double light = 1;
    bool stamp = true;
    bool noise = false;
    uint64_t seed = 1;
    double triggerEveryMs = 0;  // 0: no square wave
    bool triggerOnSignal = false;
    std::string trace;       // empty: no trace
    double hdmiEveryMs = 0;  // 0: the screen is written at the end only
    PollMode poll = PollMode::Auto;
};

// Number parsers shared with the launcher: the whole text must be the
// number.  False (value untouched) otherwise.
bool parseNonNegative(const char* text, double& value);  // finite, >= 0
bool parsePositive(const char* text, double& value);     // finite, > 0
bool parseCount(const char* text, uint64_t& value);      // decimal, no sign
bool parseSwitch(const char* text, bool& value);         // 1/0, yes/no, on/off, true/false

// The settings as the environment gives them; problems go to standard error.
SimConfig readSimConfig();

}  // namespace model
}  // namespace vb

#endif
