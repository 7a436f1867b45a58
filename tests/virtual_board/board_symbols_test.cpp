// The board must take over every libc entry point through which the SDK's
// binaries could reach a device node.  This reads the dynamic symbol tables
// of the libraries and programs in the build tree and fails on an import the
// board does not define: such a call would go straight to the kernel.
#include <dirent.h>
#include <dlfcn.h>
#include <gnu/libc-version.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// libc entry points that open, read, write, map, wait on, control or load
// through a path or descriptor.  fstat, readlink and the like only look.
const char* const kNodeReaching[] = {"open",
                                     "open64",
                                     "__open_2",
                                     "__open64_2",
                                     "openat",
                                     "openat64",
                                     "__openat_2",
                                     "__openat64_2",
                                     "creat",
                                     "creat64",
                                     "fopen",
                                     "fopen64",
                                     "freopen",
                                     "freopen64",
                                     "close",
                                     "read",
                                     "__read_chk",
                                     "pread",
                                     "pread64",
                                     "__pread_chk",
                                     "__pread64_chk",
                                     "readv",
                                     "preadv",
                                     "preadv64",
                                     "write",
                                     "pwrite",
                                     "pwrite64",
                                     "writev",
                                     "pwritev",
                                     "pwritev64",
                                     "ioctl",
                                     "__ioctl_time64",
                                     "mmap",
                                     "mmap64",
                                     "munmap",
                                     "select",
                                     "__select64",
                                     "pselect",
                                     "__pselect64",
                                     "poll",
                                     "__poll_chk",
                                     "ppoll",
                                     "__ppoll64",
                                     "epoll_ctl",
                                     "dup",
                                     "dup2",
                                     "dup3",
                                     "fcntl",
                                     "fcntl64",
                                     "__fcntl_time64",
                                     "stat",
                                     "stat64",
                                     "lstat",
                                     "lstat64",
                                     "__stat64_time64",
                                     "__lstat64_time64",
                                     "__xstat",
                                     "__xstat64",
                                     "__lxstat",
                                     "__lxstat64",
                                     "fstatat",
                                     "fstatat64",
                                     "__fstatat64_time64",
                                     "__fxstatat",
                                     "__fxstatat64",
                                     "statfs",
                                     "statfs64",
                                     "statvfs",
                                     "statvfs64",
                                     "access",
                                     "faccessat",
                                     "euidaccess",
                                     "eaccess",
                                     "dlopen",
                                     "dlmopen",
                                     "rename",
                                     "renameat",
                                     "renameat2",
                                     "unlink",
                                     "unlinkat",
                                     "remove",
                                     "mkdir",
                                     "mkdirat",
                                     "rmdir",
                                     "mkstemp",
                                     "mkstemp64",
                                     "mkostemp",
                                     "mkostemp64",
                                     "mkstemps",
                                     "mkostemps",
                                     "opendir",
                                     "sendfile",
                                     "sendfile64",
                                     "splice",
                                     "syscall",
                                     "chmod",
                                     "fchmodat",
                                     "chown",
                                     "lchown",
                                     "fchownat",
                                     "truncate",
                                     "truncate64",
                                     "utimensat",
                                     "utimes",
                                     "lutimes",
                                     "utime",
                                     "mkfifo",
                                     "mkfifoat",
                                     "link",
                                     "linkat",
                                     "symlink",
                                     "symlinkat",
                                     "close_range",
                                     "closefrom"};

std::string run(const std::string& cmd, int& status) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) {
        status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    status = pclose(p);
    return out;
}

// Dynamic symbols of an ELF file: undefined (imports) or defined functions.
std::set<std::string> symbols(const std::string& file, bool imports) {
    int status = 0;
    std::string out = run("readelf -W --dyn-syms '" + file + "' 2>/dev/null", status);
    EXPECT_EQ(status, 0) << "readelf failed on " << file;
    std::set<std::string> names;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string num, value, size, type, bind, vis, ndx, name;
        if (!(f >> num >> value >> size >> type >> bind >> vis >> ndx >> name)) continue;
        if (num.empty() || num.back() != ':') continue;
        bool undefined = ndx == "UND";
        if (imports != undefined) continue;
        if (!imports && type != "FUNC") continue;
        name = name.substr(0, name.find('@'));
        if (!name.empty()) names.insert(name);
    }
    return names;
}

std::string binDir() {
    if (const char* env = getenv("VYX_TEST_BIN")) return env;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return ".";
    exe[n] = 0;
    std::string s(exe);
    return s.substr(0, s.rfind('/'));
}

