// Board.cpp - brings the virtual board up.
//
// Every node is a real kernel object made by its driver (a memfd, a socket),
// so that mmap, select, poll, close and fork behave natively; an open
// duplicates the node's object, so every open gets a descriptor of its own.
// The board announces itself once the nodes exist.  The model is started on
// the first use of a node, when every static object of the program exists,
// and gets the hardware and the capture interrupt.
#include "Board.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "CaptureDriver.h"
#include "Descriptors.h"
#include "Launch.h"
#include "Libc.h"
#include "MemDriver.h"
#include "ModelLink.h"
#include "NodeTable.h"

namespace vb {

namespace {

int g_templ[kNodeCount];
std::once_flag g_nodesOnce;
std::once_flag g_modelOnce;
std::atomic<bool> g_nodesUp{false};

[[noreturn]] void die(const char* what) {
    std::string msg =
        std::string("vyxboard: cannot build the virtual board: ") + what + " (" + strerror(errno) + ")\n";
    sysSay(msg.c_str());
    _exit(127);
}

void buildNodes() {
    std::string banner = "vyxboard: virtual board active: ";
    for (int n = 0; n < kNodeCount; ++n) {
        const NodeOps* ops = nodeOps(static_cast<Node>(n));
        if (!ops || static_cast<int>(ops->node) != n) die("the node table is out of order");
        const int fd = ops->create();
        struct stat64 st;
        if (fd < 0 || fstat64(fd, &st) != 0) die(ops->path);
        g_templ[n] = fd;
        fdSetIdentity(ops->node, st.st_dev, st.st_ino);
        if (n > 0) banner += n + 1 == kNodeCount ? " and " : ", ";
        banner += ops->path;
    }
    g_nodesUp.store(true, std::memory_order_release);
    banner += " are emulated\n";
    announceBoard(banner.c_str());
}

bool raiseCapture(int set) { return capture::raise(set); }

}  // namespace

void ensureBoard() {
    std::call_once(g_nodesOnce, buildNodes);
    if (link::running()) return;
    std::call_once(g_modelOnce, [] {
        link::start(mem::hardware(), BoardPort{raiseCapture});
        startLaunchWatcher();
    });
}

int nodeTemplate(Node node) {
    int n = static_cast<int>(node);
    return n >= 0 && n < kNodeCount && g_nodesUp.load(std::memory_order_acquire) ? g_templ[n] : -1;
}

}  // namespace vb

// The board's kernel objects are made when it is loaded, so the first
// intercepted call does not pay for them.
__attribute__((constructor)) static void vyxboardLoaded() { std::call_once(vb::g_nodesOnce, vb::buildNodes); }
