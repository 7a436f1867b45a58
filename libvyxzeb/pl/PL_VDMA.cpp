// PL_VDMA.cpp - the three AXI Video DMA engines: the grey and the colour
// source (memory to stream, feeding the scaler) and the HDMI engine (stream
// to memory into a frame store, and memory to stream out of it).
#include "PL.h"


#include "VYXLog.h"

using namespace vyxpl;

namespace {
// Settling time between control writes of the colour engine.
constexpr unsigned long kRgbSettleUs = 5;

int WriteVdma(int nFd, volatile uint32_t* pBase, unsigned short usOffset, unsigned long ulValue)
{
    if (nFd < 0 || pBase == nullptr)
        return VYXZEB_RET_REGISTER_ACCESS_FAILED;
    // Word registers: the two low offset bits are ignored, and every 16-bit
    // offset lies inside the mapped block.
    pBase[(usOffset & vdma::kOffsetAlignMask) / 4] = static_cast<uint32_t>(ulValue);
    return 0;
}

int ReadVdma(int nFd, volatile uint32_t* pBase, unsigned short usOffset, unsigned long* pulValue)
{
    if (nFd < 0 || pBase == nullptr)
        return VYXZEB_RET_REGISTER_ACCESS_FAILED;
    if (pulValue == nullptr)
        return 0;
    *pulValue = pBase[(usOffset & vdma::kOffsetAlignMask) / 4];
    return 0;
}
} // namespace

// ---------------------------------------------------------------------------
// Grey source
// ---------------------------------------------------------------------------
int CPL::Init_VDMAG8()
{
    static const char kFunc[] = "Init_VDMAG8";
    Uninit_VDMAG8();
    if (!OpenBlock(kFunc, "m_pRegMapBaseVDMAG8", phys::kVdmaG8Base, phys::kVdmaMapLength,
                   m_nFdVDMAG8, m_pRegMapBaseVDMAG8))
        return VYXZEB_RET_FAILED;
    // Reset, then park with genlock, then run circular with genlock.
    CMD_WrReg_VDMAG8(vdma::kMm2sControl, vdma::kCtrlValueReset);
    CMD_WrReg_VDMAG8(vdma::kMm2sControl, vdma::kCtrlValueGenlockStopped);
    CMD_WrReg_VDMAG8(vdma::kMm2sControl, vdma::kCtrlValueRunCircularGenlock);
    return 0;
}

int CPL::Uninit_VDMAG8()
{
    UnmapBlock(m_pRegMapBaseVDMAG8, m_nFdVDMAG8, phys::kVdmaMapLength);
    return 0;
}

int CPL::CMD_WrReg_VDMAG8(unsigned short usOffset, unsigned long ulValue)
{
    return WriteVdma(m_nFdVDMAG8, m_pRegMapBaseVDMAG8, usOffset, ulValue);
}

int CPL::CMD_RdReg_VDMAG8(unsigned short usOffset, unsigned long* pulValue)
{
    return ReadVdma(m_nFdVDMAG8, m_pRegMapBaseVDMAG8, usOffset, pulValue);
}

// ---------------------------------------------------------------------------
// Colour source
// ---------------------------------------------------------------------------
int CPL::Init_VDMARGB888()
{
    static const char kFunc[] = "Init_VDMARGB888";
    Uninit_VDMARGB888();
    if (!OpenBlock(kFunc, "m_pRegMapBaseVDMARGB888", phys::kVdmaRgb888Base, phys::kVdmaMapLength,
                   m_nFdVDMARGB888, m_pRegMapBaseVDMARGB888))
        return VYXZEB_RET_FAILED;
    // The colour engine is given a few microseconds after each change.
    CMD_WrReg_VDMARGB888(vdma::kMm2sControl, vdma::kCtrlValueReset);
    Pause(kRgbSettleUs);
    CMD_WrReg_VDMARGB888(vdma::kMm2sControl, vdma::kCtrlValueGenlockStopped);
    Pause(kRgbSettleUs);
    CMD_WrReg_VDMARGB888(vdma::kMm2sControl, vdma::kCtrlValueRunCircularGenlock);
    Pause(kRgbSettleUs);
    return 0;
}

int CPL::Uninit_VDMARGB888()
{
    UnmapBlock(m_pRegMapBaseVDMARGB888, m_nFdVDMARGB888, phys::kVdmaMapLength);
    return 0;
}

int CPL::CMD_WrReg_VDMARGB888(unsigned short usOffset, unsigned long ulValue)
{
    return WriteVdma(m_nFdVDMARGB888, m_pRegMapBaseVDMARGB888, usOffset, ulValue);
}

int CPL::CMD_RdReg_VDMARGB888(unsigned short usOffset, unsigned long* pulValue)
{
    return ReadVdma(m_nFdVDMARGB888, m_pRegMapBaseVDMARGB888, usOffset, pulValue);
}

// ---------------------------------------------------------------------------
// HDMI frame store engine
// ---------------------------------------------------------------------------
int CPL::Init_VDMAHDMI()
{
    static const char kFunc[] = "Init_VDMAHDMI";
    Uninit_VDMAHDMI();
    if (!OpenBlock(kFunc, "m_pRegMapBaseVDMAHDMI", phys::kVdmaHdmiBase, phys::kVdmaMapLength,
                   m_nFdVDMAHDMI, m_pRegMapBaseVDMAHDMI))
        return VYXZEB_RET_FAILED;
    // Nothing written here: the write channel is reset at every show and the
    // read channel at the first one, so the screen keeps what it showed.
    return 0;
}

int CPL::Uninit_VDMAHDMI()
{
    UnmapBlock(m_pRegMapBaseVDMAHDMI, m_nFdVDMAHDMI, phys::kVdmaMapLength);
    return 0;
}

int CPL::CMD_WrReg_VDMAHDMI(unsigned short usOffset, unsigned long ulValue)
{
    return WriteVdma(m_nFdVDMAHDMI, m_pRegMapBaseVDMAHDMI, usOffset, ulValue);
}

int CPL::CMD_RdReg_VDMAHDMI(unsigned short usOffset, unsigned long* pulValue)
{
    return ReadVdma(m_nFdVDMAHDMI, m_pRegMapBaseVDMAHDMI, usOffset, pulValue);
}
