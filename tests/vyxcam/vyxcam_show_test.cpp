// `vyxcam show` as a process on the virtual board: a picture file and the
// live frames reach the emulated HDMI screen, and a stop signal ends the
// show with the camera closed.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <signal.h>

#include <string>
#include <vector>

#include "ImageFile.h"
#include "VyxcamRun.h"

namespace {

using nlohmann::json;
using namespace vyxcamtest;

class VyxcamShow : public VyxcamTest {
protected:
    // Starts the tool with the hooks saving the screen after the first show,
    // and waits for that screen.
    pid_t StartAndWaitForScreen(const std::vector<std::string>& args)
    {
        const pid_t launcher =
            Start(args, {"VYXCAM_HOOK_SCREEN=" + Path("screen.png"), "VYXCAM_HOOK_REPORT=" + Path("report.txt")});
        EXPECT_TRUE(WaitFor([&] { return Exists(Path("screen.png")); })) << "nothing was shown";
        return launcher;
    }

    // Screen pixel as 0xRRGGBB.
    static uint32_t Rgb(const vyxcam::Image& screen, int x, int y)
    {
        const uint8_t* p = &screen.pixels[(static_cast<size_t>(y) * screen.width + x) * 3];
        return static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
    }

};

// Four colour quadrants, 160 x 90, scaled 4 times into a quarter of the
// screen: each quadrant's colour lands where it should, the rest stays black.
TEST_F(VyxcamShow, APictureFileAppearsOnTheScreenWhereAsked)
{
    vyxcam::Image quad;
    quad.width = 160;
    quad.height = 90;
    quad.channels = 3;
    const uint32_t colours[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    for (int y = 0; y < quad.height; ++y)
        for (int x = 0; x < quad.width; ++x) {
            const uint32_t c = colours[(y >= 45) * 2 + (x >= 80)];
            quad.pixels.push_back(static_cast<uint8_t>(c));
            quad.pixels.push_back(static_cast<uint8_t>(c >> 8));
            quad.pixels.push_back(static_cast<uint8_t>(c >> 16));
        }
    vyxcam::writeImageFile(Path("quad.png"), vyxcam::ImageFormat::Png, quad.view());

    const ToolResult r = Stop(StartAndWaitForScreen({"show", "quad.png", "--at", "640,360,640,360"}), SIGTERM);
    ExpectStatus(r, 0);
    ExpectCameraClosed(Path("report.txt"));

    const vyxcam::Image screen = vyxcam::readImageFile(Path("screen.png"));
    ASSERT_EQ(screen.width, 1280);
    ASSERT_EQ(screen.height, 720);
    EXPECT_EQ(Rgb(screen, 640 + 160, 360 + 90), 0xFF0000u);
    EXPECT_EQ(Rgb(screen, 640 + 480, 360 + 90), 0x00FF00u);
    EXPECT_EQ(Rgb(screen, 640 + 160, 360 + 270), 0x0000FFu);
    EXPECT_EQ(Rgb(screen, 640 + 480, 360 + 270), 0xFFFFFFu);
    EXPECT_EQ(Rgb(screen, 320, 180), 0u);
    EXPECT_EQ(Rgb(screen, 639, 500), 0u);
}

TEST_F(VyxcamShow, AGreyPictureHeldForAWhileEndsByItself)
{
    vyxcam::Image grey;
    grey.width = 64;
    grey.height = 48;
    grey.pixels.assign(64 * 48, 200);
    vyxcam::writeImageFile(Path("grey.pgm"), vyxcam::ImageFormat::Pgm, grey.view());
    const ToolResult r = Run({"show", "grey.pgm", "--hold-ms", "10", "--json"});
    ExpectStatus(r, 0);
    const json shown = json::parse(r.out);
    EXPECT_EQ(shown["file"], "grey.pgm");
    EXPECT_EQ(shown["width"], 64);
    EXPECT_EQ(shown["bits_per_pixel"], 8);
    EXPECT_EQ(shown["at"], (json{{"x", 0}, {"y", 0}, {"width", 1280}, {"height", 720}}));
    EXPECT_EQ(shown["interrupted"], false);
}

TEST_F(VyxcamShow, LiveFramesReachTheScreenUntilStopped)
{
    const ToolResult r = Stop(StartAndWaitForScreen({"show", "--live", "--fov", "0,0,640,360", "--json"}), SIGINT);
    ExpectStatus(r, 0);
    ExpectCameraClosed(Path("report.txt"));
    const json summary = json::parse(r.out);
    EXPECT_GE(summary["shown"].get<int>(), 1);
    EXPECT_EQ(summary["requested"], nullptr);
    EXPECT_EQ(summary["interrupted"], true);
    EXPECT_EQ(summary["failed"], json::array());
    // The test pattern's ramp: darker top left than bottom right.
    const vyxcam::Image screen = vyxcam::readImageFile(Path("screen.png"));
    const uint32_t topLeft = Rgb(screen, 40, 40) & 0xFF, bottomRight = Rgb(screen, 1240, 680) & 0xFF;
    EXPECT_GT(topLeft, 0u);
    EXPECT_LT(topLeft + 30, bottomRight);
}

TEST_F(VyxcamShow, LiveFramesEndAfterTheirCount)
{
    const ToolResult r = Run({"show", "--live", "-n", "3", "--at", "0,0,320,240", "--json"});
    ExpectStatus(r, 0);
    const json summary = json::parse(r.out);
    EXPECT_EQ(summary["shown"], 3);
    EXPECT_EQ(summary["requested"], 3);
    EXPECT_EQ(summary["at"], (json{{"x", 0}, {"y", 0}, {"width", 320}, {"height", 240}}));
}

}  // namespace
