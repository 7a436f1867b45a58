// PL_VSCALER.cpp - the video scaler between the source VDMA and the HDMI
// frame store: block access, the display window computation shared with the
// HDMI programming, and the scaler programming for one source size.
#include "PL.h"

#include <cstdint>
#include <limits>

#include "VYXLog.h"

using namespace vyxpl;

namespace {
constexpr uint64_t kWindowMask = fpga::kShowWinFieldMask; // 14-bit screen coordinates

// Keeps the low bits of a possibly negative 64-bit value (two's complement),
// the way the hardware field would hold it.
uint32_t LowBits(int64_t nValue, uint32_t unMask)
{
    return static_cast<uint32_t>(static_cast<uint64_t>(nValue) & unMask);
}

// Float-to-integer conversions toward zero as the board's ARM core makes
// them (VCVT): out-of-range values saturate at the ends of the target type
// and NaN gives 0.  A plain C++ conversion would be undefined there and
// differ between targets.  The aperture products fall outside any integer
// range for placements far outside the widget, and are negative for a
// placement right of or below it: converted to unsigned those give 0.
// Values in range convert exactly as a cast would.
uint32_t ConvertToUnsigned(float fValue)
{
    if (!(fValue > 0.0f))
        return 0; // negative, zero or NaN
    constexpr float kLimit = 4294967296.0f; // 2^32
    if (fValue >= kLimit)
        return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(fValue);
}

int32_t ConvertToSigned(float fValue)
{
    if (fValue != fValue)
        return 0;
    constexpr float kLimit = 2147483648.0f; // 2^31
    if (fValue >= kLimit)
        return std::numeric_limits<int32_t>::max();
    if (fValue <= -kLimit)
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(fValue);
}
} // namespace

// ---------------------------------------------------------------------------
// Block access
// ---------------------------------------------------------------------------
int CPL::Init_VSCALER()
{
    static const char kFunc[] = "Init_VSCALER";
    Uninit_VSCALER();
    if (!OpenBlock(kFunc, "m_pRegMapBaseVSCALER", phys::kScalerBase, phys::kScalerMapLength,
                   m_nFdVSCALER, m_pRegMapBaseVSCALER))
        return -1;
    // Nothing written: the scaler is programmed by the first show.
    return 0;
}

int CPL::Uninit_VSCALER()
{
    UnmapBlock(m_pRegMapBaseVSCALER, m_nFdVSCALER, phys::kScalerMapLength);
    return 0;
}

int CPL::CMD_WrReg_VSCALER(unsigned short usOffset, unsigned long ulValue)
{
    if (m_pRegMapBaseVSCALER == nullptr)
        return VYXZEB_RET_SCALER_UNMAPPED;
    m_pRegMapBaseVSCALER[(usOffset & scaler::kOffsetAlignMask) / 4] =
        static_cast<uint32_t>(ulValue);
    return 0;
}

int CPL::CMD_RdReg_VSCALER(unsigned short usOffset, unsigned long* pulValue)
{
    if (m_nFdVSCALER < 0 || m_pRegMapBaseVSCALER == nullptr)
        return VYXZEB_RET_REGISTER_ACCESS_FAILED;
    if (pulValue == nullptr)
        return 0;
    *pulValue = m_pRegMapBaseVSCALER[(usOffset & scaler::kOffsetAlignMask) / 4];
    return 0;
}

// ---------------------------------------------------------------------------
// Display window
// ---------------------------------------------------------------------------
// The placement (px, py, pw, ph) is relative to the widget's top-left corner
// (wx, wy) and may stick out on any side; the window is the part of the
// widget it covers.  The right end is exclusive and clamps to the widget's
// right edge; the bottom end clamps one line short of the widget's bottom,
// which is what the PL's line counter expects.  A placement right of the
// widget leaves a one-column window at its right edge, one below it a window
// of height 0 at its last line.
//
// All sums are taken in 64 bits, where none of them can overflow for any
// 32-bit input; results that fit 32-bit arithmetic are the same as there.
namespace {
// One axis of the window: placement start p with last pixel pLast, widget
// start w and extent e; the far end clamps to farEnd.  Both ends keep their
// low 14 bits.
struct AxisSpan {
    uint32_t unStart;
    uint32_t unEnd;
};

AxisSpan ComputeAxisSpan(int64_t p, int64_t pLast, int64_t w, int64_t e, int64_t farEnd)
{
    int64_t start;
    if (p < 0)
        start = w;
    else if (p < e)
        start = w + p;
    else
        start = w + e - 1;
    start = LowBits(start, kWindowMask);

    int64_t end;
    if (pLast < 0)
        end = start; // nothing visible
    else if (pLast < e)
        end = w + pLast + 1;
    else
        end = farEnd;
    return AxisSpan{static_cast<uint32_t>(start), LowBits(end, kWindowMask)};
}
} // namespace

