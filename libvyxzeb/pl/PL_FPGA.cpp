// PL_FPGA.cpp - the FPGA control block: mapping, start state, raw and batch
// register access, and the acquisition control that lives in the block
// (trigger mode, frame buffers, frame size).
#include "PL.h"


#include "VYXLog.h"
#include "LogHandle.h"

using namespace vyxpl;

namespace {
// Pause before each edge of the read-frame-buffer clear pulse.
constexpr unsigned long kClearPulseUs = 50000;

// Registers read back into the shadow, in this order.
constexpr unsigned short kReadBackOrder[] = {
    fpga::kVersion,       fpga::kMultiFrameA,   fpga::kMultiFrameB,    fpga::kFramePixelsA,
    fpga::kFramePixelsB,  fpga::kMisc36,        fpga::kFrameBufNumber, fpga::kTrigger,
    fpga::kFramePeriod,   fpga::kControl,       fpga::kFrameBufBase0,  fpga::kFrameBufBase1,
    fpga::kFrameBufBase2, fpga::kFrameBufBase3, fpga::kGeometryA,      fpga::kGeometryB,
    fpga::kTriggerDelay,  fpga::kStatus136,     fpga::kStatus140,
};

// Registers WrReg_FPGA accepts.
bool IsBatchWritable(unsigned short usOffset)
{
    switch (usOffset) {
    case fpga::kMultiFrameA:    case fpga::kFramePixelsA:  case fpga::kFrameBufBase0:
    case fpga::kFrameBufBase1:  case fpga::kFrameBufBase2: case fpga::kFrameBufBase3:
    case fpga::kMultiFrameB:    case fpga::kFramePixelsB:  case fpga::kMisc36:
    case fpga::kFrameBufNumber: case fpga::kGeometryA:     case fpga::kGeometryB:
    case fpga::kShowSource:     case fpga::kControl:       case fpga::kTrigger:
    case fpga::kFramePeriod:    case fpga::kTriggerFilter: case fpga::kTriggerDelay:
    case fpga::kShowWinStart:   case fpga::kShowWinEnd:
        return true;
    default:
        return false;
    }
}
} // namespace

