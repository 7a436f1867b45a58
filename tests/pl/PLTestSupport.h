// PLTestSupport.h - helpers of the CPL tests: a sensor that reports a chosen
// capture size, a fixture that leaves the virtual board clean, and short
// names for reading the PL registers as the board sees them.
#ifndef VYX_TESTS_PL_SUPPORT_H
#define VYX_TESTS_PL_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "BoardTest.h"
#include "plugin/ISensor.h"
#include "PL.h"
#include "PLRegs.h"
#include "VyxBoard.h"

namespace pltest {

// Only GetCaptureSize matters to CPL; every other slot answers 0.
class SizeSensor : public CISensor {
public:
    SizeSensor(int nWidth, int nHeight, int nBits) : m_nW(nWidth), m_nH(nHeight), m_nB(nBits) {}
    int GetCaptureSize(int* pW, int* pH, int* pB) override {
        ++m_nSizeCalls;
        if (pW) *pW = m_nW;
        if (pH) *pH = m_nH;
        if (pB) *pB = m_nB;
        return 0;
    }
    int m_nW, m_nH, m_nB;
    int m_nSizeCalls = 0;

    int GetType(int*) override { return 0; }
    int DumpSensorRegister(char*) override { return 0; }
    int CMD_SensorWrReg32(unsigned long, unsigned long) override { return 0; }
    int CMD_SensorRdReg32(unsigned long, unsigned long*) override { return 0; }
    int FlashSetEnable(bool) override { return 0; }
    int FlashGetEnable(bool*) override { return 0; }
    int FlashSetInvert(bool) override { return 0; }
    int FlashGetInvert(bool*) override { return 0; }
    int GetCaptureFieldOfViewRange(unsigned long*, unsigned long*, unsigned long*,
                                   unsigned long*) override { return 0; }
    int SetCaptureFieldOfView(unsigned long, unsigned long, unsigned long,
                              unsigned long) override { return 0; }
    int GetCaptureFieldOfView(unsigned long*, unsigned long*, unsigned long*,
                              unsigned long*) override { return 0; }
    int GetGainRange(unsigned long*, unsigned long*) override { return 0; }
    int SetGain(unsigned long) override { return 0; }
    int GetGain(unsigned long*) override { return 0; }
    int GetRedGain(unsigned long*) override { return 0; }
    int SetRedGain(unsigned long) override { return 0; }
    int GetBlueGain(unsigned long*) override { return 0; }
    int SetBlueGain(unsigned long) override { return 0; }
    int GetGreenGain(unsigned long*) override { return 0; }
    int SetGreenGain(unsigned long) override { return 0; }
    int GetExposureLinesRange(unsigned long*, unsigned long*) override { return 0; }
    int SetExposureLines(unsigned long) override { return 0; }
    int GetExposureLines(unsigned long*) override { return 0; }
    int GetExposureTimeRange(float*, float*) override { return 0; }
    int SetExposureTime(float) override { return 0; }
    int GetExposureTime(float*) override { return 0; }
    int GetColAddressMode(int*) override { return 0; }
    int SetColAddressMode(int) override { return 0; }
    int GetRowAddressMode(int*) override { return 0; }
    int SetRowAddressMode(int) override { return 0; }
    int SetMirror(bool) override { return 0; }
    int GetMirror(bool*) override { return 0; }
    int SetFlip(bool) override { return 0; }
    int GetFlip(bool*) override { return 0; }
    float Calculate_Exposure_Time(unsigned long) override { return 0.0f; }
    unsigned long Calculate_Exposure_Lines(float) override { return 0; }
    int SensorInit() override { return 0; }
    int SensorWrReg(unsigned long, unsigned long, bool*) override { return 0; }
    int SensorRdReg() override { return 0; }
    int SensorRecover() override { return 0; }
    void UpdatePixClk() override {}
};

inline uint32_t Fpga(uint16_t off) { return vb::readReg(vb::Block::Fpga, off); }
inline uint32_t Scaler(uint16_t off) { return vb::readReg(vb::Block::Scaler, off); }
inline uint32_t G8(uint16_t off) { return vb::readReg(vb::Block::VdmaG8, off); }
inline uint32_t Rgb(uint16_t off) { return vb::readReg(vb::Block::VdmaRgb, off); }
inline uint32_t Hdmi(uint16_t off) { return vb::readReg(vb::Block::VdmaHdmi, off); }

// Every test starts on a reset board (no fault, counters at 0) and leaves
// no descriptor or mapping open (BoardTest.h).
class PLTest : public vyxtest::BoardTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(vb::isActive());
        BoardTest::SetUp();
    }

    // A fully initialised CPL, optionally with a sensor.
    std::unique_ptr<CPL> MakePL(CISensor* pSensor = nullptr) {
        bool bInit = false;
        std::unique_ptr<CPL> p(new CPL(pSensor, &bInit));
        EXPECT_TRUE(bInit);
        return p;
    }
};

} // namespace pltest

#endif
