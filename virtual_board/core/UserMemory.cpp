// UserMemory.cpp - copies from and to the caller's memory, checked by the
// kernel.
#include "UserMemory.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "Libc.h"

namespace vb {

namespace {

std::atomic<bool> g_noVm{false};  // process_vm_* refused here: use a pipe

enum class Way { In, Out };

bool viaVm(void* to, const void* from, size_t n, Way way, bool& done) {
    done = false;
    if (g_noVm.load(std::memory_order_relaxed)) return false;
    iovec local{way == Way::In ? to : const_cast<void*>(from), n};
    iovec remote{way == Way::In ? const_cast<void*>(from) : to, n};
    ssize_t r = way == Way::In ? process_vm_readv(getpid(), &local, 1, &remote, 1, 0)
                               : process_vm_writev(getpid(), &local, 1, &remote, 1, 0);
    if (r == static_cast<ssize_t>(n)) {
        done = true;
        return true;
    }
    if (r >= 0 || errno == EFAULT) {
        done = true;
        errno = EFAULT;
        return false;
    }
    g_noVm.store(true);  // ENOSYS, EPERM: this process cannot use them
    return false;
}

// Through a pipe, a chunk at a time: write() of a bad source or read() into
// a bad destination fails with EFAULT.
bool viaPipe(void* to, const void* from, size_t n) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return false;
    bool ok = true;
    constexpr size_t kChunk = 4096;  // always fits a pipe
    for (size_t at = 0; ok && at < n; at += kChunk) {
        size_t len = std::min(kChunk, n - at);
        ok = sysWrite(p[1], static_cast<const char*>(from) + at, len) == static_cast<ssize_t>(len) &&
             sysRead(p[0], static_cast<char*>(to) + at, len) == static_cast<ssize_t>(len);
    }
    sysClose(p[0]);
    sysClose(p[1]);
    if (!ok) errno = EFAULT;
    return ok;
}

bool copy(void* to, const void* from, size_t n, Way way) {
    if (n == 0) return true;
    if (!to || !from) {
        errno = EFAULT;
        return false;
    }
    bool done;
    bool ok = viaVm(to, from, n, way, done);
    return done ? ok : viaPipe(to, from, n);
}

}  // namespace

bool copyFromUser(void* to, const void* from, size_t n) { return copy(to, from, n, Way::In); }

bool copyToUser(void* to, const void* from, size_t n) { return copy(to, from, n, Way::Out); }

}  // namespace vb
