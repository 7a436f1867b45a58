// Board.cpp - the virtual board's state: the kernel objects behind the device
// nodes, the node operations the interposers forward to, the logs, the fault
// injection and the control functions of VyxBoard.h.
//
// Every node is a real kernel object so that mmap, select, poll, close and
// fork behave natively:
//   - reserved RAM is one sparse memfd of 256 MiB; /dev/cache_ops mappings at
//     offset p map the memfd at p - 0x30000000;
//   - the PL's register space 0x43000000..0x43C50000 is one sparse memfd;
//     a /dev/mem mapping must lie inside one block's 0x40000-byte window.
//     The windows are wider than the 64 KiB the cores are apart, so, as on
//     the board, a VDMA window also reaches the next cores' registers;
//   - the capture node is the reading end of a SOCK_SEQPACKET socket pair, so
//     that one read() returns exactly one interrupt code;
//   - the spidev and GPIO nodes are empty memfds that only carry identity;
//     their write/read/ioctl requests are answered here.
// A node open duplicates the node's template descriptor, so every open gets
// a descriptor of its own and close() releases it natively.
#include "BoardCore.h"
#include "Nodes.h"
#include "Q210BRegs.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <mutex>

namespace vb {

namespace {

// ---- board constants ----
namespace phys = vyxpl::phys;
constexpr uint32_t kPhysRamBase = phys::kReservedRamBase;
constexpr size_t kRamBytes = phys::kReservedRamEnd - phys::kReservedRamBase;
// The register space spans from the lowest VDMA to the end of the scaler window.
constexpr uint32_t kPlSpaceBase = phys::kVdmaRgb888Base;
constexpr uint32_t kRegBlockBytes = phys::kRegBlockWindow;
constexpr size_t kPlSpaceBytes = phys::kScalerBase + kRegBlockBytes - kPlSpaceBase;
constexpr int kBlockCount = static_cast<int>(Block::Count);
constexpr uint32_t kBlockBases[kBlockCount] = {phys::kFpgaBase, phys::kScalerBase, phys::kVdmaRgb888Base,
                                               phys::kVdmaG8Base, phys::kVdmaHdmiBase};
constexpr const char* kNodePaths[kNodeCount] = {
    vyxnode::kMemPath, vyxnode::kCacheOpsPath, vyxnode::kSpi0Path, vyxnode::kSpi1Path,
    vyxnode::kCapturePath, vyxnode::kGpioPath};
const char* const* kInterruptCodes = vyxnode::kCaptureCode;

constexpr unsigned long kCacheFlushRequest = vyxnode::kCacheSync;
// GPIO driver requests: reads of lines 0-2, reads and writes of lines 3-9.
const unsigned long* const kGpioReadLow = vyxnode::kGpioReadInput;
constexpr unsigned long kGpioReadHigh = vyxnode::kGpioReadBase;
constexpr unsigned long kGpioWriteHigh = vyxnode::kGpioWriteBase;
constexpr int kGpioFirstOutput = vyxnode::kGpioFirstOutput;
// SPI frames (Q210BRegs.h).
constexpr size_t kSpiFrameBytes = q210b::kSpiFrameBytes;
constexpr uint8_t kSpiWriteFlag = q210b::kSpiWriteFlag;
constexpr uint8_t kSpiAddrMask = q210b::kSpiAddrMask;
constexpr uint32_t kSpiDefaultSpeedHz = 500000;
constexpr uint32_t kSpidevBufBytes = 4096;   // spidev's default bufsiz
// Logs keep the newest entries in rings allocated once, so an endless run
// (or a test that watches the heap) sees no growth.
constexpr size_t kLogEntries = 4096;
constexpr size_t kSpiLogBytes = 32;   // bytes kept per logged transfer
constexpr int kOpCount = static_cast<int>(Op::Count);

struct FaultSlot {
    bool active = false;
    Fault fault;
    unsigned seen = 0;
    unsigned failed = 0;
};

struct Mapping {
    size_t len;
    Node node;
};

// Fixed-capacity ring of log entries, newest last.
template <typename T>
class Ring {
public:
    Ring() : buf_(kLogEntries) {}
    void push(const T& v) {
        buf_[(head_ + count_) % kLogEntries] = v;
        if (count_ < kLogEntries) count_++;
        else head_ = (head_ + 1) % kLogEntries;
    }
    template <typename F>
    void forEach(F f) const {
        for (size_t i = 0; i < count_; ++i) f(buf_[(head_ + i) % kLogEntries]);
    }
    void clear() { head_ = count_ = 0; }
    bool empty() const { return count_ == 0; }
    const T& back() const { return buf_[(head_ + count_ - 1) % kLogEntries]; }

private:
    std::vector<T> buf_;
    size_t head_ = 0, count_ = 0;
};

// A logged SPI exchange as kept in the ring.
struct SpiRecord {
    int bus;
    SpiKind kind;
    uint32_t speedHz;
    long result;
    uint16_t sentLen, returnedLen;
    uint8_t sent[kSpiLogBytes], returned[kSpiLogBytes];
};

SpiRecord toRecord(const SpiFrame& f) {
    SpiRecord r{};
    r.bus = f.bus;
    r.kind = f.kind;
    r.speedHz = f.speedHz;
    r.result = f.result;
    r.sentLen = static_cast<uint16_t>(std::min(f.sent.size(), kSpiLogBytes));
    r.returnedLen = static_cast<uint16_t>(std::min(f.returned.size(), kSpiLogBytes));
    if (r.sentLen) memcpy(r.sent, f.sent.data(), r.sentLen);
    if (r.returnedLen) memcpy(r.returned, f.returned.data(), r.returnedLen);
    return r;
}

struct SpiState {
    uint8_t mode = 0;
    uint8_t bits = 8;
    uint8_t lsbFirst = 0;
    uint32_t speedHz = kSpiDefaultSpeedHz;
    unsigned zeroFrom = 0;       // SPI transfers return 0 from this call on
    unsigned transfersSeen = 0;
};

// Descriptor table, indexed by descriptor: node + 1, 0 for "not ours".  It is
// consulted by every read and write of the process, so it is lock-free.
std::atomic<uint8_t> g_fdNode[kMaxNodeFd];
std::atomic<int> g_fdFlags[kMaxNodeFd];
std::atomic<int> g_liveMappings{0};
// Identity of each node's kernel object (every open is a duplicate of it).
ino_t g_nodeIno[kNodeCount];
dev_t g_nodeDev[kNodeCount];

struct Board {
    std::mutex mu;
    int ramFd = -1;
    uint8_t* ram = nullptr;
    int plFd = -1;
    volatile uint32_t* blockView[kBlockCount];
    int templ[kNodeCount];
    int captureWriter = -1;

