// ModelTestSupport.h - a small "board program" for the model tests: it uses
// the board only through its device files (open, mmap, write, ioctl, select,
// read), exactly as code on the real camera would, plus the model's test
// control header for counters and the screen.
#ifndef VYX_MODEL_TEST_SUPPORT_H
#define VYX_MODEL_TEST_SUPPORT_H

#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <png.h>

#include "BoardTest.h"
#include "PLRegs.h"
#include "VyxModel.h"

namespace modeltest {

namespace fpga = vyxpl::fpga;
namespace vdma = vyxpl::vdma;
namespace scl = vyxpl::scaler;
namespace phys = vyxpl::phys;

constexpr int kWaitMs = 5000;              // bound of every wait for the board
constexpr uint32_t kPoolImage = 0x32800000u;   // first block of the memory pool
constexpr uint32_t kPoolBytes = 0x00800000u;
constexpr int kFullWidth = 1280, kFullHeight = 1024;

// Sensor registers the tests put back before each test.
struct SensorDefault { uint8_t addr; uint16_t value; };
constexpr SensorDefault kSensorDefaults[] = {
    {4, 0x0052}, {7, 0x0E01}, {8, 0x0F21}, {9, 0x634B}, {10, 0x0000}, {11, 0x0100},
    {14, 8689},  {18, 0x0006}, {19, 0x0400}, {20, 0x0006}, {21, 0x0500}, {26, 0x0000},
    {54, 0x1010}, {55, 0x1010}, {58, 0x80F0}};

class RawBoard {
public:
    RawBoard()
    {
        m_mem = open("/dev/mem", O_RDWR | O_SYNC);
        m_cache = open("/dev/cache_ops", O_RDWR);
        m_spi = open("/dev/spidev32766.0", O_RDWR);
        m_irq = open("/dev/vyx_capture_0", O_RDONLY);
        fpga = mapBlock(phys::kFpgaBase, phys::kFpgaMapLength);
        scaler = mapBlock(phys::kScalerBase, phys::kScalerMapLength);
        vdmaG8 = mapBlock(phys::kVdmaG8Base, phys::kVdmaMapLength);
        vdmaRgb = mapBlock(phys::kVdmaRgb888Base, phys::kVdmaMapLength);
        vdmaHdmi = mapBlock(phys::kVdmaHdmiBase, phys::kVdmaMapLength);
        for (int i = 0; i < 4; ++i) buffer[i] = mapRam(phys::kFrameBufferBase + i * phys::kFrameBufferSize, phys::kFrameBufferSize);
        pool = mapRam(kPoolImage, kPoolBytes);
        store[0] = mapRam(phys::kShowStore0, 0x800000);
        store[1] = mapRam(phys::kShowStore1, 0x800000);
    }
    ~RawBoard()
    {
        for (auto& m : m_maps) munmap(m.first, m.second);
        for (int fd : {m_mem, m_cache, m_spi, m_irq})
            if (fd >= 0) close(fd);
    }
    bool ok() const
    {
        return m_mem >= 0 && m_cache >= 0 && m_spi >= 0 && m_irq >= 0 && fpga && scaler && vdmaG8 && vdmaRgb &&
               vdmaHdmi && buffer[3] && pool && store[1];
    }

    uint32_t reg(uint32_t offset) const { return fpga[offset / 4]; }
    void setReg(uint32_t offset, uint32_t value) { fpga[offset / 4] = value; }
    static void set(volatile uint32_t* block, uint32_t offset, uint32_t value) { block[offset / 4] = value; }

    // Sensor register write: one 3-byte frame, write flag in bit 7.
    bool sensorWrite(uint8_t addr, uint16_t value)
    {
        const uint8_t frame[3] = {static_cast<uint8_t>(0x80 | (addr & 0x7F)), static_cast<uint8_t>(value >> 8),
                                  static_cast<uint8_t>(value)};
        return write(m_spi, frame, 3) == 3;
    }
    // Sensor register read: one full-duplex transfer.
    uint16_t sensorRead(uint8_t addr)
    {
        uint8_t tx[3] = {static_cast<uint8_t>(addr & 0x7F), 0xAA, 0xAA};
        uint8_t rx[3] = {0, 0, 0};
        spi_ioc_transfer t;
        std::memset(&t, 0, sizeof t);
        t.tx_buf = reinterpret_cast<uintptr_t>(tx);
        t.rx_buf = reinterpret_cast<uintptr_t>(rx);
        t.len = 3;
        t.speed_hz = 500000;
        if (ioctl(m_spi, SPI_IOC_MESSAGE(1), &t) <= 0) return 0xDEAD;
        return static_cast<uint16_t>(rx[1] << 8 | rx[2]);
    }

    // One interrupt code, or "" when none arrives within timeoutMs.
    std::string waitInterrupt(int timeoutMs = kWaitMs)
    {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(m_irq, &set);
        timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        if (select(m_irq + 1, &set, nullptr, nullptr, &tv) <= 0) return "";
        char text[9] = {};
        if (read(m_irq, text, 8) <= 0) return "";
        return text;
    }
    bool interruptPending() { return !waitInterrupt(0).empty(); }
    int interruptFd() const { return m_irq; }
    // A call into the board that waits for nothing: a poll of the capture
    // node with no time-out.  The PL looks at its registers on every call.
    void callBoard() {
        pollfd p{m_irq, POLLIN, 0};
        poll(&p, 1, 0);
    }
    void drainInterrupts()
    {
        while (interruptPending()) {
        }
    }

