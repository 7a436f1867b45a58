// Frames flowing from the emulated sensor to the application through the
// exported API, on one shared device: trigger modes, buffers and their
// release, time-outs, the mode-change hand-shake, the sensor settings as
// seen in the pixels, and the display.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <thread>
#include <tuple>
#include <vector>

#include "BoardTest.h"
#include "PLRegs.h"
#include "SharedDevice.h"
#include "VYXZebApi.h"
#include "VyxModel.h"

namespace {

::testing::Environment* const g_device = ::testing::AddGlobalTestEnvironment(new vyxtest::SharedDevice);

constexpr unsigned long kTimeOutMs = 5000;   // generous: the model delivers in milliseconds

uint32_t Stamp(const unsigned char* frame) {
    uint32_t counter = 0;
    EXPECT_TRUE(vb::modelFrameCounter(frame, &counter));
    return counter;
}

// Physical address of the frame buffer the PL names in register 52.
uint32_t NewestBufferPhys() {
    const uint32_t index = vb::fpgaReg(vyxpl::fpga::kFrameBufStatus) >> vyxpl::fpga::kFrameBufIdShift;
    return vyxpl::phys::kFrameBufferBase + index * vyxpl::phys::kFrameBufferSize;
}

struct Frame {
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
};

// Captures one frame in software-trigger mode and copies it out.
Frame CaptureCopy() {
    Frame f;
    int bits = 0;
    EXPECT_EQ(VYXZEB_GetCaptureSize(0, &f.width, &f.height, &bits), 0);
    EXPECT_EQ(bits, 8);
    unsigned char* p = nullptr;
    EXPECT_EQ(VYXZEB_CaptureData(0, &p), 0);
    if (p) {
        const int stride = (f.width + 3) / 4 * 4;
        f.pixels.resize(static_cast<size_t>(f.width) * f.height);
        for (int y = 0; y < f.height; ++y) memcpy(&f.pixels[y * f.width], p + y * stride, f.width);
    }
    EXPECT_EQ(VYXZEB_ReleaseBuffer(0), 0);
    return f;
}

class Capture : public vyxtest::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, kTimeOutMs), 0);
        ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE), 0);
    }
    void TearDown() override {
        vb::resetBoard();  // interrupts flow again for the mode change
        VYXZEB_SetMultiFrame(0, 1);
        VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE);
        BoardTest::TearDown();
    }
};

TEST_F(Capture, SoftwareTriggerReturnsTheBufferThePlNamesWithAdvancingCounter) {
    uint32_t last = 0;
    for (int k = 0; k < 6; ++k) {
        unsigned char* frame = nullptr;
        ASSERT_EQ(VYXZEB_CaptureData(0, &frame), 0);
        ASSERT_NE(frame, nullptr);
        const uint32_t counter = Stamp(frame);
        // The pointer maps the buffer register 52 names: same bytes.
        EXPECT_EQ(memcmp(frame, vb::physPtr(NewestBufferPhys()), 4096), 0);
        EXPECT_EQ(counter, vb::modelCounters().lastFrameCounter);
        if (k > 0) {
            EXPECT_GT(counter, last);
        }
        last = counter;
        ASSERT_EQ(VYXZEB_ReleaseBuffer(0), 0);
    }
}

TEST_F(Capture, ContinuousModeDeliversFramesOnItsOwn) {
    ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_CONTINUOUS), 0);
    // Each capture answers one announced frame with the buffer the PL names
    // newest.  A capturing thread that falls a frame period behind finds two
    // frames announced and is handed the newest for both, so a counter may
    // repeat; it never goes back, and the frames keep coming.
    uint32_t first = 0;
    uint32_t last = 0;
    for (int k = 0; k < 10; ++k) {
        unsigned char* frame = nullptr;
        ASSERT_EQ(VYXZEB_CaptureData(0, &frame), 0) << k;
        const uint32_t counter = Stamp(frame);
        if (k == 0) {
            first = counter;
        } else {
            EXPECT_GE(counter, last) << k;
        }
        last = counter;
        ASSERT_EQ(VYXZEB_ReleaseBuffer(0), 0);
    }
    EXPECT_GT(last, first);
}

TEST_F(Capture, AccumulatedInterruptsReturnAtOnce) {
    ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_CONTINUOUS), 0);
    const uint64_t delivered = vb::modelCounters().framesDelivered;
    ASSERT_TRUE(vb::modelWaitFor(
        [](const vb::ModelCounters& c, const void* arg) {
            return c.framesDelivered >= *static_cast<const uint64_t*>(arg) + 3;
        },
        &delivered, 10000));
    // Three frames are announced already and no buffer is released, so at
    // most one more can come: the three captures live on the counted posts.
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, 1000), 0);
    for (int k = 0; k < 3; ++k) {
        unsigned char* frame = nullptr;
        EXPECT_EQ(VYXZEB_CaptureData(0, &frame), 0) << k;
        EXPECT_NE(frame, nullptr);
    }
    for (int k = 0; k < 3; ++k) EXPECT_EQ(VYXZEB_ReleaseBuffer(0), 0);
}