    bool missing[kNodeCount] = {};
    FaultSlot faults[kNodeCount][kOpCount];
    FaultSlot serviceFaults[static_cast<int>(Service::Count)];
    bool pluginMissing = false;
    std::string pluginPath;
    unsigned calls[kNodeCount][kOpCount] = {};
    SpiState spi[2];
    Ring<SpiRecord> spiLog;
    Ring<IoctlRecord> ioctlLog;
    Ring<GpioWrite> gpioWrites;
    std::atomic<bool> gpio[kGpioLines];
    uint64_t flushCount = 0;
    std::map<uintptr_t, Mapping> maps;
    int openCount[kNodeCount] = {};

    bool withhold = false;
    int64_t passBeforeStop = -1;   // interrupts still let through; -1 = no limit
    uint64_t queued = 0, withheld = 0, readCount = 0;
    std::condition_variable readCv;
};

Board* g_board = nullptr;
std::once_flag g_boardOnce;
std::atomic<int> g_modelState{0};   // 0 not started, 1 starting, 2 running

[[noreturn]] void boardDie(const char* what) {
    char msg[256];
    int n = snprintf(msg, sizeof msg, "vyxboard: cannot build the virtual board: %s (%s)\n", what,
                     strerror(errno));
    if (n > 0) sysWrite(2, msg, static_cast<size_t>(n));
    _exit(127);
}

int makeMemfd(const char* name, size_t bytes) {
    int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0) boardDie("memfd_create");
    if (bytes && ftruncate(fd, static_cast<off_t>(bytes)) != 0) boardDie("ftruncate");
    return fd;
}

void buildBoard() {
    Board* b = new Board;
    for (auto& g : b->gpio) g.store(false);
    b->ramFd = makeMemfd("vyx-ram", kRamBytes);
    void* ram = sysMmap(nullptr, kRamBytes, PROT_READ | PROT_WRITE, MAP_SHARED, b->ramFd, 0);
    if (ram == MAP_FAILED) boardDie("mmap of the RAM");
    b->ram = static_cast<uint8_t*>(ram);
    b->plFd = makeMemfd("vyx-pl-registers", kPlSpaceBytes);
    void* pl = sysMmap(nullptr, kPlSpaceBytes, PROT_READ | PROT_WRITE, MAP_SHARED, b->plFd, 0);
    if (pl == MAP_FAILED) boardDie("mmap of the register space");
    for (int i = 0; i < kBlockCount; ++i)
        b->blockView[i] = static_cast<volatile uint32_t*>(pl) + (kBlockBases[i] - kPlSpaceBase) / 4;
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) boardDie("socketpair");
    b->captureWriter = sv[1];
    // The process only ever reads the node.
    shutdown(sv[0], SHUT_WR);
    for (int n = 0; n < kNodeCount; ++n) {
        if (static_cast<Node>(n) == Node::Capture)
            b->templ[n] = sv[0];
        else
            b->templ[n] = makeMemfd(kNodePaths[n], 0);
    }
    for (int n = 0; n < kNodeCount; ++n) {
        struct stat64 st;
        if (fstat64(b->templ[n], &st) != 0) boardDie("fstat");
        g_nodeIno[n] = st.st_ino;
        g_nodeDev[n] = st.st_dev;
    }
    g_board = b;
    std::string banner = "vyxboard: virtual board active: ";
    for (int n = 0; n < kNodeCount; ++n) {
        if (n > 0) banner += n + 1 == kNodeCount ? " and " : ", ";
        banner += kNodePaths[n];
    }
    banner += " are emulated\n";
    sysWrite(2, banner.data(), banner.size());
}

