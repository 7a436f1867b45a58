// GPIO device on the virtual board: request numbers and values as the driver
// sees them, line ranges, refused requests and a missing device.
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "VYXGpio.h"
#include "VYXLog.h"
#include "VYXZebApi.h"
#include "VyxBoard.h"

namespace {

class GpioTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vb::resetFaults();
        vb::clearIoctlLog();
        vb::clearGpioWrites();
    }
    void TearDown() override { vb::resetFaults(); }

    static std::vector<vb::IoctlRecord> GpioIoctls()
    {
        std::vector<vb::IoctlRecord> out;
        for (const vb::IoctlRecord& r : vb::ioctlLog())
            if (r.node == vb::Node::Gpio)
                out.push_back(r);
        return out;
    }
};

TEST_F(GpioTest, ReadsEveryLineWithItsRequestAndLevel)
{
    bool bOk = false;
    CGPIO gpio(&bOk);
    ASSERT_TRUE(bOk);

    // Alternate levels so that a wrong line or a wrong polarity shows.
    for (int line = 0; line < vb::kGpioLines; ++line)
        vb::setGpioInput(line, line % 2 == 1);
    vb::clearIoctlLog();

    const unsigned long kExpected[10] = {0, 1, 3, 0x10000, 0x10001, 0x10002,
                                         0x10003, 0x10004, 0x10005, 0x10006};
    for (unsigned int line = 0; line < 10; ++line) {
        bool bLevel = line % 2 == 0;  // the opposite of what the board holds
        EXPECT_EQ(0, gpio.GPIOGet(line, &bLevel)) << "line " << line;
        EXPECT_EQ(line % 2 == 1, bLevel) << "line " << line;
    }
    const std::vector<vb::IoctlRecord> log = GpioIoctls();
    ASSERT_EQ(10u, log.size());
    for (unsigned int line = 0; line < 10; ++line)
        EXPECT_EQ(kExpected[line], log[line].request) << "line " << line;

    // Line 10 and beyond: refused without a request.
    bool bLevel = true;
    EXPECT_EQ(VYXZEB_RET_GPIO_FAILED, gpio.GPIOGet(10, &bLevel));
    EXPECT_EQ(VYXZEB_RET_GPIO_FAILED, gpio.GPIOGet(0xFFFFFFFFu, &bLevel));
    EXPECT_TRUE(bLevel);
    EXPECT_EQ(10u, GpioIoctls().size());
}

TEST_F(GpioTest, DrivesOnlyOutputLinesWithValueOneOrZero)
{
    bool bOk = false;
    CGPIO gpio(&bOk);
    ASSERT_TRUE(bOk);

    for (unsigned int line : {0u, 1u, 2u, 10u, 1000u})
        EXPECT_EQ(VYXZEB_RET_GPIO_FAILED, gpio.GPIOSet(line, true)) << "line " << line;
    EXPECT_TRUE(GpioIoctls().empty());

    EXPECT_EQ(0, gpio.GPIOSet(3, true));
    EXPECT_EQ(0, gpio.GPIOSet(3, false));
    EXPECT_EQ(0, gpio.GPIOSet(9, true));

    const std::vector<vb::IoctlRecord> log = GpioIoctls();
    ASSERT_EQ(3u, log.size());
    EXPECT_EQ(0x20000ul, log[0].request);
    EXPECT_EQ(1, log[0].value);
    EXPECT_EQ(0x20000ul, log[1].request);
    EXPECT_EQ(0, log[1].value);
    EXPECT_EQ(0x20006ul, log[2].request);
    EXPECT_EQ(1, log[2].value);

    // The write requests went out on the read-only descriptor and arrived.
    const std::vector<vb::GpioWrite> writes = vb::gpioWrites();
    ASSERT_EQ(3u, writes.size());
    EXPECT_EQ(3, writes[0].line);
    EXPECT_EQ(1, writes[0].value);
    EXPECT_EQ(0, writes[1].value);
    EXPECT_EQ(9, writes[2].line);
    EXPECT_TRUE(vb::gpioLevel(9));
}

TEST_F(GpioTest, RefusedRequestFailsAndLeavesTheLevelUntouched)
{
    bool bOk = false;
    CGPIO gpio(&bOk);
    ASSERT_TRUE(bOk);
    vb::setFault(vb::Node::Gpio, vb::Op::Ioctl, vb::Fault{});

    bool bLevel = true;
    vb::setGpioInput(4, false);
    EXPECT_EQ(VYXZEB_RET_GPIO_FAILED, gpio.GPIOGet(4, &bLevel));
    EXPECT_TRUE(bLevel);
    EXPECT_EQ(VYXZEB_RET_GPIO_FAILED, gpio.GPIOSet(4, true));
}

TEST_F(GpioTest, WithoutTheDeviceEveryCallFails)
{
    char szFolder[] = "/tmp/vyx-gpio-log-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(szFolder));
    ASSERT_EQ(0, VYXLOG_LogSet(true, szFolder));

    vb::setNodeMissing(vb::Node::Gpio, true);
    const int nOpenBefore = vb::openNodeDescriptors();
    bool bOk = true;
    CGPIO* pGpio = new CGPIO(&bOk);
    EXPECT_FALSE(bOk);

    bool bOn = false;
    char szPath[VYXLOG_PATH_SIZE] = {0};
    VYXLOG_LogGet(&bOn, szPath);
    VYXLOG_LogSet(false, nullptr);
    std::stringstream text;
    text << std::ifstream(szPath).rdbuf();
    EXPECT_NE(std::string::npos, text.str().find(": VYXERR_(CGPIO::GPIOInit open device failed!)\n"))
        << text.str();
    unlink(szPath);
    rmdir(szFolder);

    bool bLevel = true;
    for (unsigned int line = 0; line < 10; ++line) {
        EXPECT_EQ(VYXZEB_RET_GPIO_FAILED, pGpio->GPIOGet(line, &bLevel));
        EXPECT_EQ(VYXZEB_RET_GPIO_FAILED, pGpio->GPIOSet(line, false));
    }
    EXPECT_TRUE(bLevel);
    EXPECT_TRUE(GpioIoctls().empty());
    delete pGpio;
    EXPECT_EQ(nOpenBefore, vb::openNodeDescriptors());
}

}  // namespace
