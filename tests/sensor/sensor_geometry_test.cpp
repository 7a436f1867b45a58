// Window, address modes, image size, mirror, flip and flash of the Q210B.
#include "sensor_fixture.h"

namespace {

using Writes = std::vector<RegWrite>;

struct Window {
    unsigned long x, y, w, h;
};

TEST_F(SensorTest, FieldOfViewIsLimitedAndAligned)
{
    ProbeQ210B* s = MakeSensor();
    struct Case {
        Window in, out;
    };
    const unsigned long kHuge = ~0ul;
    const Case kCases[] = {
        {{0, 0, 1280, 1024}, {0, 0, 1280, 1024}},
        {{0, 0, 10, 0}, {0, 0, 16, 1}},             // minimum size
        {{0, 0, 1001, 2000}, {0, 0, 1000, 1024}},   // width aligned down, height limited
        {{0, 0, 2000, 5}, {0, 0, 1280, 5}},
        {{1000, 900, 400, 200}, {880, 824, 400, 200}},  // pulled inside the array
        {{5, 0, 640, 1}, {640, 0, 640, 1}},         // 1..7 goes to the right edge
        {{13, 0, 640, 1}, {8, 0, 640, 1}},
        // x + w > 1280 with the unaligned width, then aligned: 1280 - 1001
        // = 279, aligned to 272; width 1000.
        {{600, 0, 1001, 1}, {272, 0, 1000, 1}},
        // Offsets that would wrap an unsigned sum are still pulled inside.
        {{kHuge, kHuge, 64, 32}, {1216, 992, 64, 32}},
        {{kHuge - 8, 0, kHuge, kHuge}, {0, 0, 1280, 1024}},
    };
    for (const Case& c : kCases) {
        ASSERT_EQ(0, s->SetCaptureFieldOfView(c.in.x, c.in.y, c.in.w, c.in.h))
            << c.in.x << "," << c.in.y << "," << c.in.w << "," << c.in.h;
        Window got{9, 9, 9, 9};
        EXPECT_EQ(0, s->GetCaptureFieldOfView(&got.x, &got.y, &got.w, &got.h));
        EXPECT_EQ(c.out.x, got.x) << "x of " << c.in.x << "," << c.in.y << "," << c.in.w << "," << c.in.h;
        EXPECT_EQ(c.out.y, got.y) << "y of " << c.in.x << "," << c.in.y << "," << c.in.w << "," << c.in.h;
        EXPECT_EQ(c.out.w, got.w) << "w of " << c.in.x << "," << c.in.y << "," << c.in.w << "," << c.in.h;
        EXPECT_EQ(c.out.h, got.h) << "h of " << c.in.x << "," << c.in.y << "," << c.in.w << "," << c.in.h;
        EXPECT_EQ(static_cast<int>(c.out.x + 6), ChipReg(20));
        EXPECT_EQ(static_cast<int>(c.out.y + 6), ChipReg(18));
        EXPECT_EQ(static_cast<int>(c.out.w), ChipReg(21));
        EXPECT_EQ(static_cast<int>(c.out.h), ChipReg(19));
        int nW = 0, nH = 0;
        s->GetCaptureSize(&nW, &nH, nullptr);
        EXPECT_EQ(static_cast<int>(c.out.w), nW);
        EXPECT_EQ(static_cast<int>(c.out.h), nH);
    }

    unsigned long a = 0, b = 0, c = 0, d = 0;
    EXPECT_EQ(0, s->GetCaptureFieldOfViewRange(&a, &b, &c, &d));
    EXPECT_EQ(16ul, a);
    EXPECT_EQ(1ul, b);
    EXPECT_EQ(1280ul, c);
    EXPECT_EQ(1024ul, d);
}

TEST_F(SensorTest, FieldOfViewStopsAtTheFirstFailedWrite)
{
    ProbeQ210B* s = MakeSensor();
    vb::Fault fault;
    fault.fromCall = 2;   // the first-row write
    vb::setFault(vb::Node::Spi0, vb::Op::Write, fault);
    vb::clearSpiLog();
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, s->SetCaptureFieldOfView(64, 32, 640, 480));
    vb::resetFaults();
    EXPECT_EQ((Writes{{20, 70}}), Bus0Writes());
    unsigned long x = 0, y = 9, w = 0, h = 0;
    s->GetCaptureFieldOfView(&x, &y, &w, &h);
    EXPECT_EQ(64ul, x);      // the write before the failure stays
    EXPECT_EQ(0ul, y);
    EXPECT_EQ(1280ul, w);
    EXPECT_EQ(1024ul, h);
}