Board& board() {
    std::call_once(g_boardOnce, buildBoard);
    return *g_board;
}

void startModel() {
    int expected = 0;
    if (!g_modelState.compare_exchange_strong(expected, 1)) return;
    vb_model_start(hardware());
    g_modelState.store(2);
    startLaunchWatcher();
}

void appendBounded(Ring<SpiRecord>& log, const SpiFrame& f) { log.push(toRecord(f)); }
template <typename T>
void appendBounded(Ring<T>& log, const T& entry) {
    log.push(entry);
}

// Decides whether a fault slot makes this call fail (lock held).
int slotFires(FaultSlot& s) {
    if (!s.active) return 0;
    s.seen++;
    if (s.seen < s.fault.fromCall) return 0;
    if (s.fault.times != 0 && s.failed >= s.fault.times) return 0;
    s.failed++;
    return s.fault.error;
}

// Counts the call and decides whether an injected fault makes it fail.
int faultFor(Node node, Op op, int64_t physOffset = -1, unsigned long request = 0) {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    int n = static_cast<int>(node), o = static_cast<int>(op);
    b.calls[n][o]++;
    FaultSlot& s = b.faults[n][o];
    if (!s.active) return 0;
    if (op == Op::Mmap && s.fault.physOffset >= 0 && physOffset != s.fault.physOffset) return 0;
    if (op == Op::Ioctl && s.fault.request != 0 && request != s.fault.request) return 0;
    return slotFires(s);
}

int busOf(Node node) { return node == Node::Spi1 ? 1 : 0; }
bool isSpi(Node node) { return node == Node::Spi0 || node == Node::Spi1; }

int accessMode(int fd) { return g_fdFlags[fd].load() & O_ACCMODE; }

// Three-byte frames clocked through the sensor's control port.  A write frame
// updates a sensor register; a read frame returns the register in bytes 1-2.
// Read frames in a half-duplex write have nowhere to return their data, so
// they do not touch the register file.
void spiExchange(int bus, const uint8_t* tx, uint8_t* rx, size_t len, bool fullDuplex) {
    size_t i = 0;
    for (; i + kSpiFrameBytes <= len; i += kSpiFrameBytes) {
        uint8_t b0 = tx ? tx[i] : 0;
        uint8_t addr = b0 & kSpiAddrMask;
        if (b0 & kSpiWriteFlag) {
            uint16_t value = static_cast<uint16_t>((tx[i + 1] << 8) | tx[i + 2]);
            vb_model_sensor_write(bus, addr, value);
            if (rx) memset(rx + i, 0, kSpiFrameBytes);
        } else if (fullDuplex) {
            uint16_t value = vb_model_sensor_read(bus, addr);
            if (rx) {
                rx[i] = 0;
                rx[i + 1] = static_cast<uint8_t>(value >> 8);
                rx[i + 2] = static_cast<uint8_t>(value & 0xFF);
            }
        }
    }
    if (rx && i < len) memset(rx + i, 0, len - i);
}

void logIoctl(Node node, unsigned long request, bool hasValue, int32_t value, int result,
              int error) {
    Board& b = board();
    IoctlRecord r;
    r.node = node;
    r.request = request;
    r.hasValue = hasValue;
    r.value = value;
    r.result = result;
    r.error = error;
    std::lock_guard<std::mutex> lock(b.mu);
    appendBounded(b.ioctlLog, std::move(r));
}

int failIoctl(Node node, unsigned long request, int error) {
    logIoctl(node, request, false, 0, -1, error);
    errno = error;
    return -1;
}

