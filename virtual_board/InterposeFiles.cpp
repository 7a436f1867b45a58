// InterposeFiles.cpp - the libc entry points of descriptors that may be the
// board's: open and its variants, fopen, close, dup, fcntl, read, write,
// ioctl, mmap, munmap, select and poll.
//
// The board is loaded ahead of libc (linked into test executables with
// --no-as-needed, or preloaded by vyxsim), so the program's and the SDK's
// calls of these names land here.  Each shim asks the descriptor table or
// the path rules whether the call is the board's and hands it to the
// dispatch layer; everything else goes straight to libc.  These units are
// compiled without _FILE_OFFSET_BITS, _TIME_BITS and _FORTIFY_SOURCE, so
// every raw glibc name (open and open64, mmap and mmap64, and on 32-bit ARM
// the *_time64 names) can be defined side by side.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <linux/openat2.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "BoardClock.h"
#include "Dispatch.h"
#include "Libc.h"
#include "Paths.h"

using vb::Node;
using vb::PathVerdict;

namespace {

bool takesMode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

// The fast path of an ordinary absolute path: the kernel opens it without
// following any symbolic link, so what it opens is what the path spells,
// which is none of the board's (a device node of the board's that root
// copied with mknod under another name outside /dev is not recognised on
// this way).  Returns the descriptor, kFastRefused with
// errno for the kernel's own refusal, or kFastNo: take the full way.
constexpr int kFastNo = -2;
constexpr int kFastRefused = -1;
std::atomic<bool> g_noOpenat2{false};

int fastOpen(const char* path, int flags, mode_t mode) {
    if (g_noOpenat2.load(std::memory_order_relaxed) || !vb::textuallyPlain(path)) return kFastNo;
    struct open_how how {};
    how.flags = static_cast<uint64_t>(static_cast<unsigned>(flags));
    how.mode = takesMode(flags) ? mode : 0;
    how.resolve = RESOLVE_NO_SYMLINKS;
    const int saved = errno;
    long fd = syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how);
    if (fd < 0) {
        if (errno == ENOSYS || errno == EPERM)
            g_noOpenat2.store(true);  // no openat2 here (an emulator, a filter)
        if (errno == ELOOP || errno == EINVAL || errno == E2BIG || errno == ENOSYS || errno == EPERM ||
            errno == EAGAIN) {
            errno = saved;
            return kFastNo;
        }
        return kFastRefused;
    }
    return static_cast<int>(fd);
}

using OpenFn = int (*)(const char*, int, ...);
using OpenatFn = int (*)(int, const char*, int, ...);

// Common body of every open variant.  `real` is the variant's own libc entry.
int openCommon(int dirfd, const char* path, int flags, mode_t mode, OpenatFn realAt, OpenFn real) {
    const bool follow = (flags & O_NOFOLLOW) == 0;
    int fast = fastOpen(path, flags, mode);
    if (fast >= 0 || fast == kFastRefused) return fast >= 0 ? fast : -1;
    if (vb::plainObject(dirfd, path, follow))
        return realAt ? realAt(dirfd, path, flags, mode) : real(path, flags, mode);
    PathVerdict v = vb::classifyPath(dirfd, path, follow);
    if (v.kind == PathVerdict::Refused) return errno = v.error, -1;
    if (v.kind == PathVerdict::Node) return vb::nodeOpen(v.node, flags);
    if (v.kind == PathVerdict::Sandbox) {
        if (realAt) return realAt(AT_FDCWD, v.hostPath.c_str(), flags, mode);
        return real(v.hostPath.c_str(), flags, mode);
    }
    if (realAt) return realAt(dirfd, path, flags, mode);
    return real(path, flags, mode);
}

int fopenFlags(const char* mode) {
    int flags = 0;
    bool plus = strchr(mode, '+') != nullptr;
    switch (mode[0]) {
    case 'r': flags = plus ? O_RDWR : O_RDONLY; break;
    case 'w': flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
    case 'a': flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
    default: flags = O_RDONLY;
    }
    if (strchr(mode, 'e')) flags |= O_CLOEXEC;
    return flags;
}

