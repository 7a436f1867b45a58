// vyxsim - runs a program on the virtual board.
//
//   vyxsim [--root DIR] [--frames N] [--seconds S] [--hdmi FILE] [board settings] -- PROGRAM ARGS...
//
// The board settings (scene, noise, stamp, trigger input, trace, screen
// rewrites) are passed to the board as its VYXSIM_* variables (SimConfig.h),
// checked here first so that a bad value refuses the run.
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
// --seconds after that long, and on SIGINT, SIGTERM or SIGHUP to vyxsim.  The
// program runs in a process group of its own, and the end of a run ends the
// whole group: SIGTERM, then SIGKILL for what has not ended after a grace
// period.  With --hdmi the emulated HDMI screen is written as a PNG file when
// the run ends, and with --hdmi-every also that often while it runs (each
// time replaced whole, ScreenFile.h).  When no program of the run used the
// board, nothing is waited for: vyxsim writes the screen, black, itself.
//
// Exit status: the program's own status, 128+N when it died of signal N; a
// run ended by vyxsim is 0 when the program ended cleanly on SIGTERM, the
// program's status when it failed while ending, 137 when it had to be killed;
// a run ended by a signal to vyxsim is 128+that signal.  2: bad options.
// 125: the board did not come up in the program (see below).
//
// Fail closed: the program must never run against the machine's real device
// nodes.  Before starting it vyxsim checks that the board library is a shared
// object of the program's kind and that the loader will honour the preload
// (no set-user-ID or set-group-ID program, no static program).  Then the
// board, once it is up in the program, writes its banner to a pipe whose
// descriptor vyxsim names in VYX_BOARD_READY, before the program's main();
// without it within a bound vyxsim ends the run and refuses with 125.
#include <dirent.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Namespace.h"
#include "ScreenFile.h"
#include "SimConfig.h"

// The board library, relative to the folder of this program.
#ifndef VYX_BOARD_LIBRARY
#define VYX_BOARD_LIBRARY "../lib/libvyxboard.so"
#endif
#ifndef VYX_SIM_EMULATOR
#define VYX_SIM_EMULATOR ""
#endif

namespace {

constexpr int kGraceMs = 5000;        // SIGTERM -> SIGKILL
constexpr int kHeldMs = 60000;        // ... for a program the kernel holds
constexpr int kScreenSaveMs = 10000;  // how long the board may take to write the PNG
constexpr int kTickMs = 100;          // how often the child's state is looked at
constexpr int kReadyMs = 30000;       // how long the board may take to come up in the program

constexpr int kStatusUsage = 2;
constexpr int kStatusNoBoard = 125;
constexpr int kStatusKilled = 128 + SIGKILL;

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
    bool triggerOnSignal = false;
    std::string trace;
    // Board settings: variable and value.
    std::vector<std::pair<std::string, std::string>> board;
    std::vector<std::string> command;
    // The private view of the device nodes: 0 where the kernel allows it,
    // -1 never (--no-namespace), 1 required (--require-namespace).
    int privateView = 0;
};

namespace env = vb::model::env;

// A board setting given as an option with a value.
struct Setting {
    const char* option;
    const char* variable;
    bool (*check)(const char* text);
    const char* need;  // what the value must be
    bool path;         // made absolute
};

bool anyText(const char* text) { return text[0] != '\0'; }
bool nonNegative(const char* text) {
    double v;
    return vb::model::parseNonNegative(text, v);
}
bool positive(const char* text) {
    double v;
    return vb::model::parsePositive(text, v);
}
bool count(const char* text) {
    uint64_t v;
    return vb::model::parseCount(text, v);
}
bool pollMode(const char* text) {
    vb::model::PollMode m;
    return vb::model::parsePollMode(text, m);
}

const Setting kSettings[] = {
    {"--scene", env::kScene, anyText, "a PNG file, a folder of PNG files or \"moving\"", true},
    {"--scene-fps", env::kSceneFps, nonNegative, "a picture rate of 0 or more per second", false},
    {"--light", env::kLight, nonNegative, "a light factor of 0 or more", false},
    {"--seed", env::kSeed, count, "a decimal number", false},
    {"--trigger-every", env::kTriggerEvery, positive, "a positive period in milliseconds", false},
    {"--trace", env::kTrace, anyText, "a file name", true},
    {"--hdmi-every", env::kHdmiEvery, positive, "a positive period in milliseconds", false},
    {"--poll", env::kPoll, pollMode, "auto, on or off", false},
};

