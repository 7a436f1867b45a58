// Launch.cpp - the board's side of a bounded run under the launcher vyxsim.
//
// vyxsim cannot see inside the program it runs, but the board can: when the
// launcher's variables are present, a watcher thread in the program's process
// counts delivered frames, saves the HDMI screen as a PNG and talks to the
// launcher over two pipes:
//   board -> launcher   "board\n"                  this process uses the board
//                       "frames <n> <png 0|1>\n"   the frame target was reached
//                       "stopped <n> <png 0|1>\n"  answer to "stop"
//   launcher -> board   "stop\n"                   the run ends: write out the signal
//                                                trace, save the screen now
// The launcher then ends the program with SIGTERM (SIGKILL after a grace).
// With VYXSIM_HDMI_EVERY (vyxsim --hdmi-every) the watcher also rewrites the
// screen file that often while the program runs, each time whole
// (ScreenFile.h); the last write, at the end of the run, is the final
// screen.  A program that sets VYX_BOARD_HDMI and VYXSIM_HDMI_EVERY itself
// gets the rewrites without the launcher.
// A process takes part when it uses the board: the variables are read when
// the board is loaded but claimed (removed from the environment, the pipes
// made close-on-exec) only when its model starts, so that a wrapper shell
// that never touches the board passes them on to the program it runs, and
// programs the program itself starts do not take part.
//
// The handshake: vyxsim passes the number of a pipe's write end in
// VYX_BOARD_READY.  The first process of the run in which the board is
// loaded writes its banner there before the program's main() and closes it; the
// launcher refuses to go on without it.  VYX_BOARD_QUIET (kept for the whole
// run) tells every later process that the banner was already shown.
#include "Launch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <pthread.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "Libc.h"
#include "ModelLink.h"
#include "SimConfig.h"

namespace vb {

namespace {

constexpr int kFramePollMs = 20;   // how often the frame count is looked at

struct LaunchState {
    int fromLauncher = -1;
    int toLauncher = -1;
    uint64_t frameTarget = 0;
    std::string pngPath;
    int64_t rewriteNs = 0;  // 0: the screen is written at the end only
    std::mutex mu;
    bool pngSaved = false;  // the final screen is written: no more rewrites
};

LaunchState* g_launch = nullptr;

// Saves the screen once; later calls report the first result.
bool saveScreenOnce() {
    LaunchState& s = *g_launch;
    std::lock_guard<std::mutex> lock(s.mu);
    if (s.pngPath.empty()) return false;
    if (!s.pngSaved) s.pngSaved = link::model().saveScreenPng(s.pngPath.c_str());
    return s.pngSaved;
}

// Rewrites the screen while the run goes on; nothing once the final screen
// is written.
void rewriteScreen() {
    LaunchState& s = *g_launch;
    std::lock_guard<std::mutex> lock(s.mu);
    if (!s.pngSaved) link::model().saveScreenPng(s.pngPath.c_str());
}

int64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Milliseconds from now to `atNs` for poll(), at least 0; -1 for never (0).
int msUntil(int64_t atNs) {
    if (atNs == 0) return -1;
    const int64_t left = atNs - monotonicNs();
    return left <= 0 ? 0 : static_cast<int>(std::min<int64_t>((left + 999999) / 1000000, 1 << 30));
}

void tell(const char* what) {
    char line[96];
    bool png = saveScreenOnce();
    int n = snprintf(line, sizeof line, "%s %llu %d\n", what,
                     static_cast<unsigned long long>(link::model().framesDelivered()), png ? 1 : 0);
    if (n > 0) sysWrite(g_launch->toLauncher, line, static_cast<size_t>(n));
}

void* watch(void*) {
    LaunchState& s = *g_launch;
    bool targetReported = false;
    std::string pending;
    int64_t nextRewrite = s.rewriteNs > 0 ? monotonicNs() + s.rewriteNs : 0;
    for (;;) {
        // A negative descriptor (no launcher) is left out by poll().
        pollfd p{s.fromLauncher, POLLIN, 0};
        const bool counting = s.frameTarget != 0 && !targetReported;
        int timeout = msUntil(nextRewrite);
        if (counting) timeout = timeout < 0 ? kFramePollMs : std::min(timeout, kFramePollMs);
        int r = poll(&p, 1, timeout);
        if (r > 0) {
            char buf[64];
            ssize_t n = sysRead(s.fromLauncher, buf, sizeof buf);
            if (n <= 0) return nullptr;   // the launcher is gone
            pending.append(buf, static_cast<size_t>(n));
            size_t eol;
            while ((eol = pending.find('\n')) != std::string::npos) {
                if (pending.compare(0, eol, "stop") == 0) {
                    link::model().finish();
                    tell("stopped");
                }
                pending.erase(0, eol + 1);
            }
        }
        if (counting && link::model().framesDelivered() >= s.frameTarget) {
            targetReported = true;
            tell("frames");
        }
        if (nextRewrite != 0 && msUntil(nextRewrite) == 0) {
            rewriteScreen();
            // A writer that fell behind (a slow disk) skips the rewrites it
            // missed rather than catching up.
            nextRewrite += s.rewriteNs;
            const int64_t now = monotonicNs();
            if (nextRewrite <= now) nextRewrite = now + s.rewriteNs;
        }
    }
}

void atProgramExit() {
    if (g_launch) saveScreenOnce();
}

bool parseFds(const char* text, int& a, int& b) { return sscanf(text, "%d,%d", &a, &b) == 2; }

bool isPipe(int fd) {
    struct stat st;
    return fd >= 0 && fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
}

// This process uses the board: it takes the launcher's variables over.
void claim(LaunchState& s) {
    unsetenv("VYX_BOARD_CONTROL");
    unsetenv("VYX_BOARD_HDMI");
    unsetenv("VYX_BOARD_FRAMES");
    if (s.fromLauncher < 0) return;
    // A program may have closed or reused the numbers since it started.
    if (!isPipe(s.fromLauncher) || !isPipe(s.toLauncher)) {
        s.fromLauncher = s.toLauncher = -1;
        return;
    }
    fcntl(s.fromLauncher, F_SETFD, FD_CLOEXEC);
    fcntl(s.toLauncher, F_SETFD, FD_CLOEXEC);
}

}  // namespace

}  // namespace vb

