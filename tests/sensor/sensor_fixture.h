// Shared set-up of the sensor tests: a bus on the virtual board, the SPI log
// as the witness, and the chip put back to its power-on registers after
// every test.
#ifndef VYX_TEST_SENSOR_FIXTURE_H
#define VYX_TEST_SENSOR_FIXTURE_H

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BoardTest.h"
#include "BusSPI0.h"
#include "SensorQ210B.h"
#include "VYXLog.h"
#include "VyxModel.h"

// A Q210B that also reports members the interface does not.
struct ProbeQ210B : CSensorQ210B {
    using CSensorQ210B::CSensorQ210B;
    float Requested() const { return m_fReqExposureTime; }
    float Period() const { return m_fPixClkPeriod; }
    int Width() const { return m_nCaptureWidth; }
    int Height() const { return m_nCaptureHeight; }
};

inline int ChipReg(int addr) { return vb::modelSensorRegister(static_cast<uint8_t>(addr)); }

// Bus 0 frames as (address, value) for writes that reached the chip and
// (address | 0x100, 0) for reads.
using Frames = std::vector<std::pair<int, int>>;
inline Frames Bus0()
{
    Frames out;
    for (const vb::SpiFrame& f : vb::spiLog())
        if (f.bus == 0 && f.sent.size() == 3 && f.result > 0)
            out.emplace_back(f.kind == vb::SpiKind::Write ? f.sent[0] & 0x7F : f.sent[0] | 0x100,
                             f.kind == vb::SpiKind::Write ? f.sent[1] << 8 | f.sent[2] : 0);
    return out;
}

// Runs on the board test fixture: every test starts on a reset board and
// leaves no descriptor or mapping open (BoardTest.h).
class SensorTest : public vyxtest::BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        static const std::vector<int> s_powerOn = [] {
            std::vector<int> regs;
            for (int a = 0; a < 128; ++a)
                regs.push_back(ChipReg(a));
            return regs;
        }();
        m_powerOn = &s_powerOn;
        bool bOk = false;
        m_pBus = new CBusSPI0(&bOk, 100, 8, 1);
        ASSERT_TRUE(bOk);
        vb::clearSpiLog();
    }
    void TearDown() override
    {
        delete s;
        delete m_pBus;
        s = nullptr;
        m_pBus = nullptr;
        vb::resetBoard();  // no fault in the way of putting the chip back
        // Raw writes on a descriptor of our own, past the code under test.
        const int nFd = open("/dev/spidev32766.0", O_RDWR);
        for (int a = 0; a < 128; ++a) {
            const int v = (*m_powerOn)[a];
            const uint8_t frame[3] = {static_cast<uint8_t>(0x80 | a), static_cast<uint8_t>(v >> 8),
                                      static_cast<uint8_t>(v)};
            if (ChipReg(a) != v) {
                EXPECT_EQ(3, write(nFd, frame, 3));
            }
        }
        close(nFd);
        BoardTest::TearDown();
    }
    void Make()
    {
        bool bOk = false;
        s = new ProbeQ210B(m_pBus, &bOk);
        ASSERT_TRUE(bOk);
        vb::clearSpiLog();
    }

    const std::vector<int>* m_powerOn = nullptr;
    CBusSPI0* m_pBus = nullptr;
    ProbeQ210B* s = nullptr;
};

// The library's log, on in a private folder while the object lives.
struct LogCapture {
    char folder[32] = "/tmp/vyx-sensor-log-XXXXXX";
    char path[VYXLOG_PATH_SIZE] = {0};
    LogCapture()
    {
        bool bOn = false;
        EXPECT_EQ(0, VYXLOG_LogSet(true, mkdtemp(folder)));
        VYXLOG_LogGet(&bOn, path);
    }
    ~LogCapture()
    {
        VYXLOG_LogSet(false, nullptr);
        unlink(path);
        rmdir(folder);
    }
    std::string Text() const
    {
        std::stringstream ss;
        ss << std::ifstream(path).rdbuf();
        return ss.str();
    }
};

#endif
