// SensorQ210B.h - the Q210B: 1280 x 1024 grey CMOS sensor with 16-bit
// registers at 7-bit addresses behind an SPI control port.
//
// Every setting goes through SensorWrReg, which writes only changed values,
// keeps the shadow copy and runs the register's follow-up (image size, line
// length, exposure, pixel clock) so that the derived values always match the
// chip.  Source units: SensorQ210B.cpp (object, register protocol, plug-in
// entry points), _Exp (clocks, line length, exposure), _Gain, _Fov (window,
// address modes, image size), _Flip (mirror, flip), _Flash.
#ifndef VYX_SENSORQ210B_H
#define VYX_SENSORQ210B_H

#include "Q210BRegs.h"
#include "Sensor.h"

class VYXZEB_API CSensorQ210B : public CSensor {
public:
    CSensorQ210B(CIBus* pBus, bool* pbInit);
    ~CSensorQ210B() override;

    int GetType(int* pnType) override;                                                 // 2
    int DumpSensorRegister(char* pszText) override;                                    // 3
    int CMD_SensorWrReg32(unsigned long ulAddr, unsigned long ulValue) override;       // 4
    int CMD_SensorRdReg32(unsigned long ulAddr, unsigned long* pulValue) override;     // 5
    int FlashSetEnable(bool bEnable) override;                                         // 6
    int FlashGetEnable(bool* pbEnable) override;                                       // 7
    int FlashSetInvert(bool bInvert) override;                                         // 8
    int FlashGetInvert(bool* pbInvert) override;                                       // 9
    int GetCaptureFieldOfViewRange(unsigned long* pulX, unsigned long* pulY,
                                   unsigned long* pulWidth, unsigned long* pulHeight) override; // 10
    int SetCaptureFieldOfView(unsigned long ulX, unsigned long ulY,
                              unsigned long ulWidth, unsigned long ulHeight) override;          // 11
    int GetCaptureFieldOfView(unsigned long* pulX, unsigned long* pulY,
                              unsigned long* pulWidth, unsigned long* pulHeight) override;      // 12
    int GetCaptureSize(int* pnWidth, int* pnHeight, int* pnBitCount) override;         // 13
    int GetGainRange(unsigned long* pulMin, unsigned long* pulMax) override;           // 14
    int SetGain(unsigned long ulGain) override;                                        // 15
    int GetGain(unsigned long* pulGain) override;                                      // 16
    int GetExposureLinesRange(unsigned long* pulMin, unsigned long* pulMax) override;  // 23
    int SetExposureLines(unsigned long ulLines) override;                              // 24
    int GetExposureLines(unsigned long* pulLines) override;                            // 25
    int GetExposureTimeRange(float* pfMin, float* pfMax) override;                     // 26
    int SetExposureTime(float fTime) override;                                         // 27
    int GetExposureTime(float* pfTime) override;                                       // 28
    int GetColAddressMode(int* pnMode) override;                                       // 29
    int SetColAddressMode(int nMode) override;                                         // 30
    int GetRowAddressMode(int* pnMode) override;                                       // 31
    int SetRowAddressMode(int nMode) override;                                         // 32
    int SetMirror(bool bMirror) override;                                              // 33
    int GetMirror(bool* pbMirror) override;                                            // 34
    int SetFlip(bool bFlip) override;                                                  // 35
    int GetFlip(bool* pbFlip) override;                                                // 36
    float Calculate_Exposure_Time(unsigned long ulLines) override;                     // 37
    unsigned long Calculate_Exposure_Lines(float fTime) override;                      // 38
    int SensorInit() override;                                                         // 39
    int SensorWrReg(unsigned long ulAddr, unsigned long ulValue, bool* pbChanged) override; // 40
    int SensorRdReg() override;                                                        // 41
    int SensorRecover() override;                                                      // 42
    void UpdatePixClk() override;                                                      // 43
    virtual int GetType(VYXZEB_SENSOR_TYPE* pType);                                    // 44

    // Register protocol on a descriptor.
    int Write(int nFd, unsigned short usAddr, unsigned short usValue);
    int Read(int nFd, unsigned short usAddr, void* pValue);
    int CMD_SensorWrReg(unsigned char ucAddr, unsigned short usValue);
    int CMD_SensorRdReg(unsigned char ucAddr, unsigned short* pusValue);

    // Clocks, line length and exposure.
    void P30_GetClk(float* pfPll, float* pfOsc, float* pfA, float* pfPix, float* pfC);
    int P11_GetRoiWidth();
    unsigned int P92_GetMinLineLength();
    int SyncLineLength();
    int SyncExposureLine();
    void UpdateExposureTime();

    // Image size.
    void UpdateCaptureWidth();
    void UpdateCaptureHeight();

    static int s_SensorType;

private:
    // Shadow copy of a register, or null when the register has none.  Register
    // 9 has a copy but SensorWrReg does not accept it.
    unsigned short* Shadow(unsigned char ucAddr);
    unsigned short Reg(unsigned char ucAddr) const;
    int RowCount() const;
    int WriteBits(unsigned char ucAddr, unsigned short usMask, unsigned short usBits);
};

extern "C" {
VYXZEB_API int newSensor(CISensor** ppSensor, CIBus* pBus, bool* pbInit);
VYXZEB_API int deleteSensor(CISensor** ppSensor);
}

#endif