int spiIoctl(Node node, int fd, unsigned long request, void* arg) {
    Board& b = board();
    int bus = busOf(node);
    SpiState& st = b.spi[bus];
    // SPI_IOC_MESSAGE(n): a write request of type 'k', number 0, whose size is
    // n transfer records.
    if (_IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 &&
        _IOC_DIR(request) == _IOC_WRITE) {
        size_t size = _IOC_SIZE(request);
        if (size == 0 || size % sizeof(spi_ioc_transfer) != 0) return failIoctl(node, request, EINVAL);
        if (!arg) return failIoctl(node, request, EFAULT);
        if (int e = faultFor(node, Op::Ioctl, -1, request)) return failIoctl(node, request, e);
        bool zero;
        {
            std::lock_guard<std::mutex> lock(b.mu);
            st.transfersSeen++;
            zero = st.zeroFrom != 0 && st.transfersSeen >= st.zeroFrom;
        }
        size_t count = size / sizeof(spi_ioc_transfer);
        const auto* xfers = static_cast<const spi_ioc_transfer*>(arg);
        long total = 0;
        std::vector<SpiFrame> frames;
        for (size_t k = 0; k < count; ++k) {
            const spi_ioc_transfer& x = xfers[k];
            // The buffer fields are 64 bits wide on every architecture; on a
            // 32-bit process the pointer is the low word.
            const auto* tx = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(x.tx_buf));
            auto* rx = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(x.rx_buf));
            SpiFrame f;
            f.bus = bus;
            f.kind = SpiKind::Transfer;
            f.speedHz = x.speed_hz ? x.speed_hz : st.speedHz;
            f.sent.assign(x.len, 0);
            if (tx) memcpy(f.sent.data(), tx, x.len);
            if (!zero) {
                spiExchange(bus, f.sent.data(), rx, x.len, true);
                if (rx) f.returned.assign(rx, rx + x.len);
                total += x.len;
            }
            frames.push_back(std::move(f));
        }
        for (auto& f : frames) f.result = total;
        std::lock_guard<std::mutex> lock(b.mu);
        for (auto& f : frames) appendBounded(b.spiLog, std::move(f));
        appendBounded(b.ioctlLog, IoctlRecord{node, request, false, 0, static_cast<int>(total), 0});
        return static_cast<int>(total);
    }
    // The spidev configuration requests.
    uint32_t value = 0;
    bool known = true, isRead = false;
    switch (request) {
        case SPI_IOC_RD_MODE: value = st.mode; isRead = true; break;
        case SPI_IOC_RD_MODE32: value = st.mode; isRead = true; break;
        case SPI_IOC_RD_LSB_FIRST: value = st.lsbFirst; isRead = true; break;
        case SPI_IOC_RD_BITS_PER_WORD: value = st.bits; isRead = true; break;
        case SPI_IOC_RD_MAX_SPEED_HZ: value = st.speedHz; isRead = true; break;
        case SPI_IOC_WR_MODE: case SPI_IOC_WR_MODE32: case SPI_IOC_WR_LSB_FIRST:
        case SPI_IOC_WR_BITS_PER_WORD: case SPI_IOC_WR_MAX_SPEED_HZ: break;
        default: known = false;
    }
    if (!known) return failIoctl(node, request, ENOTTY);
    if (!arg) return failIoctl(node, request, EFAULT);
    if (int e = faultFor(node, Op::Ioctl, -1, request)) return failIoctl(node, request, e);
    size_t bytes = _IOC_SIZE(request);
    if (isRead) {
        if (bytes == 1) *static_cast<uint8_t*>(arg) = static_cast<uint8_t>(value);
        else memcpy(arg, &value, sizeof value);
    } else {
        uint32_t in = 0;
        if (bytes == 1) in = *static_cast<const uint8_t*>(arg);
        else memcpy(&in, arg, sizeof in);
        std::lock_guard<std::mutex> lock(b.mu);
        if (request == SPI_IOC_WR_MODE || request == SPI_IOC_WR_MODE32) st.mode = static_cast<uint8_t>(in);
        else if (request == SPI_IOC_WR_LSB_FIRST) st.lsbFirst = static_cast<uint8_t>(in);
        else if (request == SPI_IOC_WR_BITS_PER_WORD) st.bits = static_cast<uint8_t>(in);
        else st.speedHz = in;
    }
    (void)fd;
    logIoctl(node, request, false, 0, 0, 0);
    return 0;
}

// Line of a GPIO read or write request, or -1.
int gpioReadLine(unsigned long request) {
    for (int i = 0; i < 3; ++i)
        if (request == kGpioReadLow[i]) return i;
    if (request >= kGpioReadHigh && request < kGpioReadHigh + (kGpioLines - kGpioFirstOutput))
        return kGpioFirstOutput + static_cast<int>(request - kGpioReadHigh);
    return -1;
}
int gpioWriteLine(unsigned long request) {
    if (request >= kGpioWriteHigh && request < kGpioWriteHigh + (kGpioLines - kGpioFirstOutput))
        return kGpioFirstOutput + static_cast<int>(request - kGpioWriteHigh);
    return -1;
}

int gpioIoctl(unsigned long request, void* arg) {
    Board& b = board();
    int rl = gpioReadLine(request), wl = gpioWriteLine(request);
    if (rl < 0 && wl < 0) return failIoctl(Node::Gpio, request, ENOTTY);
    if (!arg) return failIoctl(Node::Gpio, request, EFAULT);
    if (int e = faultFor(Node::Gpio, Op::Ioctl, -1, request)) return failIoctl(Node::Gpio, request, e);
    auto* value = static_cast<int32_t*>(arg);
    if (rl >= 0) {
        *value = b.gpio[rl].load() ? 1 : 0;
        logIoctl(Node::Gpio, request, true, *value, 0, 0);
        return 0;
    }
    int32_t v = *value;
    b.gpio[wl].store(v != 0);
    {
        std::lock_guard<std::mutex> lock(b.mu);
        appendBounded(b.gpioWrites, GpioWrite{wl, v});
    }
    logIoctl(Node::Gpio, request, true, v, 0, 0);
    return 0;
}

