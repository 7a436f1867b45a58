// ServeCommand.cpp - `vyxcam serve`: the live view in the browser.
//
// The main thread opens the camera, applies the command line's settings,
// starts the capture thread and the web server with the stop signals held
// back (so that every thread they start leaves SIGINT and SIGTERM to it),
// prints where it listens and waits for a stop signal.  Then the server
// stops (streams end, the socket closes), the capture thread ends after the
// frame in hand, and the camera closes.
#include <cstdio>
#include <thread>

#include "Camera.h"
#include "Commands.h"
#include "Errors.h"
#include "LiveCamera.h"
#include "LiveFrames.h"
#include "StopSignal.h"
#include "VYXZebApi.h"
#include "WebServer.h"

namespace vyxcam {

namespace {

std::string urlOf(const std::string& host, int port)
{
    const bool v6 = host.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/";
}

}  // namespace

int runServe(const ServeOptions& o, const GlobalOptions& g)
{
    installStopHandler();
    const StopSignalHold hold;
    Camera camera(o.settings.sensor, runLogFolder(g));
    CameraSettings settings = o.settings;
    // A live view streams unless told otherwise.
    if (!settings.trigger) settings.trigger = VYXZEB_TRIGGER_CONTINUOUS;
    checkCameraRanges(settings);
    applySettings(settings);
    // Jobs wait for the capture in hand: keep it short.
    if (!settings.timeoutMs) VYXCAM_CHECK(VYXZEB_CaptureSetTimeOut, camera.sensor(), kLiveTimeoutMs);

    FrameHub hub;
    LiveCamera live(camera.sensor(), hub);
    WebConfig config;
    config.sensor = camera.sensor();
    config.readOnly = o.readOnly;
    config.maxStreams = o.maxStreams;
    config.captureTimeoutMs = settings.timeoutMs.value_or(kLiveTimeoutMs);
    WebServer web(live, hub, config);
    const int port = web.bind(o.host, o.port);
    const std::string url = urlOf(o.host, port);
    // One line for scripts (and the tests), one for people.
    const Json where{{"url", url}, {"address", o.host}, {"port", port}, {"read_only", o.readOnly}};
    std::printf("%s\n", where.dump().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "vyxcam: serving the live view on %s%s; Ctrl-C ends\n", url.c_str(),
                 o.readOnly ? " (read-only)" : "");

    std::thread server([&web] { web.run(); });
    waitForStop(-1);
    web.stop();
    server.join();
    live.stop();
    const std::shared_ptr<const Frame> last = hub.latest();
    std::fprintf(stderr, "vyxcam: stopped after %lu frames and %lu streams\n", last ? last->sequence() : 0UL,
                 web.streamsServed());
    return kExitOk;
}

}  // namespace vyxcam
