// The tool's settings and frame files against the library on the virtual
// board, in this process: the order settings reach the sensor, the ranges
// the camera reports, and a bitmap written by the tool beside one written by
// the library.  One camera is opened for the suite.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BoardTest.h"
#include "CameraInfo.h"
#include "Errors.h"
#include "FrameSaver.h"
#include "ImageFile.h"
#include "Settings.h"
#include "TestSupport.h"
#include "VYXZebApi.h"
#include "VyxModel.h"

namespace {

using namespace vyxcam;

// Sensor registers the settings write (the Q210B's register map).
constexpr int kRegControl = 7;        // mirror, flip
constexpr int kRegOptions = 11;       // flash
constexpr int kRegExposure = 14;
constexpr int kRegColumns = 21;       // field of view width
constexpr int kRegAddressMode = 26;
constexpr int kRegGain = 55;
// PL registers: trigger mode, acquisition running.
constexpr uint32_t kFpgaTriggerMode = 112;
constexpr uint32_t kFpgaCaptureStart = 108;

class CameraSuite : public vyxtest::BoardTest {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(VYXZEB_Init(), VYXZEB_RET_SUCCESS); }
    static void TearDownTestSuite() { VYXZEB_UnInit(); }
    void SetUp() override
    {
        BoardTest::SetUp();
        // Back to the start state the tool finds after VYXZEB_Init.
        CameraSettings s;
        s.addressMode = 0;
        s.fov = SensorWindow{0, 0, 1280, 1024};
        s.mirror = s.flip = s.flash = s.flashInvert = false;
        s.exposureMs = 25;
        s.gain = 16;
        s.multiFrame = 1;
        applySettings(s);
        vb::clearSpiLog();
    }

    // Index of the SPI write that gave a sensor register the value a
    // setting asked for, or -1.
    static int WriteOf(int reg, int value, int mask = 0xFFFF)
    {
        const std::vector<vb::SpiFrame> log = vb::spiLog();
        for (size_t i = 0; i < log.size(); ++i) {
            const vb::SpiFrame& f = log[i];
            if (f.kind == vb::SpiKind::Write && f.sent.size() == 3 && (f.sent[0] & 0x7F) == reg &&
                ((f.sent[1] << 8 | f.sent[2]) & mask) == value)
                return static_cast<int>(i);
        }
        return -1;
    }

    static std::string UsageMessage(const CameraSettings& s, bool apply)
    {
        try {
            checkCameraRanges(s);
            if (apply) applySettings(s);
        } catch (const UsageError& e) {
            return e.what();
        }
        return "";
    }
};

TEST_F(CameraSuite, SettingsReachTheSensorGeometryFirstAndTheTriggerLast)
{
    CameraSettings s;
    s.flash = true;
    s.gain = 40;
    s.exposureLines = 1000;
    s.mirror = true;
    s.fov = SensorWindow{0, 0, 320, 256};
    s.addressMode = 1;
    s.trigger = VYXZEB_TRIGGER_CONTINUOUS;
    applySettings(s);
    // Mode 1 is code 0x08 for rows and columns; the gain code sits in both
    // bytes; mirror is bit 7, flash enable bits 7..6 = 01.
    const std::vector<int> order = {WriteOf(kRegAddressMode, 0x0808), WriteOf(kRegColumns, 320),
                                    WriteOf(kRegControl, 0x80, 0x80),  WriteOf(kRegExposure, 1000),
                                    WriteOf(kRegGain, 40 * 0x0101),    WriteOf(kRegOptions, 0x40, 0xC0)};
    for (int i : order) EXPECT_GE(i, 0);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end())) << ::testing::PrintToString(order);

    // The exposure was set on the final geometry, so it is what was asked.
    const Json now = readSettings(0);
    EXPECT_EQ(now["exposure_lines"], 1000);
    EXPECT_EQ(now["trigger"], "continuous");
    // The mode change restarted acquisition after everything else.
    EXPECT_EQ(vb::fpgaReg(kFpgaTriggerMode) & 1u, 0u);
    EXPECT_EQ(vb::fpgaReg(kFpgaCaptureStart) & 1u, 1u);
}

TEST_F(CameraSuite, RangesTheSensorDecidesAreCheckedAgainstTheCamera)
{
    CameraSettings s;
    s.gain = 256;
    EXPECT_NE(UsageMessage(s, false).find("--gain 256"), std::string::npos) << UsageMessage(s, false);
    s = CameraSettings{};
    s.exposureLines = 65535;
    EXPECT_NE(UsageMessage(s, false).find("--exposure-lines"), std::string::npos);
    s = CameraSettings{};
    s.fov = SensorWindow{1000, 0, 640, 480};
    EXPECT_NE(UsageMessage(s, false).find("--fov 1000,0,640,480"), std::string::npos);
    s = CameraSettings{};
    s.center = SensorWindow{0, 0, 8, 8};
    EXPECT_NE(UsageMessage(s, false).find("--center 8,8"), std::string::npos);
    s = CameraSettings{};
    s.gain = 255;
    s.exposureLines = 65534;
    s.fov = SensorWindow{640, 512, 640, 512};
    EXPECT_EQ(UsageMessage(s, false), "") << "the largest values fit";
}