TEST_F(Capture, MultiFrameStoresConsecutiveFramesInOneBuffer) {
    ASSERT_EQ(VYXZEB_SetCaptureFieldOfView(0, 0, 0, 320, 240), 0);
    ASSERT_EQ(VYXZEB_SetMultiFrame(0, 3), 0);
    ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_CONTINUOUS), 0);
    unsigned char* frame = nullptr;
    ASSERT_EQ(VYXZEB_CaptureData(0, &frame), 0);
    const uint32_t first = Stamp(frame);
    EXPECT_EQ(Stamp(frame + 320 * 240), first + 1);
    EXPECT_EQ(Stamp(frame + 2 * 320 * 240), first + 2);
    ASSERT_EQ(VYXZEB_ReleaseBuffer(0), 0);
    ASSERT_EQ(VYXZEB_SetMultiFrame(0, 1), 0);
    ASSERT_EQ(VYXZEB_SetCaptureFieldOfView(0, 0, 0, 1280, 1024), 0);
}

TEST_F(Capture, BuffersHeldByTheApplicationAreNotReusedUntilReleased) {
    std::vector<uint32_t> held;
    for (int k = 0; k < 4; ++k) {
        unsigned char* frame = nullptr;
        ASSERT_EQ(VYXZEB_CaptureData(0, &frame), 0) << k;
        held.push_back(Stamp(frame));
    }
    // All four buffers are out: the next frame has nowhere to go.
    const uint64_t dropped = vb::modelCounters().framesDropped;
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, 200), 0);
    unsigned char* frame = reinterpret_cast<unsigned char*>(0x1);
    EXPECT_EQ(VYXZEB_CaptureData(0, &frame), VYXZEB_RET_CAPTURE_TIMEOUT);
    EXPECT_EQ(frame, nullptr);
    EXPECT_TRUE(vb::modelWaitFramesDropped(dropped + 1, 5000));

    for (int k = 0; k < 4; ++k) ASSERT_EQ(VYXZEB_ReleaseBuffer(0), 0);
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, kTimeOutMs), 0);
    ASSERT_EQ(VYXZEB_CaptureData(0, &frame), 0);
    EXPECT_GT(Stamp(frame), held.back());
    ASSERT_EQ(VYXZEB_ReleaseBuffer(0), 0);
}

TEST_F(Capture, TimeOutAndStoppedAcquisition) {
    vb::withholdInterrupts(true);
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, 150), 0);
    unsigned char* frame = reinterpret_cast<unsigned char*>(0x1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(VYXZEB_CaptureData(0, &frame), VYXZEB_RET_CAPTURE_TIMEOUT);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(frame, nullptr);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count(), 140);
    vb::withholdInterrupts(false);

    // Emptying the buffers stops acquisition: software triggers are refused.
    ASSERT_EQ(VYXZEB_EmptyFrameBuffer(0), 0);
    frame = reinterpret_cast<unsigned char*>(0x1);
    EXPECT_EQ(VYXZEB_CaptureData(0, &frame), VYXZEB_RET_CAPTURE_NOT_STARTED);
    EXPECT_EQ(frame, reinterpret_cast<unsigned char*>(0x1));
    // A mode change restarts it.
    ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE), 0);
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, kTimeOutMs), 0);
    EXPECT_EQ(VYXZEB_CaptureData(0, &frame), 0);
    EXPECT_EQ(VYXZEB_ReleaseBuffer(0), 0);
    EXPECT_EQ(VYXZEB_CaptureData(0, nullptr), VYXZEB_RET_BAD_PARAMETER);
}

TEST_F(Capture, ModeChangeEndsABlockedCaptureWithoutAStalePointer) {
    vb::withholdInterrupts(true);   // the blocked capture's frame never arrives
    const unsigned long kDeadlineMs = 3000;
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, kDeadlineMs), 0);
    const uint64_t withheld = vb::interruptsWithheld();
    auto blocked = std::async(std::launch::async, [] {
        unsigned char* frame = reinterpret_cast<unsigned char*>(0x1);
        const auto start = std::chrono::steady_clock::now();
        const int ret = VYXZEB_CaptureData(0, &frame);
        const auto took = std::chrono::steady_clock::now() - start;
        return std::make_tuple(ret, frame, std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
    });
    // The capture has fired its trigger once the PL's interrupt was withheld.
    for (int i = 0; i < 5000 && vb::interruptsWithheld() == withheld; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GT(vb::interruptsWithheld(), withheld);
    // Frames flow again from here on; the change must still end the wait.
    vb::withholdInterrupts(false);
    ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_CONTINUOUS), 0);
    ASSERT_EQ(blocked.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "capture hangs";
    const auto result = blocked.get();
    EXPECT_EQ(std::get<0>(result), VYXZEB_RET_CAPTURE_TIMEOUT);
    EXPECT_EQ(std::get<1>(result), nullptr);
    // Woken by the change, not by its deadline.
    EXPECT_LT(std::get<2>(result), static_cast<long long>(kDeadlineMs));
    // Acquisition runs after the change.
    unsigned char* frame = nullptr;
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, kTimeOutMs), 0);
    EXPECT_EQ(VYXZEB_CaptureData(0, &frame), 0);
    EXPECT_EQ(VYXZEB_ReleaseBuffer(0), 0);
}