bool queueInterrupt(const void* data, size_t len) {
    Board& b = board();
    ssize_t r = send(b.captureWriter, data, len, MSG_DONTWAIT | MSG_NOSIGNAL);
    std::lock_guard<std::mutex> lock(b.mu);
    if (r < 0) {
        // The reader has fallen far behind: the driver drops the code.
        b.withheld++;
        return false;
    }
    b.queued++;
    return true;
}

// Physical range check shared by /dev/mem and /dev/cache_ops mappings.
bool inside(uint64_t off, size_t len, uint64_t base, uint64_t bytes) {
    return off >= base && len <= bytes && off - base <= bytes - len;
}

}  // namespace

// ================================================================ node layer

Node fdNode(int fd) {
    if (fd < 0 || fd >= kMaxNodeFd) return Node::Count;
    uint8_t v = g_fdNode[fd].load(std::memory_order_acquire);
    if (!v) return Node::Count;
    // libc closes stream descriptors internally (fclose), bypassing close():
    // make sure the descriptor still is the node before trusting the table.
    Node node = static_cast<Node>(v - 1);
    struct stat64 st;
    int saved = errno;
    bool same = fstat64(fd, &st) == 0 && st.st_ino == g_nodeIno[v - 1] && st.st_dev == g_nodeDev[v - 1];
    errno = saved;
    if (same) return node;
    uint8_t expected = v;
    if (g_fdNode[fd].compare_exchange_strong(expected, 0)) {
        Board& b = board();
        std::lock_guard<std::mutex> lock(b.mu);
        b.openCount[v - 1]--;
    }
    return Node::Count;
}

void ensureBoard() {
    board();
    if (g_modelState.load() == 0) startModel();
}

bool nodeMissing(Node node) {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.missing[static_cast<int>(node)];
}

int nodeOpen(Node node, int flags) {
    ensureBoard();
    Board& b = board();
    if (nodeMissing(node)) {
        errno = ENOENT;
        return -1;
    }
    if (int e = faultFor(node, Op::Open)) {
        errno = e;
        return -1;
    }
    if ((flags & O_DIRECTORY) != 0) {
        errno = ENOTDIR;
        return -1;
    }
    if ((flags & O_CREAT) != 0 && (flags & O_EXCL) != 0) {
        errno = EEXIST;
        return -1;
    }
    int fd = sysDupFd(b.templ[static_cast<int>(node)], (flags & O_CLOEXEC) != 0);
    if (fd < 0) return -1;
    if (fd >= kMaxNodeFd) {
        sysClose(fd);
        errno = EMFILE;
        return -1;
    }
    g_fdFlags[fd].store(flags);
    // The kernel handed out this number, so whatever the table still says
    // about it was closed behind the board's back (fclose).
    uint8_t stale = g_fdNode[fd].exchange(static_cast<uint8_t>(static_cast<int>(node) + 1),
                                          std::memory_order_acq_rel);
    bool firstCapture;
    {
        std::lock_guard<std::mutex> lock(b.mu);
        if (stale) b.openCount[stale - 1]--;
        firstCapture = b.openCount[static_cast<int>(node)]++ == 0 && node == Node::Capture;
    }
    if (firstCapture) {
        // Interrupts raised while nobody had the node open have no reader:
        // a fresh open starts with nothing pending.
        char buf[64];
        while (recv(b.templ[static_cast<int>(Node::Capture)], buf, sizeof buf, MSG_DONTWAIT) >= 0) {
        }
    }
    return fd;
}

void nodeClose(int fd) {
    Node node = fdNode(fd);
    if (node == Node::Count) return;
    g_fdNode[fd].store(0, std::memory_order_release);
    Board& b = board();
    bool lastCapture;
    {
        std::lock_guard<std::mutex> lock(b.mu);
        lastCapture = --b.openCount[static_cast<int>(node)] == 0 && node == Node::Capture;
    }
    if (lastCapture) {
        // Nobody listens any more: codes queued for the old reader must not
        // wake the next one (the driver's queue lives with its last open).
        char buf[64];
        while (recv(b.templ[static_cast<int>(Node::Capture)], buf, sizeof buf, MSG_DONTWAIT) >= 0) {
        }
    }
}

void nodeDup(int oldFd, int newFd) {
    Node node = fdNode(oldFd);
    if (node == Node::Count || newFd < 0) return;
    if (newFd >= kMaxNodeFd) return;
    nodeClose(newFd);   // dup2 onto a node descriptor closes it
    g_fdFlags[newFd].store(g_fdFlags[oldFd].load());
    g_fdNode[newFd].store(static_cast<uint8_t>(static_cast<int>(node) + 1), std::memory_order_release);
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    b.openCount[static_cast<int>(node)]++;
}

