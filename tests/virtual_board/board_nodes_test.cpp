// The device nodes as a program on the board sees them: mappings at physical
// offsets, one interrupt code per read, SPI frames, GPIO requests.
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include "BoardTest.h"
#include "VyxBoard.h"

namespace {

// The board's memory map, as the board's own tests state it.
constexpr uint32_t kRamBase = 0x30000000;
constexpr uint32_t kRamEnd = 0x40000000;
constexpr uint32_t kFpgaBase = 0x43C00000;
constexpr uint32_t kScalerBase = 0x43C10000;
constexpr uint32_t kVdmaRgbBase = 0x43000000;
constexpr uint32_t kVdmaG8Base = 0x43010000;
constexpr uint32_t kVdmaHdmiBase = 0x43020000;
constexpr size_t kWindowBytes = 0x40000;

constexpr size_t kFrameBufferBytes = 0xA00000;
constexpr uint32_t kPoolBase = 0x32800000;
constexpr size_t kPoolBytes = 0xD800000;
constexpr size_t kFpgaMapBytes = 156;
constexpr unsigned long kCacheFlush = 0xF704;

// Every test starts on a reset board (no faults, empty logs) and leaves no
// descriptor or mapping open (BoardTest.h).
using BoardNodes = vyxtest::BoardTest;

void* mapAt(int fd, size_t len, uint64_t phys) {
    return mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_SHARED, fd, static_cast<off_t>(phys));
}

TEST_F(BoardNodes, CacheOpsMapsRamAtPhysicalOffsets) {
    int fd = open("/dev/cache_ops", O_RDWR | O_SYNC);
    ASSERT_GE(fd, 0);
    // Frame buffer 2 and the pool see the same RAM the board sees.
    auto* fb2 = static_cast<uint8_t*>(mapAt(fd, kFrameBufferBytes, 0x30000000 + 2 * kFrameBufferBytes));
    ASSERT_NE(fb2, MAP_FAILED);
    auto* pool = static_cast<uint8_t*>(mapAt(fd, kPoolBytes, kPoolBase));
    ASSERT_NE(pool, MAP_FAILED);
    fb2[123] = 0x5A;
    EXPECT_EQ(*vb::physPtr(0x30000000 + 2 * kFrameBufferBytes + 123), 0x5A);
    const char text[] = "block 5";
    ASSERT_TRUE(vb::writePhys(0x35000000, text, sizeof text));
    EXPECT_STREQ(reinterpret_cast<char*>(pool + 5 * 0x800000), text);
    EXPECT_EQ(vb::liveNodeMappings(vb::Node::CacheOps), 2);

    // The last byte of the RAM is mappable, one page beyond is not; neither
    // is anything below it.
    long page = sysconf(_SC_PAGESIZE);
    void* last = mapAt(fd, page, kRamEnd - page);
    EXPECT_NE(last, MAP_FAILED);
    errno = 0;
    EXPECT_EQ(mapAt(fd, 2 * page, kRamEnd - page), MAP_FAILED);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(mapAt(fd, page, kRamBase - page), MAP_FAILED);
    EXPECT_EQ(mapAt(fd, page, kFpgaBase), MAP_FAILED);

    uint8_t record[12] = {};
    uint64_t flushes = vb::cacheFlushCount();
    EXPECT_EQ(ioctl(fd, kCacheFlush, record), 0);
    EXPECT_EQ(vb::cacheFlushCount(), flushes + 1);
    errno = 0;
    EXPECT_EQ(ioctl(fd, 0xF705, record), -1);
    EXPECT_EQ(errno, ENOTTY);

    munmap(last, page);
    munmap(pool, kPoolBytes);
    munmap(fb2, kFrameBufferBytes);
    close(fd);
}

