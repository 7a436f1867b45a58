// SPI buses and the GPIO device on the virtual board: the nodes they open,
// the descriptor rules, and the GPIO requests as the driver sees them.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "BoardTest.h"
#include "BusSPI0.h"
#include "BusSPI1.h"
#include "VYXGpio.h"
#include "VYXZebApi.h"
#include "VyxBoard.h"

namespace {

using BusTest = vyxtest::BoardTest;

std::vector<vb::IoctlRecord> GpioIoctls()
{
    std::vector<vb::IoctlRecord> out;
    for (const vb::IoctlRecord& r : vb::ioctlLog())
        if (r.node == vb::Node::Gpio)
            out.push_back(r);
    return out;
}

TEST_F(BusTest, SpiBusesOpenTheirOwnNodeAndRunAtAFixedClock)
{
    const int nOpen = vb::openNodeDescriptors();
    {
        bool bOk0 = false, bOk1 = false;
        CBusSPI0 bus0(&bOk0, 100, 8, 1);
        CBusSPI1 bus1(&bOk1, 12345678, 8, 1);
        ASSERT_TRUE(bOk0 && bOk1);
        int nFd0 = -7, nFd1 = -7, nSpeed = 0;
        EXPECT_EQ(0, bus0.GetFd(nFd0));
        EXPECT_EQ(0, bus1.GetFd(nFd1));
        EXPECT_EQ(vb::Node::Spi0, vb::nodeOfDescriptor(nFd0));
        EXPECT_EQ(vb::Node::Spi1, vb::nodeOfDescriptor(nFd1));
        EXPECT_EQ(0, bus1.GetSpeed(nSpeed));
        EXPECT_EQ(500000, nSpeed);
    }
    EXPECT_EQ(nOpen, vb::openNodeDescriptors());

    // Failed open: no descriptor handed out, the clock is still reported.
    vb::setNodeMissing(vb::Node::Spi0, true);
    bool bOk = true;
    CBusSPI0 bus(&bOk, 100, 8, 1);
    EXPECT_FALSE(bOk);
    int nFd = 42, nSpeed = 0;
    EXPECT_EQ(VYXZEB_RET_FAILED, bus.GetFd(nFd));
    EXPECT_EQ(-1, nFd);
    EXPECT_EQ(0, bus.GetSpeed(nSpeed));
    EXPECT_EQ(500000, nSpeed);
}

// Descriptor 0 is opened and closed like any other, but GetFd does not hand
// it out.
TEST_F(BusTest, SpiDescriptorZeroIsClosedButNeverHandedOut)
{
    const int nSavedStdin = dup(0);
    ASSERT_GE(nSavedStdin, 0);
    ASSERT_EQ(0, close(0));
    bool bOk = false, bGotZero = false;
    int nResult = 0, nFd = 42;
    {
        CBusSPI0 bus(&bOk, 100, 8, 1);
        bGotZero = vb::nodeOfDescriptor(0) == vb::Node::Spi0;
        nResult = bus.GetFd(nFd);
    }
    const bool bZeroClosed = fcntl(0, F_GETFD) == -1;
    dup2(nSavedStdin, 0);   // stdin back before any assertion can return
    close(nSavedStdin);

    ASSERT_TRUE(bGotZero);
    EXPECT_TRUE(bOk);
    EXPECT_EQ(VYXZEB_RET_FAILED, nResult);
    EXPECT_EQ(-1, nFd);
    EXPECT_TRUE(bZeroClosed);
}

TEST_F(BusTest, GpioUsesTheDriversRequestPerLine)
{
    bool bOk = false;
    CGPIO gpio(&bOk);
    ASSERT_TRUE(bOk);
    for (int line = 0; line < vb::kGpioLines; ++line)
        vb::setGpioInput(line, line % 2 == 1);
    vb::clearIoctlLog();

    const unsigned long kRead[10] = {0, 1, 3, 0x10000, 0x10001, 0x10002, 0x10003, 0x10004, 0x10005, 0x10006};
    for (unsigned int line = 0; line < 10; ++line) {
        bool bLevel = line % 2 == 0;
        EXPECT_EQ(0, gpio.GPIOGet(line, &bLevel));
        EXPECT_EQ(line % 2 == 1, bLevel) << "line " << line;
    }
    bool bLevel = true;
    EXPECT_EQ(VYXZEB_RET_GPIO_FAILED, gpio.GPIOGet(10, &bLevel));
    for (unsigned int line : {0u, 1u, 2u, 10u})
        EXPECT_EQ(VYXZEB_RET_GPIO_FAILED, gpio.GPIOSet(line, true));
    EXPECT_EQ(0, gpio.GPIOSet(3, true));
    EXPECT_EQ(0, gpio.GPIOSet(9, false));

    const std::vector<vb::IoctlRecord> log = GpioIoctls();
    ASSERT_EQ(12u, log.size());
    for (unsigned int line = 0; line < 10; ++line)
        EXPECT_EQ(kRead[line], log[line].request) << "line " << line;
    EXPECT_EQ(0x20000ul, log[10].request);
    EXPECT_EQ(1, log[10].value);
    EXPECT_EQ(0x20006ul, log[11].request);
    EXPECT_EQ(0, log[11].value);
    ASSERT_EQ(2u, vb::gpioWrites().size());
    EXPECT_EQ(3, vb::gpioWrites()[0].line);

    // A refused request fails and leaves the level output alone.
    const vyxtest::ScopedFault refused(vb::Node::Gpio, vb::Op::Ioctl, vb::Fault{});
    EXPECT_EQ(VYXZEB_RET_GPIO_FAILED, gpio.GPIOGet(4, &bLevel));
    EXPECT_EQ(VYXZEB_RET_GPIO_FAILED, gpio.GPIOSet(4, true));
    EXPECT_TRUE(bLevel);
}

TEST_F(BusTest, GpioWithoutTheDeviceRefusesEverything)
{
    vb::setNodeMissing(vb::Node::Gpio, true);
    bool bOk = true, bLevel = true;
    CGPIO gpio(&bOk);
    EXPECT_FALSE(bOk);
    for (unsigned int line = 0; line < 10; ++line) {
        EXPECT_EQ(VYXZEB_RET_GPIO_FAILED, gpio.GPIOGet(line, &bLevel));
        EXPECT_EQ(VYXZEB_RET_GPIO_FAILED, gpio.GPIOSet(line, false));
    }
    EXPECT_TRUE(bLevel);
    EXPECT_TRUE(GpioIoctls().empty());
}

}  // namespace
