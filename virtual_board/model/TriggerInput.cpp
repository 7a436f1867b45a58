// TriggerInput.cpp - square wave and signal pulses on the trigger input
// (see TriggerInput.h).
//
// The SIGUSR1 handler only writes one byte into a pipe with the raw system
// call (async-signal-safe, and past the board's own shims); the thread
// counts the bytes as pulses to give.  Pulses requested by pulse() travel
// the same way.
#include "TriggerInput.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <cstdlib>

#include "AcquisitionModel.h"
#include "PlTiming.h"
#include "SimConfig.h"

namespace vb {
namespace model {

namespace {

constexpr char kPulseByte = 'p';
constexpr char kWakeByte = 'w';

// The pipe the handler and the setters write to, the thread reads: one per
// process, made when first needed (at the latest when the board is loaded
// with pulses on signals asked for).
int g_pipe[2] = {-1, -1};
std::once_flag g_pipeOnce;
std::atomic<bool> g_onSignal{false};

void makePipe() {
    std::call_once(g_pipeOnce, [] {
        if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) g_pipe[0] = g_pipe[1] = -1;
    });
}

void onSignal(int) {
    const int saved = errno;
    if (g_onSignal.load()) (void)syscall(SYS_write, g_pipe[1], &kPulseByte, 1);
    errno = saved;
}

bool takeSignal(bool on) {
    makePipe();
    if (g_pipe[1] < 0) return false;
    g_onSignal.store(on);
    if (!on) return true;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    return sigaction(SIGUSR1, &sa, nullptr) == 0;
}

timespec relative(int64_t ns) {
    ns = std::max<int64_t>(ns, 0);
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

}  // namespace

TriggerInput::TriggerInput(Drive drive) : m_drive(std::move(drive)) {
    makePipe();
    m_wake[0] = g_pipe[0];
    m_wake[1] = g_pipe[1];
    m_thread = std::thread([this] { run(); });
}

TriggerInput::~TriggerInput() { stop(); }

void TriggerInput::stop() {
    {
        std::lock_guard<std::mutex> g(m_mu);
        m_stop = true;
    }
    wake();
    if (m_thread.joinable()) m_thread.join();
}

void TriggerInput::wake() {
    if (m_wake[1] >= 0) (void)syscall(SYS_write, m_wake[1], &kWakeByte, 1);
}

void TriggerInput::setPeriod(int64_t periodNs) {
    {
        std::lock_guard<std::mutex> g(m_mu);
        m_periodNs = std::max<int64_t>(periodNs, 0);
        m_waveStartNs = boardClockNs();
    }
    wake();
}

bool TriggerInput::setOnSignal(bool on) { return takeSignal(on); }

void TriggerInput::pulse() {
    if (m_wake[1] >= 0) (void)syscall(SYS_write, m_wake[1], &kPulseByte, 1);
}

void TriggerInput::setLevel(bool level) {
    if (level == m_level) return;
    m_level = level;
    if (level) m_pulses.fetch_add(1);
    m_drive(level);
}

void TriggerInput::run() {
    uint64_t pending = 0;     // signal pulses still to give
    int64_t pulseEndNs = -1;  // the pulse being given ends (or its low gap ends)
    bool pulseHigh = false;
    for (;;) {
        int64_t period, start;
        {
            std::lock_guard<std::mutex> g(m_mu);
            if (m_stop) break;
            period = m_periodNs;
            start = m_waveStartNs;
        }
        const int64_t now = boardClockNs();
        // The square wave: high in the first half of each period.
        bool waveHigh = false;
        int64_t next = kNever;
        if (period > 0) {
            const int64_t phase = (now - start) % period;
            waveHigh = phase < period / 2;
            next = now + (waveHigh ? period / 2 - phase : period - phase);
        }
        // Signal pulses: high for kSignalPulseNs, then as long low.
        if (pulseEndNs >= 0 && now >= pulseEndNs) {
            if (pulseHigh) {
                pulseHigh = false;
                pulseEndNs = now + kSignalPulseNs;
            } else {
                pulseEndNs = -1;
            }
        }
        if (pulseEndNs < 0 && pending > 0) {
            --pending;
            pulseHigh = true;
            pulseEndNs = now + kSignalPulseNs;
        }
        if (pulseEndNs >= 0) next = std::min(next, pulseEndNs);
        setLevel(waveHigh || pulseHigh);

        pollfd p{m_wake[0], POLLIN, 0};
        const timespec timeout = relative(next - boardClockNs());
        if (ppoll(&p, m_wake[0] >= 0 ? 1 : 0, next == kNever ? nullptr : &timeout, nullptr) > 0) {
            char bytes[64];
            ssize_t n;
            while ((n = syscall(SYS_read, m_wake[0], bytes, sizeof bytes)) > 0)
                pending += static_cast<uint64_t>(std::count(bytes, bytes + n, kPulseByte));
        }
    }
    setLevel(false);
}

}  // namespace model
}  // namespace vb

// A SIGUSR1 may come as soon as the program runs (vyxsim passes them on
// once the board is up): it must never find the default action, which
// ends the program.  Pulses asked for before the model runs are given when
// it does.  Before the board's other constructors, so before its banner
// tells vyxsim that the board is up.
__attribute__((constructor(101))) static void vyxboardTriggerSignal() {
    bool on = false;
    if (vb::model::parseSwitch(std::getenv(vb::model::env::kTriggerOnSignal), on) && on)
        vb::model::takeSignal(true);
}
