// FrameHold.cpp - a held frame buffer: views, copies, show, save, release.
#include "FrameHold.h"

#include "LibraryError.h"
#include "Session.h"
#include "VYXZebApi.h"

namespace py = pybind11;

namespace vyxpy {

FrameHold::FrameHold(std::shared_ptr<Session> session, int index, uint64_t ticket, const uint8_t* data,
                     const FrameGeometry& geometry)
    : m_session(std::move(session)), m_index(index), m_ticket(ticket), m_data(data), m_geometry(geometry) {}

FrameHold::~FrameHold() { giveBack(); }

int FrameHold::giveBack() {
    if (m_finished.exchange(true)) return VYXZEB_RET_SUCCESS;
    return m_session->finish(m_index, m_ticket);
}

int FrameHold::showUnlocked() const {
    return VYXZEB_ShowCaptureData(m_index, const_cast<unsigned char*>(m_data));
}

void FrameHold::requireHeld(const char* what) const {
    if (m_finished.load())
        throw py::value_error(std::string(what) + ": the frame was released (its buffer belongs to the PL again)");
}

py::array FrameHold::view() const {
    requireHeld("view");
    // The array's base keeps the device, and with it the buffer mapping, alive.
    auto* keep = new std::shared_ptr<Session>(m_session);
    py::capsule base(keep, [](void* p) { delete static_cast<std::shared_ptr<Session>*>(p); });
    py::array a(py::dtype::of<uint8_t>(), m_geometry.shape(), m_geometry.strides(), m_data, base);
    a.attr("flags").attr("writeable") = false;
    return a;
}

void FrameHold::copyTo(py::array& out) const {
    requireHeld("copy");
    const FrameTarget target = frameTarget(out, m_geometry, "capture");
    py::gil_scoped_release unlocked;
    copyInto(target);
}

void FrameHold::show() const {
    requireHeld("show");
    callUnlocked("VYXZEB_ShowCaptureData", [&] { return showUnlocked(); });
}

void FrameHold::saveBmp(const std::string& path) const {
    requireHeld("save_bmp");
    unsigned char* frame = const_cast<unsigned char*>(m_data);
    const int height = m_geometry.height * static_cast<int>(m_geometry.count);
    callUnlocked("VYXZEB_HelperSaveToBmp", [&] {
        return VYXZEB_HelperSaveToBmp(frame, m_geometry.width, height, m_geometry.bits, path.c_str());
    });
}

void FrameHold::finish() { callUnlocked("VYXZEB_ReleaseBuffer", [&] { return giveBack(); }); }

}  // namespace vyxpy
