// The exported families on one shared, initialised device: routing by
// index, the API layer's own checks and conversions, and their effect on
// the board's registers, GPIO lines and memory.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "BoardTest.h"
#include "PLRegs.h"
#include "SharedDevice.h"
#include "TestSupport.h"
#include "VYXZebApi.h"
#include "VyxBoard.h"

namespace {

::testing::Environment* const g_device = ::testing::AddGlobalTestEnvironment(new vyxtest::SharedDevice);

constexpr unsigned long kPoolBase = 0x32800000UL;
constexpr unsigned long kBlock = 0x800000UL;

// Every test runs on a board reset to its power-on state and leaves no
// descriptor or mapping open (BoardTest.h).
using Identification = vyxtest::BoardTest;
using Routing = vyxtest::BoardTest;
using Acquisition = vyxtest::BoardTest;
using Registers = vyxtest::BoardTest;
using Gpio = vyxtest::BoardTest;
using Pool = vyxtest::BoardTest;
using Display = vyxtest::BoardTest;
using Flash = vyxtest::BoardTest;
using SensorSettings = vyxtest::BoardTest;
using Descriptors = vyxtest::BoardTest;

TEST_F(Identification, SensorCountTypeAndDeviceInformation) {
    int n = -1;
    EXPECT_EQ(VYXZEB_GetSensorNum(&n), 0);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(VYXZEB_GetSensorNum(nullptr), 0);

    VYXZEB_SENSOR_TYPE type = VYXZEB_SENSOR_V880A;
    EXPECT_EQ(VYXZEB_GetSensorType(0, &type), 0);
    EXPECT_EQ(type, VYXZEB_SENSOR_Q210B);

    int kind = -1, version = 0;
    EXPECT_EQ(VYXZEB_GetDeviceInformation(0, &kind, &version), 0);
    const uint32_t word = vb::fpgaReg(0);
    ASSERT_NE(word, 0u);
    EXPECT_EQ(static_cast<uint32_t>(version), word);
    const int top = static_cast<int>(word >> 24);
    EXPECT_EQ(kind, top == 0 ? 0 : top - 1);
    EXPECT_EQ(VYXZEB_GetDeviceInformation(0, &kind, nullptr), VYXZEB_RET_BAD_PARAMETER);
}

TEST_F(Routing, IndicesWithoutCameraSetGiveSetUnavailable) {
    const int kNoSet = VYXZEB_RET_SET_UNAVAILABLE;
    for (int i : {1, 2, 3, 4, -1, 1000}) {
        SCOPED_TRACE(i);
        unsigned long ul = 0;
        int w = 0, h = 0, b = 0, kind = 0, ver = 0;
        unsigned char* frame = nullptr;
        EXPECT_EQ(VYXZEB_SetGain(i, 10), kNoSet);          // setting: from the validation
        EXPECT_EQ(VYXZEB_GetGain(i, &ul), kNoSet);         // reading: from the lookup
        EXPECT_EQ(VYXZEB_GetCaptureSize(i, &w, &h, &b), kNoSet);
        EXPECT_EQ(VYXZEB_SetTriggerMode(i, VYXZEB_TRIGGER_CONTINUOUS), kNoSet);
        EXPECT_EQ(VYXZEB_CaptureData(i, &frame), kNoSet);
        EXPECT_EQ(VYXZEB_ReleaseBuffer(i), kNoSet);
        EXPECT_EQ(VYXZEB_GetDeviceInformation(i, &kind, &ver), kNoSet);
        EXPECT_EQ(VYXZEB_RdRegFPGA(i, 0, &ul), kNoSet);
        EXPECT_EQ(VYXZEB_GetMultiFrameRange(i, &ul, &ul), kNoSet);
        EXPECT_EQ(VYXZEB_FlashSetEnable(i, true), kNoSet);
        unsigned short lo = 1, hi = 1;
        EXPECT_EQ(VYXZEB_GetTriggerFilterRange(i, &lo, &hi), 0);   // constants: no lookup
        EXPECT_EQ(lo, 0);
        EXPECT_EQ(hi, 65535);
    }
}

TEST_F(Acquisition, FixedFrameRateConvertsToAndFromThePeriod) {
    EXPECT_EQ(VYXZEB_SetFixFrameRate(0, 30), 0);
    EXPECT_EQ(vb::fpgaReg(vyxpl::fpga::kFramePeriod), 33333u);
    unsigned long fps = 0;
    EXPECT_EQ(VYXZEB_GetFixFrameRate(0, &fps), 0);
    EXPECT_EQ(fps, 30u);
    // Faster than one frame per microsecond divides down to 0: the fixed rate is off.
    EXPECT_EQ(VYXZEB_SetFixFrameRate(0, 2000000), 0);
    EXPECT_EQ(vb::fpgaReg(vyxpl::fpga::kFramePeriod), 0u);
    EXPECT_EQ(VYXZEB_GetFixFrameRate(0, &fps), 0);
    EXPECT_EQ(fps, 0u);
    EXPECT_EQ(VYXZEB_SetFixFrameRate(0, 0), 0);
    EXPECT_EQ(VYXZEB_GetFixFrameRate(0, nullptr), VYXZEB_RET_BAD_PARAMETER);
}

TEST_F(Acquisition, MultiFrameIsBoundedByTheFrameBuffer) {
    unsigned long lo = 0, hi = 0;
    ASSERT_EQ(VYXZEB_GetMultiFrameRange(0, &lo, &hi), 0);
    EXPECT_EQ(lo, 1u);
    EXPECT_EQ(hi, 8u);   // 10 MiB holds eight 1280 x 1024 frames
    EXPECT_EQ(VYXZEB_GetMultiFrameRange(0, &lo, nullptr), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(VYXZEB_SetMultiFrame(0, 0), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(VYXZEB_SetMultiFrame(0, 9), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(VYXZEB_SetMultiFrame(0, 8), 0);
    EXPECT_EQ(vb::fpgaReg(vyxpl::fpga::kMultiFrameA), 8u);
    EXPECT_EQ(vb::fpgaReg(vyxpl::fpga::kMultiFrameB), 8u);
    unsigned long count = 0;
    EXPECT_EQ(VYXZEB_GetMultiFrame(0, &count), 0);
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(VYXZEB_GetMultiFrame(0, nullptr), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(VYXZEB_SetMultiFrame(0, 1), 0);
}

// A count set for small frames must not survive a change to larger ones:
// the PL would write past its 10 MiB buffer into the neighbouring ones.
TEST_F(Acquisition, MultiFrameCountShrinksWhenTheFramesGrow) {
    vyxtest::LogCapture log;
    ASSERT_TRUE(log.ok());
    unsigned long lo = 0, hi = 0, count = 0;
    ASSERT_EQ(VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_DIV8), 0);
    ASSERT_EQ(VYXZEB_GetMultiFrameRange(0, &lo, &hi), 0);
    EXPECT_EQ(hi, 512u);   // 160 x 128 frames
    ASSERT_EQ(VYXZEB_SetMultiFrame(0, 500), 0);
    ASSERT_EQ(VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_NORMAL), 0);
    EXPECT_EQ(VYXZEB_GetMultiFrame(0, &count), 0);
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(vb::fpgaReg(vyxpl::fpga::kMultiFrameA), 8u);
    EXPECT_EQ(vb::fpgaReg(vyxpl::fpga::kMultiFrameB), 8u);
    EXPECT_TRUE(vyxtest::Contains(log.Text(), "multi-frame count 500 does not fit, reduced to 8)")) << log.Text();

    // The window does the same; a count that still fits is kept.
    ASSERT_EQ(VYXZEB_SetCaptureFieldOfView(0, 0, 0, 320, 240), 0);
    ASSERT_EQ(VYXZEB_SetMultiFrame(0, 100), 0);
    ASSERT_EQ(VYXZEB_SetCaptureFieldOfView(0, 0, 0, 640, 480), 0);
    EXPECT_EQ(VYXZEB_GetMultiFrame(0, &count), 0);
    EXPECT_EQ(count, 34u);   // 0xA00000 / (640 x 480)
    ASSERT_EQ(VYXZEB_SetCaptureFieldOfView(0, 0, 0, 320, 240), 0);
    EXPECT_EQ(VYXZEB_GetMultiFrame(0, &count), 0);
    EXPECT_EQ(count, 34u);
    ASSERT_EQ(VYXZEB_SetCaptureFieldOfView(0, 0, 0, 1280, 1024), 0);
    EXPECT_EQ(VYXZEB_GetMultiFrame(0, &count), 0);
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(VYXZEB_SetMultiFrame(0, 1), 0);
}

// A refused mode leaves the PL exactly as it was: acquisition the
// application stopped stays stopped, and its buffers are not emptied.
TEST_F(Acquisition, RefusedTriggerModeChangesNothing) {
    ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_CONTINUOUS), 0);
    ASSERT_EQ(VYXZEB_EmptyFrameBuffer(0), 0);
    const uint32_t control = vb::fpgaReg(vyxpl::fpga::kControl);
    const uint32_t trigger = vb::fpgaReg(vyxpl::fpga::kTrigger);
    ASSERT_EQ(control & vyxpl::fpga::kControlCaptureStart, 0u);
    for (int mode : {6, 7}) {
        EXPECT_EQ(VYXZEB_SetTriggerMode(0, static_cast<VYXZEB_TRIGGER_MODE>(mode)), VYXZEB_RET_BAD_PARAMETER);
        EXPECT_EQ(vb::fpgaReg(vyxpl::fpga::kControl), control) << mode;
        EXPECT_EQ(vb::fpgaReg(vyxpl::fpga::kTrigger), trigger) << mode;
    }
    VYXZEB_TRIGGER_MODE mode = VYXZEB_TRIGGER_SOFTWARE;
    EXPECT_EQ(VYXZEB_GetTriggerMode(0, &mode), 0);
    EXPECT_EQ(mode, VYXZEB_TRIGGER_CONTINUOUS);
    // Back to the start-up state: software trigger, acquisition stopped.
    ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE), 0);
    ASSERT_EQ(VYXZEB_EmptyFrameBuffer(0), 0);
}

