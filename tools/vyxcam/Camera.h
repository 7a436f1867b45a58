// Camera.h - the open camera for the life of one command.
//
// Opening switches the library's log on first when a folder is given (so
// that VYXZEB_Init's own lines are in it), then runs VYXZEB_Init with the
// stop signals held back (StopSignal.h).  VYXZEB_Init loads the sensor's
// start-up table and resets the PL: nothing set by an earlier process is in
// force afterwards.  Closing runs VYXZEB_UnInit and switches the log off.
#ifndef VYXCAM_CAMERA_H
#define VYXCAM_CAMERA_H

#include <string>

namespace vyxcam {

class Camera {
public:
    // Throws CallError when the library does not open or the log cannot be
    // switched on, UsageError when there is no camera set at sensorIndex.
    Camera(int sensorIndex, const std::string& logFolder);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    int sensor() const { return m_sensor; }
    // Path of the log file in use, empty when the log is off.
    const std::string& logFile() const { return m_logFile; }

private:
    int m_sensor;
    bool m_logOn = false;
    std::string m_logFile;
};

// Switches the library's log on into folder; returns the log file's path.
// Throws RunError when the library refuses (missing parent folder, a path
// longer than the library takes).
std::string switchLogOn(const std::string& folder);

}  // namespace vyxcam

#endif
