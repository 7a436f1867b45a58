// SensorQ210B_Fov.cpp - the window of the pixel array that is read out, the
// row and column address modes that divide it, and the resulting image size.
#include "SensorQ210B.h"

#include <limits.h>

using namespace q210b;

namespace {

// Address codes of VYX_ADDRESSMODE 0..4 (divisors 1, 2, 3, 4, 8).
const unsigned int kAddressCode[] = {0x00, 0x08, 0x10, 0x18, 0x38};
const int kAddressModeCount = sizeof(kAddressCode) / sizeof(kAddressCode[0]);

// Mode of an address code; a code that is none of the five reads as mode 0.
int ModeOfCode(unsigned int unCode)
{
    for (int i = 0; i < kAddressModeCount; ++i)
        if (kAddressCode[i] == unCode)
            return i;
    return VYX_ADDRESSMODE_NORMAL;
}

bool ValidMode(int nMode)
{
    return nMode >= 0 && nMode < kAddressModeCount;
}

// Output rows or columns of a window of unCount, for address code unCode.
// With halving the count stays even.
int DividedCount(unsigned int unCount, unsigned int unCode, bool bHalve)
{
    const unsigned int d = unCode + kAddrCodeDivisorUnit;
    if (bHalve)
        return static_cast<int>(((unCount * 4) / d) * 2);
    return static_cast<int>((unCount * kAddrCodeDivisorUnit) / d);
}

// Image size from the divided window: trimming takes 4, halving takes half.
// Truncates toward zero; a window too small for the trim gives 0 rather
// than a negative size.
int ImageSize(int nDivided, unsigned short usReadout)
{
    const int nTrim = (usReadout & kReadoutTrim) ? kTrimPixels : 0;
    const double dDivisor = (usReadout & kReadoutHalve) ? 2.0 : 1.0;
    const double dSize = static_cast<double>(nDivided - nTrim) / dDivisor;
    if (!(dSize > 0.0))
        return 0;
    if (dSize >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(dSize);
}

}  // namespace

int CSensorQ210B::P11_GetRoiWidth()
{
    const unsigned int W = Reg(kRegColCount) & kWindowFieldMask;
    const unsigned int U = (Reg(kRegAddressMode) >> kColCodeShift) & kAddrCodeMask;
    return DividedCount(W, U, (Reg(kRegReadout) & kReadoutHalve) != 0);
}

int CSensorQ210B::RowCount() const
{
    const unsigned int h = Reg(kRegRowCount) & kWindowFieldMask;
    const unsigned int d = Reg(kRegAddressMode) & kAddrCodeMask;
    return DividedCount(h, d, (Reg(kRegReadout) & kReadoutHalve) != 0);
}

void CSensorQ210B::UpdateCaptureWidth()
{
    m_nCaptureWidth = ImageSize(P11_GetRoiWidth(), Reg(kRegReadout));
}

void CSensorQ210B::UpdateCaptureHeight()
{
    m_nCaptureHeight = ImageSize(RowCount(), Reg(kRegReadout));
}

int CSensorQ210B::GetCaptureFieldOfViewRange(unsigned long* pulX, unsigned long* pulY,
                                             unsigned long* pulWidth, unsigned long* pulHeight)
{
    // Despite the names: smallest width and height, then largest.
    if (pulX != nullptr) *pulX = kMinWidth;
    if (pulY != nullptr) *pulY = kMinHeight;
    if (pulWidth != nullptr) *pulWidth = kArrayWidth;
    if (pulHeight != nullptr) *pulHeight = kArrayHeight;
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::SetCaptureFieldOfView(unsigned long ulX, unsigned long ulY,
                                        unsigned long ulWidth, unsigned long ulHeight)
{
    // Width: at least 16, at most the array, in steps of 8 (aligned below,
    // after the window has been pulled inside the array).
    bool bAlignWidth = false;
    if (ulWidth < kMinWidth) {
        ulWidth = kMinWidth;
    } else {
        if (ulWidth > kArrayWidth)
            ulWidth = kArrayWidth;
        bAlignWidth = (ulWidth % kWidthStep) != 0;
    }
    if (ulHeight < kMinHeight)
        ulHeight = kMinHeight;
    else if (ulHeight > kArrayHeight)
        ulHeight = kArrayHeight;

    // Keep the window inside the array.  Compared as "x > limit - w" so that
    // a huge x cannot wrap the sum around and slip through.
    if (ulX > kArrayWidth - ulWidth)
        ulX = kArrayWidth - ulWidth;
    if (ulY > kArrayHeight - ulHeight)
        ulY = kArrayHeight - ulHeight;

    if (bAlignWidth)
        ulWidth -= ulWidth % kWidthStep;

    // The first column must be a multiple of 8.  A column of 1 to 7 would
    // round to 0; such a window goes to the right edge instead.
    if (ulX % kColumnStep != 0) {
        ulX -= ulX % kColumnStep;
        if (ulX == 0)
            ulX = kArrayWidth - ulWidth;
    }

    bool bChanged = false;
    int nRet = SensorWrReg(kRegFirstCol, ulX + kWindowOrigin, nullptr);
    if (nRet != VYXZEB_RET_SUCCESS)
        return nRet;
    nRet = SensorWrReg(kRegFirstRow, ulY + kWindowOrigin, nullptr);
    if (nRet != VYXZEB_RET_SUCCESS)
        return nRet;
    nRet = SensorWrReg(kRegColCount, ulWidth, &bChanged);
    if (nRet != VYXZEB_RET_SUCCESS)
        return nRet;
    return SensorWrReg(kRegRowCount, ulHeight, &bChanged);
}

int CSensorQ210B::GetCaptureFieldOfView(unsigned long* pulX, unsigned long* pulY,
                                        unsigned long* pulWidth, unsigned long* pulHeight)
{
    if (pulX != nullptr)
        *pulX = static_cast<unsigned long>(Reg(kRegFirstCol) & kWindowFieldMask) - kWindowOrigin;
    if (pulY != nullptr)
        *pulY = static_cast<unsigned long>(Reg(kRegFirstRow) & kWindowFieldMask) - kWindowOrigin;
    if (pulWidth != nullptr)
        *pulWidth = Reg(kRegColCount) & kWindowFieldMask;
    if (pulHeight != nullptr)
        *pulHeight = Reg(kRegRowCount) & kWindowFieldMask;
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::GetCaptureSize(int* pnWidth, int* pnHeight, int* pnBitCount)
{
    // The PL moves whole 8-pixel groups per row.
    if (pnWidth != nullptr) *pnWidth = m_nCaptureWidth - m_nCaptureWidth % 8;
    if (pnHeight != nullptr) *pnHeight = m_nCaptureHeight;
    if (pnBitCount != nullptr) *pnBitCount = m_nBitCount;
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::GetColAddressMode(int* pnMode)
{
    if (pnMode != nullptr)
        *pnMode = ModeOfCode((Reg(kRegAddressMode) >> kColCodeShift) & kAddrCodeMask);
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::SetColAddressMode(int nMode)
{
    // The column setting takes the row along: both bytes get the code.  An
    // unknown mode writes the register unchanged, which sends nothing.
    unsigned long ulValue = Reg(kRegAddressMode);
    if (ValidMode(nMode)) {
        const unsigned int unCode = kAddressCode[nMode];
        ulValue = (unCode << kColCodeShift) | unCode;
    }
    return SensorWrReg(kRegAddressMode, ulValue, nullptr);
}

int CSensorQ210B::GetRowAddressMode(int* pnMode)
{
    if (pnMode != nullptr)
        *pnMode = ModeOfCode(Reg(kRegAddressMode) & kAddrCodeMask);
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::SetRowAddressMode(int nMode)
{
    unsigned long ulValue = Reg(kRegAddressMode);
    if (ValidMode(nMode))
        ulValue = (ulValue & (kAddrCodeMask << kColCodeShift)) | kAddressCode[nMode];
    return SensorWrReg(kRegAddressMode, ulValue, nullptr);
}
