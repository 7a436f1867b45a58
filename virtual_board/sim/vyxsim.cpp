// vyxsim - runs a program on the virtual board.
//
//   vyxsim [--root DIR] [--frames N] [--seconds S] [--hdmi FILE] -- PROGRAM ARGS...
//
// The program is started with the board preloaded (LD_PRELOAD; for an armhf
// build the program runs under the emulator qemu-arm, and the preload is
// passed as QEMU_SET_ENV=LD_PRELOAD=... so that it reaches the emulated
// program and not the emulator).  The board library is found relative to the
// launcher (lib/ beside its bin/ folder).  A sanitizer runtime that the
// program or the board needs is preloaded first: AddressSanitizer refuses to
// run when another preloaded library comes before it.  The camera's storage
// folders /picture/sd/ and /picture/data/ live under DIR/picture/ (default
// ./vyxsim-root).
// With --frames the run ends after that many frames were delivered, with
// --seconds after that long; the program then gets SIGTERM, and SIGKILL if it
// has not ended after a grace period.  With --hdmi the emulated HDMI screen
// is written as a PNG file when the run ends.
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The board library, relative to the folder of this program.
#ifndef VYX_BOARD_LIBRARY
#define VYX_BOARD_LIBRARY "../lib/libvyxboard.so"
#endif
#ifndef VYX_SIM_EMULATOR
#define VYX_SIM_EMULATOR ""
#endif

namespace {

constexpr int kGraceMs = 5000;        // SIGTERM -> SIGKILL
constexpr int kScreenSaveMs = 10000;  // how long the board may take to write the PNG
constexpr int kTickMs = 100;          // how often the child's state is looked at

// Largest dynamic string table read from a program (a real one is a few KiB).
constexpr size_t kMaxDynamicStrings = 1 << 20;

// Default board library: VYX_BOARD_LIBRARY relative to this program.
std::string boardLibrary() {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return VYX_BOARD_LIBRARY;
    std::string dir(self, static_cast<size_t>(n));
    return dir.substr(0, dir.rfind('/') + 1) + VYX_BOARD_LIBRARY;
}

struct Options {
    std::string root = "vyxsim-root";
    unsigned long long frames = 0;
    double seconds = 0;
    std::string hdmi;
    std::vector<std::string> command;
};

void usage(FILE* out) {
    fprintf(out,
            "usage: vyxsim [--root DIR] [--frames N] [--seconds S] [--hdmi FILE] -- PROGRAM "
            "[ARGS...]\n"
            "  --root DIR    sandbox root; /picture/sd/ and /picture/data/ live in DIR/picture/\n"
            "                (default ./vyxsim-root)\n"
            "  --frames N    end the program after N delivered frames\n"
            "  --seconds S   end the program after S seconds\n"
            "  --hdmi FILE   write the HDMI screen as PNG to FILE when the run ends\n"
            "The board library is %s (override: VYXSIM_BOARD).\n",
            boardLibrary().c_str());
}

bool parse(int argc, char** argv, Options& o) {
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                fprintf(stderr, "vyxsim: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (a == "--") {
            ++i;
            break;
        } else if (a == "--root") {
            const char* v = value("--root");
            if (!v) return false;
            o.root = v;
        } else if (a == "--frames") {
            const char* v = value("--frames");
            char* end = nullptr;
            if (!v || (o.frames = strtoull(v, &end, 10)) == 0 || *end) {
                fprintf(stderr, "vyxsim: --frames needs a positive count\n");
                return false;
            }
        } else if (a == "--seconds") {
            const char* v = value("--seconds");
            char* end = nullptr;
            if (!v || (o.seconds = strtod(v, &end)) <= 0 || *end) {
                fprintf(stderr, "vyxsim: --seconds needs a positive number\n");
                return false;
            }
        } else if (a == "--hdmi") {
            const char* v = value("--hdmi");
            if (!v) return false;
            o.hdmi = v;
        } else if (a == "-h" || a == "--help") {
            usage(stdout);
            exit(0);
        } else {
            // The program may also follow without "--".
            break;
        }
    }
    for (; i < argc; ++i) o.command.push_back(argv[i]);
    if (o.command.empty()) {
        usage(stderr);
        return false;
    }
    return true;
}

