// The demos' command line, field-of-view centring and bmp_demo's file names.
#include "DemoCommon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

DemoConfig Parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "demo");
    return ParseDemoArgs(static_cast<int>(args.size()), args.data());
}

void ExpectFov(const DemoConfig& c, long x, long y, long w, long h)
{
    EXPECT_EQ(c.lFovX, x);
    EXPECT_EQ(c.lFovY, y);
    EXPECT_EQ(c.lFovW, w);
    EXPECT_EQ(c.lFovH, h);
}

TEST(DemoArgs, DefaultsWithoutArguments)
{
    const DemoConfig c = Parse({});
    EXPECT_EQ(c.lWinX, 340);
    EXPECT_EQ(c.lWinY, 120);
    EXPECT_EQ(c.lWinW, 600);
    EXPECT_EQ(c.lWinH, 480);
    ExpectFov(c, 340, 272, 600, 480);
    EXPECT_EQ(c.lGain, 128);
    EXPECT_EQ(c.lExposureLines, 10);
}

TEST(DemoArgs, PositionsAreTakenInOrderAndTheFirstIsIgnored)
{
    const DemoConfig c = Parse({"999", "8", "16", "640", "360", "800", "600", "200", "33"});
    EXPECT_EQ(c.lWinX, 8);
    EXPECT_EQ(c.lWinY, 16);
    EXPECT_EQ(c.lWinW, 640);
    EXPECT_EQ(c.lWinH, 360);
    ExpectFov(c, 240, 212, 800, 600);
    EXPECT_EQ(c.lGain, 200);
    EXPECT_EQ(c.lExposureLines, 33);

    // Only the window: the field of view keeps its defaults.
    const DemoConfig d = Parse({"0", "4", "8", "320", "240"});
    EXPECT_EQ(d.lWinW, 320);
    ExpectFov(d, 340, 272, 600, 480);
    EXPECT_EQ(d.lGain, 128);

    // Base 10, even with a leading zero; arguments past the ninth are ignored.
    const DemoConfig e = Parse({"0", "010", "0", "600", "480", "600", "480", "128", "12", "77"});
    EXPECT_EQ(e.lWinX, 10);
    EXPECT_EQ(e.lExposureLines, 12);
}

TEST(DemoArgs, SixArgumentsCentreOnlyHorizontally)
{
    const DemoConfig c = Parse({"0", "340", "120", "600", "480", "1001"});
    ExpectFov(c, 139, 272, 1001, 480);    // (1280 - 1001) / 2 = 139
    const DemoConfig d = Parse({"0", "340", "120", "600", "480", "1001", "333"});
    ExpectFov(d, 139, 345, 1001, 333);    // (1024 - 333) / 2 = 345
}

TEST(DemoArgs, FieldLargerThanTheSensorStartsAtZero)
{
    const DemoConfig c = Parse({"0", "0", "0", "600", "480", "1400", "2000"});
    ExpectFov(c, 0, 0, 1400, 2000);
}

TEST(DemoArgs, BmpNamesRunRoundARingOfTwenty)
{
    char name[kBmpNameBytes];
    MakeBmpRingName(1, name);
    EXPECT_STREQ(name, "/picture/data/Failed01.bmp");
    MakeBmpRingName(19, name);
    EXPECT_STREQ(name, "/picture/data/Failed19.bmp");
    MakeBmpRingName(20, name);
    EXPECT_STREQ(name, "/picture/data/Failed00.bmp");
    MakeBmpRingName(21, name);
    EXPECT_STREQ(name, "/picture/data/Failed01.bmp");
    MakeBmpRingName(0x100000004ull, name);   // 2^32 + 4: no wrap at 32 bits
    EXPECT_STREQ(name, "/picture/data/Failed00.bmp");
}

}  // namespace
