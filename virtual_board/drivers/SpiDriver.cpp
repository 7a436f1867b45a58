// SpiDriver.cpp - /dev/spidev32766.0 and /dev/spidev32766.1, as the kernel's
// spidev driver serves them, with the Q210B on bus 0 and nothing on bus 1.
//
// Frames of three bytes (Q210BRegs.h) clocked through the sensor's control
// port: a write frame updates a sensor register, a read frame returns the
// register in bytes 1 and 2 of a full-duplex SPI_IOC_MESSAGE transfer.  A
// plain write() is half duplex: read frames in it have nowhere to return
// their data and leave the register file alone; a plain read() receives
// zeros, as the sensor drives nothing without a command.  The spidev
// configuration requests (mode, bits per word, LSB first, speed) are kept
// per bus; every other request is ENOTTY.  Every exchange is logged with
// the bytes each way (the first 32).
#include "SpiDriver.h"

#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "Faults.h"
#include "Logs.h"
#include "ModelLink.h"
#include "Nodes.h"
#include "Q210BRegs.h"

namespace vb {

namespace {

constexpr uint32_t kDefaultSpeedHz = 500000;
constexpr uint32_t kBufBytes = 4096;  // spidev's default bufsiz
constexpr size_t kLoggedBytes = 32;   // bytes kept per logged exchange and direction

struct Bus {
    uint8_t mode = 0;
    uint8_t bits = 8;
    uint8_t lsbFirst = 0;
    uint32_t speedHz = kDefaultSpeedHz;
    unsigned zeroFrom = 0;  // transfers return 0 from this one on
    unsigned transfersSeen = 0;
};

// A logged exchange as kept in the ring.
struct Record {
    int bus;
    SpiKind kind;
    uint32_t speedHz;
    long result;
    uint16_t sentLen, returnedLen;
    uint8_t sent[kLoggedBytes], returned[kLoggedBytes];
};

struct Spi {
    std::mutex mu;
    Bus bus[2];
    Ring<Record> log;
};

Spi& spiState() {
    static Spi* s = new Spi;
    return *s;
}

Node nodeOf(int bus) { return bus == 0 ? Node::Spi0 : Node::Spi1; }

void logExchange(int bus, SpiKind kind, uint32_t speedHz, long result, const uint8_t* sent, size_t sentLen,
                 const uint8_t* returned, size_t returnedLen) {
    Record r{};
    r.bus = bus;
    r.kind = kind;
    r.speedHz = speedHz;
    r.result = result;
    r.sentLen = static_cast<uint16_t>(std::min(sentLen, kLoggedBytes));
    r.returnedLen = static_cast<uint16_t>(std::min(returnedLen, kLoggedBytes));
    if (sent && r.sentLen) memcpy(r.sent, sent, r.sentLen);
    if (returned && r.returnedLen) memcpy(r.returned, returned, r.returnedLen);
    Spi& s = spiState();
    std::lock_guard<std::mutex> lock(s.mu);
    s.log.push(r);
}

// Clocks `len` bytes of frames through the sensor's port.
void exchange(int bus, const uint8_t* tx, uint8_t* rx, size_t len, bool fullDuplex) {
    const ModelOps& model = link::model();
    size_t i = 0;
    for (; i + q210b::kSpiFrameBytes <= len; i += q210b::kSpiFrameBytes) {
        uint8_t b0 = tx ? tx[i] : 0;
        uint8_t addr = b0 & q210b::kSpiAddrMask;
        if (b0 & q210b::kSpiWriteFlag) {
            model.sensorWrite(bus, addr, static_cast<uint16_t>((tx[i + 1] << 8) | tx[i + 2]));
            if (rx) memset(rx + i, 0, q210b::kSpiFrameBytes);
        } else if (fullDuplex) {
            uint16_t value = model.sensorRead(bus, addr);
            if (rx) {
                rx[i] = 0;
                rx[i + 1] = static_cast<uint8_t>(value >> 8);
                rx[i + 2] = static_cast<uint8_t>(value & 0xFF);
            }
        }
    }
    if (rx && i < len) memset(rx + i, 0, len - i);
}

ssize_t busWrite(int bus, const void* buf, size_t n) {
    const auto* bytes = static_cast<const uint8_t*>(buf);
    uint32_t speed;
    {
        Spi& s = spiState();
        std::lock_guard<std::mutex> lock(s.mu);
        speed = s.bus[bus].speedHz;
    }
    ssize_t result = static_cast<ssize_t>(n);
    int err = 0;
    if (int e = faults::check(nodeOf(bus), Op::Write))
        err = e;
    else if (n > kBufBytes)
        err = EMSGSIZE;
    else if (!bytes && n)
        err = EFAULT;
    else
        exchange(bus, bytes, nullptr, n, false);
    if (err) result = -1;
    logExchange(bus, SpiKind::Write, speed, result, bytes, bytes ? n : 0, nullptr, 0);
    if (err) errno = err;
    return result;
}

ssize_t busRead(int bus, void* buf, size_t n) {
    if (int e = faults::check(nodeOf(bus), Op::Read)) {
        errno = e;
        return -1;
    }
    if (n > kBufBytes) {
        errno = EMSGSIZE;
        return -1;
    }
    memset(buf, 0, n);
    uint32_t speed;
    {
        Spi& s = spiState();
        std::lock_guard<std::mutex> lock(s.mu);
        speed = s.bus[bus].speedHz;
    }
    logExchange(bus, SpiKind::Read, speed, static_cast<long>(n), nullptr, 0, static_cast<uint8_t*>(buf), n);
    return static_cast<ssize_t>(n);
}

// SPI_IOC_MESSAGE(n): a write request of type 'k', number 0, whose size is
// n transfer records.
bool isMessage(unsigned long request) {
    return _IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 && _IOC_DIR(request) == _IOC_WRITE;
}

int transfer(int bus, unsigned long request, void* arg) {
    const Node node = nodeOf(bus);
    size_t size = _IOC_SIZE(request);
    if (size == 0 || size % sizeof(spi_ioc_transfer) != 0) return logs::refuseIoctl(node, request, EINVAL);
    if (!arg) return logs::refuseIoctl(node, request, EFAULT);
    if (int e = faults::check(node, Op::Ioctl, -1, request)) return logs::refuseIoctl(node, request, e);
    bool zero;
    uint32_t busSpeed;
    {
        Spi& s = spiState();
        std::lock_guard<std::mutex> lock(s.mu);
        Bus& b = s.bus[bus];
        b.transfersSeen++;
        zero = b.zeroFrom != 0 && b.transfersSeen >= b.zeroFrom;
        busSpeed = b.speedHz;
    }
    const size_t count = size / sizeof(spi_ioc_transfer);
    const auto* xfers = static_cast<const spi_ioc_transfer*>(arg);
    long total = 0;
    if (!zero)
        for (size_t k = 0; k < count; ++k) total += xfers[k].len;
    for (size_t k = 0; k < count; ++k) {
        const spi_ioc_transfer& x = xfers[k];
        // The buffer fields are 64 bits wide on every architecture; on a
        // 32-bit process the pointer is the low word.
        const auto* tx = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(x.tx_buf));
        auto* rx = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(x.rx_buf));
        std::vector<uint8_t> sent(x.len, 0);
        if (tx) memcpy(sent.data(), tx, x.len);
        if (!zero) exchange(bus, sent.data(), rx, x.len, true);
        const uint32_t speed = x.speed_hz ? x.speed_hz : busSpeed;
        logExchange(bus, SpiKind::Transfer, speed, total, sent.data(), sent.size(), zero ? nullptr : rx,
                    zero || !rx ? 0 : x.len);
    }
    logs::ioctl(node, request, false, 0, static_cast<int>(total), 0);
    return static_cast<int>(total);
}

