// Zeb.h - the device object behind the exported API.
//
// One CZeb exists while the library is initialised (g_Zeb).  It reads the
// compiled-in bus and sensor table, opens the SPI bus, builds one camera set
// per configured sensor, opens the GPIO device, maps the physical memory pool
// and runs the capture interrupt thread.  Afterwards it only dispatches: each
// API call names a sensor index and CZeb forwards it to that camera set,
// first letting the set push its PL batch registers into the hardware when
// the call changes a setting.
#ifndef VYX_ZEB_H
#define VYX_ZEB_H

#include <pthread.h>

#include <atomic>
#include <mutex>
#include <utility>

#include "MemMap.h"
#include "VYXZebApi.h"

class CVYXSet;
class CIBus;
class CGPIO;

constexpr int kZebMaxSets = 4;
constexpr int kZebMaxBuses = 6;

// The compiled-in configuration: which buses exist and which sensors sit on
// each.  37 signed 32-bit integers, in this order.
struct ZEB_INFO {
    int nBusNum;                              // buses in use, counted from bus 0
    int nBusType[kZebMaxBuses];               // 0 = SPI bus 0 (CBusSPI0); nothing else exists
    int nSensorNum[kZebMaxBuses];             // sensors on each bus
    int nSensorType[kZebMaxBuses][kZebMaxSets];  // VYXZEB_SENSOR_TYPE of sensor j on bus i
};
static_assert(sizeof(ZEB_INFO) == 148, "the configuration table is 37 words");

extern const ZEB_INFO g_ZebInfo;

// The physical memory pool is reserved RAM above the four camera frame
// buffers, reached through the board's cache-memory driver and cut into 8 MiB
// blocks; MemMap.h has its layout.

struct PHY_POOL_BLK {
    bool bUsed;
    unsigned char* pVirAddr;
    unsigned char* pPhyAddr;
};

// Interrupt codes of the capture driver, one per camera set.
extern const char* const g_szSensorInterCode[kZebMaxSets];

using VYXZEB_TRIGGER_CALLBACK_FN = void (*)(unsigned char*, int, int, int, void*);

class CZeb {
public:
    explicit CZeb(bool* pbInit);
    ~CZeb();
    CZeb(const CZeb&) = delete;
    CZeb& operator=(const CZeb&) = delete;

    int GetSensorNum(int* pnNum);
    int GetPLVersion(int nIndex, unsigned long* pulVersion);
    int RdRegFPGA(int nIndex, unsigned short usOffset, unsigned long* pulValue);
    int WrRegFPGA(int nIndex, unsigned short usOffset, unsigned long ulValue);
    int ValidateBatRegToCurrentSet(int nIndex);

    int GetGPIO(unsigned int unPin, bool* pbLevel);
    int SetGPIO(unsigned int unPin, bool bLevel);

    // Physical memory pool.
    int CreatePhysicalPool();
    int MallocPhyPoolBlk(unsigned long ulSize, unsigned char** ppBlock);
    int FreePhyPoolBlk(unsigned char* pBlock);
    int GetLoadDataPhyAddress(unsigned char* pBlock, unsigned char** ppPhy);
    int ShowUserLoadData(int nIndex, unsigned char* pBlock, unsigned int unWidth, unsigned int unHeight,
                         unsigned int unBitCount);

    // Capture interrupt thread.
    int StartCaptureInterruptThread();
    int KillCaptureInterruptThread();

