// Zeb.cpp - construction and teardown of the device object.
#include "Zeb.h"

#include <unistd.h>

#include "BusSPI0.h"
#include "VYXGpio.h"
#include "VYXLog.h"
#include "VYXSet.h"
#include "LogHandle.h"

// As shipped: one SPI bus (bus 0) carrying one Q210B.  The -1 entries are
// never read, since only entries inside nBusNum and nSensorNum count.
const ZEB_INFO g_ZebInfo = {
    1,
    {0, -1, 0, 0, 0, 0},
    {1, 0, 0, 0, 0, 0},
    {{1, 0, 0, 0}, {-1, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}},
};

namespace {
// The SPI bus is opened with these arguments; the bus keeps its own fixed
// clock whatever speed is asked for.
constexpr unsigned long kBusSpeedArg = 100;
constexpr unsigned char kBusBitsArg = 8;
constexpr unsigned char kBusModeArg = 1;
constexpr int kBusTypeSpi0 = 0;
}  // namespace

CZeb::CZeb(bool* pbInit)
    : m_pSet{},
      m_pGPIO(nullptr),
      m_pBus{},
      m_bExitCaptureThread(false),
      m_hCaptureThread(),
      m_nSensorNum(0),
      m_nCurrentSet(-1),
      m_nFdPhyMemPool(-1),
      m_pPhyMemPoolMapBase(nullptr),
      m_unPhyPlBlkFree(0),
      m_PhyPlBlk{},
      m_nFdWakeCaptureThread{-1, -1},
      m_bCaptureThreadRunning(false),
      m_nFdCaptureNode(-1) {
    bool bDummy = false;
    Build(pbInit ? pbInit : &bDummy);
}

// Builds the device in its fixed order.  Any failure returns with the flag
// still false and leaves what was made in the members, so that the
// destructor releases exactly that.
void CZeb::Build(bool* pbInit) {
    *pbInit = false;
    if (g_ZebInfo.nBusNum <= 0) return;

    for (int i = 0; i < g_ZebInfo.nBusNum && i < kZebMaxBuses; ++i) {
        if (g_ZebInfo.nBusType[i] != kBusTypeSpi0) return;

        bool bBusOk = false;
        m_pBus[i] = new CBusSPI0(&bBusOk, kBusSpeedArg, kBusBitsArg, kBusModeArg);
        if (!bBusOk) {
            delete m_pBus[i];
            m_pBus[i] = nullptr;
            VYXLOG_OutputString(SdkLog(), "VYXERR_(CZeb::CZeb BusInitial failed!)", 1);
            return;
        }

        for (int j = 0; j < g_ZebInfo.nSensorNum[i]; ++j) {
            if (m_nSensorNum >= kZebMaxSets) return;
            bool bSetOk = false;
            m_pSet[m_nSensorNum] =
                new CVYXSet(&bSetOk, m_pBus[i], static_cast<VYXZEB_SENSOR_TYPE>(g_ZebInfo.nSensorType[i][j]));
            if (!bSetOk) {
                delete m_pSet[m_nSensorNum];
                m_pSet[m_nSensorNum] = nullptr;
                VYXLOG_OutputString(SdkLog(), "VYXERR_(CZeb::CZeb SetInitial failed!)", 1);
                return;
            }
            ++m_nSensorNum;
        }
    }

    bool bGpioOk = false;
    m_pGPIO = new CGPIO(&bGpioOk);
    if (!bGpioOk) {
        delete m_pGPIO;
        m_pGPIO = nullptr;
        VYXLOG_OutputString(SdkLog(), "VYXWARNING_(CZeb::CZeb GPIOInitial failed!)", 1);
    }

    if (CreatePhysicalPool() != 0) {
        VYXLOG_OutputString(SdkLog(), "VYXWARNING_(CZeb::CZeb CreatePhysicalPool failed!)", 1);
        return;
    }

    // Without the interrupt thread no capture could ever complete, so a
    // thread that cannot be started fails the device.
    if (StartCaptureInterruptThread() != 0) return;
    *pbInit = true;
}

// Teardown order: stop the interrupt thread (and wait for it: it reads the
// set slots and announces frames to them), GPIO, camera sets, buses, pool.
CZeb::~CZeb() {
    KillCaptureInterruptThread();
    StopCaptureInterruptThread();

    if (m_pGPIO) {
        delete m_pGPIO;
        m_pGPIO = nullptr;
    }
    for (CVYXSet*& pSet : m_pSet) {
        delete pSet;
        pSet = nullptr;
    }
    for (CIBus*& pBus : m_pBus) {
        delete pBus;
        pBus = nullptr;
    }
    ReleasePhysicalPool();
}

int CZeb::GetSensorNum(int* pnNum) {
    if (pnNum) *pnNum = m_nSensorNum;
    return VYXZEB_RET_SUCCESS;
}

int CZeb::GetGPIO(unsigned int unPin, bool* pbLevel) {
    std::lock_guard<std::mutex> g(m_CallLock);
    return m_pGPIO ? m_pGPIO->GPIOGet(unPin, pbLevel) : VYXZEB_RET_GPIO_FAILED;
}

int CZeb::SetGPIO(unsigned int unPin, bool bLevel) {
    std::lock_guard<std::mutex> g(m_CallLock);
    return m_pGPIO ? m_pGPIO->GPIOSet(unPin, bLevel) : VYXZEB_RET_GPIO_FAILED;
}
