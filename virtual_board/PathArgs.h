// PathArgs.h - the path argument an interposed call hands on to libc: the
// program's own path, its rewrite into the /picture sandbox, or a harmless
// stand-in for a board node; never a path the board judged its own.
#ifndef VYX_BOARD_PATHARGS_H
#define VYX_BOARD_PATHARGS_H

#include <string>

namespace vb {

// stat-like calls on a board node describe a harmless character device of
// the host (/dev/null) so that callers see "a device is there".
inline constexpr char kStandInNode[] = "/dev/null";

// For a call that looks (stat, access, statx, chdir): the path to use, the
// stand-in of a present node, or nullptr with errno (a missing node: ENOENT;
// a path that cannot be judged: its error).  `keep` holds a rewritten path,
// `outDirfd` is the directory descriptor to use with it.
const char* statPath(int dirfd, const char* path, std::string& keep, int& outDirfd, bool followLast = true);
// For a call that would change a node or make a name (unlink, rename, mkdir,
// chmod, chown, truncate, utimes, link): a node is refused with EACCES.
const char* changePath(int dirfd, const char* path, std::string& keep, int& outDirfd,
                       bool followLast = false);

}  // namespace vb

#endif
