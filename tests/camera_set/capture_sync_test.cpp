// The capture hand-shake on its own: announcements and captures, changes
// that wake waiting captures and hold back new ones, the frames of abandoned
// software triggers and the order of releases, and signals, which do not
// end a wait.  Threads meet on the hand-shake's own counters (sleeping
// captures, announced frames), never on sleeps.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <future>
#include <limits>
#include <thread>
#include <vector>

#include "CaptureSync.h"

namespace {

using Result = CCaptureSync::Result;
using Capture = CCaptureSync::CCapture;
constexpr unsigned kBuffers = 4;
constexpr long kLongMs = 60000;   // far beyond any bounded wait below

timespec After(long ms) { return CCaptureSync::DeadlineAfterMs(static_cast<unsigned long>(ms)); }

// Bounded wait until `count` captures sleep in the hand-shake.
bool WaitSleeping(const CCaptureSync& sync, unsigned count) {
    for (int i = 0; i < 20000 && sync.WaitingCaptures() != count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return sync.WaitingCaptures() == count;
}

// A whole capture as the camera set makes it, in software-trigger mode when
// framesPerBuffer is not 0; *releases collects what it asks to release.
Result CaptureOnce(CCaptureSync& sync, long ms, unsigned framesPerBuffer = 0, unsigned* releases = nullptr) {
    Capture c(sync, After(ms));
    if (!c.Ok()) return Result::TimedOut;
    Result r = c.Enter();
    if (r != Result::Ready) return r;
    if (framesPerBuffer != 0) {
        unsigned n = 0;
        r = c.SettleAbandoned(framesPerBuffer, &n);
        if (releases) *releases += n;
        if (r != Result::Ready) return r;
    }
    return c.TakeFrame();
}

// The deadline of a capture: whole seconds carried out of the nanoseconds
// (the wait refuses a field of one second or more, which would end a capture
// started late in a second at once), saturated at the end of time_t.
TEST(CaptureDeadline, CarriesTheSecondsAndSaturates) {
    constexpr time_t kMax = std::numeric_limits<time_t>::max();
    struct Row {
        timespec now;
        unsigned long ms;
        timespec expected;
    };
    const Row rows[] = {
        {{10, 0}, 0, {10, 0}},
        {{10, 0}, 999, {10, 999000000L}},
        {{10, 950000000L}, 1100, {12, 50000000L}},
        {{10, 999999999L}, 1, {11, 999999L}},
        {{10, 0}, 60000, {70, 0}},
        {{kMax - 5, 900000000L}, 200, {kMax - 4, 100000000L}},
        {{kMax - 1, 0}, 5000, {kMax, 0}},
    };
    for (const Row& r : rows) {
        const timespec t = CCaptureSync::DeadlineAfterMs(r.now, r.ms);
        EXPECT_EQ(t.tv_sec, r.expected.tv_sec)
            << r.now.tv_sec << "s " << r.now.tv_nsec << "ns + " << r.ms << " ms";
        EXPECT_EQ(t.tv_nsec, r.expected.tv_nsec)
            << r.now.tv_sec << "s " << r.now.tv_nsec << "ns + " << r.ms << " ms";
    }
    // The longest time-out: beyond a 32-bit time_t, within a 64-bit one.
    const timespec far = CCaptureSync::DeadlineAfterMs(timespec{1000, 0}, ULONG_MAX);
    const unsigned long long seconds = 1000ULL + ULONG_MAX / 1000;
    EXPECT_EQ(far.tv_sec,
              seconds > static_cast<unsigned long long>(kMax) ? kMax : static_cast<time_t>(seconds));
    EXPECT_GE(far.tv_nsec, 0);
    EXPECT_LT(far.tv_nsec, 1000000000L);
}

TEST(CaptureSync, EachAnnouncedFrameIsTakenOnce) {
    CCaptureSync sync(kBuffers);
    sync.Announce();
    sync.Announce();
    EXPECT_EQ(sync.AnnouncedFrames(), 2u);
    EXPECT_EQ(CaptureOnce(sync, 0), Result::Ready);
    EXPECT_EQ(CaptureOnce(sync, 0), Result::Ready);
    EXPECT_EQ(CaptureOnce(sync, 0), Result::TimedOut);   // deadline already passed

    // A capture sleeping for a frame wakes on its announcement.
    auto waiting = std::async(std::launch::async, [&] { return CaptureOnce(sync, kLongMs); });
    ASSERT_TRUE(WaitSleeping(sync, 1));
    sync.Announce();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), Result::Ready);
    EXPECT_EQ(sync.AnnouncedFrames(), 0u);
}

TEST(CaptureSync, DeadlineEndsAWaitWithNothingAnnounced) {
    CCaptureSync sync(kBuffers);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CaptureOnce(sync, 100), Result::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(95));
    EXPECT_EQ(sync.WaitingCaptures(), 0u);
}

