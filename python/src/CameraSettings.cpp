// CameraSettings.cpp - the settings of a camera set as one table: for every
// name Python's Camera uses, the library's getter, setter and range.
//
// Values from Python are converted to the C argument type with the checks of
// Values.h.  Ranges the library clamps to are checked by the Python side
// against range().
#include <functional>
#include <limits>
#include <map>
#include <string>

#include "CameraCore.h"
#include "LibraryError.h"
#include "Session.h"
#include "Values.h"
#include "VYXZebApi.h"

namespace py = pybind11;

namespace vyxpy {

namespace {

// Values the API layer fixes without a range call.
constexpr unsigned long kHighestFrameBufNumber = 3;    // VYXZEB_SetFrameBufNum accepts 0..3
constexpr unsigned long kMicrosecondsPerSecond = 1000000;  // fps beyond this give a period of 0 (off)
constexpr unsigned long kLongestTimeOutMs = 0xFFFFFFFFul;  // one 32-bit count of milliseconds

struct Setting {
    std::function<py::object(Session&, int)> get;
    std::function<void(Session&, int, py::handle)> set;
    std::function<py::tuple(Session&, int)> range;
};

// ---- Python value -> C argument
template <class T>
T toC(py::handle v, const char* function) {
    if constexpr (std::is_same_v<T, bool>)
        return toTruth(v);
    else if constexpr (std::is_floating_point_v<T>)
        return toFiniteFloat(v, function);
    else if constexpr (std::is_enum_v<T>)
        return static_cast<T>(toUnsigned(v, function, std::numeric_limits<int>::max()));
    else
        return static_cast<T>(toUnsigned(v, function, std::numeric_limits<T>::max()));
}

// ---- C result -> Python value
template <class T>
py::object toPython(T v) {
    if constexpr (std::is_same_v<T, bool>)
        return py::bool_(v);
    else if constexpr (std::is_floating_point_v<T>)
        return py::float_(v);
    else if constexpr (std::is_enum_v<T>)
        return py::int_(static_cast<int>(v));
    else
        return py::int_(v);
}

// ---- table entries
template <class T>
Setting scalar(int (*get)(int, T*), const char* getName, int (*set)(int, T), const char* setName) {
    Setting s;
    s.get = [=](Session&, int index) {
        T v{};
        callUnlocked(getName, [&] { return get(index, &v); });
        return toPython(v);
    };
    s.set = [=](Session&, int index, py::handle value) {
        const T v = toC<T>(value, setName);
        callUnlocked(setName, [&] { return set(index, v); });
    };
    return s;
}

template <class T>
Setting withRange(Setting s, int (*range)(int, T*, T*), const char* rangeName) {
    s.range = [=](Session&, int index) {
        T lo{}, hi{};
        callUnlocked(rangeName, [&] { return range(index, &lo, &hi); });
        return py::make_tuple(toPython(lo), toPython(hi));
    };
    return s;
}

Setting withRange(Setting s, unsigned long lo, unsigned long hi) {
    s.range = [=](Session&, int) { return py::make_tuple(lo, hi); };
    return s;
}

Setting fieldOfView() {
    Setting s;
    s.get = [](Session&, int index) -> py::object {
        unsigned long v[4] = {};
        callUnlocked("VYXZEB_GetCaptureFieldOfView",
                     [&] { return VYXZEB_GetCaptureFieldOfView(index, &v[0], &v[1], &v[2], &v[3]); });
        return py::make_tuple(v[0], v[1], v[2], v[3]);
    };
    s.set = [](Session&, int index, py::handle value) {
        const char* name = "VYXZEB_SetCaptureFieldOfView";
        const auto v = toUnsignedTuple(value, 4, name, std::numeric_limits<unsigned long>::max(),
                                       "the field of view is (x, y, width, height)");
        callUnlocked(name, [&] {
            return VYXZEB_SetCaptureFieldOfView(index, static_cast<unsigned long>(v[0]), static_cast<unsigned long>(v[1]),
                                                static_cast<unsigned long>(v[2]), static_cast<unsigned long>(v[3]));
        });
    };
    s.range = [](Session&, int index) {
        unsigned long v[4] = {};
        callUnlocked("VYXZEB_GetCaptureFieldOfViewRange",
                     [&] { return VYXZEB_GetCaptureFieldOfViewRange(index, &v[0], &v[1], &v[2], &v[3]); });
        return py::make_tuple(v[0], v[1], v[2], v[3]);
    };
    return s;
}

Setting timeout() {
    Setting s;
    s.get = [](Session& session, int index) -> py::object { return py::int_(session.timeoutMs(index)); };
    s.set = [](Session& session, int index, py::handle value) {
        const auto ms = static_cast<unsigned long>(toUnsigned(value, "VYXZEB_CaptureSetTimeOut", kLongestTimeOutMs));
        py::gil_scoped_release unlocked;
        session.setTimeoutMs(index, ms);
    };
    return withRange(s, 0, kLongestTimeOutMs);
}

#define VYX_FN(f) f, #f

const std::map<std::string, Setting>& table() {
    static const std::map<std::string, Setting> settings = {
        {"exposure_ms", withRange(scalar<float>(VYX_FN(VYXZEB_GetExposureTime), VYX_FN(VYXZEB_SetExposureTime)),
                                  VYX_FN(VYXZEB_GetExposureTimeRange))},
        {"exposure_lines",
         withRange(scalar<unsigned long>(VYX_FN(VYXZEB_GetExposureLines), VYX_FN(VYXZEB_SetExposureLines)),
                   VYX_FN(VYXZEB_GetExposureLinesRange))},
        {"gain", withRange(scalar<unsigned long>(VYX_FN(VYXZEB_GetGain), VYX_FN(VYXZEB_SetGain)),
                           VYX_FN(VYXZEB_GetGainRange))},
        {"field_of_view", fieldOfView()},
        {"address_mode", scalar<VYX_ADDRESSMODE>(VYX_FN(VYXZEB_GetAddressMode), VYX_FN(VYXZEB_SetAddressMode))},
        {"mirror", scalar<bool>(VYX_FN(VYXZEB_GetMirror), VYX_FN(VYXZEB_SetMirror))},
        {"flip", scalar<bool>(VYX_FN(VYXZEB_GetFlip), VYX_FN(VYXZEB_SetFlip))},
        {"flash", scalar<bool>(VYX_FN(VYXZEB_FlashGetEnable), VYX_FN(VYXZEB_FlashSetEnable))},
        {"flash_invert", scalar<bool>(VYX_FN(VYXZEB_FlashGetInvert), VYX_FN(VYXZEB_FlashSetInvert))},
        {"trigger_mode",
         scalar<VYXZEB_TRIGGER_MODE>(VYX_FN(VYXZEB_GetTriggerMode), VYX_FN(VYXZEB_SetTriggerMode))},
        {"trigger_delay",
         withRange(scalar<unsigned long>(VYX_FN(VYXZEB_GetTriggerDelay), VYX_FN(VYXZEB_SetTriggerDelay)),
                   VYX_FN(VYXZEB_GetTriggerDelayRange))},
        {"trigger_filter",
         withRange(scalar<unsigned short>(VYX_FN(VYXZEB_GetTriggerFilter), VYX_FN(VYXZEB_SetTriggerFilter)),
                   VYX_FN(VYXZEB_GetTriggerFilterRange))},
        {"multi_frame",
         withRange(scalar<unsigned long>(VYX_FN(VYXZEB_GetMultiFrame), VYX_FN(VYXZEB_SetMultiFrame)),
                   VYX_FN(VYXZEB_GetMultiFrameRange))},
        {"frame_buffers",
         withRange(scalar<unsigned long>(VYX_FN(VYXZEB_GetFrameBufNum), VYX_FN(VYXZEB_SetFrameBufNum)), 0,
                   kHighestFrameBufNumber)},
        {"fixed_frame_rate",
         withRange(scalar<unsigned long>(VYX_FN(VYXZEB_GetFixFrameRate), VYX_FN(VYXZEB_SetFixFrameRate)), 0,
                   kMicrosecondsPerSecond)},
        {"timeout_ms", timeout()},
    };
    return settings;
}

#undef VYX_FN

const Setting& lookup(const std::string& name) {
    auto it = table().find(name);
    if (it == table().end()) throw py::key_error("no camera setting named '" + name + "'");
    return it->second;
}

}  // namespace

std::vector<std::string> CameraCore::settingNames() {
    std::vector<std::string> names;
    for (const auto& entry : table()) names.push_back(entry.first);
    return names;
}

py::object CameraCore::get(const std::string& name) const {
    const Setting& s = lookup(name);
    auto keep = session(name.c_str());
    return s.get(*keep, m_index);
}

void CameraCore::set(const std::string& name, py::handle value) {
    const Setting& s = lookup(name);
    auto keep = session(name.c_str());
    s.set(*keep, m_index, value);
}

py::tuple CameraCore::range(const std::string& name) const {
    const Setting& s = lookup(name);
    if (!s.range) throw py::key_error("the setting '" + name + "' has no numeric range");
    auto keep = session(name.c_str());
    return s.range(*keep, m_index);
}

}  // namespace vyxpy
