// InterposeNames.cpp - the libc entry points that name, describe or walk a
// path without opening it for data: statx, name_to_handle_at, readlink,
// realpath, chdir, futimesat, scandir and the tree walks (ftw, nftw).
//
// A board node reads as a character device that is no link and no folder;
// a path under "/picture/" is the sandbox, and what the calls hand back
// (a resolved name, the names a walk visits) is spelled as the program
// spelled it, under /picture, never as the sandbox's folder on the host.
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Dispatch.h"
#include "Libc.h"
#include "NodeTable.h"
#include "PathArgs.h"
#include "Paths.h"

using vb::changePath;
using vb::PathVerdict;
using vb::statPath;

namespace {

// The program's own function, called through a type that differs only in
// the structure it points to.
template <typename To, typename From>
To sameCall(From fn) {
    return reinterpret_cast<To>(reinterpret_cast<void (*)()>(fn));
}

bool emptyPathOnDescriptor(const char* path, int flags) {
    return path && !path[0] && (flags & AT_EMPTY_PATH) != 0;
}

// A name the board hands back: into the caller's buffer (PATH_MAX bytes)
// or a new one the caller frees, as realpath does.
char* giveName(const std::string& name, char* resolved) {
    if (name.size() >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    if (!resolved) return strdup(name.c_str());
    memcpy(resolved, name.c_str(), name.size() + 1);
    return resolved;
}

using RealpathFn = char* (*)(const char*, char*);

// The sandbox's folder on the host as the kernel names it (no links), and
// the board path a host name inside it stands for ("" when outside).
std::string boardName(const char* host) {
    VB_REAL(RealpathFn, realpath);
    char* root = real_realpath(vb::sandboxRoot().c_str(), nullptr);
    if (!root) return std::string();
    const size_t n = strlen(root);
    std::string out;
    if (strncmp(host, root, n) == 0 && host[n] == '/') out = host + n;
    free(root);
    return out;
}

char* realpathCommon(const char* path, char* resolved) {
    VB_REAL(RealpathFn, realpath);
    if (!path) return real_realpath(path, resolved);
    PathVerdict v = vb::classifyPath(AT_FDCWD, path, true);
    switch (v.kind) {
    case PathVerdict::Refused: errno = v.error; return nullptr;
    case PathVerdict::Node:
        if (vb::nodeMissing(v.node)) {
            errno = ENOENT;
            return nullptr;
        }
        return giveName(vb::nodeOps(v.node)->path, resolved);
    case PathVerdict::Sandbox: {
        char* host = real_realpath(v.hostPath.c_str(), nullptr);
        if (!host) return nullptr;
        std::string name = boardName(host);
        char* out = giveName(name.empty() ? std::string(host) : name, resolved);
        free(host);
        return out;
    }
    case PathVerdict::Pass: break;
    }
    return real_realpath(path, resolved);
}

// readlink on a node: it is no link (EINVAL), or missing (ENOENT).
template <typename Call>
ssize_t readlinkCommon(int dirfd, const char* path, Call call) {
    PathVerdict v = vb::classifyPath(dirfd, path, false);
    if (v.kind == PathVerdict::Refused) return errno = v.error, -1;
    if (v.kind == PathVerdict::Node) return errno = vb::nodeMissing(v.node) ? ENOENT : EINVAL, -1;
    if (v.kind == PathVerdict::Sandbox) return call(AT_FDCWD, v.hostPath.c_str());
    return call(dirfd, path);
}

// ---- tree walks: the root is rewritten into the sandbox, and the names the
// walk hands to the program's function are spelled under /picture again.
using NftwFn = int (*)(const char*, const void*, int, struct FTW*);
using FtwFn = int (*)(const char*, const void*, int);

struct Walk {
    NftwFn nftw = nullptr;
    FtwFn ftw = nullptr;
    size_t hostPrefix = 0;  // characters of the sandbox's folder to drop
};
thread_local Walk t_walk;

int nftwVisit(const char* name, const void* st, int type, struct FTW* at) {
    struct FTW shifted = *at;
    shifted.base -= static_cast<int>(t_walk.hostPrefix);
    return t_walk.nftw(name + t_walk.hostPrefix, st, type, &shifted);
}

int ftwVisit(const char* name, const void* st, int type) {
    return t_walk.ftw(name + t_walk.hostPrefix, st, type);
}

// Runs a walk of `path`: `start(root, useVisit)` calls the real walk.
template <typename Start>
int walkCommon(const char* path, NftwFn nftwFn, FtwFn ftwFn, Start start) {
    std::string keep;
    int dirfd;
    const char* p = statPath(AT_FDCWD, path, keep, dirfd);
    if (!p) return -1;
    if (p == vb::kStandInNode) {  // a node is no folder
        errno = ENOTDIR;
        return -1;
    }
    if (p == path) return start(path, false);
    const Walk saved = t_walk;  // a walk started from inside a walk's function
    t_walk.nftw = nftwFn;
    t_walk.ftw = ftwFn;
    t_walk.hostPrefix = vb::sandboxRoot().size();  // keep is the root and the board's path
    int r = start(p, true);
    t_walk = saved;
    return r;
}

}  // namespace

extern "C" {

int statx(int dirfd, const char* path, int flags, unsigned mask, struct statx* buf) noexcept {
    using Fn = int (*)(int, const char*, int, unsigned, struct statx*);
    VB_REAL(Fn, statx);
    if (emptyPathOnDescriptor(path, flags)) return real_statx(dirfd, path, flags, mask, buf);
    if (vb::fastPathAllowed()) {
        const int saved = errno;
        if (real_statx(dirfd, path, flags, mask, buf) == 0 && (mask & STATX_TYPE) &&
            vb::plainMode(buf->stx_mode)) {
            errno = saved;
            return 0;
        }
        errno = saved;
    }
    std::string keep;
    int useDir;
    const char* p = statPath(dirfd, path, keep, useDir, (flags & AT_SYMLINK_NOFOLLOW) == 0);
    if (!p) return -1;
    return real_statx(useDir, p, flags, mask, buf);
}

// A handle would let a privileged program open the host's node by handle:
// the board's nodes have none.
int name_to_handle_at(int dirfd, const char* path, struct file_handle* handle, int* mountId,
                      int flags) noexcept {
    using Fn = int (*)(int, const char*, struct file_handle*, int*, int);
    VB_REAL(Fn, name_to_handle_at);
    if (!path || emptyPathOnDescriptor(path, flags))
        return real_name_to_handle_at(dirfd, path, handle, mountId, flags);
    std::string keep;
    int useDir;
    const char* p = statPath(dirfd, path, keep, useDir, (flags & AT_SYMLINK_FOLLOW) != 0);
    if (!p) return -1;
    if (p == vb::kStandInNode) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return real_name_to_handle_at(useDir, p, handle, mountId, flags);
}

ssize_t readlink(const char* path, char* buf, size_t n) noexcept {
    VB_REAL(ssize_t(*)(int, const char*, char*, size_t), readlinkat);
    return readlinkCommon(AT_FDCWD, path,
                          [&](int d, const char* p) { return real_readlinkat(d, p, buf, n); });
}
ssize_t readlinkat(int dirfd, const char* path, char* buf, size_t n) noexcept {
    VB_REAL(ssize_t(*)(int, const char*, char*, size_t), readlinkat);
    return readlinkCommon(dirfd, path, [&](int d, const char* p) { return real_readlinkat(d, p, buf, n); });
}
ssize_t __readlink_chk(const char* path, char* buf, size_t n, size_t buflen) {
    if (n > buflen) vb::overflowDetected("readlink");
    return readlink(path, buf, n);
}
ssize_t __readlinkat_chk(int dirfd, const char* path, char* buf, size_t n, size_t buflen) {
    if (n > buflen) vb::overflowDetected("readlinkat");
    return readlinkat(dirfd, path, buf, n);
}

char* realpath(const char* path, char* resolved) noexcept { return realpathCommon(path, resolved); }
char* __realpath_chk(const char* path, char* resolved, size_t resolvedLen) {
    if (resolved && resolvedLen < PATH_MAX) vb::overflowDetected("realpath");
    return realpathCommon(path, resolved);
}
char* canonicalize_file_name(const char* path) noexcept { return realpathCommon(path, nullptr); }

int chdir(const char* path) noexcept {
    VB_REAL(int (*)(const char*), chdir);
    std::string keep;
    int useDir;
    const char* p = statPath(AT_FDCWD, path, keep, useDir);
    if (!p) return -1;
    if (p == vb::kStandInNode) {
        errno = ENOTDIR;
        return -1;
    }
    return real_chdir(p);
}

#define VB_FUTIMESAT_BODY(name)                                  \
    using Fn = int (*)(int, const char*, const void*);           \
    VB_REAL(Fn, name);                                           \
    if (!path) return real_##name(dirfd, path, times);           \
    std::string keep;                                            \
    int useDir;                                                  \
    const char* p = changePath(dirfd, path, keep, useDir, true); \
    return p ? real_##name(useDir, p, times) : -1;

int futimesat(int dirfd, const char* path, const struct timeval times[2]) noexcept {
    VB_FUTIMESAT_BODY(futimesat)
}

using ScandirFilter = int (*)(const struct dirent*);
using ScandirCompare = int (*)(const struct dirent**, const struct dirent**);
#define VB_SCANDIR_BODY(name, dirfd, ...)                  \
    VB_REAL(decltype(&name), name);                        \
    std::string keep;                                      \
    int useDir;                                            \
    const char* p = statPath(dirfd, path, keep, useDir);   \
    if (!p) return -1;                                     \
    if (p == vb::kStandInNode) return errno = ENOTDIR, -1; \
    (void)useDir;                                          \
    return real_##name(__VA_ARGS__);

int scandir(const char* path, struct dirent*** list, ScandirFilter filter, ScandirCompare compare) {
    VB_SCANDIR_BODY(scandir, AT_FDCWD, p, list, filter, compare)
}
int scandir64(const char* path, struct dirent64*** list, int (*filter)(const struct dirent64*),
              int (*compare)(const struct dirent64**, const struct dirent64**)) {
    VB_SCANDIR_BODY(scandir64, AT_FDCWD, p, list, filter, compare)
}
int scandirat(int dirfd, const char* path, struct dirent*** list, ScandirFilter filter,
              ScandirCompare compare) {
    VB_SCANDIR_BODY(scandirat, dirfd, useDir, p, list, filter, compare)
}
int scandirat64(int dirfd, const char* path, struct dirent64*** list, int (*filter)(const struct dirent64*),
                int (*compare)(const struct dirent64**, const struct dirent64**)) {
    VB_SCANDIR_BODY(scandirat64, dirfd, useDir, p, list, filter, compare)
}

#define VB_NFTW_BODY(name)                                                       \
    using Fn = int (*)(const char*, NftwFn, int, int);                           \
    VB_REAL(Fn, name);                                                           \
    const NftwFn user = sameCall<NftwFn>(fn);                                    \
    return walkCommon(path, user, nullptr, [&](const char* root, bool shifted) { \
        return real_##name(root, shifted ? nftwVisit : user, depth, flags);      \
    });
#define VB_FTW_BODY(name)                                                        \
    using Fn = int (*)(const char*, FtwFn, int);                                 \
    VB_REAL(Fn, name);                                                           \
    const FtwFn user = sameCall<FtwFn>(fn);                                      \
    return walkCommon(path, nullptr, user, [&](const char* root, bool shifted) { \
        return real_##name(root, shifted ? ftwVisit : user, depth);              \
    });

int nftw(const char* path, __nftw_func_t fn, int depth, int flags) { VB_NFTW_BODY(nftw) }
int nftw64(const char* path, __nftw64_func_t fn, int depth, int flags) { VB_NFTW_BODY(nftw64) }
int ftw(const char* path, __ftw_func_t fn, int depth) { VB_FTW_BODY(ftw) }
int ftw64(const char* path, __ftw64_func_t fn, int depth) { VB_FTW_BODY(ftw64) }

#ifdef VB_ILP32
// The 64-bit time variants of a 32-bit program take other structures, which
// the board hands on untouched.
int __futimesat64(int dirfd, const char* path, const void* times) { VB_FUTIMESAT_BODY(__futimesat64) }
int __nftw64_time64(const char* path, const void* fn, int depth, int flags) { VB_NFTW_BODY(__nftw64_time64) }
int __ftw64_time64(const char* path, const void* fn, int depth) { VB_FTW_BODY(__ftw64_time64) }
#endif

}  // extern "C"