using FopenFn = FILE* (*)(const char*, const char*);
FILE* fopenCommon(const char* path, const char* mode, FopenFn real) {
    if (vb::plainObject(AT_FDCWD, path, true)) return real(path, mode);
    PathVerdict v = vb::classifyPath(AT_FDCWD, path);
    if (v.kind == PathVerdict::Refused) return errno = v.error, nullptr;
    if (v.kind == PathVerdict::Node) {
        int fd = vb::nodeOpen(v.node, fopenFlags(mode ? mode : "r"));
        if (fd < 0) return nullptr;
        FILE* f = fdopen(fd, mode);
        if (!f) {
            int e = errno;
            vb::nodeClose(fd);
            vb::sysClose(fd);
            errno = e;
        }
        return f;
    }
    if (v.kind == PathVerdict::Sandbox) return real(v.hostPath.c_str(), mode);
    return real(path, mode);
}

bool waitNamesFaultyNode(int nfds, fd_set* r, fd_set* w, fd_set* e, int& err) {
    for (int fd = 0; fd < nfds && fd < FD_SETSIZE; ++fd) {
        bool in = (r && FD_ISSET(fd, r)) || (w && FD_ISSET(fd, w)) || (e && FD_ISSET(fd, e));
        if (!in) continue;
        Node n = vb::fdNode(fd);
        if (n == Node::Count) continue;
        if ((err = vb::nodeWait(n)) != 0) return true;
    }
    return false;
}

bool pollNamesFaultyNode(struct pollfd* fds, nfds_t n, int& err) {
    for (nfds_t i = 0; fds && i < n; ++i) {
        Node node = vb::fdNode(fds[i].fd);
        if (node == Node::Count) continue;
        if ((err = vb::nodeWait(node)) != 0) return true;
    }
    return false;
}

int ioctlCommon(int fd, unsigned long request, void* arg, const char* realName) {
    Node n = vb::fdNode(fd);
    if (n != Node::Count) return vb::nodeIoctl(n, fd, request, arg);
    using IoctlFn = int (*)(int, unsigned long, ...);
    static IoctlFn real_ioctl = vb::realFn<IoctlFn>("ioctl");
    IoctlFn fn = real_ioctl;
    if (strcmp(realName, "ioctl") != 0) {
        static IoctlFn real_time64 = vb::realFn<IoctlFn>(realName);
        if (real_time64) fn = real_time64;
    }
    return fn(fd, request, arg);
}

ssize_t noSeek() {
    errno = ESPIPE;
    return -1;
}

// readv/writev on a node: one call per segment, stopping at the first short
// or failed one; an error after some bytes moved reports the bytes.
template <typename Call>
ssize_t vectorCall(const struct iovec* iov, int count, Call call) {
    if (count < 0 || count > IOV_MAX) {
        errno = EINVAL;
        return -1;
    }
    if (count > 0 && !iov) {
        errno = EFAULT;
        return -1;
    }
    ssize_t total = 0;
    for (int i = 0; i < count; ++i) {
        ssize_t r = call(iov[i].iov_base, iov[i].iov_len);
        if (r < 0) return total > 0 ? total : -1;
        total += r;
        if (static_cast<size_t>(r) < iov[i].iov_len) break;
    }
    return total;
}

int fcntlDup(int fd, int cmd, long arg, int result) {
    if (result >= 0 && (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC)) vb::nodeDup(fd, result);
    (void)arg;
    return result;
}

}  // namespace

