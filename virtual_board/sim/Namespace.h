// Namespace.h - the run's private view of the machine's device nodes.
//
// The board catches what a program asks libc for; what passes libc by (a
// raw system call, a child started with a clean environment, a static or
// set-user-ID child, which all lose the preload) would reach the machine's
// real nodes.  Where the kernel allows it, the program therefore runs in a
// mount namespace of its own in which each of the board's device paths that
// exists on this machine is covered by an empty read-only file, and the
// host's /picture (where it has one) by the run's sandbox.  Nothing of this
// is seen outside the run.
#ifndef VYX_SIM_NAMESPACE_H
#define VYX_SIM_NAMESPACE_H

#include <string>

namespace vyxsim {

// Run in the child between fork and exec (single-threaded).  `placeholder`
// is an empty file of the run's root folder; `sandbox` the run's /picture.
// True when the private view is in place; false with `why` (what the kernel
// refused) when the program runs on the machine's own view.
bool enterPrivateView(const std::string& placeholder, const std::string& sandbox, std::string& why);

}  // namespace vyxsim

#endif
