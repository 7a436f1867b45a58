// PL.cpp - CPL construction and destruction, block mapping helpers, batch
// validation and the plain setters and getters of the working copy.
#include "PL.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "Nodes.h"
#include "VYXLog.h"
#include "LogHandle.h"

using namespace vyxpl;

// The hardware shadow, shared by every CPL.  Zero before the first Init_FPGA
// has read the hardware, so the first object's start-up write of the control
// register always reaches the PL.
BAT_REG_PL CPL::m_BatRegPLRel = {};

namespace {
// Batch registers re-applied when a camera set becomes current, in this
// order: counts, trigger, frame size and buffers before the control register,
// the screen window last.  The display source select (84) and the trigger
// filter (120) are not part of it.
constexpr unsigned short kValidateOrder[] = {
    fpga::kMultiFrameA,   fpga::kMultiFrameB,   fpga::kTrigger,       fpga::kFrameBufNumber,
    fpga::kFramePixelsA,  fpga::kFramePixelsB,  fpga::kGeometryA,     fpga::kGeometryB,
    fpga::kFrameBufBase0, fpga::kFrameBufBase1, fpga::kFrameBufBase2, fpga::kFrameBufBase3,
    fpga::kMisc36,        fpga::kFramePeriod,   fpga::kControl,       fpga::kTriggerDelay,
    fpga::kShowWinStart,  fpga::kShowWinEnd,
};
} // namespace

void vyxpl::Pause(unsigned long ulMicroseconds)
{
    constexpr unsigned long kUsPerSecond = 1000000UL;
    timespec rest = {static_cast<time_t>(ulMicroseconds / kUsPerSecond),
                     static_cast<long>(ulMicroseconds % kUsPerSecond) * 1000L};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
        // a signal cut the pause short: wait the remainder
    }
}

CPL::CPL(CISensor* pSensor, bool* pbInit)
    : m_pSensor(pSensor),
      m_BatRegPL(),
      m_bHdmiReadStarted(false),
      m_nShowBufIndex(0),
      m_nPosX(0),
      m_nPosY(0),
      m_unPosWidth(phys::kScreenWidth),
      m_unPosHeight(phys::kScreenHeight),
      m_nLastPosX(0),
      m_nLastPosY(0),
      m_unLastPosWidth(0),
      m_unLastPosHeight(0),
      m_unWidgetX(0),
      m_unWidgetY(0),
      m_unWidgetWidth(phys::kScreenWidth),
      m_unWidgetHeight(phys::kScreenHeight),
      m_unLastWidgetX(0),
      m_unLastWidgetY(0),
      m_unLastWidgetWidth(0),
      m_unLastWidgetHeight(0),
      m_nLastSrcWidth(0),
      m_nLastSrcHeight(0),
      m_nLastSrcBits(0),
      m_nFdFPGA(-1),
      m_pRegMapBaseFPGA(nullptr),
      m_nFdVSCALER(-1),
      m_pRegMapBaseVSCALER(nullptr),
      m_nFdVDMAG8(-1),
      m_pRegMapBaseVDMAG8(nullptr),
      m_nFdVDMARGB888(-1),
      m_pRegMapBaseVDMARGB888(nullptr),
      m_nFdVDMAHDMI(-1),
      m_pRegMapBaseVDMAHDMI(nullptr)
{
    if (pbInit != nullptr)
        *pbInit = false;

    // Bring the blocks up in order; the first failure has logged its reason
    // and leaves the object usable for the blocks already mapped.
    if (Init_FPGA() != 0)
        return;
    if (Init_VSCALER() != 0)
        return;
    if (Init_VDMAG8() != 0)
        return;
    if (Init_VDMARGB888() != 0)
        return;
    if (Init_VDMAHDMI() != 0)
        return;

    if (pbInit != nullptr)
        *pbInit = true;
    m_nShowBufIndex = 0;
    m_bHdmiReadStarted = false;
}

CPL::~CPL()
{
    Uninit_VDMAHDMI();
    Uninit_VDMARGB888();
    Uninit_VDMAG8();
    Uninit_VSCALER();
    Uninit_FPGA();
}

// ---------------------------------------------------------------------------
// /dev/mem helpers shared by the five blocks
// ---------------------------------------------------------------------------
int CPL::OpenMem(const char* pszFunction)
{
    // Close-on-exec: no program the application starts may inherit
    // read-write access to physical memory.
    int nFd = open(vyxnode::kMemPath, O_RDWR | O_SYNC | O_CLOEXEC);
    if (nFd < 0)
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(----------%s open device %s failed)", pszFunction,
                              vyxnode::kMemPath);
    return nFd;
}

volatile uint32_t* CPL::MapBlock(int nFd, uint32_t unPhys, uint32_t unLength)
{
    void* p = mmap(nullptr, unLength, PROT_READ | PROT_WRITE, MAP_SHARED, nFd,
                   static_cast<off_t>(unPhys));
    if (p == MAP_FAILED)
        return nullptr;
    return static_cast<volatile uint32_t*>(p);
}