TEST_F(SensorTest, AddressModesDivideTheImage)
{
    ProbeQ210B* s = MakeSensor();
    struct Mode {
        int mode, code, width, height, reported;
    };
    const Mode kModes[] = {
        {VYX_ADDRESSMODE_DIV2, 0x08, 640, 512, 640},
        {VYX_ADDRESSMODE_DIV3, 0x10, 426, 341, 424},
        {VYX_ADDRESSMODE_DIV4, 0x18, 320, 256, 320},
        {VYX_ADDRESSMODE_DIV8, 0x38, 160, 128, 160},
        {VYX_ADDRESSMODE_NORMAL, 0x00, 1280, 1024, 1280},
    };
    for (const Mode& m : kModes) {
        // The API's order: rows first, then columns (which sets both).
        ASSERT_EQ(0, s->SetRowAddressMode(m.mode));
        ASSERT_EQ(0, s->SetColAddressMode(m.mode));
        EXPECT_EQ(m.code << 8 | m.code, ChipReg(26));
        int nRow = -1, nCol = -1;
        s->GetRowAddressMode(&nRow);
        s->GetColAddressMode(&nCol);
        EXPECT_EQ(m.mode, nRow);
        EXPECT_EQ(m.mode, nCol);
        EXPECT_EQ(m.width, s->CaptureWidth()) << "mode " << m.mode;
        EXPECT_EQ(m.height, s->CaptureHeight()) << "mode " << m.mode;
        int nW = 0, nH = 0;
        s->GetCaptureSize(&nW, &nH, nullptr);
        EXPECT_EQ(m.reported, nW) << "mode " << m.mode;
        EXPECT_EQ(m.height, nH) << "mode " << m.mode;
    }

    // The column setter takes the rows along; the row setter leaves the
    // columns alone.
    ASSERT_EQ(0, s->SetColAddressMode(VYX_ADDRESSMODE_DIV3));
    int nRow = -1;
    s->GetRowAddressMode(&nRow);
    EXPECT_EQ(VYX_ADDRESSMODE_DIV3, nRow);
    ASSERT_EQ(0, s->SetRowAddressMode(VYX_ADDRESSMODE_DIV4));
    int nCol = -1;
    s->GetColAddressMode(&nCol);
    EXPECT_EQ(VYX_ADDRESSMODE_DIV3, nCol);
    EXPECT_EQ(0x1018, ChipReg(26));

    // Unknown modes change nothing and send nothing.
    vb::clearSpiLog();
    for (int nBad : {-1, 5, 1000}) {
        EXPECT_EQ(0, s->SetColAddressMode(nBad));
        EXPECT_EQ(0, s->SetRowAddressMode(nBad));
    }
    EXPECT_TRUE(Bus0Frames().empty());

    // A code that is none of the five reads as mode 0.
    ASSERT_EQ(0, s->SensorWrReg(26, 0x2004, nullptr));
    s->GetRowAddressMode(&nRow);
    s->GetColAddressMode(&nCol);
    EXPECT_EQ(0, nRow);
    EXPECT_EQ(0, nCol);
}

