// BoardProbe.cpp - vyxboard_probe, a Python module for the tests of vyxzeb:
// what the virtual board lets a test see and do (its HDMI screen, frame
// counters, GPIO inputs, interrupt withholding, the picture sandbox), and
// the check that the board owns the device nodes before any test runs.
#include <fcntl.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "VyxBoard.h"
#include "VyxModel.h"

namespace py = pybind11;

namespace {

// Empty when this process's open() and fopen() of board nodes land on the
// board; otherwise why not.  Tests must refuse to run then.
std::string whyNotOwned() {
    if (!vb::isActive()) return "the board says it is not active";
    const int fd = open("/dev/vyx_capture_0", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "open of /dev/vyx_capture_0 failed";
    const bool owned = vb::nodeOfDescriptor(fd) == vb::Node::Capture;
    close(fd);
    if (!owned) return "open() of /dev/vyx_capture_0 bypassed the board";
    FILE* f = fopen("/dev/misc_vyx_gpio", "r");
    if (!f) return "fopen of /dev/misc_vyx_gpio failed";
    const bool fopened = vb::nodeOfDescriptor(fileno(f)) == vb::Node::Gpio;
    fclose(f);
    if (!fopened) return "fopen() of /dev/misc_vyx_gpio bypassed the board";
    return {};
}

py::dict counters() {
    const vb::ModelCounters c = vb::modelCounters();
    py::dict d;
    d["frames_exposed"] = c.framesExposed;
    d["frames_written"] = c.framesWritten;
    d["frames_delivered"] = c.framesDelivered;
    d["frames_dropped"] = c.framesDropped;
    d["releases"] = c.releases;
    d["last_frame_counter"] = c.lastFrameCounter;
    d["shows_evaluated"] = c.showsEvaluated;
    return d;
}

py::array screen() {
    std::vector<uint8_t> rgb = vb::modelScreen();
    py::array_t<uint8_t> out({vb::kScreenHeight, vb::kScreenWidth, 3});
    memcpy(out.mutable_data(), rgb.data(), rgb.size());
    return std::move(out);
}

// The frame counter the board stamps into the first bytes of every frame.
py::object frameCounter(const py::array_t<uint8_t, py::array::c_style>& frame) {
    uint32_t counter = 0;
    if (frame.size() < vb::kFrameStampBytes || !vb::modelFrameCounter(frame.data(), &counter)) return py::none();
    return py::int_(counter);
}

// Waits until the counter `name` of counters() reaches `atLeast`.
bool waitCounter(const std::string& name, uint64_t atLeast, int timeoutMs) {
    struct Want {
        uint64_t vb::ModelCounters::*field;
        uint64_t atLeast;
    } want{nullptr, atLeast};
    if (name == "frames_written") want.field = &vb::ModelCounters::framesWritten;
    else if (name == "frames_delivered") want.field = &vb::ModelCounters::framesDelivered;
    else if (name == "releases") want.field = &vb::ModelCounters::releases;
    else if (name == "shows_evaluated") want.field = &vb::ModelCounters::showsEvaluated;
    else throw py::key_error(name);
    py::gil_scoped_release unlocked;
    return vb::modelWaitFor(
        [](const vb::ModelCounters& c, const void* arg) {
            const auto* w = static_cast<const Want*>(arg);
            return c.*(w->field) >= w->atLeast;
        },
        &want, timeoutMs);
}

template <class F>
bool waitUnlocked(F&& wait) {
    py::gil_scoped_release unlocked;
    return wait();
}

}  // namespace

PYBIND11_MODULE(vyxboard_probe, m) {
    m.doc() = "What the virtual board shows the tests of vyxzeb.";
    m.def("why_not_owned", &whyNotOwned);
    m.def("counters", &counters);
    m.def("screen", &screen, "The 1280 x 720 HDMI screen, (720, 1280, 3) R, G, B.");
    m.def("frame_counter", &frameCounter, py::arg("frame"));
    m.def("wait_show", [](uint64_t before, int timeoutMs) {
        return waitUnlocked([&] { return vb::modelWaitShow(before, timeoutMs); });
    });
    m.def("wait_counter", &waitCounter, py::arg("name"), py::arg("at_least"), py::arg("timeout_ms"));
    m.def("wait_tick", [](int timeoutMs) { return waitUnlocked([&] { return vb::modelWaitTick(timeoutMs); }); },
          "Waits until the PL has seen every register store made before the call.");
    m.def("set_gpio_input", &vb::setGpioInput, py::arg("line"), py::arg("level"));
    m.def("gpio_level", &vb::gpioLevel, py::arg("line"));
    m.def("wait_interrupts_read", [](int timeoutMs) {
        return waitUnlocked([&] { return vb::waitInterruptsRead(vb::interruptsQueued(), timeoutMs); });
    }, "Waits until the library has read every capture interrupt the board raised so far.");
    m.def("withhold_interrupts", &vb::withholdInterrupts, py::arg("withhold"));
    m.def("reset_faults", &vb::resetFaults);
    m.def("make_node_missing", [](const std::string& path) {
        for (int n = 0; n < vb::kNodeCount; ++n)
            if (path == vb::nodePath(static_cast<vb::Node>(n))) return vb::setNodeMissing(static_cast<vb::Node>(n), true);
        throw py::value_error(path + " is not a node of the board");
    }, py::arg("path"));
    m.def("sandbox_path", &vb::sandboxPath, py::arg("board_path"));
}
