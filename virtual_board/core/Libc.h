// Libc.h - the real libc underneath the virtual board.
//
// The board defines libc's own names (open, read, ioctl, ...), so it reaches
// the real functions through dlsym(RTLD_NEXT).  The sys* wrappers are what
// the board uses on its own kernel objects: they never come back into the
// interposed functions.
#ifndef VYX_BOARD_CORE_LIBC_H
#define VYX_BOARD_CORE_LIBC_H

#include <sys/types.h>

// 32-bit processes have the large-file and 64-bit time variants of the
// libc names besides the plain ones.
#if defined(__arm__) || defined(__i386__)
#define VB_ILP32 1
#endif

namespace vb {

// The next definition of a libc name, or nullptr when this libc has none.
void* realSymbol(const char* name);
template <typename F>
F realFn(const char* name) {
    return reinterpret_cast<F>(realSymbol(name));
}
// Looked up on first use and kept in a function-local static.
#define VB_REAL(type, name) static const auto real_##name = ::vb::realFn<type>(#name)

int sysClose(int fd);
ssize_t sysRead(int fd, void* buf, size_t n);
ssize_t sysWrite(int fd, const void* buf, size_t n);
void* sysMmap(void* addr, size_t len, int prot, int flags, int fd, off_t off);
int sysMunmap(void* addr, size_t len);
int sysDupFd(int fd, bool cloexec);

// Writes a message to standard error without going through stdio.
void sysSay(const char* text);
// A fortified call (__read_chk, ...) was given a length beyond its buffer:
// ends the program as libc's own check does.
[[noreturn]] void overflowDetected(const char* call);

}  // namespace vb

#endif
