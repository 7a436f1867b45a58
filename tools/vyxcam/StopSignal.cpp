// StopSignal.cpp - the stop flag and its race-free wait.
#include "StopSignal.h"

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
    // Held back, a stop signal stays pending until the wait below takes it,
    // so none can slip in between the look at the flag and the wait.
    StopSignalHold hold;
    const sigset_t set = stopSignals();
    const double end = monotonicMs() + static_cast<double>(timeoutMs);
    while (!stopRequested()) {
        int taken;
        if (timeoutMs < 0) {
            taken = sigwaitinfo(&set, nullptr);
        } else {
            const double left = end - monotonicMs();
            if (left <= 0) break;
            timespec wait;
            wait.tv_sec = static_cast<time_t>(left / 1000);
            wait.tv_nsec = static_cast<long>((left - wait.tv_sec * 1000.0) * 1e6);
            taken = sigtimedwait(&set, nullptr, &wait);
        }
        if (taken == SIGINT || taken == SIGTERM) g_stop = 1;
    }
    return stopRequested();
}

}  // namespace vyxcam
