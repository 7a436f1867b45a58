/**
 * @file plugin/ISensor.h
 * @brief The sensor interface between libvyxzeb and a sensor plug-in.
 *
 * A sensor plug-in is a shared library that exports newSensor() and
 * deleteSensor() unmangled and implements CISensor for one model of image
 * sensor.  libvyxzeb loads it by sensor type from a fixed path
 * (/usr/lib/libvyxSensorQ210B.so for #VYXZEB_SENSOR_Q210B), calls newSensor()
 * once with the SPI bus of the sensor (plugin/IBus.h), and from then on
 * knows the sensor object only through these virtual operations, which it
 * calls by position: their order is the binary contract between the library
 * and every plug-in.  The destructor takes slots 0 and 1, GetType() slot 2,
 * ... UpdatePixClk() slot 43.  Do not reorder, insert or remove.
 *
 * Every operation returns #VYXZEB_RET_SUCCESS or a VYXZEB_RET_ code unless
 * its type says otherwise; #VYXZEB_RET_SENSOR_FAILED for a failed SPI
 * transfer.  A plug-in links libvyxzeb and writes its log lines with
 * VYXLOG_OutputString(hVYXLog, ...) (VYXLog.h): the handle is the
 * library's, so the lines land in the application's log file.
 */
#ifndef VYX_ISENSOR_H
#define VYX_ISENSOR_H

#include "VYXZebApi.h"

class CIBus;

/** Abstract sensor, as the library sees it.  Slot numbers in the
 *  descriptions are the positions in the virtual table. */
