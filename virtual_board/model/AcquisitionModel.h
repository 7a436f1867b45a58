// AcquisitionModel.h - the PL's acquisition side as the virtual board
// emulates it: triggers, the frame clock, the four frame buffers and the
// capture interrupt.
//
// Register writes are plain stores into shared memory, so the PL cannot see
// them happen.  The board's PL thread calls tick() about once a millisecond;
// each tick samples the FPGA control block.  One-shot registers (104
// software trigger, 72 release, 64 clear read buffers, 88 show strobe) are
// consumed with an atomic exchange against 0: a store that lands between the
// model's read and its clearing is seen at the next tick instead of being
// lost.  Two equal stores between two ticks are indistinguishable in memory
// and count once, as a level-sampling PL input would.
//
// Power-on values (written once when the board comes up, before the library
// runs): version word (register 0) kPlVersion, one frame per buffer (4, 28),
// a full 1280 x 1024 frame (8, 32, 76, 80), the four buffer bases (12..24),
// write side enabled (60 = 1), software trigger mode (112 = 1), capture
// stopped with QtShow set (108 = 0x100).  Nothing is written to registers
// the library owns after that, except the status words 44, 48 and 52.
//
// Triggers (register 112, capture start = register 108 bit 0):
//   * continuous (bit 0 = 0): while capture runs, one frame per frame period:
//     register 116 in microseconds when non-zero (never faster than the
//     sensor can read out), else the sensor's own free-running period from
//     its line length, rows and exposure (SensorModel.h).  The first frame
//     comes one period after capture starts.
//   * software (bit 0 = 1, bit 3 = 0): one frame per write to register 104
//     while capture runs; writes while capture is stopped are ignored.
//   * external (bits 0 and 3 = 1): the trigger input is GPIO input line
//     kTriggerInputLine.  Filter (register 120, microseconds): a level change
//     counts only once the line has kept the new level that long; shorter
//     pulses are ignored.  Trigger type (bits 2..1): 0 = rising edge,
//     1 = falling edge, 2 = both edges, 3 = level: one frame per frame period
//     while the line is high, the first at the rising edge.  Delay (register
//     124, microseconds) passes between the filtered edge and the frame.
//     Edges while capture is stopped are ignored.
//   The model exposes instantly: a triggered frame is written at the tick
//   that sees its trigger (plus the delay).
//
// Frame buffers: buffer i starts at the physical address in register
// 12 + 4*i and holds up to 0xA00000 bytes.  A frame has register 8 pixels
// (bytes), laid out in lines of (register 80 bits 15..0) * 8 pixels; the
// sensor image (SensorModel.h) fills them, the rest is black.  The first 8
// bytes of every frame carry the sensor's frame counter: bytes 0..3 the
// 32-bit counter, bytes 4..7 its bitwise complement, both little endian.
// Register 4 bits 10..0 frames (0 counts as 1) fill one buffer back to back;
// then register 52 bits 31..30 name that buffer, registers 44 and 48 count
// filled buffers and dropped frames, and the interrupt for camera set 0
// ("169") is raised - in this order.  A filled buffer belongs to the
// application until a write to register 72 releases it; releases free the
// filled buffers oldest first.  The next frame goes into the next free buffer
// after the one filled last; when none is free the frame is dropped and
// counted.  Writing 1 to register 64 frees all four buffers, discards a
// partly filled one and pending external triggers, and restarts the write
// sequence at buffer 0.  While register 60 bit 0
// is 0 the write side is held in clear: a partly filled buffer is discarded
// and every frame is dropped.  Registers 32 and 28 (second copies), 36, 68,
// 76 and 152 are stored but do not change what the model does.
#ifndef VYX_MODEL_ACQUISITION_MODEL_H
#define VYX_MODEL_ACQUISITION_MODEL_H

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "BoardModel.h"

namespace vb {
namespace model {

constexpr uint32_t kPlVersion = 0x02020316u;
constexpr int kTriggerInputLine = 0;
constexpr int kFrameStampBytes = 8;

struct AcquisitionCounters {
    uint64_t framesExposed = 0;      // frames the sensor produced (counter value)
    uint64_t framesWritten = 0;      // frames stored into a buffer
    uint64_t framesDelivered = 0;    // stored and announced by an interrupt
    uint64_t framesDropped = 0;      // no free buffer, write side cleared, bad base
    uint64_t buffersFilled = 0;      // interrupts attempted
    uint64_t interruptsWithheld = 0; // interrupts the node layer refused
    uint64_t releases = 0;           // release writes that freed a buffer
    uint32_t lastFrameCounter = 0;   // counter stamped into the last stored frame
};

class AcquisitionModel {
public:
    using RaiseInterrupt = std::function<bool()>;
    // frameSource renders one frame of `bytes` bytes in lines of `lineWidth`
    // pixels into dst; frameTimeUs gives the sensor's free-running period.
    using FrameSource = std::function<void(uint8_t* dst, uint32_t bytes, uint32_t lineWidth)>;
    using FrameTime = std::function<int64_t()>;

    AcquisitionModel(const HardwareView& hw, FrameSource source, FrameTime frameTimeUs,
                     RaiseInterrupt raise);

    // Writes the PL's power-on register values.
    void powerOn();
    // One sampling step at monotonic time nowUs.
    void tick(int64_t nowUs);
    // The trigger input changed level (any thread).
    void inputLevel(bool level, int64_t nowUs);
    AcquisitionCounters counters() const;
    void lockForFork() { m_lock.lock(); }
    void unlockAfterFork() { m_lock.unlock(); }

private:
    enum class Buf { Free, Filling, Filled };
    struct Edge { int64_t atUs; bool level; };

    void clearBuffers();
    void produceFrame();
    void announce(int index);
    void runInput(int64_t nowUs, bool armed, uint32_t trigger);
    uint32_t reg(uint32_t offset) const;

    HardwareView m_hw;
    FrameSource m_source;
    FrameTime m_frameTimeUs;
    RaiseInterrupt m_raise;

    // PL thread state.
    Buf m_buf[4] = {Buf::Free, Buf::Free, Buf::Free, Buf::Free};
    uint32_t m_framesInBuf[4] = {0, 0, 0, 0};
    std::deque<int> m_filledOrder;    // filled buffers, oldest first
    int m_lastFilled = 3;             // so that buffer 0 is filled first
    int m_filling = -1;
    int64_t m_nextFrameUs = -1;       // continuous / level trigger clock, -1 = not running
    bool m_filteredLevel = false;
    bool m_armed = false;             // external trigger mode with capture running
    std::deque<Edge> m_edges;         // raw input changes not yet filtered
    std::deque<int64_t> m_pendingTriggers;   // frame times of accepted edges
    uint32_t m_frameCounter = 0;

    mutable std::mutex m_lock;        // guards m_inbox and m_counters
    std::deque<Edge> m_inbox;
    AcquisitionCounters m_counters;
};

}  // namespace model
}  // namespace vb

#endif
