// VYXSet_Internal.cpp - frame capture, the capture time-out, and the raw
// FPGA and acquisition settings of the set's PL.
#include <ctime>
#include <limits>

#include "ISensor.h"
#include "PL.h"
#include "VYXLog.h"
#include "VYXSet.h"

namespace {

constexpr long kNsPerSecond = 1000000000L;
constexpr long kNsPerMs = 1000000L;
constexpr unsigned long kMsPerSecond = 1000UL;

// Absolute wall-clock deadline ulMs milliseconds from now, with the whole
// seconds carried out of the nanosecond field (sem_timedwait refuses a field
// of one second or more).
timespec DeadlineAfterMs(unsigned long ulMs) {
    timespec t = {};
    clock_gettime(CLOCK_REALTIME, &t);
    const unsigned long ulSeconds = ulMs / kMsPerSecond;
    t.tv_nsec += static_cast<long>(ulMs % kMsPerSecond) * kNsPerMs;
    if (t.tv_nsec >= kNsPerSecond) {
        t.tv_nsec -= kNsPerSecond;
        t.tv_sec += 1;
    }
    // Saturate rather than wrap a 32-bit time_t for absurd time-outs.
    constexpr time_t kMaxTime = std::numeric_limits<time_t>::max();
    t.tv_sec = (static_cast<unsigned long long>(kMaxTime - t.tv_sec) < ulSeconds)
                   ? kMaxTime
                   : t.tv_sec + static_cast<time_t>(ulSeconds);
    return t;
}

bool IsOdd(unsigned int n) { return (n & 1u) != 0; }

}  // namespace

int CVYXSet::CaptureData(unsigned char** ppData) {
    static const char kName[] = "CaptureData";
    if (!ppData) return VYXZEB_RET_BAD_PARAMETER;
    if (!m_pPL) {
        VYXLOG_OutputStringEx(hVYXLog, 1, "VYXERR_(----------%s because the m_pPL is null)", kName);
        return VYXZEB_RET_SET_UNAVAILABLE;
    }

    // A trigger-mode change empties the frame buffers.  Any change that starts
    // after this point ends the capture with -1011 (see below); a change
    // already running ends it at once, as the buffers are being emptied.
    const unsigned int unChangesAtEntry = m_unTriggerModeChanges.load();
    if (IsOdd(unChangesAtEntry) || m_bChangingTriggerMode.load()) {
        *ppData = nullptr;
        return VYXZEB_RET_CAPTURE_TIMEOUT;
    }

    VYXZEB_TRIGGER_MODE eMode = VYXZEB_TRIGGER_SOFTWARE;
    int nRet = m_pPL->GetTriggerMode(&eMode);
    if (nRet != 0) {
        VYXLOG_OutputStringEx(hVYXLog, 1, "VYXERR_(----------%s nRet(%d) m_pPL(%p) get trgger mode failed)",
                              kName, nRet, static_cast<void*>(m_pPL));
        return nRet;
    }
    if (eMode == VYXZEB_TRIGGER_SOFTWARE) {
        // The PL ignores a software trigger while acquisition is stopped; the
        // caller would only wait out the time-out.
        bool bStarted = false;
        if (m_pPL->GetCaptureStart(&bStarted) != 0 || !bStarted) return VYXZEB_RET_CAPTURE_NOT_STARTED;
        m_pPL->CMD_WrReg_FPGA(vyxpl::fpga::kSoftTrigger, vyxpl::fpga::kPulseOn);
    }

    const timespec deadline = DeadlineAfterMs(m_unTimeOut.load());
    const bool bWoken = sem_timedwait(m_pSemCapture, &deadline) == 0;

    // A wake-up that overlapped a trigger-mode change may come from the
    // change's own post, or from a frame the change then emptied: neither
    // names a valid frame.
    if (!bWoken || m_bChangingTriggerMode.load() || m_unTriggerModeChanges.load() != unChangesAtEntry) {
        *ppData = nullptr;
        return VYXZEB_RET_CAPTURE_TIMEOUT;
    }

    // The PL names the buffer holding the newest frame at this moment,
    // whichever post woke the wait.
    *ppData = m_pMapBaseFrameBuffer[m_pPL->GetFrmBufId() & (vyxpl::phys::kFrameBufferCount - 1)];
    return VYXZEB_RET_SUCCESS;
}

int CVYXSet::ReleaseFrameBuffer() { return PL(VYXZEB_RET_PL_UNAVAILABLE, &CPL::ReleaseFrameBuffer); }

int CVYXSet::SetTimeOut(unsigned long ulTimeOut) {
    m_unTimeOut.store(ulTimeOut);
    return VYXZEB_RET_SUCCESS;
}

int CVYXSet::GetTimeOut(unsigned long* pulTimeOut) {
    if (pulTimeOut) *pulTimeOut = m_unTimeOut.load();
    return VYXZEB_RET_SUCCESS;
}

int CVYXSet::SetTriggerCallback(VYXSET_TRIGGER_CALLBACK pfnCallback) {
    m_pTriggerCallback = pfnCallback;
    return VYXZEB_RET_SUCCESS;
}

// The PL must be told the frame size whenever the sensor's window or address
// mode changed; without a PL there is nothing to resynchronise.
int CVYXSet::UpdatePL_WhenSensorFovChanged() {
    return PL(VYXZEB_RET_SUCCESS, &CPL::SyncSensorSize_WhenSensorFovChanged);
}

int CVYXSet::ValidatePLAllBatReg() { return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::ValidateAllBatReg); }

int CVYXSet::RdRegFPGA(unsigned short usOffset, unsigned long* pulValue) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::CMD_RdReg_FPGA, usOffset, pulValue);
}
int CVYXSet::WrRegFPGA(unsigned short usOffset, unsigned long ulValue) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::CMD_WrReg_FPGA, usOffset, ulValue);
}
int CVYXSet::GetVersionFPGA(unsigned long* pulVersion) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::GetVersionFPGA, pulVersion);
}
int CVYXSet::GetFrameBuf(unsigned long* pulNumber) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::GetFrameBuf, pulNumber);
}
int CVYXSet::SetFrameBuf(unsigned long ulNumber) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::SetFrameBuf, ulNumber);
}
int CVYXSet::GetMultiFrame(unsigned long* pulCount) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::GetMultiFrame, pulCount);
}
int CVYXSet::SetMultiFrame(unsigned long ulCount) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::SetMultiFrame, ulCount);
}
int CVYXSet::GetFixFrameRate(unsigned long* pulPeriod) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::GetFixFrameRate, pulPeriod);
}
int CVYXSet::SetFixFrameRate(unsigned long ulPeriod) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::SetFixFrameRate, ulPeriod);
}
int CVYXSet::ClearWriteFrameBuf(unsigned long ulValue) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::ClearWriteFrameBuf, ulValue);
}
int CVYXSet::ClearReadFrameBuf(unsigned long ulValue) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::ClearReadFrameBuf, ulValue);
}
int CVYXSet::EmptyFrameBuffer() { return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::EmptyFrameBuffer); }
