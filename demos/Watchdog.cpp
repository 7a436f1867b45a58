// Watchdog.cpp - worker-thread watchdog of capture_demo (see Watchdog.h).
#include "Watchdog.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

pthread_t gThreadid = static_cast<pthread_t>(-1);
sem_t* gpSemID = nullptr;

namespace {

constexpr char kKillSemName[] = "kill_sem";
constexpr mode_t kKillSemMode = 0644;
constexpr time_t kTimerPeriodSeconds = 5;

// A detached thread's id may not be handed to pthread_kill or pthread_cancel
// once the thread has ended: its descriptor can already belong to another
// thread, and glibc reports an ended thread as alive.  So the worker records
// its own end (return, pthread_exit from WatiSemphore, or cancellation) and
// the watchdog asks that record first.  Each worker carries the generation it
// was started with; only the current generation's end counts.
std::atomic<unsigned> g_unWorkerGeneration{0};
std::atomic<bool> g_bWorkerEnded{true};

struct WorkerStart {
    WorkerEntry pfnEntry;
    void* pArg;
    unsigned unGeneration;
};

// Runs when the worker's stack unwinds, whichever way it ends.
struct WorkerEndMark {
    unsigned unGeneration;
    ~WorkerEndMark()
    {
        if (g_unWorkerGeneration.load() == unGeneration) {
            g_bWorkerEnded.store(true);
        }
    }
};

void* WorkerMain(void* p)
{
    const WorkerStart start = *static_cast<WorkerStart*>(p);
    delete static_cast<WorkerStart*>(p);
    WorkerEndMark mark{start.unGeneration};
    return start.pfnEntry(start.pArg);
}

bool WorkerAlive()
{
    return !g_bWorkerEnded.load() && pthread_kill(gThreadid, 0) == 0;
}

// The worker polls the kill semaphore while CreateThread or CreateSemphore
// may put a new one in its place from another thread: the pointer is read
// and written atomically (it stays a plain pointer for the header's users).
sem_t* KillSem() { return __atomic_load_n(&gpSemID, __ATOMIC_ACQUIRE); }

void SetKillSem(sem_t* sem) { __atomic_store_n(&gpSemID, sem, __ATOMIC_RELEASE); }

// Removes any stale "kill_sem" and creates it afresh with the value 0.
// sem_open with O_EXCL already yields a fresh semaphore of value 0 that every
// process opening the name shares.
sem_t* OpenKillSemaphore()
{
    sem_unlink(kKillSemName);
    sem_t* sem = sem_open(kKillSemName, O_CREAT | O_EXCL, kKillSemMode, 0);
    return sem == SEM_FAILED ? nullptr : sem;
}

int InstallTimeoutHandler()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sa_handler = TimeoutHandler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    return sigaction(SIGALRM, &sa, nullptr);
}

int SetTimer(time_t seconds)
{
    struct itimerval tv;
    std::memset(&tv, 0, sizeof(tv));
    tv.it_value.tv_sec = seconds;
    tv.it_interval.tv_sec = seconds;
    return setitimer(ITIMER_REAL, &tv, nullptr);
}

unsigned PrintableId(pthread_t id)
{
    return static_cast<unsigned>(id);
}

void WriteToStdout(const char* pText, size_t length)
{
    while (length > 0) {
        const ssize_t n = write(STDOUT_FILENO, pText, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        pText += n;
        length -= static_cast<size_t>(n);
    }
}

// A line built without stdio, locale or heap, for the signal handler.
// Text beyond the buffer is cut off.
class SignalSafeLine {
public:
    void Append(const char* pText)
    {
        while (*pText != '\0' && m_length < sizeof(m_text)) {
            m_text[m_length++] = *pText++;
        }
    }
    void AppendUnsigned(unsigned value)
    {
        char digits[16];
        size_t n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (n > 0 && m_length < sizeof(m_text)) {
            m_text[m_length++] = digits[--n];
        }
    }
    // strerror's text for the errors pthread_cancel reports; strerror
    // itself may allocate and consult the locale.
    void AppendErrorText(int err)
    {
        if (err == ESRCH) {
            Append("No such process");
        } else if (err == EINVAL) {
            Append("Invalid argument");
        } else {
            Append("errno ");
            AppendUnsigned(static_cast<unsigned>(err));
        }
    }
    const char* Text() const { return m_text; }
    size_t Length() const { return m_length; }

private:
    char m_text[128];
    size_t m_length = 0;
};

}  // namespace

