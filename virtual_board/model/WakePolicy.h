// WakePolicy.h - when the board polls for its next frame instead of sleeping.
//
// A thread that sleeps until the next frame is due (the PL thread on its
// timer, the program's capture thread on its semaphore, the library's
// interrupt thread in select) is woken by the kernel when the moment comes.
// On a machine of its own that takes tens of microseconds.  On a virtual
// machine the sleeping thread's virtual CPU halts, and the host has to run
// it again: now and then that takes milliseconds, and at a few thousand
// frames per second a late PL fills every buffer of a program that keeps
// up perfectly well - frames a real camera would have delivered.
//
// So the board measures how late its own timer wake-ups are (lateness: the
// moment the thread ran again minus the moment it asked for) and, when
// frames come faster than that lateness allows, it polls: the PL thread
// sleeps until a window before the frame is due and then yields the CPU in
// a loop until the moment; the program's waits on the board poll through
// the window too.  A polling thread keeps its virtual CPU running, which
// costs CPU time while such a stream runs and nothing otherwise.
//
// The estimate is a decaying maximum: every sleep that ends on its own time
// pulls it towards what was seen, a late one raises it at once.  Polling
// starts when frames are due less than kEngageFactor lateness apart.
#ifndef VYX_MODEL_WAKE_POLICY_H
#define VYX_MODEL_WAKE_POLICY_H

#include <atomic>
#include <cstdint>

namespace vb {
namespace model {

enum class PollMode {
    Auto,  // poll when the measured lateness asks for it (default)
    On,    // poll before every frame, whatever the lateness
    Off,   // always sleep
};

// "auto", "on" or "off"; false for anything else.
bool parsePollMode(const char* text, PollMode& mode);
const char* pollModeName(PollMode mode);

class WakeLatency {
public:
    static constexpr int64_t kMaxWindowNs = 2000000;  // polls at most this long before a frame
    static constexpr int kEngageFactor = 2;           // poll when frames come < 2 latenesses apart
    static constexpr int kDecayShift = 5;             // each sleep forgets 1/32 of the estimate

    void setMode(PollMode mode) { m_mode.store(mode); }
    PollMode mode() const { return m_mode.load(); }

    // A sleep that asked to end at some moment ended lateNs after it
    // (negative or zero: on time).
    void slept(int64_t lateNs);
    // The estimated lateness of a timer wake-up.
    int64_t lateNs() const { return m_lateNs.load(std::memory_order_relaxed); }
    // How long before a frame due the board polls, for frames periodNs
    // apart; 0: it sleeps.
    int64_t windowNs(int64_t periodNs) const;

private:
    std::atomic<PollMode> m_mode{PollMode::Auto};
    std::atomic<int64_t> m_lateNs{0};
};

}  // namespace model
}  // namespace vb

#endif
