// MemDriver.cpp - /dev/mem and /dev/cache_ops.
//
// The board's memory is two sparse memfds, so that mappings are coherent
// between the program, the model and any forked child, and cost nothing
// until touched:
//   - the reserved RAM 0x30000000..0x40000000 (256 MiB); a /dev/cache_ops
//     mapping at offset p maps the memfd at p - 0x30000000;
//   - the PL's register space, from the lowest VDMA core to the end of the
//     scaler's window; a /dev/mem mapping must lie inside one block's
//     0x40000-byte window.  The windows are wider than the 64 KiB the VDMA
//     cores are apart, so, as on the board, a VDMA window also reaches the
//     next cores' registers.
// /dev/cache_ops takes the cache-maintenance request after an address
// translation; the mapping is coherent, so there is nothing to write back:
// the request is checked, counted and logged.  Every other request, and any
// physical range with no device behind it, is refused as the board's
// drivers refuse it.
#include "MemDriver.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>

#include "Descriptors.h"
#include "Faults.h"
#include "Libc.h"
#include "Logs.h"
#include "ModelLink.h"
#include "Nodes.h"

namespace vb {

namespace {

namespace phys = vyxpl::phys;

constexpr size_t kRamBytes = phys::kReservedRamEnd - phys::kReservedRamBase;
constexpr int kBlockCount = static_cast<int>(Block::Count);
constexpr uint32_t kBlockBases[kBlockCount] = {phys::kFpgaBase, phys::kScalerBase, phys::kVdmaRgb888Base,
                                               phys::kVdmaG8Base, phys::kVdmaHdmiBase};
// The register space spans from the lowest VDMA core to the end of the scaler's window.
constexpr uint32_t kRegSpaceBase = phys::kVdmaRgb888Base;
constexpr size_t kRegSpaceBytes = phys::kScalerBase + phys::kRegBlockWindow - kRegSpaceBase;

struct Mapping {
    size_t len;
    Node node;
};

struct Memory {
    int ramSlot = -1;  // the board's own descriptors of the two memfds
    int regSlot = -1;
    uint8_t* ram = nullptr;
    volatile uint32_t* block[kBlockCount] = {};
    std::mutex mu;  // guards maps and syncs
    std::map<uintptr_t, Mapping> maps;
    uint64_t syncs = 0;
};

// Allocated on first use and never freed: late calls during exit still
// find it.
Memory& memory() {
    static Memory* m = new Memory;
    return *m;
}
std::mutex g_buildMu;
std::atomic<bool> g_built{false};
std::atomic<int> g_liveMappings{0};  // lets munmap of other memory return at once

// A sparse memfd of `bytes`, held by the board, mapped whole into `*at`.
// Returns its slot, or -1 with errno and nothing left behind.
int sparseMemory(const char* name, size_t bytes, void** at) {
    int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd >= 0 && ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
        int e = errno;
        sysClose(fd);
        errno = e;
        fd = -1;
    }
    int slot = fd < 0 ? -1 : ownTake(fd);
    if (slot < 0) return -1;
    void* p = sysMmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, ownFd(slot), 0);
    if (p == MAP_FAILED) {
        int e = errno;
        ownRelease(slot);
        errno = e;
        return -1;
    }
    *at = p;
    return slot;
}

// Both memories exist once either node does.  False with errno when the
// process cannot have them (descriptor or address-space limits).
bool build() {
    if (g_built.load(std::memory_order_acquire)) return true;
    std::lock_guard<std::mutex> lock(g_buildMu);
    if (g_built.load(std::memory_order_relaxed)) return true;
    Memory& m = memory();
    void* ram = nullptr;
    void* space = nullptr;
    int ramSlot = sparseMemory("vyx-ram", kRamBytes, &ram);
    if (ramSlot < 0) return false;
    int regSlot = sparseMemory("vyx-pl-registers", kRegSpaceBytes, &space);
    if (regSlot < 0) {
        int e = errno;
        sysMunmap(ram, kRamBytes);
        ownRelease(ramSlot);
        errno = e;
        return false;
    }
    m.ramSlot = ramSlot;
    m.regSlot = regSlot;
    m.ram = static_cast<uint8_t*>(ram);
    auto* regs = static_cast<volatile uint32_t*>(space);
    for (int i = 0; i < kBlockCount; ++i) m.block[i] = regs + (kBlockBases[i] - kRegSpaceBase) / 4;
    g_built.store(true, std::memory_order_release);
    return true;
}

bool inside(uint64_t off, size_t len, uint64_t base, uint64_t bytes) {
    return off >= base && len <= bytes && off - base <= bytes - len;
}

int createNode(const char* name) { return build() ? sealedNodeObject(name) : -1; }
int createMem() { return createNode(vyxnode::kMemPath); }
int createCacheOps() { return createNode(vyxnode::kCacheOpsPath); }

void* mapInto(Node node, void* addr, size_t len, int prot, int flags, int slot, uint64_t local) {
    Memory& m = memory();
    const int target = ownFd(slot);
    if (target < 0) return MAP_FAILED;
    void* p = sysMmap(addr, len, prot, flags, target, static_cast<off_t>(local));
    if (p == MAP_FAILED) return p;
    std::lock_guard<std::mutex> lock(m.mu);
    m.maps[reinterpret_cast<uintptr_t>(p)] = Mapping{len, node};
    g_liveMappings.store(static_cast<int>(m.maps.size()));
    return p;
}

