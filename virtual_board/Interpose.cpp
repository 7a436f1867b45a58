// Interpose.cpp - the libc entry points the virtual board takes over.
//
// The board is loaded ahead of libc (linked into test executables with
// --no-as-needed, or preloaded by vyxsim), so the program's and the SDK's
// calls of these names land here.  Each entry point decides whether its
// descriptor or path belongs to the board; everything else goes straight to
// the next definition (libc), found with dlsym(RTLD_NEXT).
//
// This unit is compiled without _FILE_OFFSET_BITS, _TIME_BITS and
// _FORTIFY_SOURCE, so every raw glibc name (open and open64, mmap and mmap64,
// stat and stat64, and on 32-bit ARM the *_time64 names) can be defined side
// by side.  libc's own internal calls (fopen -> open, lstat -> fstatat) do not
// pass through the exported names, which is why the high-level path calls are
// wrapped too.
#include "BoardCore.h"

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
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#if defined(__arm__) || defined(__i386__)
#define VB_ILP32 1
#endif

namespace vb {

void* realSymbol(const char* name) {
    void* p = dlsym(RTLD_NEXT, name);
    if (!p) {
        // A name this libc does not have: the caller checks for null.
        return nullptr;
    }
    return p;
}

int sysClose(int fd) {
    VB_REAL(int (*)(int), close);
    return real_close(fd);
}
ssize_t sysRead(int fd, void* buf, size_t n) {
    VB_REAL(ssize_t (*)(int, void*, size_t), read);
    return real_read(fd, buf, n);
}
ssize_t sysWrite(int fd, const void* buf, size_t n) {
    VB_REAL(ssize_t (*)(int, const void*, size_t), write);
    return real_write(fd, buf, n);
}
void* sysMmap(void* addr, size_t len, int prot, int flags, int fd, off_t off) {
    VB_REAL(void* (*)(void*, size_t, int, int, int, off_t), mmap);
    return real_mmap(addr, len, prot, flags, fd, off);
}
int sysMunmap(void* addr, size_t len) {
    VB_REAL(int (*)(void*, size_t), munmap);
    return real_munmap(addr, len);
}
int sysDupFd(int fd, bool cloexec) {
    VB_REAL(int (*)(int, int, ...), fcntl);
    return real_fcntl(fd, cloexec ? F_DUPFD_CLOEXEC : F_DUPFD, 0);
}

}  // namespace vb

using vb::Node;
using vb::PathVerdict;

