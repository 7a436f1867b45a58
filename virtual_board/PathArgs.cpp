// PathArgs.cpp - the path argument an interposed call hands on to libc.
#include "PathArgs.h"

#include <fcntl.h>

#include <cerrno>

#include "Dispatch.h"
#include "Paths.h"

namespace vb {

namespace {

// The argument for a path that is not a node: the program's own, or its
// rewrite into the sandbox; nullptr with errno for one that was refused.
const char* hostArg(const PathVerdict& v, int dirfd, const char* path, std::string& keep, int& outDirfd) {
    outDirfd = dirfd;
    if (v.kind == PathVerdict::Refused) {
        errno = v.error;
        return nullptr;
    }
    if (v.kind != PathVerdict::Sandbox) return path;
    keep = v.hostPath;
    outDirfd = AT_FDCWD;
    return keep.c_str();
}

}  // namespace

const char* statPath(int dirfd, const char* path, std::string& keep, int& outDirfd, bool followLast) {
    PathVerdict v = classifyPath(dirfd, path, followLast);
    if (v.kind != PathVerdict::Node) return hostArg(v, dirfd, path, keep, outDirfd);
    outDirfd = AT_FDCWD;
    if (nodeMissing(v.node)) {
        errno = ENOENT;
        return nullptr;
    }
    return kStandInNode;
}

const char* changePath(int dirfd, const char* path, std::string& keep, int& outDirfd, bool followLast) {
    PathVerdict v = classifyPath(dirfd, path, followLast);
    if (v.kind != PathVerdict::Node) return hostArg(v, dirfd, path, keep, outDirfd);
    errno = nodeMissing(v.node) ? ENOENT : EACCES;
    return nullptr;
}

}  // namespace vb