PL_SHOW_WINDOW CPL::ComputeShowWindow(int nPosX, int nPosY, unsigned int unPosWidth,
                                      unsigned int unPosHeight, unsigned int unWidgetX,
                                      unsigned int unWidgetY, unsigned int unWidgetWidth,
                                      unsigned int unWidgetHeight)
{
    const int64_t px = nPosX;
    const int64_t py = nPosY;
    const int64_t wx = unWidgetX;
    const int64_t wy = unWidgetY;
    const int64_t ww = unWidgetWidth;
    const int64_t wh = unWidgetHeight;
    const AxisSpan x = ComputeAxisSpan(px, px + static_cast<int64_t>(unPosWidth) - 1, wx, ww, wx + ww);
    const AxisSpan y = ComputeAxisSpan(py, py + static_cast<int64_t>(unPosHeight) - 1, wy, wh, wy + wh - 1);

    PL_SHOW_WINDOW w;
    w.unX0 = x.unStart;
    w.unX1 = x.unEnd;
    w.unY0 = y.unStart;
    w.unY1 = y.unEnd;
    return w;
}

PL_SHOW_WINDOW CPL::ComputeShowWindow() const
{
    return ComputeShowWindow(m_nPosX, m_nPosY, m_unPosWidth, m_unPosHeight, m_unWidgetX,
                             m_unWidgetY, m_unWidgetWidth, m_unWidgetHeight);
}

// ---------------------------------------------------------------------------
// Scaler programming
// ---------------------------------------------------------------------------
// The scaler takes the whole source, scales it by source / placement (4.20
// fixed point shift factors) and passes on only the apertures, the source
// columns and lines that land inside the window.  The ratios for the
// apertures are single precision and the shift factors 32-bit integer
// arithmetic (the shift wraps for sources of 4096 pixels and more).
int CPL::SynchronizeScaler(int nSrcWidth, int nSrcHeight, int /*nSrcBits*/)
{
    const PL_SHOW_WINDOW w = ComputeShowWindow();
    const uint32_t unOutWidth = (w.unX1 - w.unX0) & scaler::kFieldMask;
    const uint32_t unOutHeight = (w.unY1 - w.unY0) & scaler::kFieldMask;

    const uint32_t unSrcWidth = static_cast<uint32_t>(nSrcWidth);
    const uint32_t unSrcHeight = static_cast<uint32_t>(nSrcHeight);

    float fHRatio = 0.0f;
    float fVRatio = 0.0f;
    uint32_t unHsf = 0;
    uint32_t unVsf = 0;
    if (m_unPosWidth != 0) {
        fHRatio = static_cast<float>(nSrcWidth) / static_cast<float>(m_unPosWidth);
        unHsf = ((unSrcWidth << scaler::kShiftFactorFracBits) / m_unPosWidth) &
                scaler::kShiftFactorMask;
    }
    if (m_unPosHeight != 0) {
        fVRatio = static_cast<float>(nSrcHeight) / static_cast<float>(m_unPosHeight);
        unVsf = ((unSrcHeight << scaler::kShiftFactorFracBits) / m_unPosHeight) &
                scaler::kShiftFactorMask;
    }

    // Offsets of the window's ends inside the placement, in screen pixels.
    const int64_t nFirstColOff = static_cast<int64_t>(w.unX0) - m_unWidgetX - m_nPosX;
    const int64_t nEndColOff = static_cast<int64_t>(w.unX1) - m_unWidgetX - m_nPosX;
    const int64_t nFirstLineOff = static_cast<int64_t>(w.unY0) - m_unWidgetY - m_nPosY;
    const int64_t nEndLineOff = static_cast<int64_t>(w.unY1) - m_unWidgetY - m_nPosY;

    // The last column is inclusive, the end line is not.  Only the last
    // column is converted as a signed value: a window whose end meets the
    // placement's start gives column -1, which the field holds as 0x1FFF.
    // The subtraction is made in 64 bits, which keeps the same low bits as
    // the board's wrapping 32-bit one.
    const uint32_t unFirstCol =
        ConvertToUnsigned(static_cast<float>(nFirstColOff) * fHRatio) & scaler::kFieldMask;
    const uint32_t unLastCol = LowBits(
        static_cast<int64_t>(ConvertToSigned(static_cast<float>(nEndColOff) * fHRatio)) - 1,
        scaler::kFieldMask);
    const uint32_t unFirstLine =
        ConvertToUnsigned(static_cast<float>(nFirstLineOff) * fVRatio) & scaler::kFieldMask;
    const uint32_t unEndLine =
        ConvertToUnsigned(static_cast<float>(nEndLineOff) * fVRatio) & scaler::kFieldMask;

    const uint32_t unSrcSize = (unSrcWidth & scaler::kFieldMask) |
                               ((unSrcHeight & scaler::kFieldMask) << scaler::kHighShift);

    CMD_WrReg_VSCALER(scaler::kControl, scaler::kCtrlValueBeforeUpdate);
    CMD_WrReg_VSCALER(scaler::kHShiftFactor, unHsf);
    CMD_WrReg_VSCALER(scaler::kVShiftFactor, unVsf);
    CMD_WrReg_VSCALER(scaler::kSourceSize, unSrcSize);
    CMD_WrReg_VSCALER(scaler::kHAperture, unFirstCol | (unLastCol << scaler::kHighShift));
    CMD_WrReg_VSCALER(scaler::kVAperture, unFirstLine | (unEndLine << scaler::kHighShift));
    int nRet = CMD_WrReg_VSCALER(scaler::kOutputSize,
                                 unOutWidth | (unOutHeight << scaler::kHighShift));
    CMD_WrReg_VSCALER(scaler::kControl, scaler::kCtrlValueAfterUpdate);
    return nRet;
}