bool CPL::OpenBlock(const char* pszFunction, const char* pszMapMember, uint32_t unPhys,
                    uint32_t unLength, int& nFd, volatile uint32_t*& pBase)
{
    nFd = OpenMem(pszFunction);
    if (nFd < 0)
        return false;
    pBase = MapBlock(nFd, unPhys, unLength);
    if (pBase == nullptr) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(----------%s mmap %s failed)", pszFunction, pszMapMember);
        return false;
    }
    return true;
}

void CPL::UnmapBlock(volatile uint32_t*& pBase, int& nFd, uint32_t unLength)
{
    if (pBase != nullptr) {
        munmap(const_cast<uint32_t*>(pBase), unLength);
        pBase = nullptr;
    }
    if (nFd >= 0) {
        close(nFd);
        nFd = -1;
    }
}

// ---------------------------------------------------------------------------
// Working copy
// ---------------------------------------------------------------------------
int CPL::BatIndex(unsigned short usOffset)
{
    switch (usOffset) {
    case fpga::kVersion:        return 0;
    case fpga::kMultiFrameA:    return 1;
    case fpga::kFramePixelsA:   return 2;
    case fpga::kFrameBufBase0:  return 3;
    case fpga::kFrameBufBase1:  return 4;
    case fpga::kFrameBufBase2:  return 5;
    case fpga::kFrameBufBase3:  return 6;
    case fpga::kMultiFrameB:    return 7;
    case fpga::kFramePixelsB:   return 8;
    case fpga::kMisc36:         return 9;
    case fpga::kFrameBufNumber: return 10;
    case fpga::kGeometryA:      return 11;
    case fpga::kGeometryB:      return 12;
    case fpga::kShowSource:     return 13;
    case fpga::kControl:        return 14;
    case fpga::kTrigger:        return 15;
    case fpga::kFramePeriod:    return 16;
    case fpga::kTriggerFilter:  return 17;
    case fpga::kTriggerDelay:   return 18;
    case fpga::kShowWinStart:   return 19;
    case fpga::kShowWinEnd:     return 20;
    case fpga::kStatus136:      return 21;
    case fpga::kStatus140:      return 22;
    default:                    return -1; // entry 23 is spare
    }
}

uint32_t CPL::WorkingValue(unsigned short usOffset) const
{
    int n = BatIndex(usOffset);
    return n < 0 ? 0u : m_BatRegPL.unFPGA[n];
}

void CPL::SetWorkingValue(unsigned short usOffset, uint32_t unValue)
{
    int n = BatIndex(usOffset);
    if (n >= 0)
        m_BatRegPL.unFPGA[n] = unValue;
}

// ---------------------------------------------------------------------------
// Batch validation: make this camera set's settings the hardware's
// ---------------------------------------------------------------------------
int CPL::ValidateAllBatReg_FPGA()
{
    for (unsigned short usOffset : kValidateOrder) {
        int n = BatIndex(usOffset);
        uint32_t unWanted = m_BatRegPL.unFPGA[n];
        if (unWanted == m_BatRegPLRel.unFPGA[n])
            continue;
        int nRet = CMD_WrReg_FPGA(usOffset, unWanted);
        if (nRet != 0)
            return nRet;
        m_BatRegPLRel.unFPGA[n] = unWanted;
    }
    return 0;
}

int CPL::ValidateAllBatReg_VSCALER()
{
    // The scaler is reprogrammed by every show whose geometry changed; it
    // keeps no batch registers.
    return 0;
}

int CPL::ValidateAllBatReg()
{
    ValidateAllBatReg_FPGA();
    ValidateAllBatReg_VSCALER();
    return 0;
}

// ---------------------------------------------------------------------------
// Acquisition settings held in the working copy
// ---------------------------------------------------------------------------
int CPL::GetTriggerDelayRange(unsigned long* pulMin, unsigned long* pulMax)
{
    if (pulMin != nullptr)
        *pulMin = 0;
    if (pulMax != nullptr)
        *pulMax = fpga::kTriggerDelayMax;
    return 0;
}

int CPL::GetTriggerDelay(unsigned long* pulDelay)
{
    if (pulDelay != nullptr)
        *pulDelay = WorkingValue(fpga::kTriggerDelay);
    return 0;
}

int CPL::SetTriggerDelay(unsigned long ulDelay)
{
    // Values above the reported range are passed on: the PL decides.
    return WrReg_FPGA(fpga::kTriggerDelay, ulDelay);
}

int CPL::GetTriggerFilter(unsigned short* pusFilter)
{
    if (pusFilter != nullptr)
        *pusFilter = static_cast<unsigned short>(WorkingValue(fpga::kTriggerFilter) &
                                                 fpga::kTriggerFilterMask);
    return 0;
}

int CPL::SetTriggerFilter(unsigned short usFilter)
{
    return WrReg_FPGA(fpga::kTriggerFilter, usFilter);
}

int CPL::GetCaptureStart(bool* pbStart)
{
    if (pbStart != nullptr)
        *pbStart = (WorkingValue(fpga::kControl) & fpga::kControlCaptureStart) != 0;
    return 0;
}

