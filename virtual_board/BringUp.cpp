// BringUp.cpp - brings the virtual board up, on the first access to it.
//
// Every node is a real kernel object made by its driver (a memfd, a socket),
// so that mmap, select, poll, close and fork behave natively; an open
// duplicates the node's object, so every open gets a descriptor of its own.
// A process that never touches a board path pays nothing: loading the board
// only announces it (the launcher's handshake); the nodes, the memories and
// the model are built on the first access, under a lock, and a bring-up that
// fails (too few descriptors, too little address space) fails that access
// with errno and one message, not the process.  The model is started after
// the nodes, when every static object of the program exists, and gets the
// hardware and the capture interrupt.
#include "BringUp.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "CaptureDriver.h"
#include "Descriptors.h"
#include "GpioDriver.h"
#include "Launch.h"
#include "Libc.h"
#include "MemDriver.h"
#include "ModelLink.h"
#include "NodeTable.h"

namespace vb {

namespace {

int g_slot[kNodeCount];
std::mutex g_buildMu;
std::once_flag g_modelOnce;
std::atomic<bool> g_nodesUp{false};
std::atomic<bool> g_toldFailure{false};

void tellFailure(const char* what, int error) {
    if (g_toldFailure.exchange(true)) return;
    std::string msg =
        std::string("vyxboard: cannot build the virtual board: ") + what + " (" + strerror(error) + ")\n";
    sysSay(msg.c_str());
}

// Makes every node's kernel object; on failure nothing stays behind.
bool buildNodes() {
    int n = 0;
    for (; n < kNodeCount; ++n) {
        const NodeOps* ops = nodeOps(static_cast<Node>(n));
        if (!ops || static_cast<int>(ops->node) != n) {
            errno = EINVAL;
            tellFailure("the node table is out of order", errno);
            break;
        }
        const int fd = ops->create();
        g_slot[n] = fd < 0 ? -1 : ownTake(fd);
        if (g_slot[n] < 0) {
            tellFailure(ops->path, errno);
            break;
        }
        fdSetTemplate(ops->node, g_slot[n]);
    }
    if (n == kNodeCount) return true;
    int e = errno;
    while (--n >= 0) ownRelease(g_slot[n]);
    errno = e;
    return false;
}

bool raiseCapture(int set) { return capture::raise(set); }

}  // namespace

std::string boardBanner() {
    std::string banner = "vyxboard: virtual board active: ";
    for (int n = 0; n < kNodeCount; ++n) {
        if (n > 0) banner += n + 1 == kNodeCount ? " and " : ", ";
        banner += nodeOps(static_cast<Node>(n))->path;
    }
    return banner + " are emulated\n";
}

bool ensureBoard() {
    if (!g_nodesUp.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(g_buildMu);
        if (!g_nodesUp.load(std::memory_order_relaxed)) {
            if (!buildNodes()) return false;
            g_nodesUp.store(true, std::memory_order_release);
        }
    }
    if (link::running()) return true;
    std::call_once(g_modelOnce, [] {
        link::start(mem::hardware(), BoardPort{raiseCapture, gpio::setInput});
        startLaunchWatcher();
    });
    return true;
}

int nodeTemplate(Node node) {
    if (!g_nodesUp.load(std::memory_order_acquire)) {
        errno = ENODEV;
        return -1;
    }
    return fdTemplate(node);
}

}  // namespace vb

// Loading the board only announces it; nothing is built until it is used.
__attribute__((constructor)) static void vyxboardLoaded() { vb::announceBoard(vb::boardBanner().c_str()); }