    // Newest buffer as register 52 names it.
    int newestBuffer() const { return static_cast<int>(reg(fpga::kFrameBufStatus) >> fpga::kFrameBufIdShift); }

    // The PL told to store frames of width x height pixels.
    void setFrameGeometry(uint32_t width, uint32_t height)
    {
        setReg(fpga::kFramePixelsA, width * height);
        setReg(fpga::kFramePixelsB, width * height);
        setReg(fpga::kGeometryA, fpga::kGeometryAValue);
        setReg(fpga::kGeometryB, (width >> 3) | ((height + 1) << fpga::kGeometryBHeightShift));
    }
    void setCapture(bool run, uint32_t trigger)
    {
        setReg(fpga::kTrigger, trigger);
        setReg(fpga::kControl, fpga::kControlQtShow | (run ? fpga::kControlCaptureStart : 0u));
    }

    // Everything back to the state after power-on, with capture stopped and no
    // frame or interrupt pending.
    void reset()
    {
        vb::resetFaults();
        setCapture(false, fpga::kTriggerEnable);
        setReg(fpga::kMultiFrameA, 1);
        setReg(fpga::kMultiFrameB, 1);
        setReg(fpga::kClearWriteBuf, 1);
        setReg(fpga::kFramePeriod, 0);
        setReg(fpga::kTriggerFilter, 0);
        setReg(fpga::kTriggerDelay, 0);
        for (int i = 0; i < 4; ++i) setReg(fpga::kFrameBufBase0 + 4 * i, phys::kFrameBufferBase + i * phys::kFrameBufferSize);
        setFrameGeometry(kFullWidth, kFullHeight);
        vb::setGpioInput(vb::kTriggerInputLine, false);
        for (const SensorDefault& d : kSensorDefaults) sensorWrite(d.addr, d.value);
        vb::modelUsePattern();
        vb::modelSetSceneFps(0);
        vb::modelSetNoise(false, 0);
        vb::modelSetStamp(true);
        setReg(fpga::kClearReadBuf, 1);
        ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
        setReg(fpga::kClearReadBuf, 0);
        drainInterrupts();
    }

    // A 160 x 128 window and an exposure of 100 lines: small frames that are
    // exposed and read out in well under a millisecond.
    void smallFastFrames() {
        sensorWrite(21, 160);
        sensorWrite(19, 128);
        sensorWrite(14, 100);
        setFrameGeometry(160, 128);
    }

    // Software trigger and wait for the buffer's interrupt; the buffer index
    // (or -1 when no interrupt came).
    int triggerAndWait(int timeoutMs = kWaitMs) {
        setReg(fpga::kSoftTrigger, 1);
        const std::string code = waitInterrupt(timeoutMs);
        if (code != "169") return -1;
        return newestBuffer();
    }

    // One software-triggered frame of width x height, copied out, buffer released.
    // A slow sensor clock stretches the frame: timeoutMs bounds the wait.
    std::vector<uint8_t> captureFrame(uint32_t width, uint32_t height, int timeoutMs = kWaitMs) {
        setFrameGeometry(width, height);
        setCapture(true, fpga::kTriggerEnable);
        const int index = triggerAndWait(timeoutMs);
        if (index < 0) return {};
        std::vector<uint8_t> frame(buffer[index], buffer[index] + static_cast<size_t>(width) * height);
        setReg(fpga::kReleaseBuf, 1);
        return frame;
    }

    volatile uint32_t* fpga = nullptr;
    volatile uint32_t* scaler = nullptr;
    volatile uint32_t* vdmaG8 = nullptr;
    volatile uint32_t* vdmaRgb = nullptr;
    volatile uint32_t* vdmaHdmi = nullptr;
    uint8_t* buffer[4] = {};
    uint8_t* pool = nullptr;
    uint8_t* store[2] = {};

private:
    volatile uint32_t* mapBlock(uint32_t base, size_t length)
    {
        void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, m_mem, static_cast<off_t>(base));
        if (p == MAP_FAILED) return nullptr;
        m_maps.emplace_back(p, length);
        return static_cast<volatile uint32_t*>(p);
    }
    uint8_t* mapRam(uint32_t base, size_t length)
    {
        void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, m_cache, static_cast<off_t>(base));
        if (p == MAP_FAILED) return nullptr;
        m_maps.emplace_back(p, length);
        return static_cast<uint8_t*>(p);
    }

    int m_mem = -1, m_cache = -1, m_spi = -1, m_irq = -1;
    std::vector<std::pair<void*, size_t>> m_maps;
};

// Fixture: one board program per test, reset to the power-on state; the
// test leaves no descriptor or mapping open beyond the program's own
// (BoardTest.h).
class ModelTest : public vyxtest::BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        ASSERT_TRUE(board.ok()) << "the board's device files could not be opened and mapped";
        board.reset();
    }
    void TearDown() override {
        board.reset();
        BoardTest::TearDown();
    }
    RawBoard board;
};

// Writes a grey PNG of width x height pixels; false on failure.
inline bool writeGreyPng(const std::string& path, uint32_t width, uint32_t height, const uint8_t* pixels) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_GRAY;
    return png_image_write_to_file(&image, path.c_str(), 0, pixels, 0, nullptr) != 0;
}

// Frame counter stamped into a frame, or 0 when there is no valid stamp.
inline uint32_t stampOf(const uint8_t* frame)
{
    uint32_t counter = 0;
    return vb::modelFrameCounter(frame, &counter) ? counter : 0;
}

}  // namespace modeltest

#endif
