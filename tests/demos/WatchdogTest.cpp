// capture_demo's worker-thread watchdog: starting workers, stopping them
// politely through the "kill_sem" semaphore, cancelling them, and the
// SIGALRM handler.  Every wait is bounded.
#include "Watchdog.h"

#include <gtest/gtest.h>

#include "ChildProcess.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <future>
#include <string>
#include <sys/time.h>
#include <thread>
#include <time.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kBound = std::chrono::seconds(20);

// A worker for the tests.  It signals `started` when it runs and `ended`
// however it ends (return, pthread_exit, cancellation: the guard's
// destructor runs during the unwinding).  A polite worker checks the kill
// semaphore at its safe points; a stubborn one never does and only a
// cancellation stops it.
struct Worker {
    bool bPolite = true;
    std::promise<void> started;
    std::promise<void> ended;
    std::future<void> startedFuture = started.get_future();
    std::future<void> endedFuture = ended.get_future();
};

struct EndGuard {
    Worker* w;
    ~EndGuard() { w->ended.set_value(); }
};

void* WorkerMain(void* p)
{
    auto* w = static_cast<Worker*>(p);
    EndGuard guard{w};
    w->started.set_value();
    const auto deadline = Clock::now() + kBound;
    const timespec pause{0, 1000000};   // 1 ms between safe points
    while (Clock::now() < deadline) {
        if (w->bPolite) {
            WatiSemphore();
        }
        nanosleep(&pause, nullptr);      // a cancellation point
    }
    return nullptr;
}

bool Ended(Worker& w) { return w.endedFuture.wait_for(kBound) == std::future_status::ready; }

// IsThreadKilled turns non-zero once the worker's end is recorded, just
// after its own clean-up ran.
bool ReportedKilled()
{
    const auto deadline = Clock::now() + kBound;
    while (IsThreadKilled() == 0) {
        if (Clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

std::string Id(pthread_t id) { return std::to_string(static_cast<unsigned>(id)); }

class Watchdog : public ::testing::Test {
protected:
    static void TearDownTestSuite() { sem_unlink("kill_sem"); }
};

// The state a process starts with: nothing was started yet.  Checked in a
// process of its own, so that the order of the tests does not matter.
TEST_F(Watchdog, BeforeAnyWorker)
{
    if (!vyxtest::RunsInFreshProcess()) return;
    EXPECT_EQ(gThreadid, static_cast<pthread_t>(-1));
    EXPECT_NE(IsThreadKilled(), 0);
    EXPECT_EQ(WatiSemphore(), 0) << "no semaphore: nothing to wait for";
    EXPECT_EQ(SendSemphore(), 0);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(KillThread(), -1);
    TimeoutHandler(SIGALRM);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Fail to kill thread ("), std::string::npos) << out;
    EXPECT_EQ(out.find("TimeoutHandler"), std::string::npos) << out;

    ::testing::internal::CaptureStdout();
    EXPECT_EQ(CreateThread(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "CreateThread failed: pEntryFunc is NULL\n");
}

TEST_F(Watchdog, PoliteStopThroughTheSemaphore)
{
    Worker w;
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(CreateThread(nullptr, WorkerMain, &w), 0);
    const pthread_t id = gThreadid;
    ASSERT_EQ(w.startedFuture.wait_for(kBound), std::future_status::ready);
    EXPECT_EQ(IsThreadKilled(), 0);
    ASSERT_NE(gpSemID, nullptr);
    EXPECT_EQ(SendSemphore(), 0);
    ASSERT_TRUE(Ended(w));
    EXPECT_TRUE(ReportedKilled());
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("CreateThread success id(" + Id(id) + ")\n"), std::string::npos) << out;
    EXPECT_NE(out.find("thread (" + Id(id) + ") killed by process\n"), std::string::npos) << out;

    // The handler is in place for the timer.
    struct sigaction sa;
    ASSERT_EQ(sigaction(SIGALRM, nullptr, &sa), 0);
    EXPECT_EQ(sa.sa_handler, &TimeoutHandler);

    // A dead worker cannot be killed again.
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(KillThread(), -1);
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("Fail to kill thread (" + Id(id) + ")"),
              std::string::npos);
}

TEST_F(Watchdog, SecondCreateWarnsAndReplacesTheId)
{
    Worker first;
    Worker second;
    second.bPolite = false;
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(CreateThread(nullptr, WorkerMain, &first), 0);
    const pthread_t firstId = gThreadid;
    ASSERT_EQ(CreateThread(nullptr, WorkerMain, &second), 0);
    const pthread_t secondId = gThreadid;
    ASSERT_EQ(second.startedFuture.wait_for(kBound), std::future_status::ready);
    EXPECT_NE(firstId, secondId);
    EXPECT_EQ(IsThreadKilled(), 0);

    // KillThread reaches the newest worker only.
    EXPECT_EQ(KillThread(), 0);
    ASSERT_TRUE(Ended(second));
    EXPECT_TRUE(ReportedKilled());
    EXPECT_EQ(first.endedFuture.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);

    // The first worker still answers the (recreated) semaphore.
    EXPECT_EQ(SendSemphore(), 0);
    ASSERT_TRUE(Ended(first));
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("error, thread(" + Id(firstId) + ") created already, please kill first!\n"),
              std::string::npos) << out;
    EXPECT_NE(out.find("CreateThread success id(" + Id(secondId) + ")\n"), std::string::npos) << out;
}

TEST_F(Watchdog, TimerExpiryCancelsAHangingWorker)
{
    Worker w;
    w.bPolite = false;
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(CreateThread(nullptr, WorkerMain, &w), 0);
    ASSERT_EQ(w.startedFuture.wait_for(kBound), std::future_status::ready);

    TimeoutHandler(SIGUSR1);             // not the timer's signal: ignored
    EXPECT_EQ(IsThreadKilled(), 0);

    // Should the real expiry come first on a slow machine, it does the same
    // as the direct call below, which then finds no live worker.
    ASSERT_EQ(EnableTimer(), 0);
    itimerval tv;
    ASSERT_EQ(getitimer(ITIMER_REAL, &tv), 0);
    EXPECT_EQ(tv.it_interval.tv_sec, 5);
    TimeoutHandler(SIGALRM);             // what the expiry does
    ASSERT_TRUE(Ended(w));
    EXPECT_TRUE(ReportedKilled());
    ASSERT_EQ(getitimer(ITIMER_REAL, &tv), 0);
    EXPECT_EQ(tv.it_value.tv_sec + tv.it_value.tv_usec + tv.it_interval.tv_sec, 0) << "timer disarmed";

    TimeoutHandler(SIGALRM);             // no live worker: nothing happens
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("TimeoutHandler\n"), out.rfind("TimeoutHandler\n")) << "printed once: " << out;
    EXPECT_NE(out.find("TimeoutHandler\n"), std::string::npos) << out;

    EXPECT_EQ(BindTimerHandler(), 0);
    EXPECT_EQ(DisableTimer(), 0);
}

}  // namespace
