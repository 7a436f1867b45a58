// PL_Show.cpp - the HDMI display pipeline.
//
// A show streams an image from physical memory through a source VDMA (grey
// or colour) into the scaler, which scales it to the placement and cuts out
// the part inside the video widget.  The HDMI VDMA writes that visible part,
// packed 3 bytes per pixel, into one of two frame stores and reads the store
// out to the screen; the FPGA window registers tell the PL where on the
// 1280 x 720 screen the picture lies.  The stores alternate with every show so
// that the screen never reads a store while it is being written.
//
// The scaler and the screen window are reprogrammed only when the source
// size, the placement or the widget changed since the last show.
#include "PL.h"

#include <cstdint>

using namespace vyxpl;

namespace {
// Source pixel formats: 8-bit grey through the grey VDMA, 24-bit B, G, R
// through the colour VDMA.
constexpr unsigned int kGreyBits = 8;
constexpr unsigned int kColourBits = 24;

// Horizontal size in bytes of the visible part in a frame store.
uint32_t ShowHSize(const PL_SHOW_WINDOW& w)
{
    return ((w.unX1 - w.unX0) * phys::kShowStoreBytesPerPixel) & vdma::kHSizeMask;
}

uint32_t ShowVSize(const PL_SHOW_WINDOW& w)
{
    return (w.unY1 - w.unY0) & vdma::kVSizeMask;
}

// Physical addresses are 32-bit on the board; the pointer only carries it.
uint32_t PhysOf(const unsigned char* p)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}
} // namespace

bool CPL::ShowSourceBytes(unsigned int unWidth, unsigned int unHeight, unsigned int unBits,
                          unsigned long long* pullBytes)
{
    unsigned long long ullBytesPerPixel = 0;
    if (unBits == kGreyBits)
        ullBytesPerPixel = 1;
    else if (unBits == kColourBits)
        ullBytesPerPixel = phys::kShowStoreBytesPerPixel;
    else
        return false;
    *pullBytes = static_cast<unsigned long long>(unWidth) * unHeight * ullBytesPerPixel;
    return true;
}

uint32_t CPL::ShowStoreAddress() const
{
    return m_nShowBufIndex != 0 ? phys::kShowStore1 : phys::kShowStore0;
}

// Source channel: select the engine that matches the pixel format and point
// it at the image.  Line length and stride are the source width.
int CPL::ValidateVDMA(unsigned char* pPhys, int nSrcWidth, int nSrcHeight, int nSrcBits)
{
    int (CPL::*pfnWrite)(unsigned short, unsigned long);
    if (nSrcBits == static_cast<int>(kGreyBits)) {
        WrReg_FPGA(fpga::kShowSource, fpga::kShowSourceGrey8);
        pfnWrite = &CPL::CMD_WrReg_VDMAG8;
    } else {
        WrReg_FPGA(fpga::kShowSource, fpga::kShowSourceRgb888);
        pfnWrite = &CPL::CMD_WrReg_VDMARGB888;
    }
    const uint32_t unHSize = static_cast<uint32_t>(nSrcWidth) & vdma::kHSizeMask;
    (this->*pfnWrite)(vdma::kMm2sControl, vdma::kCtrlValueReset);
    (this->*pfnWrite)(vdma::kMm2sControl, vdma::kCtrlValueGenlockStopped);
    (this->*pfnWrite)(vdma::kMm2sStartAddr, PhysOf(pPhys));
    (this->*pfnWrite)(vdma::kMm2sHSize, unHSize);
    (this->*pfnWrite)(vdma::kMm2sStride, unHSize);
    (this->*pfnWrite)(vdma::kMm2sControl, vdma::kCtrlValueRunCircularGenlock);
    // The vertical size starts the transfer: last.
    (this->*pfnWrite)(vdma::kMm2sVSize, static_cast<uint32_t>(nSrcHeight) & vdma::kVSizeMask);
    return 0;
}

// HDMI write channel: reset, aim at the current frame store, run parked.
int CPL::UpdateWriteRegofHDMI(int nSrcWidth, int nSrcHeight, int nSrcBits)
{
    const PL_SHOW_WINDOW w = ComputeShowWindow();
    const uint32_t unHSize = ShowHSize(w);
    CMD_WrReg_VDMAHDMI(vdma::kS2mmControl, vdma::kCtrlValueReset);
    CMD_WrReg_VDMAHDMI(vdma::kS2mmStartAddr, ShowStoreAddress());
    CMD_WrReg_VDMAHDMI(vdma::kS2mmHSize, unHSize);
    CMD_WrReg_VDMAHDMI(vdma::kS2mmStride, unHSize);
    CMD_WrReg_VDMAHDMI(vdma::kS2mmControl, vdma::kCtrlValueRunPark);
    int nRet = CMD_WrReg_VDMAHDMI(vdma::kS2mmVSize, ShowVSize(w));
    m_nLastSrcWidth = nSrcWidth;
    m_nLastSrcHeight = nSrcHeight;
    m_nLastSrcBits = nSrcBits;
    return nRet;
}

