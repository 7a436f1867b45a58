// AcquisitionModel.h - the PL's acquisition side as the virtual board
// emulates it: triggers, the frame clock, the four frame buffers and the
// capture interrupt.
//
// Time.  The model runs on the board's clock (CLOCK_MONOTONIC, nanoseconds)
// and works in events: the PL timing engine (PlTiming.h) hands it, in time
// order, what it saw in the registers and on the trigger input, and asks it
// to advance to a moment; the model then produces every frame that fell due
// until then, each at its own scheduled time, whether the engine woke on
// time or late.  A frame that falls due is always accounted for: stored in a
// buffer, or dropped (and counted) when no buffer is free, exactly as the PL
// would; none is skipped because the model ran late.
//
// Registers.  Stores into the register block are invisible to the model
// until the engine samples them (PlTiming.h says when).  A sample yields the
// settings below as one snapshot, applied at the sample's time, and the
// one-shot registers (104 software trigger, 72 release, 64 clear read
// buffers), consumed with an atomic exchange against 0, as events.
//
// Power-on values (written once when the board comes up, before the library
// runs): version word (register 0) kPlVersion, one frame per buffer (4, 28),
// a full 1280 x 1024 frame (8, 32, 76, 80), the four buffer bases (12..24),
// write side enabled (60 = 1), software trigger mode (112 = 1), capture
// stopped with QtShow set (108 = 0x100).  Nothing is written to registers
// the library owns after that, except the status words 44, 48 and 52.
//
// Frame timing (capture start = register 108 bit 0, mode = register 112):
//   * continuous (bit 0 = 0): while capture runs, one frame per frame period;
//     the first is done one period after capture starts.  The period is the
//     sensor's own free-running period (SensorModel.h), or register 116 in
//     microseconds when that is longer (the PL never runs the sensor faster
//     than it can read out).
//   * software (bit 0 = 1, bit 3 = 0): each write to register 104 while
//     capture runs triggers one frame.  Its exposure starts at trigger +
//     delay (register 124, microseconds), or when the previous triggered
//     exposure ends if that is later; its readout follows the exposure, or
//     the previous readout if that ends later; the frame is done when its
//     readout ends.  Writes while capture is stopped are ignored.
//   * external (bits 0 and 3 = 1): the trigger input is GPIO input line
//     kTriggerInputLine.  Filter (register 120, microseconds): a level change
//     counts only once the line has kept the new level that long; shorter
//     pulses are ignored.  Trigger type (bits 2..1): 0 = rising edge,
//     1 = falling edge, 2 = both edges, 3 = level: one frame per frame period
//     while the line is high, the first done exposure + readout after the
//     rising edge.  An accepted edge triggers like a software trigger, from
//     the end of its filter time.  Edges while capture is stopped are ignored.
//   Arming or disarming a trigger mode (mode or capture start changes)
//   forgets triggered frames not yet done.  Periods are kept between
//   kMinFramePeriodNs and kMaxFramePeriodNs.
//
// Frame buffers: buffer i starts at the physical address in register
// 12 + 4*i and holds up to 0xA00000 bytes.  A frame has register 8 pixels
// (bytes), laid out in lines of (register 80 bits 15..0) * 8 pixels; the
// sensor image (SensorModel.h) fills them, the rest is black.  The first 8
// bytes of every frame carry the sensor's frame counter: bytes 0..3 the
// 32-bit counter, bytes 4..7 its bitwise complement, both little endian
// (the board's stamp, which the real camera does not write; it can be
// switched off, VYXSIM_STAMP=0).
// Register 4 bits 10..0 frames (0 counts as 1) fill one buffer back to back;
// then register 52 bits 31..30 name that buffer, registers 44 and 48 count
// filled buffers and dropped frames, and the interrupt for camera set 0
// ("169") is raised - in this order.  A filled buffer belongs to the
// application until a write to register 72 releases it; releases free the
// filled buffers oldest first.  The next frame goes into the next free buffer
// after the one filled last; when none is free the frame is dropped and
// counted.  Writing 1 to register 64 frees all four buffers, discards a
// partly filled one and triggered frames not yet done, and restarts the
// write sequence at buffer 0.  While register 60 bit 0 is 0 the write side
// is held in clear: a partly filled buffer is discarded and every frame is
// dropped.  Registers 32 and 28 (second copies), 36, 68, 76 and 152 are
// stored but do not change what the model does.
#ifndef VYX_MODEL_ACQUISITION_MODEL_H
#define VYX_MODEL_ACQUISITION_MODEL_H

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <vector>

#include "BoardModel.h"