TEST_F(Acquisition, FrameBufferNumberAndTriggerFilter) {
    EXPECT_EQ(VYXZEB_SetFrameBufNum(0, 4), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(VYXZEB_SetFrameBufNum(0, 3), 0);
    EXPECT_EQ(vb::fpgaReg(vyxpl::fpga::kFrameBufNumber), 3u);
    unsigned long number = 0;
    EXPECT_EQ(VYXZEB_GetFrameBufNum(0, &number), 0);
    EXPECT_EQ(number, 3u);
    EXPECT_EQ(VYXZEB_GetFrameBufNum(0, nullptr), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(VYXZEB_SetFrameBufNum(0, 0), 0);

    EXPECT_EQ(VYXZEB_SetTriggerFilter(0, 300), 0);
    unsigned short filter = 0;
    EXPECT_EQ(VYXZEB_GetTriggerFilter(0, &filter), 0);
    EXPECT_EQ(filter, 300);
    EXPECT_EQ(vb::fpgaReg(vyxpl::fpga::kTriggerFilter) & 0xFFFFu, 300u);
    EXPECT_EQ(VYXZEB_GetTriggerFilter(0, nullptr), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(VYXZEB_SetTriggerFilter(0, 0), 0);
}

TEST_F(Acquisition, SoftwareTriggerWithAcquisitionStoppedIsRefused) {
    // After start-up the PL is in software-trigger mode with acquisition stopped.
    VYXZEB_TRIGGER_MODE mode = VYXZEB_TRIGGER_CONTINUOUS;
    ASSERT_EQ(VYXZEB_GetTriggerMode(0, &mode), 0);
    ASSERT_EQ(mode, VYXZEB_TRIGGER_SOFTWARE);
    unsigned char* frame = reinterpret_cast<unsigned char*>(0x1);
    EXPECT_EQ(VYXZEB_CaptureData(0, &frame), VYXZEB_RET_CAPTURE_NOT_STARTED);
    EXPECT_EQ(frame, reinterpret_cast<unsigned char*>(0x1));
}

TEST_F(Registers, RawFpgaAccessChecksOffsets) {
    unsigned long value = 0;
    EXPECT_EQ(VYXZEB_RdRegFPGA(0, 0, &value), 0);
    EXPECT_EQ(value, vb::fpgaReg(0));
    EXPECT_EQ(VYXZEB_WrRegFPGA(0, 156, 1), VYXZEB_RET_REGISTER_ACCESS_FAILED);
    EXPECT_EQ(VYXZEB_WrRegFPGA(0, 2, 1), VYXZEB_RET_REGISTER_ACCESS_FAILED);
    EXPECT_EQ(VYXZEB_RdRegFPGA(0, 160, &value), VYXZEB_RET_REGISTER_ACCESS_FAILED);
    EXPECT_EQ(VYXZEB_WrRegFPGA(0, vyxpl::fpga::kTriggerDelay, 1234), 0);
    EXPECT_EQ(vb::fpgaReg(vyxpl::fpga::kTriggerDelay), 1234u);
    EXPECT_EQ(VYXZEB_WrRegFPGA(0, vyxpl::fpga::kTriggerDelay, 0), 0);
}

TEST_F(Gpio, PinsLevelsAndStatus) {
    unsigned short num = 0, dir = 0;
    EXPECT_EQ(VYXZEB_GpioGetNum(&num), 0);
    EXPECT_EQ(num, 8);
    EXPECT_EQ(VYXZEB_GpioGetDirection(&dir), 0);
    EXPECT_EQ(dir, 0xF8);
    EXPECT_EQ(VYXZEB_GpioGetNum(nullptr), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(VYXZEB_GpioGetDirection(nullptr), VYXZEB_RET_BAD_PARAMETER);

    for (int line = 0; line < vb::kGpioLines; ++line) vb::setGpioInput(line, line == 5);
    unsigned short levels = 0;
    EXPECT_EQ(VYXZEB_GpioGetStatus(&levels), 0);
    EXPECT_EQ(levels, 0x20);
    bool level = false;
    EXPECT_EQ(VYXZEB_GpioGet(5, &level), 0);
    EXPECT_TRUE(level);
    EXPECT_EQ(VYXZEB_GpioGet(5, nullptr), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(VYXZEB_GpioGetStatus(nullptr), VYXZEB_RET_BAD_PARAMETER);
    vb::setGpioInput(5, false);

    vb::clearGpioWrites();
    EXPECT_EQ(VYXZEB_GpioSetStatus(0x28), 0);
    const std::vector<vb::GpioWrite> writes = vb::gpioWrites();
    ASSERT_EQ(writes.size(), 5u);
    const int expected[5] = {1, 0, 1, 0, 0};   // pins 3..7 from bits 3..7 of 0x28
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(writes[k].line, 3 + k);
        EXPECT_EQ(writes[k].value, expected[k]);
    }
    // Inputs cannot be driven.
    EXPECT_EQ(VYXZEB_GpioSet(2, true), VYXZEB_RET_GPIO_FAILED);
    EXPECT_EQ(VYXZEB_GpioSet(10, true), VYXZEB_RET_GPIO_FAILED);
}

TEST_F(Pool, BlocksAreHandedOutInOrderAndFreedOnce) {
    std::vector<unsigned char*> blocks;
    for (int k = 0; k < 24; ++k) {
        unsigned char* p = nullptr;
        ASSERT_EQ(VYXZEB_Malloc(k == 0 ? 0 : kBlock, &p), 0) << k;
        if (!blocks.empty()) {
            EXPECT_EQ(p, blocks.back() + kBlock);
        }
        blocks.push_back(p);
    }
    unsigned char* extra = nullptr;
    EXPECT_EQ(VYXZEB_Malloc(1, &extra), VYXZEB_RET_FAILED);
    EXPECT_EQ(extra, nullptr);

    // A pointer inside a block is not a block.
    unsigned char* inside = blocks[3] + 16;
    EXPECT_EQ(VYXZEB_Free(&inside), VYXZEB_RET_FAILED);
    EXPECT_EQ(inside, blocks[3] + 16);

    unsigned char* first = blocks[0];
    EXPECT_EQ(VYXZEB_Free(&first), 0);
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(VYXZEB_Free(&first), VYXZEB_RET_NULL_BUFFER);
    EXPECT_EQ(VYXZEB_Free(nullptr), VYXZEB_RET_NULL_BUFFER);
    // The freed block comes back first.
    unsigned char* again = nullptr;
    EXPECT_EQ(VYXZEB_Malloc(kBlock, &again), 0);
    EXPECT_EQ(again, blocks[0]);
    blocks[0] = again;

    for (unsigned char*& p : blocks) EXPECT_EQ(VYXZEB_Free(&p), 0);
    unsigned char* big = nullptr;
    EXPECT_EQ(VYXZEB_Malloc(kBlock + 1, &big), VYXZEB_RET_FAILED);
    EXPECT_EQ(VYXZEB_Malloc(kBlock, nullptr), VYXZEB_RET_BAD_PARAMETER);
}

// Freeing a block through a second copy of its pointer must not hand the
// block to two owners.
TEST_F(Pool, ABlockThatIsNotHandedOutCannotBeFreed) {
    unsigned char* p = nullptr;
    ASSERT_EQ(VYXZEB_Malloc(16, &p), 0);
    unsigned char* copy = p;
    unsigned char* const block = p;
    ASSERT_EQ(VYXZEB_Free(&p), 0);
    EXPECT_EQ(VYXZEB_Free(&copy), VYXZEB_RET_FAILED);
    EXPECT_EQ(copy, block);   // changes nothing, not even the caller's pointer

    unsigned char* a = nullptr;
    unsigned char* b = nullptr;
    ASSERT_EQ(VYXZEB_Malloc(16, &a), 0);
    ASSERT_EQ(VYXZEB_Malloc(16, &b), 0);
    EXPECT_EQ(a, block);
    EXPECT_NE(b, block);
    EXPECT_EQ(VYXZEB_Free(&a), 0);
    EXPECT_EQ(VYXZEB_Free(&b), 0);
}

TEST_F(Pool, BlockMemoryIsThePhysicalRamTheDisplayReads) {
    unsigned char* p = nullptr;
    ASSERT_EQ(VYXZEB_Malloc(1280 * 720, &p), 0);
    p[0] = 0x5A;
    p[kBlock - 1] = 0xA5;
    uint8_t seen[1] = {};
    ASSERT_TRUE(vb::readPhys(kPoolBase, seen, 1));
    EXPECT_EQ(seen[0], 0x5A);
    ASSERT_TRUE(vb::readPhys(kPoolBase + kBlock - 1, seen, 1));
    EXPECT_EQ(seen[0], 0xA5);
    EXPECT_EQ(VYXZEB_Free(&p), 0);
}

TEST_F(Display, UserImagesMustBePoolBlocksThatHoldTheWholeImage) {
    unsigned char* p = nullptr;
    ASSERT_EQ(VYXZEB_Malloc(1280 * 720, &p), 0);
    const uint64_t flushes = vb::cacheFlushCount();
    EXPECT_EQ(VYXZEB_ShowUserLoadData(0, p, 1280, 720, 8), 0);
    EXPECT_EQ(vb::readReg(vb::Block::VdmaG8, vyxpl::vdma::kMm2sStartAddr), kPoolBase);
    EXPECT_EQ(vb::cacheFlushCount(), flushes + 1);

    // Larger than the 8 MiB block: refused before any register is written.
    vb::writeReg(vb::Block::VdmaG8, vyxpl::vdma::kMm2sStartAddr, 0xDEAD0000u);
    vb::writeReg(vb::Block::VdmaRgb, vyxpl::vdma::kMm2sStartAddr, 0xDEAD0000u);
    EXPECT_EQ(VYXZEB_ShowUserLoadData(0, p, 4096, 4096, 8), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(VYXZEB_ShowUserLoadData(0, p, 2048, 1080, 32), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(VYXZEB_ShowUserLoadData(0, p, 0xFFFFFFFFu, 0xFFFFFFFFu, 24), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(vb::readReg(vb::Block::VdmaG8, vyxpl::vdma::kMm2sStartAddr), 0xDEAD0000u);
    EXPECT_EQ(vb::readReg(vb::Block::VdmaRgb, vyxpl::vdma::kMm2sStartAddr), 0xDEAD0000u);
    // Exactly one block of 24-bit pixels fits.
    EXPECT_EQ(VYXZEB_ShowUserLoadData(0, p, 1024, 2730, 24), 0);

    EXPECT_EQ(VYXZEB_ShowUserLoadData(0, p + 16, 64, 64, 8), VYXZEB_RET_FAILED);
    EXPECT_EQ(VYXZEB_ShowUserLoadData(0, nullptr, 64, 64, 8), VYXZEB_RET_FAILED);
    EXPECT_EQ(VYXZEB_Free(&p), 0);
}

// 8-bit images go through the grey DMA (1 byte a pixel), 24-bit ones through
// the colour DMA (3 bytes a pixel); no other depth has a path.  Whatever the
// DMA reads must lie in the block.
TEST_F(Display, UserImagesAreGreyOrColourAndBoundedByWhatTheDmaReads) {
    unsigned char* p = nullptr;
    ASSERT_EQ(VYXZEB_Malloc(kBlock, &p), 0);
    vb::writeReg(vb::Block::VdmaG8, vyxpl::vdma::kMm2sStartAddr, 0xDEAD0000u);
    vb::writeReg(vb::Block::VdmaRgb, vyxpl::vdma::kMm2sStartAddr, 0xDEAD0000u);
    for (unsigned bits : {0u, 1u, 7u, 16u, 32u, 33u}) {
        EXPECT_EQ(VYXZEB_ShowUserLoadData(0, p, 64, 64, bits), VYXZEB_RET_BAD_PARAMETER) << bits;
    }
    EXPECT_EQ(VYXZEB_ShowUserLoadData(0, p, 2048, 2048, 16), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(VYXZEB_ShowUserLoadData(0, p, 4096, 2049, 8), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(VYXZEB_ShowUserLoadData(0, p, 2048, 1366, 24), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(vb::readReg(vb::Block::VdmaG8, vyxpl::vdma::kMm2sStartAddr), 0xDEAD0000u);
    EXPECT_EQ(vb::readReg(vb::Block::VdmaRgb, vyxpl::vdma::kMm2sStartAddr), 0xDEAD0000u);

    EXPECT_EQ(VYXZEB_ShowUserLoadData(0, p, 4096, 2048, 8), 0);   // 8 MiB exactly
    EXPECT_EQ(vb::readReg(vb::Block::VdmaG8, vyxpl::vdma::kMm2sStartAddr), kPoolBase);
    EXPECT_EQ(VYXZEB_ShowUserLoadData(0, p, 2048, 1365, 24), 0);
    EXPECT_EQ(vb::readReg(vb::Block::VdmaRgb, vyxpl::vdma::kMm2sStartAddr), kPoolBase);
    EXPECT_EQ(VYXZEB_Free(&p), 0);
}

TEST_F(Display, PlacementIsAlignedToFourPixels) {
    EXPECT_EQ(VYXZEB_SetPosition(0, -3, 5, 641, 482), 0);
    int x = 0, y = 0;
    unsigned w = 0, h = 0;
    EXPECT_EQ(VYXZEB_GetPosition(0, &x, &y, &w, &h), 0);
    EXPECT_EQ(x, -4);
    EXPECT_EQ(y, 4);
    EXPECT_EQ(w, 640u);
    EXPECT_EQ(h, 480u);
    EXPECT_EQ(VYXZEB_SetPosition(0, 0, 0, 1280, 720), 0);
}

TEST_F(Flash, EnableAndInvertRoundTrip) {
    bool b = false;
    EXPECT_EQ(VYXZEB_FlashGetEnable(0, nullptr), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(VYXZEB_FlashGetInvert(0, nullptr), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(VYXZEB_FlashSetEnable(0, true), 0);
    EXPECT_EQ(VYXZEB_FlashGetEnable(0, &b), 0);
    EXPECT_TRUE(b);
    EXPECT_EQ(VYXZEB_FlashSetInvert(0, true), 0);
    EXPECT_EQ(VYXZEB_FlashGetInvert(0, &b), 0);
    EXPECT_TRUE(b);
    EXPECT_EQ(VYXZEB_FlashSetEnable(0, false), 0);
    EXPECT_EQ(VYXZEB_FlashSetInvert(0, false), 0);
    EXPECT_EQ(VYXZEB_FlashGetEnable(0, &b), 0);
    EXPECT_FALSE(b);
}

TEST_F(SensorSettings, FieldOfViewRangeIsTheSmallestAndLargestWindow) {
    unsigned long minW = 0, minH = 0, maxW = 0, maxH = 0;
    ASSERT_EQ(VYXZEB_GetCaptureFieldOfViewRange(0, &minW, &minH, &maxW, &maxH), 0);
    EXPECT_EQ(minW, 16u);
    EXPECT_EQ(minH, 1u);
    EXPECT_EQ(maxW, 1280u);
    EXPECT_EQ(maxH, 1024u);
}

// NaN or a negative time names no exposure; finite non-negative times keep
// being limited to the sensor's range.
TEST_F(SensorSettings, ExposureTimeThatIsNoTimeIsRefused) {
    unsigned long lines = 0, before = 0;
    ASSERT_EQ(VYXZEB_SetExposureTime(0, 25.0f), 0);
    ASSERT_EQ(VYXZEB_GetExposureLines(0, &before), 0);
    ASSERT_GT(before, 0u);
    for (float t : {std::nanf(""), -1.0f, -1e-6f, -std::numeric_limits<float>::infinity(),
                    std::numeric_limits<float>::infinity()}) {
        EXPECT_EQ(VYXZEB_SetExposureTime(0, t), VYXZEB_RET_BAD_PARAMETER) << t;
        EXPECT_EQ(VYXZEB_GetExposureLines(0, &lines), 0);
        EXPECT_EQ(lines, before) << t;
    }
    EXPECT_EQ(VYXZEB_SetExposureTime(0, 1e9f), 0);
    EXPECT_EQ(VYXZEB_GetExposureLines(0, &lines), 0);
    EXPECT_EQ(lines, 65534u);
    EXPECT_EQ(VYXZEB_SetExposureTime(0, 0.0f), 0);
    EXPECT_EQ(VYXZEB_GetExposureLines(0, &lines), 0);
    EXPECT_EQ(lines, 0u);
    EXPECT_EQ(VYXZEB_SetExposureTime(0, 25.0f), 0);
}

// A window and address mode that leave no pixel are refused, whichever of
// the two is set last; the refused call leaves the sensor and the PL as they
// were.
TEST_F(SensorSettings, WindowAndModeThatGiveAnEmptyFrameAreRefused) {
    struct Geometry {
        unsigned long x = 0, y = 0, w = 0, h = 0, lines = 0;
        VYX_ADDRESSMODE mode = VYX_ADDRESSMODE_NORMAL;
        int width = 0, height = 0, bits = 0;
        uint32_t plPixels = 0;
    };
    auto now = [] {
        Geometry g;
        EXPECT_EQ(VYXZEB_GetCaptureFieldOfView(0, &g.x, &g.y, &g.w, &g.h), 0);
        EXPECT_EQ(VYXZEB_GetAddressMode(0, &g.mode), 0);
        EXPECT_EQ(VYXZEB_GetExposureLines(0, &g.lines), 0);
        EXPECT_EQ(VYXZEB_GetCaptureSize(0, &g.width, &g.height, &g.bits), 0);
        g.plPixels = vb::fpgaReg(vyxpl::fpga::kFramePixelsA);
        return g;
    };
    auto expectSame = [](const Geometry& a, const Geometry& b) {
        EXPECT_EQ(a.x, b.x);
        EXPECT_EQ(a.y, b.y);
        EXPECT_EQ(a.w, b.w);
        EXPECT_EQ(a.h, b.h);
        EXPECT_EQ(a.mode, b.mode);
        EXPECT_EQ(a.lines, b.lines);
        EXPECT_EQ(a.width, b.width);
        EXPECT_EQ(a.height, b.height);
        EXPECT_EQ(a.plPixels, b.plPixels);
    };

    ASSERT_EQ(VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_DIV8), 0);
    Geometry before = now();
    EXPECT_EQ(before.width, 160);
    EXPECT_EQ(VYXZEB_SetCaptureFieldOfView(0, 0, 0, 1280, 7), VYXZEB_RET_BAD_PARAMETER);   // 160 x 0
    expectSame(before, now());
    EXPECT_EQ(VYXZEB_SetCaptureFieldOfView(0, 0, 0, 16, 1024), VYXZEB_RET_BAD_PARAMETER);  // 0 x 128
    expectSame(before, now());

    ASSERT_EQ(VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_NORMAL), 0);
    ASSERT_EQ(VYXZEB_SetCaptureFieldOfView(0, 0, 0, 1280, 7), 0);
    before = now();
    EXPECT_EQ(before.height, 7);
    EXPECT_EQ(before.plPixels, 1280u * 7u);
    EXPECT_EQ(VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_DIV8), VYXZEB_RET_BAD_PARAMETER);
    expectSame(before, now());
    EXPECT_EQ(VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_DIV4), 0);   // 320 x 1 still has pixels

    ASSERT_EQ(VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_NORMAL), 0);
    ASSERT_EQ(VYXZEB_SetCaptureFieldOfView(0, 0, 0, 1280, 1024), 0);
}

// No program the application starts (system(), popen()) may inherit the
// library's device descriptors or its log file.
TEST_F(Descriptors, EveryDescriptorTheLibraryOpensIsClosedOnExec) {
    vyxtest::LogCapture log;
    ASSERT_TRUE(log.ok());
    // The interrupt thread opens its node once it runs; wait for it, bounded.
    for (int i = 0; i < 5000 && vb::openNodeDescriptors(vb::Node::Capture) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(vb::openNodeDescriptors(vb::Node::Capture), 1);

    int nodes = 0, logFiles = 0;
    DIR* dir = opendir("/proc/self/fd");
    ASSERT_NE(dir, nullptr);
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const int fd = std::stoi(e->d_name);
        if (fd == dirfd(dir)) continue;
        char target[512] = {};
        const std::string link = std::string("/proc/self/fd/") + e->d_name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        const bool isLog = n > 0 && log.path() == target;
        const bool isNode = vb::nodeOfDescriptor(fd) != vb::Node::Count;
        if (!isLog && !isNode) continue;
        nodes += isNode;
        logFiles += isLog;
        EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "descriptor " << fd << " -> " << target;
    }
    closedir(dir);
    // Five register blocks, SPI, GPIO, frame buffers, pool, capture node.
    EXPECT_EQ(nodes, 10);
    EXPECT_EQ(logFiles, 1);
}

}  // namespace