namespace {

bool takesMode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

using OpenFn = int (*)(const char*, int, ...);
using OpenatFn = int (*)(int, const char*, int, ...);

// Common body of every open variant.  `real` is the variant's own libc entry.
int openCommon(int dirfd, const char* path, int flags, mode_t mode, OpenatFn realAt, OpenFn real) {
    PathVerdict v = vb::classifyPath(dirfd, path, (flags & O_NOFOLLOW) == 0);
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
    PathVerdict v = vb::classifyPath(AT_FDCWD, path);
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

// stat-like calls on a board node describe a harmless character device of
// the host (/dev/null) so that callers see "a device is there".
constexpr const char kStandInNode[] = "/dev/null";

// Path argument for a stat/access-like call: the rewritten path, the stand-in
// of a present node, or nullptr with errno for a missing node.
const char* statPath(int dirfd, const char* path, std::string& keep, int& outDirfd,
                     bool followLast = true) {
    PathVerdict v = vb::classifyPath(dirfd, path, followLast);
    outDirfd = dirfd;
    if (v.kind == PathVerdict::Node) {
        if (vb::nodeMissing(v.node)) {
            errno = ENOENT;
            return nullptr;
        }
        outDirfd = AT_FDCWD;
        return kStandInNode;
    }
    if (v.kind == PathVerdict::Sandbox) {
        keep = v.hostPath;
        outDirfd = AT_FDCWD;
        return keep.c_str();
    }
    return path;
}

// Path argument for a call that would change a node (unlink, rename, mkdir):
// the board's nodes cannot be changed.
const char* changePath(int dirfd, const char* path, std::string& keep, int& outDirfd) {
    PathVerdict v = vb::classifyPath(dirfd, path, false);
    outDirfd = dirfd;
    if (v.kind == PathVerdict::Node) {
        errno = vb::nodeMissing(v.node) ? ENOENT : EACCES;
        return nullptr;
    }
    if (v.kind == PathVerdict::Sandbox) {
        keep = v.hostPath;
        outDirfd = AT_FDCWD;
        return keep.c_str();
    }
    return path;
}

// Free space faked for sandbox paths.
template <typename S>
void fakeStatfs(S* st) {
    uint64_t bytes;
    if (!vb::fakeFreeSpace(bytes) || !st) return;
    uint64_t bsize = st->f_bsize ? static_cast<uint64_t>(st->f_bsize) : 4096;
    uint64_t blocks = bytes / bsize;
    using Count = decltype(st->f_bfree);
    constexpr uint64_t kMax = static_cast<uint64_t>(static_cast<Count>(~static_cast<Count>(0)));
    if (blocks > kMax) blocks = kMax;
    st->f_bfree = static_cast<Count>(blocks);
    st->f_bavail = static_cast<Count>(blocks);
    if (st->f_blocks < st->f_bfree) st->f_blocks = st->f_bfree;
}

bool waitNamesFaultyNode(int nfds, fd_set* r, fd_set* w, fd_set* e, int& err) {
    for (int fd = 0; fd < nfds && fd < FD_SETSIZE; ++fd) {
        bool in = (r && FD_ISSET(fd, r)) || (w && FD_ISSET(fd, w)) || (e && FD_ISSET(fd, e));
        if (!in) continue;
        Node n = vb::fdNode(fd);
        if (n == Node::Count) continue;
        if ((err = vb::nodeSelectFault(n)) != 0) return true;
    }
    return false;
}

bool pollNamesFaultyNode(struct pollfd* fds, nfds_t n, int& err) {
    for (nfds_t i = 0; fds && i < n; ++i) {
        Node node = vb::fdNode(fds[i].fd);
        if (node == Node::Count) continue;
        if ((err = vb::nodeSelectFault(node)) != 0) return true;
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

// mkstemp-like calls: the template is rewritten into the sandbox and the
// generated name copied back into the caller's template.
template <typename F>
int mkstempCommon(char* templ, F call) {
    std::string host;
    if (!templ || !vb::sandboxRewrite(AT_FDCWD, templ, host)) return call(templ);
    size_t len = strlen(templ);
    if (host.size() < len) return call(templ);
    std::vector<char> buf(host.begin(), host.end());
    buf.push_back(0);
    int fd = call(buf.data());
    if (fd >= 0) {
        // The generated characters sit at the same distance from the end in
        // both names (after any suffix of mkstemps).
        size_t rootLen = vb::sandboxRoot().size();
        if (host.size() == rootLen + len)
            memcpy(templ, buf.data() + rootLen, len);
        else
            memcpy(templ + len - 6, buf.data() + host.size() - 6, 6);
    }
    return fd;
}

int fcntlDup(int fd, int cmd, long arg, int result) {
    if (result >= 0 && (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC)) vb::nodeDup(fd, result);
    (void)arg;
    return result;
}

}  // namespace

extern "C" {

// ================================================================ open
#define VB_OPEN_MODE(flags)              \
    mode_t mode = 0;                     \
    if (takesMode(flags)) {              \
        va_list ap;                      \
        va_start(ap, flags);             \
        mode = static_cast<mode_t>(va_arg(ap, int)); \
        va_end(ap);                      \
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

FILE* freopen(const char* path, const char* mode, FILE* stream) {
    using Fn = FILE* (*)(const char*, const char*, FILE*);
    VB_REAL(Fn, freopen);
    if (!path) return real_freopen(path, mode, stream);
    PathVerdict v = vb::classifyPath(AT_FDCWD, path);
    if (v.kind == PathVerdict::Node) {
        // Reopening a stream onto a board node is not supported.
        errno = EACCES;
        return nullptr;
    }
    return real_freopen(v.kind == PathVerdict::Sandbox ? v.hostPath.c_str() : path, mode, stream);
}

// ================================================================ descriptors
int close(int fd) {
    VB_REAL(int (*)(int), close);
    vb::nodeClose(fd);
    return real_close(fd);
}

int dup(int fd) noexcept {
    VB_REAL(int (*)(int), dup);
    int r = real_dup(fd);
    vb::nodeDup(fd, r);
    return r;
}

int dup2(int fd, int fd2) noexcept {
    VB_REAL(int (*)(int, int), dup2);
    if (fd != fd2) vb::nodeClose(fd2);
    int r = real_dup2(fd, fd2);
    if (fd != fd2) vb::nodeDup(fd, r);
    return r;
}

int dup3(int fd, int fd2, int flags) noexcept {
    VB_REAL(int (*)(int, int, int), dup3);
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

#ifdef VB_ILP32
int fcntl64(int fd, int cmd, ...) {
    va_list ap;
    va_start(ap, cmd);
    long arg = va_arg(ap, long);
    va_end(ap);
    VB_REAL(int (*)(int, int, ...), fcntl64);
    return fcntlDup(fd, cmd, arg, real_fcntl64(fd, cmd, arg));
}

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
    VB_REAL(ssize_t (*)(int, void*, size_t), read);
    return real_read(fd, buf, n);
}

ssize_t __read_chk(int fd, void* buf, size_t n, size_t buflen) {
    if (n > buflen) {
        static const char kMsg[] = "*** buffer overflow detected ***: read\n";
        vb::sysWrite(2, kMsg, sizeof kMsg - 1);
        abort();
    }
    return read(fd, buf, n);
}

ssize_t write(int fd, const void* buf, size_t n) {
    Node node = vb::fdNode(fd);
    if (node != Node::Count) return vb::nodeWrite(node, fd, buf, n);
    VB_REAL(ssize_t (*)(int, const void*, size_t), write);
    return real_write(fd, buf, n);
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
// them fail on request.
int select(int nfds, fd_set* r, fd_set* w, fd_set* e, struct timeval* tv) {
    int err = 0;
    if (waitNamesFaultyNode(nfds, r, w, e, err)) {
        errno = err;
        return -1;
    }
    VB_REAL(int (*)(int, fd_set*, fd_set*, fd_set*, struct timeval*), select);
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
    if (fdslen / sizeof(*fds) < n) {
        static const char kMsg[] = "*** buffer overflow detected ***: poll\n";
        vb::sysWrite(2, kMsg, sizeof kMsg - 1);
        abort();
    }
    return poll(fds, n, timeout);
}

// ================================================================ loading
void* dlopen(const char* file, int mode) noexcept {
    VB_REAL(void* (*)(const char*, int), dlopen);
    // The plug-in must bind to the library already in the process.
    mode &= ~RTLD_DEEPBIND;
    std::string keep;
    if (file && strcmp(file, "/usr/lib/libvyxSensorQ210B.so") == 0) {
        file = vb::pluginTarget(keep);
        // A missing plug-in: let the loader itself report a file that is not there.
        if (!file) file = "/nonexistent/vyxboard/libvyxSensorQ210B.so";
    }
    return real_dlopen(file, mode);
}

// ================================================================ services
// Thread and semaphore creation fail on request, so the SDK's handling of
// those failures can be exercised.
int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                   void* arg) noexcept {
    if (int e = vb::serviceFault(vb::Service::ThreadCreate)) return e;
    VB_REAL(int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*), pthread_create);
    return real_pthread_create(thread, attr, start, arg);
}

int sem_init(sem_t* sem, int pshared, unsigned value) noexcept {
    if (int e = vb::serviceFault(vb::Service::SemInit)) {
        errno = e;
        return -1;
    }
    VB_REAL(int (*)(sem_t*, int, unsigned), sem_init);
    return real_sem_init(sem, pshared, value);
}

sem_t* sem_open(const char* name, int oflag, ...) noexcept {
    mode_t mode = 0;
    unsigned value = 0;
    if (oflag & O_CREAT) {
        va_list ap;
        va_start(ap, oflag);
        mode = static_cast<mode_t>(va_arg(ap, int));
        value = va_arg(ap, unsigned);
        va_end(ap);
    }
    if (int e = vb::serviceFault(vb::Service::SemOpen)) {
        errno = e;
        return SEM_FAILED;
    }
    VB_REAL(sem_t* (*)(const char*, int, ...), sem_open);
    return real_sem_open(name, oflag, mode, value);
}

// ================================================================ path calls
#define VB_STAT_BODY_F(follow, type, name, dirfd, path, ...)        \
    std::string keep;                                               \
    int useDir;                                                     \
    const char* p = statPath(dirfd, path, keep, useDir, follow);    \
    if (!p) return -1;                                              \
    (void)useDir;                                                   \
    VB_REAL(type, name);                                            \
    return real_##name(__VA_ARGS__);
#define VB_STAT_BODY(...) VB_STAT_BODY_F(true, __VA_ARGS__)
#define VB_LSTAT_BODY(...) VB_STAT_BODY_F(false, __VA_ARGS__)

int stat(const char* path, struct stat* st) noexcept {
    VB_STAT_BODY(int (*)(const char*, struct stat*), stat, AT_FDCWD, path, p, st)
}
int lstat(const char* path, struct stat* st) noexcept {
    VB_LSTAT_BODY(int (*)(const char*, struct stat*), lstat, AT_FDCWD, path, p, st)
}
int stat64(const char* path, struct stat64* st) noexcept {
    VB_STAT_BODY(int (*)(const char*, struct stat64*), stat64, AT_FDCWD, path, p, st)
}
int lstat64(const char* path, struct stat64* st) noexcept {
    VB_LSTAT_BODY(int (*)(const char*, struct stat64*), lstat64, AT_FDCWD, path, p, st)
}
int fstatat(int dirfd, const char* path, struct stat* st, int flags) noexcept {
    VB_STAT_BODY_F((flags & AT_SYMLINK_NOFOLLOW) == 0, int (*)(int, const char*, struct stat*, int), fstatat, dirfd, path, useDir, p, st,
                 flags)
}
int fstatat64(int dirfd, const char* path, struct stat64* st, int flags) noexcept {
    VB_STAT_BODY_F((flags & AT_SYMLINK_NOFOLLOW) == 0, int (*)(int, const char*, struct stat64*, int), fstatat64, dirfd, path, useDir, p,
                 st, flags)
}
int __xstat(int ver, const char* path, struct stat* st) noexcept {
    VB_STAT_BODY(int (*)(int, const char*, struct stat*), __xstat, AT_FDCWD, path, ver, p, st)
}
int __lxstat(int ver, const char* path, struct stat* st) noexcept {
    VB_LSTAT_BODY(int (*)(int, const char*, struct stat*), __lxstat, AT_FDCWD, path, ver, p, st)
}
int __xstat64(int ver, const char* path, struct stat64* st) noexcept {
    VB_STAT_BODY(int (*)(int, const char*, struct stat64*), __xstat64, AT_FDCWD, path, ver, p, st)
}
int __lxstat64(int ver, const char* path, struct stat64* st) noexcept {
    VB_LSTAT_BODY(int (*)(int, const char*, struct stat64*), __lxstat64, AT_FDCWD, path, ver, p, st)
}
#ifdef VB_ILP32
int __stat64_time64(const char* path, void* st) {
    VB_STAT_BODY(int (*)(const char*, void*), __stat64_time64, AT_FDCWD, path, p, st)
}
int __lstat64_time64(const char* path, void* st) {
    VB_LSTAT_BODY(int (*)(const char*, void*), __lstat64_time64, AT_FDCWD, path, p, st)
}
int __fstatat64_time64(int dirfd, const char* path, void* st, int flags) {
    VB_STAT_BODY_F((flags & AT_SYMLINK_NOFOLLOW) == 0, int (*)(int, const char*, void*, int), __fstatat64_time64, dirfd, path, useDir, p,
                 st, flags)
}
#endif

int access(const char* path, int how) noexcept {
    VB_STAT_BODY(int (*)(const char*, int), access, AT_FDCWD, path, p, how)
}
int faccessat(int dirfd, const char* path, int how, int flags) noexcept {
    VB_STAT_BODY_F((flags & AT_SYMLINK_NOFOLLOW) == 0, int (*)(int, const char*, int, int), faccessat, dirfd, path, useDir, p, how, flags)
}

#define VB_STATFS_BODY(type, name, S)                                  \
    PathVerdict v = vb::classifyPath(AT_FDCWD, path);                  \
    if (v.kind == PathVerdict::Node) {                                 \
        if (vb::nodeMissing(v.node)) {                                 \
            errno = ENOENT;                                            \
            return -1;                                                 \
        }                                                              \
        VB_REAL(type, name);                                           \
        return real_##name(kStandInNode, st);                          \
    }                                                                  \
    VB_REAL(type, name);                                               \
    if (v.kind != PathVerdict::Sandbox) return real_##name(path, st);  \
    int r = real_##name(v.hostPath.c_str(), st);                       \
    if (r == 0) fakeStatfs<S>(st);                                     \
    return r;

int statfs(const char* path, struct statfs* st) noexcept {
    VB_STATFS_BODY(int (*)(const char*, struct statfs*), statfs, struct statfs)
}
int statfs64(const char* path, struct statfs64* st) noexcept {
    VB_STATFS_BODY(int (*)(const char*, struct statfs64*), statfs64, struct statfs64)
}
int statvfs(const char* path, struct statvfs* st) noexcept {
    VB_STATFS_BODY(int (*)(const char*, struct statvfs*), statvfs, struct statvfs)
}
int statvfs64(const char* path, struct statvfs64* st) noexcept {
    VB_STATFS_BODY(int (*)(const char*, struct statvfs64*), statvfs64, struct statvfs64)
}

#define VB_CHANGE_BODY(type, name, dirfd, path, ...)                \
    std::string keep;                                               \
    int useDir;                                                     \
    const char* p = changePath(dirfd, path, keep, useDir);          \
    if (!p) return -1;                                              \
    (void)useDir;                                                   \
    VB_REAL(type, name);                                            \
    return real_##name(__VA_ARGS__);

int mkdir(const char* path, mode_t mode) noexcept {
    VB_CHANGE_BODY(int (*)(const char*, mode_t), mkdir, AT_FDCWD, path, p, mode)
}
int rmdir(const char* path) noexcept {
    VB_CHANGE_BODY(int (*)(const char*), rmdir, AT_FDCWD, path, p)
}
int unlink(const char* path) noexcept {
    VB_CHANGE_BODY(int (*)(const char*), unlink, AT_FDCWD, path, p)
}
int unlinkat(int dirfd, const char* path, int flags) noexcept {
    VB_CHANGE_BODY(int (*)(int, const char*, int), unlinkat, dirfd, path, useDir, p, flags)
}

int remove(const char* path) noexcept {
    VB_CHANGE_BODY(int (*)(const char*), remove, AT_FDCWD, path, p)
}

int rename(const char* from, const char* to) noexcept {
    std::string k1, k2;
    int d1, d2;
    const char* p1 = changePath(AT_FDCWD, from, k1, d1);
    if (!p1) return -1;
    const char* p2 = changePath(AT_FDCWD, to, k2, d2);
    if (!p2) return -1;
    VB_REAL(int (*)(const char*, const char*), rename);
    return real_rename(p1, p2);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) noexcept {
    std::string k1, k2;
    int d1, d2;
    const char* p1 = changePath(fromDir, from, k1, d1);
    if (!p1) return -1;
    const char* p2 = changePath(toDir, to, k2, d2);
    if (!p2) return -1;
    VB_REAL(int (*)(int, const char*, int, const char*), renameat);
    return real_renameat(d1, p1, d2, p2);
}

int mkstemp(char* templ) {
    VB_REAL(int (*)(char*), mkstemp);
    return mkstempCommon(templ, real_mkstemp);
}
int mkstemp64(char* templ) {
    VB_REAL(int (*)(char*), mkstemp64);
    return mkstempCommon(templ, real_mkstemp64);
}
int mkostemp(char* templ, int flags) {
    VB_REAL(int (*)(char*, int), mkostemp);
    return mkstempCommon(templ, [&](char* t) { return real_mkostemp(t, flags); });
}
int mkostemp64(char* templ, int flags) {
    VB_REAL(int (*)(char*, int), mkostemp64);
    return mkstempCommon(templ, [&](char* t) { return real_mkostemp64(t, flags); });
}
int mkstemps(char* templ, int suffixLen) {
    VB_REAL(int (*)(char*, int), mkstemps);
    return mkstempCommon(templ, [&](char* t) { return real_mkstemps(t, suffixLen); });
}
int mkostemps(char* templ, int suffixLen, int flags) {
    VB_REAL(int (*)(char*, int, int), mkostemps);
    return mkstempCommon(templ, [&](char* t) { return real_mkostemps(t, suffixLen, flags); });
}

DIR* opendir(const char* path) {
    using Fn = DIR* (*)(const char*);
    VB_REAL(Fn, opendir);
    PathVerdict v = vb::classifyPath(AT_FDCWD, path);
    if (v.kind == PathVerdict::Node) {
        errno = vb::nodeMissing(v.node) ? ENOENT : ENOTDIR;
        return nullptr;
    }
    return real_opendir(v.kind == PathVerdict::Sandbox ? v.hostPath.c_str() : path);
}

}  // extern "C"
