// WebServer.h - the HTTP side of the live view (cpp-httplib): the page, the
// JSON interface and the MJPEG stream.  It never calls the library itself:
// what needs the camera is a job for the capture thread (LiveCamera.h),
// frames come from the hub (LiveFrames.h).
//
// Status codes: 200; 400 bad input (a JSON body naming the field and what it
// takes); 403 a change with --read-only; 404 unknown path; 405 wrong method
// (with Allow); 409 a software trigger outside software mode; 413 a body
// over kMaxBodyBytes; 502 a failing library call (its code and name); 503
// the camera busy being reconfigured, too many streams, or stopping.
#ifndef VYXCAM_WEB_SERVER_H
#define VYXCAM_WEB_SERVER_H

#include <atomic>
#include <memory>
#include <string>

#include "Commands.h"
#include "LiveCamera.h"
#include "LiveFrames.h"

namespace httplib {
class Server;
}

namespace vyxcam {

constexpr size_t kMaxBodyBytes = 16 * 1024;

struct WebConfig {
    int sensor = 0;
    bool readOnly = false;
    unsigned long maxStreams = kDefaultMaxStreams;
    unsigned long captureTimeoutMs = kLiveTimeoutMs;   // bounds the waits for a fresh frame
};

class WebServer {
public:
    WebServer(LiveCamera& camera, FrameHub& hub, const WebConfig& config);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds the listening socket; port 0 takes a free one.  Returns the
    // port bound.  Throws RunError.
    int bind(const std::string& host, int port);
    // Serves until stop(); call from one thread.
    void run();
    // Ends run(): streams end, the socket closes.  Any thread.
    void stop();

    unsigned long streamsServed() const { return m_streamsServed.load(); }

private:
    struct Routes;
    LiveCamera& m_camera;
    FrameHub& m_hub;
    const WebConfig m_config;
    std::unique_ptr<httplib::Server> m_server;
    std::atomic<unsigned long> m_streams{0};
    std::atomic<unsigned long> m_streamsServed{0};
    std::atomic<bool> m_stopping{false};
};

}  // namespace vyxcam

#endif
