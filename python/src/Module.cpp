// Module.cpp - vyxzeb._vyxzeb, the compiled half of the Python package
// vyxzeb.  The package's Python modules give it its documented surface; this
// is what they build on: the device, frames, settings, display, GPIO and the
// library's constants and return-code table.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "CameraCore.h"
#include "FrameHold.h"
#include "LibraryError.h"
#include "VYXZebApi.h"

namespace py = pybind11;

namespace vyxpy {
void bindGpio(py::module_& m);
void bindLibrary(py::module_& m);
}  // namespace vyxpy

namespace {

using vyxpy::CameraCore;
using vyxpy::FrameHold;

void bindConstants(py::module_& m) {
    py::dict trigger;
    trigger["CONTINUOUS"] = static_cast<int>(VYXZEB_TRIGGER_CONTINUOUS);
    trigger["SOFTWARE"] = static_cast<int>(VYXZEB_TRIGGER_SOFTWARE);
    trigger["EXTERNAL_TYPE2"] = static_cast<int>(VYXZEB_TRIGGER_EXTERNAL_TYPE2);
    trigger["EXTERNAL_TYPE3"] = static_cast<int>(VYXZEB_TRIGGER_EXTERNAL_TYPE3);
    trigger["EXTERNAL_TYPE0"] = static_cast<int>(VYXZEB_TRIGGER_EXTERNAL_TYPE0);
    trigger["EXTERNAL_TYPE1"] = static_cast<int>(VYXZEB_TRIGGER_EXTERNAL_TYPE1);
    m.attr("TRIGGER_MODES") = trigger;

    py::dict address;
    address["NORMAL"] = static_cast<int>(VYX_ADDRESSMODE_NORMAL);
    address["DIV2"] = static_cast<int>(VYX_ADDRESSMODE_DIV2);
    address["DIV3"] = static_cast<int>(VYX_ADDRESSMODE_DIV3);
    address["DIV4"] = static_cast<int>(VYX_ADDRESSMODE_DIV4);
    address["DIV8"] = static_cast<int>(VYX_ADDRESSMODE_DIV8);
    m.attr("ADDRESS_MODES") = address;

    py::dict sensor;
    sensor["V880A"] = static_cast<int>(VYXZEB_SENSOR_V880A);
    sensor["Q210B"] = static_cast<int>(VYXZEB_SENSOR_Q210B);
    m.attr("SENSOR_TYPES") = sensor;
}

void bindFrameHold(py::module_& m) {
    py::class_<FrameHold>(m, "FrameHold", "A frame buffer held by Python until finish().")
        .def_property_readonly("finished", &FrameHold::finished)
        .def_property_readonly("shape", [](const FrameHold& f) { return f.geometry().shape(); })
        .def("view", &FrameHold::view)
        .def("copy_to", &FrameHold::copyTo, py::arg("out"))
        .def("show", &FrameHold::show)
        .def("save_bmp", &FrameHold::saveBmp, py::arg("path"))
        .def("finish", &FrameHold::finish);
}

void bindCameraCore(py::module_& m) {
    py::class_<CameraCore>(m, "CameraCore", "One camera set of the board, opened.")
        .def(py::init<int>(), py::arg("index"))
        .def_property_readonly("index", &CameraCore::index)
        .def_property_readonly("closed", &CameraCore::closed)
        .def("close", &CameraCore::close)
        .def_static("setting_names", &CameraCore::settingNames)
        .def("get", &CameraCore::get, py::arg("name"))
        .def("set", &CameraCore::set, py::arg("name"), py::arg("value"))
        .def("range", &CameraCore::range, py::arg("name"))
        .def("capture_size", &CameraCore::captureSize)
        .def("sensor_type", &CameraCore::sensorType)
        .def("device_info", &CameraCore::deviceInfo)
        .def("frame_shape", [](const CameraCore& c) { return c.geometry().shape(); })
        .def("capture", &CameraCore::capture, py::arg("out") = py::none())
        .def("hold", &CameraCore::hold)
        .def("trigger", &CameraCore::trigger)
        .def("show", &CameraCore::show, py::arg("image"), py::arg("at") = py::none())
        .def("show_frame", &CameraCore::showFrame, py::arg("at") = py::none());
}

}  // namespace

PYBIND11_MODULE(_vyxzeb, m) {
    m.doc() = "Compiled part of vyxzeb: the camera through libvyxzeb.  Use the package vyxzeb.";
    vyxpy::bindErrors(m);
    bindConstants(m);
    bindFrameHold(m);
    bindCameraCore(m);
    vyxpy::bindGpio(m);
    vyxpy::bindLibrary(m);
}