// A board setting given as a switch.
struct Switch {
    const char* option;
    const char* variable;
    const char* value;
};

const Switch kSwitches[] = {
    {"--no-stamp", env::kStamp, "0"},
    {"--noise", env::kNoise, "1"},
    {"--trigger-on-signal", env::kTriggerOnSignal, "1"},
};

void usage(FILE* out) {
    fprintf(out,
            "usage: vyxsim [OPTIONS] -- PROGRAM [ARGS...]\n"
            "  --root DIR           sandbox root; /picture/sd/ and /picture/data/ live in\n"
            "                       DIR/picture/ (default ./vyxsim-root)\n"
            "  --frames N           end the program after N delivered frames\n"
            "  --seconds S          end the program after S seconds\n"
            "  --hdmi FILE          write the HDMI screen as PNG to FILE when the run ends\n"
            "  --no-namespace       run on this machine's own view of its device nodes\n"
            "                       (default: a private view in which they are empty files)\n"
            "  --require-namespace  refuse to run where the private view cannot be made\n"
            "  --hdmi-every MS      with --hdmi: also rewrite FILE every MS milliseconds while\n"
            "                       the program runs (replaced whole: a viewer never sees half)\n"
            "  --poll MODE          auto (default): poll for frames instead of sleeping when\n"
            "                       this machine wakes sleeping threads too late for the\n"
            "                       frame rate (virtual machines); on: always; off: never\n"
            "what the camera sees:\n"
            "  --scene PATH         a PNG file, a folder of PNG files (name order, looping)\n"
            "                       or \"moving\" (shapes moving over a textured background)\n"
            "  --scene-fps F        pictures per second of a sequence (default: one per frame)\n"
            "  --light X            light the scene X times more brightly (default 1)\n"
            "  --noise              sensor noise: shot noise, read noise, hot pixels\n"
            "  --seed N             seed of the noise (default 1)\n"
            "  --no-stamp           no frame counter in the first 8 bytes of each frame\n"
            "the trigger input (GPIO input line 0):\n"
            "  --trigger-every MS   a square wave of period MS milliseconds\n"
            "  --trigger-on-signal  one pulse for each SIGUSR1 sent to vyxsim or the program\n"
            "  --trace FILE.vcd     write a waveform trace of the camera's signals (GTKWave)\n"
            "Every setting is also a VYXSIM_* variable of the board (see the board's README).\n"
            "The board library is %s (override: VYXSIM_BOARD, the board library and\n"
            "further libraries to preload after it, separated by ':').\n",
            boardLibrary().c_str());
}

std::string absolute(const std::string& p) {
    if (!p.empty() && p[0] == '/') return p;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return p;
    return std::string(cwd) + "/" + p;
}

const Setting* findSetting(const std::string& option) {
    for (const Setting& s : kSettings)
        if (option == s.option) return &s;
    return nullptr;
}

const Switch* findSwitch(const std::string& option) {
    for (const Switch& s : kSwitches)
        if (option == s.option) return &s;
    return nullptr;
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
            errno = 0;
            if (!v || !isdigit(static_cast<unsigned char>(v[0])) || (o.frames = strtoull(v, &end, 10)) == 0 ||
                *end || errno == ERANGE) {
                fprintf(stderr, "vyxsim: --frames needs a positive count\n");
                return false;
            }
        } else if (a == "--seconds") {
            const char* v = value("--seconds");
            char* end = nullptr;
            if (!v || !(o.seconds = strtod(v, &end), std::isfinite(o.seconds)) || o.seconds <= 0 ||
                end == v || *end) {
                fprintf(stderr, "vyxsim: --seconds needs a finite positive number\n");
                return false;
            }
        } else if (a == "--hdmi") {
            const char* v = value("--hdmi");
            if (!v) return false;
            o.hdmi = v;
        } else if (const Setting* setting = findSetting(a)) {
            const char* v = value(setting->option);
            if (!v) return false;
            if (!setting->check(v)) {
                fprintf(stderr, "vyxsim: %s needs %s\n", setting->option, setting->need);
                return false;
            }
            std::string text = v;
            if (setting->path && text != vb::model::kMovingSceneName) text = absolute(text);
            o.board.emplace_back(setting->variable, text);
            if (a == "--trace") o.trace = text;
        } else if (const Switch* sw = findSwitch(a)) {
            o.board.emplace_back(sw->variable, sw->value);
            if (a == "--trigger-on-signal") o.triggerOnSignal = true;
        } else if (a == "--no-namespace" || a == "--require-namespace") {
            o.privateView = a == "--no-namespace" ? -1 : 1;
        } else if (a == "-h" || a == "--help") {
            usage(stdout);
            exit(0);
        } else if (a.size() > 1 && a[0] == '-') {
            // A mistyped option must never be run as the program.
            fprintf(stderr, "vyxsim: unknown option %s\n", a.c_str());
            usage(stderr);
            return false;
        } else {
            // The program may also follow without "--".
            break;
        }
    }
    for (; i < argc; ++i) o.command.push_back(argv[i]);
    const bool rewrites = std::any_of(o.board.begin(), o.board.end(),
                                      [](const auto& setting) { return setting.first == env::kHdmiEvery; });
    if (rewrites && o.hdmi.empty()) {
        fprintf(stderr, "vyxsim: --hdmi-every needs --hdmi FILE\n");
        return false;
    }
    if (o.command.empty()) {
        usage(stderr);
        return false;
    }
    return true;
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