void* nodeMmap(Node node, void* addr, size_t len, int prot, int flags, int fd, uint64_t off) {
    Board& b = board();
    (void)fd;
    if (int e = faultFor(node, Op::Mmap, static_cast<int64_t>(off))) {
        errno = e;
        return MAP_FAILED;
    }
    int target = -1;
    uint64_t local = 0;
    if (node == Node::Mem) {
        for (int i = 0; i < kBlockCount; ++i) {
            if (inside(off, len, kBlockBases[i], kRegBlockBytes)) {
                target = b.plFd;
                local = off - kPlSpaceBase;
            }
        }
    } else if (node == Node::CacheOps) {
        if (inside(off, len, kPhysRamBase, kRamBytes)) {
            target = b.ramFd;
            local = off - kPhysRamBase;
        }
    } else {
        // spidev, GPIO and capture nodes cannot be mapped.
        errno = ENODEV;
        return MAP_FAILED;
    }
    if (target < 0) {
        // No device behind this physical range.
        errno = EINVAL;
        return MAP_FAILED;
    }
    void* p = sysMmap(addr, len, prot, flags, target, static_cast<off_t>(local));
    if (p == MAP_FAILED) return p;
    std::lock_guard<std::mutex> lock(b.mu);
    b.maps[reinterpret_cast<uintptr_t>(p)] = Mapping{len, node};
    g_liveMappings.store(static_cast<int>(b.maps.size()));
    return p;
}

void nodeMunmap(void* addr, size_t len) {
    if (g_liveMappings.load() == 0) return;
    Board& b = board();
    uintptr_t lo = reinterpret_cast<uintptr_t>(addr), hi = lo + len;
    std::lock_guard<std::mutex> lock(b.mu);
    for (auto it = b.maps.lower_bound(lo); it != b.maps.end() && it->first < hi;)
        it = b.maps.erase(it);
    g_liveMappings.store(static_cast<int>(b.maps.size()));
}

ssize_t nodeRead(Node node, int fd, void* buf, size_t n) {
    Board& b = board();
    if (accessMode(fd) == O_WRONLY) {
        errno = EBADF;
        return -1;
    }
    if (node == Node::Capture) {
        if (int e = faultFor(node, Op::Read)) {
            // A failing read still takes the pending code off the queue, as a
            // driver that lost the interrupt would.
            char drop[64];
            recv(fd, drop, sizeof drop, MSG_DONTWAIT);
            errno = e;
            return -1;
        }
        int rflags = (g_fdFlags[fd].load() & O_NONBLOCK) ? MSG_DONTWAIT : 0;
        ssize_t r = recv(fd, buf, n, rflags);
        if (r > 0) {
            std::lock_guard<std::mutex> lock(b.mu);
            b.readCount++;
            b.readCv.notify_all();
        }
        return r;
    }
    if (isSpi(node)) {
        if (int e = faultFor(node, Op::Read)) {
            errno = e;
            return -1;
        }
        if (n > kSpidevBufBytes) {
            errno = EMSGSIZE;
            return -1;
        }
        // Half-duplex receive: the sensor drives nothing without a command.
        memset(buf, 0, n);
        SpiFrame f;
        f.bus = busOf(node);
        f.kind = SpiKind::Read;
        f.returned.assign(n, 0);
        f.speedHz = b.spi[f.bus].speedHz;
        f.result = static_cast<long>(n);
        std::lock_guard<std::mutex> lock(b.mu);
        appendBounded(b.spiLog, std::move(f));
        return static_cast<ssize_t>(n);
    }
    if (int e = faultFor(node, Op::Read)) {
        errno = e;
        return -1;
    }
    errno = EINVAL;
    return -1;
}

ssize_t nodeWrite(Node node, int fd, const void* buf, size_t n) {
    Board& b = board();
    if (accessMode(fd) == O_RDONLY) {
        errno = EBADF;
        return -1;
    }
    if (!isSpi(node)) {
        if (int e = faultFor(node, Op::Write)) {
            errno = e;
            return -1;
        }
        errno = EINVAL;
        return -1;
    }
    int bus = busOf(node);
    SpiFrame f;
    f.bus = bus;
    f.kind = SpiKind::Write;
    f.speedHz = b.spi[bus].speedHz;
    const auto* bytes = static_cast<const uint8_t*>(buf);
    if (bytes) f.sent.assign(bytes, bytes + n);
    ssize_t result;
    int err = 0;
    if (int e = faultFor(node, Op::Write)) {
        err = e;
        result = -1;
    } else if (n > kSpidevBufBytes) {
        err = EMSGSIZE;
        result = -1;
    } else if (!bytes && n) {
        err = EFAULT;
        result = -1;
    } else {
        spiExchange(bus, bytes, nullptr, n, false);
        result = static_cast<ssize_t>(n);
    }
    f.result = result;
    {
        std::lock_guard<std::mutex> lock(b.mu);
        appendBounded(b.spiLog, std::move(f));
    }
    if (result < 0) errno = err;
    return result;
}

