// CaptureSync.cpp - the capture hand-shake of one camera set (see
// CaptureSync.h for the rules).
#include "CaptureSync.h"

#include <cerrno>
#include <limits>

namespace {
constexpr long kNsPerSecond = 1000000000L;
constexpr long kNsPerMs = 1000000L;
constexpr unsigned long kMsPerSecond = 1000UL;
}  // namespace

CCaptureSync::CCaptureSync(unsigned unFrameBuffers)
    : m_unFrameBuffers(unFrameBuffers),
      m_Mutex(),
      m_pWaiters(nullptr),
      m_unWaiters(0),
      m_unGeneration(0),
      m_bChanging(false),
      m_unAnnounced(0),
      m_unHeld(0),
      m_unDiscardedHeld(0),
      m_unAbandoned(0) {}

// ---------------------------------------------------------------------------
// Deadlines
// ---------------------------------------------------------------------------
timespec CCaptureSync::DeadlineAfterMs(const timespec& now, unsigned long ulMs)
{
    timespec t = now;
    const unsigned long ulSeconds = ulMs / kMsPerSecond;
    // sem_clockwait refuses a nanosecond field of one second or more.
    t.tv_nsec += static_cast<long>(ulMs % kMsPerSecond) * kNsPerMs;
    if (t.tv_nsec >= kNsPerSecond) {
        t.tv_nsec -= kNsPerSecond;
        t.tv_sec += 1;
    }
    // Saturate rather than wrap a 32-bit time_t for absurd time-outs.
    constexpr time_t kMaxTime = std::numeric_limits<time_t>::max();
    t.tv_sec = (static_cast<unsigned long long>(kMaxTime - t.tv_sec) < ulSeconds)
                   ? kMaxTime
                   : t.tv_sec + static_cast<time_t>(ulSeconds);
    return t;
}

timespec CCaptureSync::DeadlineAfterMs(unsigned long ulMs)
{
    timespec now = {};
    clock_gettime(kClock, &now);
    return DeadlineAfterMs(now, ulMs);
}

// ---------------------------------------------------------------------------
// Sleeping and waking
// ---------------------------------------------------------------------------
bool CCaptureSync::SleepLocked(Lock& lock, Waiter& waiter, const timespec& deadline) {
    waiter.pNext = m_pWaiters;
    m_pWaiters = &waiter;
    ++m_unWaiters;
    lock.unlock();
    // A signal handled meanwhile does not end the wait: the wait goes on to
    // the same deadline (sem_clockwait is never restarted by the kernel,
    // SA_RESTART or not).  A post that raced with the deadline stays in the
    // semaphore and only causes one more look.
    int nRet;
    do {
        nRet = sem_clockwait(&waiter.sem, kClock, &deadline);
    } while (nRet != 0 && errno == EINTR);
    const bool bWoken = nRet == 0;
    lock.lock();
    for (Waiter** pp = &m_pWaiters; *pp; pp = &(*pp)->pNext) {
        if (*pp == &waiter) {
            *pp = waiter.pNext;
            break;
        }
    }
    --m_unWaiters;
    return bWoken;
}

void CCaptureSync::WakeAllLocked() {
    for (Waiter* p = m_pWaiters; p; p = p->pNext) sem_post(&p->sem);
}

// ---------------------------------------------------------------------------
// Interrupts, changes and releases
// ---------------------------------------------------------------------------
void CCaptureSync::Announce() {
    Lock lock(m_Mutex);
    ++m_unAnnounced;
    WakeAllLocked();
}

void CCaptureSync::BeginChange() {
    Lock lock(m_Mutex);
    ++m_unGeneration;
    m_bChanging = true;
    WakeAllLocked();
}

void CCaptureSync::ForgetFrames() {
    Lock lock(m_Mutex);
    m_unAnnounced = 0;
    m_unHeld = 0;
    m_unDiscardedHeld = 0;
    m_unAbandoned = 0;
}

void CCaptureSync::EndChange() {
    Lock lock(m_Mutex);
    m_bChanging = false;
    WakeAllLocked();
}

unsigned CCaptureSync::DiscardLocked() {
    if (m_unHeld == 0) return 1;
    ++m_unDiscardedHeld;
    return 0;
}

unsigned CCaptureSync::Release() {
    Lock lock(m_Mutex);
    // A release without a frame handed out still reaches the PL, as it
    // always has.
    if (m_unHeld == 0) return 1;
    unsigned unReleases = 1;
    if (--m_unHeld == 0) {
        unReleases += m_unDiscardedHeld;
        m_unDiscardedHeld = 0;
    }
    return unReleases;
}