extern "C" {

// ================================================================ open
#define VB_OPEN_MODE(flags)                          \
    mode_t mode = 0;                                 \
    if (takesMode(flags)) {                          \
        va_list ap;                                  \
        va_start(ap, flags);                         \
        mode = static_cast<mode_t>(va_arg(ap, int)); \
        va_end(ap);                                  \
    }

int open(const char* path, int flags, ...) {
    VB_OPEN_MODE(flags);
    VB_REAL(OpenFn, open);
    return openCommon(AT_FDCWD, path, flags, mode, nullptr, real_open);
}

int open64(const char* path, int flags, ...) {
    VB_OPEN_MODE(flags);
    VB_REAL(OpenFn, open64);
    return openCommon(AT_FDCWD, path, flags, mode, nullptr, real_open64);
}

int __open_2(const char* path, int flags) {
    VB_REAL(OpenFn, open);
    return openCommon(AT_FDCWD, path, flags, 0, nullptr, real_open);
}

int __open64_2(const char* path, int flags) {
    VB_REAL(OpenFn, open64);
    return openCommon(AT_FDCWD, path, flags, 0, nullptr, real_open64);
}

int openat(int dirfd, const char* path, int flags, ...) {
    VB_OPEN_MODE(flags);
    VB_REAL(OpenatFn, openat);
    return openCommon(dirfd, path, flags, mode, real_openat, nullptr);
}

int openat64(int dirfd, const char* path, int flags, ...) {
    VB_OPEN_MODE(flags);
    VB_REAL(OpenatFn, openat64);
    return openCommon(dirfd, path, flags, mode, real_openat64, nullptr);
}

int __openat_2(int dirfd, const char* path, int flags) {
    VB_REAL(OpenatFn, openat);
    return openCommon(dirfd, path, flags, 0, real_openat, nullptr);
}

int __openat64_2(int dirfd, const char* path, int flags) {
    VB_REAL(OpenatFn, openat64);
    return openCommon(dirfd, path, flags, 0, real_openat64, nullptr);
}

int creat(const char* path, mode_t mode) {
    VB_REAL(OpenFn, open);
    return openCommon(AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, mode, nullptr, real_open);
}

int creat64(const char* path, mode_t mode) {
    VB_REAL(OpenFn, open64);
    return openCommon(AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, mode, nullptr, real_open64);
}

FILE* fopen(const char* path, const char* mode) {
    VB_REAL(FopenFn, fopen);
    return fopenCommon(path, mode, real_fopen);
}

FILE* fopen64(const char* path, const char* mode) {
    VB_REAL(FopenFn, fopen64);
    return fopenCommon(path, mode, real_fopen64);
}

using FreopenFn = FILE* (*)(const char*, const char*, FILE*);
FILE* freopenCommon(const char* path, const char* mode, FILE* stream, FreopenFn real) {
    if (!path) return real(path, mode, stream);
    PathVerdict v = vb::classifyPath(AT_FDCWD, path);
    if (v.kind == PathVerdict::Refused) return errno = v.error, nullptr;
    if (v.kind == PathVerdict::Node) {
        // Reopening a stream onto a board node is not supported.
        errno = EACCES;
        return nullptr;
    }
    return real(v.kind == PathVerdict::Sandbox ? v.hostPath.c_str() : path, mode, stream);
}

FILE* freopen(const char* path, const char* mode, FILE* stream) {
    VB_REAL(FreopenFn, freopen);
    return freopenCommon(path, mode, stream, real_freopen);
}

FILE* freopen64(const char* path, const char* mode, FILE* stream) {
    VB_REAL(FreopenFn, freopen64);
    return freopenCommon(path, mode, stream, real_freopen64);
}

// ================================================================ descriptors
// The board's own descriptors sit at high numbers: a close of one of them
// (a daemon closing every descriptor) leaves it to the board, and a dup2
// onto one moves the board's object out of the way first.
int close(int fd) {
    if (vb::ownHolds(fd)) return 0;
    VB_REAL(int (*)(int), close);
    vb::nodeClose(fd);
    return real_close(fd);
}

int close_range(unsigned first, unsigned last, int flags) noexcept {
    VB_REAL(int (*)(unsigned, unsigned, int), close_range);
    if (!real_close_range) {
        errno = ENOSYS;
        return -1;
    }
    int own[16];
    int n = vb::ownWithin(first, last, own, 16);
    for (int i = 0; i <= n; ++i) {
        unsigned hi = i < n ? static_cast<unsigned>(own[i]) - 1 : last;
        if (i < n && static_cast<unsigned>(own[i]) == first) {
            first = static_cast<unsigned>(own[i]) + 1;
            continue;
        }
        if (first <= hi && real_close_range(first, hi, flags) != 0) return -1;
        if (i < n) first = static_cast<unsigned>(own[i]) + 1;
    }
    return 0;
}

void closefrom(int lowest) noexcept {
    if (lowest < 0) lowest = 0;
    if (close_range(static_cast<unsigned>(lowest), ~0u, 0) == 0) return;
    // No close_range in this kernel: one by one, as libc itself falls back.
    for (int fd = lowest, top = static_cast<int>(sysconf(_SC_OPEN_MAX)); fd < top; ++fd) close(fd);
}

int dup(int fd) noexcept {
    VB_REAL(int (*)(int), dup);
    int r = real_dup(fd);
    vb::nodeDup(fd, r);
    return r;
}

int dup2(int fd, int fd2) noexcept {
    VB_REAL(int (*)(int, int), dup2);
    if (fd != fd2 && vb::ownHolds(fd2) && !vb::ownMoveAway(fd2)) return -1;
    if (fd != fd2) vb::nodeClose(fd2);
    int r = real_dup2(fd, fd2);
    if (fd != fd2) vb::nodeDup(fd, r);
    return r;
}

int dup3(int fd, int fd2, int flags) noexcept {
    VB_REAL(int (*)(int, int, int), dup3);
    if (fd != fd2 && vb::ownHolds(fd2) && !vb::ownMoveAway(fd2)) return -1;
    if (fd != fd2) vb::nodeClose(fd2);
    int r = real_dup3(fd, fd2, flags);
    vb::nodeDup(fd, r);
    return r;
}

int fcntl(int fd, int cmd, ...) {
    va_list ap;
    va_start(ap, cmd);
    long arg = va_arg(ap, long);
    va_end(ap);
    VB_REAL(int (*)(int, int, ...), fcntl);
    return fcntlDup(fd, cmd, arg, real_fcntl(fd, cmd, arg));
}

int fcntl64(int fd, int cmd, ...) {
    va_list ap;
    va_start(ap, cmd);
    long arg = va_arg(ap, long);
    va_end(ap);
    VB_REAL(int (*)(int, int, ...), fcntl64);
    return fcntlDup(fd, cmd, arg, real_fcntl64(fd, cmd, arg));
}

#ifdef VB_ILP32
int __fcntl_time64(int fd, int cmd, ...) {
    va_list ap;
    va_start(ap, cmd);
    long arg = va_arg(ap, long);
    va_end(ap);
    VB_REAL(int (*)(int, int, ...), __fcntl_time64);
    VB_REAL(int (*)(int, int, ...), fcntl64);
    auto fn = real___fcntl_time64 ? real___fcntl_time64 : real_fcntl64;
    return fcntlDup(fd, cmd, arg, fn(fd, cmd, arg));
}
#endif

ssize_t read(int fd, void* buf, size_t n) {
    Node node = vb::fdNode(fd);
    if (node != Node::Count) return vb::nodeRead(node, fd, buf, n);
    VB_REAL(ssize_t(*)(int, void*, size_t), read);
    return real_read(fd, buf, n);
}

ssize_t __read_chk(int fd, void* buf, size_t n, size_t buflen) {
    if (n > buflen) vb::overflowDetected("read");
    return read(fd, buf, n);
}

ssize_t write(int fd, const void* buf, size_t n) {
    Node node = vb::fdNode(fd);
    if (node != Node::Count) return vb::nodeWrite(node, fd, buf, n);
    VB_REAL(ssize_t(*)(int, const void*, size_t), write);
    return real_write(fd, buf, n);
}

// The nodes are character devices without positions (as spidev is): the
// positioned calls fail with ESPIPE, and the vector calls are one read or
// write per segment, as the kernel does for a driver without vector
// operations.
ssize_t readv(int fd, const struct iovec* iov, int count) {
    Node node = vb::fdNode(fd);
    if (node != Node::Count)
        return vectorCall(iov, count, [&](void* b, size_t n) { return vb::nodeRead(node, fd, b, n); });
    VB_REAL(ssize_t(*)(int, const struct iovec*, int), readv);
    return real_readv(fd, iov, count);
}

ssize_t writev(int fd, const struct iovec* iov, int count) {
    Node node = vb::fdNode(fd);
    if (node != Node::Count)
        return vectorCall(iov, count, [&](void* b, size_t n) { return vb::nodeWrite(node, fd, b, n); });
    VB_REAL(ssize_t(*)(int, const struct iovec*, int), writev);
    return real_writev(fd, iov, count);
}

#define VB_POSITIONED(ret, name, params, ...)               \
    ret name params {                                       \
        if (vb::fdNode(fd) != Node::Count) return noSeek(); \
        VB_REAL(ret(*) params, name);                       \
        return real_##name(__VA_ARGS__);                    \
    }
VB_POSITIONED(ssize_t, pread, (int fd, void* buf, size_t n, off_t off), fd, buf, n, off)
VB_POSITIONED(ssize_t, pread64, (int fd, void* buf, size_t n, off64_t off), fd, buf, n, off)
VB_POSITIONED(ssize_t, pwrite, (int fd, const void* buf, size_t n, off_t off), fd, buf, n, off)
VB_POSITIONED(ssize_t, pwrite64, (int fd, const void* buf, size_t n, off64_t off), fd, buf, n, off)
VB_POSITIONED(ssize_t, preadv, (int fd, const struct iovec* iov, int count, off_t off), fd, iov, count, off)
VB_POSITIONED(ssize_t, preadv64, (int fd, const struct iovec* iov, int count, off64_t off), fd, iov, count,
              off)
VB_POSITIONED(ssize_t, pwritev, (int fd, const struct iovec* iov, int count, off_t off), fd, iov, count, off)
VB_POSITIONED(ssize_t, pwritev64, (int fd, const struct iovec* iov, int count, off64_t off), fd, iov, count,
              off)
VB_POSITIONED(ssize_t, preadv2, (int fd, const struct iovec* iov, int count, off_t off, int flags), fd, iov,
              count, off, flags)
VB_POSITIONED(ssize_t, pwritev2, (int fd, const struct iovec* iov, int count, off_t off, int flags), fd, iov,
              count, off, flags)
VB_POSITIONED(ssize_t, preadv64v2, (int fd, const struct iovec* iov, int count, off64_t off, int flags), fd,
              iov, count, off, flags)
VB_POSITIONED(ssize_t, pwritev64v2, (int fd, const struct iovec* iov, int count, off64_t off, int flags), fd,
              iov, count, off, flags)

ssize_t __pread_chk(int fd, void* buf, size_t n, off_t off, size_t buflen) {
    if (n > buflen) vb::overflowDetected("pread");
    return pread(fd, buf, n, off);
}

ssize_t __pread64_chk(int fd, void* buf, size_t n, off64_t off, size_t buflen) {
    if (n > buflen) vb::overflowDetected("pread64");
    return pread64(fd, buf, n, off);
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return ioctlCommon(fd, request, arg, "ioctl");
}

#ifdef VB_ILP32
int __ioctl_time64(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return ioctlCommon(fd, request, arg, "__ioctl_time64");
}
#endif

// ================================================================ memory
void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t off) noexcept {
    Node node = (flags & MAP_ANONYMOUS) ? Node::Count : vb::fdNode(fd);
    if (node != Node::Count)
        return vb::nodeMmap(node, addr, len, prot, flags, fd,
                            static_cast<uint64_t>(static_cast<std::make_unsigned<off_t>::type>(off)));
    VB_REAL(void* (*)(void*, size_t, int, int, int, off_t), mmap);
    return real_mmap(addr, len, prot, flags, fd, off);
}