TEST_F(BoardNodes, DevMemMapsTheFiveRegisterBlocksOnly) {
    const struct {
        vb::Block block;
        uint32_t base;
        size_t len;
    } blocks[] = {
        {vb::Block::Fpga, kFpgaBase, kFpgaMapBytes},        {vb::Block::Scaler, kScalerBase, kWindowBytes},
        {vb::Block::VdmaRgb, kVdmaRgbBase, kWindowBytes},   {vb::Block::VdmaG8, kVdmaG8Base, kWindowBytes},
        {vb::Block::VdmaHdmi, kVdmaHdmiBase, kWindowBytes},
    };
    for (const auto& b : blocks) {
        SCOPED_TRACE(b.base);
        int fd = open("/dev/mem", O_RDWR | O_SYNC);
        ASSERT_GE(fd, 0);
        auto* regs = static_cast<volatile uint32_t*>(mapAt(fd, b.len, b.base));
        ASSERT_NE(regs, MAP_FAILED);
        // A store by the program is what the PL sees, and the other way round.
        // Offsets 40 and 56 are unused in every block, so neither the PL
        // model (which consumes pulses such as FPGA register 104 and writes
        // status such as 52) nor anything else touches them meanwhile.
        regs[40 / 4] = 0xC0DE0000u | static_cast<uint32_t>(b.block);
        EXPECT_EQ(vb::readReg(b.block, 40), 0xC0DE0000u | static_cast<uint32_t>(b.block));
        vb::writeReg(b.block, 56, 0x80000000u);
        EXPECT_EQ(regs[56 / 4], 0x80000000u);
        regs[40 / 4] = 0;
        vb::writeReg(b.block, 56, 0);
        munmap(const_cast<uint32_t*>(regs), b.len);
        close(fd);
    }
    int fd = open("/dev/mem", O_RDWR | O_SYNC);
    ASSERT_GE(fd, 0);
    // Beyond the windows, between the two groups of cores, and RAM: nothing there.
    for (uint64_t phys :
         {uint64_t{0x43C50000}, uint64_t{0x43060000}, uint64_t{0x43100000}, uint64_t{kRamBase}}) {
        errno = 0;
        EXPECT_EQ(mapAt(fd, 4096, phys), MAP_FAILED) << std::hex << phys;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(mapAt(fd, kWindowBytes + 4096, kScalerBase), MAP_FAILED);
    // The VDMA windows are 0x40000 wide but the cores 64 KiB apart: the
    // colour window reaches the grey core's registers, as on the board.
    auto* rgb = static_cast<volatile uint32_t*>(mapAt(fd, kWindowBytes, kVdmaRgbBase));
    ASSERT_NE(rgb, MAP_FAILED);
    vb::writeReg(vb::Block::VdmaG8, 0, 0x1234);
    EXPECT_EQ(rgb[(kVdmaG8Base - kVdmaRgbBase) / 4], 0x1234u);
    munmap(const_cast<uint32_t*>(rgb), kWindowBytes);
    close(fd);
}

TEST_F(BoardNodes, CaptureNodeGivesOneCodePerRead) {
    int fd = open("/dev/vyx_capture_0", O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(vb::raiseInterrupt(0));
    ASSERT_TRUE(vb::raiseInterrupt(3));
    ASSERT_TRUE(vb::raiseInterruptText("1690", false));

    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(fd, &rd);
    timeval tv{5, 0};
    ASSERT_EQ(select(fd + 1, &rd, nullptr, nullptr, &tv), 1);
    char buf[9] = {};
    // Codes never run together, and each carries its terminating zero.
    EXPECT_EQ(read(fd, buf, 8), 4);
    EXPECT_STREQ(buf, "169");
    memset(buf, 0, sizeof buf);
    EXPECT_EQ(read(fd, buf, 8), 4);
    EXPECT_STREQ(buf, "172");
    memset(buf, 0, sizeof buf);
    EXPECT_EQ(read(fd, buf, 8), 4);
    EXPECT_EQ(std::string(buf, 4), "1690");

    // Nothing pending: select times out.
    FD_ZERO(&rd);
    FD_SET(fd, &rd);
    tv = {0, 0};
    EXPECT_EQ(select(fd + 1, &rd, nullptr, nullptr, &tv), 0);
    errno = 0;
    EXPECT_EQ(write(fd, "169", 3), -1);
    EXPECT_EQ(errno, EBADF);
    close(fd);
}

TEST_F(BoardNodes, CodesQueuedForAClosedNodeDoNotReachTheNextReader) {
    int fd = open("/dev/vyx_capture_0", O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(vb::raiseInterrupt(1));
    close(fd);
    fd = open("/dev/vyx_capture_0", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    char buf[8];
    errno = 0;
    EXPECT_EQ(read(fd, buf, sizeof buf), -1);
    EXPECT_EQ(errno, EAGAIN);
    close(fd);
}

// A register read as the sensor code does it: one full-duplex transfer.
int spiRead(int fd, uint8_t addr, uint8_t rx[3], uint32_t speed = 500000) {
    uint8_t tx[3] = {static_cast<uint8_t>(addr & 0x7F), 0xAA, 0xAA};
    memset(rx, 0, 3);
    spi_ioc_transfer x;
    memset(&x, 0, sizeof x);
    x.tx_buf = reinterpret_cast<uintptr_t>(tx);
    x.rx_buf = reinterpret_cast<uintptr_t>(rx);
    x.len = 3;
    x.speed_hz = speed;
    return ioctl(fd, SPI_IOC_MESSAGE(1), &x);
}

TEST_F(BoardNodes, SpiFramesAreDecodedAndLogged) {
    int fd = open("/dev/spidev32766.0", O_RDWR);
    ASSERT_GE(fd, 0);
    const uint8_t write15[3] = {0x95, 0x05, 0x00};   // register 0x15 := 0x0500
    EXPECT_EQ(write(fd, write15, 3), 3);
    uint8_t rx[3];
    EXPECT_EQ(spiRead(fd, 0x15, rx, 250000), 3);
    uint16_t expected = 0x0500;
    EXPECT_EQ(rx[1], expected >> 8);
    EXPECT_EQ(rx[2], expected & 0xFF);

    auto log = vb::spiLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].bus, 0);
    EXPECT_EQ(log[0].kind, vb::SpiKind::Write);
    EXPECT_EQ(log[0].sent, std::vector<uint8_t>(write15, write15 + 3));
    EXPECT_TRUE(log[0].returned.empty());
    EXPECT_EQ(log[0].result, 3);
    EXPECT_EQ(log[1].kind, vb::SpiKind::Transfer);
    EXPECT_EQ(log[1].sent, (std::vector<uint8_t>{0x15, 0xAA, 0xAA}));
    EXPECT_EQ(log[1].returned, std::vector<uint8_t>(rx, rx + 3));
    EXPECT_EQ(log[1].speedHz, 250000u);
    EXPECT_EQ(log[1].result, 3);

    // Requests a spidev node does not know.
    errno = 0;
    EXPECT_EQ(ioctl(fd, 0xF704, nullptr), -1);
    EXPECT_EQ(errno, ENOTTY);
    uint32_t speed = 0;
    EXPECT_EQ(ioctl(fd, SPI_IOC_RD_MAX_SPEED_HZ, &speed), 0);
    EXPECT_GT(speed, 0u);
    close(fd);
}

TEST_F(BoardNodes, SpiBusOneIsSeparate) {
    int fd = open("/dev/spidev32766.1", O_RDWR);
    ASSERT_GE(fd, 0);
    const uint8_t frame[3] = {0x84, 0x12, 0x34};
    EXPECT_EQ(write(fd, frame, 3), 3);
    auto log = vb::spiLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].bus, 1);
    close(fd);
}

