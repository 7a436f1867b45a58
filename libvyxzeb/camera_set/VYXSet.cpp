// VYXSet.cpp - camera set construction, destruction and frame address
// translation.
#include "VYXSet.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>

#include "plugin/ISensor.h"
#include "PL.h"
#include "VYXLog.h"
#include "LogHandle.h"

const char* const g_szSensorFileName[kSensorTypeCount] = {
    "/usr/lib/libvyxSensorV880A.so",
    "/usr/lib/libvyxSensorQ210B.so",
};

namespace {

const char kSetName[] = "CVYXSet";

// After register 152 is written, once per set, the PL is left this long to
// settle before anything is acquired.
constexpr unsigned long kPlSettleUs = 1000000;

unsigned long FrameBufferPhys(int nIndex) {
    return vyxpl::phys::kFrameBufferBase + static_cast<unsigned long>(nIndex) * vyxpl::phys::kFrameBufferSize;
}

}  // namespace

CVYXSet::CVYXSet(bool* pbInit, CIBus* pBus, VYXZEB_SENSOR_TYPE type)
    : m_pPL(nullptr),
      m_pSensor(nullptr),
      m_pTriggerCallback(nullptr),
      m_unTimeOut(kDefaultCaptureTimeOutMs),
      m_nFdFrameBuffer(-1),
      m_pMapBaseFrameBuffer{},
      m_Sync(vyxpl::phys::kFrameBufferCount) {
    VYXLOG_OutputStringEx(SdkLog(), 1, "VYXLOG_(++++++++++%s)", kSetName);
    *pbInit = false;

    m_nFdFrameBuffer = open(vyxnode::kCacheOpsPath, O_RDWR | O_SYNC | O_CLOEXEC);
    if (m_nFdFrameBuffer < 0) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(-----------%s open device %s failed)", kSetName,
                              vyxnode::kCacheOpsPath);
        return;
    }

    for (int i = 0; i < vyxpl::phys::kFrameBufferCount; ++i) {
        void* p = mmap(nullptr, vyxpl::phys::kFrameBufferSize, PROT_READ | PROT_WRITE, MAP_SHARED,
                       m_nFdFrameBuffer, static_cast<off_t>(FrameBufferPhys(i)));
        if (p == MAP_FAILED) {
            VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(-----------%s m_pMapBaseFrameBuffer[%d] mmap failed)",
                                  kSetName, i);
            return;
        }
        m_pMapBaseFrameBuffer[i] = static_cast<unsigned char*>(p);
    }

    const int nType = static_cast<int>(type);
    const char* pszPlugin = (nType >= 0 && nType < kSensorTypeCount) ? g_szSensorFileName[nType] : nullptr;
    // The plug-in stays loaded for the life of the process: sensor objects
    // made by it may be alive in other sets, and its code must outlive them.
    void* hPlugin = pszPlugin ? dlopen(pszPlugin, RTLD_NOW) : nullptr;
    if (!hPlugin) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(%s dlopen the sensor dll %s failed)", kSetName,
                              pszPlugin ? pszPlugin : "(unknown sensor type)");
        return;
    }
    PFN_NEW_SENSOR pfnNewSensor = reinterpret_cast<PFN_NEW_SENSOR>(dlsym(hPlugin, "newSensor"));
    if (!pfnNewSensor) {
        VYXLOG_OutputStringEx(
            SdkLog(), 1, "VYXERR_(%s dlsym the new sensor object interface[newSensor] failed)", kSetName);
        return;
    }

    bool bSensorInit = false;
    pfnNewSensor(&m_pSensor, pBus, &bSensorInit);
    if (!bSensorInit) {
        // A sensor that did not answer on its bus: the set still comes up,
        // and every sensor operation reports the missing sensor.
        delete m_pSensor;
        m_pSensor = nullptr;
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(%s craete new sensor object failed)", kSetName);
    }

    bool bInitialPL = false;
    m_pPL = new CPL(m_pSensor, &bInitialPL);
    m_pPL->CMD_WrReg_FPGA(vyxpl::fpga::kPlEnable152, vyxpl::fpga::kPlEnable152Value);
    vyxpl::Pause(kPlSettleUs);
    // A CPL whose blocks failed to map still makes a set: its PL operations
    // report the unavailable blocks themselves.
    VYXLOG_OutputStringEx(SdkLog(), 1, "VYXLOG_(%s craete new PL m_pPL(%p) bInitialPL(%d))", kSetName,
                          static_cast<void*>(m_pPL), bInitialPL ? 1 : 0);

    SetCaptureFieldOfView(0, 0, kFullFovWidth, kFullFovHeight);

    *pbInit = true;
    VYXLOG_OutputStringEx(SdkLog(), 1, "VYXLOG_(----------%s m_nFdFrameBuffer(%p) m_pSensor(%p) m_pPL(%p))",
                          kSetName, reinterpret_cast<void*>(static_cast<intptr_t>(m_nFdFrameBuffer)),
                          static_cast<void*>(m_pSensor), static_cast<void*>(m_pPL));
}

// Releases everything the set made, so that repeated initialisations of the
// library leave descriptors, mappings and memory as they found them.  The
// CPL goes first (it uses the sensor object), then the sensor object through
// its virtual destructor (its code lives in the plug-in, which stays loaded).
// The owner stops the capture interrupt thread before destroying a set, so
// nobody announces frames any more.
CVYXSet::~CVYXSet() {
    delete m_pPL;
    m_pPL = nullptr;
    delete m_pSensor;
    m_pSensor = nullptr;
    for (unsigned char*& pMap : m_pMapBaseFrameBuffer) {
        if (pMap) {
            munmap(pMap, vyxpl::phys::kFrameBufferSize);
            pMap = nullptr;
        }
    }
    if (m_nFdFrameBuffer >= 0) {
        close(m_nFdFrameBuffer);
        m_nFdFrameBuffer = -1;
    }
}

int CVYXSet::GetFramePhyAddress(unsigned char* pData, unsigned char** ppPhy) {
    const uintptr_t uData = reinterpret_cast<uintptr_t>(pData);
    for (int i = 0; i < vyxpl::phys::kFrameBufferCount; ++i) {
        const uintptr_t uBase = reinterpret_cast<uintptr_t>(m_pMapBaseFrameBuffer[i]);
        if (!uBase || uData < uBase || uData - uBase >= vyxpl::phys::kFrameBufferSize) continue;
        if (ppPhy) *ppPhy = reinterpret_cast<unsigned char*>(FrameBufferPhys(i) + (uData - uBase));
        // Cache maintenance after the translation, so the PL's DMA and the
        // CPU agree on the buffer's content.  The driver's answer is not
        // needed.
        unsigned char scratch[vyxnode::kCacheSyncRecordBytes] = {};
        ioctl(m_nFdFrameBuffer, vyxnode::kCacheSync, scratch);
        return VYXZEB_RET_SUCCESS;
    }
    return VYXZEB_RET_FAILED;
}
