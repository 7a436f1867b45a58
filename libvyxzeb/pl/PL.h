// PL.h - CPL, the library's only window onto the programmable logic (PL).
//
// A CPL maps five register blocks of the PL through /dev/mem (the FPGA
// control block, the video scaler and three AXI Video DMA engines) and
// programs them with plain 32-bit loads and stores.  Every camera set owns one
// CPL; all of them map the same FPGA control block.  To let several camera
// sets share that block, the FPGA settings go through a batch scheme:
//
//   m_BatRegPL     per object: the values this camera set wants (working copy)
//   m_BatRegPLRel  class-wide: the values the hardware holds (shadow)
//
// WrReg_FPGA skips a write whose value the shadow already holds, and
// ValidateAllBatReg writes only the registers where the two copies differ,
// so switching the hardware between camera sets costs only what changed.
//
// Units: PL.cpp (construction, batch validation, simple setters),
// PL_FPGA.cpp (FPGA block access, acquisition control), PL_VDMA.cpp,
// PL_VSCALER.cpp (scaler access, display window, scaler programming) and
// PL_Show.cpp (HDMI display pipeline).
//
// No locks: the callers keep one camera set current at a time and do not run
// show operations of one set from two threads at once.
#ifndef VYX_PL_PL_H
#define VYX_PL_PL_H

#include <cstdint>

#include "plugin/ISensor.h"
#include "PLRegs.h"
#include "VYXZebApi.h"

namespace vyxpl {
// Waits the whole time, also when signals arrive meanwhile: the PL's pulses
// and settle times need their full length.
void Pause(unsigned long ulMicroseconds);
} // namespace vyxpl

// One copy of the PL's batch registers.  The FPGA part has one entry for each
// batch or read-back register of the control block (23 used, 1 spare); the
// scaler part is kept for layout but the scaler has no batch registers.
struct BAT_REG_PL {
    static constexpr int kFpgaEntries = 24;
    static constexpr int kScalerEntries = 28;
    uint32_t unFPGA[kFpgaEntries];
    uint32_t unVSCALER[kScalerEntries];
};

// Visible window of a show on the HDMI screen, each coordinate already cut to
// the 14 bits the hardware takes: columns x0 .. x1 (x1 exclusive), lines
// y0 .. y1 (bottom end as the window computation clamps it).
struct PL_SHOW_WINDOW {
    uint32_t unX0;
    uint32_t unX1;
    uint32_t unY0;
    uint32_t unY1;
};

class CPL {
public:
    CPL(CISensor* pSensor, bool* pbInit);
    ~CPL();

    CPL(const CPL&) = delete;
    CPL& operator=(const CPL&) = delete;

    // ---- FPGA control block (PL_FPGA.cpp) ----
    int Init_FPGA();
    int Uninit_FPGA();
    int CMD_WrReg_FPGA(unsigned short usOffset, unsigned long ulValue);
    int CMD_RdReg_FPGA(unsigned short usOffset, unsigned long* pulValue);
    int WrReg_FPGA(unsigned short usOffset, unsigned long ulValue);
    int RdReg_FPGA();
    int GetVersionFPGA(unsigned long* pulVersion);

    // ---- batch validation (PL.cpp) ----
    int ValidateAllBatReg();
    int ValidateAllBatReg_FPGA();
    int ValidateAllBatReg_VSCALER();

    // ---- acquisition control (PL.cpp, PL_FPGA.cpp) ----
    // The six modes the PL knows (an enum may carry any int from the API).
    static bool IsTriggerMode(VYXZEB_TRIGGER_MODE eMode);
    int GetTriggerMode(VYXZEB_TRIGGER_MODE* pMode);
    int SetTriggerMode(VYXZEB_TRIGGER_MODE eMode);
    int SoftwareTrigger();
    int GetTriggerDelayRange(unsigned long* pulMin, unsigned long* pulMax);
    int GetTriggerDelay(unsigned long* pulDelay);
    int SetTriggerDelay(unsigned long ulDelay);
    int GetTriggerFilter(unsigned short* pusFilter);
    int SetTriggerFilter(unsigned short usFilter);
    int GetCaptureStart(bool* pbStart);
    int SetCaptureStart(bool bStart);
    int GetFixFrameRate(unsigned long* pulPeriod);
    int SetFixFrameRate(unsigned long ulPeriod);
    int GetMultiFrame(unsigned long* pulCount);
    int SetMultiFrame(unsigned long ulCount);
    int GetFrameBuf(unsigned long* pulNumber);
    int SetFrameBuf(unsigned long ulNumber);
    int ReleaseFrameBuffer();
    int ClearWriteFrameBuf(unsigned long ulValue);
    int ClearReadFrameBuf(unsigned long ulValue);
    int GetFrmBufId();
    int EmptyFrameBuffer();
    int SyncSensorSize_WhenSensorFovChanged();

    // ---- VDMA engines (PL_VDMA.cpp) ----
    int Init_VDMAG8();
    int Uninit_VDMAG8();
    int CMD_WrReg_VDMAG8(unsigned short usOffset, unsigned long ulValue);
    int CMD_RdReg_VDMAG8(unsigned short usOffset, unsigned long* pulValue);
    int Init_VDMARGB888();
    int Uninit_VDMARGB888();
    int CMD_WrReg_VDMARGB888(unsigned short usOffset, unsigned long ulValue);
    int CMD_RdReg_VDMARGB888(unsigned short usOffset, unsigned long* pulValue);
    int Init_VDMAHDMI();
    int Uninit_VDMAHDMI();
    int CMD_WrReg_VDMAHDMI(unsigned short usOffset, unsigned long ulValue);
    int CMD_RdReg_VDMAHDMI(unsigned short usOffset, unsigned long* pulValue);

