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

#include "Sensor.h"

// Register addresses and fields of the Q210B, named once.
namespace q210b {

// Addresses.
const unsigned char kRegLineLength = 0x04;   // line length in units of 8 pixel clocks
const unsigned char kRegLineTermH = 0x06;    // bits 8..15: term H of the shortest line
const unsigned char kRegControl = 0x07;      // flip, mirror, flash polarity
const unsigned char kRegClockSelect = 0x08;  // clock sources and dividers
const unsigned char kRegPll = 0x09;          // PLL factors
const unsigned char kRegReadout = 0x0A;      // halving, trimming
const unsigned char kRegLineOptions = 0x0B;  // term K byte choice, flash enable
const unsigned char kRegExposure = 0x0E;     // exposure in lines
const unsigned char kReg17 = 0x11;           // kept in the shadow, not interpreted
const unsigned char kRegFirstRow = 0x12;     // first row + kWindowOrigin
const unsigned char kRegRowCount = 0x13;     // rows of the window
const unsigned char kRegFirstCol = 0x14;     // first column + kWindowOrigin
const unsigned char kRegColCount = 0x15;     // columns of the window
const unsigned char kRegAddressMode = 0x1A;  // row code (low byte), column code (high byte)
const unsigned char kRegGainB = 0x36;        // gain code in both bytes
const unsigned char kRegGainA = 0x37;        // gain code in both bytes; high byte reported
const unsigned char kRegOscTrim = 0x3A;      // internal oscillator trim
const unsigned char kRegLineTermK = 0x49;    // two candidates for term K
const unsigned char kReg118 = 0x76;          // kept in the shadow, not interpreted
const unsigned char kRegLast = 0x76;         // highest address a register dump reads

// SPI frame.
const unsigned char kSpiWriteFlag = 0x80;
const unsigned char kSpiAddrMask = 0x7F;
const unsigned char kSpiReadFiller = 0xAA;
const unsigned int kSpiFrameBytes = 3;

// Register 4.
const unsigned short kLineLengthMask = 0x07FF;
const unsigned short kLineLengthKeepMask = 0xF800;
const unsigned int kPixClksPerLineUnit = 8;
// Register 6.
const unsigned int kLineTermHShift = 8;
// Register 7.
const unsigned short kControlFlip = 0x0040;
const unsigned short kControlMirror = 0x0080;
const unsigned short kControlFlashInvert = 0x4000;
// Register 8.
const unsigned int kDivCMask = 0x000F;         // D5, divider of the divided clock
const unsigned int kDivPixShift = 4;           // D4, divider of the pixel clock
const unsigned int kDivPixMask = 0x000F;
const unsigned int kSourceBShift = 8;          // source of fB
const unsigned int kSourceAShift = 10;         // source of fA
const unsigned int kSourceMask = 0x3;
const unsigned short kPixFromA = 0x1000;       // pixel clock from fA, else from fB
// Register 9.
const unsigned int kPllNMask = 0xFF;
const unsigned int kPllMShift = 8;
const unsigned int kPllMMask = 0x1F;
const unsigned int kPllPShift = 13;
const unsigned int kPllPMask = 0x3;
// Register 10.
const unsigned short kReadoutHalve = 0x0001;
const unsigned short kReadoutTrim = 0x0020;
const int kTrimPixels = 4;
// Register 11.
const unsigned short kLineTermKSelect = 0x0030;
const unsigned short kFlashEnableMask = 0x00C0;
const unsigned short kFlashEnableOn = 0x0040;
// Register 14.
const unsigned long kMaxExposureLines = 0xFFFE;
// Registers 54, 55.
const unsigned long kMaxGain = 255;
const unsigned long kGainBothBytes = 0x0101;
const unsigned int kGainReportShift = 8;
// Register 58.
const unsigned int kOscTrimMask = 0x7F;
// Window registers 18..21.
const unsigned short kWindowFieldMask = 0x07FF;
const unsigned long kWindowOrigin = 6;  // the chip counts rows and columns from 6
// Register 26.
const unsigned int kAddrCodeMask = 0xFF;
const unsigned int kColCodeShift = 8;
const unsigned int kAddrCodeDivisorUnit = 8;  // divisor = (code + 8) / 8
// Register 73.
const unsigned int kTermKHighShift = 8;
const unsigned int kTermKMask = 0xFF;

// Pixel array.
const unsigned long kArrayWidth = 1280;
const unsigned long kArrayHeight = 1024;
const unsigned long kMinWidth = 16;
const unsigned long kMinHeight = 1;
const unsigned long kWidthStep = 8;
const unsigned long kColumnStep = 8;

// Clocks.
const float kRefClockHz = 96000000.0f;

}  // namespace q210b

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
