// WebServer.cpp - routes, answers and the MJPEG stream of the live view.
// Debian's compiled cpp-httplib for the board keeps the ABI's 32-bit time_t
// (its Server::set_read_timeout takes two longs) with large files on (it
// calls stat64 and fcntl64).  Its classes hold time_t members (the socket
// time-outs), so the units that include its header see time_t as the library
// does; no structure holding a time_t passes between them and the rest of
// the tool.
#undef _TIME_BITS
#include "WebServer.h"

#include <httplib.h>

#include <cstdio>
#include <map>
#include <vector>

#include "Errors.h"
#include "SettingsJson.h"
#include "VYXZebRet.h"
#include "WebPage.h"

namespace vyxcam {

namespace {

using Clock = std::chrono::steady_clock;
using httplib::Request;
using httplib::Response;

// Requests are bounded in time as well as size.
constexpr time_t kSocketTimeoutSeconds = 5;
// How long a request waits for the capture thread to run its job.
constexpr std::chrono::seconds kJobBound{10};
// A stream with no new frame looks at its client this often.
constexpr std::chrono::milliseconds kStreamPoll{1000};
// Threads beside the streams, for the page and the interface.
constexpr unsigned long kRequestThreads = 4;
constexpr const char* kBoundary = "vyxframe";

void sendJson(Response& res, int status, const Json& body)
{
    res.status = status;
    res.set_content(body.dump() + "\n", "application/json");
}

void sendError(Response& res, int status, const std::string& message, Json extra = Json::object())
{
    Json body{{"error", message}};
    body.update(extra);
    sendJson(res, status, body);
}

void sendFault(Response& res, const CameraFault& f)
{
    sendError(res, 502, f.message, Json{{"function", f.function}, {"code", f.code}, {"name", VYXZEB_RetName(f.code)}});
}

void sendCallError(Response& res, const CallError& e)
{
    sendFault(res, CameraFault{e.function(), e.code(), e.what()});
}

void sendBytes(Response& res, const std::vector<uint8_t>& bytes, const char* type)
{
    res.set_content(reinterpret_cast<const char*>(bytes.data()), bytes.size(), type);
    res.set_header("Cache-Control", "no-store");
}

// The body of an answer httplib makes by itself.
Json statusBody(int status)
{
    static const std::map<int, std::string> reasons = {
        {400, "bad request"},
        {404, "no such path"},
        {408, "the request took too long"},
        {413, "the body is larger than " + std::to_string(kMaxBodyBytes) + " bytes"},
        {414, "the path is too long"},
        {431, "the request's header is too large"},
    };
    const auto it = reasons.find(status);
    return Json{{"error", it != reasons.end() ? it->second : "the request failed"}, {"status", status}};
}

}  // namespace

struct WebServer::Routes {
    // Runs a job on the capture thread and answers with its JSON.
    static void job(WebServer& w, Response& res, LiveCamera::Job fn)
    {
        try {
            std::future<Json> f = w.m_camera.post(std::move(fn));
            if (f.wait_for(kJobBound) != std::future_status::ready)
                return sendError(res, 503, "the camera is busy; try again");
            sendJson(res, 200, f.get());
        } catch (const LiveCamera::Busy& e) {
            sendError(res, 503, e.what());
        } catch (const FieldError& e) {
            sendError(res, 400, e.what(), Json{{"field", e.field}, {"allowed", e.allowed}});
        } catch (const RangeError& e) {
            sendError(res, 400, e.what(), Json{{"field", keyOfOption(e.option)}, {"allowed", e.allowed}});
        } catch (const UsageError& e) {
            sendError(res, 400, e.what());
        } catch (const CallError& e) {
            sendCallError(res, e);
        } catch (const std::exception& e) {
            sendError(res, 500, e.what());
        }
    }

    static bool refuseChange(WebServer& w, Response& res)
    {
        if (!w.m_config.readOnly) return false;
        sendError(res, 403, "the server is read-only (--read-only)");
        return true;
    }

    static void putSettings(WebServer& w, const Request& req, Response& res)
    {
        if (refuseChange(w, res)) return;
        std::string error;
        const std::optional<Json> body = jsonFromBody(req.body, &error);
        if (!body)
            return sendError(res, 400, "the body is not JSON: " + error,
                             Json{{"field", nullptr}, {"allowed", "a JSON object of settings"}});
        CameraSettings s;
        try {
            s = settingsFromJson(*body, w.m_config.sensor);
        } catch (const FieldError& e) {
            return sendError(res, 400, e.what(), Json{{"field", e.field}, {"allowed", e.allowed}});
        }
        job(w, res, [s]() mutable {
            // A partial update keeps the trigger mode; it is set last all the
            // same, which restarts acquisition with the new settings.
            if (!s.trigger) {
                VYXZEB_TRIGGER_MODE mode = VYXZEB_TRIGGER_SOFTWARE;
                VYXCAM_CHECK(VYXZEB_GetTriggerMode, s.sensor, &mode);
                s.trigger = mode;
            }
            checkCameraRanges(s);
            const Json before = readSettings(s.sensor);
            try {
                applySettings(s);
            } catch (const std::runtime_error&) {
                restore(before, s.sensor);
                throw;
            }
            return readSettings(s.sensor);
        });
    }

