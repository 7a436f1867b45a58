// When the board polls for its next frame instead of sleeping: the lateness
// estimate and the window it gives, and the program's waits while the board
// polls - they still end when what they wait for happens, never before their
// own deadline, and nothing polls when polling is off.
#include <semaphore.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <thread>

#include "ModelTestSupport.h"
#include "WakePolicy.h"

namespace modeltest {
namespace {

using vb::model::PollMode;
using vb::model::WakeLatency;

constexpr int64_t kUs = 1000;
constexpr int64_t kMs = 1000000;

TEST(WakePolicy, ModesReadAsTheBoardSettingWritesThem) {
    PollMode mode = PollMode::Off;
    for (PollMode m : {PollMode::Auto, PollMode::On, PollMode::Off}) {
        EXPECT_TRUE(vb::model::parsePollMode(vb::model::pollModeName(m), mode));
        EXPECT_EQ(mode, m);
    }
    mode = PollMode::On;
    for (const char* bad : {"", "Auto", "1", "yes", "on "})
        EXPECT_FALSE(vb::model::parsePollMode(bad, mode));
    EXPECT_FALSE(vb::model::parsePollMode(nullptr, mode));
    EXPECT_EQ(mode, PollMode::On) << "a refused word leaves the mode as it was";
}

TEST(WakePolicy, ALateWakeUpCountsAtOnceAndIsForgottenSlowly) {
    WakeLatency w;
    EXPECT_EQ(w.lateNs(), 0);
    w.slept(-5 * kUs);  // early: nothing learnt
    EXPECT_EQ(w.lateNs(), 0);
    w.slept(800 * kUs);
    EXPECT_EQ(w.lateNs(), 800 * kUs);
    // On-time sleeps shave 1/32 off each time; a late one is back at once.
    w.slept(10 * kUs);
    EXPECT_EQ(w.lateNs(), 800 * kUs - 25 * kUs);
    for (int i = 0; i < 100; ++i)
        w.slept(10 * kUs);
    EXPECT_LT(w.lateNs(), 40 * kUs);
    EXPECT_GE(w.lateNs(), 10 * kUs) << "never below what the last sleep showed";
    w.slept(300 * kUs);
    EXPECT_EQ(w.lateNs(), 300 * kUs);
    // A sleep that ended seconds late (the machine suspended) counts as the
    // longest window, not as seconds of polling.
    w.slept(5000 * kMs);
    EXPECT_EQ(w.lateNs(), WakeLatency::kMaxWindowNs);
}

TEST(WakePolicy, AutoPollsOnlyWhenFramesComeFasterThanTwoLatenesses) {
    WakeLatency w;
    EXPECT_EQ(w.windowNs(300 * kUs), 0) << "nothing measured yet";
    w.slept(400 * kUs);
    EXPECT_EQ(w.windowNs(800 * kUs), 0);
    EXPECT_EQ(w.windowNs(25 * kMs), 0);
    EXPECT_EQ(w.windowNs(799 * kUs), 800 * kUs);
    EXPECT_EQ(w.windowNs(300 * kUs), 800 * kUs);
    w.slept(1500 * kUs);
    EXPECT_EQ(w.windowNs(1 * kMs), WakeLatency::kMaxWindowNs) << "the window is bounded";
}

TEST(WakePolicy, OnAndOffIgnoreTheMeasurements) {
    WakeLatency w;
    w.setMode(PollMode::On);
    EXPECT_EQ(w.windowNs(25 * kMs), WakeLatency::kMaxWindowNs);
    w.setMode(PollMode::Off);
    w.slept(2 * kMs);
    EXPECT_EQ(w.windowNs(300 * kUs), 0);
    w.setMode(PollMode::Auto);
    EXPECT_GT(w.windowNs(300 * kUs), 0);
}

// ---------------------------------------------------------------- on the board

int64_t monotonicNs(clockid_t clock = CLOCK_MONOTONIC) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

timespec at(int64_t ns) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    return ts;
}

int64_t programPollNs() { return vb::modelCounters().programPollNs; }

// Frames every millisecond: with polling on, a frame is always due within
// the board's window, so every wait of the test polls first.
class PollingWaits : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        if (HasFatalFailure()) return;
        board.smallFastFrames();
        board.setReg(fpga::kFramePeriod, 1000);
        ASSERT_TRUE(vb::modelSetPoll("on"));
        board.setCapture(true, 0);
        ASSERT_TRUE(vb::modelWaitFramesWritten(vb::modelCounters().framesWritten + 2, kWaitMs));
        ASSERT_GT(vb::modelCounters().pollWindowNs, 0);
    }
    void TearDown() override {
        const char* configured = std::getenv("VYXSIM_POLL");
        vb::modelSetPoll(configured != nullptr ? configured : "auto");
        ModelTest::TearDown();
    }
    // A select on the capture node with time_t's largest time-out, every
    // buffer freed first: it ends with the next frame, and the time-out left
    // is still endless (a poll that missed the frame must not leave the real
    // wait a zero time-out).
    void selectEndlesslyForTheNextFrame() {
        board.drainInterrupts();
        board.setReg(fpga::kClearReadBuf, 1);
        ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
        board.setReg(fpga::kClearReadBuf, 0);
        fd_set set;
        FD_ZERO(&set);
        FD_SET(board.interruptFd(), &set);
        timeval endless{std::numeric_limits<time_t>::max(), 0};
        EXPECT_EQ(select(board.interruptFd() + 1, &set, nullptr, nullptr, &endless), 1);
        EXPECT_GT(endless.tv_sec, std::numeric_limits<time_t>::max() / 2);
    }
};

