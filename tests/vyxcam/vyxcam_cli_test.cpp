// vyxcam as a process on the virtual board: its command line (help,
// version, every kind of usage error), `info`, `gpio` and `log`.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "VYXZebApi.h"
#include "VyxcamRun.h"

namespace {

using nlohmann::json;
using namespace vyxcamtest;

class VyxcamCli : public VyxcamTest {};

TEST_F(VyxcamCli, HelpAndVersionNeedNoCamera)
{
    ToolResult r = Run({"--help"});
    ExpectStatus(r, 0);
    for (const char* sub : {"info", "capture", "show", "gpio", "log", "--json", "--log"})
        EXPECT_TRUE(Contains(r.out, sub)) << sub << "\n" << r.out;

    r = Run({"capture", "--help"});
    ExpectStatus(r, 0);
    for (const char* option : {"--exposure-ms", "--exposure-lines", "--gain", "--fov", "--center", "--address-mode",
                               "--mirror", "--flip", "--flash", "--flash-invert", "--frame-buffers", "--multi-frame",
                               "--fixed-rate", "--trigger", "--trigger-delay-us", "--trigger-filter", "--timeout-ms",
                               "external3", "applied in this order", "--format", "PATTERN"})
        EXPECT_TRUE(Contains(r.out, option)) << option << "\n" << r.out;

    r = Run({"gpio", "set", "--help"});
    ExpectStatus(r, 0);
    EXPECT_TRUE(Contains(r.out, "LINE=LEVEL")) << r.out;

    r = Run({"--version"});
    ExpectStatus(r, 0);
    EXPECT_TRUE(Contains(r.out, "vyxcam 2.2.0.0, libvyxzeb 2.2.0.0")) << r.out;
}

// Every refusal: status 2, the usage line, and the offending argument named.
// Those above the line are refused before the camera opens.
TEST_F(VyxcamCli, UsageErrorsGiveStatusTwoAndNameTheArgument)
{
    struct Case {
        std::vector<std::string> args;
        const char* named;
        bool opensCamera;
    };
    const std::vector<Case> cases = {
        {{}, "subcommand", false},
        {{"frobnicate"}, "frobnicate", false},
        {{"capture", "--frobnicate"}, "--frobnicate", false},
        {{"capture", "--gain", "x"}, "--gain", false},
        {{"capture", "--gain", "-1"}, "--gain", false},
        {{"capture", "--address-mode", "5"}, "--address-mode", false},
        {{"capture", "--frame-buffers", "4"}, "--frame-buffers", false},
        {{"capture", "--trigger-delay-us", "65536"}, "--trigger-delay-us", false},
        {{"capture", "--trigger-filter", "70000"}, "--trigger-filter", false},
        {{"capture", "--fixed-rate", "1000001"}, "--fixed-rate", false},
        {{"capture", "--trigger", "sometimes"}, "--trigger", false},
        {{"capture", "--fov", "1,2,3"}, "--fov", false},
        {{"capture", "--fov", "0,0,640,480", "--center", "640,480"}, "--center", false},
        {{"capture", "--exposure-ms", "5", "--exposure-lines", "10"}, "--exposure-lines", false},
        {{"capture", "--exposure-ms", "fast"}, "--exposure-ms", false},
        {{"capture", "--flash", "maybe"}, "--flash", false},
        {{"capture", "--timeout-ms", "0"}, "--timeout-ms", false},
        {{"capture", "--multi-frame", "0"}, "--multi-frame", false},
        {{"capture", "--sensor", "4"}, "--sensor", false},
        {{"capture", "-n", "0"}, "-n", false},
        {{"capture", "-n", "3", "-o", "single.png"}, "-o single.png", false},
        {{"capture", "-o", "frame-%s.png"}, "frame-%s.png", false},
        {{"capture", "--format", "tiff"}, "--format", false},
        {{"show"}, "FILE", false},
        {{"show", "missing.png"}, "missing.png", false},
        {{"show", "--live", "--hold-ms", "5"}, "--hold-ms", false},
        {{"show", "--live", "--at", "0,0,2000,10"}, "--at", false},
        {{"gpio"}, "gpio", false},
        {{"gpio", "set", "3=2"}, "3=2", false},
        {{"gpio", "set"}, "LINE=LEVEL", false},
        {{"log", "on"}, "DIR", false},
        {{"log", "on", ""}, "empty", false},
        // Ranges the camera reports.
        {{"capture", "--gain", "300"}, "--gain 300", true},
        {{"capture", "--fov", "1000,0,640,480"}, "--fov 1000,0,640,480", true},
        {{"capture", "--multi-frame", "9"}, "--multi-frame 9", true},
        {{"capture", "--exposure-ms", "500"}, "--exposure-ms 500", true},
        {{"gpio", "set", "0=1"}, "line 0", true},
        {{"gpio", "get", "8"}, "line 8", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const std::string report = Path("report.txt");
        const ToolResult r = Run(c.args, {"VYXCAM_HOOK_REPORT=" + report});
        ExpectStatus(r, 2);
        EXPECT_TRUE(Contains(r.err, c.named)) << r.err;
        EXPECT_TRUE(Contains(r.err, "Usage: vyxcam")) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        if (c.opensCamera)
            ExpectCameraClosed(report);
        else
            EXPECT_EQ(ReadNodeReport(report).at("/dev/cache_ops").opens, 0) << "the camera was opened";
    }
}

// `info --json` against the API asked in this process: both see a freshly
// opened camera on a board of their own.
TEST_F(VyxcamCli, InfoJsonAgreesWithTheApi)
{
    const ToolResult r = Run({"info", "--json"});
    ExpectStatus(r, 0);
    const json info = json::parse(r.out);
    ASSERT_EQ(VYXZEB_Init(), VYXZEB_RET_SUCCESS);
    EXPECT_EQ(info["library_version"], "2.2.0.0");
    int count = 0;
    VYXZEB_GetSensorNum(&count);
    ASSERT_EQ(info["sensor_count"], count);
    ASSERT_EQ(info["sensors"].size(), 1u);
    const json& s = info["sensors"][0];
    VYXZEB_SENSOR_TYPE type;
    VYXZEB_GetSensorType(0, &type);
    EXPECT_EQ(s["type"], static_cast<int>(type));
    EXPECT_EQ(s["type_name"], "Q210B");
    int kind = 0, version = 0;
    VYXZEB_GetDeviceInformation(0, &kind, &version);
    EXPECT_EQ(s["device_kind"], kind);
    EXPECT_EQ(s["pl_version"], static_cast<unsigned>(version));
    int w = 0, h = 0, bits = 0;
    VYXZEB_GetCaptureSize(0, &w, &h, &bits);
    EXPECT_EQ(s["capture_size"], (json{{"width", w}, {"height", h}, {"bits_per_pixel", bits}}));
    unsigned long a = 0, b = 0, c = 0, d = 0;
    VYXZEB_GetCaptureFieldOfViewRange(0, &a, &b, &c, &d);
    EXPECT_EQ(s["ranges"]["fov"], (json{{"min_width", a}, {"min_height", b}, {"max_width", c}, {"max_height", d}}));
    VYXZEB_GetGainRange(0, &a, &b);
    EXPECT_EQ(s["ranges"]["gain"], (json{{"min", a}, {"max", b}}));
    VYXZEB_GetExposureLinesRange(0, &a, &b);
    EXPECT_EQ(s["ranges"]["exposure_lines"], (json{{"min", a}, {"max", b}}));
    VYXZEB_GetMultiFrameRange(0, &a, &b);
    EXPECT_EQ(s["ranges"]["multi_frame"], (json{{"min", a}, {"max", b}}));
    VYXZEB_GetTriggerDelayRange(0, &a, &b);
    EXPECT_EQ(s["ranges"]["trigger_delay_us"], (json{{"min", a}, {"max", b}}));
    EXPECT_EQ(s["ranges"]["trigger_filter"], (json{{"min", 0}, {"max", 65535}}));
    float fmin = 0, fmax = 0;
    VYXZEB_GetExposureTimeRange(0, &fmin, &fmax);
    EXPECT_NEAR(s["ranges"]["exposure_ms"]["max"].get<double>(), fmax, 1e-3);

    const json& set = s["settings"];
    float ms = 0;
    VYXZEB_GetExposureTime(0, &ms);
    EXPECT_NEAR(set["exposure_ms"].get<double>(), ms, 1e-4);
    VYXZEB_GetExposureLines(0, &a);
    EXPECT_EQ(set["exposure_lines"], a);
    VYXZEB_GetGain(0, &a);
    EXPECT_EQ(set["gain"], a);
    VYXZEB_GetCaptureFieldOfView(0, &a, &b, &c, &d);
    EXPECT_EQ(set["fov"], (json{{"x", a}, {"y", b}, {"width", c}, {"height", d}}));
    VYX_ADDRESSMODE mode;
    VYXZEB_GetAddressMode(0, &mode);
    EXPECT_EQ(set["address_mode"], static_cast<int>(mode));
    bool flag = true;
    VYXZEB_GetMirror(0, &flag);
    EXPECT_EQ(set["mirror"], flag);
    VYXZEB_GetFlip(0, &flag);
    EXPECT_EQ(set["flip"], flag);
    VYXZEB_FlashGetEnable(0, &flag);
    EXPECT_EQ(set["flash"], flag ? "on" : "off");
    VYXZEB_FlashGetInvert(0, &flag);
    EXPECT_EQ(set["flash_invert"], flag);
    VYXZEB_GetFrameBufNum(0, &a);
    EXPECT_EQ(set["frame_buffers"], a);
    VYXZEB_GetMultiFrame(0, &a);
    EXPECT_EQ(set["multi_frame"], a);
    VYXZEB_GetFixFrameRate(0, &a);
    EXPECT_EQ(set["fixed_rate"], a);
    VYXZEB_GetTriggerDelay(0, &a);
    EXPECT_EQ(set["trigger_delay_us"], a);
    unsigned short filter = 1;
    VYXZEB_GetTriggerFilter(0, &filter);
    EXPECT_EQ(set["trigger_filter"], filter);
    VYXZEB_TRIGGER_MODE trigger;
    VYXZEB_GetTriggerMode(0, &trigger);
    EXPECT_EQ(trigger, VYXZEB_TRIGGER_SOFTWARE);
    EXPECT_EQ(set["trigger"], "software");
    unsigned short gpio = 0, mask = 0;
    VYXZEB_GpioGetNum(&gpio);
    VYXZEB_GpioGetDirection(&mask);
    EXPECT_EQ(info["gpio"], (json{{"count", gpio}, {"direction_mask", mask}}));
    VYXZEB_UnInit();

    const ToolResult text = Run({"info"});
    ExpectStatus(text, 0);
    EXPECT_TRUE(Contains(text.out, "sensor 0: Q210B")) << text.out;
    EXPECT_TRUE(Contains(text.out, "PL version 0x")) << text.out;
}

TEST_F(VyxcamCli, GpioOutputsAreSetAndInputsRead)
{
    ToolResult r = Run({"gpio", "set", "3=1", "5=1", "4=0", "--json"});
    ExpectStatus(r, 0);
    const json set = json::parse(r.out);
    EXPECT_EQ(set["lines"], json::parse(R"([{"line":3,"level":1,"direction":"out"},
                                            {"line":5,"level":1,"direction":"out"},
                                            {"line":4,"level":0,"direction":"out"}])"));

    r = Run({"gpio", "get", "0", "1", "2", "3"}, {"VYXCAM_HOOK_GPIO_INPUTS=1=1"});
    ExpectStatus(r, 0);
    EXPECT_EQ(r.out, "0=0 1=1 2=0 3=0\n");

    r = Run({"gpio", "status", "--json"}, {"VYXCAM_HOOK_GPIO_INPUTS=0=1,2=1"});
    ExpectStatus(r, 0);
    const json status = json::parse(r.out);
    EXPECT_EQ(status["count"], 8);
    EXPECT_EQ(status["direction_mask"], 0xF8);
    EXPECT_EQ(status["levels"], 0x05);
    EXPECT_EQ(status["lines"].size(), 8u);
    EXPECT_EQ(status["lines"][2], (json{{"line", 2}, {"level", 1}, {"direction", "in"}}));
}

TEST_F(VyxcamCli, LogOnHoldsForLaterRunsUntilOff)
{
    ToolResult r = Run({"log", "status"});
    ExpectStatus(r, 0);
    EXPECT_EQ(r.out, "log off\n");

    r = Run({"log", "on", "logs", "--json"});
    ExpectStatus(r, 0);
    json state = json::parse(r.out);
    EXPECT_EQ(state["enabled"], true);
    EXPECT_EQ(state["folder"], Path("logs"));
    const std::string first = state["newest_file"];
    EXPECT_TRUE(Contains(ReadText(first), "vyxcam log on")) << first;

    // A later run logs the library's start-up into the folder.
    ExpectStatus(Run({"info"}), 0);
    const std::string newest = json::parse(Run({"log", "status", "--json"}).out)["newest_file"];
    EXPECT_TRUE(Contains(ReadText(newest), "VYXLOG_(")) << newest;

    r = Run({"log", "off"});
    ExpectStatus(r, 0);
    EXPECT_EQ(r.out, "log off\n");

    // --log is for one run only, and wins over nothing saved.
    ExpectStatus(Run({"--log", Path("once"), "gpio", "status"}), 0);
    EXPECT_TRUE(Exists(Path("once")));
    state = json::parse(Run({"log", "status", "--json"}).out);
    EXPECT_EQ(state["enabled"], false);
    EXPECT_EQ(state["folder"], nullptr);

    // A folder the library cannot use fails now, not in every later run.
    r = Run({"log", "on", Path("no/such/parent")});
    ExpectStatus(r, 1);
    EXPECT_TRUE(Contains(r.err, "no/such/parent")) << r.err;
    EXPECT_EQ(json::parse(Run({"log", "status", "--json"}).out)["enabled"], false);
}

}  // namespace
