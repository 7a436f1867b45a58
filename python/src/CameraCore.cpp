// CameraCore.cpp - opening and closing a camera set, and what identifies it.
#include "CameraCore.h"

#include <string>

#include "LibraryError.h"
#include "PoolBlock.h"
#include "Session.h"
#include "VYXZebApi.h"

namespace py = pybind11;

namespace vyxpy {

CameraCore::CameraCore(int index) : m_index(index) {
    std::shared_ptr<Session> session = Session::open();
    int count = 0;
    check(VYXZEB_GetSensorNum(&count), "VYXZEB_GetSensorNum");
    if (index < 0 || index >= count || index >= Session::kMaxSets)
        throw LibraryError(VYXZEB_RET_SET_UNAVAILABLE, "Camera",
                           "there is no camera " + std::to_string(index) + "; the board has " +
                               std::to_string(count));
    {
        py::gil_scoped_release unlocked;
        session->startSet(index);
    }
    m_session = std::move(session);
}

CameraCore::~CameraCore() { close(); }

bool CameraCore::closed() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return !m_session;
}

void CameraCore::close() {
    std::unique_ptr<FrameHold> triggered;
    std::unique_ptr<PoolBlock> blocks[2];
    std::shared_ptr<Session> session;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        triggered = std::move(m_triggered);
        blocks[0] = std::move(m_showBlocks[0]);
        blocks[1] = std::move(m_showBlocks[1]);
        session = std::move(m_session);
    }
    // Outside the lock and without the GIL: these give buffers and blocks
    // back and may close the device.
    py::gil_scoped_release unlocked;
    triggered.reset();
    blocks[0].reset();
    blocks[1].reset();
    session.reset();
}

std::shared_ptr<Session> CameraCore::session(const char* function) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_session) throw LibraryError(VYXZEB_RET_NOT_INITIALIZED, function, "the camera is closed");
    return m_session;
}

py::tuple CameraCore::captureSize() const {
    auto keep = session("VYXZEB_GetCaptureSize");
    int width = 0, height = 0, bits = 0;
    callUnlocked("VYXZEB_GetCaptureSize", [&] { return VYXZEB_GetCaptureSize(m_index, &width, &height, &bits); });
    return py::make_tuple(width, height, bits);
}

int CameraCore::sensorType() const {
    auto keep = session("VYXZEB_GetSensorType");
    VYXZEB_SENSOR_TYPE type = VYXZEB_SENSOR_Q210B;
    callUnlocked("VYXZEB_GetSensorType", [&] { return VYXZEB_GetSensorType(m_index, &type); });
    return static_cast<int>(type);
}

py::tuple CameraCore::deviceInfo() const {
    auto keep = session("VYXZEB_GetDeviceInformation");
    int kind = 0, version = 0;
    callUnlocked("VYXZEB_GetDeviceInformation",
                 [&] { return VYXZEB_GetDeviceInformation(m_index, &kind, &version); });
    // The version word is 32 bits with the kind in its top byte.
    return py::make_tuple(kind, static_cast<uint32_t>(version));
}

}  // namespace vyxpy
