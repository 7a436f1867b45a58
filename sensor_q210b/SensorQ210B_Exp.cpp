// SensorQ210B_Exp.cpp - clocks, line length and exposure of the Q210B.
//
// The chip's timing is derived from its clock registers with a fixed sequence
// of single- and double-precision steps; the same sequence must give the same
// bits on every target, so each step below is a separate, explicitly typed
// operation.
#include "SensorQ210B.h"

#include <math.h>

#include <limits>

using namespace q210b;

namespace {

// Clock sources of the 2-bit selection fields of register 8.
enum ClockSource { kSourceNone = 0, kSourceRef = 1, kSourceOsc = 2, kSourcePll = 3 };

// Oscillator model: period = 5.3404e-7 / (T + 36) + 3.4e-9 seconds.
const double kOscSlope = 5.3404e-7;
const double kOscOffset = 3.4e-9;
const unsigned int kOscTrimBias = 36;

// Shortest line: 2 * (K + 2) + (H + 1064) * q, and q * 40 + (fPix / fC) * R.
const unsigned int kLineTermKBias = 2;
const unsigned int kLineTermHBias = 1024 + 40;
const float kLineBlankClocks = 40.0f;

const float kMsPerSecond = 1000.0f;

// A computed float truncated toward zero, made defined for every input: NaN
// and negative values give 0, values at or beyond the limit give the limit.
// In-range values truncate exactly as a plain conversion would.  A clock
// source of "none" is what produces the NaN and infinite values.
unsigned long TruncateClamped(double dValue, unsigned long ulLimit)
{
    if (!(dValue > 0.0))
        return 0;
    if (dValue >= static_cast<double>(ulLimit))
        return ulLimit;
    return static_cast<unsigned long>(dValue);
}

const unsigned long kU32Max = 0xFFFFFFFFul;

// Single-precision quotient with the IEEE result for a zero divisor (NaN for
// 0 / 0, a signed infinity otherwise), without dividing by zero: a clock
// source of "none" makes clocks 0 Hz and line times 0 ms.
float Quotient(float fNum, float fDen)
{
    if (fDen != 0.0f)
        return fNum / fDen;
    if (fNum == 0.0f || isnan(fNum))
        return std::numeric_limits<float>::quiet_NaN();
    const bool bNegative = (signbit(fNum) != 0) != (signbit(fDen) != 0);
    return bNegative ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
}

}  // namespace

void CSensorQ210B::P30_GetClk(float* pfPll, float* pfOsc, float* pfA, float* pfPix, float* pfC)
{
    const unsigned short usSel = Reg(kRegClockSelect);
    const unsigned short usPll = Reg(kRegPll);

    // Internal oscillator: the sum in double, then single precision for the
    // division.
    const unsigned int T = Reg(kRegOscTrim) & kOscTrimMask;
    const double dSum = kOscSlope / static_cast<double>(T + kOscTrimBias) + kOscOffset;
    const float fSum = static_cast<float>(dSum);
    const float fOsc = 1.0f / fSum;

    // PLL: (2 (N + 1)) / (2 (M + 1) (P + 1)) times the reference clock.
    const unsigned int N = usPll & kPllNMask;
    const unsigned int M = (usPll >> kPllMShift) & kPllMMask;
    const unsigned int P = (usPll >> kPllPShift) & kPllPMask;
    float a = static_cast<float>(M + 1);
    a = a + a;
    a = a * static_cast<float>(P + 1);
    const float b = static_cast<float>(N + 1) + static_cast<float>(N + 1);
    const float fRatio = b / a;
    const float fPll = fRatio * kRefClockHz;

    auto source = [&](unsigned int unSel) -> float {
        switch (unSel) {
        case kSourceRef: return kRefClockHz;
        case kSourceOsc: return fOsc;
        case kSourcePll: return fPll;
        default: return 0.0f;
        }
    };
    const float fA = source((usSel >> kSourceAShift) & kSourceMask);
    const float fB = source((usSel >> kSourceBShift) & kSourceMask);

    unsigned int D5 = usSel & kDivCMask;
    if (D5 == 0)
        D5 = 1;
    unsigned int D4 = (usSel >> kDivPixShift) & kDivPixMask;
    if (D4 == 0)
        D4 = 1;
    const float fC = fB / static_cast<float>(D5);
    const float fPix = ((usSel & kPixFromA) ? fA : fB) / static_cast<float>(D4);

    if (pfPll != nullptr) *pfPll = fPll;
    if (pfOsc != nullptr) *pfOsc = fOsc;
    if (pfA != nullptr) *pfA = fA;
    if (pfPix != nullptr) *pfPix = fPix;
    if (pfC != nullptr) *pfC = fC;
}

