// The shipped library on the board models: what the SDK programs must come
// out as frames and as a picture on the screen.  One initialisation serves
// the whole suite (it takes over a second on the board).
#include <png.h>

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "BoardTest.h"
#include "VYXZebApi.h"
#include "VyxModel.h"

namespace {

constexpr int kW = 1280, kH = 1024;

class LibraryOnBoard : public vyxtest::BoardTest {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(VYXZEB_Init(), 0); }
    static void TearDownTestSuite() { VYXZEB_UnInit(); }
    void SetUp() override
    {
        BoardTest::SetUp();
        ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE), 0);
        ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, 5000), 0);
    }

    // One frame through the API, copied out with its size.
    std::vector<uint8_t> capture(int* width, int* height)
    {
        int bits = 0;
        EXPECT_EQ(VYXZEB_GetCaptureSize(0, width, height, &bits), 0);
        unsigned char* frame = nullptr;
        if (VYXZEB_CaptureData(0, &frame) != 0 || frame == nullptr) return {};
        std::vector<uint8_t> copy(frame, frame + static_cast<size_t>(*width) * *height);
        EXPECT_EQ(VYXZEB_ReleaseBuffer(0), 0);
        return copy;
    }
};

TEST_F(LibraryOnBoard, CapturedFramesShowTheSceneAndTheSensorSettings)
{
    int w = 0, h = 0;
    std::vector<uint8_t> f = capture(&w, &h);
    ASSERT_EQ(w, kW);
    ASSERT_EQ(h, kH);
    ASSERT_EQ(f.size(), size_t{kW} * kH);
    uint32_t stamp = 0;
    EXPECT_TRUE(vb::modelFrameCounter(f.data(), &stamp));
    int bad = 0;
    for (int i = vb::kFrameStampBytes; i < kW * kH; ++i)
        if (f[i] != vb::modelPatternValue(i % kW, i / kW)) ++bad;
    EXPECT_EQ(bad, 0) << "the start-up settings deliver the scene unchanged";

    // Field of view and mirror as the library programs them.
    ASSERT_EQ(VYXZEB_SetCaptureFieldOfView(0, 64, 32, 256, 128), 0);
    ASSERT_EQ(VYXZEB_SetMirror(0, true), 0);
    f = capture(&w, &h);
    ASSERT_EQ(w, 256);
    ASSERT_EQ(h, 128);
    bad = 0;
    for (int i = vb::kFrameStampBytes; i < w * h; ++i)
        if (f[i] != vb::modelPatternValue(64 + 255 - i % w, 32 + i / w)) ++bad;
    EXPECT_EQ(bad, 0);
    ASSERT_EQ(VYXZEB_SetMirror(0, false), 0);
    ASSERT_EQ(VYXZEB_SetCaptureFieldOfView(0, 0, 0, kW, kH), 0);

    // Half the exposure time, half the brightness.
    ASSERT_EQ(VYXZEB_SetExposureTime(0, 12.5f), 0);
    f = capture(&w, &h);
    ASSERT_EQ(f.size(), size_t{kW} * kH);
    EXPECT_NEAR(f[500 * kW + 700], vb::modelPatternValue(700, 500) / 2.0, 1.0);
    ASSERT_EQ(VYXZEB_SetExposureTime(0, 25.0f), 0);
}

TEST_F(LibraryOnBoard, UserImageAndCapturedFrameAppearOnTheScreen)
{
    // A grey 1280 x 720 image shown full screen with the default geometry
    // comes out pixel for pixel.
    unsigned char* image = nullptr;
    ASSERT_EQ(VYXZEB_Malloc(1280 * 720, &image), 0);
    for (int i = 0; i < 1280 * 720; ++i) image[i] = static_cast<uint8_t>(i * 31 / 7 + i / 1280);
    uint64_t shows = vb::modelCounters().showsEvaluated;
    ASSERT_EQ(VYXZEB_ShowUserLoadData(0, image, 1280, 720, 8), 0);
    ASSERT_TRUE(vb::modelWaitShow(shows, 5000));
    std::vector<uint8_t> screen = vb::modelScreen();
    int bad = 0;
    for (int i = 0; i < 1280 * 720; ++i)
        if (screen[3 * i] != image[i] || screen[3 * i + 1] != image[i] || screen[3 * i + 2] != image[i]) ++bad;
    EXPECT_EQ(bad, 0);

    // A 24-bit image (B, G, R) keeps its colours.
    for (int i = 0; i < 64 * 36; ++i) {
        image[3 * i] = 30;
        image[3 * i + 1] = 140;
        image[3 * i + 2] = 250;
    }
    shows = vb::modelCounters().showsEvaluated;
    ASSERT_EQ(VYXZEB_ShowUserLoadData(0, image, 64, 36, 24), 0);
    ASSERT_TRUE(vb::modelWaitShow(shows, 5000));
    EXPECT_EQ(vb::modelScreenPixel(640, 360), 0xFA8C1Eu);
    ASSERT_EQ(VYXZEB_Free(&image), 0);

    // A captured 1280 x 1024 frame is scaled onto the 720 screen lines: every
    // screen line is one of the frame's lines, in order, top to bottom.
    unsigned char* frame = nullptr;
    ASSERT_EQ(VYXZEB_CaptureData(0, &frame), 0);
    shows = vb::modelCounters().showsEvaluated;
    ASSERT_EQ(VYXZEB_ShowCaptureData(0, frame), 0);
    ASSERT_TRUE(vb::modelWaitShow(shows, 5000));
    screen = vb::modelScreen();
    int row = 0, lost = 0;
    for (int y = 0; y < 720; ++y) {
        auto same = [&](int r) {
            for (int x = 0; x < 1280; x += 7)
                if (screen[3 * (y * 1280 + x)] != frame[r * 1280 + x]) return false;
            return true;
        };
        while (row < 1024 && !same(row)) ++row;
        if (row == 1024) {
            ++lost;
            row = 0;
        }
    }
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(VYXZEB_ReleaseBuffer(0), 0);

    const std::string path = std::string(P_tmpdir) + "/vyx_model_e2e_" + std::to_string(getpid()) + ".png";
    ASSERT_TRUE(vb::modelSaveScreenPng(path));
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&png, path.c_str()));
    EXPECT_EQ(png.width, 1280u);
    EXPECT_EQ(png.height, 720u);
    png_image_free(&png);
    unlink(path.c_str());
}

}  // namespace
