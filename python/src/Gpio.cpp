// Gpio.cpp - the board's GPIO lines (vyxzeb.gpio): lines 0 to 2 are inputs,
// 3 to 7 outputs, as the library reports.  The calls need the open device.
#include <pybind11/pybind11.h>

#include "Bindings.h"
#include "LibraryError.h"
#include "Session.h"
#include "Values.h"
#include "VYXZebApi.h"

namespace py = pybind11;

namespace vyxpy {

namespace {

constexpr unsigned long long kLargestLine = 0xFFFFFFFFull;  // the library's pin argument is an unsigned int
constexpr unsigned long long kLevelMask = 0xFFFF;           // one bit per line

// A value the library reports without an argument.
template <class T>
T readValue(int (*call)(T*), const char* name) {
    auto keep = Session::require(name);
    T value{};
    callUnlocked(name, [&] { return call(&value); });
    return value;
}

bool get(py::handle line) {
    const char* name = "VYXZEB_GpioGet";
    auto keep = Session::require(name);
    const auto pin = static_cast<unsigned>(toUnsigned(line, name, kLargestLine));
    bool level = false;
    callUnlocked(name, [&] { return VYXZEB_GpioGet(pin, &level); });
    return level;
}

void set(py::handle line, py::handle value) {
    const char* name = "VYXZEB_GpioSet";
    auto keep = Session::require(name);
    const auto pin = static_cast<unsigned>(toUnsigned(line, name, kLargestLine));
    const bool level = toTruth(value);
    callUnlocked(name, [&] { return VYXZEB_GpioSet(pin, level); });
}

void setStatus(py::handle levels) {
    const char* name = "VYXZEB_GpioSetStatus";
    auto keep = Session::require(name);
    const auto mask = static_cast<unsigned short>(toUnsigned(levels, name, kLevelMask));
    callUnlocked(name, [&] { return VYXZEB_GpioSetStatus(mask); });
}

}  // namespace

void bindGpio(py::module_& m) {
    m.def("gpio_count", [] { return readValue(VYXZEB_GpioGetNum, "VYXZEB_GpioGetNum"); });
    m.def("gpio_direction_mask", [] { return readValue(VYXZEB_GpioGetDirection, "VYXZEB_GpioGetDirection"); });
    m.def("gpio_get", &get, py::arg("line"));
    m.def("gpio_set", &set, py::arg("line"), py::arg("value"));
    m.def("gpio_status", [] { return readValue(VYXZEB_GpioGetStatus, "VYXZEB_GpioGetStatus"); });
    m.def("gpio_set_status", &setStatus, py::arg("levels"));
}

}  // namespace vyxpy