// ---- the sensor settings, seen in the pixels ----

class SensorInFrames : public Capture {
protected:
    void TearDown() override {
        VYXZEB_SetMirror(0, false);
        VYXZEB_SetFlip(0, false);
        VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_NORMAL);
        VYXZEB_SetCaptureFieldOfView(0, 0, 0, 1280, 1024);
        VYXZEB_SetExposureTime(0, 25.0f);
        Capture::TearDown();
    }
};

// Rows after the first are free of the frame stamp.
constexpr int kFirstClearRow = 1;

TEST_F(SensorInFrames, FullFrameIsTheSceneAtTheStartUpExposure) {
    const Frame f = CaptureCopy();
    ASSERT_EQ(f.width, 1280);
    ASSERT_EQ(f.height, 1024);
    const double brightness = vb::modelSensorBrightness();
    for (int y = kFirstClearRow; y < f.height; y += 37) {
        for (int x = 0; x < f.width; x += 13) {
            const long expected = std::lround(std::min(255.0, vb::modelPatternValue(x, y) * brightness));
            ASSERT_EQ(f.pixels[y * f.width + x], expected) << x << "," << y;
        }
    }
}

TEST_F(SensorInFrames, WindowCutsTheFrameOutOfTheFullImage) {
    const Frame full = CaptureCopy();
    ASSERT_EQ(VYXZEB_SetCaptureFieldOfView(0, 320, 256, 640, 480), 0);
    unsigned long x = 0, y = 0, w = 0, h = 0;
    ASSERT_EQ(VYXZEB_GetCaptureFieldOfView(0, &x, &y, &w, &h), 0);
    const Frame win = CaptureCopy();
    ASSERT_EQ(win.width, static_cast<int>(w));
    ASSERT_EQ(win.height, static_cast<int>(h));
    EXPECT_EQ(vb::fpgaReg(vyxpl::fpga::kFramePixelsA), w * h);   // the PL follows the sensor
    for (int r = kFirstClearRow; r < win.height; r += 7)
        for (int c = 0; c < win.width; c += 5)
            ASSERT_EQ(win.pixels[r * win.width + c], full.pixels[(r + y) * full.width + c + x]) << c << "," << r;
}

TEST_F(SensorInFrames, AddressModesShrinkTheFrame) {
    struct Mode {
        VYX_ADDRESSMODE mode;
        int width, height;
    };
    const Mode modes[] = {{VYX_ADDRESSMODE_NORMAL, 1280, 1024}, {VYX_ADDRESSMODE_DIV2, 640, 512},
                          {VYX_ADDRESSMODE_DIV3, 424, 341},     {VYX_ADDRESSMODE_DIV4, 320, 256},
                          {VYX_ADDRESSMODE_DIV8, 160, 128}};
    for (const Mode& m : modes) {
        SCOPED_TRACE(m.mode);
        ASSERT_EQ(VYXZEB_SetAddressMode(0, m.mode), 0);
        VYX_ADDRESSMODE got = VYX_ADDRESSMODE_NORMAL;
        EXPECT_EQ(VYXZEB_GetAddressMode(0, &got), 0);
        EXPECT_EQ(got, m.mode);
        const Frame f = CaptureCopy();
        EXPECT_EQ(f.width, m.width);
        EXPECT_EQ(f.height, m.height);
        EXPECT_EQ(vb::fpgaReg(vyxpl::fpga::kFramePixelsA), static_cast<uint32_t>(m.width * m.height));
    }
}

TEST_F(SensorInFrames, MirrorAndFlipReverseRowsAndColumns) {
    const Frame plain = CaptureCopy();
    ASSERT_EQ(VYXZEB_SetMirror(0, true), 0);
    const Frame mirrored = CaptureCopy();
    ASSERT_EQ(VYXZEB_SetMirror(0, false), 0);
    ASSERT_EQ(VYXZEB_SetFlip(0, true), 0);
    const Frame flipped = CaptureCopy();
    const int w = plain.width, h = plain.height;
    for (int y = kFirstClearRow; y < h - 1; y += 31) {
        for (int x = 0; x < w; x += 17) {
            ASSERT_EQ(mirrored.pixels[y * w + x], plain.pixels[y * w + (w - 1 - x)]) << x << "," << y;
            ASSERT_EQ(flipped.pixels[y * w + x], plain.pixels[(h - 1 - y) * w + x]) << x << "," << y;
        }
    }
}

