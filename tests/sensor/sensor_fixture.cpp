// Shared set-up of the sensor tests.
#include "sensor_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "VYXLog.h"
#include "VyxModel.h"

namespace {

const int kRegCount = 0x77;   // addresses 0..118

// Raw writes through a descriptor of our own, so that restoring the chip
// never depends on the code under test.
int RawFd()
{
    static int s_nFd = open("/dev/spidev32766.0", O_RDWR);
    return s_nFd;
}

// The chip as it came out of reset, taken before any sensor touched it.
const std::vector<uint16_t>& PowerOnRegs()
{
    static const std::vector<uint16_t> s_regs = [] {
        std::vector<uint16_t> regs(kRegCount);
        for (int a = 0; a < kRegCount; ++a)
            regs[a] = ChipReg(static_cast<uint8_t>(a));
        return regs;
    }();
    return s_regs;
}

}  // namespace

uint16_t ChipReg(uint8_t addr)
{
    return vb::modelSensorRegister(addr);
}

void SetChipReg(uint8_t addr, uint16_t value)
{
    const uint8_t frame[3] = {static_cast<uint8_t>(0x80 | (addr & 0x7F)),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    EXPECT_EQ(3, write(RawFd(), frame, 3));
}

std::vector<vb::SpiFrame> Bus0Frames()
{
    std::vector<vb::SpiFrame> out;
    for (const vb::SpiFrame& f : vb::spiLog())
        if (f.bus == 0)
            out.push_back(f);
    return out;
}

std::vector<RegWrite> Bus0Writes()
{
    std::vector<RegWrite> out;
    for (const vb::SpiFrame& f : Bus0Frames())
        if (f.kind == vb::SpiKind::Write && f.sent.size() == 3 && f.result >= 0)
            out.push_back({f.sent[0] & 0x7F, f.sent[1] << 8 | f.sent[2]});
    return out;
}

std::ostream& operator<<(std::ostream& os, const RegWrite& w)
{
    return os << "{reg " << w.addr << ", 0x" << std::hex << w.value << std::dec << "}";
}

void SensorTest::SetUp()
{
    vb::resetFaults();
    PowerOnRegs();
    bool bOk = false;
    m_pBus = new CBusSPI0(&bOk, 100, 8, 1);
    ASSERT_TRUE(bOk);
    vb::clearSpiLog();
}

void SensorTest::TearDown()
{
    delete m_pSensor;
    m_pSensor = nullptr;
    delete m_pBus;
    m_pBus = nullptr;
    vb::resetFaults();
    // Power the chip back to its reset state for the next test.
    const std::vector<uint16_t>& regs = PowerOnRegs();
    for (int a = 0; a < kRegCount; ++a)
        if (ChipReg(static_cast<uint8_t>(a)) != regs[a])
            SetChipReg(static_cast<uint8_t>(a), regs[a]);
    vb::clearSpiLog();
}

ProbeQ210B* SensorTest::MakeSensor()
{
    bool bOk = false;
    m_pSensor = new ProbeQ210B(m_pBus, &bOk);
    EXPECT_TRUE(bOk);
    return m_pSensor;
}

LogCapture::LogCapture()
{
    char szTemplate[] = "/tmp/vyx-sensor-log-XXXXXX";
    const char* pszDir = mkdtemp(szTemplate);
    EXPECT_NE(nullptr, pszDir);
    m_folder = pszDir != nullptr ? pszDir : "";
    EXPECT_EQ(0, VYXLOG_LogSet(true, m_folder.c_str()));
}

LogCapture::~LogCapture()
{
    VYXLOG_LogSet(false, nullptr);
    if (DIR* pDir = opendir(m_folder.c_str())) {
        while (dirent* pEntry = readdir(pDir))
            if (pEntry->d_name[0] != '.')
                unlink((m_folder + "/" + pEntry->d_name).c_str());
        closedir(pDir);
    }
    rmdir(m_folder.c_str());
}

std::string LogCapture::Text() const
{
    bool bOn = false;
    char szPath[VYXLOG_PATH_SIZE] = {0};
    VYXLOG_LogGet(&bOn, szPath);
    std::ifstream in(szPath);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