// What the boards of the run said (Launch.cpp in the board).
struct BoardNews {
    bool up = false;      // a process of the run uses the board
    std::string frames;   // "frames <n> <png>": the frame target was reached
    std::string stopped;  // "stopped <n> <png>": the answer to "stop"
    std::string pending;  // a line not yet whole
    bool closed = false;  // no process holds the board's end any more
};

// Reads what the board sent, waiting at most waitMs for it; false when no
// process holds the board's end any more (then it only waits).
bool readBoardNews(int fd, int waitMs, BoardNews& news) {
    if (news.closed) {
        poll(nullptr, 0, waitMs);
        return false;
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return true;
    char buf[512];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) {
        news.closed = n == 0 || errno != EINTR;
        return !news.closed;
    }
    news.pending.append(buf, static_cast<size_t>(n));
    size_t eol;
    while ((eol = news.pending.find('\n')) != std::string::npos) {
        const std::string line = news.pending.substr(0, eol);
        news.pending.erase(0, eol + 1);
        if (line == "board")
            news.up = true;
        else if (line.compare(0, 7, "frames ") == 0)
            news.frames = line;
        else if (line.compare(0, 8, "stopped ") == 0)
            news.stopped = line;
    }
    return true;
}

// Everything the board has sent so far.
void drainBoardNews(int fd, BoardNews& news) {
    pollfd p{fd, POLLIN, 0};
    while (!news.closed && poll(&p, 1, 0) > 0 && readBoardNews(fd, 0, news)) {}
}

// Asks the board to write out the trace and the screen and waits, bounded,
// for its answer.
void stopBoard(int toBoard, int fromBoard, BoardNews& news) {
    if (write(toBoard, "stop\n", 5) != 5) return;
    const double end = now() + kScreenSaveMs / 1000.0;
    while (news.stopped.empty()) {
        const int left = static_cast<int>((end - now()) * 1000);
        if (left <= 0 || !readBoardNews(fromBoard, left, news)) return;
    }
}