// The spidev configuration requests.
int configure(int bus, unsigned long request, void* arg) {
    const Node node = nodeOf(bus);
    bool isRead = false;
    switch (request) {
    case SPI_IOC_RD_MODE:
    case SPI_IOC_RD_MODE32:
    case SPI_IOC_RD_LSB_FIRST:
    case SPI_IOC_RD_BITS_PER_WORD:
    case SPI_IOC_RD_MAX_SPEED_HZ: isRead = true; break;
    case SPI_IOC_WR_MODE:
    case SPI_IOC_WR_MODE32:
    case SPI_IOC_WR_LSB_FIRST:
    case SPI_IOC_WR_BITS_PER_WORD:
    case SPI_IOC_WR_MAX_SPEED_HZ: break;
    default: return logs::refuseIoctl(node, request, ENOTTY);
    }
    if (!arg) return logs::refuseIoctl(node, request, EFAULT);
    if (int e = faults::check(node, Op::Ioctl, -1, request)) return logs::refuseIoctl(node, request, e);
    const size_t bytes = _IOC_SIZE(request);
    Spi& s = spiState();
    std::lock_guard<std::mutex> lock(s.mu);
    Bus& b = s.bus[bus];
    if (isRead) {
        uint32_t value = 0;
        if (request == SPI_IOC_RD_MODE || request == SPI_IOC_RD_MODE32)
            value = b.mode;
        else if (request == SPI_IOC_RD_LSB_FIRST)
            value = b.lsbFirst;
        else if (request == SPI_IOC_RD_BITS_PER_WORD)
            value = b.bits;
        else
            value = b.speedHz;
        if (bytes == 1)
            *static_cast<uint8_t*>(arg) = static_cast<uint8_t>(value);
        else
            memcpy(arg, &value, sizeof value);
    } else {
        uint32_t in = 0;
        if (bytes == 1)
            in = *static_cast<const uint8_t*>(arg);
        else
            memcpy(&in, arg, sizeof in);
        if (request == SPI_IOC_WR_MODE || request == SPI_IOC_WR_MODE32)
            b.mode = static_cast<uint8_t>(in);
        else if (request == SPI_IOC_WR_LSB_FIRST)
            b.lsbFirst = static_cast<uint8_t>(in);
        else if (request == SPI_IOC_WR_BITS_PER_WORD)
            b.bits = static_cast<uint8_t>(in);
        else
            b.speedHz = in;
    }
    logs::ioctl(node, request, false, 0, 0, 0);
    return 0;
}

