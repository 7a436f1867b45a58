// LiveCamera.h - the capture thread of the live view, the only thread that
// calls the library once the camera is open.
//
// Between two captures it runs the jobs other threads hand it (apply
// settings, read the settings or the information report), one at a time in
// the order they came.  Then, by trigger mode:
//   continuous, external0..3  it waits for the next frame, at most the
//                             capture time-out (1 s unless timeout_ms says
//                             otherwise), so that jobs wait no longer;
//   software                  it captures only when a frame is asked for
//                             (POST /api/trigger, a single-frame request):
//                             one capture serves every request made before it.
// Each frame is copied out of the PL's frame buffer, the buffer goes back at
// once, and the copy goes to the hub (LiveFrames.h).  A failing capture is
// reported to the hub as a fault; a capture error other than a time-out
// pauses the loop briefly so that a broken camera does not spin.
#ifndef VYXCAM_LIVE_CAMERA_H
#define VYXCAM_LIVE_CAMERA_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "CameraInfo.h"
#include "LiveFrames.h"
#include "VYXZebApi.h"

namespace vyxcam {

// The capture time-out of the live view when the settings name none.
constexpr unsigned long kLiveTimeoutMs = 1000;

class LiveCamera {
public:
    using Job = std::function<Json()>;

    // The camera is open with its settings in force.
    LiveCamera(int sensor, FrameHub& hub);
    ~LiveCamera();   // stop()
    LiveCamera(const LiveCamera&) = delete;
    LiveCamera& operator=(const LiveCamera&) = delete;

    // Ends the loop after the capture in hand and joins the thread.
    void stop();

    // Hands a job to the capture thread.  The future holds its result or
    // what it threw.  At most kMaxJobs wait; beyond that it throws Busy.
    struct Busy : std::runtime_error {
        using std::runtime_error::runtime_error;
    };
    static constexpr size_t kMaxJobs = 16;
    std::future<Json> post(Job job);

    // Asks for one software-triggered frame (only in software mode).
    void requestFrame();
    VYXZEB_TRIGGER_MODE triggerMode() const { return m_mode.load(); }
    // A job is being run (settings are changing).
    bool reconfiguring() const { return m_inJob.load(); }

private:
    struct Pending {
        Job job;
        std::promise<Json> result;
    };

    void loop();
    void runJobs();
    // Waits until a job, a frame request or stop arrives, at most `bound`.
    void idle(std::chrono::milliseconds bound);
    void captureOne();
    void readMode();

    const int m_sensor;
    FrameHub& m_hub;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Pending> m_jobs;
    unsigned long m_requests = 0;
    bool m_stopping = false;
    std::atomic<VYXZEB_TRIGGER_MODE> m_mode{VYXZEB_TRIGGER_SOFTWARE};
    std::atomic<bool> m_inJob{false};
    unsigned long m_sequence = 0;
    std::thread m_thread;
};

}  // namespace vyxcam

#endif
