// VYXSet_Capture.cpp - frame capture: waiting for the PL's frame interrupt,
// the software trigger, the capture time-out and the release of frame
// buffers to the PL.
//
// The PL fills its four frame buffers in turn and raises the set's capture
// interrupt for each filled buffer; register 52 names the buffer holding the
// newest frame.  A filled buffer stays the application's until a release
// (register 72) frees it; the PL frees filled buffers oldest first.  The
// hand-shake with the interrupt thread and with trigger-mode changes lives in
// m_Sync (CaptureSync.h).
#include "PL.h"
#include "VYXLog.h"
#include "VYXSet.h"
#include "LogHandle.h"

namespace {

const char kCaptureName[] = "CaptureData";

int NoFrame(unsigned char** ppData) {
    *ppData = nullptr;
    return VYXZEB_RET_CAPTURE_TIMEOUT;
}

}  // namespace

// The deadline runs from the call: a capture that first waits for a
// trigger-mode change to end has that much less time for its frame.
int CVYXSet::CaptureData(unsigned char** ppData) {
    if (!ppData) return VYXZEB_RET_BAD_PARAMETER;
    if (!m_pPL) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(----------%s because the m_pPL is null)", kCaptureName);
        return VYXZEB_RET_SET_UNAVAILABLE;
    }
    CCaptureSync::CCapture capture(m_Sync, CCaptureSync::DeadlineAfterMs(m_unTimeOut.load()));
    if (!capture.Ok()) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(----------%s cannot wait for a frame)", kCaptureName);
        return NoFrame(ppData);
    }
    if (capture.Enter() != CCaptureSync::Result::Ready) return NoFrame(ppData);

    VYXZEB_TRIGGER_MODE eMode = VYXZEB_TRIGGER_SOFTWARE;
    const int nRet = m_pPL->GetTriggerMode(&eMode);
    if (nRet != 0) {
        VYXLOG_OutputStringEx(SdkLog(), 1, "VYXERR_(----------%s nRet(%d) m_pPL(%p) get trgger mode failed)",
                              kCaptureName, nRet, static_cast<void*>(m_pPL));
        return nRet;
    }
    if (eMode == VYXZEB_TRIGGER_SOFTWARE) {
        // The PL ignores a software trigger while acquisition is stopped; the
        // caller would only wait out the time-out.
        bool bStarted = false;
        if (m_pPL->GetCaptureStart(&bStarted) != 0 || !bStarted) return VYXZEB_RET_CAPTURE_NOT_STARTED;
        if (!FireSoftwareTrigger(capture)) return NoFrame(ppData);
    }

    if (capture.TakeFrame() != CCaptureSync::Result::Ready) return NoFrame(ppData);
    // The PL names the buffer holding the newest frame.
    *ppData = m_pMapBaseFrameBuffer[m_pPL->GetFrmBufId() & (vyxpl::phys::kFrameBufferCount - 1)];
    return VYXZEB_RET_SUCCESS;
}

// Frames of triggers that earlier captures gave up on are released first, so
// that the frame this capture waits for is its own trigger's.
bool CVYXSet::FireSoftwareTrigger(CCaptureSync::CCapture& capture) {
    unsigned long ulFramesPerBuffer = 1;
    m_pPL->GetMultiFrame(&ulFramesPerBuffer);
    unsigned unReleases = 0;
    const CCaptureSync::Result eSettled = capture.SettleAbandoned(static_cast<unsigned>(ulFramesPerBuffer), &unReleases);
    ReleaseToPL(unReleases);
    if (eSettled != CCaptureSync::Result::Ready) return false;
    m_pPL->SoftwareTrigger();
    return true;
}

void CVYXSet::ReleaseToPL(unsigned unReleases) {
    for (unsigned i = 0; i < unReleases; ++i) m_pPL->ReleaseFrameBuffer();
}

// Gives one frame back.  Frames the hand-shake discarded while the
// application held frames go back right after it, oldest first as the PL
// frees them.
int CVYXSet::ReleaseFrameBuffer() {
    if (!m_pPL) return VYXZEB_RET_PL_UNAVAILABLE;
    const unsigned unReleases = m_Sync.Release();
    const int nRet = m_pPL->ReleaseFrameBuffer();
    ReleaseToPL(unReleases - 1);
    return nRet;
}

void CVYXSet::AnnounceFrame() { m_Sync.Announce(); }

int CVYXSet::SetTimeOut(unsigned long ulTimeOut) {
    m_unTimeOut.store(ulTimeOut);
    return VYXZEB_RET_SUCCESS;
}

int CVYXSet::GetTimeOut(unsigned long* pulTimeOut) {
    if (pulTimeOut) *pulTimeOut = m_unTimeOut.load();
    return VYXZEB_RET_SUCCESS;
}