    // Per-index forwarders to the camera set.
    int GetCaptureFieldOfViewRange(int nIndex, unsigned long* pX, unsigned long* pY, unsigned long* pW,
                                   unsigned long* pH);
    int SetCaptureFieldOfView(int nIndex, unsigned long x, unsigned long y, unsigned long w, unsigned long h);
    int GetCaptureFieldOfView(int nIndex, unsigned long* pX, unsigned long* pY, unsigned long* pW,
                              unsigned long* pH);
    int SetAddressMode(int nIndex, VYX_ADDRESSMODE eMode);
    int GetAddressMode(int nIndex, VYX_ADDRESSMODE* peMode);
    int SetColAddressMode(int nIndex, VYX_ADDRESSMODE eMode);
    int SetRowAddressMode(int nIndex, VYX_ADDRESSMODE eMode);
    int GetColAddressMode(int nIndex, VYX_ADDRESSMODE* peMode);
    int GetRowAddressMode(int nIndex, VYX_ADDRESSMODE* peMode);
    int GetCaptureSize(int nIndex, int* pnWidth, int* pnHeight, int* pnBitCount);
    int SetTriggerCallback(int nIndex, VYXZEB_TRIGGER_CALLBACK_FN pfn);
    int SetTimeOut(int nIndex, unsigned long ulTimeOut);
    int ReleaseFrameBuffer(int nIndex);
    int CaptureData(int nIndex, unsigned char** ppData);
    int GetGainRange(int nIndex, unsigned long* pMin, unsigned long* pMax);
    int SetGain(int nIndex, unsigned long ulGain);
    int GetGain(int nIndex, unsigned long* pGain);
    int GetExposureLinesRange(int nIndex, unsigned long* pMin, unsigned long* pMax);
    int SetExposureLines(int nIndex, unsigned long ulLines);
    int GetExposureLines(int nIndex, unsigned long* pLines);
    int GetExposureTimeRange(int nIndex, float* pMin, float* pMax);
    int SetExposureTime(int nIndex, float fTime);
    int GetExposureTime(int nIndex, float* pTime);
    int SetMirror(int nIndex, bool b);
    int GetMirror(int nIndex, bool* pb);
    int SetFlip(int nIndex, bool b);
    int GetFlip(int nIndex, bool* pb);
    int FlashSetEnable(int nIndex, bool b);
    int FlashGetEnable(int nIndex, bool* pb);
    int FlashSetInvert(int nIndex, bool b);
    int FlashGetInvert(int nIndex, bool* pb);
    int EmptyFrameBuffer(int nIndex);
    int SetTriggerMode(int nIndex, VYXZEB_TRIGGER_MODE eMode);
    int GetTriggerMode(int nIndex, VYXZEB_TRIGGER_MODE* peMode);
    int GetTriggerDelayRange(int nIndex, unsigned long* pMin, unsigned long* pMax);
    int SetTriggerDelay(int nIndex, unsigned long ulDelay);
    int GetTriggerDelay(int nIndex, unsigned long* pDelay);
    int SetFrameBuf(int nIndex, unsigned long ulValue);
    int GetFrameBuf(int nIndex, unsigned long* pValue);
    int SetMultiFrame(int nIndex, unsigned long ulValue);
    int GetMultiFrame(int nIndex, unsigned long* pValue);
    int SetFixFrameRate(int nIndex, unsigned long ulValue);
    int GetFixFrameRate(int nIndex, unsigned long* pValue);
    int SetTriggerFilter(int nIndex, unsigned short usFilter);
    int GetTriggerFilter(int nIndex, unsigned short* pFilter);
    int GetSensorType(int nIndex, VYXZEB_SENSOR_TYPE* pType);
    int SetVideoWidgetPos(int nIndex, unsigned int x, unsigned int y, unsigned int w, unsigned int h);
    int GetVideoWidgetPos(int nIndex, unsigned int* pX, unsigned int* pY, unsigned int* pW, unsigned int* pH);
    int SetPosition(int nIndex, int x, int y, unsigned int w, unsigned int h);
    int GetPosition(int nIndex, int* pX, int* pY, unsigned int* pW, unsigned int* pH);
    int ShowCaptureData(int nIndex, unsigned char* pData);

    // Members, in the order the device has always kept them.
    CVYXSet* m_pSet[kZebMaxSets];
    CGPIO* m_pGPIO;
    CIBus* m_pBus[kZebMaxBuses];
    std::atomic<bool> m_bExitCaptureThread;
    pthread_t m_hCaptureThread;
    int m_nSensorNum;
    int m_nCurrentSet;
    int m_nFdPhyMemPool;
    unsigned char* m_pPhyMemPoolMapBase;
    unsigned int m_unPhyPlBlkFree;
    PHY_POOL_BLK m_PhyPlBlk[vyxpl::phys::kPoolBlocks];
    // The interrupt thread is joined at teardown; writing to this pipe wakes
    // it from its one-second select at once.
    int m_nFdWakeCaptureThread[2];
    bool m_bCaptureThreadRunning;
    // The capture node, opened before VYXZEB_Init returns (see
    // StartCaptureInterruptThread) and read by the interrupt thread.
    int m_nFdCaptureNode;

private:
    CVYXSet* SetAt(int nIndex) const;

    // Looks the set up and calls it, with no lock: for the capture, whose
    // wait must not keep the other threads' calls out (a mode change from
    // another thread is what wakes it).
    template <typename... P, typename... A>
    int Call(int nIndex, int (CVYXSet::*op)(P...), A&&... args)
    {
        CVYXSet* pSet = SetAt(nIndex);
        return pSet ? (pSet->*op)(std::forward<A>(args)...) : VYXZEB_RET_SET_UNAVAILABLE;
    }
    // Reading operations: one at a time with the settings, so a getter never
    // sees half of a change made by another thread.
    template <typename... P, typename... A>
    int Query(int nIndex, int (CVYXSet::*op)(P...), A&&... args)
    {
        std::lock_guard<std::mutex> g(m_CallLock);
        return Call(nIndex, op, std::forward<A>(args)...);
    }
    // Setting operations: bring the set's batch registers into the hardware
    // first, then call it; the pair is one step for the other threads.
    template <typename... P, typename... A>
    int Setting(int nIndex, int (CVYXSet::*op)(P...), A&&... args) {
        std::lock_guard<std::mutex> g(m_CallLock);
        int nRet = ValidateBatRegToCurrentSet(nIndex);
        return nRet != 0 ? nRet : Call(nIndex, op, std::forward<A>(args)...);
    }
    // Serialises the calls of several application threads on the sets, their
    // PL shadow registers and the sensors' buses (the header lets them come
    // from several threads).  Never held across a capture's wait.
    std::mutex m_CallLock;

    void Build(bool* pbInit);
    void StopCaptureInterruptThread();
    void ReleasePhysicalPool();

    friend void* ThreadForCaptureInterrupt(void* pContext);
};

void* ThreadForCaptureInterrupt(void* pContext);

// The device object of the process; null while the library is not initialised.
extern CZeb* g_Zeb;

#endif