int CreateThread(void* /*pFirst*/, WorkerEntry pfnEntry, void* pArg)
{
    if (pfnEntry == nullptr) {
        std::printf("CreateThread failed: pEntryFunc is NULL\n");
        return -1;
    }
    if (gThreadid != static_cast<pthread_t>(-1)) {
        std::printf("error, thread(%u) created already, please kill first!\n", PrintableId(gThreadid));
    }
    SetKillSem(OpenKillSemaphore());

    const unsigned previousGeneration = g_unWorkerGeneration.load();
    const bool previousEnded = g_bWorkerEnded.load();
    auto* start = new WorkerStart{pfnEntry, pArg, previousGeneration + 1};
    g_unWorkerGeneration.store(start->unGeneration);
    g_bWorkerEnded.store(false);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t id;
    const int err = pthread_create(&id, &attr, WorkerMain, start);
    pthread_attr_destroy(&attr);
    if (err != 0) {
        delete start;
        g_unWorkerGeneration.store(previousGeneration);
        g_bWorkerEnded.store(previousEnded);
        std::printf("CreateThread failed: pthread_create err(%d)\n", err);
        return err;
    }
    gThreadid = id;
    std::printf("CreateThread success id(%u)\n", PrintableId(id));
    InstallTimeoutHandler();
    return 0;
}

int KillThread()
{
    const int err = WorkerAlive() ? pthread_cancel(gThreadid) : ESRCH;
    if (err != 0) {
        std::printf("Fail to kill thread (%u)(%s)\n", PrintableId(gThreadid), std::strerror(err));
        return -1;
    }
    return 0;
}

int IsThreadKilled()
{
    if (g_bWorkerEnded.load()) {
        return ESRCH;
    }
    return pthread_kill(gThreadid, 0);
}

int CreateSemphore()
{
    SetKillSem(OpenKillSemaphore());
    return KillSem() == nullptr ? -1 : 0;
}

int SendSemphore()
{
    sem_t* sem = KillSem();
    return sem != nullptr ? sem_post(sem) : 0;
}

int WatiSemphore()
{
    sem_t* sem = KillSem();
    if (sem == nullptr) {
        return 0;
    }
    const int r = sem_trywait(sem);
    if (r != 0) {
        return r;
    }
    std::printf("thread (%u) killed by process\n", PrintableId(pthread_self()));
    pthread_exit(nullptr);
}

int EnableTimer()
{
    return SetTimer(kTimerPeriodSeconds);
}

int DisableTimer()
{
    return SetTimer(0);
}

int BindTimerHandler()
{
    return InstallTimeoutHandler();
}

void TimeoutHandler(int nSignal)
{
    if (nSignal != SIGALRM || !WorkerAlive()) {
        return;
    }
    // Runs in signal context: only async-signal-safe calls, the line built
    // in a local buffer and written with write(2).
    const int savedErrno = errno;
    static const char kLine[] = "TimeoutHandler\n";
    WriteToStdout(kLine, sizeof(kLine) - 1);
    const int err = pthread_cancel(gThreadid);
    if (err != 0) {
        SignalSafeLine line;
        line.Append("Fail to kill thread (");
        line.AppendUnsigned(PrintableId(gThreadid));
        line.Append(")(");
        line.AppendErrorText(err);
        line.Append(")\n");
        WriteToStdout(line.Text(), line.Length());
    }
    DisableTimer();
    errno = savedErrno;
}
