// CaptureDriver.cpp - /dev/vyx_capture_0.
//
// The node is the reading end of a SOCK_SEQPACKET socket pair, so that one
// read() returns exactly one interrupt code (a short read drops the rest of
// the record, as the driver's copy would), and select and poll work natively.
// The PL raises its interrupt through raise(): the code of the camera set,
// with its terminating zero.  Interrupts raised while nobody has the node
// open have no reader: a fresh open starts with nothing pending, and codes
// queued for the last reader do not wake the next one.
//
// Before a read and before a select or poll on the node, the PL looks at its
// registers: the capture path's software trigger, written just before the
// wait, is seen at once.
#include "CaptureDriver.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "Descriptors.h"
#include "Faults.h"
#include "Libc.h"
#include "ModelLink.h"
#include "Nodes.h"

namespace vb {

namespace {

constexpr size_t kRecordBytes = 64;  // larger than any code

struct Capture {
    int writerSlot = -1;  // the PL's end, one of the board's own descriptors
    std::mutex mu;
    std::condition_variable readCv;
    bool withhold = false;
    int64_t passBeforeStop = -1;  // interrupts still let through; -1 = no limit
    uint64_t queued = 0, withheld = 0, reads = 0;
};

Capture& state() {
    static Capture* c = new Capture;
    return *c;
}

int create() {
    Capture& c = state();
    ownRelease(c.writerSlot);  // left by a bring-up that failed later on
    c.writerSlot = -1;
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) return -1;
    // The program only ever reads the node.
    shutdown(sv[0], SHUT_WR);
    c.writerSlot = ownTake(sv[1]);
    if (c.writerSlot < 0) {
        int e = errno;
        sysClose(sv[0]);
        errno = e;
        return -1;
    }
    return sv[0];  // what every open duplicates
}

void drain() {
    char buf[kRecordBytes];
    const int reader = fdTemplate(Node::Capture);
    while (reader >= 0 && recv(reader, buf, sizeof buf, MSG_DONTWAIT) >= 0) {}
}

ssize_t captureRead(int fd, void* buf, size_t n) {
    Capture& c = state();
    link::sync();
    if (int e = faults::check(Node::Capture, Op::Read)) {
        // A failing read still takes the pending code off the queue, as a
        // driver that lost the interrupt would.
        char drop[kRecordBytes];
        recv(fd, drop, sizeof drop, MSG_DONTWAIT);
        errno = e;
        return -1;
    }
    int flags = (fdFlags(fd) & O_NONBLOCK) ? MSG_DONTWAIT : 0;
    ssize_t r = recv(fd, buf, n, flags);
    if (r > 0) {
        link::model().boardEvent(BoardEvent::CaptureRead, 0, false);
        std::lock_guard<std::mutex> lock(c.mu);
        c.reads++;
        c.readCv.notify_all();
    }
    return r;
}

void captureWait() { link::sync(); }

}  // namespace

constexpr NodeOps kCaptureNode = NodeOps::of(Node::Capture, vyxnode::kCapturePath, kCommonFaultPoints, create)
                                     .with(&NodeOps::firstOpen, drain)
                                     .with(&NodeOps::lastClose, drain)
                                     .with(&NodeOps::read, captureRead)
                                     .with(&NodeOps::wait, captureWait)
                                     .with(&NodeOps::reset, capture::passAll);

namespace capture {

bool queue(const void* data, size_t len) {
    Capture& c = state();
    const int writer = ownFd(c.writerSlot);
    ssize_t r = writer < 0 ? -1 : send(writer, data, len, MSG_DONTWAIT | MSG_NOSIGNAL);
    std::lock_guard<std::mutex> lock(c.mu);
    if (r < 0) {
        // The reader has fallen far behind: the driver drops the code.
        c.withheld++;
        return false;
    }
    c.queued++;
    return true;
}

bool raise(int set) {
    if (set < 0 || set >= vyxnode::kCaptureSets) return false;
    Capture& c = state();
    {
        std::lock_guard<std::mutex> lock(c.mu);
        bool pass = !c.withhold && c.passBeforeStop != 0;
        if (!pass) {
            c.withheld++;
            return false;
        }
        if (c.passBeforeStop > 0) c.passBeforeStop--;
    }
    const char* code = vyxnode::kCaptureCode[set];
    return queue(code, strlen(code) + 1);
}

void withhold(bool withhold) {
    Capture& c = state();
    std::lock_guard<std::mutex> lock(c.mu);
    c.withhold = withhold;
}

void stopAfter(unsigned count) {
    Capture& c = state();
    std::lock_guard<std::mutex> lock(c.mu);
    c.passBeforeStop = count;
}

void passAll() {
    Capture& c = state();
    std::lock_guard<std::mutex> lock(c.mu);
    c.withhold = false;
    c.passBeforeStop = -1;
}

uint64_t queued() {
    Capture& c = state();
    std::lock_guard<std::mutex> lock(c.mu);
    return c.queued;
}

uint64_t withheld() {
    Capture& c = state();
    std::lock_guard<std::mutex> lock(c.mu);
    return c.withheld;
}

uint64_t read() {
    Capture& c = state();
    std::lock_guard<std::mutex> lock(c.mu);
    return c.reads;
}

bool waitRead(uint64_t count, int timeoutMs) {
    Capture& c = state();
    std::unique_lock<std::mutex> lock(c.mu);
    return c.readCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return c.reads >= count; });
}

}  // namespace capture
}  // namespace vb