#ifdef VB_ILP32
void* mmap64(void* addr, size_t len, int prot, int flags, int fd, off64_t off) noexcept {
    Node node = (flags & MAP_ANONYMOUS) ? Node::Count : vb::fdNode(fd);
    if (node != Node::Count) {
        if (off < 0) {
            errno = EINVAL;
            return MAP_FAILED;
        }
        return vb::nodeMmap(node, addr, len, prot, flags, fd, static_cast<uint64_t>(off));
    }
    VB_REAL(void* (*)(void*, size_t, int, int, int, off64_t), mmap64);
    return real_mmap64(addr, len, prot, flags, fd, off);
}
#else
void* mmap64(void* addr, size_t len, int prot, int flags, int fd, off64_t off) noexcept {
    return mmap(addr, len, prot, flags, fd, off);
}
#endif

int munmap(void* addr, size_t len) noexcept {
    vb::nodeMunmap(addr, len);
    VB_REAL(int (*)(void*, size_t), munmap);
    return real_munmap(addr, len);
}

// ================================================================ waits
// The nodes are real descriptors, so waits are native; the board only makes
// them fail on request, and a select that waits for a node to become
// readable polls first while frames come faster than a sleeping thread is
// reliably woken (Dispatch.h).
namespace {

using SelectFn = int (*)(int, fd_set*, fd_set*, fd_set*, struct timeval*);

bool readsNode(int nfds, const fd_set* r) {
    for (int fd = 0; r && fd < nfds && fd < FD_SETSIZE; ++fd)
        if (FD_ISSET(fd, r) && vb::fdNode(fd) != Node::Count) return true;
    return false;
}

// The select answered by polling: its result in `result` and the sets.
bool selectPolled(SelectFn real, int nfds, fd_set* r, fd_set* w, fd_set* e, struct timeval* tv, int& result) {
    constexpr int64_t kNsPerUs = 1000;
    if (!readsNode(nfds, r) || (tv && tv->tv_sec == 0 && tv->tv_usec == 0)) return false;
    if (tv && (tv->tv_sec < 0 || tv->tv_usec < 0 || tv->tv_usec >= 1000000)) return false;
    const int64_t start = vb::model::boardClockNs();
    const int64_t deadline =
        tv && tv->tv_sec <= vb::kFarDeadlineSeconds
            ? start + (static_cast<int64_t>(tv->tv_sec) * 1000000 + tv->tv_usec) * kNsPerUs
            : -1;
    fd_set rr, ww, ee;
    const bool polled = vb::programPolls(deadline, [&] {
        if (r) rr = *r;
        if (w) ww = *w;
        if (e) ee = *e;
        struct timeval zero {};
        result = real(nfds, r ? &rr : nullptr, w ? &ww : nullptr, e ? &ee : nullptr, &zero);
        return result != 0;
    });
    if (tv && deadline >= 0) {
        // As Linux does: the time left (an endless time-out stays as it was,
        // for the real wait that follows a poll without a frame).
        const int64_t leftUs = std::max<int64_t>(deadline - vb::model::boardClockNs(), 0) / kNsPerUs;
        tv->tv_sec = static_cast<time_t>(leftUs / 1000000);
        tv->tv_usec = static_cast<suseconds_t>(leftUs % 1000000);
    }
    if (polled && result > 0) {
        if (r) *r = rr;
        if (w) *w = ww;
        if (e) *e = ee;
    }
    return polled;
}

}  // namespace

