// Paths.cpp - which paths the virtual board owns.
//
// A device node must be recognised however the program spells it: absolute
// or relative to the working directory or to an openat() directory, with
// repeated slashes, "." and "..", through symbolic links (also dangling ones:
// the board's nodes need not exist on the host), and by the device numbers of
// the host's own nodes of those names.  Paths under "/picture/" (the camera's
// storage folders) are redirected into the sandbox root.
#include "Paths.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "Libc.h"
#include "NodeTable.h"

namespace vb {

namespace {

const char* ownedPath(int n) { return nodeOps(static_cast<Node>(n))->path; }
constexpr const char kPictureDir[] = "/picture";
constexpr int kMaxLinkHops = 40;   // the kernel's own limit

using StatFn = int (*)(const char*, struct stat64*);
using ReadlinkFn = ssize_t (*)(const char*, char*, size_t);
using MkdirFn = int (*)(const char*, mode_t);

ssize_t realReadlink(const char* path, char* buf, size_t n) {
    VB_REAL(ReadlinkFn, readlink);
    return real_readlink(path, buf, n);
}

int realStat(const char* path, struct stat64* st) {
    VB_REAL(StatFn, stat64);
    return real_stat64(path, st);
}

int realMkdir(const char* path, mode_t mode) {
    VB_REAL(MkdirFn, mkdir);
    return real_mkdir(path, mode);
}

// Collapses "//", "." and ".." of an absolute path.
std::string normalize(const std::string& abs) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < abs.size()) {
        size_t j = abs.find('/', i);
        if (j == std::string::npos) j = abs.size();
        std::string c = abs.substr(i, j - i);
        if (c == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!c.empty() && c != ".") {
            parts.push_back(c);
        }
        i = j + 1;
    }
    std::string out;
    for (auto& p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

bool absolutize(int dirfd, const char* path, std::string& out) {
    if (path[0] == '/') {
        out = path;
        return true;
    }
    char base[PATH_MAX];
    if (dirfd == AT_FDCWD) {
        if (!getcwd(base, sizeof base)) return false;
    } else {
        char link[64];
        snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
        ssize_t n = realReadlink(link, base, sizeof base - 1);
        if (n <= 0 || base[0] != '/') return false;
        base[n] = 0;
    }
    out = std::string(base) + "/" + path;
    return true;
}

bool underPicture(const std::string& p) {
    size_t n = sizeof kPictureDir - 1;
    return p.compare(0, n, kPictureDir) == 0 && (p.size() == n || p[n] == '/');
}

// Where the board looks for a path of its own view: a path under /picture
// is read in the sandbox, never in the host's /picture.
std::string hostView(const std::string& p) { return underPicture(p) ? paths::sandboxRoot() + p : p; }

// Queues the components of `path` on `todo`, whose back is walked next.
void pushComponents(const std::string& path, std::vector<std::string>& todo) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        parts.push_back(path.substr(i, j - i));
        i = j + 1;
    }
    todo.insert(todo.end(), parts.rbegin(), parts.rend());
}