TEST_F(SensorTest, ReadoutHalvingAndTrimmingShrinkTheImage)
{
    ProbeQ210B* s = MakeSensor();
    // Halving: 1280 x 1024 -> 640 x 512.
    ASSERT_EQ(0, s->SensorWrReg(10, 0x0001, nullptr));
    EXPECT_EQ(640, s->CaptureWidth());
    EXPECT_EQ(512, s->CaptureHeight());
    // Trimming: 4 columns and rows off.
    ASSERT_EQ(0, s->SensorWrReg(10, 0x0020, nullptr));
    EXPECT_EQ(1276, s->CaptureWidth());
    EXPECT_EQ(1020, s->CaptureHeight());
    int nW = 0;
    s->GetCaptureSize(&nW, nullptr, nullptr);
    EXPECT_EQ(1272, nW);
    // Both, in mode 3 (the halved counts stay even): (((1280*4)/32)*2 - 4) / 2.
    ASSERT_EQ(0, s->SetColAddressMode(VYX_ADDRESSMODE_DIV4));
    ASSERT_EQ(0, s->SensorWrReg(10, 0x0021, nullptr));
    EXPECT_EQ(158, s->CaptureWidth());
    EXPECT_EQ(126, s->CaptureHeight());
    // A window smaller than the trim gives an empty image, never a negative one.
    ASSERT_EQ(0, s->SetColAddressMode(VYX_ADDRESSMODE_DIV8));
    ASSERT_EQ(0, s->SetCaptureFieldOfView(0, 0, 16, 1));
    EXPECT_EQ(0, s->CaptureWidth());
    EXPECT_EQ(0, s->CaptureHeight());
    int nH = -1;
    s->GetCaptureSize(&nW, &nH, nullptr);
    EXPECT_EQ(0, nW);
    EXPECT_EQ(0, nH);
}

TEST_F(SensorTest, MirrorFlipAndFlashTouchOnlyTheirBits)
{
    ProbeQ210B* s = MakeSensor();
    const int nControl = ChipReg(7);
    EXPECT_EQ(0x0E01, nControl);

    EXPECT_EQ(0, s->SetMirror(true));
    EXPECT_EQ(0, s->SetFlip(true));
    EXPECT_EQ(nControl | 0x00C0, ChipReg(7));
    bool bMirror = false, bFlip = false;
    EXPECT_EQ(0, s->GetMirror(&bMirror));
    EXPECT_EQ(0, s->GetFlip(&bFlip));
    EXPECT_TRUE(bMirror);
    EXPECT_TRUE(bFlip);
    EXPECT_EQ(0, s->SetMirror(false));
    EXPECT_EQ(nControl | 0x0040, ChipReg(7));

    EXPECT_EQ(0, s->FlashSetInvert(true));
    EXPECT_EQ(nControl | 0x4040, ChipReg(7));
    bool bInvert = false;
    EXPECT_EQ(0, s->FlashGetInvert(&bInvert));
    EXPECT_TRUE(bInvert);

    // Enable field 10 becomes 01; disabling clears both bits.
    ASSERT_EQ(0, s->SensorWrReg(11, 0x0180, nullptr));
    bool bEnable = false;
    s->FlashGetEnable(&bEnable);
    EXPECT_TRUE(bEnable);
    EXPECT_EQ(0, s->FlashSetEnable(true));
    EXPECT_EQ(0x0140, ChipReg(11));
    EXPECT_EQ(0, s->FlashSetEnable(false));
    EXPECT_EQ(0x0100, ChipReg(11));
    s->FlashGetEnable(&bEnable);
    EXPECT_FALSE(bEnable);

    // Getters read the shadow only and accept null outputs.
    vb::clearSpiLog();
    EXPECT_EQ(0, s->GetMirror(nullptr));
    EXPECT_EQ(0, s->FlashGetEnable(nullptr));
    EXPECT_EQ(0, s->GetCaptureFieldOfView(nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(Bus0Frames().empty());
}

}  // namespace
