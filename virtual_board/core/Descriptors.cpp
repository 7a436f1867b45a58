// Descriptors.cpp - the descriptor table of the board's nodes.
#include "Descriptors.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <mutex>

#include "Libc.h"

namespace vb {

namespace {

// node + 1, 0 for "not the board's".
std::atomic<uint8_t> g_fdNode[kMaxNodeFd];
std::atomic<int> g_fdFlags[kMaxNodeFd];
dev_t g_dev[kNodeCount];
ino_t g_ino[kNodeCount];
std::atomic<int> g_templSlot[kNodeCount];
std::mutex g_countMu;

// ---- own descriptors
constexpr int kOwnSlots = 16;
constexpr int kOwnRoom = 64;  // numbers kept free for them below the limit
struct OwnSlot {
    std::atomic<int> fd{-1};
    dev_t dev = 0;
    ino_t ino = 0;
};
OwnSlot g_own[kOwnSlots];
std::mutex g_ownMu;
std::atomic<int> g_ownFloor{INT_MAX};  // no own descriptor lies below
std::atomic<bool> g_toldLost{false};

// The lowest number the board's own descriptors take: a little below the
// process's descriptor limit (and below the node table's end).
int ownBase() {
    struct rlimit rl;
    long top = kMaxNodeFd;
    if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY &&
        rl.rlim_cur < static_cast<rlim_t>(top))
        top = static_cast<long>(rl.rlim_cur);
    long base = top > 2 * kOwnRoom ? top - kOwnRoom : top / 2;
    return static_cast<int>(std::max(base, 3L));
}

int dupHigh(int fd) {
    VB_REAL(int (*)(int, int, ...), fcntl);
    return real_fcntl(fd, F_DUPFD_CLOEXEC, ownBase());
}

bool identity(int fd, dev_t& dev, ino_t& ino) {
    struct stat64 st;
    if (fstat64(fd, &st) != 0) return false;
    dev = st.st_dev;
    ino = st.st_ino;
    return true;
}

void lowerFloor(int fd) {
    int cur = g_ownFloor.load();
    while (fd < cur && !g_ownFloor.compare_exchange_weak(cur, fd)) {}
}
int g_openCount[kNodeCount];

bool valid(int fd) { return fd >= 0 && fd < kMaxNodeFd; }

bool sameObject(int fd, int n) {
    struct stat64 st;
    int saved = errno;
    bool same = fstat64(fd, &st) == 0 && st.st_ino == g_ino[n] && st.st_dev == g_dev[n];
    errno = saved;
    return same;
}

void countDown(int n) {
    std::lock_guard<std::mutex> lock(g_countMu);
    g_openCount[n]--;
}

}  // namespace

int ownTake(int fd) {
    int high = dupHigh(fd);
    int e = errno;
    sysClose(fd);
    if (high < 0) {
        errno = e;
        return -1;
    }
    std::lock_guard<std::mutex> lock(g_ownMu);
    for (int s = 0; s < kOwnSlots; ++s) {
        OwnSlot& o = g_own[s];
        if (o.fd.load() >= 0) continue;
        if (!identity(high, o.dev, o.ino)) break;
        lowerFloor(high);
        o.fd.store(high);
        return s;
    }
    e = errno ? errno : EMFILE;
    sysClose(high);
    errno = e;
    return -1;
}

int ownFd(int slot) {
    if (slot < 0 || slot >= kOwnSlots) {
        errno = EBADF;
        return -1;
    }
    OwnSlot& o = g_own[slot];
    int fd = o.fd.load(std::memory_order_acquire);
    dev_t dev;
    ino_t ino;
    int saved = errno;
    if (fd >= 0 && identity(fd, dev, ino) && dev == o.dev && ino == o.ino) {
        errno = saved;
        return fd;
    }
    if (fd >= 0 && !g_toldLost.exchange(true)) {
        char msg[160];
        snprintf(msg, sizeof msg,
                 "vyxboard: the board's descriptor %d was closed or replaced behind its back; "
                 "its node fails from now on\n",
                 fd);
        sysSay(msg);
    }
    errno = EBADF;
    return -1;
}