// Reads the launcher's variables when the board is loaded.
__attribute__((constructor)) static void vyxboardLaunch() {
    const char* control = getenv("VYX_BOARD_CONTROL");
    const char* hdmi = getenv("VYX_BOARD_HDMI");
    const char* frames = getenv("VYX_BOARD_FRAMES");
    int from = -1, to = -1;
    bool launched = control && vb::parseFds(control, from, to);
    if (!launched && !(hdmi && hdmi[0])) return;
    auto* s = new vb::LaunchState;
    s->fromLauncher = launched ? from : -1;
    s->toLauncher = launched ? to : -1;
    if (hdmi) s->pngPath = hdmi;
    if (frames) s->frameTarget = strtoull(frames, nullptr, 10);
    // A bad value is said once when the model reads its settings (SimConfig.h).
    double every = 0;
    if (hdmi && hdmi[0] && vb::model::parsePositive(getenv(vb::model::env::kHdmiEvery), every))
        s->rewriteNs = static_cast<int64_t>(std::min(every * 1e6, 1e15));
    vb::g_launch = s;
}

namespace vb {

void announceBoard(const char* banner) {
    const char* ready = getenv("VYX_BOARD_READY");
    int fd = -1;
    if (ready && sscanf(ready, "%d", &fd) == 1 && fd >= 0) {
        unsetenv("VYX_BOARD_READY");
        if (fcntl(fd, F_GETFD) >= 0 && sysWrite(fd, banner, strlen(banner)) >= 0) {
            sysClose(fd);
            return;
        }
        sysClose(fd);
    }
    if (!getenv("VYX_BOARD_QUIET")) sysSay(banner);
}

// Called once the model runs (first use of a node): by then every static
// object of the program and of the models exists, and the exit handler
// registered here runs before they are destroyed.
void startLaunchWatcher() {
    if (!g_launch) return;
    claim(*g_launch);
    atexit(atProgramExit);
    if (g_launch->toLauncher >= 0) {
        static const char kUp[] = "board\n";
        sysWrite(g_launch->toLauncher, kUp, sizeof kUp - 1);
    }
    if (g_launch->fromLauncher < 0 && g_launch->rewriteNs == 0) return;
    pthread_t t;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (pthread_create(&t, &attr, watch, nullptr) != 0) {
        static const char kMsg[] = "vyxboard: cannot start the launcher watcher\n";
        sysWrite(2, kMsg, sizeof kMsg - 1);
    }
    pthread_attr_destroy(&attr);
}

}  // namespace vb