void CSensorQ210B::UpdatePixClk()
{
    float fPix = 0.0f;
    P30_GetClk(nullptr, nullptr, nullptr, &fPix, nullptr);
    const float fPeriodS = Quotient(1.0f, fPix);   // infinite without a clock
    m_fPixClkPeriod = fPeriodS * kMsPerSecond;
}

unsigned int CSensorQ210B::P92_GetMinLineLength()
{
    const int R = P11_GetRoiWidth();
    float fA = 0.0f, fPix = 0.0f, fC = 0.0f;
    P30_GetClk(nullptr, nullptr, &fA, &fPix, &fC);
    const float q = Quotient(fPix, fA);

    const unsigned short usK = Reg(kRegLineTermK);
    const unsigned int K = (Reg(kRegLineOptions) & kLineTermKSelect) == 0
                               ? (usK >> kTermKHighShift) & kTermKMask
                               : usK & kTermKMask;
    const unsigned int H = (Reg(kRegLineTermH) >> kLineTermHShift) & 0xFF;

    // First bound in double precision, second in single.
    const double dX = static_cast<double>(2 * (K + kLineTermKBias)) +
                      static_cast<double>(H + kLineTermHBias) * static_cast<double>(q);
    const unsigned long X = TruncateClamped(dX, kU32Max);

    const float fY1 = q * kLineBlankClocks;
    const float fRatio = Quotient(fPix, fC);
    const float fY2 = fRatio * static_cast<float>(R);
    const float fY = fY1 + fY2;
    const unsigned long Y = TruncateClamped(fY, kU32Max);

    const unsigned long ulLongest = X > Y ? X : Y;
    return static_cast<unsigned int>(ulLongest / kPixClksPerLineUnit);
}

int CSensorQ210B::SyncLineLength()
{
    const unsigned long ulValue = (Reg(kRegLineLength) & kLineLengthKeepMask) |
                                  (P92_GetMinLineLength() & kLineLengthMask);
    return SensorWrReg(kRegLineLength, ulValue, nullptr);
}

int CSensorQ210B::SyncExposureLine()
{
    return SetExposureLines(Calculate_Exposure_Lines(m_fReqExposureTime));
}

void CSensorQ210B::UpdateExposureTime()
{
    const unsigned int L = Reg(kRegLineLength) & kLineLengthMask;
    const unsigned int E = Reg(kRegExposure);
    const double dTime = static_cast<double>(L * kPixClksPerLineUnit) *
                         static_cast<double>(m_fPixClkPeriod) * static_cast<double>(E);
    m_fExposureTime = static_cast<float>(dTime);
    m_fReqExposureTime = m_fExposureTime;
}

float CSensorQ210B::Calculate_Exposure_Time(unsigned long ulLines)
{
    const unsigned int L = Reg(kRegLineLength) & kLineLengthMask;
    const float fLine = static_cast<float>(L * kPixClksPerLineUnit) * m_fPixClkPeriod;
    return fLine * static_cast<float>(ulLines);
}

unsigned long CSensorQ210B::Calculate_Exposure_Lines(float fTime)
{
    const unsigned int L = Reg(kRegLineLength) & kLineLengthMask;
    const float fLine = static_cast<float>(L * kPixClksPerLineUnit) * m_fPixClkPeriod;
    const float fLines = Quotient(fTime, fLine) + 0.5f;   // halves round up
    // A line of length 0 makes this infinite; that and anything beyond 32
    // bits give the 32-bit maximum on every target, which SetExposureLines
    // then limits to the chip's range.
    return TruncateClamped(fLines, kU32Max);
}

int CSensorQ210B::GetExposureLinesRange(unsigned long* pulMin, unsigned long* pulMax)
{
    if (pulMin != nullptr) *pulMin = 0;
    if (pulMax != nullptr) *pulMax = kMaxExposureLines;
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::SetExposureLines(unsigned long ulLines)
{
    if (ulLines > kMaxExposureLines)
        ulLines = kMaxExposureLines;
    return SensorWrReg(kRegExposure, ulLines, nullptr);
}

int CSensorQ210B::GetExposureLines(unsigned long* pulLines)
{
    if (pulLines != nullptr)
        *pulLines = Reg(kRegExposure);
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::GetExposureTimeRange(float* pfMin, float* pfMax)
{
    unsigned long ulMin = 0, ulMax = 0;
    GetExposureLinesRange(&ulMin, &ulMax);
    if (pfMin != nullptr) *pfMin = Calculate_Exposure_Time(ulMin);
    if (pfMax != nullptr) *pfMax = Calculate_Exposure_Time(ulMax);
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::SetExposureTime(float fTime)
{
    m_fReqExposureTime = fTime;
    return SetExposureLines(Calculate_Exposure_Lines(fTime));
}

int CSensorQ210B::GetExposureTime(float* pfTime)
{
    if (pfTime != nullptr)
        *pfTime = m_fExposureTime;
    return VYXZEB_RET_SUCCESS;
}
