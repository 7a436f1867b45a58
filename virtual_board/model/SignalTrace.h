// SignalTrace.h - a waveform trace of the camera's signals, written as a
// Value Change Dump (VCD: the format GTKWave and logic-analyser viewers
// read) with microsecond resolution (VYXSIM_TRACE).
//
// Signals (module "camera"):
//   trigger_in      GPIO input line 0, the PL's external trigger input
//   soft_trigger    a write to register 104 the PL took (1 us pulse)
//   exposure        the sensor exposes a frame
//   readout         the sensor reads a frame out
//   strobe          the sensor's flash output: high during the exposure while
//                   the flash is enabled (register 11), inverted by
//                   register 7 bit 14 - derived from the sensor's registers
//   frame_written   a frame was stored into a frame buffer (1 us pulse) ...
//   write_buffer    ... this one (2 bits)
//   frame_done_irq  the PL raised the capture interrupt (1 us pulse)
//   frame_dropped   a frame was lost (1 us pulse)
//   buffers_full    every frame buffer is held by the application
//   capture_read    the program read the capture node (1 us pulse)
//   gpio_out3..9    the GPIO output lines
// Time 0 is when the trace starts.
//
// Recording is cheap and never waits for the file: events go into a bounded
// queue (kMaxQueuedEvents; beyond it events are counted as lost and the file
// says so in a comment), and a writer thread of its own sorts them and
// writes them out, holding back what the PL may still record with an
// earlier time (frames are recorded when they are done, their exposure
// lies before).  An event that still arrives later than what was written is
// written at the current time.  The writer writes whole lines with each
// write(), so the file is a valid trace up to its last write even when the
// program is killed; stop() writes everything left (program exit, the
// launcher's stop before it ends the program).
#ifndef VYX_MODEL_SIGNAL_TRACE_H
#define VYX_MODEL_SIGNAL_TRACE_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vb {
namespace model {

enum class Sig : uint8_t {
    TriggerIn,
    SoftTrigger,
    Exposure,
    Readout,
    Strobe,
    FrameWritten,
    WriteBuffer,
    FrameDoneIrq,
    FrameDropped,
    BuffersFull,
    CaptureRead,
    GpioOut3,  // .. GpioOut9 follow
    Count = GpioOut3 + 7,
};

constexpr size_t kMaxQueuedEvents = 1 << 16;
constexpr int64_t kTraceFlushNs = 20000000;  // the writer looks every 20 ms

class SignalTrace {
public:
    // floor(): no event recorded from now on has an earlier time.
    using Floor = std::function<int64_t()>;
    // Opens the file and writes the header; false (and `error`) when the
    // file cannot be written.
    bool open(const std::string& path, int64_t startNs, Floor floor, std::string& error);
    // Ends the writer after writing everything recorded; the file is closed.
    void stop();
    bool active() const { return m_active.load(std::memory_order_acquire); }

    // Any thread.  A value change at atNs on the board's clock.
    void record(int64_t atNs, Sig sig, uint32_t value);
    // A 1 us pulse.
    void pulse(int64_t atNs, Sig sig);
    uint64_t lost() const { return m_lost.load(); }

private:
    struct Event {
        int64_t atNs;
        uint32_t value;
        Sig sig;
    };
    void run();
    void writeUpTo(int64_t untilNs, bool all);
    void put(const std::string& text);

    std::atomic<bool> m_active{false};
    int m_fd = -1;
    int64_t m_startNs = 0;
    Floor m_floor;
    std::thread m_thread;

    std::mutex m_mu;  // guards the queue and m_stop
    std::condition_variable m_wake;
    std::vector<Event> m_queue;
    bool m_stop = false;
    std::atomic<uint64_t> m_lost{0};

    // Writer only.
    std::vector<Event> m_held;  // sorted by time, not yet written
    int64_t m_lastUs = 0;
    uint32_t m_values[static_cast<int>(Sig::Count)] = {};
    uint64_t m_lostWritten = 0;
};

}  // namespace model
}  // namespace vb

#endif