void ownRelease(int slot) {
    if (slot < 0 || slot >= kOwnSlots) return;
    std::lock_guard<std::mutex> lock(g_ownMu);
    int fd = g_own[slot].fd.exchange(-1);
    if (fd >= 0) sysClose(fd);
}

bool ownHolds(int fd) {
    if (fd < g_ownFloor.load(std::memory_order_relaxed)) return false;
    for (const OwnSlot& o : g_own)
        if (o.fd.load(std::memory_order_acquire) == fd) return true;
    return false;
}

bool ownMoveAway(int fd) {
    std::lock_guard<std::mutex> lock(g_ownMu);
    for (OwnSlot& o : g_own) {
        if (o.fd.load() != fd) continue;
        int moved = dupHigh(fd);
        if (moved < 0) return false;
        lowerFloor(moved);
        o.fd.store(moved, std::memory_order_release);
        sysClose(fd);
    }
    return true;
}

int ownWithin(unsigned first, unsigned last, int* out, int max) {
    int n = 0;
    for (const OwnSlot& o : g_own) {
        int fd = o.fd.load();
        if (fd >= 0 && static_cast<unsigned>(fd) >= first && static_cast<unsigned>(fd) <= last && n < max)
            out[n++] = fd;
    }
    std::sort(out, out + n);
    return n;
}

int sealedNodeObject(const char* name) {
    int fd = memfd_create(name, MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd >= 0 && fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) != 0) {
        int e = errno;
        sysClose(fd);
        errno = e;
        return -1;
    }
    return fd;
}

void fdSetTemplate(Node node, int slot) {
    int n = static_cast<int>(node);
    identity(g_own[slot].fd.load(), g_dev[n], g_ino[n]);
    g_templSlot[n].store(slot + 1, std::memory_order_release);
}

int fdTemplate(Node node) {
    int n = static_cast<int>(node);
    int slot = n >= 0 && n < kNodeCount ? g_templSlot[n].load(std::memory_order_acquire) - 1 : -1;
    if (slot < 0) {
        errno = ENODEV;
        return -1;
    }
    return ownFd(slot);
}

Node fdNode(int fd) {
    if (!valid(fd)) return Node::Count;
    uint8_t v = g_fdNode[fd].load(std::memory_order_acquire);
    if (!v) return Node::Count;
    if (sameObject(fd, v - 1)) return static_cast<Node>(v - 1);
    // Closed behind the board's back: forget it.
    uint8_t expected = v;
    if (g_fdNode[fd].compare_exchange_strong(expected, 0)) countDown(v - 1);
    return Node::Count;
}

int fdFlags(int fd) { return valid(fd) ? g_fdFlags[fd].load() : 0; }

bool fdAttach(int fd, Node node, int flags) {
    int n = static_cast<int>(node);
    g_fdFlags[fd].store(flags);
    // The kernel handed out this number, so whatever the table still says
    // about it was closed behind the board's back.
    uint8_t stale = g_fdNode[fd].exchange(static_cast<uint8_t>(n + 1), std::memory_order_acq_rel);
    std::lock_guard<std::mutex> lock(g_countMu);
    if (stale) g_openCount[stale - 1]--;
    return ++g_openCount[n] == 1;
}

bool fdDetach(int fd, Node node) {
    int n = static_cast<int>(node);
    uint8_t expected = static_cast<uint8_t>(n + 1);
    if (!valid(fd) || !g_fdNode[fd].compare_exchange_strong(expected, 0, std::memory_order_acq_rel))
        return false;
    std::lock_guard<std::mutex> lock(g_countMu);
    return --g_openCount[n] == 0;
}

int fdOpenCount(Node node) {
    for (int fd = 0; fd < kMaxNodeFd; ++fd)
        if (g_fdNode[fd].load(std::memory_order_relaxed)) fdNode(fd);
    std::lock_guard<std::mutex> lock(g_countMu);
    return g_openCount[static_cast<int>(node)];
}

}  // namespace vb
