// `vyxcam capture` as a process on the virtual board: the files it writes
// follow the settings (size, content, exposure), camera errors give status
// 1 with the code's name, and a stop signal leaves whole files and a closed
// camera.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <signal.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "ImageFile.h"
#include "VyxModel.h"
#include "VyxcamRun.h"

namespace {

using nlohmann::json;
using namespace vyxcamtest;

// Each frame starts with the PL's 8-byte frame stamp instead of pixels.
constexpr size_t kStampBytes = vb::kFrameStampBytes;

class VyxcamCapture : public VyxcamTest {
protected:
    static vyxcam::Image Read(const std::string& path) { return vyxcam::readImageFile(path); }

    // Compares a frame with the scene the board shows, through a mapping of
    // frame pixels to sensor pixels; start-up exposure and gain show the
    // scene unchanged, up to rounding.
    template <typename Map>
    static void ExpectScene(const vyxcam::Image& img, Map sensorValue)
    {
        int worst = 0;
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x) {
                if (static_cast<size_t>(y) * img.width + x < kStampBytes) continue;
                const int d = std::abs(img.pixels[static_cast<size_t>(y) * img.width + x] - sensorValue(x, y));
                worst = std::max(worst, d);
            }
        EXPECT_LE(worst, 1);
    }

    static double Mean(const vyxcam::Image& img)
    {
        double sum = 0;
        for (size_t i = kStampBytes; i < img.pixels.size(); ++i) sum += img.pixels[i];
        return sum / static_cast<double>(img.pixels.size() - kStampBytes);
    }
};

TEST_F(VyxcamCapture, AddressModeGivesBinnedFramesOfTheScene)
{
    const ToolResult r = Run({"capture", "-n", "3", "-o", "bin-%d.pgm", "--address-mode", "1"});
    ExpectStatus(r, 0);
    EXPECT_TRUE(Contains(r.out, "captured 3 of 3 frames")) << r.out;
    for (int i = 0; i < 3; ++i) {
        const std::string file = Path("bin-" + std::to_string(i) + ".pgm");
        EXPECT_TRUE(ReadText(file).rfind("P5\n640 512\n255\n", 0) == 0) << file;
        const vyxcam::Image img = Read(file);
        ASSERT_EQ(img.width, 640);
        ASSERT_EQ(img.height, 512);
        ExpectScene(img, [](int x, int y) {
            const int sum = vb::modelPatternValue(2 * x, 2 * y) + vb::modelPatternValue(2 * x + 1, 2 * y) +
                            vb::modelPatternValue(2 * x, 2 * y + 1) + vb::modelPatternValue(2 * x + 1, 2 * y + 1);
            return (sum + 2) / 4;
        });
    }
}

TEST_F(VyxcamCapture, FieldOfViewAndMirrorShapeTheFrames)
{
    const ToolResult r = Run({"capture", "-n", "2", "--fov", "160,128,320,256", "--mirror", "--json"});
    ExpectStatus(r, 0);
    const json summary = json::parse(r.out);
    EXPECT_EQ(summary["captured"], 2);
    EXPECT_EQ(summary["requested"], 2);
    EXPECT_EQ(summary["failed"], json::array());
    EXPECT_EQ(summary["interrupted"], false);
    EXPECT_EQ(summary["format"], "png");
    EXPECT_EQ(summary["files"], (json{"frame-0000.png", "frame-0001.png"}));
    EXPECT_EQ(summary["settings"]["fov"], (json{{"x", 160}, {"y", 128}, {"width", 320}, {"height", 256}}));
    EXPECT_EQ(summary["settings"]["mirror"], true);
    for (const char* key : {"elapsed_s", "fps", "width", "height", "bits_per_pixel"}) EXPECT_TRUE(summary.contains(key)) << key;
    const vyxcam::Image img = Read(Path("frame-0001.png"));
    ASSERT_EQ(img.width, 320);
    ASSERT_EQ(img.height, 256);
    ASSERT_EQ(img.channels, 1);
    ExpectScene(img, [](int x, int y) { return vb::modelPatternValue(160 + 319 - x, 128 + y); });
}

TEST_F(VyxcamCapture, TwiceTheExposureIsTwiceAsBright)
{
    ExpectStatus(Run({"capture", "-o", "short.pgm", "--exposure-ms", "5"}), 0);
    ExpectStatus(Run({"capture", "-o", "long.pgm", "--exposure-ms", "10"}), 0);
    const double ratio = Mean(Read(Path("long.pgm"))) / Mean(Read(Path("short.pgm")));
    EXPECT_NEAR(ratio, 2.0, 0.05);
}

// Geometry before exposure and frame count: lines and a frame count that
// only fit the final window are taken as given.
TEST_F(VyxcamCapture, SettingsThatDependOnTheGeometryFollowIt)
{
    const ToolResult r = Run({"capture", "--json", "-o", "tall.raw", "--multi-frame", "20", "--exposure-lines", "1000",
                              "--fov", "0,0,320,256", "--trigger", "continuous", "--fixed-rate", "200"});
    ExpectStatus(r, 0);
    const json summary = json::parse(r.out);
    EXPECT_EQ(summary["settings"]["exposure_lines"], 1000);
    EXPECT_EQ(summary["settings"]["multi_frame"], 20);
    EXPECT_EQ(summary["settings"]["trigger"], "continuous");
    EXPECT_EQ(summary["height"], 256 * 20);
    EXPECT_EQ(ReadText(Path("tall.raw")).size(), 320u * 256u * 20u);
}

