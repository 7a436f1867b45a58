// LiveCamera.cpp - the capture thread of the live view.
#include "LiveCamera.h"

#include "Errors.h"
#include "FrameLoop.h"
#include "VYXZebRet.h"

namespace vyxcam {

namespace {

// A broken camera is asked again after this pause.
constexpr std::chrono::milliseconds kFaultPause{200};
// Software mode without requests: how often the loop looks round anyway.
constexpr std::chrono::milliseconds kIdleBound{500};

CameraFault faultOf(const char* function, int code)
{
    return CameraFault{function, code, describeCall(function, code)};
}

}  // namespace

LiveCamera::LiveCamera(int sensor, FrameHub& hub) : m_sensor(sensor), m_hub(hub)
{
    readMode();
    m_thread = std::thread([this] { loop(); });
}

LiveCamera::~LiveCamera() { stop(); }

void LiveCamera::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    // Jobs that never ran end with an error rather than a broken promise.
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Pending& p : m_jobs) p.result.set_exception(std::make_exception_ptr(Busy("the server is stopping")));
    m_jobs.clear();
}

std::future<Json> LiveCamera::post(Job job)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping) throw Busy("the server is stopping");
    if (m_jobs.size() >= kMaxJobs) throw Busy("too many changes are waiting for the camera");
    m_jobs.push_back(Pending{std::move(job), {}});
    std::future<Json> f = m_jobs.back().result.get_future();
    m_wake.notify_all();
    return f;
}

void LiveCamera::requestFrame()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_requests;
    }
    m_wake.notify_all();
}

void LiveCamera::readMode()
{
    VYXZEB_TRIGGER_MODE mode = VYXZEB_TRIGGER_SOFTWARE;
    if (VYXZEB_GetTriggerMode(m_sensor, &mode) == VYXZEB_RET_SUCCESS) m_mode = mode;
}

void LiveCamera::runJobs()
{
    for (;;) {
        Pending p;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_jobs.empty() || m_stopping) return;
            p = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        m_inJob = true;
        // The mode is read back before the answer goes out: a request that
        // follows the answer (a trigger right after the switch to software
        // mode) must see the new mode.
        try {
            Json answer = p.job();
            readMode();
            p.result.set_value(std::move(answer));
        } catch (...) {
            readMode();
            p.result.set_exception(std::current_exception());
        }
        m_inJob = false;
    }
}

void LiveCamera::idle(std::chrono::milliseconds bound)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, bound, [this] { return m_stopping || !m_jobs.empty() || m_requests > 0; });
}

void LiveCamera::captureOne()
{
    unsigned char* data = nullptr;
    const int rc = VYXZEB_CaptureData(m_sensor, &data);
    if (rc != VYXZEB_RET_SUCCESS) {
        m_hub.publishFault(faultOf("VYXZEB_CaptureData", rc));
        if (rc != VYXZEB_RET_CAPTURE_TIMEOUT) idle(kFaultPause);
        return;
    }
    try {
        ImageView view = frameGeometry(m_sensor);
        view.pixels = data;
        m_hub.publish(std::make_shared<const Frame>(++m_sequence, view));
    } catch (const CallError& e) {
        m_hub.publishFault(CameraFault{e.function(), e.code(), e.what()});
    }
    const int released = VYXZEB_ReleaseBuffer(m_sensor);
    if (released != VYXZEB_RET_SUCCESS) m_hub.publishFault(faultOf("VYXZEB_ReleaseBuffer", released));
}

void LiveCamera::loop()
{
    for (;;) {
        runJobs();
        bool asked = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping) return;
            if (!m_jobs.empty()) continue;
            // Requests made before this capture are served by it.
            asked = m_requests > 0;
            m_requests = 0;
        }
        if (m_mode == VYXZEB_TRIGGER_SOFTWARE && !asked) {
            idle(kIdleBound);
            continue;
        }
        captureOne();
    }
}

}  // namespace vyxcam
