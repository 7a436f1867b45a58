// VYXSet_Base.cpp - the sensor operations of a set: each goes to the sensor
// object's slot of the same name; a set without a sensor object answers
// -1025.  Changes of the window or the address mode also tell the PL the new
// frame size, as the PL cuts frames by pixel count.
#include "plugin/ISensor.h"
#include "PL.h"
#include "VYXLog.h"
#include "VYXSet.h"
#include "LogHandle.h"

// What a window or address-mode change may have to undo: the window, both
// address modes and the exposure lines (a change of the line length moves
// them).
struct CVYXSet::SensorGeometry {
    unsigned long ulX = 0, ulY = 0, ulWidth = 0, ulHeight = 0;
    int nColMode = 0, nRowMode = 0;
    unsigned long ulExposureLines = 0;
};

CVYXSet::SensorGeometry CVYXSet::SaveGeometry() {
    SensorGeometry g;
    Sensor(&CISensor::GetCaptureFieldOfView, &g.ulX, &g.ulY, &g.ulWidth, &g.ulHeight);
    Sensor(&CISensor::GetColAddressMode, &g.nColMode);
    Sensor(&CISensor::GetRowAddressMode, &g.nRowMode);
    Sensor(&CISensor::GetExposureLines, &g.ulExposureLines);
    return g;
}

// The column setter writes both modes; the row setter then puts the row mode
// back on its own.
void CVYXSet::RestoreGeometry(const SensorGeometry& g) {
    Sensor(&CISensor::SetCaptureFieldOfView, g.ulX, g.ulY, g.ulWidth, g.ulHeight);
    Sensor(&CISensor::SetColAddressMode, g.nColMode);
    Sensor(&CISensor::SetRowAddressMode, g.nRowMode);
    Sensor(&CISensor::SetExposureLines, g.ulExposureLines);
}

// A window and address mode that leave no pixel give frames of nothing: the
// PL would hand out buffers whose content is whatever was there before.
bool CVYXSet::FrameIsEmpty() {
    int nWidth = 0, nHeight = 0, nBits = 0;
    Sensor(&CISensor::GetCaptureSize, &nWidth, &nHeight, &nBits);
    return nWidth <= 0 || nHeight <= 0 || nBits <= 0;
}

// The new frame size goes to the PL, and a multi-frame count that no longer
// fits one frame buffer is brought down to the largest that does: the PL
// would otherwise write past its buffer into the next ones.
void CVYXSet::FollowFrameSize() {
    UpdatePL_WhenSensorFovChanged();
    if (!m_pPL) return;
    int nWidth = 0, nHeight = 0, nBits = 0;
    Sensor(&CISensor::GetCaptureSize, &nWidth, &nHeight, &nBits);
    const unsigned long long ullFrameBytes =
        static_cast<unsigned long long>(nWidth) * static_cast<unsigned long long>(nHeight) * nBits / 8;
    unsigned long ulCount = 0;
    if (ullFrameBytes == 0 || m_pPL->GetMultiFrame(&ulCount) != 0) return;
    const unsigned long long ullFits = vyxpl::phys::kFrameBufferSize / ullFrameBytes;
    if (ulCount <= ullFits) return;
    const unsigned long ulFits = static_cast<unsigned long>(ullFits);
    VYXLOG_OutputStringEx(SdkLog(), 1,
                          "VYXWARNING_(----------%s multi-frame count %lu does not fit, reduced to %lu)",
                          "FollowFrameSize", ulCount, ulFits);
    m_pPL->SetMultiFrame(ulFits);
}

// After the sensor took a new window or mode (nRet 0): an empty frame is
// undone and refused, anything else goes to the PL.  A sensor failure is
// returned as it is, but it may have come half-way through the change (the
// width reached the chip, the height did not): the PL follows the frame size
// the chip now delivers, or it would cut the frames wrongly.
int CVYXSet::SettleGeometry(int nRet, const SensorGeometry& before) {
    if (nRet != 0) {
        if (!FrameIsEmpty())
            FollowFrameSize();
        return nRet;
    }
    if (FrameIsEmpty()) {
        RestoreGeometry(before);
        return VYXZEB_RET_BAD_PARAMETER;
    }
    FollowFrameSize();
    return VYXZEB_RET_SUCCESS;
}

int CVYXSet::SetCaptureFieldOfView(unsigned long ulX, unsigned long ulY, unsigned long ulWidth,
                                   unsigned long ulHeight) {
    if (!m_pSensor) return VYXZEB_RET_SENSOR_FAILED;
    const SensorGeometry before = SaveGeometry();
    return SettleGeometry(Sensor(&CISensor::SetCaptureFieldOfView, ulX, ulY, ulWidth, ulHeight), before);
}

int CVYXSet::SetAddressMode(VYX_ADDRESSMODE eMode) {
    if (!m_pSensor) return VYXZEB_RET_SENSOR_FAILED;
    const SensorGeometry before = SaveGeometry();
    int nRet = Sensor(&CISensor::SetRowAddressMode, eMode);
    if (nRet == 0) nRet = Sensor(&CISensor::SetColAddressMode, eMode);
    return SettleGeometry(nRet, before);
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
