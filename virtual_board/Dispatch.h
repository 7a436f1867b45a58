// Dispatch.h - what the interposed libc entry points do with a board node:
// the descriptor table decides whether a call is the board's, the node table
// names the driver that serves it.
#ifndef VYX_BOARD_DISPATCH_H
#define VYX_BOARD_DISPATCH_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "Descriptors.h"
#include "VyxBoard.h"

namespace vb {

// Opens a node as open() would: the descriptor, or -1 with errno.
int nodeOpen(Node node, int flags);
// A descriptor (any) is about to be closed.
void nodeClose(int fd);
// A descriptor was duplicated onto newFd (newFd < 0: the duplication failed).
void nodeDup(int oldFd, int newFd);
ssize_t nodeRead(Node node, int fd, void* buf, size_t n);
ssize_t nodeWrite(Node node, int fd, const void* buf, size_t n);
int nodeIoctl(Node node, int fd, unsigned long request, void* arg);
void* nodeMmap(Node node, void* addr, size_t len, int prot, int flags, int fd, uint64_t off);
// Every munmap of the process.
void nodeMunmap(void* addr, size_t len);
// A select or poll names a descriptor of `node`: the driver looks first;
// returns an errno to fail the wait with, or 0.
int nodeWait(Node node);
// The program is about to block outside the board (a semaphore, a sleep):
// the PL catches up with its registers first.
void programWaits();
// Seconds beyond which a program's deadline bounds nothing a poll could
// reach (and its nanoseconds would not fit): a caller's "forever" is often
// time_t's largest.
constexpr int64_t kFarDeadlineSeconds = INT64_MAX / 1000000000 / 4;
// A thread of the program is about to block.  While a frame falls due
// sooner than a sleeping thread is reliably woken (model/WakePolicy.h) it
// polls instead: tryOnce() until it succeeds (true), or until the board's
// window or the program's own deadline passes (deadlineNs on the board's
// clock, model/BoardClock.h, -1: none; false - the real wait follows).  A
// signal during the poll runs its handler but does not end the wait.
bool programPolls(int64_t deadlineNs, bool (*tryOnce)(void*), void* arg);
template <typename Try>
bool programPolls(int64_t deadlineNs, Try&& tryOnce) {
    using F = std::remove_reference_t<Try>;
    return programPolls(
        deadlineNs, [](void* f) { return (*static_cast<F*>(f))(); }, &tryOnce);
}
bool nodeMissing(Node node);
// Path dlopen uses for the board's plug-in path, nullptr when it is missing.
const char* pluginTarget(std::string& keep);
// errno a process service call fails with, or 0.
int serviceFault(Service service);

}  // namespace vb

#endif
