// GpioDriver.cpp - /dev/misc_vyx_gpio.
//
// One request per line and direction (Nodes.h), the argument points to one
// 32-bit value: reads of lines 0..9 return the line's level (inputs are set
// from outside the program, outputs read back what was last written);
// writes of the output lines 3..9 drive them.  The driver takes writes on a
// read-only descriptor too, as the board's driver does.  Every other request
// is ENOTTY.  Writes are logged; input changes are passed on to the model
// (line 0 is the PL's external trigger input).
#include "GpioDriver.h"

#include <sys/mman.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "Descriptors.h"
#include "Faults.h"
#include "Logs.h"
#include "ModelLink.h"
#include "Nodes.h"
#include "UserMemory.h"

namespace vb {

namespace {

constexpr int kLines = static_cast<int>(vyxnode::kGpioLines);
constexpr int kFirstOutput = static_cast<int>(vyxnode::kGpioFirstOutput);
constexpr unsigned long kOutputs = vyxnode::kGpioLines - vyxnode::kGpioFirstOutput;

struct Gpio {
    std::atomic<bool> level[kLines];
    std::mutex mu;  // guards writes
    Ring<GpioWrite> writes;
    Gpio() {
        for (auto& l : level) l.store(false);
    }
};

Gpio& state() {
    static Gpio* g = new Gpio;
    return *g;
}

// Line of a read or write request, or -1.
int readLine(unsigned long request) {
    for (int i = 0; i < kFirstOutput; ++i)
        if (request == vyxnode::kGpioReadInput[i]) return i;
    if (request >= vyxnode::kGpioReadBase && request < vyxnode::kGpioReadBase + kOutputs)
        return kFirstOutput + static_cast<int>(request - vyxnode::kGpioReadBase);
    return -1;
}

int writeLine(unsigned long request) {
    if (request >= vyxnode::kGpioWriteBase && request < vyxnode::kGpioWriteBase + kOutputs)
        return kFirstOutput + static_cast<int>(request - vyxnode::kGpioWriteBase);
    return -1;
}

int gpioIoctl(int, unsigned long request, void* arg) {
    Gpio& g = state();
    const int rl = readLine(request), wl = writeLine(request);
    if (rl < 0 && wl < 0) return logs::refuseIoctl(Node::Gpio, request, ENOTTY);
    if (int e = faults::check(Node::Gpio, Op::Ioctl, -1, request))
        return logs::refuseIoctl(Node::Gpio, request, e);
    if (rl >= 0) {
        const int32_t level = g.level[rl].load() ? 1 : 0;
        if (!copyToUser(arg, &level, sizeof level)) return logs::refuseIoctl(Node::Gpio, request, EFAULT);
        logs::ioctl(Node::Gpio, request, true, level, 0, 0);
        return 0;
    }
    int32_t v;
    if (!copyFromUser(&v, arg, sizeof v)) return logs::refuseIoctl(Node::Gpio, request, EFAULT);
    g.level[wl].store(v != 0);
    {
        std::lock_guard<std::mutex> lock(g.mu);
        g.writes.push(GpioWrite{wl, v});
    }
    logs::ioctl(Node::Gpio, request, true, v, 0, 0);
    link::model().boardEvent(BoardEvent::GpioOutput, wl, v != 0);
    return 0;
}

int create() { return sealedNodeObject(vyxnode::kGpioPath); }

// Every line low, as after power-on.
void reset() {
    for (int line = 0; line < kLines; ++line) gpio::setInput(line, false);
}

}  // namespace

constexpr NodeOps kGpioNode =
    NodeOps::of(Node::Gpio, vyxnode::kGpioPath, kCommonFaultPoints | faultBit(Op::Ioctl), create)
        .with(&NodeOps::ioctl, gpioIoctl)
        .with(&NodeOps::reset, reset);

namespace gpio {

void setInput(int line, bool level) {
    if (line < 0 || line >= kLines) return;
    state().level[line].store(level);
    link::model().gpioInput(line, level);
}

bool level(int line) { return line >= 0 && line < kLines && state().level[line].load(); }

std::vector<GpioWrite> writes() {
    Gpio& g = state();
    std::lock_guard<std::mutex> lock(g.mu);
    std::vector<GpioWrite> out;
    g.writes.forEach([&](const GpioWrite& w) { out.push_back(w); });
    return out;
}

void clearWrites() {
    Gpio& g = state();
    std::lock_guard<std::mutex> lock(g.mu);
    g.writes.clear();
}

}  // namespace gpio
}  // namespace vb
