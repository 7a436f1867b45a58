// Paths.h - which paths the virtual board owns: its device nodes (however a
// program spells them) and the camera's storage folders under "/picture/",
// redirected into a sandbox.
#ifndef VYX_BOARD_PATHS_H
#define VYX_BOARD_PATHS_H

#include <cstdint>
#include <string>

#include "VyxBoard.h"

namespace vb {

// How the board treats a path argument.
struct PathVerdict {
    // Refused: the path cannot be judged here (a working directory too deep
    // to name, a descriptor that cannot be named, a link that cannot be
    // read): it might be the board's, so the call fails with `error`.
    enum Kind { Pass, Node, Sandbox, Refused } kind = Pass;
    vb::Node node = vb::Node::Count;
    std::string hostPath;  // Sandbox: the rewritten path
    int error = 0;         // Refused: the errno of the call
};
// dirfd is AT_FDCWD or a directory descriptor for the *at() calls.  With
// followLast false a link in the last component is the object itself (lstat,
// unlink, rename, O_NOFOLLOW), as the kernel treats it.
PathVerdict classifyPath(int dirfd, const char* path, bool followLast = true);
// The fast path of ordinary files: true when the object the kernel finds at
// `path` can be none of the board's, judged by one fstatat: it exists and is
// no device and no link, and this host has nothing at the board's paths but
// devices (and no "/picture").  False means "ask classifyPath".
bool plainObject(int dirfd, const char* path, bool followLast);
// The same judgement on the mode a stat call already returned (valid when
// fastPathAllowed()).
bool plainMode(unsigned mode);
bool fastPathAllowed();
// The fast path of open: an absolute path without "." or ".." that names
// nothing in /dev or /picture and whose last component is none of the
// nodes' names is the board's only through a symbolic link, which the
// caller then refuses to follow (openat2 RESOLVE_NO_SYMLINKS).
bool textuallyPlain(const char* path);
// Sandbox rewrite only (for calls that do not reach device nodes).
bool sandboxRewrite(int dirfd, const char* path, std::string& hostPath);
// Fake free space: true and the byte count when faked.
bool fakeFreeSpace(uint64_t& bytes);
// Block size of the faked free space, 0 for the storage's own.
uint32_t fakeBlockBytes();
// Host path of the plug-in that stands in for /usr/lib/libvyxSensorQ210B.so.
const char* pluginPath();

namespace paths {
std::string sandboxRoot();
void setSandboxRoot(const std::string& root);
std::string sandboxPath(const std::string& boardPath);
void setFakeFreeSpace(uint64_t bytes, uint32_t blockBytes = 0);
void clearFakeFreeSpace();
}  // namespace paths

}  // namespace vb

#endif
