// Clocks, line length, exposure and gain of the Q210B.  The clock and
// exposure values are compared bit for bit: the same register values must
// give the same numbers on every target.
#include <math.h>

#include <limits>

#include "sensor_fixture.h"

namespace {

using Writes = std::vector<RegWrite>;

// The start-up clocks: oscillator trim 112, PLL 96 MHz x 152 / 32, pixel
// clock = PLL / 2, full 1280-column window, H = K = 0.
TEST_F(SensorTest, StartupClocksLineAndExposureMatchTheWorkedExample)
{
    ProbeQ210B* s = MakeSensor();
    ASSERT_EQ(0, ChipReg(6) >> 8) << "term H of the chip's reset value";
    ASSERT_EQ(0, ChipReg(73) >> 8) << "term K of the chip's reset value";

    float fPll = 0, fOsc = 0, fA = 0, fPix = 0, fC = 0;
    s->P30_GetClk(&fPll, &fOsc, &fA, &fPix, &fC);
    EXPECT_EQ(456000000.0f, fPll);
    EXPECT_EQ(142686368.0f, fOsc);
    EXPECT_EQ(456000000.0f, fA);
    EXPECT_EQ(228000000.0f, fPix);
    EXPECT_EQ(456000000.0f, fC);
    EXPECT_EQ(1000.0f * (1.0f / 228000000.0f), s->PixClkPeriod());
    s->P30_GetClk(nullptr, nullptr, nullptr, nullptr, nullptr);  // all outputs optional

    EXPECT_EQ(82u, s->P92_GetMinLineLength());
    EXPECT_EQ(82, ChipReg(4) & 0x7FF);

    unsigned long ulLines = 0;
    s->GetExposureLines(&ulLines);
    EXPECT_EQ(8689ul, ulLines);
    EXPECT_EQ(8689, ChipReg(14));
    float fTime = 0;
    s->GetExposureTime(&fTime);
    EXPECT_NEAR(24.99993, fTime, 0.000005);
    EXPECT_NEAR(0.0028772, s->Calculate_Exposure_Time(1), 0.0000001);

    float fMin = -1, fMax = 0;
    EXPECT_EQ(0, s->GetExposureTimeRange(&fMin, &fMax));
    EXPECT_EQ(0.0f, fMin);
    EXPECT_NEAR(188.554, fMax, 0.0005);
    EXPECT_EQ(s->Calculate_Exposure_Time(65534), fMax);
    unsigned long ulMin = 9, ulMax = 0;
    s->GetExposureLinesRange(&ulMin, &ulMax);
    EXPECT_EQ(0ul, ulMin);
    EXPECT_EQ(65534ul, ulMax);
}

TEST_F(SensorTest, ExposureTimeIsQuantisedAndLimited)
{
    ProbeQ210B* s = MakeSensor();
    const float fLine = s->Calculate_Exposure_Time(1);

    // Halves round up.
    EXPECT_EQ(3ul, s->Calculate_Exposure_Lines(2.6f * fLine));
    EXPECT_EQ(2ul, s->Calculate_Exposure_Lines(2.4f * fLine));
    EXPECT_EQ(0ul, s->Calculate_Exposure_Lines(-5.0f));
    EXPECT_EQ(0ul, s->Calculate_Exposure_Lines(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_EQ(0xFFFFFFFFul, s->Calculate_Exposure_Lines(std::numeric_limits<float>::infinity()));
    EXPECT_EQ(0xFFFFFFFFul, s->Calculate_Exposure_Lines(1e30f));

    // 0 ms: 0 lines and 0 ms in force.
    vb::clearSpiLog();
    EXPECT_EQ(0, s->SetExposureTime(0.0f));
    EXPECT_EQ((Writes{{14, 0}}), Bus0Writes());
    float fTime = -1;
    s->GetExposureTime(&fTime);
    EXPECT_EQ(0.0f, fTime);

    // Far too long, or infinite: the longest exposure.
    EXPECT_EQ(0, s->SetExposureTime(1e6f));
    unsigned long ulLines = 0;
    s->GetExposureLines(&ulLines);
    EXPECT_EQ(65534ul, ulLines);
    s->GetExposureTime(&fTime);
    EXPECT_NEAR(s->Calculate_Exposure_Time(65534), fTime, 0.001);
    EXPECT_EQ(0, s->SetExposureTime(std::numeric_limits<float>::infinity()));
    s->GetExposureLines(&ulLines);
    EXPECT_EQ(65534ul, ulLines);

    EXPECT_EQ(0, s->SetExposureLines(70000));
    s->GetExposureLines(&ulLines);
    EXPECT_EQ(65534ul, ulLines);
    EXPECT_EQ(65534, ChipReg(14));

    // A request that lands on the lines already set sends nothing: the
    // request is kept, the time in force stays.
    EXPECT_EQ(0, s->SetExposureLines(100));
    float fInForce = 0;
    s->GetExposureTime(&fInForce);
    vb::clearSpiLog();
    EXPECT_EQ(0, s->SetExposureTime(100.2f * fLine));
    EXPECT_TRUE(Bus0Frames().empty());
    EXPECT_EQ(100.2f * fLine, s->RequestedTime());
    s->GetExposureTime(&fTime);
    EXPECT_EQ(fInForce, fTime);
}

TEST_F(SensorTest, GainIsOneCodeInBothBytesOfBothRegisters)
{
    ProbeQ210B* s = MakeSensor();
    unsigned long ulMin = 9, ulMax = 0;
    EXPECT_EQ(0, s->GetGainRange(&ulMin, &ulMax));
    EXPECT_EQ(0ul, ulMin);
    EXPECT_EQ(255ul, ulMax);

    vb::clearSpiLog();
    EXPECT_EQ(0, s->SetGain(0x12));
    EXPECT_EQ((Writes{{55, 0x1212}, {54, 0x1212}}), Bus0Writes());
    vb::clearSpiLog();
    EXPECT_EQ(0, s->SetGain(300));
    EXPECT_EQ((Writes{{55, 0xFFFF}, {54, 0xFFFF}}), Bus0Writes());
    unsigned long ulGain = 0;
    EXPECT_EQ(0, s->GetGain(&ulGain));
    EXPECT_EQ(255ul, ulGain);

    // The first write failing ends the call before the second.
    vb::setFault(vb::Node::Spi0, vb::Op::Write, vb::Fault{});
    vb::resetCounters();
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, s->SetGain(1));
    EXPECT_EQ(1u, vb::callCount(vb::Node::Spi0, vb::Op::Write));
    s->GetGain(&ulGain);
    EXPECT_EQ(255ul, ulGain);
}

// A clock source of "none" leaves the pixel clock at 0 Hz: the period is
// infinite and the line-length bounds are not numbers.  Every derived
// integer must still come out defined and within its register.
TEST_F(SensorTest, MissingClockSourceKeepsEveryDerivedValueDefined)
{
    ProbeQ210B* s = MakeSensor();

    // Both selected clocks "none".
    EXPECT_EQ(0, s->SensorWrReg(8, 0x0021, nullptr));
    float fPix = -1;
    s->P30_GetClk(nullptr, nullptr, nullptr, &fPix, nullptr);
    EXPECT_EQ(0.0f, fPix);
    EXPECT_TRUE(isinf(s->PixClkPeriod()));
    EXPECT_EQ(0u, s->P92_GetMinLineLength());
    EXPECT_EQ(0, ChipReg(4) & 0x7FF);
    unsigned long ulLines = 1;
    s->GetExposureLines(&ulLines);
    EXPECT_LE(ulLines, 65534ul);
    EXPECT_EQ(0, s->SetExposureTime(25.0f));
    EXPECT_EQ(0, s->SetExposureTime(-1.0f));
    float fMin = 0, fMax = 0;
    EXPECT_EQ(0, s->GetExposureTimeRange(&fMin, &fMax));

    // Pixel clock from the PLL but fA "none": q is infinite, the line is as
    // long as the register allows.
    EXPECT_EQ(0, s->SensorWrReg(8, 0x0321, nullptr));
    EXPECT_EQ(0x7FFu, s->P92_GetMinLineLength() & 0x7FF);
    EXPECT_EQ(0x7FF, ChipReg(4) & 0x7FF);
    EXPECT_EQ(0, s->SetExposureTime(25.0f));
    s->GetExposureLines(&ulLines);
    EXPECT_LE(ulLines, 65534ul);

    // Divided clock "none" while the pixel clock runs: fPix / fC is infinite.
    EXPECT_EQ(0, s->SensorWrReg(8, 0x1C21, nullptr));
    EXPECT_EQ(0x7FF, ChipReg(4) & 0x7FF);

    // And back: the start-up clocks give the start-up line again.
    EXPECT_EQ(0, s->SensorWrReg(8, 0x0F21, nullptr));
    EXPECT_EQ(82, ChipReg(4) & 0x7FF);
}

TEST_F(SensorTest, OscillatorAndClockChangesFollowThroughToTheLine)
{
    ProbeQ210B* s = MakeSensor();
    const float fPeriod = s->PixClkPeriod();

    // The pixel clock from the reference clock (96 MHz / 2): longer period,
    // q = 48 / 96 = 0.5 still, so the line is unchanged but each lasts longer.
    vb::clearSpiLog();
    EXPECT_EQ(0, s->SensorWrReg(8, 0x0521, nullptr));
    EXPECT_EQ(1000.0f * (1.0f / 48000000.0f), s->PixClkPeriod());
    EXPECT_EQ(82u, s->P92_GetMinLineLength());
    EXPECT_EQ((Writes{{8, 0x0521}}), Bus0Writes());

    // Oscillator trim: a new period, but no line sync; the time in force
    // waits for the next change of the exposure lines.
    EXPECT_EQ(0, s->SensorWrReg(8, 0x0F21, nullptr));
    EXPECT_EQ(fPeriod, s->PixClkPeriod());
    EXPECT_EQ(0, s->SensorWrReg(8, 0x0A21, nullptr));   // pixel clock fOsc / 2
    float fBefore = 0;
    s->GetExposureTime(&fBefore);
    vb::clearSpiLog();
    EXPECT_EQ(0, s->SensorWrReg(58, 0x8000, nullptr));  // T = 0
    EXPECT_EQ((Writes{{58, 0x8000}}), Bus0Writes());
    float fOsc = 0;
    s->P30_GetClk(nullptr, &fOsc, nullptr, nullptr, nullptr);
    EXPECT_NEAR(1.0 / (5.3404e-7 / 36 + 3.4e-9), fOsc, 100.0);
    EXPECT_EQ(1000.0f * (1.0f / (fOsc / 2.0f)), s->PixClkPeriod());
    float fAfter = 0;
    s->GetExposureTime(&fAfter);
    EXPECT_EQ(fBefore, fAfter);
}

TEST_F(SensorTest, LineTermsFromRegisters6And73)
{
    ProbeQ210B* s = MakeSensor();
    // A narrow window so that the first bound decides.
    ASSERT_EQ(0, s->SetCaptureFieldOfView(0, 0, 16, 1024));
    // H = 100: X = 4 + 1164 * 0.5 = 586 -> 73.
    EXPECT_EQ(0, s->SensorWrReg(6, 100 << 8, nullptr));
    EXPECT_EQ(73u, s->P92_GetMinLineLength());
    // Register 6 has no follow-up: the line waits for the next sync.
    EXPECT_EQ(67, ChipReg(4) & 0x7FF);

    // K from the high byte of 73 while register 11 bits 4..5 are 0:
    // X = 2 * (200 + 2) + 582 = 986 -> 123; register 73 syncs the line.
    EXPECT_EQ(0, s->SensorWrReg(73, 200 << 8 | 10, nullptr));
    EXPECT_EQ(123, ChipReg(4) & 0x7FF);
    // Otherwise from the low byte: X = 24 + 582 = 606 -> 75.
    EXPECT_EQ(0, s->SensorWrReg(11, 0x0110, nullptr));
    EXPECT_EQ(75, ChipReg(4) & 0x7FF);
}

}  // namespace
