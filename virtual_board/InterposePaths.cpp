// InterposePaths.cpp - the libc entry points that take a path: stat and its
// variants, access, statfs, mkdir, unlink, rename, mkstemp and opendir.
//
// A board node is described as a harmless character device of the host and
// cannot be changed; a path under "/picture/" is rewritten into the sandbox.
// libc's own internal calls (lstat -> fstatat) do not pass through the
// exported names, which is why each high-level call is wrapped.
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
#include <sys/time.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "Dispatch.h"
#include "Libc.h"
#include "PathArgs.h"
#include "Paths.h"

using vb::changePath;
using vb::kStandInNode;
using vb::Node;
using vb::PathVerdict;
using vb::statPath;

namespace {

// Free space faked for sandbox paths.
template <typename S>
void fakeStatfs(S* st) {
    uint64_t bytes;
    if (!vb::fakeFreeSpace(bytes) || !st) return;
    if (const uint32_t block = vb::fakeBlockBytes()) st->f_bsize = st->f_frsize = block;
    uint64_t bsize = st->f_bsize ? static_cast<uint64_t>(st->f_bsize) : 4096;
    uint64_t blocks = bytes / bsize;
    using Count = decltype(st->f_bfree);
    constexpr uint64_t kMax = static_cast<uint64_t>(static_cast<Count>(~static_cast<Count>(0)));
    if (blocks > kMax) blocks = kMax;
    st->f_bfree = static_cast<Count>(blocks);
    st->f_bavail = static_cast<Count>(blocks);
    if (st->f_blocks < st->f_bfree) st->f_blocks = st->f_bfree;
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

// Calls with two names (rename, link): each is checked and rewritten; the
// call gets the directory descriptors and paths to use.
template <typename Call>
int twoNames(int fromDir, const char* from, bool followFrom, int toDir, const char* to, Call call) {
    std::string k1, k2;
    int d1, d2;
    const char* p1 = changePath(fromDir, from, k1, d1, followFrom);
    if (!p1) return -1;
    const char* p2 = changePath(toDir, to, k2, d2);
    if (!p2) return -1;
    return call(d1, p1, d2, p2);
}

}  // namespace

extern "C" {

// ================================================================ path calls
// The fast path: the real call first; an ordinary object is the answer.
#define VB_STAT_FAST(type, name, st, ...)                                    \
    if (vb::fastPathAllowed()) {                                             \
        VB_REAL(type, name);                                                 \
        int saved = errno;                                                   \
        if (real_##name(__VA_ARGS__) == 0 && vb::plainMode((st)->st_mode)) { \
            errno = saved;                                                   \
            return 0;                                                        \
        }                                                                    \
        errno = saved;                                                       \
    }
#define VB_STAT_BODY_F(follow, type, name, dirfd, path, ...)     \
    std::string keep;                                            \
    int useDir;                                                  \
    const char* p = statPath(dirfd, path, keep, useDir, follow); \
    if (!p) return -1;                                           \
    (void)useDir;                                                \
    VB_REAL(type, name);                                         \
    return real_##name(__VA_ARGS__);
#define VB_STAT_BODY(...)  VB_STAT_BODY_F(true, __VA_ARGS__)
#define VB_LSTAT_BODY(...) VB_STAT_BODY_F(false, __VA_ARGS__)

int stat(const char* path, struct stat* st) noexcept {
    VB_STAT_FAST(int (*)(const char*, struct stat*), stat, st, path, st)
    VB_STAT_BODY(int (*)(const char*, struct stat*), stat, AT_FDCWD, path, p, st)
}
int lstat(const char* path, struct stat* st) noexcept {
    VB_STAT_FAST(int (*)(const char*, struct stat*), lstat, st, path, st)
    VB_LSTAT_BODY(int (*)(const char*, struct stat*), lstat, AT_FDCWD, path, p, st)
}
int stat64(const char* path, struct stat64* st) noexcept {
    VB_STAT_FAST(int (*)(const char*, struct stat64*), stat64, st, path, st)
    VB_STAT_BODY(int (*)(const char*, struct stat64*), stat64, AT_FDCWD, path, p, st)
}
int lstat64(const char* path, struct stat64* st) noexcept {
    VB_STAT_FAST(int (*)(const char*, struct stat64*), lstat64, st, path, st)
    VB_LSTAT_BODY(int (*)(const char*, struct stat64*), lstat64, AT_FDCWD, path, p, st)
}
int fstatat(int dirfd, const char* path, struct stat* st, int flags) noexcept {
    VB_STAT_FAST(int (*)(int, const char*, struct stat*, int), fstatat, st, dirfd, path, st, flags)
    VB_STAT_BODY_F((flags & AT_SYMLINK_NOFOLLOW) == 0, int (*)(int, const char*, struct stat*, int), fstatat,
                   dirfd, path, useDir, p, st, flags)
}
int fstatat64(int dirfd, const char* path, struct stat64* st, int flags) noexcept {
    VB_STAT_FAST(int (*)(int, const char*, struct stat64*, int), fstatat64, st, dirfd, path, st, flags)
    VB_STAT_BODY_F((flags & AT_SYMLINK_NOFOLLOW) == 0, int (*)(int, const char*, struct stat64*, int),
                   fstatat64, dirfd, path, useDir, p, st, flags)
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
    VB_STAT_BODY_F((flags & AT_SYMLINK_NOFOLLOW) == 0, int (*)(int, const char*, void*, int),
                   __fstatat64_time64, dirfd, path, useDir, p, st, flags)
}
#endif

int access(const char* path, int how) noexcept {
    VB_STAT_BODY(int (*)(const char*, int), access, AT_FDCWD, path, p, how)
}
int faccessat(int dirfd, const char* path, int how, int flags) noexcept {
    VB_STAT_BODY_F((flags & AT_SYMLINK_NOFOLLOW) == 0, int (*)(int, const char*, int, int), faccessat, dirfd,
                   path, useDir, p, how, flags)
}

#define VB_STATFS_BODY(type, name, S)                                 \
    PathVerdict v = vb::classifyPath(AT_FDCWD, path);                 \
    if (v.kind == PathVerdict::Refused) return errno = v.error, -1;   \
    if (v.kind == PathVerdict::Node) {                                \
        if (vb::nodeMissing(v.node)) {                                \
            errno = ENOENT;                                           \
            return -1;                                                \
        }                                                             \
        VB_REAL(type, name);                                          \
        return real_##name(kStandInNode, st);                         \
    }                                                                 \
    VB_REAL(type, name);                                              \
    if (v.kind != PathVerdict::Sandbox) return real_##name(path, st); \
    int r = real_##name(v.hostPath.c_str(), st);                      \
    if (r == 0) fakeStatfs<S>(st);                                    \
    return r;

int statfs(const char* path, struct statfs* st) noexcept {
    VB_STATFS_BODY(int (*)(const char*, struct statfs*), statfs, struct statfs)
}
int statfs64(const char* path, struct statfs64* st) noexcept {
    VB_STATFS_BODY(int (*)(const char*, struct statfs64*), statfs64, struct statfs64)
}
int __statfs(const char* path, struct statfs* st) noexcept __attribute__((nonnull(1, 2), alias("statfs")));
int statvfs(const char* path, struct statvfs* st) noexcept {
    VB_STATFS_BODY(int (*)(const char*, struct statvfs*), statvfs, struct statvfs)
}
int statvfs64(const char* path, struct statvfs64* st) noexcept {
    VB_STATFS_BODY(int (*)(const char*, struct statvfs64*), statvfs64, struct statvfs64)
}

#define VB_CHANGE_BODY(type, name, dirfd, path, ...)       \
    std::string keep;                                      \
    int useDir;                                            \
    const char* p = changePath(dirfd, path, keep, useDir); \
    if (!p) return -1;                                     \
    (void)useDir;                                          \
    VB_REAL(type, name);                                   \
    return real_##name(__VA_ARGS__);

int mkdir(const char* path, mode_t mode) noexcept {
    VB_CHANGE_BODY(int (*)(const char*, mode_t), mkdir, AT_FDCWD, path, p, mode)
}
int rmdir(const char* path) noexcept { VB_CHANGE_BODY(int (*)(const char*), rmdir, AT_FDCWD, path, p) }
int unlink(const char* path) noexcept { VB_CHANGE_BODY(int (*)(const char*), unlink, AT_FDCWD, path, p) }
int unlinkat(int dirfd, const char* path, int flags) noexcept {
    VB_CHANGE_BODY(int (*)(int, const char*, int), unlinkat, dirfd, path, useDir, p, flags)
}

int remove(const char* path) noexcept { VB_CHANGE_BODY(int (*)(const char*), remove, AT_FDCWD, path, p) }

int rename(const char* from, const char* to) noexcept {
    VB_REAL(int (*)(const char*, const char*), rename);
    return twoNames(AT_FDCWD, from, false, AT_FDCWD, to, [&](int d1, const char* p1, int d2, const char* p2) {
        return (void)d1, (void)d2, real_rename(p1, p2);
    });
}

int renameat(int fromDir, const char* from, int toDir, const char* to) noexcept {
    VB_REAL(int (*)(int, const char*, int, const char*), renameat);
    return twoNames(fromDir, from, false, toDir, to, [&](int d1, const char* p1, int d2, const char* p2) {
        return real_renameat(d1, p1, d2, p2);
    });
}

// The calls that change a path's metadata or make a new name: a board node
// cannot be changed (EACCES), a path under /picture changes the sandbox.
#define VB_CHANGE_BODY_F(follow, type, name, dirfd, path, ...)     \
    std::string keep;                                              \
    int useDir;                                                    \
    const char* p = changePath(dirfd, path, keep, useDir, follow); \
    if (!p) return -1;                                             \
    (void)useDir;                                                  \
    VB_REAL(type, name);                                           \
    return real_##name(__VA_ARGS__);
#define VB_FOLLOWS(flags) (((flags)&AT_SYMLINK_NOFOLLOW) == 0)

int chmod(const char* path, mode_t mode) noexcept {
    VB_CHANGE_BODY_F(true, int (*)(const char*, mode_t), chmod, AT_FDCWD, path, p, mode)
}
int fchmodat(int dirfd, const char* path, mode_t mode, int flags) noexcept {
    VB_CHANGE_BODY_F(VB_FOLLOWS(flags), int (*)(int, const char*, mode_t, int), fchmodat, dirfd, path, useDir,
                     p, mode, flags)
}
int chown(const char* path, uid_t uid, gid_t gid) noexcept {
    VB_CHANGE_BODY_F(true, int (*)(const char*, uid_t, gid_t), chown, AT_FDCWD, path, p, uid, gid)
}
int lchown(const char* path, uid_t uid, gid_t gid) noexcept {
    VB_CHANGE_BODY_F(false, int (*)(const char*, uid_t, gid_t), lchown, AT_FDCWD, path, p, uid, gid)
}
int fchownat(int dirfd, const char* path, uid_t uid, gid_t gid, int flags) noexcept {
    VB_CHANGE_BODY_F(VB_FOLLOWS(flags), int (*)(int, const char*, uid_t, gid_t, int), fchownat, dirfd, path,
                     useDir, p, uid, gid, flags)
}
int truncate(const char* path, off_t len) noexcept {
    VB_CHANGE_BODY_F(true, int (*)(const char*, off_t), truncate, AT_FDCWD, path, p, len)
}
int truncate64(const char* path, off64_t len) noexcept {
    VB_CHANGE_BODY_F(true, int (*)(const char*, off64_t), truncate64, AT_FDCWD, path, p, len)
}
int utimensat(int dirfd, const char* path, const struct timespec times[2], int flags) noexcept {
    VB_CHANGE_BODY_F(VB_FOLLOWS(flags), int (*)(int, const char*, const struct timespec*, int), utimensat,
                     dirfd, path, useDir, p, times, flags)
}
int utimes(const char* path, const struct timeval times[2]) noexcept {
    VB_CHANGE_BODY_F(true, int (*)(const char*, const struct timeval*), utimes, AT_FDCWD, path, p, times)
}
int lutimes(const char* path, const struct timeval times[2]) noexcept {
    VB_CHANGE_BODY_F(false, int (*)(const char*, const struct timeval*), lutimes, AT_FDCWD, path, p, times)
}
int utime(const char* path, const struct utimbuf* times) noexcept {
    VB_CHANGE_BODY_F(true, int (*)(const char*, const struct utimbuf*), utime, AT_FDCWD, path, p, times)
}
#ifdef VB_ILP32
// The 64-bit time variants of a 32-bit program: their time structures are
// handed on untouched.
int __utimensat64(int dirfd, const char* path, const void* times, int flags) {
    VB_CHANGE_BODY_F(VB_FOLLOWS(flags), int (*)(int, const char*, const void*, int), __utimensat64, dirfd,
                     path, useDir, p, times, flags)
}
int __utimes64(const char* path, const void* times) {
    VB_CHANGE_BODY_F(true, int (*)(const char*, const void*), __utimes64, AT_FDCWD, path, p, times)
}
int __lutimes64(const char* path, const void* times) {
    VB_CHANGE_BODY_F(false, int (*)(const char*, const void*), __lutimes64, AT_FDCWD, path, p, times)
}
int __utime64(const char* path, const void* times) {
    VB_CHANGE_BODY_F(true, int (*)(const char*, const void*), __utime64, AT_FDCWD, path, p, times)
}
#endif
int mkdirat(int dirfd, const char* path, mode_t mode) noexcept {
    VB_CHANGE_BODY_F(false, int (*)(int, const char*, mode_t), mkdirat, dirfd, path, useDir, p, mode)
}
int mkfifo(const char* path, mode_t mode) noexcept {
    VB_CHANGE_BODY_F(false, int (*)(const char*, mode_t), mkfifo, AT_FDCWD, path, p, mode)
}
int mkfifoat(int dirfd, const char* path, mode_t mode) noexcept {
    VB_CHANGE_BODY_F(false, int (*)(int, const char*, mode_t), mkfifoat, dirfd, path, useDir, p, mode)
}
// symlink: the target is text kept in the link; only the new name counts.
int symlink(const char* target, const char* path) noexcept {
    VB_CHANGE_BODY_F(false, int (*)(const char*, const char*), symlink, AT_FDCWD, path, target, p)
}
int symlinkat(const char* target, int dirfd, const char* path) noexcept {
    VB_CHANGE_BODY_F(false, int (*)(const char*, int, const char*), symlinkat, dirfd, path, target, useDir, p)
}

int link(const char* from, const char* to) noexcept {
    VB_REAL(int (*)(const char*, const char*), link);
    return twoNames(AT_FDCWD, from, false, AT_FDCWD, to, [&](int d1, const char* p1, int d2, const char* p2) {
        return (void)d1, (void)d2, real_link(p1, p2);
    });
}

int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) noexcept {
    VB_REAL(int (*)(int, const char*, int, const char*, int), linkat);
    return twoNames(
        fromDir, from, (flags & AT_SYMLINK_FOLLOW) != 0, toDir, to,
        [&](int d1, const char* p1, int d2, const char* p2) { return real_linkat(d1, p1, d2, p2, flags); });
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) noexcept {
    VB_REAL(int (*)(int, const char*, int, const char*, unsigned), renameat2);
    return twoNames(fromDir, from, false, toDir, to, [&](int d1, const char* p1, int d2, const char* p2) {
        return real_renameat2(d1, p1, d2, p2, flags);
    });
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
int mkstemps64(char* templ, int suffixLen) {
    VB_REAL(int (*)(char*, int), mkstemps64);
    return mkstempCommon(templ, [&](char* t) { return real_mkstemps64(t, suffixLen); });
}
int mkostemps64(char* templ, int suffixLen, int flags) {
    VB_REAL(int (*)(char*, int, int), mkostemps64);
    return mkstempCommon(templ, [&](char* t) { return real_mkostemps64(t, suffixLen, flags); });
}

DIR* opendir(const char* path) {
    using Fn = DIR* (*)(const char*);
    VB_REAL(Fn, opendir);
    PathVerdict v = vb::classifyPath(AT_FDCWD, path);
    if (v.kind == PathVerdict::Refused) return errno = v.error, nullptr;
    if (v.kind == PathVerdict::Node) {
        errno = vb::nodeMissing(v.node) ? ENOENT : ENOTDIR;
        return nullptr;
    }
    return real_opendir(v.kind == PathVerdict::Sandbox ? v.hostPath.c_str() : path);
}

}  // extern "C"