// The screen of a run in which no program used the board: black.
void writeBlackScreen(const std::string& file) {
    using namespace vb::model;
    constexpr int kWidth = 1280, kHeight = 720, kBytesPerPixel = 3;
    const std::vector<uint8_t> black(static_cast<size_t>(kWidth) * kHeight * kBytesPerPixel, 0);
    std::string error;
    if (writeScreenPng(file, black.data(), kWidth, kHeight, error))
        fprintf(stderr,
                "vyxsim: no program of the run used the board: the HDMI screen written to %s is black\n",
                file.c_str());
    else
        fprintf(stderr, "vyxsim: no program of the run used the board, and the HDMI screen %s: %s\n",
                file.c_str(), error.c_str());
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

// What the loader will make of an ELF file: its class, processor, type and
// whether it names a program interpreter (a dynamically linked program).
struct ElfKind {
    bool elf = false;
    unsigned char cls = 0;
    unsigned machine = 0;
    unsigned type = 0;
    bool interpreter = false;
};

template <typename Ehdr, typename Phdr>
void readKind(FILE* f, ElfKind& k) {
    Ehdr eh;
    if (!readAt(f, 0, &eh, sizeof eh)) return;
    k.machine = eh.e_machine;
    k.type = eh.e_type;
    for (unsigned i = 0; i < eh.e_phnum && eh.e_phentsize == sizeof(Phdr); ++i) {
        Phdr ph;
        if (!readAt(f, static_cast<long>(eh.e_phoff + i * sizeof(Phdr)), &ph, sizeof ph)) break;
        if (ph.p_type == PT_INTERP) k.interpreter = true;
    }
}

ElfKind elfKind(const std::string& file) {
    ElfKind k;
    FILE* f = fopen(file.c_str(), "rb");
    if (!f) return k;
    unsigned char ident[EI_NIDENT] = {};
    if (readAt(f, 0, ident, sizeof ident) && memcmp(ident, ELFMAG, SELFMAG) == 0) {
        k.elf = true;
        k.cls = ident[EI_CLASS];
        if (k.cls == ELFCLASS64)
            readKind<Elf64_Ehdr, Elf64_Phdr>(f, k);
        else if (k.cls == ELFCLASS32)
            readKind<Elf32_Ehdr, Elf32_Phdr>(f, k);
    }
    fclose(f);
    return k;
}

// Why the loader would not put the board into the program, or empty when it
// will.  Scripts and programs that are not ELF files are left to the
// handshake.
std::string libraryRefusal(const std::string& program, const ElfKind& p, const std::string& lib) {
    ElfKind b = elfKind(lib);
    if (access(lib.c_str(), R_OK) != 0) return "the board library " + lib + " cannot be read";
    if (!b.elf || b.type != ET_DYN) return lib + " is not a shared library";
    if (p.elf && (p.cls != b.cls || p.machine != b.machine))
        return lib + " is built for another processor than " + program;
    return {};
}

// board: the board library, or a preload list that starts with it.
std::string preloadRefusal(const std::string& program, const std::string& board) {
    ElfKind p = elfKind(program);
    for (const std::string& lib : split(board, ':')) {
        std::string why = libraryRefusal(program, p, lib);
        if (!why.empty()) return why;
    }
    struct stat st;
    if (stat(program.c_str(), &st) == 0 && (st.st_mode & (S_ISUID | S_ISGID)))
        return program + " is set-user-ID or set-group-ID: the loader ignores the board for it";
    if (p.elf && p.type == ET_EXEC && !p.interpreter)
        return program + " is linked statically: the board cannot be preloaded into it";
    return {};
}

int exitCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

// The signal that asked vyxsim to end the run, or 0.
volatile sig_atomic_t g_signal = 0;

void onSignal(int sig) { g_signal = sig; }

// SIGUSR1s vyxsim got (--trigger-on-signal); only the handler writes it.
volatile sig_atomic_t g_pulses = 0;

void onPulse(int) { g_pulses = g_pulses + 1; }

void catchPulses() {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = onPulse;  // no SA_RESTART: the wait returns at once
    sigemptyset(&sa.sa_mask);
    sigaction(SIGUSR1, &sa, nullptr);
}

// Passes the SIGUSR1s vyxsim got on to the program, whose board turns each
// into a pulse on the trigger input.
void passOnPulses(pid_t program) {
    static sig_atomic_t passed = 0;
    while (passed != g_pulses) {
        ++passed;
        kill(program, SIGUSR1);
    }
}

void catchEndSignals() {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;  // no SA_RESTART: a wait returns at once
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// The program's process group: the program, and whatever it starts that
// stays in its group, even after the program itself has ended (vyxsim is
// their subreaper, so orphans come back to it to be reaped).
class Group {
public:
    explicit Group(pid_t leader) : m_leader(leader) {}

    // Reaps whatever has ended; true once the leader has.
    bool reap() {
        int st;
        pid_t w;
        while ((w = waitpid(-1, &st, WNOHANG)) > 0)
            if (w == m_leader) {
                m_status = st;
                m_leaderDone = true;
            }
        return m_leaderDone;
    }
    bool empty() { return reap() && kill(-m_leader, 0) != 0 && errno == ESRCH; }
    int status() const { return m_status; }
    bool leaderDone() const { return m_leaderDone; }

    // SIGTERM to the whole group, SIGKILL for what is left after the grace;
    // true when something had to be killed.
    bool end(int graceMs) {
        kill(-m_leader, SIGTERM);
        const double killAt = now() + graceMs / 1000.0;
        const double lastAt = now() + kHeldMs / 1000.0;
        while (!empty()) {
            // A process that has ended but whose last threads the kernel is
            // still taking down, or that the kernel holds in an
            // uninterruptible wait (a disk slow to answer on a loaded
            // machine), has not had the chance to act on SIGTERM: it gets
            // more time, up to kHeldMs in all.
            if (now() >= killAt && (now() >= lastAt || !allHeld())) {
                fprintf(stderr, "vyxsim: the program ignored SIGTERM, killing its process group\n");
                sayWhoIsLeft();
                kill(-m_leader, SIGKILL);
                while (!empty()) poll(nullptr, 0, 10);
                return true;
            }
            poll(nullptr, 0, 20);
        }
        return false;
    }

private:
    // The processes left in the group, as /proc shows them.
    std::vector<pid_t> members() const {
        std::vector<pid_t> out;
        DIR* proc = opendir("/proc");
        if (proc == nullptr) return out;
        while (dirent* d = readdir(proc)) {
            if (!std::isdigit(static_cast<unsigned char>(d->d_name[0]))) continue;
            const pid_t pid = static_cast<pid_t>(std::atol(d->d_name));
            if (getpgid(pid) == m_leader) out.push_back(pid);
        }
        closedir(proc);
        return out;
    }

    // Whether the kernel holds a thread (/proc/PID/task/TID/stat): ended or
    // ending (a zombie, or the exiting flag set), or in an uninterruptible
    // wait.  Gone counts as ended.
    static bool threadHeld(const std::string& statPath) {
        constexpr unsigned long kExiting = 0x4;  // PF_EXITING
        FILE* f = fopen(statPath.c_str(), "r");
        if (f == nullptr) return true;
        char text[1024] = {};
        const size_t n = fread(text, 1, sizeof text - 1, f);
        fclose(f);
        text[n] = '\0';
        const char* close = strrchr(text, ')');  // the name may hold anything
        char st = '?';
        unsigned long flags = 0;
        if (close == nullptr || sscanf(close + 1, " %c %*d %*d %*d %*d %*d %lu", &st, &flags) != 2)
            return false;
        return st == 'Z' || st == 'X' || st == 'D' || (flags & kExiting) != 0;
    }

    // True when the kernel holds every thread of every process left.
    bool allHeld() const {
        for (pid_t pid : members()) {
            const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
            DIR* dir = opendir(tasks.c_str());
            if (dir == nullptr) continue;
            bool held = true;
            while (dirent* d = readdir(dir))
                if (std::isdigit(static_cast<unsigned char>(d->d_name[0])) &&
                    !threadHeld(tasks + "/" + d->d_name + "/stat"))
                    held = false;
            closedir(dir);
            if (!held) return false;
        }
        return true;
    }

    // Names what is left of the group, with the state and the signal masks
    // the kernel shows: why a process did not end on SIGTERM.
    void sayWhoIsLeft() const {
        for (pid_t pid : members()) {
            FILE* f = fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
            if (f == nullptr) continue;
            std::string said;
            char line[256];
            while (fgets(line, sizeof line, f)) {
                for (const char* key : {"Name:", "State:", "Threads:", "SigBlk:", "SigIgn:", "SigCgt:"}) {
                    if (strncmp(line, key, strlen(key)) != 0) continue;
                    line[strcspn(line, "\n")] = '\0';
                    said += std::string(" ") + line;
                }
            }
            fclose(f);
            fprintf(stderr, "vyxsim:   pid %d:%s\n", static_cast<int>(pid), said.c_str());
        }
    }

    pid_t m_leader;
    int m_status = 0;
    bool m_leaderDone = false;
};

// Waits for the board's banner on the handshake pipe; empty when the board
// did not come up (the pipe was closed, the time ran out or vyxsim was told
// to stop).
std::string awaitBoard(int fd) {
    std::string text;
    double end = now() + kReadyMs / 1000.0;
    while (!g_signal && now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kTickMs) <= 0) continue;
        char buf[256];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
        if (!text.empty() && text.back() == '\n') return text;
    }
    return {};
}

