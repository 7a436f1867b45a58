// BoardCore.h - internals of the virtual board shared by its units: the real
// libc entry points, the board state (kernel objects behind the nodes, logs,
// faults) and the path rules.
#ifndef VYX_BOARD_CORE_H
#define VYX_BOARD_CORE_H

#include <sys/types.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <string>

#include "VyxBoard.h"

namespace vb {

// ---- the real libc functions, looked up once with dlsym(RTLD_NEXT) ----
void* realSymbol(const char* name);
template <typename F>
F realFn(const char* name) { return reinterpret_cast<F>(realSymbol(name)); }
// Looked up on first use and kept in a function-local static.
#define VB_REAL(type, name) \
    static const auto real_##name = ::vb::realFn<type>(#name)

// Plain system-call wrappers the board uses on its own objects; they never
// come back into the interposed functions.
int sysClose(int fd);
ssize_t sysRead(int fd, void* buf, size_t n);
ssize_t sysWrite(int fd, const void* buf, size_t n);
void* sysMmap(void* addr, size_t len, int prot, int flags, int fd, off_t off);
int sysMunmap(void* addr, size_t len);
int sysDupFd(int fd, bool cloexec);

// ---- descriptors ----
constexpr int kMaxNodeFd = 65536;
// Node of a descriptor; Node::Count when it is not a board descriptor.
Node fdNode(int fd);

// ---- board operations used by the interposers ----
// Bring the board up (kernel objects, message, model).  Cheap after the first call.
void ensureBoard();
// Open a node as open() would; returns the descriptor or -1 with errno.
int nodeOpen(Node node, int flags);
// Forget a node descriptor that is about to be closed.
void nodeClose(int fd);
// A descriptor was duplicated onto newFd.
void nodeDup(int oldFd, int newFd);
void* nodeMmap(Node node, void* addr, size_t len, int prot, int flags, int fd, uint64_t off);
// Called for every munmap: forgets board mappings in the range.
void nodeMunmap(void* addr, size_t len);
ssize_t nodeRead(Node node, int fd, void* buf, size_t n);
ssize_t nodeWrite(Node node, int fd, const void* buf, size_t n);
int nodeIoctl(Node node, int fd, unsigned long request, void* arg);
// A wait (select/poll) names this node: returns an errno to fail with, or 0.
int nodeSelectFault(Node node);
bool nodeMissing(Node node);
// errno a process service call fails with, or 0.
int serviceFault(Service service);
// Path dlopen uses for the board's plug-in path, or nullptr when it is missing.
const char* pluginTarget(std::string& keep);

// ---- paths ----
// How the board treats a path argument.
struct PathVerdict {
    enum Kind { Pass, Node, Sandbox } kind = Pass;
    vb::Node node = vb::Node::Count;
    std::string hostPath;   // Sandbox: the rewritten path
};
// dirfd is AT_FDCWD or a directory descriptor for the *at() calls.  With
// followLast false a link in the last component is the object itself (lstat,
// unlink, rename, O_NOFOLLOW), as the kernel treats it.
PathVerdict classifyPath(int dirfd, const char* path, bool followLast = true);
// Sandbox rewrite only (for calls that do not reach device nodes).
bool sandboxRewrite(int dirfd, const char* path, std::string& hostPath);
// Fake free space: true and the byte count when faked.
bool fakeFreeSpace(uint64_t& bytes);
// Starts the launcher's watcher when the program runs under vyxsim.
void startLaunchWatcher();
// Host path of the plug-in that stands in for /usr/lib/libvyxSensorQ210B.so.
const char* pluginPath();

}  // namespace vb

#endif
