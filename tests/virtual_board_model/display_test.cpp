// The display path programmed register by register: source VDMA, scaler,
// HDMI frame store, screen window, and the PNG of the screen.
#include <png.h>

#include <cstdio>

#include "ModelTestSupport.h"

namespace modeltest {
namespace {

constexpr int kSW = vb::kScreenWidth, kSH = vb::kScreenHeight;

struct ShowSetup {
    bool colour = false;
    uint32_t srcW = 0, srcH = 0;         // source image
    uint32_t outW = 0, outH = 0;         // scaler output (the visible picture)
    uint32_t firstCol = 0, firstLine = 0;
    bool oneToOne = false;               // shift factors 1.0 instead of source / output
    uint32_t screenX = 0, screenY = 0;   // where it lands on the screen
    uint32_t store = phys::kShowStore0;
};

class Display : public ModelTest {
protected:
    // Programs one show the way the PL expects it and waits until the screen
    // shows it.
    void show(const ShowSetup& s)
    {
        const uint64_t shows = vb::modelCounters().showsEvaluated;
        board.setReg(fpga::kShowSource, s.colour ? fpga::kShowSourceRgb888 : fpga::kShowSourceGrey8);
        volatile uint32_t* src = s.colour ? board.vdmaRgb : board.vdmaG8;
        RawBoard::set(src, vdma::kMm2sControl, vdma::kCtrlValueReset);
        RawBoard::set(src, vdma::kMm2sControl, vdma::kCtrlValueGenlockStopped);
        RawBoard::set(src, vdma::kMm2sStartAddr, kPoolImage);
        RawBoard::set(src, vdma::kMm2sHSize, s.srcW);
        RawBoard::set(src, vdma::kMm2sStride, s.srcW);
        RawBoard::set(src, vdma::kMm2sControl, vdma::kCtrlValueRunCircularGenlock);
        RawBoard::set(src, vdma::kMm2sVSize, s.srcH);

        RawBoard::set(board.scaler, scl::kControl, scl::kCtrlValueBeforeUpdate);
        RawBoard::set(board.scaler, scl::kHShiftFactor, s.oneToOne ? 1u << 20 : (s.srcW << 20) / s.outW);
        RawBoard::set(board.scaler, scl::kVShiftFactor, s.oneToOne ? 1u << 20 : (s.srcH << 20) / s.outH);
        RawBoard::set(board.scaler, scl::kSourceSize, s.srcW | s.srcH << 16);
        RawBoard::set(board.scaler, scl::kHAperture, s.firstCol | (s.srcW - 1) << 16);
        RawBoard::set(board.scaler, scl::kVAperture, s.firstLine | s.srcH << 16);
        RawBoard::set(board.scaler, scl::kOutputSize, s.outW | s.outH << 16);
        RawBoard::set(board.scaler, scl::kControl, scl::kCtrlValueAfterUpdate);

        const uint32_t hsize = s.outW * 3;
        RawBoard::set(board.vdmaHdmi, vdma::kS2mmControl, vdma::kCtrlValueReset);
        RawBoard::set(board.vdmaHdmi, vdma::kS2mmStartAddr, s.store);
        RawBoard::set(board.vdmaHdmi, vdma::kS2mmHSize, hsize);
        RawBoard::set(board.vdmaHdmi, vdma::kS2mmStride, hsize);
        RawBoard::set(board.vdmaHdmi, vdma::kS2mmControl, vdma::kCtrlValueRunPark);
        RawBoard::set(board.vdmaHdmi, vdma::kS2mmVSize, s.outH);
        board.setReg(fpga::kShowWinStart, s.screenX | s.screenY << 16);
        board.setReg(fpga::kShowWinEnd, (s.screenX + s.outW) | (s.screenY + s.outH - 1) << 16);
        board.setReg(fpga::kShowStrobe, 1);
        RawBoard::set(board.vdmaHdmi, vdma::kMm2sStartAddr, s.store);
        RawBoard::set(board.vdmaHdmi, vdma::kMm2sHSize, hsize);
        RawBoard::set(board.vdmaHdmi, vdma::kMm2sStride, hsize);
        RawBoard::set(board.vdmaHdmi, vdma::kMm2sControl, vdma::kCtrlValueRunPark);
        RawBoard::set(board.vdmaHdmi, vdma::kMm2sVSize, s.outH);
        ASSERT_TRUE(vb::modelWaitShow(shows, kWaitMs));
    }

