// Descriptors.cpp - the descriptor table of the board's nodes.
#include "Descriptors.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <mutex>

namespace vb {

namespace {

// node + 1, 0 for "not the board's".
std::atomic<uint8_t> g_fdNode[kMaxNodeFd];
std::atomic<int> g_fdFlags[kMaxNodeFd];
dev_t g_dev[kNodeCount];
ino_t g_ino[kNodeCount];
std::mutex g_countMu;
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

void fdSetIdentity(Node node, dev_t dev, ino_t ino) {
    g_dev[static_cast<int>(node)] = dev;
    g_ino[static_cast<int>(node)] = ino;
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