// ---------------------------------------------------------------------------
// Mapping and start state
// ---------------------------------------------------------------------------
int CPL::Init_FPGA()
{
    static const char kFunc[] = "Init_FPGA";
    Uninit_FPGA(); // never leak an earlier mapping

    if (!OpenBlock(kFunc, "m_pRegMapBaseFPGA", phys::kFpgaBase, phys::kFpgaMapLength,
                   m_nFdFPGA, m_pRegMapBaseFPGA))
        return VYXZEB_RET_REGISTER_ACCESS_FAILED;

    for (uint32_t& unEntry : m_BatRegPL.unFPGA)
        unEntry = 0;

    // Control: capture stopped, QtShow on.  Through the shadow: the very first
    // object finds the shadow at 0 and always writes it.
    SetWorkingValue(fpga::kControl, fpga::kControlStart);
    WrReg_FPGA(fpga::kControl, fpga::kControlStart);

    // Empty the read side, then hold the write side cleared.
    Pause(kClearPulseUs);
    CMD_WrReg_FPGA(fpga::kClearReadBuf, fpga::kPulseOn);
    Pause(kClearPulseUs);
    CMD_WrReg_FPGA(fpga::kClearReadBuf, fpga::kPulseOff);
    CMD_WrReg_FPGA(fpga::kClearWriteBuf, fpga::kClearWriteBufStart);

    uint32_t unMisc = WorkingValue(fpga::kMisc36) & ~fpga::kMisc36ClearAtStart;
    SetWorkingValue(fpga::kMisc36, unMisc);
    CMD_WrReg_FPGA(fpga::kMisc36, unMisc);

    SetWorkingValue(fpga::kTriggerDelay, 0);
    CMD_WrReg_FPGA(fpga::kTriggerDelay, 0);

    const unsigned short ausBase[] = {fpga::kFrameBufBase0, fpga::kFrameBufBase1,
                                      fpga::kFrameBufBase2, fpga::kFrameBufBase3};
    for (int i = 0; i < phys::kFrameBufferCount; ++i) {
        uint32_t unPhys = phys::kFrameBufferBase + static_cast<uint32_t>(i) * phys::kFrameBufferSize;
        SetWorkingValue(ausBase[i], unPhys);
        CMD_WrReg_FPGA(ausBase[i], unPhys);
    }

    // Software-trigger mode.
    uint32_t unTrigger = WorkingValue(fpga::kTrigger);
    unTrigger |= fpga::kTriggerEnable;
    unTrigger &= ~(fpga::kTriggerTypeMask | fpga::kTriggerExternal);
    SetWorkingValue(fpga::kTrigger, unTrigger);
    CMD_WrReg_FPGA(fpga::kTrigger, unTrigger);

    // One frame per buffer, in both copies of the count.
    const unsigned short ausCount[] = {fpga::kMultiFrameA, fpga::kMultiFrameB};
    for (unsigned short usOffset : ausCount) {
        uint32_t unCount = (WorkingValue(usOffset) & ~fpga::kMultiFrameMask) |
                           (fpga::kMultiFrameMask & fpga::kMultiFrameStart);
        SetWorkingValue(usOffset, unCount);
        CMD_WrReg_FPGA(usOffset, unCount);
    }

    int nRet = RdReg_FPGA();
    if (nRet != 0) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(----------%s nRet(%d) RdReg_FPGA failed)", kFunc, nRet);
        return nRet;
    }
    for (int i = 0; i < BAT_REG_PL::kFpgaEntries; ++i)
        m_BatRegPL.unFPGA[i] = m_BatRegPLRel.unFPGA[i];

    unsigned long ulVersion = 0;
    nRet = GetVersionFPGA(&ulVersion);
    if (nRet != 0) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(----------%s nRet(%d) GetVersionFPGA failed)", kFunc,
                              nRet);
        return nRet;
    }
    return 0;
}

int CPL::Uninit_FPGA()
{
    UnmapBlock(m_pRegMapBaseFPGA, m_nFdFPGA, phys::kFpgaMapLength);
    return 0;
}

// ---------------------------------------------------------------------------
// Register access
// ---------------------------------------------------------------------------
int CPL::CMD_WrReg_FPGA(unsigned short usOffset, unsigned long ulValue)
{
    if (m_nFdFPGA < 0 || m_pRegMapBaseFPGA == nullptr || (usOffset & 0x3u) != 0 ||
        usOffset > fpga::kLastOffset)
        return VYXZEB_RET_REGISTER_ACCESS_FAILED;
    m_pRegMapBaseFPGA[usOffset / 4] = static_cast<uint32_t>(ulValue);
    return 0;
}

int CPL::CMD_RdReg_FPGA(unsigned short usOffset, unsigned long* pulValue)
{
    if (m_nFdFPGA < 0 || m_pRegMapBaseFPGA == nullptr || (usOffset & 0x3u) != 0 ||
        usOffset > fpga::kLastOffset)
        return VYXZEB_RET_REGISTER_ACCESS_FAILED;
    if (pulValue == nullptr)
        return 0;
    *pulValue = m_pRegMapBaseFPGA[usOffset / 4];
    return 0;
}

int CPL::WrReg_FPGA(unsigned short usOffset, unsigned long ulValue)
{
    if (!IsBatchWritable(usOffset))
        return VYXZEB_RET_REGISTER_ACCESS_FAILED;
    int n = BatIndex(usOffset);
    uint32_t unValue = static_cast<uint32_t>(ulValue);
    if (unValue == m_BatRegPLRel.unFPGA[n]) {
        // The hardware already holds it: no bus write.  The value is still
        // what this camera set wants from now on.
        m_BatRegPL.unFPGA[n] = unValue;
        return 0;
    }
    int nRet = CMD_WrReg_FPGA(usOffset, unValue);
    if (nRet != 0)
        return nRet;
    m_BatRegPLRel.unFPGA[n] = unValue;
    m_BatRegPL.unFPGA[n] = unValue;
    return 0;
}