    // A grey image of w x h in the pool with a value that differs per pixel.
    void greyImage(uint32_t w, uint32_t h)
    {
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) board.pool[y * w + x] = static_cast<uint8_t>(x * 7 + y * 13 + (x * y >> 4));
    }
    uint32_t grey(uint32_t w, uint32_t x, uint32_t y) const
    {
        const uint32_t v = board.pool[y * w + x];
        return v << 16 | v << 8 | v;
    }
};

TEST_F(Display, FullScreenGreyImageIsPixelExactOnScreenAndInTheFrameStore)
{
    greyImage(kSW, kSH);
    ShowSetup s;
    s.srcW = s.outW = kSW;
    s.srcH = s.outH = kSH;
    show(s);
    const std::vector<uint8_t> screen = vb::modelScreen();
    int bad = 0;
    for (int i = 0; i < kSW * kSH; ++i) {
        const uint8_t v = board.pool[i];
        if (screen[3 * i] != v || screen[3 * i + 1] != v || screen[3 * i + 2] != v) ++bad;
        if (board.store[0][3 * i] != v) ++bad;
    }
    EXPECT_EQ(bad, 0);
}

TEST_F(Display, ScaledPictureLandsInItsWindowAndTheRestIsBlack)
{
    // A 320 x 180 image doubled to 640 x 360 at (200, 100).
    greyImage(320, 180);
    ShowSetup s;
    s.srcW = 320;
    s.srcH = 180;
    s.outW = 640;
    s.outH = 360;
    s.screenX = 200;
    s.screenY = 100;
    s.store = phys::kShowStore1;
    show(s);
    EXPECT_EQ(vb::modelScreenPixel(200, 100), grey(320, 0, 0));
    EXPECT_EQ(vb::modelScreenPixel(201, 101), grey(320, 0, 0));
    EXPECT_EQ(vb::modelScreenPixel(202, 103), grey(320, 1, 1));
    EXPECT_EQ(vb::modelScreenPixel(839, 459), grey(320, 319, 179));
    EXPECT_EQ(vb::modelScreenPixel(199, 100), 0u);
    EXPECT_EQ(vb::modelScreenPixel(840, 459), 0u);
    EXPECT_EQ(vb::modelScreenPixel(839, 460), 0u);
    EXPECT_EQ(vb::modelScreenPixel(200, 99), 0u);
}

TEST_F(Display, ApertureCropsTheSourceAndColourSourcesKeepTheirColours)
{
    // Colour source 300 x 250 (bytes B, G, R): R = x, G = y, B = 200.  One to one, the
    // picture starts at source column 100, line 50 and is 250 x 220, so it
    // runs past the source's right and bottom edges, which show black.
    constexpr uint32_t kW = 300, kH = 250;
    for (uint32_t y = 0; y < kH; ++y)
        for (uint32_t x = 0; x < kW; ++x) {
            uint8_t* p = board.pool + 3 * (y * kW + x);
            p[0] = 200;
            p[1] = static_cast<uint8_t>(y);
            p[2] = static_cast<uint8_t>(x);
        }
    ShowSetup s;
    s.colour = true;
    s.srcW = kW;
    s.srcH = kH;
    s.outW = 250;
    s.outH = 220;
    s.oneToOne = true;
    s.firstCol = 100;
    s.firstLine = 50;
    show(s);
    auto rgb = [](uint32_t x, uint32_t y) { return (x & 0xFF) << 16 | (y & 0xFF) << 8 | 200u; };
    EXPECT_EQ(vb::modelScreenPixel(0, 0), rgb(100, 50));
    EXPECT_EQ(vb::modelScreenPixel(10, 20), rgb(110, 70));
    EXPECT_EQ(vb::modelScreenPixel(199, 199), rgb(299, 249));
    EXPECT_EQ(vb::modelScreenPixel(200, 100), 0u) << "past the source's last column";
    EXPECT_EQ(vb::modelScreenPixel(10, 200), 0u) << "past the source's last line";
    EXPECT_EQ(vb::modelScreenPixel(250, 10), 0u) << "outside the screen window";
}

TEST_F(Display, StoppedReadChannelShowsBlackAndScreenSavesAsPng)
{
    greyImage(kSW, kSH);
    ShowSetup s;
    s.srcW = s.outW = kSW;
    s.srcH = s.outH = kSH;
    show(s);
    const std::string path = std::string(P_tmpdir) + "/vyx_model_screen_" + std::to_string(getpid()) + ".png";
    ASSERT_TRUE(vb::modelSaveScreenPng(path));
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
    EXPECT_EQ(image.width, static_cast<png_uint_32>(kSW));
    EXPECT_EQ(image.height, static_cast<png_uint_32>(kSH));
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    unlink(path.c_str());
    EXPECT_TRUE(pixels == vb::modelScreen());
    EXPECT_FALSE(vb::modelSaveScreenPng("/nonexistent-dir/screen.png"));

    const uint64_t updates = vb::modelCounters().screenUpdates;
    RawBoard::set(board.vdmaHdmi, vdma::kMm2sControl, vdma::kCtrlValueReset);
    ASSERT_TRUE(vb::modelWaitFor([](const vb::ModelCounters& c, const void* arg) {
        return c.screenUpdates > *static_cast<const uint64_t*>(arg);
    }, &updates, kWaitMs));
    EXPECT_EQ(vb::modelScreenPixel(640, 360), 0u);
}

}  // namespace
}  // namespace modeltest

