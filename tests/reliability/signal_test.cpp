// Signals and capture: applications run interval timers and watchdogs, and
// their signals land in whatever thread is waiting, the capturing thread in
// VYXZEB_CaptureData or the library's interrupt thread in its select.
// Neither may end a capture before its deadline or lose a frame.
// White-box only to reach the interrupt thread's id.  One initialised device
// serves the suite; every wait is bounded.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "BoardTest.h"
#include "SharedDevice.h"
#include "VYXZebApi.h"
#include "VyxModel.h"
#include "Zeb.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBoundMs = 20000;

std::atomic<unsigned> g_unHandled{0};
void CountSignal(int) { g_unHandled.fetch_add(1); }

void Count(int sig, int flags) {
    struct sigaction sa = {};
    sa.sa_handler = CountSignal;
    sa.sa_flags = flags;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

// A handler with the given flags while the object lives.  Afterwards the
// signal is still counted, never left to its default action: a signal sent
// just before the end may arrive later (an emulator delivers them at its own
// pace) and would otherwise end the test binary in the next test.
class Handler {
public:
    Handler(int sig, int flags) : m_sig(sig) { Count(sig, flags); }
    ~Handler() { Count(m_sig, SA_RESTART); }

private:
    int m_sig;
};

::testing::Environment* const g_device = ::testing::AddGlobalTestEnvironment(new vyxtest::SharedDevice);

// The board's reset also takes the trigger input low.
class Signals : public vyxtest::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE), 0);
    }
    void TearDown() override {
        vb::setGpioInput(vb::kTriggerInputLine, false);
        VYXZEB_CaptureSetTimeOut(0, 8000);
        VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_SOFTWARE);
        BoardTest::TearDown();
    }
};

void SetIntervalTimer(long ms) {
    itimerval tv = {};
    tv.it_value.tv_usec = ms * 1000;
    tv.it_interval.tv_usec = ms * 1000;
    setitimer(ITIMER_REAL, &tv, nullptr);
}

// A 100 ms interval timer whose handler restarts interrupted calls, and a
// capture that waits for an external trigger that never comes: the capture
// ends at its deadline, not at the first tick.
TEST_F(Signals, AnIntervalTimerDoesNotEndACaptureBeforeItsDeadline) {
    Handler handler(SIGALRM, SA_RESTART);
    ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_EXTERNAL_TYPE0), 0);
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, 2000), 0);
    const unsigned before = g_unHandled.load();
    SetIntervalTimer(100);
    const auto start = Clock::now();
    unsigned char* frame = nullptr;
    const int ret = VYXZEB_CaptureData(0, &frame);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    SetIntervalTimer(0);
    EXPECT_EQ(ret, VYXZEB_RET_CAPTURE_TIMEOUT);
    EXPECT_EQ(frame, nullptr);
    // The deadline is on the monotonic clock, as is the test's.
    EXPECT_GE(waited.count(), 2000);
    EXPECT_GE(g_unHandled.load() - before, 5u) << "the timer's signals came during the wait";
}

// Signals hammer the capturing thread and the interrupt thread, with a
// handler that does not restart calls, while software-triggered captures
// run: every capture returns its own trigger's frame, one after the other.
TEST_F(Signals, SignalsInTheCapturingAndInterruptThreadsLoseNoFrame) {
    Handler handler(SIGUSR1, 0);
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, 5000), 0);
    const pthread_t capturing = pthread_self();
    const pthread_t interrupt = g_Zeb->m_hCaptureThread;
    std::atomic<bool> stop{false};
    auto storm = std::async(std::launch::async, [&] {
        while (!stop.load()) {
            pthread_kill(capturing, SIGUSR1);
            pthread_kill(interrupt, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    const unsigned before = g_unHandled.load();
    uint32_t last = 0;
    for (int i = 0; i < 50; ++i) {
        unsigned char* frame = nullptr;
        ASSERT_EQ(VYXZEB_CaptureData(0, &frame), 0) << "capture " << i;
        uint32_t counter = 0;
        ASSERT_TRUE(vb::modelFrameCounter(frame, &counter));
        if (i > 0) {
            EXPECT_EQ(counter, last + 1) << "capture " << i;
        }
        last = counter;
        ASSERT_EQ(VYXZEB_ReleaseBuffer(0), 0);
    }
    stop.store(true);
    storm.get();
    EXPECT_GE(g_unHandled.load() - before, 50u);
}

// An external trigger's frame that comes after many signals interrupted the
// wait is still the capture's.
TEST_F(Signals, AFrameAfterManySignalsIsStillCaptured) {
    Handler handler(SIGUSR1, 0);
    ASSERT_EQ(VYXZEB_SetTriggerMode(0, VYXZEB_TRIGGER_EXTERNAL_TYPE0), 0);
    ASSERT_EQ(VYXZEB_CaptureSetTimeOut(0, kBoundMs), 0);
    const pthread_t capturing = pthread_self();
    const uint64_t written = vb::modelCounters().framesWritten;
    const unsigned before = g_unHandled.load();
    // Signals until 20 were handled, then one rising edge on the trigger.
    auto trigger = std::async(std::launch::async, [&] {
        for (int i = 0; i < kBoundMs && g_unHandled.load() - before < 20; ++i) {
            pthread_kill(capturing, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        vb::setGpioInput(vb::kTriggerInputLine, true);
        const bool stored = vb::modelWaitFramesWritten(written + 1, kBoundMs);
        vb::setGpioInput(vb::kTriggerInputLine, false);
        return stored;
    });
    unsigned char* frame = nullptr;
    const int ret = VYXZEB_CaptureData(0, &frame);
    ASSERT_TRUE(trigger.get());
    ASSERT_EQ(ret, 0);
    uint32_t counter = 0;
    ASSERT_TRUE(vb::modelFrameCounter(frame, &counter));
    EXPECT_EQ(counter, vb::modelCounters().lastFrameCounter);
    EXPECT_GE(g_unHandled.load() - before, 20u);
    EXPECT_EQ(VYXZEB_ReleaseBuffer(0), 0);
}

// The PL's pulses and settle pauses keep their length under signals: the
// two 50 ms pulses that clear the read buffers when they are emptied.  On a
// loaded machine the storm thread may get no CPU during one call, which then
// proves nothing; the call is repeated (a bounded number of times) until
// five signals landed during one, and every call must keep its pauses.
TEST_F(Signals, ThePLsPausesKeepTheirLengthUnderSignals) {
    Handler handler(SIGUSR1, 0);
    const pthread_t calling = pthread_self();
    std::atomic<bool> stop{false};
    const unsigned started = g_unHandled.load();
    auto storm = std::async(std::launch::async, [&] {
        while (!stop.load()) {
            pthread_kill(calling, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const auto stormDeadline = Clock::now() + std::chrono::milliseconds(kBoundMs);
    while (g_unHandled.load() == started && Clock::now() < stormDeadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    constexpr int kAttempts = 20;
    unsigned during = 0;
    for (int attempt = 0; attempt < kAttempts && during < 5u; ++attempt) {
        const unsigned before = g_unHandled.load();
        const auto start = Clock::now();
        const int ret = VYXZEB_EmptyFrameBuffer(0);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        during = g_unHandled.load() - before;
        EXPECT_EQ(ret, 0);
        EXPECT_GE(took.count(), 100) << "with " << during << " signals during the call";
    }
    stop.store(true);
    storm.get();
    EXPECT_GE(during, 5u) << "no call of " << kAttempts << " had five signals during its pauses";
}

}  // namespace