TEST(CaptureSync, ChangeWakesEverySleepingCaptureAndHoldsNewOnesBack) {
    CCaptureSync sync(kBuffers);
    std::vector<std::future<Result>> sleepers;
    for (int i = 0; i < 3; ++i)
        sleepers.push_back(std::async(std::launch::async, [&] { return CaptureOnce(sync, kLongMs); }));
    ASSERT_TRUE(WaitSleeping(sync, 3));

    sync.BeginChange();
    for (auto& f : sleepers) {
        ASSERT_EQ(f.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        EXPECT_EQ(f.get(), Result::Changed);
    }
    EXPECT_TRUE(WaitSleeping(sync, 0));

    // Started during the change: it sleeps until the change is over, then
    // waits for a frame as usual.
    sync.Announce();   // a frame the change is clearing
    auto late = std::async(std::launch::async, [&] { return CaptureOnce(sync, kLongMs); });
    ASSERT_TRUE(WaitSleeping(sync, 1));
    sync.ForgetFrames();
    sync.EndChange();
    // Woken by the end of the change, it finds nothing and sleeps again.
    ASSERT_TRUE(WaitSleeping(sync, 1));
    EXPECT_FALSE(sync.Changing());
    sync.Announce();
    ASSERT_EQ(late.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(late.get(), Result::Ready);

    // A change that never ends within the time-out ends the capture then.
    sync.BeginChange();
    EXPECT_EQ(CaptureOnce(sync, 50), Result::TimedOut);
    sync.EndChange();
}

// A capture that starts while a change runs goes on as soon as the change
// ends, with no frame announced: the end of the change wakes it (in software
// mode no frame would ever come to do that).
TEST(CaptureSync, EndOfAChangeWakesTheCapturesThatWaitedForIt) {
    CCaptureSync sync(kBuffers);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        sync.BeginChange();
        auto entered = std::async(std::launch::async, [&] {
            Capture c(sync, After(kLongMs));
            return c.Ok() ? c.Enter() : Result::TimedOut;
        });
        ASSERT_TRUE(WaitSleeping(sync, 1));
        EXPECT_EQ(entered.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
        sync.EndChange();
        ASSERT_EQ(entered.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        EXPECT_EQ(entered.get(), Result::Ready);
        EXPECT_EQ(sync.AnnouncedFrames(), 0u);
    }
}

TEST(CaptureSync, ChangeBetweenTheStepsOfACaptureEndsIt) {
    CCaptureSync sync(kBuffers);
    Capture c(sync, After(kLongMs));
    ASSERT_TRUE(c.Ok());
    ASSERT_EQ(c.Enter(), Result::Ready);
    sync.BeginChange();
    sync.EndChange();
    sync.Announce();   // even with a frame there: it may be one the change cleared
    EXPECT_EQ(c.TakeFrame(), Result::Changed);
    unsigned releases = 0;
    EXPECT_EQ(c.SettleAbandoned(1, &releases), Result::Changed);
    EXPECT_EQ(releases, 0u);
}

// A software capture that gives up leaves its trigger behind.  The next
// capture waits for that frame and releases it before it fires its own.
TEST(CaptureSync, FramesOfAbandonedTriggersAreReleasedNotHandedOut) {
    CCaptureSync sync(kBuffers);
    EXPECT_EQ(CaptureOnce(sync, 0, 1), Result::TimedOut);
    EXPECT_EQ(sync.AbandonedTriggers(), 1u);

    Capture next(sync, After(kLongMs));
    ASSERT_TRUE(next.Ok());
    ASSERT_EQ(next.Enter(), Result::Ready);
    unsigned releases = 0;
    auto settle = std::async(std::launch::async, [&] { return next.SettleAbandoned(1, &releases); });
    ASSERT_TRUE(WaitSleeping(sync, 1));   // the late frame has not come yet
    sync.Announce();                      // ... now it has
    ASSERT_EQ(settle.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(settle.get(), Result::Ready);
    EXPECT_EQ(releases, 1u);              // nothing held: released at once
    EXPECT_EQ(sync.AbandonedTriggers(), 0u);
    sync.Announce();                      // the frame of its own trigger
    EXPECT_EQ(next.TakeFrame(), Result::Ready);

    // A late frame that arrived before the next capture started is released
    // without waiting.
    EXPECT_EQ(sync.Release(), 1u);
    EXPECT_EQ(CaptureOnce(sync, 0, 1), Result::TimedOut);
    sync.Announce();
    releases = 0;
    Capture third(sync, After(0));
    ASSERT_EQ(third.Enter(), Result::Ready);
    EXPECT_EQ(third.SettleAbandoned(1, &releases), Result::Ready);
    EXPECT_EQ(releases, 1u);
}

// The PL frees its oldest filled buffer whatever a release meant: a
// discarded frame behind frames the application holds goes back only once
// the application has given them all back.
TEST(CaptureSync, DiscardedFramesWaitBehindTheFramesTheApplicationHolds) {
    CCaptureSync sync(kBuffers);
    sync.Announce();
    ASSERT_EQ(CaptureOnce(sync, 0), Result::Ready);   // the application holds one
    ASSERT_EQ(CaptureOnce(sync, 0, 1), Result::TimedOut);
    sync.Announce();                                  // its late frame
    unsigned releases = 0;
    {
        Capture c(sync, After(kLongMs));
        ASSERT_EQ(c.Enter(), Result::Ready);
        ASSERT_EQ(c.SettleAbandoned(1, &releases), Result::Ready);
        sync.Announce();
        ASSERT_EQ(c.TakeFrame(), Result::Ready);      // holds two now
    }
    EXPECT_EQ(releases, 0u);
    EXPECT_EQ(sync.Release(), 1u);
    EXPECT_EQ(sync.Release(), 2u);   // the last frame, then the discarded one
    EXPECT_EQ(sync.Release(), 1u);   // more releases than frames still reach the PL
}

// With every buffer taken the PL drops the trigger: no frame is owed, and the
// next capture does not wait for one.
TEST(CaptureSync, TriggerWithoutAFreeBufferOwesNoFrame) {
    CCaptureSync sync(kBuffers);
    for (unsigned i = 0; i < kBuffers; ++i) {
        sync.Announce();
        ASSERT_EQ(CaptureOnce(sync, 0), Result::Ready);
    }
    EXPECT_EQ(CaptureOnce(sync, 0, 1), Result::TimedOut);
    EXPECT_EQ(sync.AbandonedTriggers(), 0u);
    for (unsigned i = 0; i < kBuffers; ++i) sync.Release();
    // With a buffer free again, a trigger given up on owes its frame: the
    // next capture waits for it first, and at its deadline it is still owed
    // (it may yet come, and must not pass for a later trigger's frame).
    EXPECT_EQ(CaptureOnce(sync, 0, 1), Result::TimedOut);
    EXPECT_EQ(sync.AbandonedTriggers(), 1u);
    EXPECT_EQ(CaptureOnce(sync, 0, 1), Result::TimedOut);
    EXPECT_EQ(sync.AbandonedTriggers(), 1u);
}

// Several frames per buffer: a buffer announces that many triggers, and the
// triggers given up on share the buffer with the one that completes it.
TEST(CaptureSync, BufferOfSeveralFramesCompletesWithTheLastTrigger) {
    CCaptureSync sync(kBuffers);
    EXPECT_EQ(CaptureOnce(sync, 0, 3), Result::TimedOut);
    EXPECT_EQ(CaptureOnce(sync, 0, 3), Result::TimedOut);
    EXPECT_EQ(sync.AbandonedTriggers(), 2u);
    Capture c(sync, After(kLongMs));
    ASSERT_EQ(c.Enter(), Result::Ready);
    unsigned releases = 0;
    ASSERT_EQ(c.SettleAbandoned(3, &releases), Result::Ready);   // no waiting
    EXPECT_EQ(releases, 0u);
    sync.Announce();
    EXPECT_EQ(c.TakeFrame(), Result::Ready);
    EXPECT_EQ(sync.AbandonedTriggers(), 0u);
}

TEST(CaptureSync, ForgettingClearsEveryCount) {
    CCaptureSync sync(kBuffers);
    sync.Announce();
    ASSERT_EQ(CaptureOnce(sync, 0), Result::Ready);
    ASSERT_EQ(CaptureOnce(sync, 0, 1), Result::TimedOut);
    sync.Announce();
    sync.BeginChange();
    sync.ForgetFrames();
    sync.EndChange();
    EXPECT_EQ(sync.AnnouncedFrames(), 0u);
    EXPECT_EQ(sync.AbandonedTriggers(), 0u);
    EXPECT_EQ(sync.Release(), 1u);   // nothing held any more
}

std::atomic<unsigned> g_unSignals{0};
void NoteSignal(int) { g_unSignals.fetch_add(1); }

// Signals handled by the capturing thread do not end its wait: timers and
// watchdogs are common in camera applications, and a wait cut short would
// lose the frame.  The wait goes on until its frame comes.
TEST(CaptureSync, SignalsDoNotEndTheWait) {
    struct sigaction sa = {};
    struct sigaction old = {};
    sa.sa_handler = NoteSignal;
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);
    CCaptureSync sync(kBuffers);
    std::promise<pthread_t> self;
    auto waiting = std::async(std::launch::async, [&] {
        self.set_value(pthread_self());
        return CaptureOnce(sync, kLongMs);
    });
    const pthread_t thread = self.get_future().get();
    ASSERT_TRUE(WaitSleeping(sync, 1));
    // Each signal is handled before the next is sent; a wait that a signal
    // ended has its result ready.
    for (unsigned i = 1; i <= 20; ++i) {
        const unsigned before = g_unSignals.load();
        ASSERT_EQ(pthread_kill(thread, SIGUSR1), 0);
        for (int ms = 0; ms < 20000 && g_unSignals.load() == before; ++ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_GT(g_unSignals.load(), before);
        if (waiting.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready) break;
    }
    sync.Announce();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), Result::Ready);
    sigaction(SIGUSR1, &old, nullptr);
}

}  // namespace