std::string absolute(const std::string& p) {
    if (!p.empty() && p[0] == '/') return p;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return p;
    return std::string(cwd) + "/" + p;
}

bool makeDir(const std::string& p) {
    if (mkdir(p.c_str(), 0755) == 0 || errno == EEXIST) return true;
    fprintf(stderr, "vyxsim: cannot create %s: %s\n", p.c_str(), strerror(errno));
    return false;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i <= s.size()) {
        size_t j = s.find(sep, i);
        if (j == std::string::npos) j = s.size();
        if (j > i) out.push_back(s.substr(i, j - i));
        i = j + 1;
    }
    return out;
}

double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Reads one line the board sent within the time limit; empty when none came.
std::string readLine(int fd, int timeoutMs) {
    std::string line;
    double end = now() + timeoutMs / 1000.0;
    while (true) {
        int left = static_cast<int>((end - now()) * 1000);
        if (left <= 0) return {};
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) continue;
        char c;
        ssize_t n = read(fd, &c, 1);
        if (n <= 0) return {};
        if (c == '\n') return line;
        line += c;
    }
}

// Path execvp would run for a command name.
std::string findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = getenv("PATH");
    for (const std::string& dir : split(path ? path : "/usr/bin:/bin", ':')) {
        std::string p = dir + "/" + name;
        if (access(p.c_str(), X_OK) == 0) return p;
    }
    return name;
}

// Whether a file is an ELF program for the emulated processor (32-bit ARM);
// host programs (a shell, a script) run directly, without the board.
bool isEmulatedElf(const std::string& file) {
    constexpr unsigned char kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
    constexpr unsigned kMachineOffset = 18;   // e_machine, little endian
    constexpr unsigned kMachineArm = 40;      // EM_ARM
    unsigned char h[20] = {};
    FILE* f = fopen(file.c_str(), "rb");
    if (!f) return true;
    size_t n = fread(h, 1, sizeof h, f);
    fclose(f);
    if (n < sizeof h || memcmp(h, kElfMagic, 4) != 0) return false;
    return static_cast<unsigned>(h[kMachineOffset] | h[kMachineOffset + 1] << 8) == kMachineArm;
}

// Reads n bytes at an offset; false when the file is shorter.
bool readAt(FILE* f, long offset, void* out, size_t n) {
    return fseek(f, offset, SEEK_SET) == 0 && fread(out, 1, n, f) == n;
}

// NEEDED entries of an ELF file of one class (32 or 64 bit), from its
// dynamic section and the string table that section links to.
template <typename Ehdr, typename Shdr, typename Dyn>
std::vector<std::string> neededOf(FILE* f) {
    std::vector<std::string> out;
    Ehdr eh;
    if (!readAt(f, 0, &eh, sizeof eh) || eh.e_shentsize != sizeof(Shdr)) return out;
    auto section = [&](unsigned i, Shdr& sh) {
        return i < eh.e_shnum && readAt(f, static_cast<long>(eh.e_shoff + i * sizeof(Shdr)), &sh, sizeof sh);
    };
    for (unsigned i = 0; i < eh.e_shnum; ++i) {
        Shdr dyn, str;
        if (!section(i, dyn) || dyn.sh_type != SHT_DYNAMIC || !section(dyn.sh_link, str)) continue;
        if (str.sh_size > kMaxDynamicStrings) break;
        std::vector<char> strings(str.sh_size + 1, '\0');
        if (!readAt(f, static_cast<long>(str.sh_offset), strings.data(), str.sh_size)) break;
        for (size_t k = 0; k < dyn.sh_size / sizeof(Dyn); ++k) {
            Dyn d;
            if (!readAt(f, static_cast<long>(dyn.sh_offset + k * sizeof(Dyn)), &d, sizeof d) ||
                d.d_tag == DT_NULL)
                break;
            if (d.d_tag == DT_NEEDED && d.d_un.d_val < str.sh_size) out.push_back(&strings[d.d_un.d_val]);
        }
        break;
    }
    return out;
}