int CPL::RdReg_FPGA()
{
    for (uint32_t& unEntry : m_BatRegPLRel.unFPGA)
        unEntry = 0;
    for (unsigned short usOffset : kReadBackOrder) {
        unsigned long ulValue = 0;
        int nRet = CMD_RdReg_FPGA(usOffset, &ulValue);
        if (nRet != 0)
            return nRet;
        m_BatRegPLRel.unFPGA[BatIndex(usOffset)] = static_cast<uint32_t>(ulValue);
    }
    return 0;
}

int CPL::GetVersionFPGA(unsigned long* pulVersion)
{
    if (pulVersion != nullptr)
        *pulVersion = WorkingValue(fpga::kVersion);
    return 0;
}

// ---------------------------------------------------------------------------
// Trigger mode
// ---------------------------------------------------------------------------
int CPL::GetTriggerMode(VYXZEB_TRIGGER_MODE* pMode)
{
    if (pMode == nullptr)
        return VYXZEB_RET_BAD_PARAMETER;
    uint32_t unTrigger = WorkingValue(fpga::kTrigger);
    if ((unTrigger & fpga::kTriggerExternal) != 0) {
        static const VYXZEB_TRIGGER_MODE aeByType[] = {
            VYXZEB_TRIGGER_EXTERNAL_TYPE0, VYXZEB_TRIGGER_EXTERNAL_TYPE1,
            VYXZEB_TRIGGER_EXTERNAL_TYPE2, VYXZEB_TRIGGER_EXTERNAL_TYPE3};
        *pMode = aeByType[(unTrigger & fpga::kTriggerTypeMask) >> fpga::kTriggerTypeShift];
    } else {
        *pMode = (unTrigger & fpga::kTriggerEnable) != 0 ? VYXZEB_TRIGGER_SOFTWARE
                                                         : VYXZEB_TRIGGER_CONTINUOUS;
    }
    return 0;
}

bool CPL::IsTriggerMode(VYXZEB_TRIGGER_MODE eMode)
{
    // The enum arrives from an int of the API: check the raw value.
    const int nMode = static_cast<int>(eMode);
    return nMode >= VYXZEB_TRIGGER_CONTINUOUS && nMode <= VYXZEB_TRIGGER_EXTERNAL_TYPE1;
}

int CPL::SetTriggerMode(VYXZEB_TRIGGER_MODE eMode)
{
    if (!IsTriggerMode(eMode))
        return VYXZEB_RET_BAD_PARAMETER;
    const int nMode = static_cast<int>(eMode);

    uint32_t unTrigger = WorkingValue(fpga::kTrigger);
    switch (nMode) {
    case VYXZEB_TRIGGER_CONTINUOUS:
        // Free-running: the external type bits are left for the next
        // external mode.
        unTrigger &= ~(fpga::kTriggerEnable | fpga::kTriggerExternal);
        break;
    case VYXZEB_TRIGGER_SOFTWARE:
        unTrigger |= fpga::kTriggerEnable;
        unTrigger &= ~fpga::kTriggerExternal;
        break;
    default: {
        uint32_t unType = 0;
        switch (nMode) {
        case VYXZEB_TRIGGER_EXTERNAL_TYPE0: unType = 0; break;
        case VYXZEB_TRIGGER_EXTERNAL_TYPE1: unType = 1; break;
        case VYXZEB_TRIGGER_EXTERNAL_TYPE2: unType = 2; break;
        default:                            unType = 3; break;
        }
        unTrigger &= ~fpga::kTriggerTypeMask;
        unTrigger |= fpga::kTriggerEnable | fpga::kTriggerExternal |
                     (unType << fpga::kTriggerTypeShift);
        break;
    }
    }
    SetWorkingValue(fpga::kTrigger, unTrigger);
    return WrReg_FPGA(fpga::kTrigger, unTrigger);
}