TEST_F(BoardNodes, GpioRequestsReadAndWriteTheTenLines) {
    int fd = open("/dev/misc_vyx_gpio", O_RDONLY);
    ASSERT_GE(fd, 0);
    const struct { int line; unsigned long request; } reads[] = {
        {0, 0}, {1, 1}, {2, 3}, {3, 0x10000}, {9, 0x10006}};
    for (const auto& r : reads) {
        SCOPED_TRACE(r.line);
        vb::setGpioInput(r.line, true);
        int32_t value = -7;
        EXPECT_EQ(ioctl(fd, r.request, &value), 0);
        EXPECT_NE(value, 0);
        vb::setGpioInput(r.line, false);
        EXPECT_EQ(ioctl(fd, r.request, &value), 0);
        EXPECT_EQ(value, 0);
    }
    // Writes on the read-only descriptor, as the library makes them.
    int32_t one = 1, zero = 0;
    EXPECT_EQ(ioctl(fd, 0x20000, &one), 0);
    EXPECT_EQ(ioctl(fd, 0x20006, &zero), 0);
    auto writes = vb::gpioWrites();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].line, 3);
    EXPECT_EQ(writes[0].value, 1);
    EXPECT_EQ(writes[1].line, 9);
    EXPECT_EQ(writes[1].value, 0);
    EXPECT_TRUE(vb::gpioLevel(3));

    for (unsigned long bad : {2ul, 4ul, 0x10007ul, 0x20007ul, 0x1FFFFul}) {
        int32_t v = 0;
        errno = 0;
        EXPECT_EQ(ioctl(fd, bad, &v), -1) << std::hex << bad;
        EXPECT_EQ(errno, ENOTTY);
    }
    auto log = vb::ioctlLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().node, vb::Node::Gpio);
    EXPECT_EQ(log.back().error, ENOTTY);
    close(fd);
}

}  // namespace
