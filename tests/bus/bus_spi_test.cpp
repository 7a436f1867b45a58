// SPI buses on the virtual board: which node they open, the descriptor rules
// and the fixed clock.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "BusSPI0.h"
#include "BusSPI1.h"
#include "VyxBoard.h"

namespace {

class BusSpiTest : public ::testing::Test {
protected:
    void SetUp() override { vb::resetFaults(); }
    void TearDown() override { vb::resetFaults(); }
};

TEST_F(BusSpiTest, OpensItsOwnNodeAndReportsTheFixedClock)
{
    const int nOpenBefore = vb::openNodeDescriptors();
    {
        bool bOk0 = false, bOk1 = false;
        CBusSPI0 bus0(&bOk0, 100, 8, 1);
        CBusSPI1 bus1(&bOk1, 12345678, 8, 1);
        ASSERT_TRUE(bOk0);
        ASSERT_TRUE(bOk1);

        int nFd0 = -7, nFd1 = -7;
        EXPECT_EQ(0, bus0.GetFd(nFd0));
        EXPECT_EQ(0, bus1.GetFd(nFd1));
        EXPECT_EQ(vb::Node::Spi0, vb::nodeOfDescriptor(nFd0));
        EXPECT_EQ(vb::Node::Spi1, vb::nodeOfDescriptor(nFd1));
        EXPECT_EQ(O_RDWR, fcntl(nFd0, F_GETFL) & O_ACCMODE);

        // Whatever was asked for, both buses run at 500 kHz.
        CIBus* pBus = &bus0;
        int nSpeed = 0;
        EXPECT_EQ(0, pBus->GetSpeed(nSpeed));
        EXPECT_EQ(500000, nSpeed);
        nSpeed = 0;
        EXPECT_EQ(0, bus1.GetSpeed(nSpeed));
        EXPECT_EQ(500000, nSpeed);

        EXPECT_EQ(nOpenBefore + 2, vb::openNodeDescriptors());
    }
    EXPECT_EQ(nOpenBefore, vb::openNodeDescriptors());
}

TEST_F(BusSpiTest, FailedOpenLeavesAnUnusableBusThatStillReportsItsClock)
{
    vb::setNodeMissing(vb::Node::Spi0, true);
    vb::Fault fault;
    fault.error = EACCES;
    vb::setFault(vb::Node::Spi1, vb::Op::Open, fault);

    const int nOpenBefore = vb::openNodeDescriptors();
    bool bOk0 = true, bOk1 = true;
    CIBus* pBus0 = new CBusSPI0(&bOk0, 100, 8, 1);
    CIBus* pBus1 = new CBusSPI1(&bOk1, 100, 8, 1);
    EXPECT_FALSE(bOk0);
    EXPECT_FALSE(bOk1);

    for (CIBus* pBus : {pBus0, pBus1}) {
        int nFd = 42;
        EXPECT_EQ(VYXZEB_RET_FAILED, pBus->GetFd(nFd));
        EXPECT_EQ(-1, nFd);
        int nSpeed = 0;
        EXPECT_EQ(0, pBus->GetSpeed(nSpeed));
        EXPECT_EQ(500000, nSpeed);
    }
    delete pBus0;
    delete pBus1;
    EXPECT_EQ(nOpenBefore, vb::openNodeDescriptors());
}

// Descriptor 0 is a valid descriptor for the kernel and the bus opens and
// closes it as such, but GetFd refuses to hand it out.
TEST_F(BusSpiTest, DescriptorZeroIsOpenButNotHandedOut)
{
    const int nSavedStdin = dup(0);
    ASSERT_GE(nSavedStdin, 0);
    ASSERT_EQ(0, close(0));

    // Observe everything first, then give stdin back before asserting.
    const int nOpenBefore = vb::openNodeDescriptors(vb::Node::Spi0);
    bool bOk = false, bGotZero = false;
    int nResult = 0, nFd = 42, nOpenWhileAlive = 0;
    {
        CBusSPI0 bus(&bOk, 100, 8, 1);
        bGotZero = vb::nodeOfDescriptor(0) == vb::Node::Spi0;
        nResult = bus.GetFd(nFd);
        nOpenWhileAlive = vb::openNodeDescriptors(vb::Node::Spi0);
    }
    const int nOpenAfter = vb::openNodeDescriptors(vb::Node::Spi0);
    const bool bZeroClosed = fcntl(0, F_GETFD) == -1;
    dup2(nSavedStdin, 0);
    close(nSavedStdin);

    ASSERT_TRUE(bGotZero) << "the bus should have received the lowest free descriptor";
    EXPECT_TRUE(bOk);
    EXPECT_EQ(VYXZEB_RET_FAILED, nResult);
    EXPECT_EQ(-1, nFd);
    EXPECT_EQ(nOpenBefore + 1, nOpenWhileAlive);
    EXPECT_EQ(nOpenBefore, nOpenAfter);
    EXPECT_TRUE(bZeroClosed);
}

}  // namespace