bool isFile(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Programs that link the board themselves (the test programs) are covered
// whatever they import.
bool linksTheBoard(const std::string& file) {
    int status = 0;
    std::string out = run("readelf -W -d '" + file + "' 2>/dev/null", status);
    return out.find("[libvyxboard.so]") != std::string::npos;
}

// The shipped libraries and the programs of the tree that run on the board.
std::vector<std::string> sdkBinaries(const std::string& bin, const std::string& lib) {
    std::vector<std::string> files;
    for (const char* name : {"libvyxzeb.so", "libvyxSensorQ210B.so"})
        if (isFile(lib + "/" + name)) files.push_back(lib + "/" + name);
    if (DIR* d = opendir(bin.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name, path = bin + "/" + name;
            if (name[0] == '.' || name == "vyxsim" || !isFile(path) || access(path.c_str(), X_OK) != 0)
                continue;
            if (!linksTheBoard(path)) files.push_back(path);
        }
        closedir(d);
    }
    return files;
}

TEST(BoardSymbols, EveryNodeReachingImportOfTheSdkIsInterposed) {
    std::string bin = binDir(), lib = bin + "/../lib";
    std::string board = lib + "/libvyxboard.so";
    ASSERT_TRUE(isFile(board)) << board;
    std::set<std::string> interposed = symbols(board, false);
    ASSERT_GT(interposed.count("open"), 0u) << "cannot read the board's own symbols";

    std::vector<std::string> files = sdkBinaries(bin, lib);
    ASSERT_FALSE(files.empty()) << "no SDK binaries in " << lib;
    ASSERT_TRUE(isFile(lib + "/libvyxzeb.so")) << "libvyxzeb.so missing from " << lib;
    const std::set<std::string> reaching(std::begin(kNodeReaching), std::end(kNodeReaching));
    for (const auto& file : files) {
        for (const auto& name : symbols(file, true)) {
            if (reaching.count(name) && !interposed.count(name))
                ADD_FAILURE() << file << " imports " << name
                              << ", which can reach a device node but is not interposed";
        }
    }
}

// The family of a libc name: its name without the marks of its variants
// (__x, x64, x_time64, __x_chk, __x_2, xv2), so that open, open64, __open,
// __open_2 and __open64_2 are one family, as are fstatat, fstatat64 and
// __fstatat64_time64.
std::string family(std::string name) {
    if (name.compare(0, 2, "__") == 0) name.erase(0, 2);
    for (const char* mark : {"_time64", "_chk", "_2"}) {
        const size_t n = strlen(mark);
        if (name.size() > n && name.compare(name.size() - n, n, mark) == 0) name.erase(name.size() - n);
    }
    for (size_t at; (at = name.find("64")) != std::string::npos;)
        name.erase(at, 2);
    if (name.size() > 2 && name.compare(name.size() - 2, 2, "v2") == 0) name.erase(name.size() - 2);
    return name;
}

// The public functions of the libc this process runs on.  The file is read
// through this process (under an emulator its path is the emulated
// system's) into a copy that readelf can read.
std::set<std::string> libcExports(const std::string& scratch) {
    Dl_info info{};
    EXPECT_NE(dladdr(reinterpret_cast<void*>(&gnu_get_libc_version), &info), 0);
    EXPECT_NE(info.dli_fname, nullptr);
    std::set<std::string> names;
    if (!info.dli_fname) return names;
    FILE* in = fopen(info.dli_fname, "rb");
    FILE* out = fopen(scratch.c_str(), "wb");
    EXPECT_NE(in, nullptr) << info.dli_fname;
    EXPECT_NE(out, nullptr) << scratch;
    char buf[65536];
    size_t n;
    while (in && out && (n = fread(buf, 1, sizeof buf, in)) > 0)
        EXPECT_EQ(fwrite(buf, 1, n, out), n);
    if (in) fclose(in);
    if (out) fclose(out);
    int status = 0;
    std::istringstream lines(run("readelf -W --dyn-syms '" + scratch + "' 2>/dev/null", status));
    EXPECT_EQ(status, 0);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        std::string num, value, size, type, bind, vis, ndx, name;
        if (!(f >> num >> value >> size >> type >> bind >> vis >> ndx >> name)) continue;
        if (type != "FUNC" || ndx == "UND" || name.find("GLIBC_PRIVATE") != std::string::npos) continue;
        names.insert(name.substr(0, name.find('@')));
    }
    return names;
}

// Every variant libc exports of a call the board takes over must be taken
// over too: a program built with other options (large files, 64-bit time,
// fortified calls) imports the variant, which would otherwise go straight
// to the kernel with a board path.
TEST(BoardSymbols, EveryLibcVariantOfAnInterposedCallIsInterposed) {
    const std::string board = binDir() + "/../lib/libvyxboard.so";
    ASSERT_TRUE(isFile(board)) << board;
    const std::set<std::string> interposed = symbols(board, false);
    const std::string scratch = "/tmp/vyxboard-libc-" + std::to_string(getpid()) + ".so";
    const std::set<std::string> libc = libcExports(scratch);
    unlink(scratch.c_str());
    ASSERT_GT(libc.count("open"), 0u) << "cannot read libc's exports";
    ASSERT_GT(libc.count("fstatat64"), 0u) << "cannot read libc's exports";
    std::set<std::string> families;
    for (const auto& name : interposed)
        if (libc.count(name)) families.insert(family(name));
    for (const auto& name : libc)
        if (families.count(family(name)) && !interposed.count(name))
            ADD_FAILURE() << "libc exports " << name << " beside the interposed " << family(name)
                          << ", but the board does not take it over";
}

}  // namespace
