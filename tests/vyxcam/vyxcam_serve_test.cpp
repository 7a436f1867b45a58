// `vyxcam serve` as a process on the virtual board, driven over HTTP from
// this test: status codes and JSON bodies, frames that decode to the capture
// size and follow the settings, every kind of bad input, read-only mode, the
// stream limit and a clean stop.  The server binds a free port and says
// which on its first line of standard output.
// Debian's compiled cpp-httplib for the board keeps the ABI's 32-bit time_t
// (its Server::set_read_timeout takes two longs) with large files on (it
// calls stat64 and fcntl64).  Its classes hold time_t members (the socket
// time-outs), so the units that include its header see time_t as the library
// does; no structure holding a time_t passes between them and the rest of
// the tool.
#undef _TIME_BITS

#include <gtest/gtest.h>

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <signal.h>
#include <turbojpeg.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "AcquisitionModel.h"
#include "ImageFile.h"
#include "VyxModel.h"
#include "VyxcamRun.h"

namespace {

using nlohmann::json;
using namespace vyxcamtest;

constexpr size_t kStampBytes = vb::kFrameStampBytes;

class VyxcamServe : public VyxcamTest {
protected:
    // Starts the server and waits for its address line; false if none came.
    bool StartServer(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"serve", "--listen", "127.0.0.1:0"});
        m_launcher = Start(args, {"VYXCAM_HOOK_REPORT=" + Path("report.txt")});
        const std::string out = Path("stdout-1.txt");
        json where;
        const bool up = WaitFor([&] {
            const std::string text = ReadText(out);
            if (text.find('\n') == std::string::npos) return false;
            where = json::parse(text.substr(0, text.find('\n')));
            return true;
        });
        if (!up) return false;
        EXPECT_EQ(where["address"], "127.0.0.1");
        m_port = where["port"].get<int>();
        EXPECT_EQ(where["url"], "http://127.0.0.1:" + std::to_string(m_port) + "/");
        return m_port > 0;
    }

    void TearDown() override
    {
        if (m_launcher > 0) {
            const ToolResult r = Stop(m_launcher, SIGTERM);
            ExpectStatus(r, 0);
            EXPECT_TRUE(Contains(r.err, "stopped after")) << r.err;
            ExpectCameraClosed(Path("report.txt"));
        }
        VyxcamTest::TearDown();
    }

    httplib::Client Client() const
    {
        httplib::Client c("127.0.0.1", m_port);
        c.set_connection_timeout(30);
        c.set_read_timeout(120);   // qemu, sanitizers, a loaded machine
        c.set_write_timeout(30);
        return c;
    }

    static json Body(const httplib::Result& r) { return r ? json::parse(r->body) : json(); }

    json Put(const json& body)
    {
        auto r = Client().Put("/api/settings", body.dump(), "application/json");
        EXPECT_TRUE(r);
        EXPECT_EQ(r ? r->status : 0, 200) << (r ? r->body : "no answer");
        return Body(r);
    }

    vyxcam::Image FramePng()
    {
        auto r = Client().Get("/api/frame.png");
        EXPECT_TRUE(r);
        if (!r) return {};
        EXPECT_EQ(r->status, 200) << r->body;
        EXPECT_EQ(r->get_header_value("Content-Type"), "image/png");
        const std::string file = Path("frame.png");
        std::ofstream(file, std::ios::binary) << r->body;
        return vyxcam::readImageFile(file);
    }

    // Largest difference to the scene through a frame-to-sensor mapping.
    template <typename Map>
    static int Worst(const vyxcam::Image& img, Map sensorValue)
    {
        int worst = 0;
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x) {
                const size_t i = static_cast<size_t>(y) * img.width + x;
                if (i < kStampBytes) continue;
                worst = std::max(worst, std::abs(img.pixels[i] - sensorValue(x, y)));
            }
        return worst;
    }

    static double Mean(const vyxcam::Image& img)
    {
        double sum = 0;
        for (size_t i = kStampBytes; i < img.pixels.size(); ++i) sum += img.pixels[i];
        return sum / static_cast<double>(img.pixels.size() - kStampBytes);
    }

    pid_t m_launcher = -1;
    int m_port = 0;
};

