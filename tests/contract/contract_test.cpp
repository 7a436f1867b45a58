// Contract of the exported functions on an initialised device: what each
// does with a null output, an index without a camera set, values at and past
// its bounds, and whether every getter returns what its setter stored.  One
// device serves the whole suite (VYXZEB_Init takes over a second).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "BoardTest.h"
#include "SharedDevice.h"
#include "VYXZebApi.h"

namespace {

const ::testing::Environment* const kDevice = ::testing::AddGlobalTestEnvironment(new vyxtest::SharedDevice);

struct Call {
    const char* name;
    std::function<int()> call;
    int expected;
};

void Check(const std::vector<Call>& calls)
{
    for (const Call& c : calls) EXPECT_EQ(c.expected, c.call()) << c.name;
}

constexpr int kOk = VYXZEB_RET_SUCCESS;
constexpr int kBad = VYXZEB_RET_BAD_PARAMETER;

// Every test runs on a board reset to its power-on state and leaves no
// descriptor or mapping open (BoardTest.h).
using Contract = vyxtest::BoardTest;

// Getters given no place to write.  Those the API checks itself refuse with
// -1009; the others pass the null pointer on, and each layer below writes
// nothing to it.
TEST_F(Contract, NullOutputs) {
    unsigned long ul = 0;
    Check({
        {"GetLibVersion", [] { return VYXZEB_GetLibVersion(nullptr, nullptr, nullptr, nullptr); }, kBad},
        {"GetSensorNum", [] { return VYXZEB_GetSensorNum(nullptr); }, kOk},
        {"GetSensorType", [] { return VYXZEB_GetSensorType(0, nullptr); }, kOk},
        {"GetDeviceInformation", [] { return VYXZEB_GetDeviceInformation(0, nullptr, nullptr); }, kBad},
        {"GetCaptureFieldOfViewRange", [] { return VYXZEB_GetCaptureFieldOfViewRange(0, nullptr, nullptr, nullptr, nullptr); }, kOk},
        {"GetCaptureFieldOfView", [] { return VYXZEB_GetCaptureFieldOfView(0, nullptr, nullptr, nullptr, nullptr); }, kOk},
        {"GetAddressMode", [] { return VYXZEB_GetAddressMode(0, nullptr); }, kOk},
        {"GetCaptureSize", [] { return VYXZEB_GetCaptureSize(0, nullptr, nullptr, nullptr); }, kOk},
        {"GetGainRange", [] { return VYXZEB_GetGainRange(0, nullptr, nullptr); }, kOk},
        {"GetGain", [] { return VYXZEB_GetGain(0, nullptr); }, kOk},
        {"GetExposureLinesRange", [] { return VYXZEB_GetExposureLinesRange(0, nullptr, nullptr); }, kOk},
        {"GetExposureLines", [] { return VYXZEB_GetExposureLines(0, nullptr); }, kOk},
        {"GetExposureTimeRange", [] { return VYXZEB_GetExposureTimeRange(0, nullptr, nullptr); }, kOk},
        {"GetExposureTime", [] { return VYXZEB_GetExposureTime(0, nullptr); }, kOk},
        {"GetMirror", [] { return VYXZEB_GetMirror(0, nullptr); }, kOk},
        {"GetFlip", [] { return VYXZEB_GetFlip(0, nullptr); }, kOk},
        {"CaptureData", [] { return VYXZEB_CaptureData(0, nullptr); }, kBad},
        {"GetTriggerMode", [] { return VYXZEB_GetTriggerMode(0, nullptr); }, kBad},
        {"GetTriggerDelayRange", [] { return VYXZEB_GetTriggerDelayRange(0, nullptr, nullptr); }, kOk},
        {"GetTriggerDelay", [] { return VYXZEB_GetTriggerDelay(0, nullptr); }, kOk},
        {"GetFixFrameRate", [] { return VYXZEB_GetFixFrameRate(0, nullptr); }, kBad},
        {"GetMultiFrameRange", [&] { return VYXZEB_GetMultiFrameRange(0, &ul, nullptr); }, kBad},
        {"GetMultiFrame", [] { return VYXZEB_GetMultiFrame(0, nullptr); }, kBad},
        {"GetTriggerFilterRange", [] { return VYXZEB_GetTriggerFilterRange(0, nullptr, nullptr); }, kBad},
        {"GetTriggerFilter", [] { return VYXZEB_GetTriggerFilter(0, nullptr); }, kBad},
        {"RdRegFPGA", [] { return VYXZEB_RdRegFPGA(0, 0, nullptr); }, kOk},
        {"Malloc", [] { return VYXZEB_Malloc(16, nullptr); }, kBad},
        {"Free", [] { return VYXZEB_Free(nullptr); }, VYXZEB_RET_NULL_BUFFER},
        {"GpioGetNum", [] { return VYXZEB_GpioGetNum(nullptr); }, kBad},
        {"GpioGetDirection", [] { return VYXZEB_GpioGetDirection(nullptr); }, kBad},
        {"GpioGet", [] { return VYXZEB_GpioGet(0, nullptr); }, kBad},
        {"GpioGetStatus", [] { return VYXZEB_GpioGetStatus(nullptr); }, kBad},
        {"FlashGetEnable", [] { return VYXZEB_FlashGetEnable(0, nullptr); }, kBad},
        {"FlashGetInvert", [] { return VYXZEB_FlashGetInvert(0, nullptr); }, kBad},
        {"GetFrameBufNum", [] { return VYXZEB_GetFrameBufNum(0, nullptr); }, kBad},
        {"GetPosition", [] { return VYXZEB_GetPosition(0, nullptr, nullptr, nullptr, nullptr); }, kOk},
        {"LogGet", [] { return VYXZEB_LogGet(nullptr, nullptr); }, kOk},
    });
}

// Every setter's value comes back from its getter, at the ends of its range.
TEST_F(Contract, GettersReturnWhatTheSettersStored) {
    unsigned long ul = 0, lo = 0, hi = 0;
    bool b = false;
    unsigned short us = 0;

    ASSERT_EQ(kOk, VYXZEB_GetGainRange(0, &lo, &hi));
    for (unsigned long v : {lo, hi}) {
        ASSERT_EQ(kOk, VYXZEB_SetGain(0, v));
        ASSERT_EQ(kOk, VYXZEB_GetGain(0, &ul));
        EXPECT_EQ(v, ul) << "gain";
    }
    ASSERT_EQ(kOk, VYXZEB_GetExposureLinesRange(0, &lo, &hi));
    for (unsigned long v : {lo + 1, hi}) {
        ASSERT_EQ(kOk, VYXZEB_SetExposureLines(0, v));
        ASSERT_EQ(kOk, VYXZEB_GetExposureLines(0, &ul));
        EXPECT_EQ(v, ul) << "exposure lines";
    }
    for (bool v : {true, false}) {
        ASSERT_EQ(kOk, VYXZEB_SetMirror(0, v));
        ASSERT_EQ(kOk, VYXZEB_GetMirror(0, &b));
        EXPECT_EQ(v, b) << "mirror";
        ASSERT_EQ(kOk, VYXZEB_SetFlip(0, v));
        ASSERT_EQ(kOk, VYXZEB_GetFlip(0, &b));
        EXPECT_EQ(v, b) << "flip";
        ASSERT_EQ(kOk, VYXZEB_FlashSetEnable(0, v));
        ASSERT_EQ(kOk, VYXZEB_FlashGetEnable(0, &b));
        EXPECT_EQ(v, b) << "flash enable";
        ASSERT_EQ(kOk, VYXZEB_FlashSetInvert(0, v));
        ASSERT_EQ(kOk, VYXZEB_FlashGetInvert(0, &b));
        EXPECT_EQ(v, b) << "flash invert";
    }
    // The trigger delay's range is 0..65535, but a larger value is written
    // to the PL as given.
    ASSERT_EQ(kOk, VYXZEB_GetTriggerDelayRange(0, &lo, &hi));
    EXPECT_EQ(0u, lo);
    EXPECT_EQ(65535u, hi);
    for (unsigned long v : {0ul, 65535ul, 70000ul}) {
        ASSERT_EQ(kOk, VYXZEB_SetTriggerDelay(0, v));
        ASSERT_EQ(kOk, VYXZEB_GetTriggerDelay(0, &ul));
        EXPECT_EQ(v, ul) << "trigger delay";
    }
    ASSERT_EQ(kOk, VYXZEB_SetTriggerDelay(0, 0));
    for (unsigned short v : {static_cast<unsigned short>(0), static_cast<unsigned short>(65535)}) {
        ASSERT_EQ(kOk, VYXZEB_SetTriggerFilter(0, v));
        ASSERT_EQ(kOk, VYXZEB_GetTriggerFilter(0, &us));
        EXPECT_EQ(v, us) << "trigger filter";
    }
    ASSERT_EQ(kOk, VYXZEB_SetTriggerFilter(0, 0));
    ASSERT_EQ(kOk, VYXZEB_GetMultiFrameRange(0, &lo, &hi));
    for (unsigned long v : {lo, hi}) {
        ASSERT_EQ(kOk, VYXZEB_SetMultiFrame(0, v));
        ASSERT_EQ(kOk, VYXZEB_GetMultiFrame(0, &ul));
        EXPECT_EQ(v, ul) << "multi-frame";
    }
    EXPECT_EQ(kBad, VYXZEB_SetMultiFrame(0, 0));
    EXPECT_EQ(kBad, VYXZEB_SetMultiFrame(0, hi + 1));
    ASSERT_EQ(kOk, VYXZEB_SetMultiFrame(0, 1));
    int x = 0, y = 0;
    unsigned int w = 0, h = 0;
    ASSERT_EQ(kOk, VYXZEB_SetPosition(0, -8, 12, 640, 360));
    ASSERT_EQ(kOk, VYXZEB_GetPosition(0, &x, &y, &w, &h));
    EXPECT_EQ(-8, x);
    EXPECT_EQ(12, y);
    EXPECT_EQ(640u, w);
    EXPECT_EQ(360u, h);
}

// Address modes: 0..4 are the sensor's; any other value changes nothing and
// is not refused.
TEST_F(Contract, AddressModeOutsideTheSensorsModesChangesNothing) {
    VYX_ADDRESSMODE before{}, after{};
    ASSERT_EQ(kOk, VYXZEB_GetAddressMode(0, &before));
    EXPECT_EQ(kOk, VYXZEB_SetAddressMode(0, static_cast<VYX_ADDRESSMODE>(7)));
    ASSERT_EQ(kOk, VYXZEB_GetAddressMode(0, &after));
    EXPECT_EQ(before, after);
}

// GPIO: GpioGetNum counts the eight pins, but the driver has lines 0..9:
// lines 3..9 can be set and 0..9 read; anything else is refused with -1010.
TEST_F(Contract, GpioLinesEightAndNineBeyondThePinCount) {
    unsigned short num = 0;
    ASSERT_EQ(kOk, VYXZEB_GpioGetNum(&num));
    EXPECT_EQ(8, num);
    bool level = false;
    for (unsigned int line : {3u, 7u, 8u, 9u}) {
        EXPECT_EQ(kOk, VYXZEB_GpioSet(line, false)) << line;
        EXPECT_EQ(kOk, VYXZEB_GpioGet(line, &level)) << line;
    }
    for (unsigned int line : {0u, 2u, 10u, 0xFFFFFFFFu}) EXPECT_EQ(VYXZEB_RET_GPIO_FAILED, VYXZEB_GpioSet(line, true)) << line;
    EXPECT_EQ(VYXZEB_RET_GPIO_FAILED, VYXZEB_GpioGet(10, &level));
}

// A block from VYXZEB_Malloc goes back once; the second free of the same
// address is refused and changes nothing.
TEST_F(Contract, ABlockIsFreedOnce) {
    unsigned char* block = nullptr;
    ASSERT_EQ(kOk, VYXZEB_Malloc(4096, &block));
    unsigned char* copy = block;
    EXPECT_EQ(kOk, VYXZEB_Free(&block));
    EXPECT_EQ(nullptr, block);
    EXPECT_EQ(VYXZEB_RET_FAILED, VYXZEB_Free(&copy));
    EXPECT_EQ(VYXZEB_RET_NULL_BUFFER, VYXZEB_Free(&block));
}

}  // namespace
