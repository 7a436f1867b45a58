// NodeOps.h - what a driver of the virtual board provides for one device
// node, the way a kernel driver fills in its file operations.
//
// The dispatch layer (Dispatch.cpp) reaches a node only through its entry in
// the node table (NodeTable.cpp); a new node is one driver file and one table
// entry.  Every handler runs on the calling thread of the program, under the
// driver's own lock where it touches the driver's state.  A null handler
// gives the kernel's answer for a file that does not support the call.
#ifndef VYX_BOARD_CORE_NODEOPS_H
#define VYX_BOARD_CORE_NODEOPS_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "VyxBoard.h"

namespace vb {

struct NodeOps {
    Node node;
    const char* path;
    // Operations a fault can be injected into (bit 1 << Op).
    unsigned faultPoints;
    // Makes the node's kernel object when the board comes up: the descriptor
    // every open duplicates, or -1 with errno.
    int (*create)();
    // The node's first open / last close in the process (may be null).
    void (*firstOpen)();
    void (*lastClose)();
    // null read/write: EINVAL once the fault point has been passed.
    ssize_t (*read)(int fd, void* buf, size_t n);
    ssize_t (*write)(int fd, const void* buf, size_t n);
    // null: ENOTTY.
    int (*ioctl)(int fd, unsigned long request, void* arg);
    // null: ENODEV.  off is the physical address asked for.
    void* (*mmap)(void* addr, size_t len, int prot, int flags, int fd, uint64_t off);
    // A select or poll names one of the node's descriptors (may be null).
    void (*wait)();
    // Every munmap of the process (may be null).
    void (*unmap)(void* addr, size_t len);
    // Back to the state after power-on (may be null).
    void (*reset)();

    // A driver's table names the handlers it has, slot by slot; the others
    // stay null:  NodeOps::of(node, path, faults, create).with(&NodeOps::read, f)
    static constexpr NodeOps of(Node node, const char* path, unsigned faultPoints, int (*create)()) {
        NodeOps ops{};
        ops.node = node;
        ops.path = path;
        ops.faultPoints = faultPoints;
        ops.create = create;
        return ops;
    }
    template <typename Slot>
    constexpr NodeOps with(Slot NodeOps::*slot, Slot handler) const {
        NodeOps ops = *this;
        ops.*slot = handler;
        return ops;
    }
};

constexpr unsigned faultBit(Op op) { return 1u << static_cast<int>(op); }
// Every node can be made to fail open, read, write, mmap and select/poll;
// an ioctl fault point exists where the driver has requests.
constexpr unsigned kCommonFaultPoints =
    faultBit(Op::Open) | faultBit(Op::Read) | faultBit(Op::Write) | faultBit(Op::Mmap) | faultBit(Op::Select);

}  // namespace vb

#endif
