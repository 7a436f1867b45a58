// Failures in the middle of the API's work, through the exported functions
// on one shared device: a getter handed some of its outputs but not all, an
// interrupt record the capture node fails to hand over, and a sensor that
// stops answering half-way through an address-mode change.
#include <gtest/gtest.h>

#include <cerrno>

#include "BoardTest.h"
#include "PLRegs.h"
#include "Q210BRegs.h"
#include "SharedDevice.h"
#include "VYXZebApi.h"
#include "VyxBoard.h"
#include "VyxModel.h"

namespace {

// This suite's PL reports a version word without a kind in its top byte;
// the device reads the word when it comes up, so it is set before that.
constexpr uint32_t kVersionWithoutKind = 0x00201807u;
class VersionWithoutKind : public ::testing::Environment {
public:
    void SetUp() override { vb::setFpgaReg(vyxpl::fpga::kVersion, kVersionWithoutKind); }
};
::testing::Environment* const g_version = ::testing::AddGlobalTestEnvironment(new VersionWithoutKind);
::testing::Environment* const g_device = ::testing::AddGlobalTestEnvironment(new vyxtest::SharedDevice);

constexpr unsigned long kTimeOutMs = 5000;  // generous: the model delivers in milliseconds
constexpr int kSentinel = -77;

vb::Fault FailOnce(unsigned fromCall, int error = EIO) {
    vb::Fault f;
    f.error = error;
    f.fromCall = fromCall;
    f.times = 1;
    return f;
}

class ApiErrors : public vyxtest::BoardTest {};

// A getter that checks its outputs refuses when any one of them is missing,
// and then writes none of the others: a caller must never find half an
// answer behind an error.
TEST_F(ApiErrors, AnyOneMissingOutputRefusesTheWholeAnswer) {
    for (int missing = 0; missing < 4; ++missing) {
        int v[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
        int* p[4] = {&v[0], &v[1], &v[2], &v[3]};
        p[missing] = nullptr;
        EXPECT_EQ(VYXZEB_RET_BAD_PARAMETER, VYXZEB_GetLibVersion(p[0], p[1], p[2], p[3])) << missing;
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(kSentinel, v[k]) << "output " << k << " with " << missing << " missing";
    }
    for (int missing = 0; missing < 2; ++missing) {
        int v[2] = {kSentinel, kSentinel};
        int* p[2] = {&v[0], &v[1]};
        p[missing] = nullptr;
        EXPECT_EQ(VYXZEB_RET_BAD_PARAMETER, VYXZEB_GetDeviceInformation(0, p[0], p[1])) << missing;
        EXPECT_EQ(kSentinel, v[0]);
        EXPECT_EQ(kSentinel, v[1]);

        unsigned long ul[2] = {7, 7};
        unsigned long* pul[2] = {&ul[0], &ul[1]};
        pul[missing] = nullptr;
        EXPECT_EQ(VYXZEB_RET_BAD_PARAMETER, VYXZEB_GetMultiFrameRange(0, pul[0], pul[1])) << missing;
        EXPECT_EQ(7u, ul[0]);
        EXPECT_EQ(7u, ul[1]);

        unsigned short us[2] = {7, 7};
        unsigned short* pus[2] = {&us[0], &us[1]};
        pus[missing] = nullptr;
        EXPECT_EQ(VYXZEB_RET_BAD_PARAMETER, VYXZEB_GetTriggerFilterRange(0, pus[0], pus[1])) << missing;
        EXPECT_EQ(7u, us[0]);
        EXPECT_EQ(7u, us[1]);
    }
}

// The capture node fails one read (the driver lost that interrupt): the
// frame it announced is never reported, and the software captures waiting
// for it time out.  The interrupt thread carries on: once a trigger-mode
// change has emptied the buffers (and forgotten the frame still owed to the
// capture that gave up), the next frame is announced again.
TEST_F(ApiErrors, AFailedReadOfTheInterruptNodeLosesOnlyThatFrame) {
    ASSERT_EQ(0, VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE));
    unsigned char* pFrame = nullptr;
    {
        vyxtest::ScopedFault fault(vb::Node::Capture, vb::Op::Read, FailOnce(1));
        // The announcement is gone for good: this wait can only end by its
        // time-out, so a short one keeps the test quick.
        ASSERT_EQ(0, VYXZEB_CaptureSetTimeOut(0, 200));
        EXPECT_EQ(VYXZEB_RET_CAPTURE_TIMEOUT, VYXZEB_CaptureData(0, &pFrame));
        EXPECT_EQ(nullptr, pFrame);
        EXPECT_EQ(1u, vb::callCount(vb::Node::Capture, vb::Op::Read)) << "the lost record was read once";
    }
    // The next capture first waits for the frame still owed to the one that
    // gave up (it may yet come, and must not pass for this capture's own),
    // and fires no trigger of its own before its deadline.
    EXPECT_EQ(VYXZEB_RET_CAPTURE_TIMEOUT, VYXZEB_CaptureData(0, &pFrame));
    EXPECT_EQ(nullptr, pFrame);
    EXPECT_EQ(1u, vb::callCount(vb::Node::Capture, vb::Op::Read)) << "no frame was triggered";
    ASSERT_EQ(0, VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE));
    ASSERT_EQ(0, VYXZEB_CaptureSetTimeOut(0, kTimeOutMs));
    ASSERT_EQ(0, VYXZEB_CaptureData(0, &pFrame)) << "the interrupt thread stopped after a failed read";
    uint32_t counter = 0;
    EXPECT_TRUE(vb::modelFrameCounter(pFrame, &counter));
    EXPECT_EQ(0, VYXZEB_ReleaseBuffer(0));
    EXPECT_LE(2u, vb::callCount(vb::Node::Capture, vb::Op::Read));
}

