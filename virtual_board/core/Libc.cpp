// Libc.cpp - the real libc entry points the board uses on its own objects.
#include "Libc.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace vb {

void* realSymbol(const char* name) { return dlsym(RTLD_NEXT, name); }

int sysClose(int fd) {
    VB_REAL(int (*)(int), close);
    return real_close(fd);
}

ssize_t sysRead(int fd, void* buf, size_t n) {
    VB_REAL(ssize_t(*)(int, void*, size_t), read);
    return real_read(fd, buf, n);
}

ssize_t sysWrite(int fd, const void* buf, size_t n) {
    VB_REAL(ssize_t(*)(int, const void*, size_t), write);
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

void sysSay(const char* text) { sysWrite(2, text, strlen(text)); }

void overflowDetected(const char* call) {
    sysSay("*** buffer overflow detected ***: ");
    sysSay(call);
    sysSay("\n");
    abort();
}

}  // namespace vb
