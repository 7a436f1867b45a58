// Zeb_Base.cpp - per-index forwarders of the sensor settings.  Setters
// validate the set's batch registers first (Setting), getters only look the
// set up (Query).
#include "VYXSet.h"
#include "Zeb.h"

int CZeb::GetCaptureFieldOfViewRange(int i, unsigned long* pX, unsigned long* pY, unsigned long* pW,
                                     unsigned long* pH) {
    return Query(i, &CVYXSet::GetCaptureFieldOfViewRange, pX, pY, pW, pH);
}
int CZeb::SetCaptureFieldOfView(int i, unsigned long x, unsigned long y, unsigned long w, unsigned long h) {
    return Setting(i, &CVYXSet::SetCaptureFieldOfView, x, y, w, h);
}
int CZeb::GetCaptureFieldOfView(int i, unsigned long* pX, unsigned long* pY, unsigned long* pW,
                                unsigned long* pH) {
    return Query(i, &CVYXSet::GetCaptureFieldOfView, pX, pY, pW, pH);
}
int CZeb::SetAddressMode(int i, VYX_ADDRESSMODE m) { return Setting(i, &CVYXSet::SetAddressMode, m); }
int CZeb::GetAddressMode(int i, VYX_ADDRESSMODE* p) { return Query(i, &CVYXSet::GetAddressMode, p); }
int CZeb::SetColAddressMode(int i, VYX_ADDRESSMODE m) { return Setting(i, &CVYXSet::SetColAddressMode, m); }
int CZeb::SetRowAddressMode(int i, VYX_ADDRESSMODE m) { return Setting(i, &CVYXSet::SetRowAddressMode, m); }
int CZeb::GetColAddressMode(int i, VYX_ADDRESSMODE* p) { return Query(i, &CVYXSet::GetColAddressMode, p); }
int CZeb::GetRowAddressMode(int i, VYX_ADDRESSMODE* p) { return Query(i, &CVYXSet::GetRowAddressMode, p); }
int CZeb::GetCaptureSize(int i, int* pW, int* pH, int* pB) { return Query(i, &CVYXSet::GetCaptureSize, pW, pH, pB); }
int CZeb::GetGainRange(int i, unsigned long* pMin, unsigned long* pMax) {
    return Query(i, &CVYXSet::GetGainRange, pMin, pMax);
}
int CZeb::SetGain(int i, unsigned long v) { return Setting(i, &CVYXSet::SetGain, v); }
int CZeb::GetGain(int i, unsigned long* p) { return Query(i, &CVYXSet::GetGain, p); }
int CZeb::GetExposureLinesRange(int i, unsigned long* pMin, unsigned long* pMax) {
    return Query(i, &CVYXSet::GetExposureLinesRange, pMin, pMax);
}
int CZeb::SetExposureLines(int i, unsigned long v) { return Setting(i, &CVYXSet::SetExposureLines, v); }
int CZeb::GetExposureLines(int i, unsigned long* p) { return Query(i, &CVYXSet::GetExposureLines, p); }
int CZeb::GetExposureTimeRange(int i, float* pMin, float* pMax) {
    return Query(i, &CVYXSet::GetExposureTimeRange, pMin, pMax);
}
int CZeb::SetExposureTime(int i, float v) { return Setting(i, &CVYXSet::SetExposureTime, v); }
int CZeb::GetExposureTime(int i, float* p) { return Query(i, &CVYXSet::GetExposureTime, p); }
int CZeb::SetMirror(int i, bool b) { return Setting(i, &CVYXSet::SetMirror, b); }
int CZeb::GetMirror(int i, bool* p) { return Query(i, &CVYXSet::GetMirror, p); }
int CZeb::SetFlip(int i, bool b) { return Setting(i, &CVYXSet::SetFlip, b); }
int CZeb::GetFlip(int i, bool* p) { return Query(i, &CVYXSet::GetFlip, p); }
int CZeb::FlashSetEnable(int i, bool b) { return Setting(i, &CVYXSet::FlashSetEnable, b); }
int CZeb::FlashGetEnable(int i, bool* p) { return Query(i, &CVYXSet::FlashGetEnable, p); }
int CZeb::FlashSetInvert(int i, bool b) { return Setting(i, &CVYXSet::FlashSetInvert, b); }
int CZeb::FlashGetInvert(int i, bool* p) { return Query(i, &CVYXSet::FlashGetInvert, p); }
int CZeb::GetSensorType(int i, VYXZEB_SENSOR_TYPE* p) { return Query(i, &CVYXSet::GetSensorType, p); }
