// FrameHold.h - one frame buffer the PL handed to Python, until it is given
// back.
//
// VYXZEB_CaptureData returns a pointer into one of the camera set's four
// frame buffers; the PL does not write into that buffer again until it is
// released.  A FrameHold is that ownership: views of the buffer are valid
// while it is held, finish() (or the destructor) gives it back through the
// session, which keeps the PL's oldest-first release order.  Views keep the
// device open, so the buffer stays mapped as long as any array points to it.
#ifndef VYXPY_FRAME_HOLD_H
#define VYXPY_FRAME_HOLD_H

#include <pybind11/numpy.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "Images.h"

namespace vyxpy {

class Session;

class FrameHold {
public:
    FrameHold(std::shared_ptr<Session> session, int index, uint64_t ticket, const uint8_t* data,
              const FrameGeometry& geometry);
    ~FrameHold();
    FrameHold(const FrameHold&) = delete;
    FrameHold& operator=(const FrameHold&) = delete;

    const FrameGeometry& geometry() const { return m_geometry; }
    bool finished() const { return m_finished.load(); }

    // ---- for Python (with the GIL; throw when the frame was released)
    // Read-only array over the frame buffer, without a copy.
    pybind11::array view() const;
    // Copies the frames into `out` (shape checked by frameTarget()).
    void copyTo(pybind11::array& out) const;
    // Shows the frame on HDMI (VYXZEB_ShowCaptureData).
    void show() const;
    // Saves the frame as an 8-bit BMP file straight from the buffer.
    void saveBmp(const std::string& path) const;
    // Gives the buffer back to the PL; later calls do nothing.
    void finish();

    // ---- for the capture paths (no GIL needed, no Python objects)
    void copyInto(const FrameTarget& target) const { copyFrames(m_data, m_geometry, target); }
    int showUnlocked() const;
    // finish() without the GIL: 0 or the failing VYXZEB_ReleaseBuffer code.
    int giveBack();

private:
    void requireHeld(const char* what) const;

    std::shared_ptr<Session> m_session;
    int m_index;
    uint64_t m_ticket;
    const uint8_t* m_data;
    FrameGeometry m_geometry;
    std::atomic<bool> m_finished{false};
};

}  // namespace vyxpy

#endif
