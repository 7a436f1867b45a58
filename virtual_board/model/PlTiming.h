// PlTiming.h - the PL's timing engine: the thread that runs the PL on the
// board's clock, apart from the program's calls into the board.
//
// The board's clock is CLOCK_MONOTONIC in nanoseconds.  The PL thread sleeps
// until the next moment something falls due - a frame done, a trigger edge
// through its filter - with an absolute-deadline wait on that clock, and at
// the latest kSampleIntervalNs after it last looked at the registers; where
// this machine wakes sleeping threads too late for the frame rate it polls
// through a window before the frame instead (WakePolicy.h).  Each
// time it wakes it samples the registers (PlTiming.cpp lists what it takes)
// and advances the acquisition to that moment, producing every frame that
// fell due on its own schedule even when the thread woke late; then it runs
// the shows strobed since and refreshes the screen.
//
// Stores into the registers cannot be seen as they happen.  Besides the PL
// thread's own samples, the registers are sampled on the program's thread
// whenever the program calls into the board or is about to block (sync()):
// a read, select or poll of the capture node, a request on /dev/cache_ops,
// a semaphore wait or a sleep - and whenever the trigger input changes, so
// that a mode armed just before an edge applies to it.  What a sample finds is queued with the time
// it was taken and applied by the PL thread in time order, so a software
// trigger written just before the program waits counts from that moment,
// and a one-shot register written again before the PL thread woke is not
// lost.  The library does one of these calls between any two writes of the
// same one-shot register; a program that writes one twice with none between
// them is seen once (the two stores leave the same memory behind).
#ifndef VYX_MODEL_PL_TIMING_H
#define VYX_MODEL_PL_TIMING_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "AcquisitionModel.h"
#include "BoardClock.h"
#include "DisplayModel.h"
#include "SignalTrace.h"
#include "WakePolicy.h"

namespace vb {
namespace model {

constexpr int64_t kSampleIntervalNs = 1000000;  // the PL looks at its registers at least this often

// How the board polls for frames (WakePolicy.h), for the counters.
struct PollStats {
    PollMode mode = PollMode::Auto;
    int64_t windowNs = 0;       // polls this long before the next frame; 0: sleeps
    int64_t latenessNs = 0;     // estimated lateness of a timer wake-up
    int64_t programPollNs = 0;  // time the program's threads spent polling
};

class PlTiming {
public:
    PlTiming(const HardwareView& hw, AcquisitionModel& acquisition, Display& display);

    // The PL thread; stop() joins it.
    void start();
    void stop();

    // Any thread of the process that runs the PL: sample the registers now.
    void sync();
    // The trigger input changed level (any thread).
    void input(bool level);
    // Test control: the PL thread stops running (as if the machine did not
    // schedule it), and catches up when it runs again.
    void stall(bool stalled);
    // Test control: the PL thread runs on (a stalled one again) until it
    // has accounted for everything due up to clockNs - not beyond, however
    // late it wakes - and then stalls as stall(true) leaves it.
    void stallAt(int64_t clockNs);

    // Polling (WakePolicy.h).  Any thread: until when a program's thread
    // that is about to block should poll rather than sleep (board clock),
    // or 0; how long it did.
    void setPollMode(PollMode mode) { m_latency.setMode(mode); }
    int64_t programPollUntil(int64_t nowNs) const;
    void programPolled(int64_t ns);
    PollStats pollStats() const;

    // Where the trigger input and the software trigger are traced.
    void setTrace(SignalTrace* trace) { m_trace.store(trace); }
    // No frame signal is recorded from now on with an earlier time.
    int64_t traceFloorNs() const { return m_traceFloorNs.load(); }

    // Everything due up to this time on the board's clock is accounted for.
    int64_t processedNs() const;
    // CPU time the PL thread has used.
    int64_t cpuNs() const;
    // Waits until `done()` holds after a pass of the PL thread; false on
    // time-out.  done() runs under the engine's publication lock.
    bool waitUntil(int timeoutMs, const std::function<bool()>& done);
    // Waits until everything due up to clockNs is accounted for.
    bool waitProcessed(int64_t clockNs, int timeoutMs);
    // Waits until every store made before the call has been taken into
    // account.
    bool waitSeen(int timeoutMs);

    // fork(): the child has no PL thread; the parent's serves the shared
    // registers and RAM.
    void lockForFork();
    void unlockAfterFork(bool child);

private:
    // Queues what the registers hold at nowNs; true when it must wake the
    // PL thread (PlTiming.cpp says which finds do).
    bool sampleLocked(int64_t nowNs);
    int64_t takeUpToStallLocked();
    void run();
    void publish(int64_t nowNs);
    void wake();
    void waitForNext(int64_t deadline, int64_t pollFromNs);

    HardwareView m_hw;
    AcquisitionModel& m_acquisition;
    Display& m_display;
    std::thread m_thread;
    // Held by the PL thread for a whole pass, and across a fork, so that a
    // child never starts in the middle of one.
    std::mutex m_passMu;

    // Guarded by m_mu: what samples found, not yet applied.
    mutable std::mutex m_mu;
    std::condition_variable m_wake;
    std::atomic<uint64_t> m_pokes{0};  // wake()s so far: a polling PL thread watches it
    std::deque<AcqEvent> m_events;
    std::vector<ShowRegisters> m_shows;
    bool m_urgent = false;  // what samples found must not wait for the PL's next moment
    bool m_haveLevels = false;
    AcqLevels m_levels;
    bool m_stop = false;
    bool m_stalled = false;
    int64_t m_stallAtNs = -1;  // stallAt()'s moment, -1 when none
    bool m_running = false;    // this process runs the PL thread

    // PL thread only: what the last sample handed over.  Members rather
    // than the thread's locals, so that a forked child (which has no PL
    // thread) still finds them owned.
    std::deque<AcqEvent> m_applying;
    std::vector<ShowRegisters> m_showing;
    int64_t m_passNs = -1;  // the moment of the last pass

    // Guarded by m_pubMu: what the PL thread has done.
    mutable std::mutex m_pubMu;
    std::condition_variable m_published;
    int64_t m_processedNs = -1;
    int64_t m_cpuNs = 0;
    bool m_parked = false;  // stalled and waiting

    // The wake policy and what the last pass found, for the program's waits.
    WakeLatency m_latency;
    std::atomic<int64_t> m_dueNs{kNever};  // the next frame or edge due
    std::atomic<int64_t> m_windowNs{0};    // polling window before it; 0: none
    std::atomic<int64_t> m_programPollNs{0};

    std::atomic<SignalTrace*> m_trace{nullptr};
    std::atomic<int64_t> m_traceFloorNs{0};
};

}  // namespace model
}  // namespace vb

#endif
