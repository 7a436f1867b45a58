// InterposeServices.cpp - the process services the board takes part in:
// loading the sensor plug-in by its board path; thread and semaphore
// creation, which fail on request so that the SDK's handling of those
// failures can be exercised; and the calls in which a thread of the program
// blocks (semaphore waits and sleeps), before which the PL looks at its
// registers: a store the program made just before it waits is seen at once.
// While frames come faster than a sleeping thread is reliably woken, a
// semaphore wait polls first (Dispatch.h); the 64-bit time variants of a
// 32-bit program do not.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "BoardClock.h"
#include "Dispatch.h"
#include "Libc.h"
#include "Paths.h"

extern "C" {

// ================================================================ loading
void* dlopen(const char* file, int mode) noexcept {
    VB_REAL(void* (*)(const char*, int), dlopen);
    // The plug-in must bind to the library already in the process.
    mode &= ~RTLD_DEEPBIND;
    std::string keep;
    if (file && strcmp(file, "/usr/lib/libvyxSensorQ210B.so") == 0) {
        file = vb::pluginTarget(keep);
        // A missing plug-in: let the loader itself report a file that is not there.
        if (!file) file = "/nonexistent/vyxboard/libvyxSensorQ210B.so";
    }
    return real_dlopen(file, mode);
}

// ================================================================ services
// Thread and semaphore creation fail on request, so the SDK's handling of
// those failures can be exercised.
int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) noexcept {
    if (int e = vb::serviceFault(vb::Service::ThreadCreate)) return e;
    VB_REAL(int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*), pthread_create);
    return real_pthread_create(thread, attr, start, arg);
}

int sem_init(sem_t* sem, int pshared, unsigned value) noexcept {
    if (int e = vb::serviceFault(vb::Service::SemInit)) {
        errno = e;
        return -1;
    }
    VB_REAL(int (*)(sem_t*, int, unsigned), sem_init);
    return real_sem_init(sem, pshared, value);
}

sem_t* sem_open(const char* name, int oflag, ...) noexcept {
    mode_t mode = 0;
    unsigned value = 0;
    if (oflag & O_CREAT) {
        va_list ap;
        va_start(ap, oflag);
        mode = static_cast<mode_t>(va_arg(ap, int));
        value = va_arg(ap, unsigned);
        va_end(ap);
    }
    if (int e = vb::serviceFault(vb::Service::SemOpen)) {
        errno = e;
        return SEM_FAILED;
    }
    VB_REAL(sem_t * (*)(const char*, int, ...), sem_open);
    return real_sem_open(name, oflag, mode, value);
}

// ================================================================ waits
namespace {

constexpr int64_t kNsPerS = 1000000000;
constexpr int64_t kNoPoll = -2;  // the deadline cannot be told: the wait does not poll

// The program's deadline `abstime` on `clock`, on the board's clock.
int64_t boardDeadline(clockid_t clock, const struct timespec* abstime) {
    if (abstime == nullptr || abstime->tv_nsec < 0 || abstime->tv_nsec >= kNsPerS) return kNoPoll;
    if (clock != CLOCK_MONOTONIC && clock != CLOCK_REALTIME) return kNoPoll;
    if (abstime->tv_sec > vb::kFarDeadlineSeconds) return -1;
    if (abstime->tv_sec < -vb::kFarDeadlineSeconds) return kNoPoll;
    const int64_t at = static_cast<int64_t>(abstime->tv_sec) * kNsPerS + abstime->tv_nsec;
    if (clock == CLOCK_MONOTONIC) return at;
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return vb::model::boardClockNs() + at - (static_cast<int64_t>(now.tv_sec) * kNsPerS + now.tv_nsec);
}

// The semaphore taken by polling before the program's wait (Dispatch.h).
bool semPolled(sem_t* sem, int64_t deadlineNs) {
    if (deadlineNs == kNoPoll) return false;
    VB_REAL(int (*)(sem_t*), sem_trywait);
    return vb::programPolls(deadlineNs, [sem] { return real_sem_trywait(sem) == 0; });
}

}  // namespace

int sem_wait(sem_t* sem) {
    vb::programWaits();
    if (semPolled(sem, -1)) return 0;
    VB_REAL(int (*)(sem_t*), sem_wait);
    return real_sem_wait(sem);
}

int sem_trywait(sem_t* sem) noexcept {
    vb::programWaits();
    VB_REAL(int (*)(sem_t*), sem_trywait);
    return real_sem_trywait(sem);
}

int sem_timedwait(sem_t* sem, const struct timespec* abstime) {
    vb::programWaits();
    if (semPolled(sem, boardDeadline(CLOCK_REALTIME, abstime))) return 0;
    VB_REAL(int (*)(sem_t*, const struct timespec*), sem_timedwait);
    return real_sem_timedwait(sem, abstime);
}

int sem_clockwait(sem_t* sem, clockid_t clock, const struct timespec* abstime) {
    vb::programWaits();
    if (semPolled(sem, boardDeadline(clock, abstime))) return 0;
    VB_REAL(int (*)(sem_t*, clockid_t, const struct timespec*), sem_clockwait);
    return real_sem_clockwait(sem, clock, abstime);
}

int usleep(useconds_t usec) {
    vb::programWaits();
    VB_REAL(int (*)(useconds_t), usleep);
    return real_usleep(usec);
}

int nanosleep(const struct timespec* req, struct timespec* rem) {
    vb::programWaits();
    VB_REAL(int (*)(const struct timespec*, struct timespec*), nanosleep);
    return real_nanosleep(req, rem);
}

int clock_nanosleep(clockid_t clock, int flags, const struct timespec* req, struct timespec* rem) {
    vb::programWaits();
    VB_REAL(int (*)(clockid_t, int, const struct timespec*, struct timespec*), clock_nanosleep);
    return real_clock_nanosleep(clock, flags, req, rem);
}

#ifdef VB_ILP32
// The 64-bit time variants a program built with _TIME_BITS=64 imports.
int __sem_timedwait64(sem_t* sem, const void* abstime) {
    vb::programWaits();
    VB_REAL(int (*)(sem_t*, const void*), __sem_timedwait64);
    return real___sem_timedwait64(sem, abstime);
}

int __sem_clockwait64(sem_t* sem, clockid_t clock, const void* abstime) {
    vb::programWaits();
    VB_REAL(int (*)(sem_t*, clockid_t, const void*), __sem_clockwait64);
    return real___sem_clockwait64(sem, clock, abstime);
}

int __nanosleep64(const void* req, void* rem) {
    vb::programWaits();
    VB_REAL(int (*)(const void*, void*), __nanosleep64);
    return real___nanosleep64(req, rem);
}

int __clock_nanosleep_time64(clockid_t clock, int flags, const void* req, void* rem) {
    vb::programWaits();
    VB_REAL(int (*)(clockid_t, int, const void*, void*), __clock_nanosleep_time64);
    return real___clock_nanosleep_time64(clock, flags, req, rem);
}
#endif

// libc's second name of nanosleep.
int __nanosleep(const struct timespec* req, struct timespec* rem) __attribute__((alias("nanosleep")));

}  // extern "C"