// Walks an absolute path as the kernel does, one component at a time: a
// symbolic link is replaced by its target before a ".." after it is applied
// (a link to /dev/shm followed by "../mem" is /dev/mem).  Components that do
// not exist on this host are taken as spelled (the board's nodes need not
// exist).  False with `error` when the walk cannot be finished here: a link
// that cannot be read for another reason than its absence, too many links
// (ELOOP), a result beyond PATH_MAX (ENAMETOOLONG).
bool walk(const std::string& abs, bool followLast, std::string& out, int& error) {
    std::vector<std::string> todo;
    pushComponents(abs, todo);
    // The path walked so far and, per component, its length before it: a
    // ".." cuts the string back, so a walk costs one lookup per component.
    std::string cur;
    std::vector<size_t> marks;
    // Below a component that does not exist nothing can be a link: the
    // rest is taken as spelled until a ".." climbs back above it.
    size_t missingAt = SIZE_MAX;
    int hops = 0;
    while (!todo.empty()) {
        std::string c = std::move(todo.back());
        todo.pop_back();
        if (c.empty() || c == ".") continue;
        if (c == "..") {
            if (!marks.empty()) {
                cur.resize(marks.back());
                marks.pop_back();
            }
            if (marks.size() <= missingAt) missingAt = SIZE_MAX;
            continue;
        }
        const size_t mark = cur.size();
        cur += '/';
        cur += c;
        if (cur.size() >= PATH_MAX) {
            error = ENAMETOOLONG;
            return false;
        }
        if ((todo.empty() && !followLast) || missingAt != SIZE_MAX) {
            marks.push_back(mark);
            continue;
        }
        char target[PATH_MAX];
        const std::string look = hostView(cur);
        ssize_t n = realReadlink(look.c_str(), target, sizeof target);
        if (n >= static_cast<ssize_t>(sizeof target)) {
            error = ENAMETOOLONG;
            return false;
        }
        if (n > 0) {
            if (++hops > kMaxLinkHops) {
                error = ELOOP;
                return false;
            }
            cur.resize(mark);
            if (target[0] == '/') {
                cur.clear();
                marks.clear();
                missingAt = SIZE_MAX;
            }
            pushComponents(std::string(target, static_cast<size_t>(n)), todo);
            continue;
        }
        if (errno != EINVAL && errno != ENOENT && errno != ENOTDIR && errno != EACCES) {
            error = errno;
            return false;
        }
        if (errno == ENOENT || errno == ENOTDIR) missingAt = marks.size();
        marks.push_back(mark);
    }
    out = cur.empty() ? std::string("/") : cur;
    return true;
}

Node matchNode(const std::string& p) {
    for (int n = 0; n < kNodeCount; ++n)
        if (p == ownedPath(n)) return static_cast<Node>(n);
    return Node::Count;
}

// Device numbers of the host's nodes of the board's names, so that another
// name for the same device (a hard link, a mknod copy) is owned too.
struct HostNodes {
    dev_t rdev[kNodeCount];
    bool present[kNodeCount];
};
const HostNodes& hostNodes() {
    static const HostNodes nodes = [] {
        HostNodes h{};
        for (int n = 0; n < kNodeCount; ++n) {
            struct stat64 st;
            h.present[n] = realStat(ownedPath(n), &st) == 0 && S_ISCHR(st.st_mode);
            h.rdev[n] = h.present[n] ? st.st_rdev : 0;
        }
        return h;
    }();
    return nodes;
}

Node matchDevice(const std::string& p) {
    struct stat64 st;
    int saved = errno;
    bool chr = realStat(p.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
    errno = saved;
    if (!chr) return Node::Count;
    const HostNodes& h = hostNodes();
    for (int n = 0; n < kNodeCount; ++n)
        if (h.present[n] && h.rdev[n] == st.st_rdev) return static_cast<Node>(n);
    return Node::Count;
}

// Whether the fast path may be used: nothing at the board's paths on this
// host but character devices, and no "/picture".  Looked at once.
bool hostAllowsFastPath() {
    static const bool allowed = [] {
        struct stat64 st;
        int saved = errno;
        bool ok = realStat(kPictureDir, &st) != 0;
        for (int n = 0; ok && n < kNodeCount; ++n) {
            VB_REAL(int (*)(const char*, struct stat64*), lstat64);
            ok = real_lstat64(ownedPath(n), &st) != 0 || S_ISCHR(st.st_mode);
        }
        errno = saved;
        return ok;
    }();
    return allowed;
}

// ---- sandbox root ----
std::mutex g_rootMu;
std::string* g_root = nullptr;
bool g_rootMade = false;
pid_t g_rootOwner = 0;
std::atomic<bool> g_fakeFree{false};
std::atomic<uint64_t> g_fakeFreeBytes{0};
std::atomic<uint32_t> g_fakeBlockBytes{0};

void makeTree(const std::string& root) {
    realMkdir(root.c_str(), 0755);
    realMkdir((root + "/picture").c_str(), 0755);
    realMkdir((root + "/picture/sd").c_str(), 0755);
    realMkdir((root + "/picture/data").c_str(), 0755);
}

std::string rootLocked() {
    if (!g_root) {
        const char* env = getenv("VYX_BOARD_ROOT");
        std::string abs;
        if (env && env[0] && absolutize(AT_FDCWD, env, abs)) {
            // A relative root is relative to the working directory.
            g_root = new std::string(normalize(abs));
        } else {
            const char* tmp = getenv("TMPDIR");
            std::string templ = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/vyxboard-root-XXXXXX";
            std::vector<char> buf(templ.begin(), templ.end());
            buf.push_back(0);
            if (mkdtemp(buf.data())) {
                g_root = new std::string(buf.data());
                g_rootMade = true;
                g_rootOwner = getpid();
            } else {
                g_root = new std::string("/tmp/vyxboard-root");
            }
        }
        makeTree(*g_root);
    }
    return *g_root;
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;
}

}  // namespace