class VYXZEB_API CISensor {
public:
    // The slot table is aligned by hand.
    // clang-format off
    virtual ~CISensor() {}                                                           ///< slots 0, 1
    virtual int GetType(int* pnType) = 0;                                             ///< slot 2: the VYXZEB_SENSOR_TYPE into *pnType
    virtual int DumpSensorRegister(char* pszText) = 0;                                ///< slot 3: logs the sensor's registers
    virtual int CMD_SensorWrReg32(unsigned long ulAddr, unsigned long ulValue) = 0;   ///< slot 4: raw register write
    virtual int CMD_SensorRdReg32(unsigned long ulAddr, unsigned long* pulValue) = 0; ///< slot 5: raw register read
    virtual int FlashSetEnable(bool bEnable) = 0;                                     ///< slot 6: flash output on or off
    virtual int FlashGetEnable(bool* pbEnable) = 0;                                   ///< slot 7: whether the flash output is on
    virtual int FlashSetInvert(bool bInvert) = 0;                                     ///< slot 8: flash output polarity
    virtual int FlashGetInvert(bool* pbInvert) = 0;                                   ///< slot 9: whether the flash output is inverted
    virtual int GetCaptureFieldOfViewRange(unsigned long* pulX, unsigned long* pulY,
                                           unsigned long* pulWidth, unsigned long* pulHeight) = 0; ///< slot 10: smallest width and height, largest width and height
    virtual int SetCaptureFieldOfView(unsigned long ulX, unsigned long ulY,
                                      unsigned long ulWidth, unsigned long ulHeight) = 0;          ///< slot 11: sensor window (clamped and aligned)
    virtual int GetCaptureFieldOfView(unsigned long* pulX, unsigned long* pulY,
                                      unsigned long* pulWidth, unsigned long* pulHeight) = 0;      ///< slot 12: sensor window in force
    virtual int GetCaptureSize(int* pnWidth, int* pnHeight, int* pnBitCount) = 0;     ///< slot 13: size and bits per pixel of the delivered image
    virtual int GetGainRange(unsigned long* pulMin, unsigned long* pulMax) = 0;       ///< slot 14: gain code range
    virtual int SetGain(unsigned long ulGain) = 0;                                    ///< slot 15: gain code (clamped)
    virtual int GetGain(unsigned long* pulGain) = 0;                                  ///< slot 16: gain code in force
    virtual int GetRedGain(unsigned long* pulGain) = 0;                               ///< slot 17: colour gain (grey sensors: #VYXZEB_RET_SENSOR_NOT_SUPPORTED)
    virtual int SetRedGain(unsigned long ulGain) = 0;                                 ///< slot 18: colour gain
    virtual int GetBlueGain(unsigned long* pulGain) = 0;                              ///< slot 19: colour gain
    virtual int SetBlueGain(unsigned long ulGain) = 0;                                ///< slot 20: colour gain
    virtual int GetGreenGain(unsigned long* pulGain) = 0;                             ///< slot 21: colour gain
    virtual int SetGreenGain(unsigned long ulGain) = 0;                               ///< slot 22: colour gain
    virtual int GetExposureLinesRange(unsigned long* pulMin, unsigned long* pulMax) = 0; ///< slot 23: exposure range in lines
    virtual int SetExposureLines(unsigned long ulLines) = 0;                          ///< slot 24: exposure in lines (clamped)
    virtual int GetExposureLines(unsigned long* pulLines) = 0;                        ///< slot 25: exposure in force, in lines
    virtual int GetExposureTimeRange(float* pfMin, float* pfMax) = 0;                 ///< slot 26: exposure range in milliseconds
    virtual int SetExposureTime(float fTime) = 0;                                     ///< slot 27: exposure in milliseconds (clamped)
    virtual int GetExposureTime(float* pfTime) = 0;                                   ///< slot 28: exposure in force, in milliseconds
    virtual int GetColAddressMode(int* pnMode) = 0;                                   ///< slot 29: column VYX_ADDRESSMODE
    virtual int SetColAddressMode(int nMode) = 0;                                     ///< slot 30: column VYX_ADDRESSMODE
    virtual int GetRowAddressMode(int* pnMode) = 0;                                   ///< slot 31: row VYX_ADDRESSMODE
    virtual int SetRowAddressMode(int nMode) = 0;                                     ///< slot 32: row VYX_ADDRESSMODE
    virtual int SetMirror(bool bMirror) = 0;                                          ///< slot 33: horizontal mirror
    virtual int GetMirror(bool* pbMirror) = 0;                                        ///< slot 34: whether mirrored
    virtual int SetFlip(bool bFlip) = 0;                                              ///< slot 35: vertical flip
    virtual int GetFlip(bool* pbFlip) = 0;                                            ///< slot 36: whether flipped
    virtual float Calculate_Exposure_Time(unsigned long ulLines) = 0;                 ///< slot 37: milliseconds of a number of lines
    virtual unsigned long Calculate_Exposure_Lines(float fTime) = 0;                  ///< slot 38: lines of a time in milliseconds
    virtual int SensorInit() = 0;                                                     ///< slot 39: writes the start-up register values
    virtual int SensorWrReg(unsigned long ulAddr, unsigned long ulValue, bool* pbChanged) = 0; ///< slot 40: the one register write path of the settings
    virtual int SensorRdReg() = 0;                                                    ///< slot 41: reads the shadowed registers back from the sensor
    virtual int SensorRecover() = 0;                                                  ///< slot 42: writes the shadow copies back to a sensor that lost its settings
    virtual void UpdatePixClk() = 0;                                                  ///< slot 43: recomputes the pixel clock from the clock registers
    // clang-format on
};

extern "C" {
/** Type of a plug-in's newSensor(CISensor** ppSensor, CIBus* pBus, bool* pbInit):
 *  creates the sensor object on the heap with the bus (not owned) and stores
 *  it in *ppSensor when *pbInit comes back true; the caller learns of
 *  success from *pbInit, not from the result.  A null ppSensor gives
 *  #VYXZEB_RET_SENSOR_FAILED. */
typedef int (*PFN_NEW_SENSOR)(CISensor** ppSensor, CIBus* pBus, bool* pbInit);
/** Type of a plug-in's deleteSensor(CISensor** ppSensor): deletes the object
 *  and nulls the pointer; #VYXZEB_RET_SENSOR_FAILED for a null pointer. */
typedef int (*PFN_DELETE_SENSOR)(CISensor** ppSensor);
}

#endif
