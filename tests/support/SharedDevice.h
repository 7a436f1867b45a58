// SharedDevice.h - one initialised device for a whole test binary.
//
// VYXZEB_Init takes over a second by design, so a suite whose tests only
// need a running device shares one:
//
//   ::testing::Environment* const g_device =
//       ::testing::AddGlobalTestEnvironment(new vyxtest::SharedDevice);
//
// Once set up, the device's interrupt thread has the capture node open, so
// a frame triggered by the first test is announced.
#ifndef VYX_TEST_SHARED_DEVICE_H
#define VYX_TEST_SHARED_DEVICE_H

#include <gtest/gtest.h>

#include "VYXZebApi.h"
#include "VyxBoard.h"

namespace vyxtest {

class SharedDevice : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_EQ(VYXZEB_Init(), 0);
        EXPECT_EQ(vb::openNodeDescriptors(vb::Node::Capture), 1) << "Init returns with the capture node open";
    }
    void TearDown() override { EXPECT_EQ(VYXZEB_UnInit(), 0); }
};

}  // namespace vyxtest

#endif
