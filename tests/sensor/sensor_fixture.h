// Shared set-up of the sensor tests: a bus on the virtual board, a sensor
// made on it, the SPI log as the witness, and the chip's registers put back
// after every test so that each test starts from a freshly powered sensor.
#ifndef VYX_TEST_SENSOR_FIXTURE_H
#define VYX_TEST_SENSOR_FIXTURE_H

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BusSPI0.h"
#include "SensorQ210B.h"
#include "VyxBoard.h"

// A Q210B with read access to the members the interface does not report.
class ProbeQ210B : public CSensorQ210B {
public:
    using CSensorQ210B::CSensorQ210B;
    float RequestedTime() const { return m_fReqExposureTime; }
    float PixClkPeriod() const { return m_fPixClkPeriod; }
    int CaptureWidth() const { return m_nCaptureWidth; }
    int CaptureHeight() const { return m_nCaptureHeight; }
    int Fd() const { return m_nFd; }
};

// Register value as the chip holds it, read behind the sensor's back.
uint16_t ChipReg(uint8_t addr);
void SetChipReg(uint8_t addr, uint16_t value);

// The SPI traffic of bus 0 since the last clear.
std::vector<vb::SpiFrame> Bus0Frames();
// Write frames of bus 0 as (address, value) pairs.
struct RegWrite {
    int addr;
    int value;
    bool operator==(const RegWrite& o) const { return addr == o.addr && value == o.value; }
};
std::vector<RegWrite> Bus0Writes();
std::ostream& operator<<(std::ostream& os, const RegWrite& w);

class SensorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A sensor made directly (not through newSensor) and the bus under it.
    ProbeQ210B* MakeSensor();

    CBusSPI0* m_pBus = nullptr;
    ProbeQ210B* m_pSensor = nullptr;
};

// Log switched on into a private folder for the life of the object.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::string Text() const;

private:
    std::string m_folder;
};

#endif