namespace vb {
namespace model {

constexpr uint32_t kPlVersion = 0x02020316u;
constexpr int kTriggerInputLine = 0;
constexpr int kFrameStampBytes = 8;
constexpr int64_t kMinFramePeriodNs = 20000;       // the fastest the PL stores frames
constexpr int64_t kMaxFramePeriodNs = 2000000000;  // a stalled sensor clock still ticks
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
constexpr size_t kFrameLogEntries = 256;

// The sensor's timing for the current settings.
struct SensorTiming {
    int64_t exposureNs = 0;
    int64_t readoutNs = 0;
    int64_t periodNs = 0;  // free run
    bool flash = false;    // the flash output fires during the exposure
    bool flashInverted = false;  // ... with its levels inverted
};

class SignalTrace;

// The acquisition settings, as one sample of the registers.
struct AcqLevels {
    uint32_t control = 0, trigger = 0, period = 0, filter = 0, delay = 0;
    uint32_t multi = 0, pixels = 0, geometryB = 0, clearWrite = 0;
    uint32_t base[4] = {0, 0, 0, 0};
    bool operator==(const AcqLevels& o) const;
    bool operator!=(const AcqLevels& o) const { return !(*this == o); }
};

struct AcqEvent {
    enum Kind : uint8_t { Levels, ClearRead, Release, SoftTrigger, Input };
    int64_t atNs = 0;
    Kind kind = Levels;
    bool level = false;  // Input
    AcqLevels levels;    // Levels
};

struct AcquisitionCounters {
    uint64_t framesExposed = 0;      // frames the sensor produced (counter value)
    uint64_t framesWritten = 0;      // frames stored into a buffer
    uint64_t framesDelivered = 0;    // stored and announced by an interrupt
    uint64_t framesDropped = 0;      // no free buffer, write side cleared, bad base
    uint64_t buffersFilled = 0;      // interrupts attempted
    uint64_t interruptsWithheld = 0;  // interrupts the board refused
    uint64_t releases = 0;           // release writes that freed a buffer
    uint32_t lastFrameCounter = 0;   // counter stamped into the last stored frame
};

// One frame the sensor produced.
struct FrameRecord {
    uint32_t counter = 0;
    int64_t doneNs = 0;      // when it was done, on the board's clock
    int64_t triggerNs = -1;  // the trigger that started it (-1: free run)
    int buffer = -1;         // the buffer it went into, -1 when dropped
};

class AcquisitionModel {
public:
    // Forms frame `counter`, done at `doneNs`, into dst.
    using Render = std::function<void(uint8_t* dst, uint32_t bytes, uint32_t lineWidth, uint32_t counter,
                                      int64_t doneNs)>;
    using Timing = std::function<SensorTiming()>;
    using RaiseInterrupt = std::function<bool()>;

    AcquisitionModel(const HardwareView& hw, Render render, Timing timing, RaiseInterrupt raise);

    // Writes the PL's power-on register values.
    void powerOn();
    // The settings as the registers hold them now.
    static AcqLevels sample(const HardwareView& hw);
    // PL thread: applies `events` (in time order, none later than nowNs) and
    // produces every frame due up to nowNs, in time order.
    void advance(int64_t nowNs, std::deque<AcqEvent>& events);
    // PL thread: when the next frame or filtered edge falls due, or kNever.
    int64_t nextDeadline() const;
    // PL thread: frames are at least this far apart (the free-run period).
    int64_t framePeriodNs() const { return periodNs(); }

    // Whether frames carry their counter in their first bytes (default on).
    void setStamp(bool on) { m_stamp.store(on); }
    // Where the frames' signals are traced (nullptr: nowhere).
    void setTrace(SignalTrace* trace) { m_trace.store(trace); }
    // PL thread: no frame signal recorded from now on is earlier than this.
    int64_t earliestOpenNs(int64_t nowNs) const;

    AcquisitionCounters counters() const;
    std::vector<FrameRecord> frames() const;
    void lockForFork() { m_lock.lock(); }
    void unlockAfterFork() { m_lock.unlock(); }

private:
    enum class Buf { Free, Filling, Filled };
    struct Edge {
        int64_t atNs;
        bool level;
    };

    void apply(const AcqEvent& e);
    void applyLevels(const AcqLevels& levels, int64_t atNs);
    void trigger(int64_t atNs);
    void clearBuffers(int64_t atNs);
    // When a frame exposes and is read out.
    struct Span {
        int64_t exposureStartNs, exposureEndNs, readoutStartNs, doneNs, triggerNs;
    };
    Span freeRunSpan(int64_t doneNs, int64_t triggerNs) const;
    void release(int64_t atNs);
    void produce(const Span& span);
    void drop(uint32_t counter, int64_t doneNs, int64_t triggerNs);
    void announce(int index, int64_t doneNs);
    void traceFrame(const Span& span);
    void traceBuffersFull(int64_t atNs);
    int64_t filterDeadline() const;
    void runFilter(int64_t nowNs);
    int64_t periodNs() const;
    bool started() const;
    bool armedExternal() const;
    bool armedSoftware() const;
    uint32_t triggerType() const;

    HardwareView m_hw;
    Render m_render;
    Timing m_timing;
    RaiseInterrupt m_raise;

    // PL thread state.
    AcqLevels m_levels;
    bool m_haveLevels = false;
    Buf m_buf[4] = {Buf::Free, Buf::Free, Buf::Free, Buf::Free};
    uint32_t m_framesInBuf[4] = {0, 0, 0, 0};
    std::deque<int> m_filledOrder;    // filled buffers, oldest first
    int m_lastFilled = 3;             // so that buffer 0 is filled first
    int m_filling = -1;
    int64_t m_nextFreeRunNs = -1;      // continuous frame clock, -1 = not running
    int64_t m_nextLevelNs = -1;        // level-trigger frame clock, -1 = not running
    int64_t m_lastExposureEndNs = -1;  // when the last triggered exposure ends
    int64_t m_lastReadoutEndNs = -1;   // when the last triggered readout ends
    std::deque<Span> m_pending;        // triggered frames not yet done, in order
    bool m_filteredLevel = false;
    std::deque<Edge> m_edges;  // input changes not yet through the filter
    uint32_t m_frameCounter = 0;
    std::atomic<bool> m_stamp{true};
    std::atomic<SignalTrace*> m_trace{nullptr};
    bool m_tracedFull = false;

    mutable std::mutex m_lock;  // guards m_counters and m_log
    AcquisitionCounters m_counters;
    std::deque<FrameRecord> m_log;
};

}  // namespace model
}  // namespace vb

#endif