TEST_F(CameraSuite, RangesThatFollowTheGeometryAreCheckedOnIt)
{
    // 10 MiB hold 8 full frames but 40 of 320 x 256.
    CameraSettings s;
    s.multiFrame = 40;
    EXPECT_NE(UsageMessage(s, true).find("--multi-frame 40"), std::string::npos);
    s.fov = SensorWindow{0, 0, 320, 256};
    EXPECT_EQ(UsageMessage(s, true), "");
    unsigned long frames = 0;
    VYXZEB_GetMultiFrame(0, &frames);
    EXPECT_EQ(frames, 40u);

    float min = 0, max = 0;
    VYXZEB_GetExposureTimeRange(0, &min, &max);
    CameraSettings e;
    e.exposureMs = max * 2.0;
    EXPECT_NE(UsageMessage(e, true).find("--exposure-ms"), std::string::npos);
}

TEST_F(CameraSuite, CenterPutsTheWindowInTheMiddle)
{
    CameraSettings s;
    s.center = SensorWindow{0, 0, 640, 512};
    applySettings(s);
    const Json fov = readSettings(0)["fov"];
    EXPECT_EQ(fov["x"], 320);
    EXPECT_EQ(fov["y"], 256);
    EXPECT_EQ(fov["width"], 640);
}

// The tool's bitmap next to the library's, from the same frame: the same
// bytes.
TEST_F(CameraSuite, OwnBitmapWriterMatchesTheLibrarysByteForByte)
{
    CameraSettings s;
    s.fov = SensorWindow{8, 4, 200, 100};
    applySettings(s);
    unsigned char* frame = nullptr;
    ASSERT_EQ(VYXZEB_CaptureData(0, &frame), VYXZEB_RET_SUCCESS);
    int w = 0, h = 0, bits = 0;
    VYXZEB_GetCaptureSize(0, &w, &h, &bits);
    ASSERT_EQ(w, 200);
    const ImageView view{frame, w, h, static_cast<size_t>(w), 1};
    vyxtest::TempDir dir;
    const std::string own = dir.path() + "/own.bmp";
    saveFrame(own, ImageFormat::Bmp, view);
    saveFrame("/picture/data/lib.bmp", ImageFormat::Bmp, view);
    VYXZEB_ReleaseBuffer(0);
    const std::string lib = vyxtest::ReadFile(vb::sandboxPath("/picture/data/lib.bmp"));
    ASSERT_EQ(lib.size(), 1078u + 200u * 100u);
    EXPECT_TRUE(lib == vyxtest::ReadFile(own));
}

TEST_F(CameraSuite, LibraryWriterFailuresNameTheCallAndTheFile)
{
    const std::vector<uint8_t> pixels(16 * 16, 0);
    const ImageView view{pixels.data(), 16, 16, 16, 1};
    try {
        saveFrame("/picture/data/no/such/folder/x.bmp", ImageFormat::Bmp, view);
        ADD_FAILURE() << "saved";
    } catch (const CallError& e) {
        EXPECT_EQ(e.function(), "VYXZEB_HelperSaveToBmp");
        EXPECT_EQ(e.code(), VYXZEB_RET_FAILED);
        EXPECT_NE(std::string(e.what()).find("/picture/data/no/such/folder/x.bmp"), std::string::npos) << e.what();
    }
}

TEST(CallReportTest, NamesTheFunctionCodeAndExplanation)
{
    EXPECT_EQ(describeCall("VYXZEB_CaptureData", VYXZEB_RET_CAPTURE_TIMEOUT, "no frame within 3000 ms"),
              "VYXZEB_CaptureData: -1011 VYXZEB_RET_CAPTURE_TIMEOUT (no frame within 3000 ms)");
    EXPECT_EQ(describeCall("VYXZEB_GpioGet", VYXZEB_RET_GPIO_FAILED),
              std::string("VYXZEB_GpioGet: -1010 VYXZEB_RET_GPIO_FAILED (") + "no GPIO device, a bad line number or a failed GPIO request)");
    EXPECT_EQ(describeCall("f", -42), "f: -42 VYXZEB_RET_UNKNOWN (unknown return code)");
}

}  // namespace