    // Puts back the settings a failed change found (the exposure range
    // follows the new field of view, so it can only be checked on the way).
    static void restore(Json before, int sensor)
    {
        before.erase("exposure_ms");   // the lines are exact
        try {
            applySettings(settingsFromJson(before, sensor));
        } catch (const std::runtime_error& e) {
            std::fprintf(stderr, "vyxcam: the settings before a failed change could not be restored: %s\n", e.what());
        }
    }

    // Waits for a frame captured after the request came.
    static std::shared_ptr<const Frame> freshFrame(WebServer& w, Response& res)
    {
        const std::shared_ptr<const Frame> before = w.m_hub.latest();
        const unsigned long after = before ? before->sequence() : 0;
        const unsigned long faults = w.m_hub.faults();
        if (w.m_camera.triggerMode() == VYXZEB_TRIGGER_SOFTWARE) w.m_camera.requestFrame();
        const auto deadline = Clock::now() + std::chrono::milliseconds(w.m_config.captureTimeoutMs) + kJobBound;
        const FrameHub::Next next = w.m_hub.waitNext(after, faults, deadline);
        if (next.frame) return next.frame;
        if (next.fault)
            sendFault(res, *next.fault);
        else if (next.closed)
            sendError(res, 503, "the server is stopping");
        else
            sendError(res, 503, w.m_camera.reconfiguring() ? "the camera is being reconfigured; try again"
                                                           : "no frame came; try again");
        return nullptr;
    }

    static void frame(WebServer& w, Response& res, bool png)
    {
        const std::shared_ptr<const Frame> f = freshFrame(w, res);
        if (!f) return;
        try {
            if (png)
                sendBytes(res, encodePng(f->view()), "image/png");
            else
                sendBytes(res, f->jpeg(), "image/jpeg");
            res.set_header("X-Frame", std::to_string(f->sequence()));
        } catch (const RunError& e) {
            sendError(res, 500, e.what());
        }
    }

    static void histogram(WebServer& w, Response& res)
    {
        std::shared_ptr<const Frame> f = w.m_hub.latest();
        if (!f) f = freshFrame(w, res);
        if (!f) return;
        const auto counts = f->histogram();
        sendJson(res, 200,
                 Json{{"frame", f->sequence()},
                      {"width", f->image().width},
                      {"height", f->image().height},
                      {"counts", Json(std::vector<unsigned long>(counts.begin(), counts.end()))}});
    }

    static void trigger(WebServer& w, Response& res)
    {
        if (refuseChange(w, res)) return;
        const VYXZEB_TRIGGER_MODE mode = w.m_camera.triggerMode();
        if (mode != VYXZEB_TRIGGER_SOFTWARE)
            return sendError(res, 409,
                             std::string("the trigger mode is ") + triggerToName(mode) + ", not software",
                             Json{{"trigger", triggerToName(mode)}});
        const std::shared_ptr<const Frame> f = freshFrame(w, res);
        if (f) sendJson(res, 200, Json{{"frame", f->sequence()}});
    }

    // One part of the multipart stream; false when the client has gone.
    static bool sendPart(httplib::DataSink& sink, const Frame& f, unsigned long dropped)
    {
        const std::vector<uint8_t>& jpeg = f.jpeg();
        const std::string head = std::string("--") + kBoundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                 std::to_string(jpeg.size()) + "\r\nX-Frame: " + std::to_string(f.sequence()) +
                                 "\r\nX-Dropped: " + std::to_string(dropped) + "\r\n\r\n";
        return sink.write(head.data(), head.size()) &&
               sink.write(reinterpret_cast<const char*>(jpeg.data()), jpeg.size()) && sink.write("\r\n", 2);
    }

