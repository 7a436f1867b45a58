// CameraCore.h - one camera set of the board as the Python module drives it:
// the compiled half of vyxzeb.Camera.
//
// It holds the shared device (Session) and a camera-set index, and turns
// every operation into library calls made without the GIL.  Python's Camera
// adds names, documentation, enums and range checks on top.
//
// Source units: CameraCore.cpp (open, close, identification), CameraSettings
// (the settings table), CameraCapture (frames), CameraShow (HDMI).
#ifndef VYXPY_CAMERA_CORE_H
#define VYXPY_CAMERA_CORE_H

#include <pybind11/numpy.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FrameHold.h"
#include "Images.h"

namespace vyxpy {

class PoolBlock;
class Session;

class CameraCore {
public:
    // Opens the device if needed and camera set `index` (0 as shipped).
    explicit CameraCore(int index);
    ~CameraCore();
    CameraCore(const CameraCore&) = delete;
    CameraCore& operator=(const CameraCore&) = delete;

    int index() const { return m_index; }
    bool closed() const;
    // Gives back the triggered frame and the pool blocks and lets go of the
    // device (the last user closes it).
    void close();

    // ---- settings (CameraSettings.cpp): names as in Python's Camera
    static std::vector<std::string> settingNames();
    pybind11::object get(const std::string& name) const;
    void set(const std::string& name, pybind11::handle value);
    // (minimum, maximum) of a setting, or for "field_of_view" (minimum
    // width, minimum height, maximum width, maximum height).
    pybind11::tuple range(const std::string& name) const;

    // ---- identification (CameraCore.cpp)
    pybind11::tuple captureSize() const;  // (width, height, bits per pixel)
    int sensorType() const;
    pybind11::tuple deviceInfo() const;   // (kind, PL version word)

    // ---- frames (CameraCapture.cpp)
    FrameGeometry geometry() const;
    // The next frame copied into `out`, or into a new array when out is None.
    pybind11::array capture(pybind11::object out);
    // The next frame, held without a copy.
    std::unique_ptr<FrameHold> hold();
    // Software-trigger mode: exposes a frame now and keeps it for the next
    // capture() or hold().
    void trigger();

    // ---- display (CameraShow.cpp)
    // Copies an image into a pool block and shows it; `at` = (x, y, w, h)
    // sets the screen rectangle first, None keeps the current one.
    void show(const pybind11::array& image, pybind11::object at);
    // Captures a frame and shows it.
    void showFrame(pybind11::object at);

private:
    // The device, or NotInitialized when the camera is closed.
    std::shared_ptr<Session> session(const char* function) const;
    // The frame trigger() kept, if any.
    std::unique_ptr<FrameHold> takeTriggered();
    // VYXZEB_CaptureData; call with the set's capture lock and without the GIL.
    std::unique_ptr<FrameHold> waitFrame(const std::shared_ptr<Session>& session, const FrameGeometry& geometry);
    // The triggered frame, or the next one (takes the lock, releases the GIL).
    std::unique_ptr<FrameHold> take(const std::shared_ptr<Session>& session, const FrameGeometry& geometry);
    void placeOnScreen(pybind11::object at) const;
    PoolBlock& showBlock(const std::shared_ptr<Session>& session, unsigned long bytes);

    const int m_index;
    mutable std::mutex m_lock;  // guards the members below
    std::shared_ptr<Session> m_session;
    std::unique_ptr<FrameHold> m_triggered;
    // Shown images alternate between two blocks, so the PL can still read
    // the last one while the next is written.
    std::unique_ptr<PoolBlock> m_showBlocks[2];
    int m_nextShowBlock = 0;
};

}  // namespace vyxpy

#endif