TEST_F(PollingWaits, FramesKeepArrivingThroughPolledSelects) {
    const int64_t polledBefore = programPollNs();
    for (int k = 0; k < 20; ++k) {
        ASSERT_EQ(board.waitInterrupt(), "169") << "frame " << k;
        board.setReg(fpga::kReleaseBuf, 1);
    }
    EXPECT_GT(programPollNs(), polledBefore) << "the selects on the capture node polled";
}

TEST_F(PollingWaits, ASemaphoreWaitEndsAtItsDeadlineAndNotBefore) {
    sem_t sem;
    ASSERT_EQ(sem_init(&sem, 0, 0), 0);
    for (clockid_t clock : {CLOCK_MONOTONIC, CLOCK_REALTIME}) {
        const int64_t polledBefore = programPollNs();
        const int64_t deadline = monotonicNs(clock) + 400 * kUs;
        const timespec ts = at(deadline);
        errno = 0;
        const int r = clock == CLOCK_REALTIME ? sem_timedwait(&sem, &ts) : sem_clockwait(&sem, clock, &ts);
        const int e = errno;
        EXPECT_GE(monotonicNs(clock), deadline) << "clock " << clock;
        EXPECT_EQ(r, -1);
        EXPECT_EQ(e, ETIMEDOUT);
        EXPECT_GT(programPollNs(), polledBefore) << "clock " << clock << ": the wait polled";
    }
    // A deadline already gone: at once, as without the board.
    const timespec past = at(monotonicNs() - kMs);
    EXPECT_EQ(sem_clockwait(&sem, CLOCK_MONOTONIC, &past), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    // A deadline the kernel refuses is refused as before.
    timespec bad = at(monotonicNs() + kMs);
    bad.tv_nsec = 1000000000;
    EXPECT_EQ(sem_clockwait(&sem, CLOCK_MONOTONIC, &bad), -1);
    EXPECT_EQ(errno, EINVAL);
    sem_destroy(&sem);
}

TEST_F(PollingWaits, PostsFromAnotherThreadAreTakenOnceEach) {
    sem_t sem;
    ASSERT_EQ(sem_init(&sem, 0, 0), 0);
    std::atomic<bool> go{false};
    std::thread poster([&] {
        while (!go.load())
            std::this_thread::yield();
        sem_post(&sem);
        sem_post(&sem);
    });
    go = true;
    EXPECT_EQ(sem_wait(&sem), 0);
    const timespec bound = at(monotonicNs() + kWaitMs * kMs);
    EXPECT_EQ(sem_clockwait(&sem, CLOCK_MONOTONIC, &bound), 0);
    poster.join();
    int value = -1;
    sem_getvalue(&sem, &value);
    EXPECT_EQ(value, 0) << "each post taken by one wait";
    const timespec soon = at(monotonicNs() + 200 * kUs);
    EXPECT_EQ(sem_clockwait(&sem, CLOCK_MONOTONIC, &soon), -1) << "no third post";
    // "Forever" as callers write it: the largest time_t.
    sem_post(&sem);
    timespec forever{};
    forever.tv_sec = std::numeric_limits<time_t>::max();
    EXPECT_EQ(sem_clockwait(&sem, CLOCK_MONOTONIC, &forever), 0);
    sem_post(&sem);
    EXPECT_EQ(sem_timedwait(&sem, &forever), 0);
    sem_destroy(&sem);
}

TEST_F(PollingWaits, ASelectWithAnEndlessTimeOutStillEndsWithTheFrame) {
    const int64_t polledBefore = programPollNs();
    selectEndlesslyForTheNextFrame();
    EXPECT_GT(programPollNs(), polledBefore);
}

TEST_F(PollingWaits, ASelectWithoutTimeOutOrOffTheBoardDoesNotPoll) {
    const int64_t polledBefore = programPollNs();
    board.drainInterrupts();  // selects with a zero time-out
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(pipeFds[0], &set);
    timeval tv{0, 300};
    EXPECT_EQ(select(pipeFds[0] + 1, &set, nullptr, nullptr, &tv), 0);
    close(pipeFds[0]);
    close(pipeFds[1]);
    EXPECT_EQ(programPollNs(), polledBefore);
}

TEST_F(PollingWaits, OffAnEndlessSelectWaitsForTheFrame) {
    ASSERT_TRUE(vb::modelSetPoll("off"));
    selectEndlesslyForTheNextFrame();
}

TEST_F(PollingWaits, OffNothingPolls) {
    ASSERT_TRUE(vb::modelSetPoll("off"));
    // A pass of the PL after the switch.
    ASSERT_TRUE(vb::modelWaitClock(vb::modelClockNs() + 2 * kMs, kWaitMs));
    EXPECT_EQ(vb::modelCounters().pollWindowNs, 0);
    const int64_t polledBefore = programPollNs();
    for (int k = 0; k < 5; ++k) {
        ASSERT_EQ(board.waitInterrupt(), "169") << "frame " << k;
        board.setReg(fpga::kReleaseBuf, 1);
    }
    sem_t sem;
    ASSERT_EQ(sem_init(&sem, 0, 0), 0);
    const timespec soon = at(monotonicNs() + 200 * kUs);
    EXPECT_EQ(sem_clockwait(&sem, CLOCK_MONOTONIC, &soon), -1);
    sem_destroy(&sem);
    EXPECT_EQ(programPollNs(), polledBefore);
    EXPECT_FALSE(vb::modelSetPoll("sometimes"));
}

}  // namespace
}  // namespace modeltest