int nodeIoctl(Node node, int fd, unsigned long request, void* arg) {
    Board& b = board();
    if (isSpi(node)) return spiIoctl(node, fd, request, arg);
    if (node == Node::Gpio) return gpioIoctl(request, arg);
    if (node == Node::CacheOps && request == kCacheFlushRequest) {
        // The record behind the argument is not interpreted: the mapping is
        // coherent, there is nothing to write back.
        if (int e = faultFor(node, Op::Ioctl, -1, request)) return failIoctl(node, request, e);
        {
            std::lock_guard<std::mutex> lock(b.mu);
            b.flushCount++;
        }
        logIoctl(node, request, false, 0, 0, 0);
        return 0;
    }
    return failIoctl(node, request, ENOTTY);
}

int nodeSelectFault(Node node) { return faultFor(node, Op::Select); }

int serviceFault(Service service) {
    int i = static_cast<int>(service);
    if (i < 0 || i >= static_cast<int>(Service::Count)) return 0;
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    return slotFires(b.serviceFaults[i]);
}

const char* pluginTarget(std::string& keep) {
    Board& b = board();
    {
        std::lock_guard<std::mutex> lock(b.mu);
        if (b.pluginMissing) return nullptr;
        keep = b.pluginPath;
    }
    return keep.empty() ? pluginPath() : keep.c_str();
}

// ================================================================ model seam

bool vb_node_raise_capture_interrupt(int set) {
    if (set < 0 || set > 3) return false;
    Board& b = board();
    {
        std::lock_guard<std::mutex> lock(b.mu);
        bool pass = !b.withhold;
        if (pass && b.passBeforeStop == 0) pass = false;
        if (!pass) {
            b.withheld++;
            return false;
        }
        if (b.passBeforeStop > 0) b.passBeforeStop--;
    }
    const char* code = kInterruptCodes[set];
    return queueInterrupt(code, strlen(code) + 1);
}

// ================================================================ control API

const char* nodePath(Node node) {
    int n = static_cast<int>(node);
    return n >= 0 && n < kNodeCount ? kNodePaths[n] : "";
}

bool isActive() {
    ensureBoard();
    return g_board != nullptr;
}

Node nodeOfDescriptor(int fd) { return fdNode(fd); }

uint32_t blockBase(Block block) { return kBlockBases[static_cast<int>(block)]; }

namespace {
volatile uint32_t* regPtr(Block block, uint32_t offset) {
    int i = static_cast<int>(block);
    if (i < 0 || i >= kBlockCount || offset % 4 != 0 || offset >= kRegBlockBytes) return nullptr;
    return board().blockView[i] + offset / 4;
}
}  // namespace

uint32_t readReg(Block block, uint32_t offset) {
    volatile uint32_t* p = regPtr(block, offset);
    return p ? *p : 0;
}

void writeReg(Block block, uint32_t offset, uint32_t value) {
    if (volatile uint32_t* p = regPtr(block, offset)) *p = value;
}

uint8_t* physPtr(uint32_t phys) {
    if (phys < kPhysRamBase || phys >= vyxpl::phys::kReservedRamEnd) return nullptr;
    return board().ram + (phys - kPhysRamBase);
}

bool readPhys(uint32_t phys, void* dst, size_t bytes) {
    if (!inside(phys, bytes, kPhysRamBase, kRamBytes)) return false;
    memcpy(dst, physPtr(phys), bytes);
    return true;
}

bool writePhys(uint32_t phys, const void* src, size_t bytes) {
    if (!inside(phys, bytes, kPhysRamBase, kRamBytes)) return false;
    memcpy(physPtr(phys), src, bytes);
    return true;
}

HardwareView hardware() {
    Board& b = board();
    HardwareView hw;
    hw.fpga = b.blockView[static_cast<int>(Block::Fpga)];
    hw.scaler = b.blockView[static_cast<int>(Block::Scaler)];
    hw.vdmaRgb = b.blockView[static_cast<int>(Block::VdmaRgb)];
    hw.vdmaG8 = b.blockView[static_cast<int>(Block::VdmaG8)];
    hw.vdmaHdmi = b.blockView[static_cast<int>(Block::VdmaHdmi)];
    hw.ram = b.ram;
    return hw;
}

