// CameraCapture.cpp - frames from a camera set: copied out, held in place, or
// exposed now by a software trigger and collected later.
//
// VYXZEB_CaptureData waits without the GIL, under the set's capture lock
// (one waiting thread per set; a trigger-mode change in another thread still
// wakes it).  Every frame taken is a FrameHold, so its buffer goes back to
// the PL however the copy or the caller's code ends.  A copied frame is
// given back before the lock is let go: the next capture on the set starts
// only after the release, so buffers go back one at a time, in order.
#include <string>

#include "CameraCore.h"
#include "LibraryError.h"
#include "Session.h"
#include "VYXZebApi.h"

namespace py = pybind11;

namespace vyxpy {

namespace {
constexpr int kBitsPerGreyPixel = 8;
}  // namespace

FrameGeometry CameraCore::geometry() const {
    auto keep = session("VYXZEB_GetCaptureSize");
    FrameGeometry g;
    callUnlocked("VYXZEB_GetCaptureSize", [&] { return VYXZEB_GetCaptureSize(m_index, &g.width, &g.height, &g.bits); });
    callUnlocked("VYXZEB_GetMultiFrame", [&] { return VYXZEB_GetMultiFrame(m_index, &g.count); });
    if (g.bits != kBitsPerGreyPixel)
        throw LibraryError(VYXZEB_RET_NOT_SUPPORTED, "VYXZEB_GetCaptureSize",
                           std::to_string(g.bits) + "-bit frames cannot be read as uint8 arrays");
    if (g.width <= 0 || g.height <= 0)
        throw LibraryError(VYXZEB_RET_FAILED, "VYXZEB_GetCaptureSize",
                           "the frames are empty (" + std::to_string(g.width) + " x " + std::to_string(g.height) + ")");
    if (g.count == 0) g.count = 1;  // the PL stores one frame for a count of 0
    g.stride = paddedRowBytes(static_cast<unsigned>(g.width), static_cast<unsigned>(g.bits));
    return g;
}

std::unique_ptr<FrameHold> CameraCore::takeTriggered() {
    std::lock_guard<std::mutex> lock(m_lock);
    return std::move(m_triggered);
}

std::unique_ptr<FrameHold> CameraCore::waitFrame(const std::shared_ptr<Session>& session,
                                                 const FrameGeometry& geometry) {
    unsigned char* frame = nullptr;
    const int rc = VYXZEB_CaptureData(m_index, &frame);
    if (rc == VYXZEB_RET_CAPTURE_TIMEOUT)
        throw LibraryError(rc, "VYXZEB_CaptureData",
                           "no frame within " + std::to_string(session->timeoutMs(m_index)) + " ms");
    check(rc, "VYXZEB_CaptureData");
    return std::make_unique<FrameHold>(session, m_index, session->nextTicket(m_index), frame, geometry);
}

std::unique_ptr<FrameHold> CameraCore::take(const std::shared_ptr<Session>& session, const FrameGeometry& geometry) {
    if (auto triggered = takeTriggered()) return triggered;
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(session->captureLock(m_index));
    return waitFrame(session, geometry);
}

py::array CameraCore::capture(py::object out) {
    auto s = session("VYXZEB_CaptureData");
    const FrameGeometry expected = geometry();
    py::array target;
    if (out.is_none()) {
        target = py::array(py::dtype::of<uint8_t>(), expected.shape());
    } else {
        if (!py::isinstance<py::array>(out)) badParameter("capture", "out must be a NumPy array");
        target = py::reinterpret_borrow<py::array>(out);
    }
    // A frame an earlier trigger() exposed, with the geometry of its time.
    if (std::unique_ptr<FrameHold> triggered = takeTriggered()) {
        if (triggered->geometry() != expected && out.is_none())
            target = py::array(py::dtype::of<uint8_t>(), triggered->geometry().shape());
        triggered->copyTo(target);
        triggered->finish();
        return target;
    }
    const FrameTarget into = frameTarget(target, expected, "capture");  // refuse a wrong array before waiting
    int released;
    {
        // Wait, copy and give the buffer back before the next capture on the
        // set starts: buffers go back in the order they came.
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> lock(s->captureLock(m_index));
        std::unique_ptr<FrameHold> frame = waitFrame(s, expected);
        frame->copyInto(into);
        released = frame->giveBack();
    }
    check(released, "VYXZEB_ReleaseBuffer");
    return target;
}

std::unique_ptr<FrameHold> CameraCore::hold() {
    auto s = session("VYXZEB_CaptureData");
    return take(s, geometry());
}

void CameraCore::trigger() {
    auto s = session("trigger");
    VYXZEB_TRIGGER_MODE mode = VYXZEB_TRIGGER_SOFTWARE;
    callUnlocked("VYXZEB_GetTriggerMode", [&] { return VYXZEB_GetTriggerMode(m_index, &mode); });
    if (mode != VYXZEB_TRIGGER_SOFTWARE)
        throw LibraryError(VYXZEB_RET_NOT_SUPPORTED, "trigger",
                           "software triggers need trigger mode " + std::to_string(VYXZEB_TRIGGER_SOFTWARE) +
                               " (SOFTWARE); the camera is in mode " + std::to_string(mode));
    // An earlier triggered frame nobody collected goes back first.
    if (std::unique_ptr<FrameHold> older = takeTriggered()) older->finish();
    // In software-trigger mode the capture call fires the trigger itself.
    std::unique_ptr<FrameHold> frame = take(s, geometry());
    std::unique_ptr<FrameHold> replaced;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        replaced = std::move(m_triggered);
        m_triggered = std::move(frame);
    }
}

}  // namespace vyxpy
