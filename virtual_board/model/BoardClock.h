// BoardClock.h - the board's clock.
//
// Everything on the board that has a time - frames done, trigger edges, the
// PL thread's sleeps, the frame log, the deadlines of the program's polled
// waits - reads this one clock: CLOCK_MONOTONIC in nanoseconds, the clock
// std::chrono::steady_clock reads on Linux, so the PL thread's condition
// waits and a program's CLOCK_MONOTONIC deadline are on it too.
#pragma once

#include <time.h>
#include <cstdint>

namespace vb {
namespace model {

inline int64_t boardClockNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace model
}  // namespace vb