void* memMmap(void* addr, size_t len, int prot, int flags, int, uint64_t off) {
    Memory& m = memory();
    if (int e = faults::check(Node::Mem, Op::Mmap, static_cast<int64_t>(off))) {
        errno = e;
        return MAP_FAILED;
    }
    for (uint32_t base : kBlockBases)
        if (inside(off, len, base, phys::kRegBlockWindow))
            return mapInto(Node::Mem, addr, len, prot, flags, m.regSlot, off - kRegSpaceBase);
    errno = EINVAL;  // no device behind this physical range
    return MAP_FAILED;
}

void* cacheOpsMmap(void* addr, size_t len, int prot, int flags, int, uint64_t off) {
    Memory& m = memory();
    if (int e = faults::check(Node::CacheOps, Op::Mmap, static_cast<int64_t>(off))) {
        errno = e;
        return MAP_FAILED;
    }
    if (!inside(off, len, phys::kReservedRamBase, kRamBytes)) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    return mapInto(Node::CacheOps, addr, len, prot, flags, m.ramSlot, off - phys::kReservedRamBase);
}

void forgetMappings(void* addr, size_t len) {
    Memory& m = memory();
    if (g_liveMappings.load() == 0) return;
    uintptr_t lo = reinterpret_cast<uintptr_t>(addr), hi = lo + len;
    std::lock_guard<std::mutex> lock(m.mu);
    for (auto it = m.maps.lower_bound(lo); it != m.maps.end() && it->first < hi;) it = m.maps.erase(it);
    g_liveMappings.store(static_cast<int>(m.maps.size()));
}

int cacheOpsIoctl(int, unsigned long request, void*) {
    Memory& m = memory();
    if (request != vyxnode::kCacheSync) return logs::refuseIoctl(Node::CacheOps, request, ENOTTY);
    // The record behind the argument is not interpreted.
    if (int e = faults::check(Node::CacheOps, Op::Ioctl, -1, request))
        return logs::refuseIoctl(Node::CacheOps, request, e);
    {
        std::lock_guard<std::mutex> lock(m.mu);
        m.syncs++;
    }
    logs::ioctl(Node::CacheOps, request, false, 0, 0, 0);
    // A show translates its frame's address just before it programs the
    // display: the PL catches up with the registers first.
    link::sync();
    return 0;
}

}  // namespace

constexpr NodeOps kMemNode = NodeOps::of(Node::Mem, vyxnode::kMemPath, kCommonFaultPoints, createMem)
                                 .with(&NodeOps::mmap, memMmap)
                                 .with(&NodeOps::unmap, forgetMappings);

constexpr NodeOps kCacheOpsNode = NodeOps::of(Node::CacheOps, vyxnode::kCacheOpsPath,
                                              kCommonFaultPoints | faultBit(Op::Ioctl), createCacheOps)
                                      .with(&NodeOps::ioctl, cacheOpsIoctl)
                                      .with(&NodeOps::mmap, cacheOpsMmap)
                                      .with(&NodeOps::unmap, forgetMappings);

namespace mem {

HardwareView hardware() {
    Memory& m = memory();
    HardwareView hw{};
    if (!build()) return hw;
    hw.fpga = m.block[static_cast<int>(Block::Fpga)];
    hw.scaler = m.block[static_cast<int>(Block::Scaler)];
    hw.vdmaRgb = m.block[static_cast<int>(Block::VdmaRgb)];
    hw.vdmaG8 = m.block[static_cast<int>(Block::VdmaG8)];
    hw.vdmaHdmi = m.block[static_cast<int>(Block::VdmaHdmi)];
    hw.ram = m.ram;
    return hw;
}

uint32_t blockBase(Block block) {
    int i = static_cast<int>(block);
    return i >= 0 && i < kBlockCount ? kBlockBases[i] : 0;
}

volatile uint32_t* reg(Block block, uint32_t offset) {
    Memory& m = memory();
    int i = static_cast<int>(block);
    if (i < 0 || i >= kBlockCount || offset % 4 != 0 || offset >= phys::kRegBlockWindow) return nullptr;
    if (!build()) return nullptr;
    return m.block[i] + offset / 4;
}

bool inRam(uint64_t address, size_t bytes) {
    return inside(address, bytes, phys::kReservedRamBase, kRamBytes);
}

uint8_t* phys(uint32_t address) {
    Memory& m = memory();
    if (!inRam(address, 1) || !build()) return nullptr;
    return m.ram + (address - phys::kReservedRamBase);
}

uint64_t cacheSyncs() {
    Memory& m = memory();
    std::lock_guard<std::mutex> lock(m.mu);
    return m.syncs;
}

int liveMappings() {
    Memory& m = memory();
    std::lock_guard<std::mutex> lock(m.mu);
    return static_cast<int>(m.maps.size());
}

int liveMappings(Node node) {
    Memory& m = memory();
    std::lock_guard<std::mutex> lock(m.mu);
    int n = 0;
    for (const auto& m : m.maps)
        if (m.second.node == node) n++;
    return n;
}

}  // namespace mem
}  // namespace vb
