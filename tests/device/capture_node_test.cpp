// The capture node is open by the time VYXZEB_Init returns.  The capture
// driver keeps no codes for a node nobody has open, so a frame triggered at
// once after VYXZEB_Init must find the interrupt thread's descriptor there
// already, however late that thread first gets to run.
#include <gtest/gtest.h>

#include "BoardTest.h"
#include "VYXZebApi.h"
#include "VyxBoard.h"

namespace {

// Every test runs on a board reset to its power-on state and leaves no
// descriptor or mapping open (BoardTest.h).
using CaptureNode = vyxtest::BoardTest;

TEST_F(CaptureNode, IsOpenWhenInitReturnsAndClosedAfterUnInit) {
    ASSERT_EQ(vb::openNodeDescriptors(vb::Node::Capture), 0);
    ASSERT_EQ(VYXZEB_Init(), VYXZEB_RET_SUCCESS);
    EXPECT_EQ(vb::openNodeDescriptors(vb::Node::Capture), 1);

    // The first frame right after start-up is announced.
    ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE), VYXZEB_RET_SUCCESS);
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, 5000), VYXZEB_RET_SUCCESS);
    unsigned char* frame = nullptr;
    EXPECT_EQ(VYXZEB_CaptureData(0, &frame), VYXZEB_RET_SUCCESS);
    EXPECT_NE(frame, nullptr);
    VYXZEB_ReleaseBuffer(0);

    ASSERT_EQ(VYXZEB_UnInit(), VYXZEB_RET_SUCCESS);
    EXPECT_EQ(vb::openNodeDescriptors(vb::Node::Capture), 0);
}

TEST_F(CaptureNode, AMissingNodeStillLetsInitSucceed) {
    vb::setNodeMissing(vb::Node::Capture, true);
    EXPECT_EQ(VYXZEB_Init(), VYXZEB_RET_SUCCESS);
    EXPECT_EQ(vb::openNodeDescriptors(vb::Node::Capture), 0);
    EXPECT_EQ(VYXZEB_UnInit(), VYXZEB_RET_SUCCESS);
}

}  // namespace
