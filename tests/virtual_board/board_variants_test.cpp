// The symbol variants a program built with 64-bit file offsets, 64-bit time
// and fortified calls imports (open64, __open64_2, mmap64, stat64 and, on
// 32-bit ARM, __ioctl_time64, __select64, __stat64_time64 ...): each must
// still land on the board.  This unit is compiled with those options.
#include <fcntl.h>
#include <ftw.h>
#include <linux/spi/spidev.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/time.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "BoardTest.h"
#include "VyxBoard.h"

#if !defined(_FILE_OFFSET_BITS) || _FILE_OFFSET_BITS != 64
#error "this unit must be built with 64-bit file offsets"
#endif

namespace {

// Flags the compiler cannot see through, so the fortified open is called.
volatile int g_rdwr = O_RDWR;
volatile int g_rdonly = O_RDONLY;

// Every test starts on a reset board (no faults, empty logs) and leaves no
// descriptor or mapping open (BoardTest.h).
using BoardVariants = vyxtest::BoardTest;

TEST_F(BoardVariants, LargeFileTime64AndFortifiedCallsReachTheBoard) {
    int spi = open("/dev/spidev32766.0", g_rdwr);
    ASSERT_GE(spi, 0);
    EXPECT_EQ(vb::nodeOfDescriptor(spi), vb::Node::Spi0);
    uint8_t tx[3] = {0x15, 0xAA, 0xAA}, rx[3] = {};
    spi_ioc_transfer x;
    memset(&x, 0, sizeof x);
    x.tx_buf = reinterpret_cast<uintptr_t>(tx);
    x.rx_buf = reinterpret_cast<uintptr_t>(rx);
    x.len = 3;
    EXPECT_EQ(ioctl(spi, SPI_IOC_MESSAGE(1), &x), 3);
    EXPECT_EQ(vb::spiLog().size(), 1u);
    close(spi);

    int dev = open("/dev", O_RDONLY | O_DIRECTORY);
    int irq = openat(dev, "vyx_capture_0", g_rdonly);
    close(dev);
    ASSERT_GE(irq, 0);
    EXPECT_EQ(vb::nodeOfDescriptor(irq), vb::Node::Capture);
    ASSERT_TRUE(vb::raiseInterrupt(0));
    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(irq, &rd);
    timeval tv{5, 0};
    EXPECT_EQ(select(irq + 1, &rd, nullptr, nullptr, &tv), 1);
    pollfd p{irq, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 5000), 1);
    char code[8];
    EXPECT_EQ(read(irq, code, sizeof code), 4);
    EXPECT_STREQ(code, "169");
    close(irq);

    int cache = open("/dev/cache_ops", g_rdwr | O_SYNC);
    ASSERT_GE(cache, 0);
    void* fb = mmap(nullptr, 0xA00000, PROT_READ | PROT_WRITE, MAP_SHARED, cache, 0x31E00000);
    ASSERT_NE(fb, MAP_FAILED);
    static_cast<uint8_t*>(fb)[7] = 0x42;
    EXPECT_EQ(*vb::physPtr(0x31E00007), 0x42);
    munmap(fb, 0xA00000);
    close(cache);

    struct stat st;
    EXPECT_EQ(stat("/dev/misc_vyx_gpio", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    vb::setNodeMissing(vb::Node::Gpio, true);
    EXPECT_EQ(lstat("/dev/misc_vyx_gpio", &st), -1);
    EXPECT_EQ(errno, ENOENT);
    FILE* f = fopen("/dev/misc_vyx_gpio", "r");
    EXPECT_EQ(f, nullptr);
    vb::setNodeMissing(vb::Node::Gpio, false);

    vb::setFakeFreeSpace(12345);
    struct statfs sf;
    ASSERT_EQ(statfs("/picture/sd/", &sf), 0);
    EXPECT_LE(static_cast<uint64_t>(sf.f_bsize) * sf.f_bfree, 12345u);
}

// The naming and time-setting calls of such a program (__readlink_chk,
// __realpath_chk, nftw64, and on 32-bit ARM __utimensat64, __utimes64,
// __utime64, __nftw64_time64, ...) see the nodes and the sandbox too.
TEST_F(BoardVariants, NamingAndTimeCallsReachTheBoard) {
    const char* node = "/dev/vyx_capture_0";
    char name[PATH_MAX];
    ASSERT_NE(realpath(node, name), nullptr);
    EXPECT_STREQ(name, node);
    char target[32];
    errno = 0;
    EXPECT_EQ(readlink(node, target, sizeof target), -1);
    EXPECT_EQ(errno, EINVAL);
    const timespec ts[2] = {{0, UTIME_NOW}, {0, UTIME_NOW}};
    const timeval tv[2] = {{1, 0}, {1, 0}};
    const utimbuf ub{1, 1};
    for (int r : {utimensat(AT_FDCWD, node, ts, 0), utimes(node, tv), lutimes(node, tv), utime(node, &ub),
                  futimesat(AT_FDCWD, node, tv)}) {
        EXPECT_EQ(r, -1);
        EXPECT_EQ(errno, EACCES);
    }
    struct statx sx;
    ASSERT_EQ(statx(AT_FDCWD, node, 0, STATX_TYPE, &sx), 0);
    EXPECT_TRUE(S_ISCHR(sx.stx_mode));
    static int visits;
    visits = 0;
    ASSERT_EQ(nftw(
                  "/picture/sd",
                  [](const char* p, const struct stat*, int, FTW*) {
                      visits += strncmp(p, "/picture/sd", 11) == 0;
                      return 0;
                  },
                  4, FTW_PHYS),
              0);
    EXPECT_GE(visits, 1);
}

}  // namespace
