// The call frame every exported function shares: -1002 before any argument
// check while the library is down, the life cycle, and the calls that work
// in any state.
#include <gtest/gtest.h>

#include "BoardTest.h"
#include "TestSupport.h"
#include "VYXZebApi.h"

namespace {

// Every test runs on a board reset to its power-on state and leaves no
// descriptor or mapping open (BoardTest.h).
using ApiFrame = vyxtest::BoardTest;

TEST_F(ApiFrame, EveryDeviceCallGivesNotInitialisedBeforeAnyArgumentCheck) {
    ASSERT_EQ(VYXZEB_UnInit(), VYXZEB_RET_NOT_INITIALIZED);
    const int kNI = VYXZEB_RET_NOT_INITIALIZED;
    // Null pointers everywhere: the initialisation test comes first.
    EXPECT_EQ(VYXZEB_GetSensorNum(nullptr), kNI);
    EXPECT_EQ(VYXZEB_GetSensorType(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_GetDeviceInformation(0, nullptr, nullptr), kNI);
    EXPECT_EQ(VYXZEB_GetCaptureFieldOfViewRange(0, nullptr, nullptr, nullptr, nullptr), kNI);
    EXPECT_EQ(VYXZEB_SetCaptureFieldOfView(0, 0, 0, 1280, 1024), kNI);
    EXPECT_EQ(VYXZEB_GetCaptureFieldOfView(0, nullptr, nullptr, nullptr, nullptr), kNI);
    EXPECT_EQ(VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_DIV2), kNI);
    EXPECT_EQ(VYXZEB_GetAddressMode(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_GetCaptureSize(0, nullptr, nullptr, nullptr), kNI);
    EXPECT_EQ(VYXZEB_GetGainRange(0, nullptr, nullptr), kNI);
    EXPECT_EQ(VYXZEB_SetGain(0, 1), kNI);
    EXPECT_EQ(VYXZEB_GetGain(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_GetExposureLinesRange(0, nullptr, nullptr), kNI);
    EXPECT_EQ(VYXZEB_SetExposureLines(0, 100), kNI);
    EXPECT_EQ(VYXZEB_GetExposureLines(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_GetExposureTimeRange(0, nullptr, nullptr), kNI);
    EXPECT_EQ(VYXZEB_SetExposureTime(0, 10.0f), kNI);
    EXPECT_EQ(VYXZEB_GetExposureTime(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_SetMirror(0, true), kNI);
    EXPECT_EQ(VYXZEB_GetMirror(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_SetFlip(0, true), kNI);
    EXPECT_EQ(VYXZEB_GetFlip(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_CaptureSetTimeOut(0, 10), kNI);
    EXPECT_EQ(VYXZEB_CaptureData(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_ReleaseBuffer(0), kNI);
    EXPECT_EQ(VYXZEB_EmptyFrameBuffer(0), kNI);
    EXPECT_EQ(VYXZEB_GetTriggerMode(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_CONTINUOUS), kNI);
    EXPECT_EQ(VYXZEB_SetTriggerCallback(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_GetTriggerDelayRange(0, nullptr, nullptr), kNI);
    EXPECT_EQ(VYXZEB_GetTriggerDelay(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_SetTriggerDelay(0, 1), kNI);
    EXPECT_EQ(VYXZEB_GetFixFrameRate(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_SetFixFrameRate(0, 30), kNI);
    EXPECT_EQ(VYXZEB_GetMultiFrameRange(0, nullptr, nullptr), kNI);
    EXPECT_EQ(VYXZEB_GetMultiFrame(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_SetMultiFrame(0, 0), kNI);
    EXPECT_EQ(VYXZEB_GetTriggerFilterRange(0, nullptr, nullptr), kNI);
    EXPECT_EQ(VYXZEB_GetTriggerFilter(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_SetTriggerFilter(0, 1), kNI);
    EXPECT_EQ(VYXZEB_GetFrameBufNum(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_SetFrameBufNum(0, 99), kNI);
    EXPECT_EQ(VYXZEB_RdRegFPGA(0, 0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_WrRegFPGA(0, 0, 0), kNI);
    EXPECT_EQ(VYXZEB_SetVideoWidgetPos(0, 0, 0, 1280, 720), kNI);
    EXPECT_EQ(VYXZEB_SetPosition(0, 0, 0, 1280, 720), kNI);
    EXPECT_EQ(VYXZEB_GetPosition(0, nullptr, nullptr, nullptr, nullptr), kNI);
    EXPECT_EQ(VYXZEB_ShowCaptureData(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_Malloc(1, nullptr), kNI);
    EXPECT_EQ(VYXZEB_Free(nullptr), kNI);
    EXPECT_EQ(VYXZEB_ShowUserLoadData(0, nullptr, 1, 1, 8), kNI);
    EXPECT_EQ(VYXZEB_GpioGetNum(nullptr), kNI);
    EXPECT_EQ(VYXZEB_GpioGetDirection(nullptr), kNI);
    EXPECT_EQ(VYXZEB_GpioSet(3, true), kNI);
    EXPECT_EQ(VYXZEB_GpioGet(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_GpioGetStatus(nullptr), kNI);
    EXPECT_EQ(VYXZEB_GpioSetStatus(0), kNI);
    EXPECT_EQ(VYXZEB_FlashSetEnable(0, true), kNI);
    EXPECT_EQ(VYXZEB_FlashGetEnable(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_FlashSetInvert(0, true), kNI);
    EXPECT_EQ(VYXZEB_FlashGetInvert(0, nullptr), kNI);
    EXPECT_EQ(VYXZEB_HelperSaveToBmp(nullptr, 0, 0, 0, nullptr), kNI);
}

TEST_F(ApiFrame, CallsWithoutDeviceWorkInAnyState) {
    int v[4] = {-1, -1, -1, -1};
    EXPECT_EQ(VYXZEB_GetLibVersion(&v[0], &v[1], &v[2], &v[3]), 0);
    EXPECT_EQ(v[0], 2);
    EXPECT_EQ(v[1], 2);
    EXPECT_EQ(v[2], 0);
    EXPECT_EQ(v[3], 0);
    // A null pointer is refused instead of crashing, and nothing is written.
    int a = -7, b = -7, c = -7;
    EXPECT_EQ(VYXZEB_GetLibVersion(&a, &b, &c, nullptr), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(a, -7);
    EXPECT_EQ(VYXZEB_GetLibVersion(nullptr, nullptr, nullptr, nullptr), VYXZEB_RET_BAD_PARAMETER);

    EXPECT_EQ(VYXZEB_GpioSetDirection(0xF8), VYXZEB_RET_NOT_SUPPORTED);
    bool on = true;
    EXPECT_EQ(VYXZEB_LogGet(&on, nullptr), 0);
    EXPECT_FALSE(on);
    EXPECT_EQ(VYXZEB_LogSet(false, nullptr), 1);   // nothing to close
}

TEST_F(ApiFrame, LifeCycle) {
    ASSERT_EQ(VYXZEB_Init(), 0);
    EXPECT_EQ(VYXZEB_Init(), VYXZEB_RET_ALREADY_INITIALIZED);
    // The first device keeps working after the refused second Init.
    int n = 0;
    EXPECT_EQ(VYXZEB_GetSensorNum(&n), 0);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(VYXZEB_GpioSetDirection(0), VYXZEB_RET_NOT_SUPPORTED);
    EXPECT_EQ(VYXZEB_UnInit(), 0);
    EXPECT_EQ(VYXZEB_UnInit(), VYXZEB_RET_NOT_INITIALIZED);
    EXPECT_EQ(VYXZEB_GetSensorNum(&n), VYXZEB_RET_NOT_INITIALIZED);

    ASSERT_EQ(VYXZEB_Init(), 0);
    VYXZEB_SENSOR_TYPE type = VYXZEB_SENSOR_V880A;
    EXPECT_EQ(VYXZEB_GetSensorType(0, &type), 0);
    EXPECT_EQ(type, VYXZEB_SENSOR_Q210B);
    EXPECT_EQ(VYXZEB_UnInit(), 0);
}

}  // namespace