    // ---- video scaler (PL_VSCALER.cpp) ----
    int Init_VSCALER();
    int Uninit_VSCALER();
    int CMD_WrReg_VSCALER(unsigned short usOffset, unsigned long ulValue);
    int CMD_RdReg_VSCALER(unsigned short usOffset, unsigned long* pulValue);
    int SynchronizeScaler(int nSrcWidth, int nSrcHeight, int nSrcBits);

    // The display window computation shared by the scaler and the HDMI
    // programming.  Defined for every input (no overflow), so geometry from
    // applications can never make it misbehave.
    static PL_SHOW_WINDOW ComputeShowWindow(int nPosX, int nPosY, unsigned int unPosWidth,
                                            unsigned int unPosHeight, unsigned int unWidgetX,
                                            unsigned int unWidgetY, unsigned int unWidgetWidth,
                                            unsigned int unWidgetHeight);
    PL_SHOW_WINDOW ComputeShowWindow() const;

    // ---- HDMI display (PL.cpp, PL_Show.cpp) ----
    int SetVideoWidgetPos(unsigned int unX, unsigned int unY, unsigned int unWidth,
                          unsigned int unHeight);
    int GetVideoWidgetPos(unsigned int* punX, unsigned int* punY, unsigned int* punWidth,
                          unsigned int* punHeight);
    int SetPosition(int nX, int nY, unsigned int unWidth, unsigned int unHeight);
    int GetPosition(int* pnX, int* pnY, unsigned int* punWidth, unsigned int* punHeight);
    int SetQtShow(bool bShow);
    int GetQtShow(bool* pbShow);
    // Bytes the source VDMA reads for a width x height image of unBits bits
    // per pixel: 1 per pixel for 8-bit grey, 3 (B, G, R) for 24-bit colour.
    // False for every other depth, which the display path does not take.
    static bool ShowSourceBytes(unsigned int unWidth, unsigned int unHeight, unsigned int unBits,
                                unsigned long long* pullBytes);
    int ShowCaptureData(unsigned char* pPhys);
    int ShowUserLoadData(unsigned char* pPhys, int nSrcWidth, int nSrcHeight, int nSrcBits);
    int ValidateVDMA(unsigned char* pPhys, int nSrcWidth, int nSrcHeight, int nSrcBits);
    int UpdateWriteRegofHDMI(int nSrcWidth, int nSrcHeight, int nSrcBits);
    int UpdateReadRegofHDMI(int nSrcWidth, int nSrcHeight, int nSrcBits);
    int SynchronizeShowRegofFPGA(int nSrcWidth, int nSrcHeight, int nSrcBits);

    // Index of a batch / read-back register in BAT_REG_PL::unFPGA, or -1.
    static int BatIndex(unsigned short usOffset);

private:
    uint32_t WorkingValue(unsigned short usOffset) const;
    void SetWorkingValue(unsigned short usOffset, uint32_t unValue);
    uint32_t ShowStoreAddress() const;
    int ShowSource(unsigned char* pPhys, int nSrcWidth, int nSrcHeight, int nSrcBits);

    static int OpenMem(const char* pszFunction);
    static volatile uint32_t* MapBlock(int nFd, uint32_t unPhys, uint32_t unLength);
    static void UnmapBlock(volatile uint32_t*& pBase, int& nFd, uint32_t unLength);
    // Opens /dev/mem and maps one block; logs the open or the mapping
    // failure (naming the mapping member) and returns false.
    static bool OpenBlock(const char* pszFunction, const char* pszMapMember, uint32_t unPhys,
                          uint32_t unLength, int& nFd, volatile uint32_t*& pBase);

public:
    // Members in the order the rest of the library knows them.
    CISensor* m_pSensor;
    BAT_REG_PL m_BatRegPL;
    bool m_bHdmiReadStarted;
    int m_nShowBufIndex;
    int m_nPosX;
    int m_nPosY;
    unsigned int m_unPosWidth;
    unsigned int m_unPosHeight;
    int m_nLastPosX;
    int m_nLastPosY;
    unsigned int m_unLastPosWidth;
    unsigned int m_unLastPosHeight;
    unsigned int m_unWidgetX;
    unsigned int m_unWidgetY;
    unsigned int m_unWidgetWidth;
    unsigned int m_unWidgetHeight;
    unsigned int m_unLastWidgetX;
    unsigned int m_unLastWidgetY;
    unsigned int m_unLastWidgetWidth;
    unsigned int m_unLastWidgetHeight;
    int m_nLastSrcWidth;
    int m_nLastSrcHeight;
    int m_nLastSrcBits;
    int m_nFdFPGA;
    volatile uint32_t* m_pRegMapBaseFPGA;
    int m_nFdVSCALER;
    volatile uint32_t* m_pRegMapBaseVSCALER;
    int m_nFdVDMAG8;
    volatile uint32_t* m_pRegMapBaseVDMAG8;
    int m_nFdVDMARGB888;
    volatile uint32_t* m_pRegMapBaseVDMARGB888;
    int m_nFdVDMAHDMI;
    volatile uint32_t* m_pRegMapBaseVDMAHDMI;

    // What the shared hardware holds, for every CPL of the process.
    static BAT_REG_PL m_BatRegPLRel;
};

#endif // VYX_PL_PL_H