TEST_F(VyxcamServe, PageInfoAndFramesAtTheCaptureSize)
{
    ASSERT_TRUE(StartServer({}));
    httplib::Client c = Client();

    auto page = c.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_TRUE(Contains(page->body, "id=\"frames\"")) << "the page counts its frames";
    EXPECT_FALSE(Contains(page->body, "http://")) << "the page fetches nothing from elsewhere";

    const json info = Body(c.Get("/api/info"));
    for (const char* key : {"library_version", "sensor_count", "sensors", "gpio"}) EXPECT_TRUE(info.contains(key)) << key;
    EXPECT_EQ(info["sensors"][0]["settings"]["trigger"], "continuous") << "a live view streams by default";

    const vyxcam::Image png = FramePng();
    ASSERT_EQ(png.width, 1280);
    ASSERT_EQ(png.height, 1024);
    EXPECT_LE(Worst(png, [](int x, int y) { return vb::modelPatternValue(x, y); }), 1);

    auto jpg = c.Get("/api/frame.jpg");
    ASSERT_TRUE(jpg);
    ASSERT_EQ(jpg->status, 200);
    EXPECT_EQ(jpg->get_header_value("Content-Type"), "image/jpeg");
    tjhandle tj = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    EXPECT_EQ(tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(jpg->body.data()), jpg->body.size(),
                                  &width, &height, &subsampling, &colourspace),
              0);
    tjDestroy(tj);
    EXPECT_EQ(width, 1280);
    EXPECT_EQ(height, 1024);

    const json histogram = Body(c.Get("/api/histogram"));
    ASSERT_EQ(histogram["counts"].size(), 256u);
    unsigned long total = 0;
    for (const auto& n : histogram["counts"]) total += n.get<unsigned long>();
    EXPECT_EQ(total, 1280ul * 1024ul);
}

// Each change shows in the very next frame: the capture thread applies it
// between two frames and the frame asked for afterwards is newer.
TEST_F(VyxcamServe, SettingsRoundTripAndShowInTheNextFrame)
{
    ASSERT_TRUE(StartServer({"--gain", "16"}));
    const json window = {{"x", 160}, {"y", 128}, {"width", 320}, {"height", 256}};
    json set = Put({{"fov", window}, {"mirror", true}});
    EXPECT_EQ(set["fov"], window);
    EXPECT_EQ(set["mirror"], true);
    EXPECT_EQ(set["gain"], 16) << "a partial update keeps the rest";
    EXPECT_EQ(set["trigger"], "continuous");
    EXPECT_EQ(Body(Client().Get("/api/settings")), set);
    const vyxcam::Image mirrored = FramePng();
    ASSERT_EQ(mirrored.width, 320);
    ASSERT_EQ(mirrored.height, 256);
    EXPECT_LE(Worst(mirrored, [](int x, int y) { return vb::modelPatternValue(160 + 319 - x, 128 + y); }), 1);

    Put({{"mirror", false}, {"exposure_ms", 5}});
    const double shortMean = Mean(FramePng());
    Put({{"exposure_ms", 10}});
    EXPECT_NEAR(Mean(FramePng()) / shortMean, 2.0, 0.05);

    // Software trigger: only in software mode, one fresh frame per trigger.
    httplib::Client c = Client();
    auto refused = c.Post("/api/trigger", "", "application/json");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 409);
    EXPECT_EQ(Body(refused)["trigger"], "continuous");
    EXPECT_EQ(Put({{"trigger", "software"}})["trigger"], "software");
    auto first = c.Post("/api/trigger", "", "application/json");
    auto second = c.Post("/api/trigger", "", "application/json");
    ASSERT_TRUE(first && second);
    ASSERT_EQ(first->status, 200) << first->body;
    ASSERT_EQ(second->status, 200) << second->body;
    EXPECT_GT(Body(second)["frame"].get<unsigned long>(), Body(first)["frame"].get<unsigned long>());
}

