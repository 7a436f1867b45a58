// VYXSet.h - one camera set: an image sensor together with the PL pipeline
// that receives its pixels.
//
// The set loads the sensor plug-in for its sensor type and gets a sensor
// object from it, creates its CPL (the PL's register blocks), maps the four
// frame buffers the PL writes frames into, and owns the capture hand-shake
// (CaptureSync.h) through which the capture interrupt thread announces each
// frame.  After construction every operation either waits for a frame or
// forwards to the sensor object or to the CPL.
//
// A plain internal class: members are public and kept in their historical
// order; nothing here is exported from the library.
#ifndef VYX_VYXSET_H
#define VYX_VYXSET_H

#include <atomic>

#include "CaptureSync.h"
#include "Nodes.h"
#include "PLRegs.h"
#include "VYXZebApi.h"

class CIBus;
class CISensor;
class CPL;

// Plug-in path of each sensor type, indexed by VYXZEB_SENSOR_TYPE.
constexpr int kSensorTypeCount = 2;
extern const char* const g_szSensorFileName[kSensorTypeCount];

// How long CaptureData waits for a frame until told otherwise.
constexpr unsigned long kDefaultCaptureTimeOutMs = 8000UL;

// The window a set starts with: the whole sensor.
constexpr unsigned long kFullFovWidth = 1280UL;
constexpr unsigned long kFullFovHeight = 1024UL;

using VYXSET_TRIGGER_CALLBACK = void (*)(unsigned char*, int, int, int, void*);

class CVYXSet {
public:
    CVYXSet(bool* pbInit, CIBus* pBus, VYXZEB_SENSOR_TYPE type);
    ~CVYXSet();
    CVYXSet(const CVYXSet&) = delete;
    CVYXSet& operator=(const CVYXSet&) = delete;

    // ---- frames (VYXSet_Capture.cpp, VYXSet.cpp) ----
    int CaptureData(unsigned char** ppData);
    int ReleaseFrameBuffer();
    // The capture interrupt thread: one frame interrupt of this set.
    void AnnounceFrame();
    int GetFramePhyAddress(unsigned char* pData, unsigned char** ppPhy);
    int SetTimeOut(unsigned long ulTimeOut);
    int GetTimeOut(unsigned long* pulTimeOut);

    // ---- callback, PL resynchronisation (VYXSet_Internal.cpp) ----
    int SetTriggerCallback(VYXSET_TRIGGER_CALLBACK pfnCallback);
    int UpdatePL_WhenSensorFovChanged();
    int ValidatePLAllBatReg();

    // ---- raw FPGA access and acquisition settings (VYXSet_Internal.cpp) ----
    int RdRegFPGA(unsigned short usOffset, unsigned long* pulValue);
    int WrRegFPGA(unsigned short usOffset, unsigned long ulValue);
    int GetVersionFPGA(unsigned long* pulVersion);
    int GetFrameBuf(unsigned long* pulNumber);
    int SetFrameBuf(unsigned long ulNumber);
    int GetMultiFrame(unsigned long* pulCount);
    int SetMultiFrame(unsigned long ulCount);
    int GetFixFrameRate(unsigned long* pulPeriod);
    int SetFixFrameRate(unsigned long ulPeriod);
    int ClearWriteFrameBuf(unsigned long ulValue);
    int ClearReadFrameBuf(unsigned long ulValue);

    // ---- trigger, and the changes that empty the buffers (VYXSet_TriggerMode.cpp) ----
    int EmptyFrameBuffer();
    int SetTriggerMode(VYXZEB_TRIGGER_MODE eMode);
    int GetTriggerMode(VYXZEB_TRIGGER_MODE* peMode);
    int GetTriggerDelayRange(unsigned long* pulMin, unsigned long* pulMax);
    int GetTriggerDelay(unsigned long* pulDelay);
    int SetTriggerDelay(unsigned long ulDelay);
    int GetTriggerFilter(unsigned short* pusFilter);
    int SetTriggerFilter(unsigned short usFilter);

    // ---- display (VYXSet_Show.cpp) ----
    int ShowCaptureData(unsigned char* pData);
    int ShowUserLoadData(unsigned char* pPhy, unsigned int unWidth, unsigned int unHeight,
                         unsigned int unBitCount);
    int SetVideoWidgetPos(unsigned int unX, unsigned int unY, unsigned int unWidth, unsigned int unHeight);
    int GetVideoWidgetPos(unsigned int* punX, unsigned int* punY, unsigned int* punWidth,
                          unsigned int* punHeight);
    int SetPosition(int nX, int nY, unsigned int unWidth, unsigned int unHeight);
    int GetPosition(int* pnX, int* pnY, unsigned int* punWidth, unsigned int* punHeight);

