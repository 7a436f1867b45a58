// Clocks, exposure, gain, window, address modes, mirror, flip and flash of
// the Q210B.  Clock values are compared exactly: the same registers must give
// the same numbers on every target.
#include <math.h>

#include <limits>

#include "sensor_fixture.h"

namespace {

TEST_F(SensorTest, StartupTimingMatchesTheWorkedExample)
{
    Make();
    ASSERT_EQ(0, (ChipReg(6) | ChipReg(73)) >> 8);   // H = K = 0
    float fPll = 0, fOsc = 0, fA = 0, fPix = 0, fC = 0, fTime = 0, fMin = -1, fMax = 0;
    s->P30_GetClk(&fPll, &fOsc, &fA, &fPix, &fC);
    EXPECT_EQ(456000000.0f, fPll);
    EXPECT_EQ(142686368.0f, fOsc);
    EXPECT_EQ(456000000.0f, fA);
    EXPECT_EQ(228000000.0f, fPix);
    EXPECT_EQ(456000000.0f, fC);
    EXPECT_EQ((1.0f / 228000000.0f) * 1000.0f, s->Period());
    EXPECT_EQ(82u, s->P92_GetMinLineLength());
    EXPECT_EQ(8689, ChipReg(14));
    s->GetExposureTime(&fTime);
    EXPECT_EQ(static_cast<float>(656.0 * s->Period() * 8689.0), fTime);
    EXPECT_NEAR(24.99993, fTime, 0.000005);
    s->GetExposureTimeRange(&fMin, &fMax);
    EXPECT_EQ(0.0f, fMin);
    EXPECT_NEAR(188.554, fMax, 0.0005);
}

TEST_F(SensorTest, ExposureAndGainAreQuantisedAndLimited)
{
    Make();
    const float fLine = s->Calculate_Exposure_Time(1);
    EXPECT_EQ(3ul, s->Calculate_Exposure_Lines(2.6f * fLine));   // halves go up
    EXPECT_EQ(2ul, s->Calculate_Exposure_Lines(2.4f * fLine));
    EXPECT_EQ(0ul, s->Calculate_Exposure_Lines(-5.0f));
    EXPECT_EQ(0ul, s->Calculate_Exposure_Lines(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_EQ(0xFFFFFFFFul, s->Calculate_Exposure_Lines(std::numeric_limits<float>::infinity()));

    float fTime = -1, fInForce = 0;
    EXPECT_EQ(0, s->SetExposureTime(0.0f));
    s->GetExposureTime(&fTime);
    EXPECT_EQ(0.0f, fTime);
    EXPECT_EQ(0, s->SetExposureTime(1e6f));
    EXPECT_EQ(65534, ChipReg(14));
    EXPECT_EQ(0, s->SetExposureLines(100));
    EXPECT_EQ(0, s->SetExposureLines(70000));
    EXPECT_EQ(65534, ChipReg(14));

    // Landing on the lines already set sends nothing; the request is kept,
    // the time in force stays.
    EXPECT_EQ(0, s->SetExposureLines(100));
    s->GetExposureTime(&fInForce);
    vb::clearSpiLog();
    EXPECT_EQ(0, s->SetExposureTime(100.2f * fLine));
    EXPECT_TRUE(vb::spiLog().empty());
    EXPECT_EQ(100.2f * fLine, s->Requested());
    s->GetExposureTime(&fTime);
    EXPECT_EQ(fInForce, fTime);

    unsigned long ulGain = 0;
    EXPECT_EQ(0, s->SetGain(300));
    EXPECT_EQ((Frames{{55, 0xFFFF}, {54, 0xFFFF}}), Bus0());
    s->GetGain(&ulGain);
    EXPECT_EQ(255ul, ulGain);
}

// Register 8 chooses the clocks: bits 11..10 the source of fA, 9..8 that of
// fB (1 = the 96 MHz reference, 2 = the oscillator, 3 = the PLL), bit 12 the
// pixel clock from fA instead of fB, bits 7..4 its divider and 3..0 the
// divider of fC = fB / D5; a divider of 0 divides by 1.  Every source on
// both sides and both dividers at 0, 1 and above, against the start-up PLL
// and oscillator.
TEST_F(SensorTest, ClockSourcesAndDividersOfRegisterEight) {
    Make();
    float fPll = 0, fOsc = 0;
    s->P30_GetClk(&fPll, &fOsc, nullptr, nullptr, nullptr);
    ASSERT_EQ(456000000.0f, fPll);
    ASSERT_EQ(142686368.0f, fOsc);
    const float source[4] = {0.0f, 96000000.0f, fOsc, fPll};
    struct Row {
        unsigned a, b, pixFromA, d4, d5;
    };
    const Row rows[] = {
        {1, 1, 0, 2, 1},   {2, 2, 0, 1, 1}, {3, 1, 1, 0, 0}, {1, 3, 1, 3, 7},
        {2, 3, 0, 15, 15}, {3, 2, 1, 4, 2}, {1, 2, 0, 0, 5}, {2, 1, 1, 6, 0},
    };
    for (const Row& r : rows) {
        const unsigned sel = r.pixFromA << 12 | r.a << 10 | r.b << 8 | r.d4 << 4 | r.d5;
        SCOPED_TRACE(sel);
        ASSERT_EQ(0, s->SensorWrReg(8, sel, nullptr));
        float fA = 0, fPix = 0, fC = 0;
        s->P30_GetClk(nullptr, nullptr, &fA, &fPix, &fC);
        const float fB = source[r.b];
        EXPECT_EQ(source[r.a], fA);
        EXPECT_EQ((r.pixFromA ? source[r.a] : fB) / static_cast<float>(r.d4 ? r.d4 : 1), fPix);
        EXPECT_EQ(fB / static_cast<float>(r.d5 ? r.d5 : 1), fC);
        EXPECT_EQ((1.0f / fPix) * 1000.0f, s->Period()) << "the pixel clock period follows the register";
    }
    EXPECT_EQ(0, s->SensorWrReg(8, 0x0F21, nullptr));
    EXPECT_EQ((1.0f / 228000000.0f) * 1000.0f, s->Period());
}

// A clock source of "none" gives a 0 Hz pixel clock: infinite period, line
// bounds that are not numbers.  Every derived integer must stay defined.
TEST_F(SensorTest, MissingClockSourceKeepsDerivedValuesDefined)
{
    Make();
    EXPECT_EQ(0, s->SensorWrReg(8, 0x0021, nullptr));   // fA = fB = none
    EXPECT_TRUE(isinf(s->Period()));
    EXPECT_EQ(0, ChipReg(4));
    EXPECT_EQ(0, s->SetExposureTime(25.0f));
    EXPECT_EQ(0, s->SensorWrReg(8, 0x0321, nullptr));   // only fA none
    EXPECT_EQ(0x7FF, ChipReg(4));
    EXPECT_EQ(0, s->SetExposureTime(25.0f));
    EXPECT_LE(ChipReg(14), 65534);
    EXPECT_EQ(0, s->SensorWrReg(8, 0x1C21, nullptr));   // divided clock none
    EXPECT_EQ(0x7FFu, s->P92_GetMinLineLength() & 0x7FF);
    EXPECT_EQ(0, s->SensorWrReg(8, 0x0F21, nullptr));
    EXPECT_EQ(82, ChipReg(4));
}

TEST_F(SensorTest, FieldOfViewIsLimitedAndAligned)
{
    Make();
    const unsigned long kHuge = ~0ul;
    const unsigned long kCases[][8] = {
        {0, 0, 10, 0, 0, 0, 16, 1},
        {0, 0, 1001, 2000, 0, 0, 1000, 1024},
        {1000, 900, 400, 200, 880, 824, 400, 200},
        {5, 0, 640, 1, 640, 0, 640, 1},             // 1..7: the right edge, not 0
        {13, 0, 2000, 1, 0, 0, 1280, 1},
        {600, 0, 1001, 1, 272, 0, 1000, 1},         // pulled in before aligning
        {kHuge, kHuge, 64, 32, 1216, 992, 64, 32},  // x + w must not wrap around
    };
    for (const auto& c : kCases) {
        ASSERT_EQ(0, s->SetCaptureFieldOfView(c[0], c[1], c[2], c[3]));
        unsigned long got[4] = {9, 9, 9, 9};
        s->GetCaptureFieldOfView(&got[0], &got[1], &got[2], &got[3]);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(c[4 + i], got[i]) << i << " of " << c[0] << "," << c[1] << "," << c[2] << "," << c[3];
        EXPECT_EQ(static_cast<int>(c[4] + 6), ChipReg(20));
    }
}

// The window goes out as register writes: first column, first row, columns
// (then the line length the new width needs), rows.  A bus failure at any
// of the first three is reported, and no window register after it is sent.
TEST_F(SensorTest, WindowChangeStopsAtTheFirstFailedWrite) {
    Make();
    const Frames all = {{20, 64 + 6}, {18, 32 + 6}, {21, 640}, {19, 480}};
    for (unsigned failing = 1; failing <= 3; ++failing) {
        ASSERT_EQ(0, s->SetCaptureFieldOfView(0, 0, 1280, 1024));
        vb::clearSpiLog();
        vb::Fault fault;
        fault.fromCall = failing;
        fault.times = 1;
        {
            const vyxtest::ScopedFault writeFails(vb::Node::Spi0, vb::Op::Write, fault);
            EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, s->SetCaptureFieldOfView(64, 32, 640, 480))
                << "write " << failing;
        }
        const Frames sent = Bus0();
        ASSERT_GE(sent.size(), failing - 1) << "write " << failing;
        EXPECT_EQ(Frames(all.begin(), all.begin() + (failing - 1)),
                  Frames(sent.begin(), sent.begin() + (failing - 1)))
            << "write " << failing;
        for (size_t later = failing - 1; later < all.size(); ++later)
            for (const auto& f : sent)
                EXPECT_NE(all[later].first, f.first) << "written although write " << failing << " failed";
    }
}

// Every getter of the plug-in takes a null output and writes nothing
// through it: the library forwards what the application passes.
TEST_F(SensorTest, GettersTakeANullOutput) {
    Make();
    CISensor* p = s;
    EXPECT_EQ(0, p->GetType(nullptr));
    EXPECT_EQ(0, s->GetType(static_cast<VYXZEB_SENSOR_TYPE*>(nullptr)));
    EXPECT_EQ(0, p->FlashGetEnable(nullptr));
    EXPECT_EQ(0, p->FlashGetInvert(nullptr));
    EXPECT_EQ(0, p->GetCaptureFieldOfView(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(0, p->GetCaptureSize(nullptr, nullptr, nullptr));
    EXPECT_EQ(0, p->GetColAddressMode(nullptr));
    EXPECT_EQ(0, p->GetRowAddressMode(nullptr));
    EXPECT_NE(0, p->CMD_SensorRdReg32(15, nullptr));
    // The register reads back through a real output all the same.
    unsigned long value = 0;
    EXPECT_EQ(0, p->CMD_SensorRdReg32(15, &value));
    EXPECT_EQ(static_cast<unsigned long>(ChipReg(15)), value);
}

TEST_F(SensorTest, AddressModesAndReadoutDivideTheImage)
{
    Make();
    const int kModes[][4] = {{1, 0x08, 640, 512}, {2, 0x10, 426, 341}, {3, 0x18, 320, 256},
                             {4, 0x38, 160, 128}, {0, 0x00, 1280, 1024}};
    for (const auto& m : kModes) {
        ASSERT_EQ(0, s->SetRowAddressMode(m[0]));
        ASSERT_EQ(0, s->SetColAddressMode(m[0]));
        int nRow = -1, nW = 0, nH = 0;
        s->GetRowAddressMode(&nRow);
        s->GetCaptureSize(&nW, &nH, nullptr);
        EXPECT_EQ(m[1] << 8 | m[1], ChipReg(26));
        EXPECT_EQ(m[0], nRow);
        EXPECT_EQ(m[2] - m[2] % 8, nW) << "mode " << m[0];   // 426 reported as 424
        EXPECT_EQ(m[3], nH) << "mode " << m[0];
    }
    vb::clearSpiLog();
    EXPECT_EQ(0, s->SetColAddressMode(5));
    EXPECT_EQ(0, s->SetRowAddressMode(-1));
    EXPECT_TRUE(vb::spiLog().empty());

    // Halving and trimming in mode 3: (((1280 * 4) / 32) * 2 - 4) / 2.
    ASSERT_EQ(0, s->SetColAddressMode(3));
    ASSERT_EQ(0, s->SensorWrReg(10, 0x0021, nullptr));
    EXPECT_EQ(158, s->Width());
    EXPECT_EQ(126, s->Height());
    // A window smaller than the trim: an empty image, never a negative one.
    ASSERT_EQ(0, s->SetColAddressMode(4));
    ASSERT_EQ(0, s->SetCaptureFieldOfView(0, 0, 16, 1));
    EXPECT_EQ(0, s->Width());
    EXPECT_EQ(0, s->Height());
}

TEST_F(SensorTest, MirrorFlipAndFlashTouchOnlyTheirBits)
{
    Make();
    EXPECT_EQ(0, s->SetMirror(true));
    EXPECT_EQ(0, s->SetFlip(true));
    EXPECT_EQ(0, s->FlashSetInvert(true));
    EXPECT_EQ(0x0E01 | 0x00C0 | 0x4000, ChipReg(7));
    ASSERT_EQ(0, s->SensorWrReg(11, 0x0180, nullptr));   // enable field 10 becomes 01
    EXPECT_EQ(0, s->FlashSetEnable(true));
    EXPECT_EQ(0x0140, ChipReg(11));
}

}  // namespace
