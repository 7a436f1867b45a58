// The drivers check the caller's pointers and lengths as the kernel's do:
// a bad address is EFAULT, a transfer larger than spidev's buffer (4096
// bytes) is EMSGSIZE, never a crash of the caller; the vector calls reach
// the sensor, and a write that passes the board by (stdio, a raw system
// call, a descriptor inherited across exec) fails loudly instead of
// vanishing.
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "BoardTest.h"
#include "Nodes.h"
#include "VyxBoard.h"

namespace {

constexpr size_t kSpiBuffer = 4096;

class BoardValidation : public vyxtest::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        spi = open(vyxnode::kSpi0Path, O_RDWR);
        ASSERT_GE(spi, 0);
        // Non-null, but neither readable nor writable: the page after a
        // readable one, so that a record can straddle the edge.
        page = static_cast<uint8_t*>(
            mmap(nullptr, 2 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        ASSERT_NE(page, MAP_FAILED);
        ASSERT_EQ(mprotect(page + kPage, kPage, PROT_NONE), 0);
        bad = page + kPage;
    }
    void TearDown() override {
        munmap(page, 2 * kPage);
        close(spi);
        BoardTest::TearDown();
    }
    // -1 and the errno of a call, or its result when it succeeded.
    template <typename R>
    static long outcome(R r, int& error) {
        error = r < 0 ? errno : 0;
        return static_cast<long>(r);
    }
    int message(const spi_ioc_transfer* x, unsigned n, int& error) {
        errno = 0;
        unsigned long request = n == 1   ? SPI_IOC_MESSAGE(1)
                                : n == 2 ? SPI_IOC_MESSAGE(2)
                                         : SPI_IOC_MESSAGE(3);
        return static_cast<int>(outcome(ioctl(spi, request, x), error));
    }
    static spi_ioc_transfer xfer(const void* tx, void* rx, uint32_t len) {
        spi_ioc_transfer x;
        memset(&x, 0, sizeof x);
        x.tx_buf = reinterpret_cast<uintptr_t>(tx);
        x.rx_buf = reinterpret_cast<uintptr_t>(rx);
        x.len = len;
        return x;
    }
    static constexpr size_t kPage = 65536;  // a page on every kernel this runs on
    int spi = -1;
    uint8_t* page = nullptr;
    uint8_t* bad = nullptr;
};

TEST_F(BoardValidation, SpiWritesAndReadsCheckLengthAndAddress) {
    std::vector<uint8_t> big(6000, 0);
    int e;
    // Hidden from the compiler's checks, as a length computed at run time.
    volatile size_t huge = sizeof(size_t) == 8 ? static_cast<size_t>(1) << 34 : SIZE_MAX / 2;
    errno = 0;
    EXPECT_EQ(outcome(write(spi, big.data(), huge), e), -1);
    EXPECT_EQ(e, EMSGSIZE);
    EXPECT_EQ(outcome(write(spi, big.data(), big.size()), e), -1);
    EXPECT_EQ(e, EMSGSIZE);
    EXPECT_EQ(outcome(write(spi, big.data(), kSpiBuffer), e), static_cast<long>(kSpiBuffer));
    EXPECT_EQ(outcome(write(spi, bad, 3), e), -1);
    EXPECT_EQ(e, EFAULT);
    EXPECT_EQ(outcome(write(spi, bad - 1, 3), e), -1) << "a buffer running off its page";
    EXPECT_EQ(e, EFAULT);
    void* volatile low = reinterpret_cast<void*>(16);  // hidden from the compiler's checks
    EXPECT_EQ(outcome(write(spi, low, 3), e), -1);
    EXPECT_EQ(e, EFAULT);
    EXPECT_EQ(outcome(read(spi, bad, 3), e), -1);
    EXPECT_EQ(e, EFAULT);
    EXPECT_EQ(outcome(read(spi, big.data(), big.size()), e), -1);
    EXPECT_EQ(e, EMSGSIZE);
    // Nothing of the refused calls reached the sensor.
    for (const auto& f : vb::spiLog()) {
        if (f.result < 0) {
            EXPECT_TRUE(f.sent.empty());
        }
    }
}

TEST_F(BoardValidation, SpiMessagesCheckTheirRecordsAndBuffers) {
    uint8_t tx[kSpiBuffer] = {0x15, 0, 0}, rx[kSpiBuffer];
    int e;
    spi_ioc_transfer x = xfer(tx, rx, 1u << 30);  // 1 GiB
    EXPECT_EQ(message(&x, 1, e), -1);
    EXPECT_EQ(e, EMSGSIZE);
    std::vector<uint8_t> big(6000, 0);
    x = xfer(big.data(), nullptr, 6000);
    EXPECT_EQ(message(&x, 1, e), -1);
    EXPECT_EQ(e, EMSGSIZE);
    // Two records that fit one by one but not together.
    spi_ioc_transfer two[2] = {xfer(tx, nullptr, 3000), xfer(tx, nullptr, 3000)};
    EXPECT_EQ(message(two, 2, e), -1);
    EXPECT_EQ(e, EMSGSIZE);
    x = xfer(tx, rx, kSpiBuffer);
    EXPECT_EQ(message(&x, 1, e), static_cast<int>(kSpiBuffer));

    x = xfer(bad, rx, 3);
    EXPECT_EQ(message(&x, 1, e), -1);
    EXPECT_EQ(e, EFAULT);
    x = xfer(tx, bad, 3);
    EXPECT_EQ(message(&x, 1, e), -1);
    EXPECT_EQ(e, EFAULT);
    EXPECT_EQ(message(reinterpret_cast<spi_ioc_transfer*>(bad), 1, e), -1);
    EXPECT_EQ(e, EFAULT);
    // The second record lies beyond the readable page.
    auto* edge = reinterpret_cast<spi_ioc_transfer*>(bad - sizeof(spi_ioc_transfer));
    *edge = xfer(tx, rx, 3);
    EXPECT_EQ(message(edge, 2, e), -1);
    EXPECT_EQ(e, EFAULT);
    if (sizeof(void*) == 4) {
        // A 32-bit process has no address with the upper word set.
        x = xfer(tx, rx, 3);
        x.tx_buf |= 1ull << 40;
        EXPECT_EQ(message(&x, 1, e), -1);
        EXPECT_EQ(e, EFAULT);
    }
}

TEST_F(BoardValidation, ConfigurationAndGpioRequestsCheckTheirArgument) {
    int e;
    errno = 0;
    EXPECT_EQ(outcome(ioctl(spi, SPI_IOC_RD_MODE, bad), e), -1);
    EXPECT_EQ(e, EFAULT);
    EXPECT_EQ(outcome(ioctl(spi, SPI_IOC_WR_MAX_SPEED_HZ, bad), e), -1);
    EXPECT_EQ(e, EFAULT);
    EXPECT_EQ(outcome(ioctl(spi, SPI_IOC_RD_MAX_SPEED_HZ, bad - 2), e), -1);
    EXPECT_EQ(e, EFAULT);
    int gpio = open(vyxnode::kGpioPath, O_RDWR);
    ASSERT_GE(gpio, 0);
    EXPECT_EQ(outcome(ioctl(gpio, vyxnode::kGpioReadInput[0], bad), e), -1);
    EXPECT_EQ(e, EFAULT);
    EXPECT_EQ(outcome(ioctl(gpio, vyxnode::kGpioWriteBase, bad), e), -1);
    EXPECT_EQ(e, EFAULT);
    int32_t level = -1;
    EXPECT_EQ(ioctl(gpio, vyxnode::kGpioReadInput[0], &level), 0);
    EXPECT_EQ(level, 0);
    close(gpio);
}

TEST_F(BoardValidation, VectorWritesReachTheSensorAndPositionedCallsAreRefused) {
    uint8_t a[3] = {0x95, 0x05, 0x00}, b[3] = {0x96, 0x00, 0x10};
    iovec iov[2] = {{a, 3}, {b, 3}};
    EXPECT_EQ(writev(spi, iov, 2), 6);
    auto log = vb::spiLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].sent, std::vector<uint8_t>(a, a + 3));
    EXPECT_EQ(log[1].sent, std::vector<uint8_t>(b, b + 3));
    uint8_t rx[3];
    iovec in{rx, 3};
    EXPECT_EQ(readv(spi, &in, 1), 3);
    int e;
    errno = 0;
    EXPECT_EQ(outcome(pwrite(spi, a, 3, 0), e), -1);
    EXPECT_EQ(e, ESPIPE);
    EXPECT_EQ(outcome(pread(spi, rx, 3, 0), e), -1);
    EXPECT_EQ(e, ESPIPE);
    EXPECT_EQ(outcome(pwritev(spi, iov, 2, 0), e), -1);
    EXPECT_EQ(e, ESPIPE);
}

TEST_F(BoardValidation, WritesThatPassTheBoardByFailLoudly) {
    const uint8_t frame[3] = {0x95, 0x05, 0x00};
    int e;
    // A raw system call, as a program that got the descriptor across exec
    // would make it: the node's object takes no data.
    errno = 0;
    EXPECT_EQ(outcome(syscall(SYS_write, spi, frame, 3), e), -1);
    EXPECT_EQ(e, EPERM);
    // stdio writes with libc's internal calls.
    FILE* f = fdopen(dup(spi), "w");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(fwrite(frame, 1, 3, f), 3u);  // buffered
    errno = 0;
    EXPECT_EQ(fflush(f), EOF);
    EXPECT_EQ(errno, EPERM);
    EXPECT_TRUE(ferror(f));
    fclose(f);
}

}  // namespace
