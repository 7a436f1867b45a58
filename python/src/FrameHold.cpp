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

FrameHold::~FrameHold() {
    if (!m_finished.exchange(true)) m_session->finish(m_index, m_ticket);
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
    copyFrames(m_data, m_geometry, target);
}

void FrameHold::show() const {
    requireHeld("show");
    unsigned char* frame = const_cast<unsigned char*>(m_data);
    int rc;
    {
        py::gil_scoped_release unlocked;
        rc = VYXZEB_ShowCaptureData(m_index, frame);
    }
    check(rc, "VYXZEB_ShowCaptureData");
}

void FrameHold::saveBmp(const std::string& path) const {
    requireHeld("save_bmp");
    unsigned char* frame = const_cast<unsigned char*>(m_data);
    const int height = m_geometry.height * static_cast<int>(m_geometry.count);
    int rc;
    {
        py::gil_scoped_release unlocked;
        rc = VYXZEB_HelperSaveToBmp(frame, m_geometry.width, height, m_geometry.bits, path.c_str());
    }
    check(rc, "VYXZEB_HelperSaveToBmp");
}

void FrameHold::finish() {
    if (m_finished.exchange(true)) return;
    int rc;
    {
        py::gil_scoped_release unlocked;
        rc = m_session->finish(m_index, m_ticket);
    }
    check(rc, "VYXZEB_ReleaseBuffer");
}

}  // namespace vyxpy
