// StopSignal.cpp - the stop flag and its race-free wait.
#include "StopSignal.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <time.h>

#include <csignal>
#include <cstring>

namespace vyxcam {

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onStopSignal(int) { g_stop = 1; }

sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

double monotonicMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

}  // namespace

void installStopHandler()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    // File writes resume after the handler; the library's frame wait is never
    // restarted and returns at once.
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool stopRequested() { return g_stop != 0; }

StopSignalHold::StopSignalHold()
{
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, &m_previous);
}

StopSignalHold::~StopSignalHold() { pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }

bool waitForStop(long timeoutMs)
{
    StopSignalHold hold;
    sigset_t open;
    pthread_sigmask(SIG_SETMASK, nullptr, &open);
    sigdelset(&open, SIGINT);
    sigdelset(&open, SIGTERM);
    const double end = monotonicMs() + static_cast<double>(timeoutMs);
    while (!stopRequested()) {
        timespec wait{};
        timespec* limit = nullptr;
        if (timeoutMs >= 0) {
            const double left = end - monotonicMs();
            if (left <= 0) break;
            wait.tv_sec = static_cast<time_t>(left / 1000);
            wait.tv_nsec = static_cast<long>((left - wait.tv_sec * 1000.0) * 1e6);
            limit = &wait;
        }
        // ppoll opens the signals only for the wait itself.
        ppoll(nullptr, 0, limit, &open);
    }
    return stopRequested();
}

}  // namespace vyxcam
