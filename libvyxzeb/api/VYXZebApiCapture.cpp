// VYXZebApiCapture.cpp - acquisition: capture, trigger, frame rate and the
// PL's frame-buffer settings.
#include "MemMap.h"
#include "VYXZebApiInternal.h"

using namespace vyxapi;

extern "C" {

VYXZEB_API int VYXZEB_CaptureSetTimeOut(int i, unsigned long ms) { return ToDevice(&CZeb::SetTimeOut, i, ms); }
VYXZEB_API int VYXZEB_CaptureData(int i, unsigned char** pp) { return ToDevice(&CZeb::CaptureData, i, pp); }
VYXZEB_API int VYXZEB_ReleaseBuffer(int i) { return ToDevice(&CZeb::ReleaseFrameBuffer, i); }
VYXZEB_API int VYXZEB_EmptyFrameBuffer(int i) { return ToDevice(&CZeb::EmptyFrameBuffer, i); }
VYXZEB_API int VYXZEB_GetTriggerMode(int i, VYXZEB_TRIGGER_MODE* p) { return ToDevice(&CZeb::GetTriggerMode, i, p); }
VYXZEB_API int VYXZEB_SetTriggerMode(int i, VYXZEB_TRIGGER_MODE m) { return ToDevice(&CZeb::SetTriggerMode, i, m); }
VYXZEB_API int VYXZEB_SetTriggerCallback(int i, VYXZEB_TRIGGER_CALLBACK pfn) {
    return ToDevice(&CZeb::SetTriggerCallback, i, pfn);
}
VYXZEB_API int VYXZEB_GetTriggerDelayRange(int i, unsigned long* pMin, unsigned long* pMax) {
    return ToDevice(&CZeb::GetTriggerDelayRange, i, pMin, pMax);
}
VYXZEB_API int VYXZEB_GetTriggerDelay(int i, unsigned long* p) { return ToDevice(&CZeb::GetTriggerDelay, i, p); }
VYXZEB_API int VYXZEB_SetTriggerDelay(int i, unsigned long v) { return ToDevice(&CZeb::SetTriggerDelay, i, v); }
VYXZEB_API int VYXZEB_GetTriggerFilter(int i, unsigned short* p) { return ToDeviceWithOutput(&CZeb::GetTriggerFilter, i, p); }
VYXZEB_API int VYXZEB_SetTriggerFilter(int i, unsigned short v) { return ToDevice(&CZeb::SetTriggerFilter, i, v); }
VYXZEB_API int VYXZEB_RdRegFPGA(int i, unsigned short off, unsigned long* p) {
    return ToDevice(&CZeb::RdRegFPGA, i, off, p);
}
VYXZEB_API int VYXZEB_WrRegFPGA(int i, unsigned short off, unsigned long v) {
    return ToDevice(&CZeb::WrRegFPGA, i, off, v);
}

// The PL keeps a frame period in microseconds; the API speaks frames per
// second.  0 switches the fixed rate off in both directions.
VYXZEB_API int VYXZEB_GetFixFrameRate(int i, unsigned long* pFps) {
    if (!Initialised()) return VYXZEB_RET_NOT_INITIALIZED;
    if (!pFps) return VYXZEB_RET_BAD_PARAMETER;
    unsigned long ulPeriod = 0;
    int nRet = g_Zeb->GetFixFrameRate(i, &ulPeriod);
    if (nRet != 0) return nRet;
    *pFps = ulPeriod == 0 ? 0 : kMicrosecondsPerSecond / ulPeriod;
    return VYXZEB_RET_SUCCESS;
}

VYXZEB_API int VYXZEB_SetFixFrameRate(int i, unsigned long ulFps) {
    if (!Initialised()) return VYXZEB_RET_NOT_INITIALIZED;
    return g_Zeb->SetFixFrameRate(i, ulFps == 0 ? 0 : kMicrosecondsPerSecond / ulFps);
}

// Several frames can share one 10 MiB frame buffer; the count is bounded by
// how many frames of the current size fit.
VYXZEB_API int VYXZEB_GetMultiFrameRange(int i, unsigned long* pMin, unsigned long* pMax) {
    if (!Initialised()) return VYXZEB_RET_NOT_INITIALIZED;
    if (!pMin || !pMax) return VYXZEB_RET_BAD_PARAMETER;
    int nFrameBytes = 0;
    int nRet = FrameBytes(i, &nFrameBytes);
    if (nRet != 0) return nRet;
    if (nFrameBytes == 0) return VYXZEB_RET_FAILED;
    *pMin = 1;
    *pMax = vyxpl::phys::kFrameBufferSize / static_cast<unsigned int>(nFrameBytes);
    return VYXZEB_RET_SUCCESS;
}

VYXZEB_API int VYXZEB_GetMultiFrame(int i, unsigned long* p) { return ToDeviceWithOutput(&CZeb::GetMultiFrame, i, p); }

VYXZEB_API int VYXZEB_SetMultiFrame(int i, unsigned long ulCount) {
    if (!Initialised()) return VYXZEB_RET_NOT_INITIALIZED;
    if (ulCount == 0) return VYXZEB_RET_BAD_PARAMETER;
    int nFrameBytes = 0;
    int nRet = FrameBytes(i, &nFrameBytes);
    if (nRet != 0) return nRet;
    if (nFrameBytes == 0) return VYXZEB_RET_FAILED;
    if (ulCount > vyxpl::phys::kFrameBufferSize / static_cast<unsigned int>(nFrameBytes))
        return VYXZEB_RET_BAD_PARAMETER;
    return g_Zeb->SetMultiFrame(i, ulCount);
}

VYXZEB_API int VYXZEB_GetTriggerFilterRange(int /*nIndex*/, unsigned short* pMin, unsigned short* pMax) {
    if (!Initialised()) return VYXZEB_RET_NOT_INITIALIZED;
    if (!pMin || !pMax) return VYXZEB_RET_BAD_PARAMETER;
    *pMin = kTriggerFilterMin;
    *pMax = kTriggerFilterMax;
    return VYXZEB_RET_SUCCESS;
}

}  // extern "C"

// These two keep their C++ names in the symbol table.
VYXZEB_API int VYXZEB_GetFrameBufNum(int i, unsigned long* p) { return ToDeviceWithOutput(&CZeb::GetFrameBuf, i, p); }

VYXZEB_API int VYXZEB_SetFrameBufNum(int i, unsigned long ulNumber) {
    if (!Initialised()) return VYXZEB_RET_NOT_INITIALIZED;
    if (ulNumber > kMaxFrameBufNumber) return VYXZEB_RET_BAD_PARAMETER;
    return g_Zeb->SetFrameBuf(i, ulNumber);
}
