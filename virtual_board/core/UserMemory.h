// UserMemory.h - the caller's memory as a driver sees it.
//
// A kernel driver never dereferences a caller's pointer: it copies from and
// to the caller's memory, and a bad address fails the call with EFAULT.  The
// board's drivers do the same, so that a bad pointer or length gives the
// caller the kernel's answer instead of a crash inside the board.  The copies
// go through the kernel (process_vm_readv/writev on the process itself, or a
// pipe where those are not available, as under some emulators), which checks
// the addresses.
#ifndef VYX_BOARD_CORE_USERMEMORY_H
#define VYX_BOARD_CORE_USERMEMORY_H

#include <cstddef>

namespace vb {

// Copies n bytes of the caller's memory at `from` into the board's `to`;
// false with errno EFAULT when any of it cannot be read.
bool copyFromUser(void* to, const void* from, size_t n);
// Copies n bytes of the board's `from` into the caller's memory at `to`;
// false with errno EFAULT when any of it cannot be written.
bool copyToUser(void* to, const void* from, size_t n);

}  // namespace vb

#endif
