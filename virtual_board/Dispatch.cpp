// Dispatch.cpp - from the interposers to the drivers, through the node table.
//
// What is common to every node happens here: the board comes up on the first
// open, a missing node answers ENOENT, descriptors opened for writing only
// cannot be read and the other way round, each open gets a descriptor of its
// own, and a call the driver does not handle gets the kernel's answer after
// its fault point.  Everything node-specific is the driver's.
#include "Dispatch.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

#include "BringUp.h"
#include "BoardClock.h"
#include "Faults.h"
#include "Libc.h"
#include "Logs.h"
#include "ModelLink.h"
#include "NodeTable.h"
#include "Paths.h"

namespace vb {

namespace {

int accessMode(int fd) { return fdFlags(fd) & O_ACCMODE; }

// A call the driver has no handler for: its fault point, then `error`.
int unsupported(Node node, Op op, int error) {
    int e = faults::check(node, op);
    errno = e ? e : error;
    return -1;
}

}  // namespace

int nodeOpen(Node node, int flags) {
    if (!ensureBoard()) return -1;
    const NodeOps& ops = *nodeOps(node);
    if (faults::missing(node)) {
        errno = ENOENT;
        return -1;
    }
    if (int e = faults::check(node, Op::Open)) {
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
    const int templ = nodeTemplate(node);
    if (templ < 0) return -1;
    int fd = sysDupFd(templ, (flags & O_CLOEXEC) != 0);
    if (fd < 0) return -1;
    if (fd >= kMaxNodeFd) {
        sysClose(fd);
        errno = EMFILE;
        return -1;
    }
    if (fdAttach(fd, node, flags) && ops.firstOpen) ops.firstOpen();
    return fd;
}

void nodeClose(int fd) {
    Node node = fdNode(fd);
    if (node == Node::Count) return;
    const NodeOps& ops = *nodeOps(node);
    if (fdDetach(fd, node) && ops.lastClose) ops.lastClose();
}

void nodeDup(int oldFd, int newFd) {
    Node node = fdNode(oldFd);
    if (node == Node::Count || newFd < 0 || newFd >= kMaxNodeFd) return;
    nodeClose(newFd);  // a duplicate onto a node descriptor closed it
    fdAttach(newFd, node, fdFlags(oldFd));
}

ssize_t nodeRead(Node node, int fd, void* buf, size_t n) {
    if (accessMode(fd) == O_WRONLY) {
        errno = EBADF;
        return -1;
    }
    const NodeOps& ops = *nodeOps(node);
    return ops.read ? ops.read(fd, buf, n) : unsupported(node, Op::Read, EINVAL);
}

ssize_t nodeWrite(Node node, int fd, const void* buf, size_t n) {
    if (accessMode(fd) == O_RDONLY) {
        errno = EBADF;
        return -1;
    }
    const NodeOps& ops = *nodeOps(node);
    return ops.write ? ops.write(fd, buf, n) : unsupported(node, Op::Write, EINVAL);
}

int nodeIoctl(Node node, int fd, unsigned long request, void* arg) {
    const NodeOps& ops = *nodeOps(node);
    return ops.ioctl ? ops.ioctl(fd, request, arg) : logs::refuseIoctl(node, request, ENOTTY);
}

void* nodeMmap(Node node, void* addr, size_t len, int prot, int flags, int fd, uint64_t off) {
    const NodeOps& ops = *nodeOps(node);
    if (ops.mmap) return ops.mmap(addr, len, prot, flags, fd, off);
    unsupported(node, Op::Mmap, ENODEV);
    return MAP_FAILED;
}

void nodeMunmap(void* addr, size_t len) {
    void (*done)(void*, size_t) = nullptr;
    for (int n = 0; n < kNodeCount; ++n) {
        const NodeOps& ops = *nodeOps(static_cast<Node>(n));
        // Nodes of one driver share its handler: call it once.
        if (ops.unmap && ops.unmap != done) {
            ops.unmap(addr, len);
            done = ops.unmap;
        }
    }
}

int nodeWait(Node node) {
    const NodeOps& ops = *nodeOps(node);
    if (ops.wait) ops.wait();
    return faults::check(node, Op::Select);
}

void programWaits() { link::sync(); }

bool programPolls(int64_t deadlineNs, bool (*tryOnce)(void*), void* arg) {
    if (!link::running()) return false;
    const int64_t start = model::boardClockNs();
    int64_t until = link::model().pollUntil(start);
    if (until == 0) return false;
    if (deadlineNs >= 0) until = std::min(until, deadlineNs);
    bool ready = tryOnce(arg);
    for (int64_t now = start; !ready && now < until; now = model::boardClockNs()) {
        sched_yield();
        ready = tryOnce(arg);
    }
    link::model().polled(model::boardClockNs() - start);
    return ready;
}

bool nodeMissing(Node node) { return faults::missing(node); }

const char* pluginTarget(std::string& keep) { return faults::pluginTarget(pluginPath(), keep); }

int serviceFault(Service service) { return faults::service(service); }

}  // namespace vb
