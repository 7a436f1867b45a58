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
#include <cstdint>
#include <cstring>
#include <mutex>

#include "Descriptors.h"
#include "Faults.h"
#include "Logs.h"
#include "ModelLink.h"
#include "Nodes.h"
#include "Q210BRegs.h"
#include "UserMemory.h"

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

uint32_t busSpeed(int bus) {
    Spi& s = spiState();
    std::lock_guard<std::mutex> lock(s.mu);
    return s.bus[bus].speedHz;
}

// The caller's buffer is copied in first, as spidev does, so that a bad
// pointer or length is EFAULT or EMSGSIZE for the caller, never a crash.
ssize_t busWrite(int bus, const void* buf, size_t n) {
    const uint32_t speed = busSpeed(bus);
    uint8_t data[kBufBytes];
    int err = faults::check(nodeOf(bus), Op::Write);
    if (!err && n > kBufBytes) err = EMSGSIZE;
    if (!err && !copyFromUser(data, buf, n)) err = EFAULT;
    if (!err) exchange(bus, data, nullptr, n, false);
    logExchange(bus, SpiKind::Write, speed, err ? -1 : static_cast<long>(n), err ? nullptr : data,
                err ? 0 : n, nullptr, 0);
    if (err) errno = err;
    return err ? -1 : static_cast<ssize_t>(n);
}

ssize_t busRead(int bus, void* buf, size_t n) {
    static const uint8_t kZeros[kBufBytes] = {};
    if (int e = faults::check(nodeOf(bus), Op::Read)) {
        errno = e;
        return -1;
    }
    if (n > kBufBytes) {
        errno = EMSGSIZE;
        return -1;
    }
    if (!copyToUser(buf, kZeros, n)) return -1;
    logExchange(bus, SpiKind::Read, busSpeed(bus), static_cast<long>(n), nullptr, 0, kZeros, n);
    return static_cast<ssize_t>(n);
}

// SPI_IOC_MESSAGE(n): a write request of type 'k', number 0, whose size is
// n transfer records.
bool isMessage(unsigned long request) {
    return _IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 && _IOC_DIR(request) == _IOC_WRITE;
}

// What spidev checks before it clocks anything: the bytes each way fit its
// buffer.
int checkLengths(const spi_ioc_transfer* xfers, size_t count) {
    uint64_t tx = 0, rx = 0;
    for (size_t k = 0; k < count; ++k) {
        if (xfers[k].len > kBufBytes) return EMSGSIZE;
        if (xfers[k].tx_buf) tx += xfers[k].len;
        if (xfers[k].rx_buf) rx += xfers[k].len;
        if (tx > kBufBytes || rx > kBufBytes) return EMSGSIZE;
    }
    return 0;
}

// The buffer fields are 64 bits wide on every architecture; on a 32-bit
// process the pointer is the low word (a higher one is no address at all).
void* userPointer(uint64_t field) {
    return field > UINTPTR_MAX ? reinterpret_cast<void*>(UINTPTR_MAX)
                               : reinterpret_cast<void*>(static_cast<uintptr_t>(field));
}

int transfer(int bus, unsigned long request, void* arg) {
    const Node node = nodeOf(bus);
    size_t size = _IOC_SIZE(request);
    if (size == 0 || size % sizeof(spi_ioc_transfer) != 0) return logs::refuseIoctl(node, request, EINVAL);
    const size_t count = size / sizeof(spi_ioc_transfer);
    std::vector<spi_ioc_transfer> xfers(count);
    if (!copyFromUser(xfers.data(), arg, size)) return logs::refuseIoctl(node, request, EFAULT);
    if (int e = faults::check(node, Op::Ioctl, -1, request)) return logs::refuseIoctl(node, request, e);
    if (int e = checkLengths(xfers.data(), count)) return logs::refuseIoctl(node, request, e);
    bool zero;
    uint32_t speed0;
    {
        Spi& s = spiState();
        std::lock_guard<std::mutex> lock(s.mu);
        Bus& b = s.bus[bus];
        b.transfersSeen++;
        zero = b.zeroFrom != 0 && b.transfersSeen >= b.zeroFrom;
        speed0 = b.speedHz;
    }
    long total = 0;
    if (!zero)
        for (const auto& x : xfers) total += x.len;
    uint8_t sent[kBufBytes], back[kBufBytes];
    for (const auto& x : xfers) {
        void* rx = userPointer(x.rx_buf);
        memset(sent, 0, x.len);
        if (x.tx_buf && !copyFromUser(sent, userPointer(x.tx_buf), x.len))
            return logs::refuseIoctl(node, request, EFAULT);
        if (!zero) exchange(bus, sent, back, x.len, true);
        if (!zero && x.rx_buf && !copyToUser(rx, back, x.len))
            return logs::refuseIoctl(node, request, EFAULT);
        logExchange(bus, SpiKind::Transfer, x.speed_hz ? x.speed_hz : speed0, total, sent, x.len,
                    zero || !x.rx_buf ? nullptr : back, zero || !x.rx_buf ? 0 : x.len);
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
    if (int e = faults::check(node, Op::Ioctl, -1, request)) return logs::refuseIoctl(node, request, e);
    const size_t bytes = _IOC_SIZE(request);
    uint32_t in = 0;
    uint8_t in8 = 0;
    if (!isRead && !copyFromUser(bytes == 1 ? static_cast<void*>(&in8) : &in, arg, bytes))
        return logs::refuseIoctl(node, request, EFAULT);
    if (bytes == 1) in = in8;
    Spi& s = spiState();
    std::unique_lock<std::mutex> lock(s.mu);
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
        lock.unlock();
        const uint8_t value8 = static_cast<uint8_t>(value);
        if (!copyToUser(arg, bytes == 1 ? static_cast<const void*>(&value8) : &value, bytes))
            return logs::refuseIoctl(node, request, EFAULT);
    } else {
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

int create0() { return sealedNodeObject(vyxnode::kSpi0Path); }
int create1() { return sealedNodeObject(vyxnode::kSpi1Path); }
ssize_t read0(int, void* buf, size_t n) { return busRead(0, buf, n); }
ssize_t read1(int, void* buf, size_t n) { return busRead(1, buf, n); }
ssize_t write0(int, const void* buf, size_t n) { return busWrite(0, buf, n); }
ssize_t write1(int, const void* buf, size_t n) { return busWrite(1, buf, n); }
int ioctl0(int, unsigned long request, void* arg) { return busIoctl(0, request, arg); }
int ioctl1(int, unsigned long request, void* arg) { return busIoctl(1, request, arg); }

}  // namespace

constexpr NodeOps kSpi0Node =
    NodeOps::of(Node::Spi0, vyxnode::kSpi0Path, kCommonFaultPoints | faultBit(Op::Ioctl), create0)
        .with(&NodeOps::read, read0)
        .with(&NodeOps::write, write0)
        .with(&NodeOps::ioctl, ioctl0)
        .with(&NodeOps::reset, resetBuses);

constexpr NodeOps kSpi1Node =
    NodeOps::of(Node::Spi1, vyxnode::kSpi1Path, kCommonFaultPoints | faultBit(Op::Ioctl), create1)
        .with(&NodeOps::read, read1)
        .with(&NodeOps::write, write1)
        .with(&NodeOps::ioctl, ioctl1)
        .with(&NodeOps::reset, resetBuses);

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