int select(int nfds, fd_set* r, fd_set* w, fd_set* e, struct timeval* tv) {
    int err = 0;
    if (waitNamesFaultyNode(nfds, r, w, e, err)) {
        errno = err;
        return -1;
    }
    VB_REAL(SelectFn, select);
    int result = 0;
    if (selectPolled(real_select, nfds, r, w, e, tv, result)) return result;
    return real_select(nfds, r, w, e, tv);
}

#ifdef VB_ILP32
int __select64(int nfds, fd_set* r, fd_set* w, fd_set* e, void* tv64) {
    int err = 0;
    if (waitNamesFaultyNode(nfds, r, w, e, err)) {
        errno = err;
        return -1;
    }
    VB_REAL(int (*)(int, fd_set*, fd_set*, fd_set*, void*), __select64);
    return real___select64(nfds, r, w, e, tv64);
}
#endif

int poll(struct pollfd* fds, nfds_t n, int timeout) {
    int err = 0;
    if (pollNamesFaultyNode(fds, n, err)) {
        errno = err;
        return -1;
    }
    VB_REAL(int (*)(struct pollfd*, nfds_t, int), poll);
    return real_poll(fds, n, timeout);
}

int __poll_chk(struct pollfd* fds, nfds_t n, int timeout, size_t fdslen) {
    if (fdslen / sizeof(*fds) < n) vb::overflowDetected("poll");
    return poll(fds, n, timeout);
}

// libc's second names of the same entry points (a program may import these).
#define VB_SAME_AS(name) __attribute__((alias(#name)))
int __open(const char* path, int flags, ...) __attribute__((nonnull(1))) VB_SAME_AS(open);
int __open64(const char* path, int flags, ...) __attribute__((nonnull(1))) VB_SAME_AS(open64);
int __close(int fd) VB_SAME_AS(close);
int __dup2(int fd, int fd2) noexcept VB_SAME_AS(dup2);
int __fcntl(int fd, int cmd, ...) VB_SAME_AS(fcntl);
ssize_t __read(int fd, void* buf, size_t n) VB_SAME_AS(read);
ssize_t __write(int fd, const void* buf, size_t n) VB_SAME_AS(write);
ssize_t __pread64(int fd, void* buf, size_t n, off64_t off) VB_SAME_AS(pread64);
ssize_t __pwrite64(int fd, const void* buf, size_t n, off64_t off) VB_SAME_AS(pwrite64);
int __poll(struct pollfd* fds, nfds_t n, int timeout) VB_SAME_AS(poll);
int __select(int nfds, fd_set* r, fd_set* w, fd_set* e, struct timeval* tv) VB_SAME_AS(select);

}  // extern "C"
