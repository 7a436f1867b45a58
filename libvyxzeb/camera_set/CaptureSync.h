// CaptureSync.h - the capture hand-shake of one camera set.
//
// Three kinds of threads meet here: the capture interrupt thread, which
// announces every frame interrupt of the set; the application's capturing
// thread, which takes one announcement per frame it returns; and a thread
// that changes the trigger mode or empties the frame buffers.  A change stops
// the PL and clears its four buffers, so:
//   - every capture waiting when a change begins wakes at once and gives up;
//   - a capture that starts during a change waits until the change is over,
//     then waits for a frame as usual, within its own deadline;
//   - announcements of frames the change has cleared are forgotten.
//
// Software trigger.  Each capture fires one trigger and must return the frame
// that trigger produced.  A capture that gives up (its deadline passed) leaves
// its trigger behind, and the frame the PL delivers for it later belongs to
// nobody.  The hand-shake counts those abandoned triggers; the next capture
// first waits for their frames and discards them, and only then fires its own
// trigger, so that the frame it gets is its own whether the PL queues or
// ignores a trigger that comes while a frame is still on its way.  A trigger
// fired while every buffer is taken is dropped by the PL and owes no frame.
// When frames the capture waits for never come, its deadline ends the wait
// and the count starts afresh.
//
// Discarded frames go back to the PL.  The PL frees its filled buffers oldest
// first, whatever buffer a release was meant for, so a discarded frame is
// released at once only while the application holds no frame; otherwise its
// release waits until the application has given back every frame it holds.
//
// Every waiting capture sleeps on a semaphore of its own: a wake-up reaches
// the capture it is meant for.  A signal delivered to the capturing thread
// does not end its wait before the deadline: timers and watchdog signals
// are common in camera applications.  One mutex guards the counts; it is never held while
// sleeping.  Nothing here touches the hardware: the camera set fires
// triggers and issues the releases these operations ask for.
#ifndef VYX_CAPTURESYNC_H
#define VYX_CAPTURESYNC_H

#include <semaphore.h>
#include <time.h>

#include <mutex>

class CCaptureSync {
public:
    enum class Result {
        Ready,     // the step is done: a frame is there, or the capture may go on
        Changed,   // a change began since the capture started
        TimedOut,  // the deadline passed
    };

    explicit CCaptureSync(unsigned unFrameBuffers);
    ~CCaptureSync() = default;
    CCaptureSync(const CCaptureSync&) = delete;
    CCaptureSync& operator=(const CCaptureSync&) = delete;

    // ---- the capture interrupt thread ----
    // One frame interrupt of the set: a frame waits in a filled buffer.
    void Announce();

    // ---- changes (trigger mode, emptying the buffers) ----
    class CChange;
    // Wakes every waiting capture, which gives up; new captures block.
    void BeginChange();
    // The PL has freed every buffer: forget all announcements and the
    // frames the application and the discards held.
    void ForgetFrames();
    // New captures may go on.
    void EndChange();

    // ---- the application gave one frame back ----
    // Returns how many releases to issue to the PL: one, plus those of
    // discarded frames that waited behind the application's frames.
    unsigned Release();

    // ---- deadlines ----
    // The clock of every capture deadline: monotonic, so that a step of the
    // wall clock (the board sets it from the network after boot) neither
    // ends a capture early nor stretches it.
    static constexpr clockid_t kClock = CLOCK_MONOTONIC;
    // The deadline ulMs milliseconds after `now`, seconds carried out of the
    // nanoseconds, saturated instead of wrapped at the end of time_t.
    static timespec DeadlineAfterMs(const timespec& now, unsigned long ulMs);
    // The same from the clock's current time.
    static timespec DeadlineAfterMs(unsigned long ulMs);

    // ---- for tests and logs ----
    unsigned WaitingCaptures() const;
    unsigned AnnouncedFrames() const;
    unsigned AbandonedTriggers() const;
    bool Changing() const;

    class CCapture;

private:
    struct Waiter {
        sem_t sem;
        Waiter* pNext;
    };
    using Lock = std::unique_lock<std::mutex>;

    // Sleeps on the waiter's semaphore until woken or the deadline passes;
    // the lock is released meanwhile.  False at the deadline; a signal does not end the sleep.
    bool SleepLocked(Lock& lock, Waiter& waiter, const timespec& deadline);
    void WakeAllLocked();
    // One discarded frame; returns the releases to issue now (0 or 1).
    unsigned DiscardLocked();

    const unsigned m_unFrameBuffers;
    mutable std::mutex m_Mutex;
    Waiter* m_pWaiters;             // captures sleeping right now
    unsigned m_unWaiters;
    unsigned m_unGeneration;        // one more at the start of every change
    bool m_bChanging;
    unsigned m_unAnnounced;         // announced frames not yet taken
    unsigned m_unHeld;              // frames handed out and not given back
    unsigned m_unDiscardedHeld;     // discarded frames still filled, behind m_unHeld
    unsigned m_unAbandoned;         // software triggers given up on, frames still to come
};

// One call of CaptureData: its semaphore, its deadline and the generation it
// belongs to.  Steps, in order: Enter, then in software-trigger mode
// SettleAbandoned before the trigger is fired, then TakeFrame.
class CCaptureSync::CCapture {
public:
    CCapture(CCaptureSync& sync, const timespec& deadline);
    ~CCapture();
    CCapture(const CCapture&) = delete;
    CCapture& operator=(const CCapture&) = delete;

    // The semaphore could be made; without it the capture cannot wait.
    bool Ok() const { return m_bOk; }

    // Waits while a change runs.
    Result Enter();
    // Software trigger, before firing it: discards the frames of abandoned
    // triggers, waiting for those still on their way.  A buffer announces
    // unFramesPerBuffer triggers.  *punReleases: releases to issue now.
    Result SettleAbandoned(unsigned unFramesPerBuffer, unsigned* punReleases);
    // Waits for the next frame; in software-trigger mode, for the one the
    // trigger fired after SettleAbandoned produced.
    Result TakeFrame();

private:
    // Frames announced for abandoned triggers are discarded.
    void DiscardAbandonedLocked(unsigned* punReleases);

    CCaptureSync& m_Sync;
    const timespec m_Deadline;
    Waiter m_Waiter;
    bool m_bOk;
    unsigned m_unGeneration;
    bool m_bSoftware;               // it fires a trigger of its own
    bool m_bTriggerOwesFrame;       // ... while the PL has a free buffer
    unsigned m_unFramesPerBuffer;
};

// A change for the life of the object: BeginChange, then EndChange.
class CCaptureSync::CChange {
public:
    explicit CChange(CCaptureSync& sync) : m_Sync(sync) { m_Sync.BeginChange(); }
    ~CChange() { m_Sync.EndChange(); }
    CChange(const CChange&) = delete;
    CChange& operator=(const CChange&) = delete;

private:
    CCaptureSync& m_Sync;
};

#endif
