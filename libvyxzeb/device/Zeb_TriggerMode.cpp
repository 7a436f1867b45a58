// Zeb_TriggerMode.cpp - per-index forwarders of acquisition: capture, trigger
// mode, delay, filter, frame rate and the PL's frame-buffer bookkeeping.
#include "VYXSet.h"
#include "Zeb.h"

int CZeb::SetTriggerCallback(int i, VYXZEB_TRIGGER_CALLBACK_FN pfn) {
    return Query(i, &CVYXSet::SetTriggerCallback, pfn);
}
int CZeb::SetTimeOut(int i, unsigned long v) { return Setting(i, &CVYXSet::SetTimeOut, v); }
int CZeb::ReleaseFrameBuffer(int i) { return Query(i, &CVYXSet::ReleaseFrameBuffer); }
int CZeb::CaptureData(int i, unsigned char** pp) { return Call(i, &CVYXSet::CaptureData, pp); }
int CZeb::EmptyFrameBuffer(int i) { return Query(i, &CVYXSet::EmptyFrameBuffer); }
int CZeb::SetTriggerMode(int i, VYXZEB_TRIGGER_MODE m) { return Setting(i, &CVYXSet::SetTriggerMode, m); }
int CZeb::GetTriggerMode(int i, VYXZEB_TRIGGER_MODE* p) { return Query(i, &CVYXSet::GetTriggerMode, p); }
int CZeb::GetTriggerDelayRange(int i, unsigned long* pMin, unsigned long* pMax) {
    return Query(i, &CVYXSet::GetTriggerDelayRange, pMin, pMax);
}
int CZeb::SetTriggerDelay(int i, unsigned long v) { return Setting(i, &CVYXSet::SetTriggerDelay, v); }
int CZeb::GetTriggerDelay(int i, unsigned long* p) { return Query(i, &CVYXSet::GetTriggerDelay, p); }
int CZeb::SetFrameBuf(int i, unsigned long v) { return Setting(i, &CVYXSet::SetFrameBuf, v); }
int CZeb::GetFrameBuf(int i, unsigned long* p) { return Query(i, &CVYXSet::GetFrameBuf, p); }
int CZeb::SetMultiFrame(int i, unsigned long v) { return Setting(i, &CVYXSet::SetMultiFrame, v); }
int CZeb::GetMultiFrame(int i, unsigned long* p) { return Query(i, &CVYXSet::GetMultiFrame, p); }
int CZeb::SetFixFrameRate(int i, unsigned long v) { return Setting(i, &CVYXSet::SetFixFrameRate, v); }
int CZeb::GetFixFrameRate(int i, unsigned long* p) { return Query(i, &CVYXSet::GetFixFrameRate, p); }
int CZeb::SetTriggerFilter(int i, unsigned short v) { return Setting(i, &CVYXSet::SetTriggerFilter, v); }
int CZeb::GetTriggerFilter(int i, unsigned short* p) { return Query(i, &CVYXSet::GetTriggerFilter, p); }
