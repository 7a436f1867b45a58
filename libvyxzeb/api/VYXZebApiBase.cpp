// VYXZebApiBase.cpp - life cycle, identification, log switch and the sensor
// settings.
#include <cmath>
#include <new>

#include "VYXLog.h"
#include "VYXZebApiInternal.h"

using vyxapi::ToDevice;

namespace {
constexpr int kLibVersion[4] = {2, 2, 0, 0};
constexpr unsigned kKindShift = 24;
constexpr unsigned long kKindMask = 0xFF;
}  // namespace

extern "C" {

VYXZEB_API int VYXZEB_Init(void) {
    if (g_Zeb) return VYXZEB_RET_ALREADY_INITIALIZED;
    bool bInit = false;
    CZeb* pZeb = new (std::nothrow) CZeb(&bInit);
    if (!pZeb) return VYXZEB_RET_FAILED;
    g_Zeb = pZeb;
    if (bInit) return VYXZEB_RET_SUCCESS;
    delete pZeb;
    g_Zeb = nullptr;
    return VYXZEB_RET_FAILED;
}

VYXZEB_API int VYXZEB_UnInit(void) {
    CZeb* pZeb = g_Zeb;
    if (!pZeb) return VYXZEB_RET_NOT_INITIALIZED;
    delete pZeb;
    g_Zeb = nullptr;
    return VYXZEB_RET_SUCCESS;
}

VYXZEB_API int VYXZEB_GetLibVersion(int* pnMajor, int* pnMinor, int* pnThird, int* pnFourth) {
    if (!pnMajor || !pnMinor || !pnThird || !pnFourth) return VYXZEB_RET_BAD_PARAMETER;
    *pnMajor = kLibVersion[0];
    *pnMinor = kLibVersion[1];
    *pnThird = kLibVersion[2];
    *pnFourth = kLibVersion[3];
    return VYXZEB_RET_SUCCESS;
}

VYXZEB_API int VYXZEB_GetSensorNum(int* pnNum) { return ToDevice(&CZeb::GetSensorNum, pnNum); }

VYXZEB_API int VYXZEB_GetSensorType(int nIndex, VYXZEB_SENSOR_TYPE* pType) {
    return ToDevice(&CZeb::GetSensorType, nIndex, pType);
}

VYXZEB_API int VYXZEB_GetDeviceInformation(int nIndex, int* pnKind, int* pnVersion) {
    if (!vyxapi::Initialised()) return VYXZEB_RET_NOT_INITIALIZED;
    if (!pnKind || !pnVersion) return VYXZEB_RET_BAD_PARAMETER;
    unsigned long ulWord = 0;
    int nRet = g_Zeb->GetPLVersion(nIndex, &ulWord);
    if (nRet != 0) return nRet;
    const int nTop = static_cast<int>((ulWord >> kKindShift) & kKindMask);
    *pnKind = nTop == 0 ? 0 : nTop - 1;
    *pnVersion = static_cast<int>(static_cast<unsigned int>(ulWord));
    return VYXZEB_RET_SUCCESS;
}

VYXZEB_API int VYXZEB_LogSet(bool bEnable, const char* pszFolder) { return VYXLOG_LogSet(bEnable, pszFolder); }
VYXZEB_API int VYXZEB_LogGet(bool* pbEnable, char* pszFolder) { return VYXLOG_LogGet(pbEnable, pszFolder); }

// ---- sensor settings ----
VYXZEB_API int VYXZEB_GetCaptureFieldOfViewRange(int i, unsigned long* pX, unsigned long* pY, unsigned long* pW,
                                                 unsigned long* pH) {
    return ToDevice(&CZeb::GetCaptureFieldOfViewRange, i, pX, pY, pW, pH);
}
VYXZEB_API int VYXZEB_SetCaptureFieldOfView(int i, unsigned long x, unsigned long y, unsigned long w,
                                            unsigned long h) {
    return ToDevice(&CZeb::SetCaptureFieldOfView, i, x, y, w, h);
}
VYXZEB_API int VYXZEB_GetCaptureFieldOfView(int i, unsigned long* pX, unsigned long* pY, unsigned long* pW,
                                            unsigned long* pH) {
    return ToDevice(&CZeb::GetCaptureFieldOfView, i, pX, pY, pW, pH);
}
VYXZEB_API int VYXZEB_SetAddressMode(int i, VYX_ADDRESSMODE m) { return ToDevice(&CZeb::SetAddressMode, i, m); }
VYXZEB_API int VYXZEB_GetAddressMode(int i, VYX_ADDRESSMODE* p) { return ToDevice(&CZeb::GetAddressMode, i, p); }
VYXZEB_API int VYXZEB_GetCaptureSize(int i, int* pW, int* pH, int* pB) {
    return ToDevice(&CZeb::GetCaptureSize, i, pW, pH, pB);
}
VYXZEB_API int VYXZEB_GetGainRange(int i, unsigned long* pMin, unsigned long* pMax) {
    return ToDevice(&CZeb::GetGainRange, i, pMin, pMax);
}
VYXZEB_API int VYXZEB_SetGain(int i, unsigned long v) { return ToDevice(&CZeb::SetGain, i, v); }
VYXZEB_API int VYXZEB_GetGain(int i, unsigned long* p) { return ToDevice(&CZeb::GetGain, i, p); }
VYXZEB_API int VYXZEB_GetExposureLinesRange(int i, unsigned long* pMin, unsigned long* pMax) {
    return ToDevice(&CZeb::GetExposureLinesRange, i, pMin, pMax);
}
VYXZEB_API int VYXZEB_SetExposureLines(int i, unsigned long v) { return ToDevice(&CZeb::SetExposureLines, i, v); }
VYXZEB_API int VYXZEB_GetExposureLines(int i, unsigned long* p) { return ToDevice(&CZeb::GetExposureLines, i, p); }
VYXZEB_API int VYXZEB_GetExposureTimeRange(int i, float* pMin, float* pMax) {
    return ToDevice(&CZeb::GetExposureTimeRange, i, pMin, pMax);
}
// A time that is not a number or is negative (or infinite) names no exposure
// at all; every finite, non-negative time is limited to the sensor's range.
VYXZEB_API int VYXZEB_SetExposureTime(int i, float v) {
    if (!vyxapi::Initialised()) return VYXZEB_RET_NOT_INITIALIZED;
    if (!std::isfinite(v) || v < 0.0f) return VYXZEB_RET_BAD_PARAMETER;
    return g_Zeb->SetExposureTime(i, v);
}
VYXZEB_API int VYXZEB_GetExposureTime(int i, float* p) { return ToDevice(&CZeb::GetExposureTime, i, p); }
VYXZEB_API int VYXZEB_SetMirror(int i, bool b) { return ToDevice(&CZeb::SetMirror, i, b); }
VYXZEB_API int VYXZEB_GetMirror(int i, bool* p) { return ToDevice(&CZeb::GetMirror, i, p); }
VYXZEB_API int VYXZEB_SetFlip(int i, bool b) { return ToDevice(&CZeb::SetFlip, i, b); }
VYXZEB_API int VYXZEB_GetFlip(int i, bool* p) { return ToDevice(&CZeb::GetFlip, i, p); }

}  // extern "C"
