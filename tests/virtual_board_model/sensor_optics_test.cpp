// The Q210B model: register file as the chip holds it, and every setting
// that shapes the image visible in the pixels of a captured frame.
#include <png.h>

#include <cmath>
#include <cstdlib>

#include "ModelTestSupport.h"

namespace modeltest {
namespace {

using SensorRegisters = ModelTest;
using SensorOptics = ModelTest;

TEST_F(SensorRegisters, ReadBackWhatWasWrittenAndPowerOnValuesGiveTheDataSheetClocks)
{
    // Line-length terms H (reg 6 bits 15..8) and K (reg 73 bits 15..8 with
    // reg 11 bits 5..4 clear) are zero; the line length is 82.
    EXPECT_EQ(board.sensorRead(6) & 0xFF00, 0);
    EXPECT_EQ(board.sensorRead(73) & 0xFF00, 0);
    EXPECT_EQ(board.sensorRead(11) & 0x0030, 0);
    EXPECT_EQ(board.sensorRead(4) & 0x07FF, 82);
    EXPECT_EQ(vb::modelSensorRegister(4), board.sensorRead(4));

    ASSERT_TRUE(board.sensorWrite(0x15, 0x0500));
    ASSERT_TRUE(board.sensorWrite(118, 0xBEEF));
    EXPECT_EQ(board.sensorRead(0x15), 0x0500);
    EXPECT_EQ(board.sensorRead(118), 0xBEEF);
    EXPECT_EQ(vb::modelSensorRegister(118), 0xBEEF);
    board.sensorWrite(118, 0);
    EXPECT_DOUBLE_EQ(std::round(vb::modelSensorBrightness() * 1e4) / 1e4, 1.0);
}

TEST_F(SensorRegisters, NoPixelClockGivesBlackFramesAndASlowClockInsteadOfAFault)
{
    ASSERT_TRUE(board.sensorWrite(8, 0x0021));   // both clock selections "none"
    EXPECT_EQ(vb::modelSensorBrightness(), 0.0);
    const int64_t periodUs = vb::modelSensorFramePeriodUs();
    EXPECT_GE(periodUs, 1000000);
    // The frame takes the slow clock's whole period: the usual bound on top
    // of two periods, so a loaded machine or an emulator does not cut it.
    const int boundMs = kWaitMs + static_cast<int>(2 * periodUs / 1000);
    const std::vector<uint8_t> frame = board.captureFrame(64, 8, boundMs);
    ASSERT_EQ(frame.size(), 64u * 8);
    for (size_t i = vb::kFrameStampBytes; i < frame.size(); ++i) ASSERT_EQ(frame[i], 0) << i;
}

TEST_F(SensorOptics, WindowCutsThePatternAndMirrorFlipReverseIt)
{
    constexpr int kX = 64, kY = 32, kW = 256, kH = 128;
    board.sensorWrite(20, kX + 6);
    board.sensorWrite(18, kY + 6);
    board.sensorWrite(21, kW);
    board.sensorWrite(19, kH);
    struct Case { uint16_t control; bool mirror, flip; };
    for (const Case c : {Case{0x0E01, false, false}, Case{0x0E81, true, false}, Case{0x0E41, false, true},
                         Case{0x0EC1, true, true}}) {
        board.sensorWrite(7, c.control);
        const std::vector<uint8_t> f = board.captureFrame(kW, kH);
        ASSERT_EQ(f.size(), size_t{kW} * kH);
        int bad = 0;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                const int sx = kX + (c.mirror ? kW - 1 - x : x), sy = kY + (c.flip ? kH - 1 - y : y);
                if (y * kW + x >= vb::kFrameStampBytes && f[y * kW + x] != vb::modelPatternValue(sx, sy)) ++bad;
            }
        EXPECT_EQ(bad, 0) << "mirror " << c.mirror << " flip " << c.flip;
    }
}

// Mean of a block of the pattern, rounded to nearest.
int blockMean(int x0, int y0, int w, int h)
{
    int sum = 0;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) sum += vb::modelPatternValue(x, y);
    return (sum + w * h / 2) / (w * h);
}

int countBlockMismatches(const std::vector<uint8_t>& f, int w, int h, int stepX, int stepY, int offX = 0, int offY = 0)
{
    int bad = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (y * w + x >= vb::kFrameStampBytes &&
                f[static_cast<size_t>(y) * w + x] != blockMean(offX + x * stepX, offY + y * stepY, stepX, stepY))
                ++bad;
    return bad;
}