std::vector<SpiFrame> spiLog() {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    std::vector<SpiFrame> out;
    b.spiLog.forEach([&](const SpiRecord& r) {
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

void clearSpiLog() {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    b.spiLog.clear();
}

std::vector<IoctlRecord> ioctlLog() {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    std::vector<IoctlRecord> out;
    b.ioctlLog.forEach([&](const IoctlRecord& r) { out.push_back(r); });
    return out;
}

void clearIoctlLog() {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    b.ioctlLog.clear();
}

uint64_t cacheFlushCount() {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.flushCount;
}

void setGpioInput(int line, bool level) {
    if (line < 0 || line >= kGpioLines) return;
    ensureBoard();
    board().gpio[line].store(level);
    vb_model_gpio_input(line, level);
}

bool gpioLevel(int line) {
    if (line < 0 || line >= kGpioLines) return false;
    return board().gpio[line].load();
}

std::vector<GpioWrite> gpioWrites() {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    std::vector<GpioWrite> out;
    b.gpioWrites.forEach([&](const GpioWrite& w) { out.push_back(w); });
    return out;
}

void clearGpioWrites() {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    b.gpioWrites.clear();
}

bool raiseInterrupt(int set) { return vb_node_raise_capture_interrupt(set); }

bool raiseInterruptText(const std::string& text, bool withNul) {
    return queueInterrupt(text.c_str(), text.size() + (withNul ? 1 : 0));
}

void withholdInterrupts(bool withhold) {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    b.withhold = withhold;
}

void stopInterruptsAfter(unsigned count) {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    b.passBeforeStop = count;
}

uint64_t interruptsQueued() {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.queued;
}

uint64_t interruptsWithheld() {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.withheld;
}

uint64_t interruptsRead() {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.readCount;
}

bool waitInterruptsRead(uint64_t count, int timeoutMs) {
    Board& b = board();
    std::unique_lock<std::mutex> lock(b.mu);
    return b.readCv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return b.readCount >= count; });
}

namespace {
// Forgets descriptors that libc closed behind the board's back.
void revalidateDescriptors() {
    for (int fd = 0; fd < kMaxNodeFd; ++fd)
        if (g_fdNode[fd].load(std::memory_order_relaxed)) fdNode(fd);
}
}  // namespace

int openNodeDescriptors() {
    revalidateDescriptors();
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    int total = 0;
    for (int c : b.openCount) total += c;
    return total;
}

int openNodeDescriptors(Node node) {
    revalidateDescriptors();
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.openCount[static_cast<int>(node)];
}

int liveNodeMappings() {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    return static_cast<int>(b.maps.size());
}

int liveNodeMappings(Node node) {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    int total = 0;
    for (auto& m : b.maps)
        if (m.second.node == node) total++;
    return total;
}

void setFault(Node node, Op op, const Fault& fault) {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    FaultSlot& s = b.faults[static_cast<int>(node)][static_cast<int>(op)];
    s.active = true;
    s.fault = fault;
    if (s.fault.fromCall == 0) s.fault.fromCall = 1;
    s.seen = 0;
    s.failed = 0;
}

void clearFault(Node node, Op op) {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    b.faults[static_cast<int>(node)][static_cast<int>(op)] = FaultSlot{};
}

unsigned callCount(Node node, Op op) {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    return b.calls[static_cast<int>(node)][static_cast<int>(op)];
}

void resetCounters() {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    memset(b.calls, 0, sizeof b.calls);
}

void setNodeMissing(Node node, bool missing) {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    b.missing[static_cast<int>(node)] = missing;
}

void setSpiTransferReturnsZero(int bus, unsigned fromCall) {
    if (bus < 0 || bus > 1) return;
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    b.spi[bus].zeroFrom = fromCall;
    b.spi[bus].transfersSeen = 0;
}

void setServiceFault(Service service, const Fault& fault) {
    int i = static_cast<int>(service);
    if (i < 0 || i >= static_cast<int>(Service::Count)) return;
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    FaultSlot& s = b.serviceFaults[i];
    s = FaultSlot{};
    s.active = true;
    s.fault = fault;
    if (s.fault.fromCall == 0) s.fault.fromCall = 1;
}

void clearServiceFault(Service service) {
    int i = static_cast<int>(service);
    if (i < 0 || i >= static_cast<int>(Service::Count)) return;
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    b.serviceFaults[i] = FaultSlot{};
}

void setPluginMissing(bool missing) {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    b.pluginMissing = missing;
}

void setPluginPath(const std::string& hostPath) {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    b.pluginPath = hostPath;
}

void resetFaults() {
    Board& b = board();
    std::lock_guard<std::mutex> lock(b.mu);
    for (auto& row : b.faults)
        for (auto& s : row) s = FaultSlot{};
    for (auto& s : b.serviceFaults) s = FaultSlot{};
    b.pluginMissing = false;
    b.pluginPath.clear();
    for (bool& m : b.missing) m = false;
    for (auto& s : b.spi) {
        s.zeroFrom = 0;
        s.transfersSeen = 0;
    }
    b.withhold = false;
    b.passBeforeStop = -1;
}

}  // namespace vb

// The board announces itself when it is loaded; its kernel objects are made
// here too, so the first intercepted call does not pay for them.  The model is
// started on first use of a node, once every static object exists.
__attribute__((constructor)) static void vyxboardLoaded() { vb::board(); }