int busIoctl(int bus, unsigned long request, void* arg) {
    return isMessage(request) ? transfer(bus, request, arg) : configure(bus, request, arg);
}

void resetBuses() {
    Spi& s = spiState();
    std::lock_guard<std::mutex> lock(s.mu);
    for (Bus& b : s.bus) b = Bus{};
}

int create0() { return memfd_create(vyxnode::kSpi0Path, MFD_CLOEXEC); }
int create1() { return memfd_create(vyxnode::kSpi1Path, MFD_CLOEXEC); }
ssize_t read0(int, void* buf, size_t n) { return busRead(0, buf, n); }
ssize_t read1(int, void* buf, size_t n) { return busRead(1, buf, n); }
ssize_t write0(int, const void* buf, size_t n) { return busWrite(0, buf, n); }
ssize_t write1(int, const void* buf, size_t n) { return busWrite(1, buf, n); }
int ioctl0(int, unsigned long request, void* arg) { return busIoctl(0, request, arg); }
int ioctl1(int, unsigned long request, void* arg) { return busIoctl(1, request, arg); }

}  // namespace

// One slot of the operations per line or pair.
// clang-format off
const NodeOps kSpi0Node = {
    Node::Spi0, vyxnode::kSpi0Path, kCommonFaultPoints | faultBit(Op::Ioctl),
    create0,
    nullptr, nullptr,     // first open, last close
    read0, write0,
    ioctl0,
    nullptr,              // mmap
    nullptr,              // wait
    nullptr,              // unmap
    resetBuses,
};
// clang-format on

// One slot of the operations per line or pair.
// clang-format off
const NodeOps kSpi1Node = {
    Node::Spi1, vyxnode::kSpi1Path, kCommonFaultPoints | faultBit(Op::Ioctl),
    create1,
    nullptr, nullptr,     // first open, last close
    read1, write1,
    ioctl1,
    nullptr,              // mmap
    nullptr,              // wait
    nullptr,              // unmap
    resetBuses,
};
// clang-format on

namespace spi {

std::vector<SpiFrame> log() {
    Spi& s = spiState();
    std::lock_guard<std::mutex> lock(s.mu);
    std::vector<SpiFrame> out;
    s.log.forEach([&](const Record& r) {
        SpiFrame f;
        f.bus = r.bus;
        f.kind = r.kind;
        f.speedHz = r.speedHz;
        f.result = r.result;
        f.sent.assign(r.sent, r.sent + r.sentLen);
        f.returned.assign(r.returned, r.returned + r.returnedLen);
        out.push_back(std::move(f));
    });
    return out;
}

void clearLog() {
    Spi& s = spiState();
    std::lock_guard<std::mutex> lock(s.mu);
    s.log.clear();
}

void zeroTransfersFrom(int bus, unsigned fromCall) {
    if (bus < 0 || bus > 1) return;
    Spi& s = spiState();
    std::lock_guard<std::mutex> lock(s.mu);
    s.bus[bus].zeroFrom = fromCall;
    s.bus[bus].transfersSeen = 0;
}

}  // namespace spi
}  // namespace vb
