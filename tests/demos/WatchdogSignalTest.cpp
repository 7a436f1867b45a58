// The watchdog's SIGALRM handler on its failure path: when cancelling the
// worker fails, the handler still reports it, and does so with
// async-signal-safe calls only.  The test stands in for pthread_cancel (to
// make it fail on demand) and watches strerror and the snprintf family,
// which may take locks, allocate or consult the locale and so must not run
// inside a signal handler.
#include "Watchdog.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>
#include <time.h>

namespace {

std::atomic<int> g_nCancelError{0};      // non-zero: pthread_cancel fails with it
std::atomic<bool> g_bWatching{false};    // inside the handler's failure path
std::atomic<int> g_nUnsafeCalls{0};

void NoteUnsafeCall()
{
    if (g_bWatching.load()) {
        g_nUnsafeCalls.fetch_add(1);
    }
}

int CountedFormat(char* pBuf, size_t size, const char* pszFormat, va_list args)
{
    NoteUnsafeCall();
    return vsnprintf(pBuf, size, pszFormat, args);
}

template <typename F>
F Next(const char* pszName)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, pszName));
}

}  // namespace

extern "C" {

int pthread_cancel(pthread_t id)
{
    const int err = g_nCancelError.load();
    if (err != 0) {
        g_bWatching.store(true);
        return err;
    }
    static const auto real = Next<int (*)(pthread_t)>("pthread_cancel");
    return real(id);
}

char* strerror(int err) noexcept
{
    NoteUnsafeCall();
    static const auto real = Next<char* (*)(int)>("strerror");
    return real(err);
}

// snprintf, and its fortified form where the build fortifies.
int snprintf(char* pBuf, size_t size, const char* pszFormat, ...) noexcept
{
    va_list args;
    va_start(args, pszFormat);
    const int n = CountedFormat(pBuf, size, pszFormat, args);
    va_end(args);
    return n;
}

int __snprintf_chk(char* pBuf, size_t size, int /*flag*/, size_t /*slen*/, const char* pszFormat, ...) noexcept
{
    va_list args;
    va_start(args, pszFormat);
    const int n = CountedFormat(pBuf, size, pszFormat, args);
    va_end(args);
    return n;
}

}  // extern "C"

namespace {

constexpr auto kBound = std::chrono::seconds(20);

// Runs until cancelled (or the bound passes); tells when it started.  The
// cancellation unwinds this frame without its epilogue, so AddressSanitizer
// would find the red zones of its locals still poisoned under the frames
// that run next and stop with an internal CHECK: the frame is left
// uninstrumented (the promise is set in a frame of its own, which returns).
const timespec kPause{0, 1000000};

__attribute__((noinline)) void TellStarted(void* p)
{
    static_cast<std::promise<void>*>(p)->set_value();
}

__attribute__((no_sanitize("address"))) void* StubbornWorker(void* p)
{
    TellStarted(p);
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (std::chrono::steady_clock::now() < deadline) {
        nanosleep(&kPause, nullptr);   // a cancellation point
    }
    return nullptr;
}

bool WaitEnded()
{
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (IsThreadKilled() == 0) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        const timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
    }
    return true;
}

TEST(WatchdogSignal, AFailedCancelIsReportedWithSignalSafeCallsOnly)
{
    std::promise<void> started;
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(CreateThread(nullptr, StubbornWorker, &started), 0);
    ASSERT_EQ(started.get_future().wait_for(kBound), std::future_status::ready);
    fflush(stdout);     // CreateThread's line, ahead of the handler's writes
    const std::string id = std::to_string(static_cast<unsigned>(gThreadid));
    ASSERT_EQ(BindTimerHandler(), 0);

    // The worker ends between the handler's liveness check and its cancel
    // (ESRCH), and an error pthread_cancel is not known to give.
    struct Case { int err; const char* text; };
    const Case cases[] = {{ESRCH, "No such process"}, {EPERM, "errno 1"}};
    for (const Case& c : cases) {
        g_nCancelError.store(c.err);
        g_nUnsafeCalls.store(0);
        raise(SIGALRM);     // the handler runs before raise returns
        g_bWatching.store(false);
        g_nCancelError.store(0);
        EXPECT_EQ(g_nUnsafeCalls.load(), 0) << "strerror or snprintf called in the signal handler";
    }
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.substr(out.find("TimeoutHandler")),
              "TimeoutHandler\nFail to kill thread (" + id + ")(No such process)\n"
              "TimeoutHandler\nFail to kill thread (" + id + ")(errno 1)\n");

    // The worker still lives; the real cancel ends it.
    EXPECT_EQ(KillThread(), 0);
    EXPECT_TRUE(WaitEnded());
    DisableTimer();
    sem_unlink("kill_sem");
}

}  // namespace