namespace {

PathVerdict refused(int error) {
    PathVerdict v;
    v.kind = PathVerdict::Refused;
    v.error = error;
    return v;
}

PathVerdict nodeVerdict(Node n) {
    PathVerdict v;
    v.kind = PathVerdict::Node;
    v.node = n;
    return v;
}

// A relative path whose base folder cannot be named (a working directory
// deeper than PATH_MAX, no /proc to name a descriptor): it reaches a board
// node only through "..", a symbolic link or a device node on its way.  With
// none of these it is passed, otherwise refused with the error that stopped
// the naming.
PathVerdict unnamedBase(int dirfd, const char* path, bool followLast, int error) {
    if (!hostAllowsFastPath()) return refused(error);
    VB_REAL(int (*)(int, const char*, struct stat64*, int), fstatat64);
    std::vector<std::string> todo;
    pushComponents(path, todo);
    std::string prefix;
    while (!todo.empty()) {
        std::string c = std::move(todo.back());
        todo.pop_back();
        if (c.empty() || c == ".") continue;
        if (c == "..") return refused(error);
        prefix += (prefix.empty() ? "" : "/") + c;
        const bool last = todo.empty();
        struct stat64 st;
        if (real_fstatat64(dirfd, prefix.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) break;  // nothing further
        if (S_ISLNK(st.st_mode) && (!last || followLast)) return refused(error);
        if ((S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))) return refused(error);
    }
    return PathVerdict{};
}

}  // namespace

PathVerdict classifyPath(int dirfd, const char* path, bool followLast) {
    if (!path || !path[0]) return PathVerdict{};
    const int saved = errno;
    std::string abs;
    if (!absolutize(dirfd, path, abs)) {
        const int error = errno == ENAMETOOLONG || errno == ERANGE ? ENAMETOOLONG : EACCES;
        errno = saved;
        return unnamedBase(dirfd, path, followLast, error);
    }
    // A relative path whose full name is longer than the kernel would take
    // is judged from its base folder, as the kernel walks it.
    if (abs.size() >= PATH_MAX && path[0] != '/') return unnamedBase(dirfd, path, followLast, ENAMETOOLONG);
    // The spelling alone already names a node ("/dev/x/../mem" too).
    Node n = matchNode(normalize(abs));
    if (n != Node::Count) return nodeVerdict(n);
    std::string resolved;
    int error = 0;
    const bool walked = walk(abs, followLast, resolved, error);
    errno = saved;
    if (!walked) return refused(error);
    n = matchNode(resolved);
    if (n != Node::Count) return nodeVerdict(n);
    PathVerdict v;
    if (underPicture(resolved)) {
        v.kind = PathVerdict::Sandbox;
        v.hostPath = paths::sandboxRoot() + resolved;
    }
    // Another name of a host's node (a hard link, a mknod copy).
    if (followLast) {
        n = matchDevice(v.kind == PathVerdict::Sandbox ? v.hostPath : resolved);
        if (n != Node::Count) return nodeVerdict(n);
    }
    return v;
}

bool fastPathAllowed() { return hostAllowsFastPath(); }

bool plainMode(unsigned mode) { return !S_ISCHR(mode) && !S_ISBLK(mode) && !S_ISLNK(mode); }

bool plainObject(int dirfd, const char* path, bool followLast) {
    if (!path || !path[0] || !hostAllowsFastPath()) return false;
    VB_REAL(int (*)(int, const char*, struct stat64*, int), fstatat64);
    struct stat64 st;
    int saved = errno;
    bool plain =
        real_fstatat64(dirfd, path, &st, followLast ? 0 : AT_SYMLINK_NOFOLLOW) == 0 && plainMode(st.st_mode);
    errno = saved;
    return plain;
}