// Sonames an ELF program or library records as NEEDED; empty for anything
// else (a script, a missing file).
std::vector<std::string> neededLibraries(const std::string& file) {
    std::vector<std::string> out;
    FILE* f = fopen(file.c_str(), "rb");
    if (!f) return out;
    unsigned char ident[EI_NIDENT] = {};
    if (readAt(f, 0, ident, sizeof ident) && memcmp(ident, ELFMAG, SELFMAG) == 0) {
        if (ident[EI_CLASS] == ELFCLASS64)
            out = neededOf<Elf64_Ehdr, Elf64_Shdr, Elf64_Dyn>(f);
        else if (ident[EI_CLASS] == ELFCLASS32)
            out = neededOf<Elf32_Ehdr, Elf32_Shdr, Elf32_Dyn>(f);
    }
    fclose(f);
    return out;
}

bool isSanitizerRuntime(const std::string& soname) {
    for (const char* prefix : {"libasan.", "libhwasan.", "libtsan."})
        if (soname.compare(0, strlen(prefix), prefix) == 0) return true;
    return false;
}

// The preload list: sanitizer runtimes the program or the board need come
// first (they must be the first libraries of the process), then the board.
std::string preloadList(const std::string& program, const std::string& board) {
    std::vector<std::string> first;
    for (const std::string& file : {program, board})
        for (const std::string& lib : neededLibraries(file))
            if (isSanitizerRuntime(lib) && std::find(first.begin(), first.end(), lib) == first.end())
                first.push_back(lib);
    std::string list;
    for (const std::string& lib : first) list += lib + ":";
    return list + board;
}

int exitCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) return 2;
    std::string root = absolute(o.root);
    if (!makeDir(root) || !makeDir(root + "/picture") || !makeDir(root + "/picture/sd") ||
        !makeDir(root + "/picture/data"))
        return 2;
    std::string hdmi = o.hdmi.empty() ? std::string() : absolute(o.hdmi);
    const char* boardEnv = getenv("VYXSIM_BOARD");
    std::string board = boardEnv && boardEnv[0] ? boardEnv : boardLibrary();

    int toBoard[2], fromBoard[2];
    if (pipe(toBoard) != 0 || pipe(fromBoard) != 0) {
        perror("vyxsim: pipe");
        return 2;
    }
    fcntl(toBoard[1], F_SETFD, FD_CLOEXEC);
    fcntl(fromBoard[0], F_SETFD, FD_CLOEXEC);

    fprintf(stderr, "vyxsim: board %s\nvyxsim: pictures in %s/picture/sd and %s/picture/data\n",
            board.c_str(), root.c_str(), root.c_str());
    if (!hdmi.empty()) fprintf(stderr, "vyxsim: HDMI screen will be written to %s\n", hdmi.c_str());

    pid_t child = fork();
    if (child < 0) {
        perror("vyxsim: fork");
        return 2;
    }
    if (child == 0) {
        setenv("VYX_BOARD_ROOT", root.c_str(), 1);
        std::string control = std::to_string(toBoard[0]) + "," + std::to_string(fromBoard[1]);
        setenv("VYX_BOARD_CONTROL", control.c_str(), 1);
        if (o.frames) setenv("VYX_BOARD_FRAMES", std::to_string(o.frames).c_str(), 1);
        if (!hdmi.empty()) setenv("VYX_BOARD_HDMI", hdmi.c_str(), 1);
        std::vector<std::string> cmd;
        std::vector<std::string> emulator = split(VYX_SIM_EMULATOR, '|');
        const std::string program = findProgram(o.command[0]);
        if (!emulator.empty()) {
            // Emulated programs get the preload through the emulator; a host
            // program passes it on to the emulated programs it starts.
            setenv("QEMU_SET_ENV", ("LD_PRELOAD=" + preloadList(program, board)).c_str(), 1);
            if (isEmulatedElf(program)) cmd = emulator;
        } else {
            // Whatever the caller preloaded already comes after the board.
            std::string list = preloadList(program, board);
            const char* old = getenv("LD_PRELOAD");
            if (old && old[0]) list += std::string(":") + old;
            setenv("LD_PRELOAD", list.c_str(), 1);
        }
        cmd.insert(cmd.end(), o.command.begin(), o.command.end());
        std::vector<char*> args;
        for (auto& c : cmd) args.push_back(const_cast<char*>(c.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        fprintf(stderr, "vyxsim: cannot run %s: %s\n", args[0], strerror(errno));
        _exit(127);
    }
    close(toBoard[0]);
    close(fromBoard[1]);
    signal(SIGPIPE, SIG_IGN);

    double deadline = o.seconds > 0 ? now() + o.seconds : 0;
    int status = 0;
    bool ended = false, stoppedByUs = false;
    std::string reason, report;
    std::string pending;
    while (!ended) {
        pid_t w = waitpid(child, &status, WNOHANG);
        if (w == child) {
            ended = true;
            break;
        }
        pollfd p{fromBoard[0], POLLIN, 0};
        if (poll(&p, 1, kTickMs) > 0) {
            char buf[128];
            ssize_t n = read(fromBoard[0], buf, sizeof buf);
            if (n > 0) pending.append(buf, static_cast<size_t>(n));
            size_t eol;
            while ((eol = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 1);
                if (line.compare(0, 7, "frames ") == 0) {
                    reason = "frame target reached";
                    report = line;
                }
            }
        }
        if (reason.empty() && deadline > 0 && now() >= deadline) reason = "time is up";
        if (!reason.empty()) break;
    }
    if (!ended) {
        // Let the board write the screen, then end the program.
        if (!hdmi.empty() && report.empty()) {
            if (write(toBoard[1], "stop\n", 5) == 5) {
                std::string line;
                do {
                    line = readLine(fromBoard[0], kScreenSaveMs);
                } while (!line.empty() && line.compare(0, 8, "stopped ") != 0);
                report = line;
            }
        }
        stoppedByUs = true;
        kill(child, SIGTERM);
        double killAt = now() + kGraceMs / 1000.0;
        while (waitpid(child, &status, WNOHANG) != child) {
            if (now() >= killAt) {
                fprintf(stderr, "vyxsim: program ignored SIGTERM, killing it\n");
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                break;
            }
            poll(nullptr, 0, 20);
        }
    }
    close(toBoard[1]);
    close(fromBoard[0]);

    unsigned long long frames = 0;
    int png = 0;
    if (!report.empty()) {
        const char* sp = strchr(report.c_str(), ' ');
        if (sp) sscanf(sp + 1, "%llu %d", &frames, &png);
        fprintf(stderr, "vyxsim: %llu frames delivered\n", frames);
    }
    if (!hdmi.empty()) {
        struct stat st;
        bool there = stat(hdmi.c_str(), &st) == 0;
        fprintf(stderr, there ? "vyxsim: HDMI screen written to %s\n"
                              : "vyxsim: HDMI screen was not written (%s)\n",
                hdmi.c_str());
    }
    fprintf(stderr, "vyxsim: pictures in %s/picture; the SDK log folder VYXLog is beside the program\n",
            root.c_str());
    if (stoppedByUs) {
        fprintf(stderr, "vyxsim: run ended (%s)\n", reason.c_str());
        return 0;
    }
    fprintf(stderr, "vyxsim: program ended with status %d\n", exitCode(status));
    return exitCode(status);
}
