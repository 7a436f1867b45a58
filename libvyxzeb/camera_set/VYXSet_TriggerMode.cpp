// VYXSet_TriggerMode.cpp - the trigger-mode change with its hand-shake to a
// waiting capture, and the trigger settings of the PL.
#include <semaphore.h>

#include "PL.h"
#include "VYXLog.h"
#include "VYXSet.h"

// Changing the mode stops the PL and empties its frame buffers, so a capture
// waiting in another thread would otherwise wait for a frame that never
// comes, or wake on a buffer that has just been emptied.  The set raises
// m_bChangingTriggerMode and bumps m_unTriggerModeChanges (odd while the
// change runs), posts once so a waiting capture wakes and gives up with
// -1011, then drains every count that piled up meanwhile.  A capture whose
// wake-up loses the race against the drain waits until its deadline and
// then also returns -1011.  Acquisition always runs again afterwards.
int CVYXSet::SetTriggerMode(VYXZEB_TRIGGER_MODE eMode) {
    VYXLOG_OutputStringEx(hVYXLog, 1, "VYXERR_(+++================%s ))", "SetTriggerMode");
    if (!m_pPL) return VYXZEB_RET_PL_UNAVAILABLE;

    m_pPL->SetCaptureStart(false);
    m_unTriggerModeChanges.fetch_add(1);
    m_bChangingTriggerMode.store(true);
    EmptyFrameBuffer();
    const int nRet = m_pPL->SetTriggerMode(eMode);

    sem_post(m_pSemCapture);
    while (sem_trywait(m_pSemCapture) == 0) {
    }

    m_bChangingTriggerMode.store(false);
    m_unTriggerModeChanges.fetch_add(1);
    m_pPL->SetCaptureStart(true);
    return nRet;
}

int CVYXSet::GetTriggerMode(VYXZEB_TRIGGER_MODE* peMode) {
    return PL(VYXZEB_RET_PL_UNAVAILABLE, &CPL::GetTriggerMode, peMode);
}
int CVYXSet::GetTriggerDelayRange(unsigned long* pulMin, unsigned long* pulMax) {
    return PL(VYXZEB_RET_PL_UNAVAILABLE, &CPL::GetTriggerDelayRange, pulMin, pulMax);
}
int CVYXSet::GetTriggerDelay(unsigned long* pulDelay) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::GetTriggerDelay, pulDelay);
}
int CVYXSet::SetTriggerDelay(unsigned long ulDelay) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::SetTriggerDelay, ulDelay);
}
int CVYXSet::GetTriggerFilter(unsigned short* pusFilter) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::GetTriggerFilter, pusFilter);
}
int CVYXSet::SetTriggerFilter(unsigned short usFilter) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::SetTriggerFilter, usFilter);
}