int CPL::SetCaptureStart(bool bStart)
{
    // The working copy takes the bit before the write, so it reflects what
    // this camera set wants even if the block is unavailable.
    uint32_t unControl = WorkingValue(fpga::kControl);
    if (bStart)
        unControl |= fpga::kControlCaptureStart;
    else
        unControl &= ~fpga::kControlCaptureStart;
    SetWorkingValue(fpga::kControl, unControl);
    return WrReg_FPGA(fpga::kControl, unControl);
}

int CPL::GetFixFrameRate(unsigned long* pulPeriod)
{
    if (pulPeriod != nullptr)
        *pulPeriod = WorkingValue(fpga::kFramePeriod);
    return 0;
}

int CPL::SetFixFrameRate(unsigned long ulPeriod)
{
    return WrReg_FPGA(fpga::kFramePeriod, ulPeriod);
}

int CPL::GetMultiFrame(unsigned long* pulCount)
{
    if (pulCount != nullptr)
        *pulCount = WorkingValue(fpga::kMultiFrameA);
    return 0;
}

int CPL::SetMultiFrame(unsigned long ulCount)
{
    // The PL keeps the count twice (acquisition and read-out side); the
    // second copy is touched only when the first one took.
    int nRet = WrReg_FPGA(fpga::kMultiFrameA, ulCount);
    if (nRet != 0)
        return nRet;
    return WrReg_FPGA(fpga::kMultiFrameB, ulCount);
}

int CPL::GetFrameBuf(unsigned long* pulNumber)
{
    if (pulNumber != nullptr)
        *pulNumber = WorkingValue(fpga::kFrameBufNumber);
    return 0;
}

int CPL::SetFrameBuf(unsigned long ulNumber)
{
    return WrReg_FPGA(fpga::kFrameBufNumber, ulNumber);
}

// ---------------------------------------------------------------------------
// Display geometry (takes effect at the next show)
// ---------------------------------------------------------------------------
namespace {
constexpr uint32_t kAlign4 = ~0x3u;
}

int CPL::SetVideoWidgetPos(unsigned int unX, unsigned int unY, unsigned int unWidth,
                           unsigned int unHeight)
{
    if (unWidth > phys::kScreenWidth)
        unWidth = phys::kScreenWidth;
    if (unHeight > phys::kScreenHeight)
        unHeight = phys::kScreenHeight;
    // Compared as "x > screen - width" so that a huge x cannot wrap the sum
    // around and slip past the clamp.
    if (unX > phys::kScreenWidth - unWidth)
        unX = phys::kScreenWidth - unWidth;
    if (unY > phys::kScreenHeight - unHeight)
        unY = phys::kScreenHeight - unHeight;
    m_unWidgetX = unX & kAlign4;
    m_unWidgetY = unY & kAlign4;
    m_unWidgetWidth = unWidth & kAlign4;
    m_unWidgetHeight = unHeight & kAlign4;
    return 0;
}

int CPL::GetVideoWidgetPos(unsigned int* punX, unsigned int* punY, unsigned int* punWidth,
                           unsigned int* punHeight)
{
    if (punX != nullptr)
        *punX = m_unWidgetX;
    if (punY != nullptr)
        *punY = m_unWidgetY;
    if (punWidth != nullptr)
        *punWidth = m_unWidgetWidth;
    if (punHeight != nullptr)
        *punHeight = m_unWidgetHeight;
    return 0;
}

int CPL::SetPosition(int nX, int nY, unsigned int unWidth, unsigned int unHeight)
{
    // Clearing the two low bits of a two's complement value rounds a negative
    // offset down, so the image never starts right of where it was asked.
    m_nPosX = static_cast<int>(static_cast<uint32_t>(nX) & kAlign4);
    m_nPosY = static_cast<int>(static_cast<uint32_t>(nY) & kAlign4);
    m_unPosWidth = unWidth & kAlign4;
    m_unPosHeight = unHeight & kAlign4;
    return 0;
}

int CPL::GetPosition(int* pnX, int* pnY, unsigned int* punWidth, unsigned int* punHeight)
{
    if (pnX != nullptr)
        *pnX = m_nPosX;
    if (pnY != nullptr)
        *pnY = m_nPosY;
    if (punWidth != nullptr)
        *punWidth = m_unPosWidth;
    if (punHeight != nullptr)
        *punHeight = m_unPosHeight;
    return 0;
}

int CPL::SetQtShow(bool bShow)
{
    uint32_t unControl = WorkingValue(fpga::kControl);
    if (bShow)
        unControl |= fpga::kControlQtShow;
    else
        unControl &= ~fpga::kControlQtShow;
    SetWorkingValue(fpga::kControl, unControl);
    return WrReg_FPGA(fpga::kControl, unControl);
}

int CPL::GetQtShow(bool* pbShow)
{
    if (pbShow != nullptr)
        *pbShow = (WorkingValue(fpga::kControl) & fpga::kControlQtShow) != 0;
    return 0;
}