namespace modeltest {
namespace {

// Whatever a program writes into the display and acquisition registers, the
// models move data only inside the reserved RAM and inside the buffers: a
// frame never runs past its 10 MiB buffer into the memory pool behind the
// last one, and DMA addresses near the end of the RAM are cut, not followed.
TEST_F(Display, ArbitraryProgrammingStaysInsideRamAndBuffers)
{
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    constexpr uint32_t kRamEnd = 0x40000000u;
    const uint32_t addresses[] = {kPoolImage, phys::kShowStore0, kRamEnd - 4096, kRamEnd - 1, 0x2FFFF000u, 0x50000000u};
    for (int k = 0; k < 60; ++k) {
        board.setReg(fpga::kShowSource, next() & 1 ? fpga::kShowSourceRgb888 : 0u);
        for (volatile uint32_t* src : {board.vdmaG8, board.vdmaRgb}) {
            RawBoard::set(src, vdma::kMm2sControl, next() & 1 ? vdma::kCtrlRun : 0u);
            RawBoard::set(src, vdma::kMm2sStartAddr, addresses[next() % 6]);
            RawBoard::set(src, vdma::kMm2sHSize, next() % 2048);
            RawBoard::set(src, vdma::kMm2sStride, next() % 4096);
            RawBoard::set(src, vdma::kMm2sVSize, next() % 2048);
        }
        RawBoard::set(board.scaler, scl::kControl, next() % 4);
        for (uint32_t off = scl::kHShiftFactor; off <= scl::kOutputSize; off += 4) RawBoard::set(board.scaler, off, next() * 2654435761u);
        RawBoard::set(board.scaler, scl::kOutputSize, (next() % 2048) | (next() % 2048) << 16);
        RawBoard::set(board.vdmaHdmi, vdma::kS2mmControl, vdma::kCtrlRun);
        RawBoard::set(board.vdmaHdmi, vdma::kS2mmStartAddr, addresses[next() % 6]);
        RawBoard::set(board.vdmaHdmi, vdma::kS2mmHSize, next() & 0xFFFF);
        RawBoard::set(board.vdmaHdmi, vdma::kS2mmStride, next() & 0xFFFF);
        RawBoard::set(board.vdmaHdmi, vdma::kS2mmVSize, next() & 0x1FFF);
        for (uint16_t off : {vdma::kMm2sStartAddr, vdma::kMm2sHSize, vdma::kMm2sStride, vdma::kMm2sVSize})
            RawBoard::set(board.vdmaHdmi, off, off == vdma::kMm2sStartAddr ? addresses[next() % 6] : next());
        RawBoard::set(board.vdmaHdmi, vdma::kMm2sControl, vdma::kCtrlRun);
        board.setReg(fpga::kShowWinStart, next());
        board.setReg(fpga::kShowWinEnd, next());
        board.setReg(fpga::kShowStrobe, 1);
        ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
    }

    // Frames of any size into buffer 3 end where the memory pool begins.
    std::memset(board.pool, 0x5A, 64);
    board.setCapture(true, fpga::kTriggerEnable);
    for (uint32_t pixels : {0u, 1u, 7u, 0x00A00000u, 0x00A00001u, 0xFFFFFFFFu}) {
        for (int k = 0; k < 4; ++k) board.setReg(fpga::kFrameBufBase0 + 4 * k, phys::kFrameBuffer3);
        board.setReg(fpga::kFramePixelsA, pixels);
        board.setReg(fpga::kGeometryB, next());
        board.sensorWrite(26, static_cast<uint16_t>(next()));
        board.sensorWrite(10, static_cast<uint16_t>(next() & 0x21));
        ASSERT_GE(board.triggerAndWait(), 0) << pixels;
        board.setReg(fpga::kReleaseBuf, 1);
    }
    for (int i = 0; i < 64; ++i) ASSERT_EQ(board.pool[i], 0x5A) << "byte " << i << " behind the last buffer";
}

}  // namespace
}  // namespace modeltest