    static void stream(WebServer& w, Response& res)
    {
        if (w.m_streams.fetch_add(1) >= w.m_config.maxStreams) {
            --w.m_streams;
            return sendError(res, 503,
                             "already " + std::to_string(w.m_config.maxStreams) + " streams; try again later",
                             Json{{"max_streams", w.m_config.maxStreams}});
        }
        ++w.m_streamsServed;
        struct State {
            unsigned long last = 0;
            unsigned long dropped = 0;
            bool started = false;
        };
        auto state = std::make_shared<State>();
        res.set_header("Cache-Control", "no-store");
        res.set_chunked_content_provider(
            std::string("multipart/x-mixed-replace; boundary=") + kBoundary,
            [&w, state](size_t, httplib::DataSink& sink) {
                if (w.m_stopping) return false;
                // The picture in hand first, so that a software-triggered
                // camera shows something at once.
                std::shared_ptr<const Frame> f = state->started ? nullptr : w.m_hub.latest();
                state->started = true;
                if (!f) {
                    const FrameHub::Next next = w.m_hub.waitNext(state->last, ULONG_MAX, Clock::now() + kStreamPoll);
                    if (next.closed) return false;
                    if (!next.frame) return true;   // nothing new: look at the client again
                    f = next.frame;
                }
                if (state->last != 0 && f->sequence() > state->last + 1) state->dropped += f->sequence() - state->last - 1;
                state->last = f->sequence();
                try {
                    return sendPart(sink, *f, state->dropped);
                } catch (const RunError&) {
                    return false;
                }
            },
            [&w](bool) { --w.m_streams; });
    }

    // Every path answers 405 to the methods it does not take.
    using Handler = std::function<void(const Request&, Response&)>;
    static void route(httplib::Server& s, const std::string& path, const std::map<std::string, Handler>& methods)
    {
        std::string allow;
        for (const auto& m : methods) allow += (allow.empty() ? "" : ", ") + m.first;
        const Handler refuse = [allow](const Request& req, Response& res) {
            res.set_header("Allow", allow);
            sendError(res, 405, req.method + " is not allowed on " + req.path, Json{{"allow", allow}});
        };
        auto pick = [&](const char* method) {
            const auto it = methods.find(method);
            return it != methods.end() ? it->second : refuse;
        };
        s.Get(path, pick("GET"));
        s.Put(path, pick("PUT"));
        s.Post(path, pick("POST"));
        s.Delete(path, pick("DELETE"));
        s.Patch(path, pick("PATCH"));
        s.Options(path, pick("OPTIONS"));
    }

    static void install(WebServer& w, httplib::Server& s)
    {
        const int sensor = w.m_config.sensor;
        const Handler page = [](const Request&, Response& res) {
            res.set_content(reinterpret_cast<const char*>(kWebPage), kWebPageSize, "text/html; charset=utf-8");
        };
        route(s, "/", {{"GET", page}});
        route(s, "/index.html", {{"GET", page}});
        route(s, "/api/info", {{"GET", [&w](const Request&, Response& res) { job(w, res, [] { return readCameraInfo(); }); }}});
        route(s, "/api/settings",
              {{"GET", [&w, sensor](const Request&, Response& res) { job(w, res, [sensor] { return readSettings(sensor); }); }},
               {"PUT", [&w](const Request& req, Response& res) { putSettings(w, req, res); }}});
        route(s, "/api/trigger", {{"POST", [&w](const Request&, Response& res) { trigger(w, res); }}});
        route(s, "/api/frame.png", {{"GET", [&w](const Request&, Response& res) { frame(w, res, true); }}});
        route(s, "/api/frame.jpg", {{"GET", [&w](const Request&, Response& res) { frame(w, res, false); }}});
        route(s, "/api/histogram", {{"GET", [&w](const Request&, Response& res) { histogram(w, res); }}});
        route(s, "/api/stream.mjpg", {{"GET", [&w](const Request&, Response& res) { stream(w, res); }}});
        // Answers httplib makes itself (404, 413, ...) get a JSON body too.
        const httplib::Server::HandlerWithResponse onError = [](const Request&, Response& res) {
            if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
            res.set_content(statusBody(res.status).dump() + "\n", "application/json");
            return httplib::Server::HandlerResponse::Handled;
        };
        s.set_error_handler(onError);
    }
};

WebServer::WebServer(LiveCamera& camera, FrameHub& hub, const WebConfig& config)
    : m_camera(camera), m_hub(hub), m_config(config), m_server(std::make_unique<httplib::Server>())
{
    httplib::Server& s = *m_server;
    s.set_payload_max_length(kMaxBodyBytes);
    s.set_read_timeout(kSocketTimeoutSeconds, 0);
    s.set_write_timeout(kSocketTimeoutSeconds, 0);
    s.set_keep_alive_timeout(kSocketTimeoutSeconds);
    const size_t threads = config.maxStreams + kRequestThreads;
    s.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    Routes::install(*this, s);
}

WebServer::~WebServer() { stop(); }

int WebServer::bind(const std::string& host, int port)
{
    if (port == 0) {
        const int bound = m_server->bind_to_any_port(host);
        if (bound > 0) return bound;
    } else if (m_server->bind_to_port(host, port)) {
        return port;
    }
    throw RunError("cannot listen on " + host + ":" + std::to_string(port) + ": " +
                   (errno != 0 ? std::strerror(errno) : "the address is not usable"));
}

void WebServer::run() { m_server->listen_after_bind(); }

void WebServer::stop()
{
    m_stopping = true;
    m_hub.close();
    m_server->stop();
}

}  // namespace vyxcam
