// Camera.cpp - VYXZEB_Init and VYXZEB_UnInit around a command.
#include "Camera.h"

#include "Errors.h"
#include "StopSignal.h"
#include "VYXZebApi.h"

namespace vyxcam {

namespace {

// VYXZEB_LogGet fills a buffer of this size.
constexpr size_t kLogPathBytes = 128;

}  // namespace

std::string switchLogOn(const std::string& folder)
{
    // VYXZEB_LogSet answers 0 or 1, not a VYXZEB_RET_ code.
    if (VYXZEB_LogSet(true, folder.c_str()) != 0)
        throw RunError("cannot switch the library's log on in " + folder +
                       " (VYXZEB_LogSet: the folder cannot be created, or folder and file name are longer than " +
                       std::to_string(kLogPathBytes - 1) + " characters)");
    bool on = false;
    char path[kLogPathBytes] = {};
    VYXZEB_LogGet(&on, path);
    return path;
}

Camera::Camera(int sensorIndex, const std::string& logFolder) : m_sensor(sensorIndex)
{
    if (!logFolder.empty()) {
        m_logFile = switchLogOn(logFolder);
        m_logOn = true;
    }
    int rc;
    {
        StopSignalHold hold;
        rc = VYXZEB_Init();
    }
    if (rc != VYXZEB_RET_SUCCESS) {
        if (m_logOn) VYXZEB_LogSet(false, nullptr);
        throw CallError("VYXZEB_Init", rc,
                        m_logOn ? "the camera did not open; the log " + m_logFile + " names the step that failed"
                                : "the camera did not open; run with --log DIR to see which step failed");
    }
    int count = 0;
    VYXZEB_GetSensorNum(&count);
    if (sensorIndex < 0 || sensorIndex >= count) {
        VYXZEB_UnInit();
        if (m_logOn) VYXZEB_LogSet(false, nullptr);
        throw UsageError("--sensor " + std::to_string(sensorIndex) + ": the camera has " + std::to_string(count) +
                         " sensor" + (count == 1 ? "" : "s") + " (0 to " + std::to_string(count - 1) + ")");
    }
}

Camera::~Camera()
{
    VYXZEB_UnInit();
    if (m_logOn) VYXZEB_LogSet(false, nullptr);
}

}  // namespace vyxcam
