// SettingsCheck.h - what every set of camera settings vyxcam accepts must
// satisfy, however it was read (command line or the live view's JSON): the
// limits the API fixes hold, and no two settings that exclude each other
// are both given.  A target calls CheckSettings on what a reader accepted
// and aborts on the first broken rule.
#ifndef VYX_FUZZ_SETTINGS_CHECK_H
#define VYX_FUZZ_SETTINGS_CHECK_H

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Settings.h"

namespace vyxfuzz {

[[noreturn]] inline void SettingsFail(const char* target, const char* what)
{
    std::fprintf(stderr, "%s: accepted settings break a rule: %s\n", target, what);
    std::abort();
}

inline void CheckSettings(const char* target, const vyxcam::CameraSettings& s)
{
    using namespace vyxcam;
    if (s.sensor < 0 || s.sensor > kMaxSensorIndex)
        SettingsFail(target, "sensor outside 0..3");
    if (s.addressMode && (*s.addressMode < 0 || *s.addressMode > kMaxAddressMode))
        SettingsFail(target, "address mode outside 0..4");
    if (s.fov && s.center)
        SettingsFail(target, "both a field of view and a centred window");
    if (s.center && (s.center->x != 0 || s.center->y != 0))
        SettingsFail(target, "a centred window with an origin");
    if (s.exposureMs && s.exposureLines)
        SettingsFail(target, "both exposure milliseconds and lines");
    if (s.exposureMs && (!std::isfinite(*s.exposureMs) || *s.exposureMs < 0))
        SettingsFail(target, "an exposure time that is negative or not finite");
    if (s.frameBuffers && *s.frameBuffers > kMaxFrameBufferNumber)
        SettingsFail(target, "frame buffers above 3");
    if (s.multiFrame && *s.multiFrame == 0)
        SettingsFail(target, "a multi-frame count of 0");
    if (s.fixedRate && *s.fixedRate > kMaxFixedRate)
        SettingsFail(target, "a fixed rate above the limit");
    if (s.triggerDelay && *s.triggerDelay > kMaxTriggerDelay)
        SettingsFail(target, "a trigger delay above 65535");
    if (s.triggerFilter && *s.triggerFilter > kMaxTriggerFilter)
        SettingsFail(target, "a trigger filter above 65535");
    if (s.timeoutMs && *s.timeoutMs == 0)
        SettingsFail(target, "a time-out of 0");
    if (s.trigger) {
        bool named = false;
        for (const TriggerName& t : kTriggerNames)
            named = named || t.mode == *s.trigger;
        if (!named)
            SettingsFail(target, "a trigger mode without a name");
    }
}

}  // namespace vyxfuzz

#endif