bool textuallyPlain(const char* path) {
    if (!path || path[0] != '/' || !hostAllowsFastPath()) return false;
    const char* p = path;
    bool first = true;
    const char* last = path;
    while (*p) {
        while (*p == '/') ++p;
        if (!*p) break;
        const char* end = p;
        while (*end && *end != '/') ++end;
        const size_t len = static_cast<size_t>(end - p);
        if (p[0] == '.' && (len == 1 || (len == 2 && p[1] == '.'))) return false;
        if (first && ((len == 3 && memcmp(p, "dev", 3) == 0) || (len == 7 && memcmp(p, "picture", 7) == 0)))
            return false;
        first = false;
        last = p;
        p = end;
    }
    // Whatever folder a board node's name is found in (a bind mount of /dev).
    for (int n = 0; n < kNodeCount; ++n) {
        const char* base = strrchr(ownedPath(n), '/') + 1;
        const size_t len = strlen(base);
        if (strncmp(last, base, len) == 0 && (last[len] == 0 || last[len] == '/')) return false;
    }
    return true;
}

bool sandboxRewrite(int dirfd, const char* path, std::string& hostPath) {
    if (!path || !path[0]) return false;
    std::string abs;
    if (!absolutize(dirfd, path, abs)) return false;
    std::string norm = normalize(abs);
    if (!underPicture(norm)) return false;
    hostPath = paths::sandboxRoot() + norm;
    return true;
}

bool fakeFreeSpace(uint64_t& bytes) {
    if (!g_fakeFree.load()) return false;
    bytes = g_fakeFreeBytes.load();
    return true;
}

uint32_t fakeBlockBytes() { return g_fakeBlockBytes.load(); }

// The plug-in is the one beside this library: lib/ of the build tree, or
// the folder the SDK is installed or unpacked into.
static const std::string& pluginBesideBoard() {
    static const std::string path = [] {
        constexpr char kPluginName[] = "libvyxSensorQ210B.so";
        Dl_info info{};
        if (!dladdr(reinterpret_cast<void*>(&pluginBesideBoard), &info) || !info.dli_fname)
            return std::string(kPluginName);
        std::string self = info.dli_fname;
        size_t slash = self.rfind('/');
        return slash == std::string::npos ? std::string(kPluginName)
                                          : self.substr(0, slash + 1) + kPluginName;
    }();
    return path;
}

const char* pluginPath() {
    const char* env = getenv("VYX_BOARD_PLUGIN");
    return env && env[0] ? env : pluginBesideBoard().c_str();
}

namespace paths {

std::string sandboxRoot() {
    std::lock_guard<std::mutex> lock(g_rootMu);
    return rootLocked();
}

void setSandboxRoot(const std::string& root) {
    std::lock_guard<std::mutex> lock(g_rootMu);
    std::string abs;
    if (!absolutize(AT_FDCWD, root.c_str(), abs)) abs = root;
    if (!g_root) g_root = new std::string;
    if (g_rootMade && g_rootOwner == getpid())
        nftw(g_root->c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    g_rootMade = false;
    *g_root = normalize(abs);
    makeTree(*g_root);
}

std::string sandboxPath(const std::string& boardPath) {
    std::string norm = normalize(boardPath);
    return paths::sandboxRoot() + norm;
}

void setFakeFreeSpace(uint64_t bytes, uint32_t blockBytes) {
    g_fakeFreeBytes.store(bytes);
    g_fakeBlockBytes.store(blockBytes);
    g_fakeFree.store(true);
}

void clearFakeFreeSpace() { g_fakeFree.store(false); }

}  // namespace paths
}  // namespace vb

// The private root made for this process goes away with it.
__attribute__((destructor)) static void vyxboardRemoveRoot() {
    std::lock_guard<std::mutex> lock(vb::g_rootMu);
    if (vb::g_root && vb::g_rootMade && vb::g_rootOwner == getpid()) {
        // Remove the whole folder this process created, deepest entries first.
        nftw(vb::g_root->c_str(), vb::removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
}
