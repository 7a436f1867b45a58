// VYXSet_Base.cpp - the sensor operations of a set: each goes to the sensor
// object's slot of the same name; a set without a sensor object answers
// -1025.  Changes of the window or the address mode also tell the PL the new
// frame size, as the PL cuts frames by pixel count.
#include "ISensor.h"
#include "VYXSet.h"

int CVYXSet::SetCaptureFieldOfView(unsigned long ulX, unsigned long ulY, unsigned long ulWidth,
                                   unsigned long ulHeight) {
    const int nRet = Sensor(&CISensor::SetCaptureFieldOfView, ulX, ulY, ulWidth, ulHeight);
    if (nRet == 0) UpdatePL_WhenSensorFovChanged();
    return nRet;
}

int CVYXSet::SetAddressMode(VYX_ADDRESSMODE eMode) {
    int nRet = Sensor(&CISensor::SetRowAddressMode, eMode);
    if (nRet == 0) nRet = Sensor(&CISensor::SetColAddressMode, eMode);
    if (nRet == 0) UpdatePL_WhenSensorFovChanged();
    return nRet;
}

int CVYXSet::GetAddressMode(VYX_ADDRESSMODE* peMode) { return GetRowAddressMode(peMode); }

int CVYXSet::GetSensorType(VYXZEB_SENSOR_TYPE* pType) { return SensorEnum(&CISensor::GetType, pType); }
int CVYXSet::GetColAddressMode(VYX_ADDRESSMODE* peMode) { return SensorEnum(&CISensor::GetColAddressMode, peMode); }
int CVYXSet::GetRowAddressMode(VYX_ADDRESSMODE* peMode) { return SensorEnum(&CISensor::GetRowAddressMode, peMode); }
int CVYXSet::SetColAddressMode(VYX_ADDRESSMODE eMode) { return Sensor(&CISensor::SetColAddressMode, eMode); }
int CVYXSet::SetRowAddressMode(VYX_ADDRESSMODE eMode) { return Sensor(&CISensor::SetRowAddressMode, eMode); }

int CVYXSet::FlashSetEnable(bool bEnable) { return Sensor(&CISensor::FlashSetEnable, bEnable); }
int CVYXSet::FlashGetEnable(bool* pbEnable) { return Sensor(&CISensor::FlashGetEnable, pbEnable); }
int CVYXSet::FlashSetInvert(bool bInvert) { return Sensor(&CISensor::FlashSetInvert, bInvert); }
int CVYXSet::FlashGetInvert(bool* pbInvert) { return Sensor(&CISensor::FlashGetInvert, pbInvert); }

int CVYXSet::GetCaptureFieldOfViewRange(unsigned long* pulX, unsigned long* pulY, unsigned long* pulWidth,
                                        unsigned long* pulHeight) {
    return Sensor(&CISensor::GetCaptureFieldOfViewRange, pulX, pulY, pulWidth, pulHeight);
}
int CVYXSet::GetCaptureFieldOfView(unsigned long* pulX, unsigned long* pulY, unsigned long* pulWidth,
                                   unsigned long* pulHeight) {
    return Sensor(&CISensor::GetCaptureFieldOfView, pulX, pulY, pulWidth, pulHeight);
}
int CVYXSet::GetCaptureSize(int* pnWidth, int* pnHeight, int* pnBitCount) {
    return Sensor(&CISensor::GetCaptureSize, pnWidth, pnHeight, pnBitCount);
}

int CVYXSet::GetGainRange(unsigned long* pulMin, unsigned long* pulMax) {
    return Sensor(&CISensor::GetGainRange, pulMin, pulMax);
}
int CVYXSet::SetGain(unsigned long ulGain) { return Sensor(&CISensor::SetGain, ulGain); }
int CVYXSet::GetGain(unsigned long* pulGain) { return Sensor(&CISensor::GetGain, pulGain); }

int CVYXSet::GetExposureLinesRange(unsigned long* pulMin, unsigned long* pulMax) {
    return Sensor(&CISensor::GetExposureLinesRange, pulMin, pulMax);
}
int CVYXSet::SetExposureLines(unsigned long ulLines) { return Sensor(&CISensor::SetExposureLines, ulLines); }
int CVYXSet::GetExposureLines(unsigned long* pulLines) { return Sensor(&CISensor::GetExposureLines, pulLines); }
int CVYXSet::GetExposureTimeRange(float* pfMin, float* pfMax) {
    return Sensor(&CISensor::GetExposureTimeRange, pfMin, pfMax);
}
int CVYXSet::SetExposureTime(float fTime) { return Sensor(&CISensor::SetExposureTime, fTime); }
int CVYXSet::GetExposureTime(float* pfTime) { return Sensor(&CISensor::GetExposureTime, pfTime); }

int CVYXSet::SetMirror(bool bMirror) { return Sensor(&CISensor::SetMirror, bMirror); }
int CVYXSet::GetMirror(bool* pbMirror) { return Sensor(&CISensor::GetMirror, pbMirror); }
int CVYXSet::SetFlip(bool bFlip) { return Sensor(&CISensor::SetFlip, bFlip); }
int CVYXSet::GetFlip(bool* pbFlip) { return Sensor(&CISensor::GetFlip, pbFlip); }