TEST_F(VyxcamServe, BadInputGetsItsStatusAndChangesNothing)
{
    ASSERT_TRUE(StartServer({}));
    httplib::Client c = Client();
    const json before = Body(c.Get("/api/settings"));
    ASSERT_TRUE(before.is_object());

    struct Case {
        std::string body;
        const char* field;   // nullptr: the body as a whole
    };
    const Case cases[] = {
        {"{\"gain\":", nullptr},               // malformed JSON
        {"{\"exposure_ms\":1e400}", nullptr},  // a number no double holds
        {"[1,2]", "settings"},                 // not an object
        {"{\"brightness\":3}", "brightness"},  // unknown key
        {"{\"gain\":\"16\"}", "gain"},         // wrong type
        {"{\"gain\":-1}", "gain"},
        {"{\"mirror\":1}", "mirror"},
        {"{\"exposure_ms\":\"long\"}", "exposure_ms"},
        {"{\"address_mode\":5}", "address_mode"},  // outside the API's limits
        {"{\"frame_buffers\":4}", "frame_buffers"},
        {"{\"trigger\":\"sometimes\"}", "trigger"},
        {"{\"fov\":{\"x\":0,\"y\":0,\"width\":320}}", "fov"},  // incomplete window
        {"{\"fov\":{\"x\":0,\"y\":0,\"width\":320,\"height\":256,\"z\":1}}", "fov.z"},
        {"{\"fov\":{\"x\":0,\"y\":0,\"width\":320,\"height\":256},\"center\":{\"width\":320,\"height\":256}}",
         "center"},
        {"{\"mirror\":true,\"gain\":100000}", "gain"},  // outside the sensor's range: nothing applied
        {"{\"flip\":true,\"fov\":{\"x\":1200,\"y\":0,\"width\":320,\"height\":256}}", "fov"},
        {"{\"exposure_ms\":100000}", "exposure_ms"},
        {"{\"address_mode\":1,\"exposure_ms\":100000}", "exposure_ms"},  // found after the geometry changed
    };
    for (const Case& k : cases) {
        auto r = c.Put("/api/settings", k.body, "application/json");
        ASSERT_TRUE(r) << k.body;
        EXPECT_EQ(r->status, 400) << k.body << " -> " << r->body;
        const json answer = Body(r);
        EXPECT_TRUE(answer["error"].is_string()) << r->body;
        EXPECT_TRUE(answer["allowed"].is_string()) << r->body;
        if (k.field != nullptr)
            EXPECT_EQ(answer["field"], k.field) << k.body;
        else
            EXPECT_TRUE(answer["field"].is_null()) << r->body;
    }
    EXPECT_EQ(Body(c.Get("/api/settings")), before) << "a refused change changed something";

    auto missing = c.Get("/api/nothing");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    EXPECT_TRUE(Body(missing)["error"].is_string());

    auto wrongMethod = c.Delete("/api/settings");
    ASSERT_TRUE(wrongMethod);
    EXPECT_EQ(wrongMethod->status, 405);
    EXPECT_EQ(wrongMethod->get_header_value("Allow"), "GET, PUT");
    auto getTrigger = c.Get("/api/trigger");
    ASSERT_TRUE(getTrigger);
    EXPECT_EQ(getTrigger->status, 405);

    auto tooLarge = c.Put("/api/settings", "{\"gain\":16," + std::string(20000, ' ') + "}", "application/json");
    ASSERT_TRUE(tooLarge);
    EXPECT_EQ(tooLarge->status, 413);
    EXPECT_TRUE(Body(tooLarge)["error"].is_string());
    EXPECT_EQ(Body(c.Get("/api/settings")), before);
}

// Read-only: every change is refused, looking still works.  With one
// stream allowed, the second gets 503 while the first goes on; a stop
// signal ends the stream and closes the camera (TearDown).
TEST_F(VyxcamServe, ReadOnlyAndTheStreamLimit)
{
    ASSERT_TRUE(StartServer({"--read-only", "--max-streams", "1"}));
    httplib::Client c = Client();
    auto put = c.Put("/api/settings", "{\"gain\":20}", "application/json");
    ASSERT_TRUE(put);
    EXPECT_EQ(put->status, 403);
    auto trigger = c.Post("/api/trigger", "", "application/json");
    ASSERT_TRUE(trigger);
    EXPECT_EQ(trigger->status, 403);
    EXPECT_EQ(Body(c.Get("/api/settings"))["gain"], 16);

    std::atomic<int> parts{0};
    std::atomic<bool> enough{false};
    std::string contentType;
    std::thread first([&] {
        httplib::Client s = Client();
        s.Get(
            "/api/stream.mjpg",
            [&](const httplib::Response& res) {
                contentType = res.get_header_value("Content-Type");
                return res.status == 200;
            },
            [&](const char* data, size_t size) {
                parts += static_cast<int>(CountOf(std::string(data, size), "X-Frame: "));
                return !enough.load();
            });
    });
    EXPECT_TRUE(WaitFor([&] { return parts.load() >= 3; })) << "the stream sent no frames";
    auto second = c.Get("/api/stream.mjpg");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->status, 503);
    EXPECT_EQ(Body(second)["max_streams"], 1);
    enough = true;
    first.join();
    EXPECT_EQ(contentType, "multipart/x-mixed-replace; boundary=vyxframe");

    // The slot is free again once the first client has gone.
    auto again = [&] {
        httplib::Client s = Client();
        int got = 0;
        s.Get(
            "/api/stream.mjpg", [&](const httplib::Response& res) { return res.status == 200; },
            [&](const char* data, size_t size) {
                got += static_cast<int>(CountOf(std::string(data, size), "X-Frame: "));
                return got < 2;
            });
        return got >= 2;
    };
    EXPECT_TRUE(WaitFor(again)) << "the first stream's slot was never freed";
}

}  // namespace
