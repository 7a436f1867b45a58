// Q210BRegs.h - the Q210B image sensor's control port as seen over SPI: the
// three-byte frame, the register addresses and their fields, the pixel array
// and the reference clock.
//
// A frame is three bytes, sent with the most significant bit first: byte 0 is
// the register address in bits 6..0 with bit 7 set for a write; bytes 1 and 2
// carry the 16-bit value, high byte first.  A read sends the address with bit
// 7 clear followed by two filler bytes and clocks the value in on bytes 1
// and 2 of the same full-duplex transfer.
//
// This header is part of the hardware contract between the sensor plug-in
// and the virtual board's sensor model (include/uapi/).  Dependency-free.
#ifndef VYX_UAPI_Q210BREGS_H
#define VYX_UAPI_Q210BREGS_H

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
const unsigned int kDivCMask = 0x000F;  // D5, divider of the divided clock
const unsigned int kDivPixShift = 4;    // D4, divider of the pixel clock
const unsigned int kDivPixMask = 0x000F;
const unsigned int kSourceBShift = 8;   // source of fB
const unsigned int kSourceAShift = 10;  // source of fA
const unsigned int kSourceMask = 0x3;
const unsigned short kPixFromA = 0x1000;  // pixel clock from fA, else from fB
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

#endif  // VYX_UAPI_Q210BREGS_H