int CPL::SoftwareTrigger()
{
    return CMD_WrReg_FPGA(fpga::kSoftTrigger, fpga::kPulseOn);
}

// ---------------------------------------------------------------------------
// Frame buffers
// ---------------------------------------------------------------------------
int CPL::ReleaseFrameBuffer()
{
    return CMD_WrReg_FPGA(fpga::kReleaseBuf, fpga::kPulseOn);
}

int CPL::ClearWriteFrameBuf(unsigned long ulValue)
{
    return CMD_WrReg_FPGA(fpga::kClearWriteBuf, ulValue);
}

int CPL::ClearReadFrameBuf(unsigned long ulValue)
{
    return CMD_WrReg_FPGA(fpga::kClearReadBuf, ulValue);
}

int CPL::GetFrmBufId()
{
    // The two status words before it latch the index; their values are not
    // needed.
    unsigned long ulStatus44 = 0;
    unsigned long ulStatus48 = 0;
    unsigned long ulIndex = 0;
    if (CMD_RdReg_FPGA(fpga::kStatus44, &ulStatus44) != 0)
        ulStatus44 = 0;
    if (CMD_RdReg_FPGA(fpga::kStatus48, &ulStatus48) != 0)
        ulStatus48 = 0;
    if (CMD_RdReg_FPGA(fpga::kFrameBufStatus, &ulIndex) != 0)
        ulIndex = 0;
    return static_cast<int>((static_cast<uint32_t>(ulIndex) & fpga::kFrameBufIdMask) >>
                            fpga::kFrameBufIdShift);
}

int CPL::EmptyFrameBuffer()
{
    // Stop capture from the value the hardware holds now (another camera set
    // may have written it), then pulse the read-buffer clear.
    unsigned long ulControl = 0;
    int nRet = CMD_RdReg_FPGA(fpga::kControl, &ulControl);
    if (nRet != 0)
        return nRet;
    nRet = WrReg_FPGA(fpga::kControl, ulControl & ~static_cast<unsigned long>(
                                                      fpga::kControlCaptureStart));
    if (nRet != 0)
        return nRet;
    Pause(kClearPulseUs);
    CMD_WrReg_FPGA(fpga::kClearReadBuf, fpga::kPulseOn);
    Pause(kClearPulseUs);
    CMD_WrReg_FPGA(fpga::kClearReadBuf, fpga::kPulseOff);
    return 0;
}

int CPL::SyncSensorSize_WhenSensorFovChanged()
{
    if (m_pSensor == nullptr)
        return VYXZEB_RET_SENSOR_FAILED;
    int nWidth = 0;
    int nHeight = 0;
    int nBits = 0;
    m_pSensor->GetCaptureSize(&nWidth, &nHeight, &nBits);

    // Unsigned arithmetic: whatever the sensor reports, the words are defined.
    uint32_t unWidth = static_cast<uint32_t>(nWidth);
    uint32_t unHeight = static_cast<uint32_t>(nHeight);
    uint32_t unPixels = unWidth * unHeight;
    uint32_t unGeometryB =
        (((unWidth >> fpga::kGeometryBWidthDivShift) << fpga::kGeometryBWidthShift) &
         fpga::kGeometryBWidthMask) |
        (((unHeight + 1u) << fpga::kGeometryBHeightShift) & fpga::kGeometryBHeightMask);

    // Direct writes: the frame size follows the sensor, not a camera set's
    // batch settings.
    int nRet = CMD_WrReg_FPGA(fpga::kFramePixelsA, unPixels);
    if (nRet != 0)
        return nRet;
    nRet = CMD_WrReg_FPGA(fpga::kFramePixelsB, unPixels);
    if (nRet != 0)
        return nRet;
    nRet = CMD_WrReg_FPGA(fpga::kGeometryA, fpga::kGeometryAValue);
    if (nRet != 0)
        return nRet;
    return CMD_WrReg_FPGA(fpga::kGeometryB, unGeometryB);
}
