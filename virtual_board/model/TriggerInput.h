// TriggerInput.h - the world outside the camera on its trigger input (GPIO
// input line 0): a light barrier or a PLC, as a square wave of a given
// period (VYXSIM_TRIGGER_EVERY) and as one pulse for each SIGUSR1 the
// program gets (VYXSIM_TRIGGER_ON_SIGNAL).
//
// One thread of its own drives the line, apart from the PL thread: the
// square wave rises at start + k * period and falls half a period later,
// on absolute deadlines of the board's clock; when the thread wakes late
// it skips the periods it missed rather than bunching edges.  A signal
// pulse is kSignalPulseNs high; signals arriving during a pulse give
// further pulses after it, with as long low between them.  The line is the
// OR of both.  Rising edges are counted (pulses()).
#ifndef VYX_MODEL_TRIGGER_INPUT_H
#define VYX_MODEL_TRIGGER_INPUT_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace vb {
namespace model {

constexpr int64_t kSignalPulseNs = 5000000;  // 5 ms high per SIGUSR1

class TriggerInput {
public:
    using Drive = std::function<void(bool level)>;
    explicit TriggerInput(Drive drive);
    ~TriggerInput();

    // A square wave of this period; 0 stops it (the line goes low).
    void setPeriod(int64_t periodNs);
    // Each SIGUSR1 to the process gives one pulse (the handler stays
    // installed; false stops the pulses).
    bool setOnSignal(bool on);
    // One pulse, as a SIGUSR1 gives.
    void pulse();
    // Rising edges driven so far.
    uint64_t pulses() const { return m_pulses.load(); }
    // Ends the thread (process exit).
    void stop();

private:
    void run();
    void wake();
    void setLevel(bool level);

    Drive m_drive;
    int m_wake[2] = {-1, -1};  // pipe: the signal handler and setters wake the thread
    std::thread m_thread;
    std::mutex m_mu;  // guards what follows
    int64_t m_periodNs = 0;
    int64_t m_waveStartNs = 0;
    bool m_stop = false;
    // Thread only.
    bool m_level = false;
    std::atomic<uint64_t> m_pulses{0};
};

}  // namespace model
}  // namespace vb

#endif