// A version word whose top byte is 0 names no kind: the kind reads 0 (not
// the byte less one, which would wrap to -1), the version the whole word.
TEST_F(ApiErrors, APlVersionWithoutAKindReportsKindZero) {
    int kind = kSentinel, version = kSentinel;
    ASSERT_EQ(0, VYXZEB_GetDeviceInformation(0, &kind, &version));
    EXPECT_EQ(0, kind);
    EXPECT_EQ(static_cast<int>(kVersionWithoutKind), version);
}

// The functions that convert before or after the camera set answers refuse
// an index without a set like every other, and write nothing.
TEST_F(ApiErrors, ConvertingFunctionsRefuseAnIndexWithoutASet) {
    const uint32_t period = vb::fpgaReg(vyxpl::fpga::kFramePeriod);
    for (int index : {1, 3, 4, -1}) {
        SCOPED_TRACE(index);
        unsigned long ul[2] = {7, 7};
        int n[2] = {kSentinel, kSentinel};
        EXPECT_EQ(VYXZEB_RET_SET_UNAVAILABLE, VYXZEB_GetFixFrameRate(index, &ul[0]));
        EXPECT_EQ(VYXZEB_RET_SET_UNAVAILABLE, VYXZEB_SetFixFrameRate(index, 30));
        EXPECT_EQ(VYXZEB_RET_SET_UNAVAILABLE, VYXZEB_GetMultiFrameRange(index, &ul[0], &ul[1]));
        EXPECT_EQ(VYXZEB_RET_SET_UNAVAILABLE, VYXZEB_SetMultiFrame(index, 1));
        EXPECT_EQ(VYXZEB_RET_SET_UNAVAILABLE, VYXZEB_GetDeviceInformation(index, &n[0], &n[1]));
        EXPECT_EQ(7u, ul[0]);
        EXPECT_EQ(7u, ul[1]);
        EXPECT_EQ(kSentinel, n[0]);
        EXPECT_EQ(kSentinel, n[1]);
    }
    EXPECT_EQ(period, vb::fpgaReg(vyxpl::fpga::kFramePeriod));
}

