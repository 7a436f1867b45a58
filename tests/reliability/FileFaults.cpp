// FileFaults.cpp - counted, failable file calls for the fault sweep.  Each
// entry point here is a thin shim: a watched call is counted, fails when its
// number comes up, and otherwise goes on to the next definition (the board's
// or libc's).  A failing close still closes, as the kernel's does.
#include "FileFaults.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace vyxsweep {

namespace {

constexpr int kCalls = static_cast<int>(FileCall::Count);
constexpr int kMaxPrefixes = 4;
constexpr int kMaxDescriptors = 4096;
constexpr int kNoFault = -1;

const char* const kNames[kCalls] = {"open", "write", "fsync", "fchmod", "fchown",
                                    "close", "rename", "statfs", "fopen"};

// Prefixes are set before the sweep starts and only read afterwards.
std::string g_prefixes[kMaxPrefixes];
std::atomic<int> g_prefixCount{0};
std::atomic<unsigned> g_calls[kCalls];
std::atomic<int> g_armedCall{-1};
std::atomic<unsigned> g_armedAt{0};
std::atomic<int> g_armedError{0};
std::atomic<bool> g_tracked[kMaxDescriptors];

bool Watched(const char* path) {
    if (!path) return false;
    for (int i = 0; i < g_prefixCount.load(); ++i)
        if (strncmp(path, g_prefixes[i].c_str(), g_prefixes[i].size()) == 0) return true;
    return false;
}

bool Tracked(int fd) { return fd >= 0 && fd < kMaxDescriptors && g_tracked[fd].load(); }

void Track(int fd, bool on) {
    if (fd >= 0 && fd < kMaxDescriptors) g_tracked[fd].store(on);
}

// Counts the call; the error it must fail with (kShortCount: a short
// count), or kNoFault.
int Fires(FileCall call) {
    const int i = static_cast<int>(call);
    const unsigned n = g_calls[i].fetch_add(1) + 1;
    if (g_armedCall.load() == i && n == g_armedAt.load()) return g_armedError.load();
    return kNoFault;
}

template <typename F>
F Next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int Failed(int error) {
    errno = error;
    return -1;
}

int OpenWith(const char* name, const char* path, int flags, mode_t mode) {
    using Fn = int (*)(const char*, int, ...);
    static const Fn open64Fn = Next<Fn>("open64");
    static const Fn openFn = Next<Fn>("open");
    const Fn real = strcmp(name, "open64") == 0 ? open64Fn : openFn;
    if (!Watched(path)) return real(path, flags, mode);
    const int fault = Fires(FileCall::Open);
    if (fault != kNoFault) return Failed(fault == kShortCount ? EIO : fault);
    const int fd = real(path, flags, mode);
    Track(fd, true);
    return fd;
}

mode_t ModeArgument(int flags, va_list ap) {
    return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(ap, int)) : 0;
}

// A descriptor call: fails when its number comes up, else goes on.
template <typename Call>
int OnDescriptor(FileCall call, int fd, Call next) {
    if (Tracked(fd)) {
        const int fault = Fires(call);
        if (fault != kNoFault) return Failed(fault == kShortCount ? EIO : fault);
    }
    return next();
}

template <typename Call>
int OnPath(FileCall call, const char* path, const char* other, Call next) {
    if (Watched(path) || Watched(other)) {
        const int fault = Fires(call);
        if (fault != kNoFault) return Failed(fault == kShortCount ? EIO : fault);
    }
    return next();
}

}  // namespace

const char* FileCallName(FileCall call) { return kNames[static_cast<int>(call)]; }

void WatchPrefix(const std::string& prefix) {
    const int n = g_prefixCount.load();
    if (n >= kMaxPrefixes) return;
    g_prefixes[n] = prefix;
    g_prefixCount.store(n + 1);
}

unsigned FileCalls(FileCall call) { return g_calls[static_cast<int>(call)].load(); }

void ResetFileCalls() {
    for (auto& c : g_calls) c.store(0);
}

void ArmFileFault(FileCall call, unsigned k, int error) {
    g_armedError.store(error);
    g_armedAt.store(k);
    g_armedCall.store(static_cast<int>(call));
}

void DisarmFileFaults() { g_armedCall.store(-1); }

}  // namespace vyxsweep

using namespace vyxsweep;

// The program's definitions must be visible to the libraries' lookups.
#define VYX_SHIM extern "C" __attribute__((visibility("default")))

VYX_SHIM int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = ModeArgument(flags, ap);
    va_end(ap);
    return OpenWith("open", path, flags, mode);
}

VYX_SHIM int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = ModeArgument(flags, ap);
    va_end(ap);
    return OpenWith("open64", path, flags, mode);
}

VYX_SHIM ssize_t write(int fd, const void* buf, size_t n) {
    using Fn = ssize_t (*)(int, const void*, size_t);
    static const Fn real = Next<Fn>("write");
    if (Tracked(fd)) {
        const int fault = Fires(FileCall::Write);
        if (fault == kShortCount) return real(fd, buf, n / 2);
        if (fault != kNoFault) return Failed(fault);
    }
    return real(fd, buf, n);
}

VYX_SHIM int fsync(int fd) {
    static const auto real = Next<int (*)(int)>("fsync");
    return OnDescriptor(FileCall::Fsync, fd, [&] { return real(fd); });
}

VYX_SHIM int fchmod(int fd, mode_t mode) {
    static const auto real = Next<int (*)(int, mode_t)>("fchmod");
    return OnDescriptor(FileCall::Fchmod, fd, [&] { return real(fd, mode); });
}

VYX_SHIM int fchown(int fd, uid_t owner, gid_t group) {
    static const auto real = Next<int (*)(int, uid_t, gid_t)>("fchown");
    return OnDescriptor(FileCall::Fchown, fd, [&] { return real(fd, owner, group); });
}

VYX_SHIM int close(int fd) {
    static const auto real = Next<int (*)(int)>("close");
    if (!Tracked(fd)) return real(fd);
    Track(fd, false);
    const int fault = Fires(FileCall::Close);
    const int ret = real(fd);
    return fault != kNoFault ? Failed(fault == kShortCount ? EIO : fault) : ret;
}

VYX_SHIM int rename(const char* from, const char* to) {
    static const auto real = Next<int (*)(const char*, const char*)>("rename");
    return OnPath(FileCall::Rename, from, to, [&] { return real(from, to); });
}

VYX_SHIM int statfs(const char* path, struct statfs* buf) {
    static const auto real = Next<int (*)(const char*, struct statfs*)>("statfs");
    return OnPath(FileCall::Statfs, path, nullptr, [&] { return real(path, buf); });
}

VYX_SHIM FILE* fopen(const char* path, const char* mode) {
    static const auto real = Next<FILE* (*)(const char*, const char*)>("fopen");
    if (Watched(path)) {
        const int fault = Fires(FileCall::Fopen);
        if (fault != kNoFault) {
            errno = fault == kShortCount ? EIO : fault;
            return nullptr;
        }
    }
    return real(path, mode);
}

