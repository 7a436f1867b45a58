// PlTiming.cpp - the PL thread, the board's clock and the register samples
// (see PlTiming.h).
//
// A sample takes, in this order and all stamped with one time:
//   - the acquisition settings (AcquisitionModel::sample), queued when they
//     differ from the last sample's;
//   - the one-shot registers 64 (clear read buffers), 72 (release) and 104
//     (software trigger), each consumed with an atomic exchange against 0;
//   - register 88 (show strobe), consumed likewise, with a copy of the
//     registers the show pipeline reads.
//
// What a sample on the program's thread finds wakes the PL thread only when
// it can bring the PL's next moment forward or must reach the screen: new
// levels (capture started, a period or mode written), a software trigger, a
// show.  A buffer release or a clear of the read side only frees buffers,
// and buffers are taken when a frame is done: the PL thread applies them,
// in time order, on its way to that frame, without a wake-up of its own.
// That leaves one wake-up of the PL thread per frame in a capture loop; on a
// virtual machine each one costs tens of microseconds of the host waking an
// idle virtual CPU.
#include "PlTiming.h"

#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <chrono>

#include "ModelCommon.h"
#include "PLRegs.h"

namespace vb {
namespace model {

namespace fpga = vyxpl::fpga;

namespace {

constexpr unsigned long kTimerSlackNs = 1000;  // wake within a microsecond of a deadline
// A program's thread polling for a frame sees its interrupt well within this
// after the frame is done (tens of microseconds while everything polls).
constexpr int64_t kReachNs = 300000;

int64_t threadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// A pulse register: true when it held a write, which is then consumed.
bool takePulse(volatile uint32_t* block, uint32_t offset) {
    return loadReg(block, offset) != 0 && consumeReg(block, offset) != 0;
}

// Set while this thread holds the engine's lock.  A signal handler that
// sleeps (clock_nanosleep is async-signal-safe) calls sync() on the thread
// it interrupted; if that thread held the lock, the sample is left out
// rather than waiting for a lock that cannot be released.
thread_local bool t_holdsEngine = false;
struct Holding {
    Holding() { t_holdsEngine = true; }
    ~Holding() { t_holdsEngine = false; }
    Holding(const Holding&) = delete;
    Holding& operator=(const Holding&) = delete;
};

std::chrono::steady_clock::time_point atClock(int64_t ns) {
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
}

}  // namespace

PlTiming::PlTiming(const HardwareView& hw, AcquisitionModel& acquisition, Display& display)
    : m_hw(hw), m_acquisition(acquisition), m_display(display) {}

void PlTiming::start() {
    {
        Holding holding;
        std::lock_guard<std::mutex> g(m_mu);
        m_running = true;
    }
    m_thread = std::thread([this] { run(); });
}

void PlTiming::stop() {
    {
        Holding holding;
        std::lock_guard<std::mutex> g(m_mu);
        if (!m_running) return;
        m_stop = true;
        m_running = false;
    }
    wake();
    if (m_thread.joinable()) m_thread.join();
}

bool PlTiming::sampleLocked(int64_t nowNs) {
    bool urgent = false;
    auto queue = [&](AcqEvent::Kind kind) {
        AcqEvent e;
        e.atNs = nowNs;
        e.kind = kind;
        m_events.push_back(e);
    };
    // The pulses first: the library writes a pulse after the levels it goes
    // with (capture started, then the software trigger), so once a pulse is
    // taken those levels are visible too.  Read the other way round, a
    // sample falling between the two writes saw the old levels with the new
    // pulse, and the trigger was thrown away as one that came while capture
    // was stopped.  The levels are applied before the pulses.
    const bool clearRead = takePulse(m_hw.fpga, fpga::kClearReadBuf);
    const bool release = takePulse(m_hw.fpga, fpga::kReleaseBuf);
    const bool softTrigger = takePulse(m_hw.fpga, fpga::kSoftTrigger);
    const AcqLevels levels = AcquisitionModel::sample(m_hw);
    if (!m_haveLevels || levels != m_levels) {
        m_levels = levels;
        m_haveLevels = true;
        AcqEvent e;
        e.atNs = nowNs;
        e.kind = AcqEvent::Levels;
        e.levels = levels;
        m_events.push_back(e);
        urgent = true;
    }
    if (clearRead) queue(AcqEvent::ClearRead);
    if (release) queue(AcqEvent::Release);
    if (softTrigger) {
        queue(AcqEvent::SoftTrigger);
        urgent = true;
        if (SignalTrace* trace = m_trace.load()) trace->pulse(nowNs, Sig::SoftTrigger);
    }
    if (takePulse(m_hw.fpga, fpga::kShowStrobe)) {
        m_shows.push_back(ShowRegisters::copy(m_hw));
        urgent = true;
    }
    m_urgent = m_urgent || urgent;
    return urgent;
}

void PlTiming::sync() {
    if (t_holdsEngine) return;
    bool urgent;
    {
        Holding holding;
        std::lock_guard<std::mutex> g(m_mu);
        if (!m_running) return;
        urgent = sampleLocked(boardClockNs());
    }
    if (urgent) wake();
}

void PlTiming::input(bool level) {
    {
        Holding holding;
        std::lock_guard<std::mutex> g(m_mu);
        // The PL sees the registers as they are when the edge arrives: a
        // mode written just before it applies to it.
        const int64_t now = boardClockNs();
        sampleLocked(now);
        AcqEvent e;
        e.atNs = now;
        e.kind = AcqEvent::Input;
        e.level = level;
        m_events.push_back(e);
        m_urgent = true;
        if (SignalTrace* trace = m_trace.load()) trace->record(now, Sig::TriggerIn, level ? 1 : 0);
    }
    wake();
}

void PlTiming::stall(bool stalled) {
    {
        Holding holding;
        std::lock_guard<std::mutex> g(m_mu);
        if (!m_running) return;
        m_stalled = stalled;
        m_stallAtNs = -1;
    }
    wake();
    if (!stalled) return;
    // Back only once the thread is parked: nothing runs after this.
    std::unique_lock<std::mutex> p(m_pubMu);
    m_published.wait(p, [&] { return m_parked; });
}

void PlTiming::stallAt(int64_t clockNs) {
    {
        Holding holding;
        std::lock_guard<std::mutex> g(m_mu);
        if (!m_running) return;
        m_stallAtNs = clockNs;
        m_stalled = false;
    }
    wake();
}

// The pass that reaches stallAt()'s moment: what the program's calls found
// up to then is applied, what they found later waits for the next pass (a
// sample now would carry a later time).  The next loop parks the thread.
int64_t PlTiming::takeUpToStallLocked() {
    const int64_t until = std::max(m_stallAtNs, m_passNs);
    while (!m_events.empty() && m_events.front().atNs <= until) {
        m_applying.push_back(m_events.front());
        m_events.pop_front();
    }
    m_stallAtNs = -1;
    m_stalled = true;
    return until;
}

void PlTiming::run() {
    prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
    for (;;) {
        {
            Holding holding;
            std::unique_lock<std::mutex> g(m_mu);
            if (m_stalled) {
                {
                    std::lock_guard<std::mutex> p(m_pubMu);
                    m_parked = true;
                }
                m_published.notify_all();
                m_wake.wait(g, [&] { return !m_stalled || m_stop; });
                std::lock_guard<std::mutex> p(m_pubMu);
                m_parked = false;
            }
            if (m_stop) return;
        }
        std::unique_lock<std::mutex> pass(m_passMu);
        int64_t now;
        {
            Holding holding;
            std::lock_guard<std::mutex> g(m_mu);
            now = boardClockNs();
            if (m_stallAtNs >= 0 && now >= m_stallAtNs) {
                now = takeUpToStallLocked();
            } else {
                sampleLocked(now);
                m_applying.swap(m_events);
                m_showing.swap(m_shows);
                m_urgent = false;
            }
        }
        m_passNs = now;
        m_acquisition.advance(now, m_applying);
        m_traceFloorNs.store(m_acquisition.earliestOpenNs(now));
        for (ShowRegisters& s : m_showing) m_display.show(s);
        m_showing.clear();
        m_display.refresh();
        // Published before the pass is: whoever saw the pass sees its window.
        const int64_t due = m_acquisition.nextDeadline();
        const int64_t window = due == kNever ? 0 : m_latency.windowNs(m_acquisition.framePeriodNs());
        m_dueNs.store(due);
        m_windowNs.store(window);
        publish(now);
        const int64_t deadline = std::min(due, now + kSampleIntervalNs);
        pass.unlock();
        waitForNext(deadline, window > 0 ? due - window : kNever);
    }
}

// Sleeps until `deadline` or until the program's calls found something
// urgent; from pollFromNs on it polls instead (WakePolicy.h).  A sleep that
// ended on its own time tells the wake policy how late it was.
void PlTiming::waitForNext(int64_t deadline, int64_t pollFromNs) {
    Holding holding;
    std::unique_lock<std::mutex> g(m_mu);
    if (m_stallAtNs >= 0) deadline = std::min(deadline, m_stallAtNs);
    const auto woken = [&] { return m_stop || m_stalled || m_urgent; };
    if (woken()) return;
    if (boardClockNs() >= pollFromNs) {
        const uint64_t pokes = m_pokes.load();
        g.unlock();
        while (boardClockNs() < deadline && m_pokes.load() == pokes) sched_yield();
        return;
    }
    const int64_t wakeAt = std::min(deadline, pollFromNs);
    if (!m_wake.wait_until(g, atClock(wakeAt), woken)) m_latency.slept(boardClockNs() - wakeAt);
}

int64_t PlTiming::programPollUntil(int64_t nowNs) const {
    const int64_t window = m_windowNs.load();
    const int64_t due = m_dueNs.load();
    if (window == 0 || due == kNever || due - nowNs > window) return 0;
    // A frame overdue is the next thing the PL thread does.
    return std::max(due, nowNs) + std::min(window, kReachNs);
}

void PlTiming::programPolled(int64_t ns) { m_programPollNs.fetch_add(ns); }

PollStats PlTiming::pollStats() const {
    PollStats s;
    s.mode = m_latency.mode();
    s.windowNs = m_windowNs.load();
    s.latenessNs = m_latency.lateNs();
    s.programPollNs = m_programPollNs.load();
    return s;
}

void PlTiming::wake() {
    m_pokes.fetch_add(1);
    m_wake.notify_all();
}

void PlTiming::publish(int64_t nowNs) {
    {
        std::lock_guard<std::mutex> p(m_pubMu);
        m_processedNs = nowNs;
        m_cpuNs = threadCpuNs();
    }
    m_published.notify_all();
}

int64_t PlTiming::processedNs() const {
    std::lock_guard<std::mutex> p(m_pubMu);
    return m_processedNs;
}

int64_t PlTiming::cpuNs() const {
    std::lock_guard<std::mutex> p(m_pubMu);
    return m_cpuNs;
}

bool PlTiming::waitUntil(int timeoutMs, const std::function<bool()>& done) {
    std::unique_lock<std::mutex> p(m_pubMu);
    return m_published.wait_for(p, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs), done);
}

bool PlTiming::waitProcessed(int64_t clockNs, int timeoutMs) {
    return waitUntil(timeoutMs, [&] { return m_processedNs >= clockNs; });
}

bool PlTiming::waitSeen(int timeoutMs) {
    const int64_t now = boardClockNs();
    sync();
    wake();
    return waitProcessed(now, timeoutMs);
}

void PlTiming::lockForFork() {
    m_passMu.lock();
    m_mu.lock();
    m_pubMu.lock();
}

void PlTiming::unlockAfterFork(bool child) {
    // The child has no PL thread: its samples would go nowhere, and the
    // parent's thread keeps serving the registers and RAM they share.
    if (child) {
        m_running = false;
        m_windowNs.store(0);
    }
    m_pubMu.unlock();
    m_mu.unlock();
    m_passMu.unlock();
}

}  // namespace model
}  // namespace vb