double MeanOfRows(const Frame& f) {
    double sum = 0;
    for (size_t i = static_cast<size_t>(f.width) * kFirstClearRow; i < f.pixels.size(); ++i) sum += f.pixels[i];
    return sum / static_cast<double>(f.pixels.size() - static_cast<size_t>(f.width) * kFirstClearRow);
}

TEST_F(SensorInFrames, ExposureAndGainScaleTheBrightness) {
    ASSERT_EQ(VYXZEB_SetCaptureFieldOfView(0, 0, 0, 320, 240), 0);
    const double base = MeanOfRows(CaptureCopy());
    ASSERT_EQ(VYXZEB_SetExposureTime(0, 12.5f), 0);
    const double half = MeanOfRows(CaptureCopy());
    EXPECT_NEAR(half, base / 2, base * 0.05);
    ASSERT_EQ(VYXZEB_SetExposureTime(0, 25.0f), 0);
    unsigned long gmin = 0, gmax = 0, gain = 0;
    ASSERT_EQ(VYXZEB_GetGainRange(0, &gmin, &gmax), 0);
    ASSERT_EQ(VYXZEB_GetGain(0, &gain), 0);
    ASSERT_EQ(VYXZEB_SetGain(0, gmax), 0);
    const Frame bright = CaptureCopy();
    EXPECT_GT(MeanOfRows(bright), base * 1.5);
    // Saturation: nothing above 255, and the brightest values pinned there.
    int pinned = 0;
    for (uint8_t v : bright.pixels) pinned += v == 255;
    EXPECT_GT(pinned, 0);
    ASSERT_EQ(VYXZEB_SetGain(0, gain), 0);
}

// ---- display ----

TEST_F(Capture, CapturedFrameShownOnTheScreen) {
    // Unscaled: a placement of the frame's own size in a full-screen widget
    // shows its top 719 lines pixel for pixel.
    ASSERT_EQ(VYXZEB_SetVideoWidgetPos(0, 0, 0, 1280, 720), 0);
    ASSERT_EQ(VYXZEB_SetPosition(0, 0, 0, 1280, 1024), 0);
    unsigned char* frame = nullptr;
    ASSERT_EQ(VYXZEB_CaptureData(0, &frame), 0);
    const uint64_t shows = vb::modelCounters().showsEvaluated;
    ASSERT_EQ(VYXZEB_ShowCaptureData(0, frame), 0);
    ASSERT_TRUE(vb::modelWaitShow(shows, 5000));
    for (int y = kFirstClearRow; y < 719; y += 23) {
        for (int x = 0; x < 1280; x += 11) {
            const uint32_t v = frame[y * 1280 + x];
            ASSERT_EQ(vb::modelScreenPixel(x, y), v << 16 | v << 8 | v) << x << "," << y;
        }
    }
    EXPECT_EQ(VYXZEB_ShowCaptureData(0, frame + 0xA00000 * 8), VYXZEB_RET_FAILED);   // not a frame
    ASSERT_EQ(VYXZEB_ReleaseBuffer(0), 0);
    ASSERT_EQ(VYXZEB_SetPosition(0, 0, 0, 1280, 720), 0);
}

TEST_F(Capture, UserImageShownFullScreen) {
    unsigned char* block = nullptr;
    ASSERT_EQ(VYXZEB_Malloc(1280 * 720, &block), 0);
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1280; ++x) block[y * 1280 + x] = static_cast<unsigned char>((x * 3 + y * 5) & 0xFF);
    ASSERT_EQ(VYXZEB_SetVideoWidgetPos(0, 0, 0, 1280, 720), 0);
    ASSERT_EQ(VYXZEB_SetPosition(0, 0, 0, 1280, 720), 0);
    const uint64_t shows = vb::modelCounters().showsEvaluated;
    ASSERT_EQ(VYXZEB_ShowUserLoadData(0, block, 1280, 720, 8), 0);
    ASSERT_TRUE(vb::modelWaitShow(shows, 5000));
    for (int y = 0; y < 719; y += 7) {
        for (int x = 0; x < 1280; x += 9) {
            const uint32_t v = block[y * 1280 + x];
            ASSERT_EQ(vb::modelScreenPixel(x, y), v << 16 | v << 8 | v) << x << "," << y;
        }
    }
    EXPECT_EQ(VYXZEB_Free(&block), 0);
}

}  // namespace
