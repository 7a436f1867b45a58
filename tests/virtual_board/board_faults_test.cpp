// Fault injection: every kind of failure the SDK's error paths need, on the
// call it is asked for and no other.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BoardTest.h"
#include "VyxBoard.h"

namespace {

// The board's memory map, as the board's own tests state it.
constexpr uint32_t kFpgaBase = 0x43C00000;
constexpr uint32_t kScalerBase = 0x43C10000;
constexpr uint32_t kVdmaHdmiBase = 0x43020000;
constexpr size_t kWindowBytes = 0x40000;

// Every test starts on a reset board (no faults, call counters at zero,
// empty logs) and leaves no descriptor or mapping open (BoardTest.h).
using BoardFaults = vyxtest::BoardTest;

void* mapAt(int fd, size_t len, uint64_t phys) {
    return mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_SHARED, fd, static_cast<off_t>(phys));
}

TEST_F(BoardFaults, MissingNodesAnswerEnoentEverywhere) {
    for (int n = 0; n < vb::kNodeCount; ++n) {
        auto node = static_cast<vb::Node>(n);
        const char* path = vb::nodePath(node);
        SCOPED_TRACE(path);
        vb::setNodeMissing(node, true);
        errno = 0;
        EXPECT_EQ(open(path, O_RDWR), -1);
        EXPECT_EQ(errno, ENOENT);
        EXPECT_EQ(fopen(path, "r"), nullptr);
        struct stat st;
        EXPECT_EQ(stat(path, &st), -1);
        EXPECT_EQ(access(path, F_OK), -1);
        vb::setNodeMissing(node, false);
        int fd = open(path, O_RDONLY);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(stat(path, &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
        close(fd);
    }
}

TEST_F(BoardFaults, OpenFailsFromTheNthCallOrJustOnce) {
    // The third /dev/mem open is the scaler's in the PL bring-up.
    vb::setFault(vb::Node::Mem, vb::Op::Open, {EACCES, 3});
    int fds[4];
    for (int i = 0; i < 4; ++i) fds[i] = open("/dev/mem", O_RDWR | O_SYNC);
    EXPECT_GE(fds[0], 0);
    EXPECT_GE(fds[1], 0);
    EXPECT_EQ(fds[2], -1);
    EXPECT_EQ(fds[3], -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(vb::callCount(vb::Node::Mem, vb::Op::Open), 4u);
    for (int fd : fds)
        if (fd >= 0) close(fd);

    vb::Fault once{EMFILE, 2};
    once.times = 1;
    vb::setFault(vb::Node::Spi0, vb::Op::Open, once);
    int a = open("/dev/spidev32766.0", O_RDWR);
    int b = open("/dev/spidev32766.0", O_RDWR);
    int c = open("/dev/spidev32766.0", O_RDWR);
    EXPECT_GE(a, 0);
    EXPECT_EQ(b, -1);
    EXPECT_GE(c, 0);
    close(a);
    close(c);
}

TEST_F(BoardFaults, MmapFailsForOneBlockOrFromTheNthMapping) {
    vb::Fault scaler{ENOMEM};
    scaler.physOffset = kScalerBase;
    vb::setFault(vb::Node::Mem, vb::Op::Mmap, scaler);
    int mem = open("/dev/mem", O_RDWR | O_SYNC);
    ASSERT_GE(mem, 0);
    void* fpga = mapAt(mem, 156, kFpgaBase);
    EXPECT_NE(fpga, MAP_FAILED);
    errno = 0;
    EXPECT_EQ(mapAt(mem, kWindowBytes, kScalerBase), MAP_FAILED);
    EXPECT_EQ(errno, ENOMEM);
    void* vdma = mapAt(mem, kWindowBytes, kVdmaHdmiBase);
    EXPECT_NE(vdma, MAP_FAILED);
    munmap(vdma, kWindowBytes);
    munmap(fpga, 156);
    close(mem);

    // The third frame-buffer mapping of a camera set.
    vb::setFault(vb::Node::CacheOps, vb::Op::Mmap, {ENOMEM, 3});
    int cache = open("/dev/cache_ops", O_RDWR | O_SYNC);
    ASSERT_GE(cache, 0);
    void* maps[3];
    for (int i = 0; i < 3; ++i) maps[i] = mapAt(cache, 0xA00000, 0x30000000u + i * 0xA00000u);
    EXPECT_NE(maps[0], MAP_FAILED);
    EXPECT_NE(maps[1], MAP_FAILED);
    EXPECT_EQ(maps[2], MAP_FAILED);
    EXPECT_EQ(vb::liveNodeMappings(vb::Node::CacheOps), 2);
    munmap(maps[0], 0xA00000);
    munmap(maps[1], 0xA00000);
    close(cache);
}

TEST_F(BoardFaults, IoctlFaultsCanNameOneRequest) {
    vb::Fault flush{EIO};
    flush.request = 0xF704;
    vb::setFault(vb::Node::CacheOps, vb::Op::Ioctl, flush);
    int cache = open("/dev/cache_ops", O_RDWR);
    uint8_t record[12] = {};
    uint64_t before = vb::cacheFlushCount();
    errno = 0;
    EXPECT_EQ(ioctl(cache, 0xF704, record), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(vb::cacheFlushCount(), before);
    close(cache);

    vb::setFault(vb::Node::Gpio, vb::Op::Ioctl, {EBUSY});
    int gpio = open("/dev/misc_vyx_gpio", O_RDONLY);
    size_t writes = vb::gpioWrites().size();
    int32_t v = 1;
    EXPECT_EQ(ioctl(gpio, 0x20000, &v), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(vb::gpioWrites().size(), writes) << "a refused write changes no line";
    EXPECT_EQ(vb::ioctlLog().back().error, EBUSY);
    close(gpio);
}

TEST_F(BoardFaults, SpiWriteAndTransferFailures) {
    int fd = open("/dev/spidev32766.0", O_RDWR);
    ASSERT_GE(fd, 0);
    vb::setFault(vb::Node::Spi0, vb::Op::Write, {EIO});
    const uint8_t frame[3] = {0x8E, 0x01, 0x00};
    errno = 0;
    EXPECT_EQ(write(fd, frame, 3), -1);
    EXPECT_EQ(errno, EIO);
    auto log = vb::spiLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].result, -1);

    uint8_t tx[3] = {0x0E, 0xAA, 0xAA}, rx[3] = {0x11, 0x22, 0x33};
    spi_ioc_transfer x;
    memset(&x, 0, sizeof x);
    x.tx_buf = reinterpret_cast<uintptr_t>(tx);
    x.rx_buf = reinterpret_cast<uintptr_t>(rx);
    x.len = 3;
    vb::setSpiTransferReturnsZero(0, 2);
    EXPECT_EQ(ioctl(fd, SPI_IOC_MESSAGE(1), &x), 3);
    rx[0] = rx[1] = rx[2] = 0x77;
    EXPECT_EQ(ioctl(fd, SPI_IOC_MESSAGE(1), &x), 0);
    EXPECT_EQ(rx[1], 0x77) << "a transfer that returns 0 clocks nothing in";

    vb::setFault(vb::Node::Spi0, vb::Op::Ioctl, {ETIMEDOUT});
    errno = 0;
    EXPECT_EQ(ioctl(fd, SPI_IOC_MESSAGE(1), &x), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    close(fd);
}

TEST_F(BoardFaults, InterruptsCanBeWithheldOrStop) {
    int fd = open("/dev/vyx_capture_0", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    vb::withholdInterrupts(true);
    EXPECT_FALSE(vb::raiseInterrupt(0));
    vb::withholdInterrupts(false);
    vb::stopInterruptsAfter(2);
    EXPECT_TRUE(vb::raiseInterrupt(0));
    EXPECT_TRUE(vb::raiseInterrupt(0));
    EXPECT_FALSE(vb::raiseInterrupt(0));
    char buf[8];
    EXPECT_GT(read(fd, buf, sizeof buf), 0);
    EXPECT_GT(read(fd, buf, sizeof buf), 0);
    EXPECT_EQ(read(fd, buf, sizeof buf), -1);
    EXPECT_EQ(errno, EAGAIN);

    // A failing read takes its code with it.
    vb::resetFaults();
    ASSERT_TRUE(vb::raiseInterrupt(1));
    vb::setFault(vb::Node::Capture, vb::Op::Read, {EIO, 1, 1});
    EXPECT_EQ(read(fd, buf, sizeof buf), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(read(fd, buf, sizeof buf), -1);
    EXPECT_EQ(errno, EAGAIN);

    // A failing wait.
    vb::setFault(vb::Node::Capture, vb::Op::Select, {EINTR});
    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(fd, &rd);
    timeval tv{0, 0};
    EXPECT_EQ(select(fd + 1, &rd, nullptr, nullptr, &tv), -1);
    EXPECT_EQ(errno, EINTR);
    close(fd);
}

void* idle(void*) { return nullptr; }

TEST_F(BoardFaults, ThreadSemaphoreAndPluginFailures) {
    vb::Fault second{EAGAIN, 2};
    second.times = 1;
    vb::setServiceFault(vb::Service::ThreadCreate, second);
    pthread_t t;
    ASSERT_EQ(pthread_create(&t, nullptr, idle, nullptr), 0);
    pthread_join(t, nullptr);
    EXPECT_EQ(pthread_create(&t, nullptr, idle, nullptr), EAGAIN);
    ASSERT_EQ(pthread_create(&t, nullptr, idle, nullptr), 0);
    pthread_join(t, nullptr);

    vb::setServiceFault(vb::Service::SemInit, {ENOSPC});
    sem_t sem;
    EXPECT_EQ(sem_init(&sem, 0, 0), -1);
    EXPECT_EQ(errno, ENOSPC);
    vb::setServiceFault(vb::Service::SemOpen, {EACCES});
    EXPECT_EQ(sem_open("/vyxboard-test", O_CREAT, 0600, 0), SEM_FAILED);
    EXPECT_EQ(errno, EACCES);

    vb::setPluginMissing(true);
    EXPECT_EQ(dlopen("/usr/lib/libvyxSensorQ210B.so", RTLD_NOW), nullptr);
    EXPECT_NE(dlerror(), nullptr);
    vb::setPluginMissing(false);
    // A library without the plug-in's entry point stands in for it.
    vb::setPluginPath("libm.so.6");
    void* h = dlopen("/usr/lib/libvyxSensorQ210B.so", RTLD_NOW);
    ASSERT_NE(h, nullptr) << dlerror();
    EXPECT_EQ(dlsym(h, "newSensor"), nullptr);
    dlclose(h);

    vb::resetFaults();
    EXPECT_EQ(sem_init(&sem, 0, 0), 0);
    sem_destroy(&sem);
}

TEST_F(BoardFaults, ResetRestoresEveryNode) {
    for (int n = 0; n < vb::kNodeCount; ++n) {
        auto node = static_cast<vb::Node>(n);
        vb::setNodeMissing(node, true);
        vb::setFault(node, vb::Op::Open, {EIO});
    }
    vb::withholdInterrupts(true);
    vb::resetFaults();
    for (int n = 0; n < vb::kNodeCount; ++n) {
        int fd = open(vb::nodePath(static_cast<vb::Node>(n)), O_RDONLY);
        EXPECT_GE(fd, 0) << vb::nodePath(static_cast<vb::Node>(n));
        close(fd);
    }
    int fd = open("/dev/vyx_capture_0", O_RDONLY);
    EXPECT_TRUE(vb::raiseInterrupt(2));
    close(fd);
}

// One call puts back everything a test can change on the board.
TEST_F(BoardFaults, ResetBoardPutsBackEverythingATestCanChange) {
    int spi = open("/dev/spidev32766.0", O_RDWR);
    int gpio = open("/dev/misc_vyx_gpio", O_RDONLY);
    ASSERT_GE(spi, 0);
    ASSERT_GE(gpio, 0);
    uint32_t speed = 1000000;
    ASSERT_EQ(ioctl(spi, SPI_IOC_WR_MAX_SPEED_HZ, &speed), 0);
    ASSERT_EQ(write(spi, "\x8E\x01\x00", 3), 3);
    int32_t one = 1;
    ASSERT_EQ(ioctl(gpio, 0x20000, &one), 0);
    vb::setGpioInput(0, true);
    vb::setFault(vb::Node::Mem, vb::Op::Open, {EIO});
    vb::setNodeMissing(vb::Node::Gpio, true);
    vb::setServiceFault(vb::Service::SemOpen, {EACCES});
    vb::setPluginMissing(true);
    vb::setSpiTransferReturnsZero(0, 1);
    vb::withholdInterrupts(true);
    vb::setFakeFreeSpace(1);

    vb::resetBoard();

    EXPECT_TRUE(vb::spiLog().empty());
    EXPECT_TRUE(vb::ioctlLog().empty());
    EXPECT_TRUE(vb::gpioWrites().empty());
    for (int line = 0; line < vb::kGpioLines; ++line)
        EXPECT_FALSE(vb::gpioLevel(line)) << "line " << line;
    EXPECT_EQ(vb::callCount(vb::Node::Spi0, vb::Op::Write), 0u);
    uint32_t now = 0;
    ASSERT_EQ(ioctl(spi, SPI_IOC_RD_MAX_SPEED_HZ, &now), 0);
    EXPECT_EQ(now, 500000u) << "the bus is back at its default speed";
    uint8_t tx[3] = {0x0E, 0xAA, 0xAA}, rx[3] = {};
    spi_ioc_transfer x;
    memset(&x, 0, sizeof x);
    x.tx_buf = reinterpret_cast<uintptr_t>(tx);
    x.rx_buf = reinterpret_cast<uintptr_t>(rx);
    x.len = 3;
    EXPECT_EQ(ioctl(spi, SPI_IOC_MESSAGE(1), &x), 3) << "transfers clock data again";
    int mem = open("/dev/mem", O_RDWR);
    EXPECT_GE(mem, 0);
    if (mem >= 0) close(mem);
    int again = open("/dev/misc_vyx_gpio", O_RDONLY);
    EXPECT_GE(again, 0);
    if (again >= 0) close(again);
    errno = 0;
    sem_t* sem = sem_open("/vyxboard-reset-test", O_CREAT, 0600, 0);
    EXPECT_NE(sem, SEM_FAILED);
    if (sem != SEM_FAILED) {
        sem_close(sem);
        sem_unlink("/vyxboard-reset-test");
    }
    void* h = dlopen("/usr/lib/libvyxSensorQ210B.so", RTLD_NOW);
    EXPECT_NE(h, nullptr);
    if (h) dlclose(h);
    struct statvfs fs;
    ASSERT_EQ(statvfs("/picture/sd", &fs), 0);
    EXPECT_GT(fs.f_bavail, 0u) << "free space is the file system's again";
    int irq = open("/dev/vyx_capture_0", O_RDONLY);
    EXPECT_TRUE(vb::raiseInterrupt(0)) << "interrupts flow again";
    close(irq);
    close(gpio);
    close(spi);
}

// Every fault point a driver lists makes its operation fail with the
// injected error, on every node; an operation a node does not list is not a
// fault point there.
TEST_F(BoardFaults, EveryListedFaultPointFires) {
    constexpr int kInjected = EPROTO;  // an errno no node gives on its own
    for (int n = 0; n < vb::kNodeCount; ++n) {
        const auto node = static_cast<vb::Node>(n);
        const char* path = vb::nodePath(node);
        const std::vector<vb::Op> points = vb::faultPoints(node);
        for (vb::Op op : points) {
            SCOPED_TRACE(std::string(path) + " op " + std::to_string(static_cast<int>(op)));
            int fd = op == vb::Op::Open ? -1 : open(path, O_RDWR);
            ASSERT_TRUE(op == vb::Op::Open || fd >= 0);
            vb::setFault(node, op, {kInjected});
            errno = 0;
            long result = 0;
            switch (op) {
            case vb::Op::Open: result = open(path, O_RDWR); break;
            case vb::Op::Read: {
                char buf[8];
                result = read(fd, buf, sizeof buf);
                break;
            }
            case vb::Op::Write: result = write(fd, "\x81\x00\x00", 3); break;
            case vb::Op::Mmap:
                result = mapAt(fd, 4096, node == vb::Node::CacheOps ? 0x30000000u : kFpgaBase) == MAP_FAILED
                             ? -1
                             : 0;
                break;
            case vb::Op::Select: {
                fd_set rd;
                FD_ZERO(&rd);
                FD_SET(fd, &rd);
                timeval tv{0, 0};
                result = select(fd + 1, &rd, nullptr, nullptr, &tv);
                break;
            }
            case vb::Op::Ioctl: {
                // A request the node knows, so the call reaches its fault point.
                uint32_t value = 0;
                unsigned long request = node == vb::Node::CacheOps ? 0xF704ul
                                        : node == vb::Node::Gpio
                                            ? 0x20000ul
                                            : static_cast<unsigned long>(SPI_IOC_RD_MAX_SPEED_HZ);
                result = ioctl(fd, request, &value);
                break;
            }
            case vb::Op::Count: break;
            }
            EXPECT_EQ(result, -1);
            EXPECT_EQ(errno, kInjected);
            vb::clearFault(node, op);
            if (fd >= 0) close(fd);
        }
        const bool hasIoctl = std::find(points.begin(), points.end(), vb::Op::Ioctl) != points.end();
        EXPECT_EQ(hasIoctl, node != vb::Node::Mem && node != vb::Node::Capture) << path;
        EXPECT_EQ(points.size(), hasIoctl ? 6u : 5u) << path;
    }
}

}  // namespace
