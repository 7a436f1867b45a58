// VYXSet_TriggerMode.cpp - the trigger-mode change and the emptying of the
// frame buffers, with their hand-shake to waiting captures, and the trigger
// settings of the PL.
#include "PL.h"
#include "VYXLog.h"
#include "VYXSet.h"
#include "LogHandle.h"

// Changing the mode stops the PL and empties its frame buffers, so a capture
// waiting in another thread would otherwise wait for a frame that never
// comes, or wake on a buffer that has just been emptied.  During the change
// waiting captures give up with -1011 and new ones wait for its end; the
// announcements of the emptied frames are forgotten before acquisition runs
// again.  Acquisition always runs afterwards.  A mode the PL does not have is
// refused before anything is touched.
int CVYXSet::SetTriggerMode(VYXZEB_TRIGGER_MODE eMode) {
    VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(+++================%s ))", "SetTriggerMode");
    if (!m_pPL) return VYXZEB_RET_PL_UNAVAILABLE;
    if (!CPL::IsTriggerMode(eMode)) return VYXZEB_RET_BAD_PARAMETER;

    CCaptureSync::CChange change(m_Sync);
    m_pPL->SetCaptureStart(false);
    m_pPL->EmptyFrameBuffer();
    const int nRet = m_pPL->SetTriggerMode(eMode);
    m_Sync.ForgetFrames();
    m_pPL->SetCaptureStart(true);
    return nRet;
}

// Stops acquisition and clears the PL's buffers: the frames announced so far
// are gone, and so are the buffers the application held.
int CVYXSet::EmptyFrameBuffer() {
    if (!m_pPL) return VYXZEB_RET_SET_UNAVAILABLE;
    CCaptureSync::CChange change(m_Sync);
    const int nRet = m_pPL->EmptyFrameBuffer();
    m_Sync.ForgetFrames();
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