unsigned CCaptureSync::WaitingCaptures() const {
    Lock lock(m_Mutex);
    return m_unWaiters;
}

unsigned CCaptureSync::AnnouncedFrames() const {
    Lock lock(m_Mutex);
    return m_unAnnounced;
}

unsigned CCaptureSync::AbandonedTriggers() const {
    Lock lock(m_Mutex);
    return m_unAbandoned;
}

bool CCaptureSync::Changing() const {
    Lock lock(m_Mutex);
    return m_bChanging;
}

// ---------------------------------------------------------------------------
// One capture
// ---------------------------------------------------------------------------
CCaptureSync::CCapture::CCapture(CCaptureSync& sync, const timespec& deadline)
    : m_Sync(sync),
      m_Deadline(deadline),
      m_Waiter(),
      m_bOk(sem_init(&m_Waiter.sem, 0, 0) == 0),
      m_unGeneration(0),
      m_bSoftware(false),
      m_bTriggerOwesFrame(false),
      m_unFramesPerBuffer(1) {}

CCaptureSync::CCapture::~CCapture() {
    if (m_bOk) sem_destroy(&m_Waiter.sem);
}

CCaptureSync::Result CCaptureSync::CCapture::Enter() {
    Lock lock(m_Sync.m_Mutex);
    bool bSleptOut = false;
    while (m_Sync.m_bChanging) {
        if (bSleptOut) return Result::TimedOut;
        bSleptOut = !m_Sync.SleepLocked(lock, m_Waiter, m_Deadline);
    }
    m_unGeneration = m_Sync.m_unGeneration;
    return Result::Ready;
}

// In software-trigger mode nothing but this set's triggers makes frames, and
// every capture takes the frame of its own trigger: whatever is announced
// before the capture fires belongs to a trigger given up on.
void CCaptureSync::CCapture::DiscardAbandonedLocked(unsigned* punReleases) {
    CCaptureSync& s = m_Sync;
    while (s.m_unAnnounced > 0) {
        --s.m_unAnnounced;
        s.m_unAbandoned = s.m_unAbandoned > m_unFramesPerBuffer ? s.m_unAbandoned - m_unFramesPerBuffer : 0;
        *punReleases += s.DiscardLocked();
    }
}

CCaptureSync::Result CCaptureSync::CCapture::SettleAbandoned(unsigned unFramesPerBuffer, unsigned* punReleases) {
    m_bSoftware = true;
    m_unFramesPerBuffer = unFramesPerBuffer > 0 ? unFramesPerBuffer : 1;
    CCaptureSync& s = m_Sync;
    Lock lock(s.m_Mutex);
    bool bSleptOut = false;
    for (;;) {
        if (m_unGeneration != s.m_unGeneration) return Result::Changed;
        DiscardAbandonedLocked(punReleases);
        // Fewer abandoned frames than a buffer holds: they share the buffer
        // this capture's trigger completes.
        if (s.m_unAbandoned < m_unFramesPerBuffer) {
            // A trigger that finds every buffer taken is dropped by the PL.
            m_bTriggerOwesFrame = s.m_unHeld + s.m_unDiscardedHeld < s.m_unFrameBuffers;
            return Result::Ready;
        }
        // Frames still on their way stay owed: they may come after this
        // capture's deadline, and must not be taken for a later trigger's.
        if (bSleptOut) return Result::TimedOut;
        bSleptOut = !s.SleepLocked(lock, m_Waiter, m_Deadline);
    }
}

CCaptureSync::Result CCaptureSync::CCapture::TakeFrame() {
    CCaptureSync& s = m_Sync;
    Lock lock(s.m_Mutex);
    bool bSleptOut = false;
    for (;;) {
        if (m_unGeneration != s.m_unGeneration) return Result::Changed;
        if (s.m_unAnnounced > 0) {
            --s.m_unAnnounced;
            // The buffer that completes with this capture's trigger also
            // holds the frames of the abandoned triggers before it.
            if (m_bSoftware) s.m_unAbandoned = 0;
            ++s.m_unHeld;
            return Result::Ready;
        }
        if (bSleptOut) {
            if (m_bSoftware && m_bTriggerOwesFrame) ++s.m_unAbandoned;
            return Result::TimedOut;
        }
        bSleptOut = !s.SleepLocked(lock, m_Waiter, m_Deadline);
    }
}
