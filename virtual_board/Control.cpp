// Control.cpp - the control and fault-injection functions of VyxBoard.h.
// Each forwards to the driver, the core unit or the path rules that owns
// what it controls.
#include <cstring>

#include "BringUp.h"
#include "CaptureDriver.h"
#include "Descriptors.h"
#include "Faults.h"
#include "GpioDriver.h"
#include "Logs.h"
#include "MemDriver.h"
#include "NodeTable.h"
#include "Paths.h"
#include "SpiDriver.h"
#include "VyxBoard.h"

namespace vb {

// ---------------------------------------------------------------- nodes

const char* nodePath(Node node) {
    const NodeOps* ops = nodeOps(node);
    return ops ? ops->path : "";
}

bool isActive() { return ensureBoard() && nodeTemplate(Node::Mem) >= 0; }

Node nodeOfDescriptor(int fd) { return fdNode(fd); }

// ---------------------------------------------------------------- hardware

uint32_t blockBase(Block block) { return mem::blockBase(block); }

uint32_t readReg(Block block, uint32_t offset) {
    volatile uint32_t* p = mem::reg(block, offset);
    return p ? *p : 0;
}

void writeReg(Block block, uint32_t offset, uint32_t value) {
    if (volatile uint32_t* p = mem::reg(block, offset)) *p = value;
}

uint8_t* physPtr(uint32_t phys) { return mem::phys(phys); }

bool readPhys(uint32_t phys, void* dst, size_t bytes) {
    const uint8_t* at = mem::inRam(phys, bytes) ? mem::phys(phys) : nullptr;
    if (at) memcpy(dst, at, bytes);
    return at != nullptr;
}

bool writePhys(uint32_t phys, const void* src, size_t bytes) {
    uint8_t* at = mem::inRam(phys, bytes) ? mem::phys(phys) : nullptr;
    if (at) memcpy(at, src, bytes);
    return at != nullptr;
}

HardwareView hardware() { return mem::hardware(); }

// ---------------------------------------------------------------- logs

std::vector<SpiFrame> spiLog() { return spi::log(); }
void clearSpiLog() { spi::clearLog(); }
std::vector<IoctlRecord> ioctlLog() { return logs::ioctls(); }
void clearIoctlLog() { logs::clearIoctls(); }
uint64_t cacheFlushCount() { return mem::cacheSyncs(); }

// ---------------------------------------------------------------- GPIO

void setGpioInput(int line, bool level) {
    ensureBoard();
    gpio::setInput(line, level);
}
bool gpioLevel(int line) { return gpio::level(line); }
std::vector<GpioWrite> gpioWrites() { return gpio::writes(); }
void clearGpioWrites() { gpio::clearWrites(); }

// ---------------------------------------------------------------- interrupts

bool raiseInterrupt(int set) { return capture::raise(set); }
bool raiseInterruptText(const std::string& text, bool withNul) {
    return capture::queue(text.c_str(), text.size() + (withNul ? 1 : 0));
}
void withholdInterrupts(bool withhold) { capture::withhold(withhold); }
void stopInterruptsAfter(unsigned count) { capture::stopAfter(count); }
uint64_t interruptsQueued() { return capture::queued(); }
uint64_t interruptsWithheld() { return capture::withheld(); }
uint64_t interruptsRead() { return capture::read(); }
bool waitInterruptsRead(uint64_t count, int timeoutMs) { return capture::waitRead(count, timeoutMs); }

// ---------------------------------------------------------------- resources

int openNodeDescriptors() {
    int total = 0;
    for (int n = 0; n < kNodeCount; ++n) total += fdOpenCount(static_cast<Node>(n));
    return total;
}
int openNodeDescriptors(Node node) { return fdOpenCount(node); }
int liveNodeMappings() { return mem::liveMappings(); }
int liveNodeMappings(Node node) { return mem::liveMappings(node); }

// ---------------------------------------------------------------- faults

std::vector<Op> faultPoints(Node node) {
    std::vector<Op> out;
    const NodeOps* ops = nodeOps(node);
    for (int o = 0; ops && o < static_cast<int>(Op::Count); ++o)
        if (ops->faultPoints & faultBit(static_cast<Op>(o))) out.push_back(static_cast<Op>(o));
    return out;
}
void setFault(Node node, Op op, const Fault& fault) { faults::set(node, op, fault); }
void clearFault(Node node, Op op) { faults::clear(node, op); }
unsigned callCount(Node node, Op op) { return faults::calls(node, op); }
void resetCounters() { faults::resetCalls(); }
void setNodeMissing(Node node, bool missing) { faults::setMissing(node, missing); }
void setSpiTransferReturnsZero(int bus, unsigned fromCall) { spi::zeroTransfersFrom(bus, fromCall); }
void setServiceFault(Service service, const Fault& fault) { faults::setService(service, fault); }
void clearServiceFault(Service service) { faults::clearService(service); }
void setPluginMissing(bool missing) { faults::setPluginMissing(missing); }
void setPluginPath(const std::string& hostPath) { faults::setPluginPath(hostPath); }

void resetFaults() {
    faults::resetAll();
    spi::zeroTransfersFrom(0, 0);
    spi::zeroTransfersFrom(1, 0);
    capture::passAll();
}

void resetBoard() {
    ensureBoard();
    faults::resetAll();
    faults::resetCalls();
    for (int n = 0; n < kNodeCount; ++n)
        if (const NodeOps* ops = nodeOps(static_cast<Node>(n)); ops->reset) ops->reset();
    logs::clearIoctls();
    spi::clearLog();
    gpio::clearWrites();
    paths::clearFakeFreeSpace();
}

// ---------------------------------------------------------------- sandbox

std::string sandboxRoot() { return paths::sandboxRoot(); }
void setSandboxRoot(const std::string& root) { paths::setSandboxRoot(root); }
std::string sandboxPath(const std::string& boardPath) { return paths::sandboxPath(boardPath); }
void setFakeFreeSpace(uint64_t bytes) { paths::setFakeFreeSpace(bytes); }
void setFakeFreeSpace(uint64_t bytes, uint32_t blockBytes) { paths::setFakeFreeSpace(bytes, blockBytes); }
void clearFakeFreeSpace() { paths::clearFakeFreeSpace(); }

}  // namespace vb