// The rows of an address mode reach the chip, then the bus fails on the
// columns.  The error is returned, and the PL cuts frames of the size the
// chip now delivers (rows divided, columns whole), not of the old size or
// of the size that was asked for.
class AddressModeHalfWay : public ApiErrors {
protected:
    void SetUp() override {
        ApiErrors::SetUp();
        ASSERT_EQ(0, VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_NORMAL));
        ASSERT_EQ(0, VYXZEB_SetCaptureFieldOfView(0, 0, 0, 1280, 1024));
    }
    void TearDown() override {
        vb::resetFaults();
        EXPECT_EQ(0, VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_NORMAL));
        ApiErrors::TearDown();
    }
    static void Size(int* pW, int* pH) {
        int bits = 0;
        ASSERT_EQ(0, VYXZEB_GetCaptureSize(0, pW, pH, &bits));
    }
};

TEST_F(AddressModeHalfWay, ThePlFollowsTheSizeTheChipDelivers) {
    int w0 = 0, h0 = 0, wDiv = 0, hDiv = 0;
    Size(&w0, &h0);
    // The size a complete change gives, for comparison.
    ASSERT_EQ(0, VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_DIV2));
    Size(&wDiv, &hDiv);
    ASSERT_LT(wDiv, w0);
    ASSERT_LT(hDiv, h0);
    ASSERT_EQ(0, VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_NORMAL));

    // The first write of the change is the row code; the second, the column
    // code, fails.
    {
        const unsigned writesBefore = vb::callCount(vb::Node::Spi0, vb::Op::Write);
        vyxtest::ScopedFault fault(vb::Node::Spi0, vb::Op::Write, FailOnce(2));
        EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_DIV2));
        EXPECT_EQ(writesBefore + 2, vb::callCount(vb::Node::Spi0, vb::Op::Write))
            << "nothing is written after the failure";
    }
    const uint16_t code = vb::modelSensorRegister(q210b::kRegAddressMode);
    EXPECT_EQ(0u, (code >> q210b::kColCodeShift) & q210b::kAddrCodeMask) << "columns whole on the chip";
    EXPECT_NE(0u, code & q210b::kAddrCodeMask) << "rows divided on the chip";

    VYX_ADDRESSMODE mode = VYX_ADDRESSMODE_DIV8;
    EXPECT_EQ(0, VYXZEB_GetAddressMode(0, &mode));
    EXPECT_EQ(VYX_ADDRESSMODE_DIV2, mode) << "the row mode in force";
    int w = 0, h = 0;
    Size(&w, &h);
    EXPECT_EQ(w0, w);
    EXPECT_EQ(hDiv, h);
    EXPECT_EQ(static_cast<uint32_t>(w * h), vb::fpgaReg(vyxpl::fpga::kFramePixelsA));
    EXPECT_EQ(static_cast<uint32_t>(w * h), vb::fpgaReg(vyxpl::fpga::kFramePixelsB));

    // The next complete change goes through.
    EXPECT_EQ(0, VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_DIV2));
    Size(&w, &h);
    EXPECT_EQ(wDiv, w);
    EXPECT_EQ(hDiv, h);
    EXPECT_EQ(static_cast<uint32_t>(w * h), vb::fpgaReg(vyxpl::fpga::kFramePixelsA));
}

// The bus fails on the rows, the first write: nothing changed on the chip,
// the error is returned, and the mode and frame size stay as they were.
TEST_F(AddressModeHalfWay, AFailureOnTheRowsChangesNothing) {
    int w0 = 0, h0 = 0;
    Size(&w0, &h0);
    const uint32_t pixels = vb::fpgaReg(vyxpl::fpga::kFramePixelsA);
    {
        vyxtest::ScopedFault fault(vb::Node::Spi0, vb::Op::Write, FailOnce(1));
        EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, VYXZEB_SetAddressMode(0, VYX_ADDRESSMODE_DIV4));
    }
    EXPECT_EQ(0u, vb::modelSensorRegister(q210b::kRegAddressMode));
    VYX_ADDRESSMODE mode = VYX_ADDRESSMODE_DIV8;
    EXPECT_EQ(0, VYXZEB_GetAddressMode(0, &mode));
    EXPECT_EQ(VYX_ADDRESSMODE_NORMAL, mode);
    int w = 0, h = 0;
    Size(&w, &h);
    EXPECT_EQ(w0, w);
    EXPECT_EQ(h0, h);
    EXPECT_EQ(pixels, vb::fpgaReg(vyxpl::fpga::kFramePixelsA));
}

}  // namespace