// Hands the terminal to the program's group while it runs (it may read the
// keyboard), and takes it back.
class Terminal {
public:
    explicit Terminal(pid_t group) {
        if (isatty(STDIN_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp()) {
            signal(SIGTTOU, SIG_IGN);
            m_owned = tcsetpgrp(STDIN_FILENO, group) == 0;
        }
    }
    ~Terminal() {
        if (m_owned) tcsetpgrp(STDIN_FILENO, getpgrp());
    }

private:
    bool m_owned = false;
};

// Moves a descriptor the program inherits to a high number (below its
// descriptor limit), so that the program's own first open still gets 3.
int outOfTheWay(int fd) {
    rlimit rl;
    long top =
        getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < 1024 ? static_cast<long>(rl.rlim_cur) : 1024;
    int high = fcntl(fd, F_DUPFD, static_cast<int>(std::max(top - 16, top / 2)));
    if (high < 0) return fd;
    close(fd);
    return high;
}

}  // namespace

// Puts the program in its private view of the device nodes (in the child);
// false when the run must not go on without it.
bool privateView(int wanted, const std::string& root) {
    if (wanted < 0) return true;
    const std::string placeholder = root + "/.device-placeholder";
    int fd = open(placeholder.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0444);
    if (fd >= 0) close(fd);
    std::string why;
    if (vyxsim::enterPrivateView(placeholder, root + "/picture", why)) return true;
    fprintf(stderr,
            "vyxsim: %s the program on this machine's own device nodes (no private view: %s): a raw "
            "system call or a child that loses the board (clean environment, static or set-user-ID) "
            "can reach them\n",
            wanted > 0 ? "refusing to run" : "running", why.c_str());
    return wanted == 0;
}

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) return kStatusUsage;
    std::string root = absolute(o.root);
    if (!makeDir(root) || !makeDir(root + "/picture") || !makeDir(root + "/picture/sd") ||
        !makeDir(root + "/picture/data"))
        return kStatusUsage;
    std::string hdmi = o.hdmi.empty() ? std::string() : absolute(o.hdmi);
    const char* boardEnv = getenv("VYXSIM_BOARD");
    std::string board = boardEnv && !split(boardEnv, ':').empty() ? boardEnv : boardLibrary();

    const std::vector<std::string> emulator = split(VYX_SIM_EMULATOR, '|');
    const std::string program = findProgram(o.command[0]);
    // In a cross build a host program (a shell) runs without the board; the
    // emulated programs it starts get it.
    const bool boarded = emulator.empty() || isEmulatedElf(program);
    std::string refusal = preloadRefusal(boarded ? program : split(board, ':')[0], board);
    if (!refusal.empty()) {
        fprintf(stderr,
                "vyxsim: %s.\nvyxsim: refusing to run %s: it would reach the machine's real device "
                "nodes (set VYXSIM_BOARD to the board library)\n",
                refusal.c_str(), o.command[0].c_str());
        return kStatusNoBoard;
    }

    int toBoard[2], fromBoard[2], ready[2];
    if (pipe(toBoard) != 0 || pipe(fromBoard) != 0 || pipe(ready) != 0) {
        perror("vyxsim: pipe");
        return kStatusUsage;
    }
    fcntl(toBoard[1], F_SETFD, FD_CLOEXEC);
    fcntl(fromBoard[0], F_SETFD, FD_CLOEXEC);
    fcntl(ready[0], F_SETFD, FD_CLOEXEC);

    fprintf(stderr, "vyxsim: board %s\nvyxsim: pictures in %s/picture/sd and %s/picture/data\n",
            board.c_str(), root.c_str(), root.c_str());
    if (!hdmi.empty()) fprintf(stderr, "vyxsim: HDMI screen will be written to %s\n", hdmi.c_str());
    if (!o.trace.empty()) fprintf(stderr, "vyxsim: signal trace in %s\n", o.trace.c_str());

    catchEndSignals();
    if (o.triggerOnSignal) catchPulses();
    // Orphans of the program's group come back to vyxsim, so that the end of
    // a run can wait for all of them.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    pid_t child = fork();
    if (child < 0) {
        perror("vyxsim: fork");
        return kStatusUsage;
    }
    if (child == 0) {
        setpgid(0, 0);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGTTOU, SIGUSR1}) signal(sig, SIG_DFL);
        if (!privateView(o.privateView, root)) _exit(kStatusNoBoard);
        setenv("VYX_BOARD_ROOT", root.c_str(), 1);
        std::string control =
            std::to_string(outOfTheWay(toBoard[0])) + "," + std::to_string(outOfTheWay(fromBoard[1]));
        setenv("VYX_BOARD_CONTROL", control.c_str(), 1);
        if (boarded) {
            setenv("VYX_BOARD_READY", std::to_string(outOfTheWay(ready[1])).c_str(), 1);
            setenv("VYX_BOARD_QUIET", "1", 1);
        } else {
            close(ready[1]);
        }
        if (o.frames) setenv("VYX_BOARD_FRAMES", std::to_string(o.frames).c_str(), 1);
        if (!hdmi.empty()) setenv("VYX_BOARD_HDMI", hdmi.c_str(), 1);
        for (const auto& setting : o.board) setenv(setting.first.c_str(), setting.second.c_str(), 1);
        std::vector<std::string> cmd;
        if (!emulator.empty()) {
            // Emulated programs get the preload through the emulator; a host
            // program passes it on to the emulated programs it starts.
            setenv("QEMU_SET_ENV", ("LD_PRELOAD=" + preloadList(program, board)).c_str(), 1);
            if (boarded) cmd = emulator;
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
    setpgid(child, child);  // also here: no race with the first kill
    close(toBoard[0]);
    close(fromBoard[1]);
    close(ready[1]);
    Group group(child);
    Terminal terminal(child);

    if (boarded) {
        std::string banner = awaitBoard(ready[0]);
        if (banner.empty() && !g_signal) {
            kill(-child, SIGKILL);
            while (!group.empty()) poll(nullptr, 0, 10);
            // A program that could not be started at all said so already.
            if (!(WIFEXITED(group.status()) && WEXITSTATUS(group.status()) == 127))
                fprintf(stderr,
                        "vyxsim: the virtual board did not come up in %s (board %s); the run is "
                        "refused\n",
                        o.command[0].c_str(), board.c_str());
            return kStatusNoBoard;
        }
        fputs(banner.c_str(), stderr);
    }
    close(ready[0]);

    double deadline = o.seconds > 0 ? now() + o.seconds : 0;
    std::string reason;
    BoardNews news;
    while (!group.reap()) {
        passOnPulses(child);
        readBoardNews(fromBoard[0], kTickMs, news);
        if (!news.frames.empty()) reason = "frame target reached";
        if (reason.empty() && deadline > 0 && now() >= deadline) reason = "time is up";
        if (reason.empty() && g_signal) reason = std::string("vyxsim got ") + strsignal(g_signal);
        if (!reason.empty()) break;
    }
    const bool stoppedByUs = !group.leaderDone();
    bool killed = false;
    drainBoardNews(fromBoard[0], news);
    if (stoppedByUs) {
        // Let the board write out the trace and the screen, then end the
        // program.  Without a board in the run there is nobody to ask.
        if (news.up && (!o.trace.empty() || (!hdmi.empty() && news.frames.empty())))
            stopBoard(toBoard[1], fromBoard[0], news);
        killed = group.end(kGraceMs);
    }
    // A program that ended on its own may have started the board just
    // before.
    drainBoardNews(fromBoard[0], news);
    close(toBoard[1]);
    close(fromBoard[0]);

    const std::string report = news.frames.empty() ? news.stopped : news.frames;
    unsigned long long frames = 0;
    int png = 0;
    if (!report.empty()) {
        const char* sp = strchr(report.c_str(), ' ');
        if (sp) sscanf(sp + 1, "%llu %d", &frames, &png);
        fprintf(stderr, "vyxsim: %llu frames delivered\n", frames);
    }
    if (!hdmi.empty() && !news.up) {
        writeBlackScreen(hdmi);
    } else if (!hdmi.empty()) {
        struct stat st;
        bool there = stat(hdmi.c_str(), &st) == 0;
        fprintf(stderr, there ? "vyxsim: HDMI screen written to %s\n"
                              : "vyxsim: HDMI screen was not written (%s)\n",
                hdmi.c_str());
    }
    fprintf(stderr, "vyxsim: pictures in %s/picture; the SDK log folder VYXLog is beside the program\n",
            root.c_str());
    const int status = group.status();
    if (!stoppedByUs) {
        fprintf(stderr, "vyxsim: program ended with status %d\n", exitCode(status));
        return exitCode(status);
    }
    fprintf(stderr, "vyxsim: run ended (%s)\n", reason.c_str());
    if (killed) return kStatusKilled;
    const bool clean = (WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) ||
                       (WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (!clean) {
        fprintf(stderr, "vyxsim: the program failed while ending (status %d)\n", exitCode(status));
        return exitCode(status);
    }
    return g_signal ? 128 + g_signal : 0;
}
