// ISensor.h - the sensor interface between libvyxzeb and a sensor plug-in.
//
// libvyxzeb knows a sensor object only through these virtual operations and
// calls them by position, so their order is the binary contract between the
// library and every plug-in: the destructor takes slots 0 and 1, GetType slot
// 2, ... UpdatePixClk slot 43.  Do not reorder, insert or remove.
#ifndef VYX_ISENSOR_H
#define VYX_ISENSOR_H

#include "VYXZebApi.h"

class CIBus;

class VYXZEB_API CISensor {
public:
    virtual ~CISensor() {}                                                           // 0, 1
    virtual int GetType(int* pnType) = 0;                                             // 2
    virtual int DumpSensorRegister(char* pszText) = 0;                                // 3
    virtual int CMD_SensorWrReg32(unsigned long ulAddr, unsigned long ulValue) = 0;   // 4
    virtual int CMD_SensorRdReg32(unsigned long ulAddr, unsigned long* pulValue) = 0; // 5
    virtual int FlashSetEnable(bool bEnable) = 0;                                     // 6
    virtual int FlashGetEnable(bool* pbEnable) = 0;                                   // 7
    virtual int FlashSetInvert(bool bInvert) = 0;                                     // 8
    virtual int FlashGetInvert(bool* pbInvert) = 0;                                   // 9
    virtual int GetCaptureFieldOfViewRange(unsigned long* pulX, unsigned long* pulY,
                                           unsigned long* pulWidth, unsigned long* pulHeight) = 0; // 10
    virtual int SetCaptureFieldOfView(unsigned long ulX, unsigned long ulY,
                                      unsigned long ulWidth, unsigned long ulHeight) = 0;          // 11
    virtual int GetCaptureFieldOfView(unsigned long* pulX, unsigned long* pulY,
                                      unsigned long* pulWidth, unsigned long* pulHeight) = 0;      // 12
    virtual int GetCaptureSize(int* pnWidth, int* pnHeight, int* pnBitCount) = 0;     // 13
    virtual int GetGainRange(unsigned long* pulMin, unsigned long* pulMax) = 0;       // 14
    virtual int SetGain(unsigned long ulGain) = 0;                                    // 15
    virtual int GetGain(unsigned long* pulGain) = 0;                                  // 16
    virtual int GetRedGain(unsigned long* pulGain) = 0;                               // 17
    virtual int SetRedGain(unsigned long ulGain) = 0;                                 // 18
    virtual int GetBlueGain(unsigned long* pulGain) = 0;                              // 19
    virtual int SetBlueGain(unsigned long ulGain) = 0;                                // 20
    virtual int GetGreenGain(unsigned long* pulGain) = 0;                             // 21
    virtual int SetGreenGain(unsigned long ulGain) = 0;                               // 22
    virtual int GetExposureLinesRange(unsigned long* pulMin, unsigned long* pulMax) = 0; // 23
    virtual int SetExposureLines(unsigned long ulLines) = 0;                          // 24
    virtual int GetExposureLines(unsigned long* pulLines) = 0;                        // 25
    virtual int GetExposureTimeRange(float* pfMin, float* pfMax) = 0;                 // 26
    virtual int SetExposureTime(float fTime) = 0;                                     // 27
    virtual int GetExposureTime(float* pfTime) = 0;                                   // 28
    virtual int GetColAddressMode(int* pnMode) = 0;                                   // 29
    virtual int SetColAddressMode(int nMode) = 0;                                     // 30
    virtual int GetRowAddressMode(int* pnMode) = 0;                                   // 31
    virtual int SetRowAddressMode(int nMode) = 0;                                     // 32
    virtual int SetMirror(bool bMirror) = 0;                                          // 33
    virtual int GetMirror(bool* pbMirror) = 0;                                        // 34
    virtual int SetFlip(bool bFlip) = 0;                                              // 35
    virtual int GetFlip(bool* pbFlip) = 0;                                            // 36
    virtual float Calculate_Exposure_Time(unsigned long ulLines) = 0;                 // 37
    virtual unsigned long Calculate_Exposure_Lines(float fTime) = 0;                  // 38
    virtual int SensorInit() = 0;                                                     // 39
    virtual int SensorWrReg(unsigned long ulAddr, unsigned long ulValue, bool* pbChanged) = 0; // 40
    virtual int SensorRdReg() = 0;                                                    // 41
    virtual int SensorRecover() = 0;                                                  // 42
    virtual void UpdatePixClk() = 0;                                                  // 43
};

// Plug-in entry points, exported unmangled by every sensor plug-in.
extern "C" {
typedef int (*PFN_NEW_SENSOR)(CISensor** ppSensor, CIBus* pBus, bool* pbInit);
typedef int (*PFN_DELETE_SENSOR)(CISensor** ppSensor);
}

#endif