// The PL may be told a pixel count that is not a whole number of lines: the
// frame then ends part-way through its last line, which holds that line's
// first pixels, and nothing beyond the count is written.
TEST_F(SensorOptics, AFrameThatEndsMidLineHoldsThatLinesFirstPixels) {
    constexpr uint32_t kW = 160, kLines = 100, kRest = 37, kPixels = kW * kLines + kRest;
    board.sensorWrite(21, kW);
    board.sensorWrite(19, 128);
    board.setFrameGeometry(kW, 128);
    board.setReg(fpga::kFramePixelsA, kPixels);
    board.setReg(fpga::kFramePixelsB, kPixels);
    board.setCapture(true, fpga::kTriggerEnable);
    for (uint8_t* b : board.buffer)
        std::fill(b, b + kPixels + 64, uint8_t{0xA5});
    const int index = board.triggerAndWait();
    ASSERT_GE(index, 0);
    const uint8_t* f = board.buffer[index];
    int bad = 0;
    for (uint32_t i = vb::kFrameStampBytes; i < kPixels; ++i)
        if (f[i] != vb::modelPatternValue(static_cast<int>(i % kW), static_cast<int>(i / kW))) ++bad;
    EXPECT_EQ(bad, 0);
    for (uint32_t i = kPixels; i < kPixels + 64; ++i)
        EXPECT_EQ(f[i], 0xA5) << i;
    board.setReg(fpga::kReleaseBuf, 1);
}

TEST_F(SensorOptics, AddressModesBinTheWindowByTheirDivisors)
{
    // Code 0x08 divides by 2, 0x10 by 3 (426 columns; the PL stores 424),
    // 0x38 by 8; row and column codes act independently.
    board.sensorWrite(26, 0x0808);
    std::vector<uint8_t> f = board.captureFrame(640, 512);
    EXPECT_EQ(countBlockMismatches(f, 640, 512, 2, 2), 0);

    board.sensorWrite(26, 0x1010);
    f = board.captureFrame(424, 341);
    EXPECT_EQ(countBlockMismatches(f, 424, 341, 3, 3), 0);

    board.sensorWrite(26, 0x3800);   // columns by 8, rows full
    f = board.captureFrame(160, 1024);
    EXPECT_EQ(countBlockMismatches(f, 160, 1024, 8, 1), 0);
}

TEST_F(SensorOptics, ReadoutHalvingAndTrimmingChangeSizeAndContent)
{
    board.sensorWrite(10, 0x0001);   // halving: 640 x 512, 2 x 2 averages
    std::vector<uint8_t> f = board.captureFrame(640, 512);
    EXPECT_EQ(countBlockMismatches(f, 640, 512, 2, 2), 0);

    board.sensorWrite(10, 0x0020);   // trimming: 1276 x 1020 from (2, 2); the PL stores 1272 columns
    f = board.captureFrame(1272, 1020);
    EXPECT_EQ(countBlockMismatches(f, 1272, 1020, 1, 1, 2, 2), 0);
    // Rows beyond the sensor's 1020 are black in a PL frame that is taller.
    f = board.captureFrame(1272, 1024);
    EXPECT_EQ(f[1272 * 1020 + 100], 0);
    EXPECT_EQ(f[1272 * 1019 + 100], vb::modelPatternValue(102, 1021));
}

// Brightness follows exposure time and gain and saturates at 255.
TEST_F(SensorOptics, ExposureAndGainScaleBrightness)
{
    struct Case { uint16_t lines, gain; double factor; };
    for (const Case c : {Case{4344, 0x1010, 4344.0 / 8689}, Case{17378, 0x1010, 2.0}, Case{8689, 0x2020, 2.0},
                         Case{8689, 0x0808, 0.5}, Case{8689, 0x0000, 0.0}}) {
        board.sensorWrite(14, c.lines);
        board.sensorWrite(54, c.gain);
        board.sensorWrite(55, c.gain);
        const std::vector<uint8_t> f = board.captureFrame(1280, 64);
        ASSERT_EQ(f.size(), 1280u * 64);
        int bad = 0, saturated = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 8; x < 1280; ++x) {
                const double expected = std::min(255.0, vb::modelPatternValue(x, y) * c.factor);
                if (std::fabs(f[y * 1280 + x] - expected) > 1.0) ++bad;
                if (f[y * 1280 + x] == 255) ++saturated;
            }
        EXPECT_EQ(bad, 0) << "lines " << c.lines << " gain " << std::hex << c.gain;
        if (c.factor >= 2.0) {
            EXPECT_GT(saturated, 0);
        }
    }
}

// A scene of the user's own: a 2 x 2 PNG stretched over the pixel array.
TEST_F(SensorOptics, UserSceneReplacesThePattern)
{
    const std::string path = std::string(P_tmpdir) + "/vyx_model_scene_" + std::to_string(getpid()) + ".png";
    const uint8_t quadrants[4] = {10, 60, 110, 160};
    ASSERT_TRUE(writeGreyPng(path, 2, 2, quadrants));
    ASSERT_TRUE(vb::modelLoadScene(path));
    unlink(path.c_str());

    const std::vector<uint8_t> f = board.captureFrame(1280, 1024);
    ASSERT_EQ(f.size(), 1280u * 1024);
    EXPECT_EQ(f[100 * 1280 + 100], 10);
    EXPECT_EQ(f[100 * 1280 + 1000], 60);
    EXPECT_EQ(f[900 * 1280 + 100], 110);
    EXPECT_EQ(f[900 * 1280 + 1000], 160);
    EXPECT_FALSE(vb::modelLoadScene("/nonexistent/scene.png"));
}

}  // namespace
}  // namespace modeltest