// HDMI read channel: reset once per object, at its first show; after that it
// keeps scanning out and is only re-aimed at the current store.  The settings
// are given twice in succession.
int CPL::UpdateReadRegofHDMI(int /*nSrcWidth*/, int /*nSrcHeight*/, int /*nSrcBits*/)
{
    if (!m_bHdmiReadStarted) {
        CMD_WrReg_VDMAHDMI(vdma::kMm2sControl, vdma::kCtrlValueReset);
        m_bHdmiReadStarted = true;
    }
    const PL_SHOW_WINDOW w = ComputeShowWindow();
    const uint32_t unHSize = ShowHSize(w);
    const uint32_t unVSize = ShowVSize(w);
    int nRet = 0;
    for (int i = 0; i < 2; ++i) {
        CMD_WrReg_VDMAHDMI(vdma::kMm2sStartAddr, ShowStoreAddress());
        CMD_WrReg_VDMAHDMI(vdma::kMm2sHSize, unHSize);
        CMD_WrReg_VDMAHDMI(vdma::kMm2sStride, unHSize);
        CMD_WrReg_VDMAHDMI(vdma::kMm2sControl, vdma::kCtrlValueRunPark);
        nRet = CMD_WrReg_VDMAHDMI(vdma::kMm2sVSize, unVSize);
    }
    return nRet;
}

// Screen window: first column and line, end column (exclusive) and last line
// (inclusive).  Written directly: it follows the show, not a camera set.
int CPL::SynchronizeShowRegofFPGA(int /*nSrcWidth*/, int /*nSrcHeight*/, int /*nSrcBits*/)
{
    const PL_SHOW_WINDOW w = ComputeShowWindow();
    const uint32_t unStart = ((w.unX0 << fpga::kShowWinColShift) & fpga::kShowWinColMask) |
                             ((w.unY0 << fpga::kShowWinLineShift) & fpga::kShowWinLineMask);
    const uint32_t unLastLine = (w.unY1 - 1u) & fpga::kShowWinFieldMask;
    const uint32_t unEnd = ((w.unX1 << fpga::kShowWinColShift) & fpga::kShowWinColMask) |
                           ((unLastLine << fpga::kShowWinLineShift) & fpga::kShowWinLineMask);
    CMD_WrReg_FPGA(fpga::kShowWinStart, unStart);
    return CMD_WrReg_FPGA(fpga::kShowWinEnd, unEnd);
}

// Common part of both shows, for a source of the given size.
int CPL::ShowSource(unsigned char* pPhys, int nSrcWidth, int nSrcHeight, int nSrcBits)
{
    const bool bChanged =
        nSrcWidth != m_nLastSrcWidth || nSrcHeight != m_nLastSrcHeight ||
        nSrcBits != m_nLastSrcBits || m_nPosX != m_nLastPosX || m_nPosY != m_nLastPosY ||
        m_unPosWidth != m_unLastPosWidth || m_unPosHeight != m_unLastPosHeight ||
        m_unWidgetX != m_unLastWidgetX || m_unWidgetY != m_unLastWidgetY ||
        m_unWidgetWidth != m_unLastWidgetWidth || m_unWidgetHeight != m_unLastWidgetHeight;
    if (bChanged) {
        SynchronizeScaler(nSrcWidth, nSrcHeight, nSrcBits);
        UpdateWriteRegofHDMI(nSrcWidth, nSrcHeight, nSrcBits);
        UpdateReadRegofHDMI(nSrcWidth, nSrcHeight, nSrcBits);
        SynchronizeShowRegofFPGA(nSrcWidth, nSrcHeight, nSrcBits);
        m_nLastPosX = m_nPosX;
        m_nLastPosY = m_nPosY;
        m_unLastPosWidth = m_unPosWidth;
        m_unLastPosHeight = m_unPosHeight;
        m_unLastWidgetX = m_unWidgetX;
        m_unLastWidgetY = m_unWidgetY;
        m_unLastWidgetWidth = m_unWidgetWidth;
        m_unLastWidgetHeight = m_unWidgetHeight;
        m_nLastSrcWidth = nSrcWidth;
        m_nLastSrcHeight = nSrcHeight;
        m_nLastSrcBits = nSrcBits;
    }

    ValidateVDMA(pPhys, nSrcWidth, nSrcHeight, nSrcBits);
    UpdateWriteRegofHDMI(nSrcWidth, nSrcHeight, nSrcBits);
    // The strobe lets the PL take the new write channel before the read
    // channel is pointed at the same store.
    CMD_WrReg_FPGA(fpga::kShowStrobe, fpga::kPulseOn);
    UpdateReadRegofHDMI(nSrcWidth, nSrcHeight, nSrcBits);

    m_nShowBufIndex = (m_nShowBufIndex == 0) ? 1 : 0;
    return 0;
}

int CPL::ShowCaptureData(unsigned char* pPhys)
{
    if (pPhys == nullptr)
        return VYXZEB_RET_FAILED;
    if (m_pSensor == nullptr)
        return VYXZEB_RET_SENSOR_FAILED;

    unsigned long ulCount = 0;
    GetMultiFrame(&ulCount);
    int nWidth = 0;
    int nHeight = 0;
    int nBits = 0;
    m_pSensor->GetCaptureSize(&nWidth, &nHeight, &nBits);
    // A buffer holding several frames is shown as one tall image.  Unsigned
    // product: a nonsensical count must not overflow a signed int.
    const int nTotalHeight = static_cast<int>(static_cast<uint32_t>(nHeight) *
                                              static_cast<uint32_t>(ulCount));
    return ShowSource(pPhys, nWidth, nTotalHeight, nBits);
}

int CPL::ShowUserLoadData(unsigned char* pPhys, int nSrcWidth, int nSrcHeight, int nSrcBits)
{
    if (pPhys == nullptr)
        return VYXZEB_RET_FAILED;
    return ShowSource(pPhys, nSrcWidth, nSrcHeight, nSrcBits);
}