// Bitmaps under the camera's picture folders are written by the library,
// others by the tool, in the same layout.
TEST_F(VyxcamCapture, BitmapsInAndOutsideThePictureFolders)
{
    ExpectStatus(Run({"capture", "--fov", "0,0,200,100", "-o", "/picture/data/lib-%d.bmp"}), 0);
    ExpectStatus(Run({"capture", "--fov", "0,0,200,100", "-o", "own-%d.bmp"}), 0);
    const std::string lib = ReadText(PicturePath("/picture/data/lib-0.bmp"));
    const std::string own = ReadText(Path("own-0.bmp"));
    ASSERT_EQ(lib.size(), 1078u + 200u * 100u);
    ASSERT_EQ(own.size(), lib.size());
    EXPECT_TRUE(lib.compare(0, 1078, own, 0, 1078) == 0) << "headers and palette differ";
    EXPECT_TRUE(lib.compare(1078 + kStampBytes, std::string::npos, own, 1078 + kStampBytes, std::string::npos) == 0)
        << "pixels differ";
}

TEST_F(VyxcamCapture, AnExternalTriggerThatNeverComesIsACameraError)
{
    const ToolResult r = Run({"capture", "-n", "2", "--trigger", "external0", "--timeout-ms", "300", "--json"});
    ExpectStatus(r, 1);
    EXPECT_EQ(CountOf(r.err, "VYXZEB_CaptureData: -1011 VYXZEB_RET_CAPTURE_TIMEOUT (no frame within 300 ms)"), 2u)
        << r.err;
    const json summary = json::parse(r.out);
    EXPECT_EQ(summary["captured"], 0);
    EXPECT_EQ(summary["failed"], json::parse(R"([{"code":-1011,"name":"VYXZEB_RET_CAPTURE_TIMEOUT","count":2}])"));
}

TEST_F(VyxcamCapture, InjectedFaultsAreCameraErrorsWithTheCodesName)
{
    ToolResult r = Run({"info"}, {"VYXCAM_HOOK_FAULT=init"});
    ExpectStatus(r, 1);
    EXPECT_TRUE(Contains(r.err, "VYXZEB_Init: -1001 VYXZEB_RET_FAILED (")) << r.err;

    r = Run({"gpio", "get", "3"}, {"VYXCAM_HOOK_FAULT=gpio"});
    ExpectStatus(r, 1);
    EXPECT_TRUE(Contains(r.err, "VYXZEB_GpioGet: -1010 VYXZEB_RET_GPIO_FAILED (line 3")) << r.err;

    r = Run({"capture", "--timeout-ms", "200"}, {"VYXCAM_HOOK_FAULT=interrupts"});
    ExpectStatus(r, 1);
    EXPECT_TRUE(Contains(r.err, "VYXZEB_RET_CAPTURE_TIMEOUT")) << r.err;
    EXPECT_FALSE(Exists(Path("frame-0000.png")));
}

TEST_F(VyxcamCapture, FilesThatCannotBeWrittenEndTheRun)
{
    const ToolResult r = Run({"capture", "-n", "3", "-o", "missing/f-%d.pgm", "--json"});
    ExpectStatus(r, 1);
    EXPECT_TRUE(Contains(r.err, "vyxcam: cannot create " )) << r.err;
    EXPECT_EQ(json::parse(r.out)["captured"], 0);
}

// Ctrl-C in the middle of a long capture: the frame in hand is finished,
// the camera closed, and every file is whole.
TEST_F(VyxcamCapture, InterruptLeavesWholeFilesAndAClosedCamera)
{
    const std::string report = Path("report.txt");
    const pid_t launcher = Start({"capture", "-n", "1000000", "-o", "s-%06d.pgm", "--fov", "0,0,320,256", "--json"},
                                 {"VYXCAM_HOOK_REPORT=" + report});
    const pid_t tool = ToolPid(launcher);
    ASSERT_GT(tool, 0);
    ASSERT_TRUE(WaitFor([&] { return Exists(Path("s-000000.pgm")); }));
    ASSERT_EQ(kill(tool, SIGINT), 0);
    const ToolResult r = Finish(launcher);
    ExpectStatus(r, 0);
    const json summary = json::parse(r.out);
    EXPECT_EQ(summary["interrupted"], true);
    const int captured = summary["captured"];
    ASSERT_GE(captured, 1);
    ASSERT_LT(captured, 1000000);
    const size_t whole = std::string("P5\n320 256\n255\n").size() + 320 * 256;
    for (int i = 0; i <= captured; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "s-%06d.pgm", i);
        EXPECT_EQ(Exists(Path(name)), i < captured) << name;
        if (i < captured) {
            EXPECT_EQ(ReadText(Path(name)).size(), whole) << name;
        }
        // No temporary file is left behind.
        EXPECT_FALSE(Exists(Path(std::string(".") + name + ".tmp-" + std::to_string(tool) + "-0"))) << name;
    }
    ExpectCameraClosed(report);
}

}  // namespace
