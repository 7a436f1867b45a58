// Namespace.cpp - the run's private view of the machine's device nodes.
//
// Root (who may mount in the machine's own user namespace) gets a mount
// namespace only, and keeps every privilege over the machine's files; any
// other user gets a user namespace in which it is itself (its own user and
// group mapped to themselves) and, inside it, the mount namespace.  The new
// namespace receives the machine's later mounts but sends none back.
#include "Namespace.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Nodes.h"

namespace vyxsim {

namespace {

const char* const kCovered[] = {vyxnode::kMemPath,  vyxnode::kCacheOpsPath, vyxnode::kSpi0Path,
                                vyxnode::kSpi1Path, vyxnode::kCapturePath,  vyxnode::kGpioPath};
constexpr char kPicture[] = "/picture";

bool writeFile(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

bool fail(std::string& why, const char* what) {
    why = std::string(what) + ": " + strerror(errno);
    return false;
}

// A user namespace in which this user and group are themselves.
bool ownUserNamespace(std::string& why) {
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return fail(why, "unshare(user, mount)");
    const std::string u = std::to_string(uid), g = std::to_string(gid);
    if (!writeFile("/proc/self/uid_map", u + " " + u + " 1\n")) return fail(why, "uid_map");
    writeFile("/proc/self/setgroups", "deny\n");  // absent on old kernels
    if (!writeFile("/proc/self/gid_map", g + " " + g + " 1\n")) return fail(why, "gid_map");
    return true;
}

// Mount flags the kernel keeps locked on a mount a user namespace inherited:
// a remount must repeat them.
unsigned long lockedFlags(const char* path) {
    struct statvfs st;
    if (statvfs(path, &st) != 0) return 0;
    unsigned long flags = 0;
    if (st.f_flag & ST_NOSUID) flags |= MS_NOSUID;
    if (st.f_flag & ST_NODEV) flags |= MS_NODEV;
    if (st.f_flag & ST_NOEXEC) flags |= MS_NOEXEC;
    return flags;
}

// Covers `target` with `source`, read-only where the kernel allows it.
bool cover(const char* source, const char* target, std::string& why) {
    if (mount(source, target, nullptr, MS_BIND, nullptr) != 0) return fail(why, target);
    // The bind itself is the protection; read-only is a second line.
    mount(nullptr, target, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY | lockedFlags(target), nullptr);
    return true;
}

}  // namespace

bool enterPrivateView(const std::string& placeholder, const std::string& sandbox, std::string& why) {
    if (geteuid() == 0) {
        if (unshare(CLONE_NEWNS) != 0) return fail(why, "unshare(mount)");
    } else if (!ownUserNamespace(why)) {
        return false;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) != 0) return fail(why, "private mounts");
    for (const char* path : kCovered) {
        struct stat st;
        if (lstat(path, &st) != 0) continue;  // nothing there to reach
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return fail(why, path);
        }
        if (!cover(placeholder.c_str(), path, why)) return false;
    }
    struct stat st;
    if (stat(kPicture, &st) == 0 && S_ISDIR(st.st_mode) &&
        mount(sandbox.c_str(), kPicture, nullptr, MS_BIND | MS_REC, nullptr) != 0)
        return fail(why, kPicture);
    return true;
}

}  // namespace vyxsim