    // ---- sensor (VYXSet_Base.cpp) ----
    int GetSensorType(VYXZEB_SENSOR_TYPE* pType);
    int FlashSetEnable(bool bEnable);
    int FlashGetEnable(bool* pbEnable);
    int FlashSetInvert(bool bInvert);
    int FlashGetInvert(bool* pbInvert);
    int GetCaptureFieldOfViewRange(unsigned long* pulX, unsigned long* pulY, unsigned long* pulWidth,
                                   unsigned long* pulHeight);
    int SetCaptureFieldOfView(unsigned long ulX, unsigned long ulY, unsigned long ulWidth,
                              unsigned long ulHeight);
    int GetCaptureFieldOfView(unsigned long* pulX, unsigned long* pulY, unsigned long* pulWidth,
                              unsigned long* pulHeight);
    int GetCaptureSize(int* pnWidth, int* pnHeight, int* pnBitCount);
    int GetGainRange(unsigned long* pulMin, unsigned long* pulMax);
    int SetGain(unsigned long ulGain);
    int GetGain(unsigned long* pulGain);
    int GetExposureLinesRange(unsigned long* pulMin, unsigned long* pulMax);
    int SetExposureLines(unsigned long ulLines);
    int GetExposureLines(unsigned long* pulLines);
    int GetExposureTimeRange(float* pfMin, float* pfMax);
    int SetExposureTime(float fTime);
    int GetExposureTime(float* pfTime);
    int SetAddressMode(VYX_ADDRESSMODE eMode);
    int GetAddressMode(VYX_ADDRESSMODE* peMode);
    int GetColAddressMode(VYX_ADDRESSMODE* peMode);
    int SetColAddressMode(VYX_ADDRESSMODE eMode);
    int GetRowAddressMode(VYX_ADDRESSMODE* peMode);
    int SetRowAddressMode(VYX_ADDRESSMODE eMode);
    int SetMirror(bool bMirror);
    int GetMirror(bool* pbMirror);
    int SetFlip(bool bFlip);
    int GetFlip(bool* pbFlip);

    // ---- members, in the order the set has always kept them ----
    CPL* m_pPL;
    CISensor* m_pSensor;                   // null when the plug-in made none
    VYXSET_TRIGGER_CALLBACK m_pTriggerCallback;  // stored, never called
    std::atomic<unsigned long> m_unTimeOut;      // ms; read by a waiting capture
    int m_nFdFrameBuffer;
    unsigned char* m_pMapBaseFrameBuffer[vyxpl::phys::kFrameBufferCount];

    // Frame announcements, waiting captures, trigger-mode changes.
    CCaptureSync m_Sync;

private:
    // Window and address-mode changes (VYXSet_Base.cpp).
    struct SensorGeometry;
    SensorGeometry SaveGeometry();
    void RestoreGeometry(const SensorGeometry& g);
    bool FrameIsEmpty();
    void FollowFrameSize();
    int SettleGeometry(int nRet, const SensorGeometry& before);

    // Capture steps (VYXSet_Capture.cpp).
    bool FireSoftwareTrigger(CCaptureSync::CCapture& capture);
    void ReleaseToPL(unsigned unReleases);

    // Forwarders: call the sensor or the CPL, or return the code for its
    // absence.  Argument conversions (enum to int) happen at the call.
    template <typename... P, typename... A>
    int Sensor(int (CISensor::*op)(P...), A... args) {
        return m_pSensor ? (m_pSensor->*op)(args...) : VYXZEB_RET_SENSOR_FAILED;
    }
    template <typename... P, typename... A>
    int PL(int nWithoutPL, int (CPL::*op)(P...), A... args) {
        return m_pPL ? (m_pPL->*op)(args...) : nWithoutPL;
    }
    // Getters whose sensor slot reports an enum through an int.
    template <typename E>
    int SensorEnum(int (CISensor::*op)(int*), E* pOut) {
        int nValue = 0;
        int nRet = Sensor(op, pOut ? &nValue : nullptr);
        if (nRet == 0 && pOut) *pOut = static_cast<E>(nValue);
        return nRet;
    }
};

#endif
