// Watchdog.h - worker-thread watchdog of capture_demo.
//
// An application that hands slow work (a long analysis, a file transfer) to
// one detached worker thread uses this module to stop it again:
//   - politely: the worker calls WatiSemphore() at its safe points, and the
//     process posts the "kill_sem" semaphore with SendSemphore();
//   - by force: EnableTimer() arms a 5 s real-time interval timer; when it
//     fires while the worker still lives, TimeoutHandler cancels the worker
//     and disarms the timer.
// capture_demo's own loop does not use it.
#ifndef VYX_DEMO_WATCHDOG_H
#define VYX_DEMO_WATCHDOG_H

#include <pthread.h>
#include <semaphore.h>

// Id of the current worker; all ones until the first CreateThread.
extern pthread_t gThreadid;
// The "kill_sem" semaphore, or null when it could not be created.
extern sem_t* gpSemID;

typedef void* (*WorkerEntry)(void*);

// Starts pfnEntry(pArg) on a new detached worker (pFirst is not used) and
// recreates "kill_sem".  A worker that already runs is not stopped: the new
// one takes its place in gThreadid.  Returns 0, -1 for a null entry, or
// pthread_create's error number.
int CreateThread(void* pFirst, WorkerEntry pfnEntry, void* pArg);

// Cancels the current worker.  0, or -1 when it cannot be cancelled.
int KillThread();

// 0 while the current worker lives, non-zero once it has ended (or before
// any worker was started).
int IsThreadKilled();

// Recreates "kill_sem" with the value 0.  0, or -1 on failure.
int CreateSemphore();

// Asks the worker to stop at its next safe point.
int SendSemphore();

// Called by the worker at a safe point: returns 0 when there is no semaphore
// and the sem_trywait result when no stop was asked for; ends the calling
// thread when one was.
int WatiSemphore();

// Arms (first expiry after 5 s, then every 5 s) and disarms the timer.
int EnableTimer();
int DisableTimer();

// Installs TimeoutHandler for SIGALRM.
int BindTimerHandler();

// SIGALRM handler: cancels a worker that still lives and disarms the timer.
// Other signals are ignored.
void TimeoutHandler(int nSignal);

#endif
