// Module.cpp - vyxzeb._vyxzeb, the compiled half of the Python package
// vyxzeb.  The package's Python modules give it its documented surface; this
// is what they build on: the device, frames, settings, display, GPIO and the
// library's constants and return-code table.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <initializer_list>
#include <utility>

#include "Bindings.h"
#include "CameraCore.h"
#include "FrameHold.h"
#include "LibraryError.h"
#include "VYXZebApi.h"

namespace py = pybind11;

namespace {

using vyxpy::CameraCore;
using vyxpy::FrameHold;

py::dict named(std::initializer_list<std::pair<const char*, int>> values) {
    py::dict d;
    for (const auto& [name, value] : values) d[name] = value;
    return d;
}

void bindConstants(py::module_& m) {
    m.attr("TRIGGER_MODES") = named({{"CONTINUOUS", VYXZEB_TRIGGER_CONTINUOUS},
                                     {"SOFTWARE", VYXZEB_TRIGGER_SOFTWARE},
                                     {"EXTERNAL_TYPE2", VYXZEB_TRIGGER_EXTERNAL_TYPE2},
                                     {"EXTERNAL_TYPE3", VYXZEB_TRIGGER_EXTERNAL_TYPE3},
                                     {"EXTERNAL_TYPE0", VYXZEB_TRIGGER_EXTERNAL_TYPE0},
                                     {"EXTERNAL_TYPE1", VYXZEB_TRIGGER_EXTERNAL_TYPE1}});
    m.attr("ADDRESS_MODES") = named({{"NORMAL", VYX_ADDRESSMODE_NORMAL},
                                     {"DIV2", VYX_ADDRESSMODE_DIV2},
                                     {"DIV3", VYX_ADDRESSMODE_DIV3},
                                     {"DIV4", VYX_ADDRESSMODE_DIV4},
                                     {"DIV8", VYX_ADDRESSMODE_DIV8}});
    m.attr("SENSOR_TYPES") = named({{"V880A", VYXZEB_SENSOR_V880A}, {"Q210B", VYXZEB_SENSOR_Q210B}});
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
