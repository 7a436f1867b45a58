// AcquisitionModel.cpp - triggers, frame clock, frame buffers and capture
// interrupt of the PL (see AcquisitionModel.h for the model).
#include "AcquisitionModel.h"

#include <algorithm>

#include "ModelCommon.h"
#include "PLRegs.h"
#include "SensorModel.h"

namespace vb {
namespace model {

namespace fpga = vyxpl::fpga;
namespace phys = vyxpl::phys;

namespace {
constexpr int64_t kMinFramePeriodUs = 1000;       // the PL thread's resolution
constexpr int64_t kMaxFramePeriodUs = 2000000;    // a stalled sensor clock still ticks
constexpr uint32_t kTriggerTypeRising = 0, kTriggerTypeFalling = 1, kTriggerTypeBoth = 2,
                   kTriggerTypeLevel = 3;
constexpr uint32_t kBufferBaseReg[4] = {fpga::kFrameBufBase0, fpga::kFrameBufBase1,
                                        fpga::kFrameBufBase2, fpga::kFrameBufBase3};
}  // namespace

AcquisitionModel::AcquisitionModel(const HardwareView& hw, FrameSource source, FrameTime frameTimeUs,
                                   RaiseInterrupt raise)
    : m_hw(hw), m_source(std::move(source)), m_frameTimeUs(std::move(frameTimeUs)), m_raise(std::move(raise))
{
}

uint32_t AcquisitionModel::reg(uint32_t offset) const { return loadReg(m_hw.fpga, offset); }

void AcquisitionModel::powerOn()
{
    const uint32_t w = kArrayColumns, h = kArrayRows;
    storeReg(m_hw.fpga, fpga::kVersion, kPlVersion);
    storeReg(m_hw.fpga, fpga::kMultiFrameA, fpga::kMultiFrameStart);
    storeReg(m_hw.fpga, fpga::kMultiFrameB, fpga::kMultiFrameStart);
    storeReg(m_hw.fpga, fpga::kFramePixelsA, w * h);
    storeReg(m_hw.fpga, fpga::kFramePixelsB, w * h);
    storeReg(m_hw.fpga, fpga::kGeometryA, fpga::kGeometryAValue);
    storeReg(m_hw.fpga, fpga::kGeometryB,
             ((w >> fpga::kGeometryBWidthDivShift) << fpga::kGeometryBWidthShift) |
                 ((h + 1) << fpga::kGeometryBHeightShift));
    for (int i = 0; i < phys::kFrameBufferCount; ++i)
        storeReg(m_hw.fpga, kBufferBaseReg[i], phys::kFrameBufferBase + static_cast<uint32_t>(i) * phys::kFrameBufferSize);
    storeReg(m_hw.fpga, fpga::kClearWriteBuf, fpga::kClearWriteBufStart);
    storeReg(m_hw.fpga, fpga::kTrigger, fpga::kTriggerEnable);
    storeReg(m_hw.fpga, fpga::kControl, fpga::kControlStart);
}

void AcquisitionModel::inputLevel(bool level, int64_t nowUs)
{
    std::lock_guard<std::mutex> g(m_lock);
    m_inbox.push_back(Edge{nowUs, level});
}

AcquisitionCounters AcquisitionModel::counters() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_counters;
}

void AcquisitionModel::clearBuffers()
{
    for (int i = 0; i < 4; ++i) {
        m_buf[i] = Buf::Free;
        m_framesInBuf[i] = 0;
    }
    m_filledOrder.clear();
    m_filling = -1;
    m_lastFilled = 3;   // the write sequence restarts at buffer 0
    m_pendingTriggers.clear();
}

void AcquisitionModel::announce(int index)
{
    // The buffer index must be readable before the interrupt reaches the
    // application: the capture path reads register 52 when it wakes.
    const uint32_t status = static_cast<uint32_t>(index) << fpga::kFrameBufIdShift;
    storeReg(m_hw.fpga, fpga::kFrameBufStatus, status);
    uint64_t filled, dropped;
    {
        std::lock_guard<std::mutex> g(m_lock);
        filled = ++m_counters.buffersFilled;
        dropped = m_counters.framesDropped;
    }
    storeReg(m_hw.fpga, fpga::kStatus44, static_cast<uint32_t>(filled));
    storeReg(m_hw.fpga, fpga::kStatus48, static_cast<uint32_t>(dropped));
    // Counted before the interrupt leaves, so that whoever reads the code
    // already finds the frames counted; taken back if the node refuses it.
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_counters.framesDelivered += m_framesInBuf[index];
    }
    if (m_raise()) return;
    std::lock_guard<std::mutex> g(m_lock);
    m_counters.framesDelivered -= m_framesInBuf[index];
    ++m_counters.interruptsWithheld;
}

void AcquisitionModel::produceFrame()
{
    const uint32_t counter = ++m_frameCounter;
    auto drop = [&] {
        uint64_t dropped;
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_counters.framesExposed = counter;
            dropped = ++m_counters.framesDropped;
        }
        storeReg(m_hw.fpga, fpga::kStatus48, static_cast<uint32_t>(dropped));
    };
    if ((reg(fpga::kClearWriteBuf) & 1u) == 0) return drop();

    uint32_t perBuffer = reg(fpga::kMultiFrameA) & fpga::kMultiFrameMask;
    if (perBuffer == 0) perBuffer = 1;
    if (m_filling < 0) {
        for (int k = 1; k <= 4; ++k) {
            const int i = (m_lastFilled + k) % 4;
            if (m_buf[i] == Buf::Free) {
                m_filling = i;
                m_buf[i] = Buf::Filling;
                m_framesInBuf[i] = 0;
                break;
            }
        }
        if (m_filling < 0) return drop();
    }
    const int index = m_filling;

    // Frame geometry as the PL was told: pixels per frame and line width.
    const uint64_t frameBytes = reg(fpga::kFramePixelsA);
    uint32_t lineWidth = ((reg(fpga::kGeometryB) & fpga::kGeometryBWidthMask) >> fpga::kGeometryBWidthShift)
                         << fpga::kGeometryBWidthDivShift;
    const uint64_t offset = frameBytes * m_framesInBuf[index];
    // Frames never spill out of their 10 MiB buffer: the part beyond it is cut.
    const uint64_t room = offset < phys::kFrameBufferSize ? phys::kFrameBufferSize - offset : 0;
    const uint32_t bytes = static_cast<uint32_t>(std::min<uint64_t>(frameBytes, room));
    uint8_t* dst = ramRange(m_hw, static_cast<uint64_t>(reg(kBufferBaseReg[index])) + offset, bytes);
    if (dst == nullptr) {
        // A base outside the reserved RAM: the DMA has nowhere to write.
        m_buf[index] = m_framesInBuf[index] == 0 ? Buf::Free : Buf::Filling;
        if (m_framesInBuf[index] == 0) m_filling = -1;
        return drop();
    }
    if (lineWidth == 0) lineWidth = std::max<uint32_t>(bytes, 1);
    m_source(dst, bytes, lineWidth);
    const uint32_t stamp[2] = {counter, ~counter};
    for (int b = 0; b < kFrameStampBytes && static_cast<uint32_t>(b) < bytes; ++b)
        dst[b] = static_cast<uint8_t>(stamp[b / 4] >> (8 * (b % 4)));

    {
        std::lock_guard<std::mutex> g(m_lock);
        m_counters.framesExposed = counter;
        ++m_counters.framesWritten;
        m_counters.lastFrameCounter = counter;
    }
    if (++m_framesInBuf[index] >= perBuffer) {
        m_buf[index] = Buf::Filled;
        m_filledOrder.push_back(index);
        m_lastFilled = index;
        m_filling = -1;
        announce(index);
    }
}

void AcquisitionModel::runInput(int64_t nowUs, bool armed, uint32_t trigger)
{
    const int64_t filterUs = reg(fpga::kTriggerFilter) & fpga::kTriggerFilterMask;
    const int64_t delayUs = reg(fpga::kTriggerDelay);
    const uint32_t type = (trigger & fpga::kTriggerTypeMask) >> fpga::kTriggerTypeShift;
    // Debounce: a change counts once the line has held the new level for the
    // filter time; a change reverted sooner is a glitch and is ignored.  The
    // filter runs in every mode, so the PL always knows the line's level.
    while (!m_edges.empty()) {
        const Edge e = m_edges.front();
        if (e.level == m_filteredLevel) {
            m_edges.pop_front();
            continue;
        }
        // The next change back, if any, ends this level.
        auto next = std::find_if(m_edges.begin() + 1, m_edges.end(),
                                 [&](const Edge& n) { return n.level != e.level; });
        const int64_t heldUntil = next == m_edges.end() ? nowUs : next->atUs;
        if (heldUntil - e.atUs < filterUs) {
            if (next == m_edges.end()) break;      // still settling
            m_edges.erase(m_edges.begin(), next);  // glitch
            continue;
        }
        m_edges.pop_front();
        m_filteredLevel = e.level;
        if (!armed) continue;
        const int64_t at = e.atUs + filterUs + delayUs;
        const bool fires = (type == kTriggerTypeRising && e.level) || (type == kTriggerTypeFalling && !e.level) ||
                           type == kTriggerTypeBoth;
        if (fires) m_pendingTriggers.push_back(at);
        if (type == kTriggerTypeLevel) m_nextFrameUs = e.level ? at : -1;
    }
    if (!armed) return;
    while (!m_pendingTriggers.empty() && m_pendingTriggers.front() <= nowUs) {
        m_pendingTriggers.pop_front();
        produceFrame();
    }
    if (type == kTriggerTypeLevel && m_filteredLevel && m_nextFrameUs >= 0 && nowUs >= m_nextFrameUs) {
        produceFrame();
        const int64_t period = std::clamp<int64_t>(m_frameTimeUs(), kMinFramePeriodUs, kMaxFramePeriodUs);
        m_nextFrameUs = std::max(m_nextFrameUs + period, nowUs);
    }
}

void AcquisitionModel::tick(int64_t nowUs)
{
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_edges.insert(m_edges.end(), m_inbox.begin(), m_inbox.end());
        m_inbox.clear();
    }
    if (consumeReg(m_hw.fpga, fpga::kClearReadBuf) != 0) clearBuffers();
    if ((reg(fpga::kClearWriteBuf) & 1u) == 0 && m_filling >= 0) {
        m_buf[m_filling] = Buf::Free;
        m_framesInBuf[m_filling] = 0;
        m_filling = -1;
    }
    if (consumeReg(m_hw.fpga, fpga::kReleaseBuf) != 0 && !m_filledOrder.empty()) {
        const int i = m_filledOrder.front();
        m_filledOrder.pop_front();
        m_buf[i] = Buf::Free;
        m_framesInBuf[i] = 0;
        std::lock_guard<std::mutex> g(m_lock);
        ++m_counters.releases;
    }

    const bool started = (reg(fpga::kControl) & fpga::kControlCaptureStart) != 0;
    const uint32_t trigger = reg(fpga::kTrigger);
    const bool triggered = (trigger & fpga::kTriggerEnable) != 0;
    const bool external = triggered && (trigger & fpga::kTriggerExternal) != 0;

    if (consumeReg(m_hw.fpga, fpga::kSoftTrigger) != 0 && started && triggered && !external) produceFrame();

    const bool armed = external && started;
    if (armed != m_armed) {
        // Arming or disarming the external input forgets queued triggers and
        // the frame clock of the level trigger.
        m_pendingTriggers.clear();
        m_nextFrameUs = -1;
        m_armed = armed;
    }
    runInput(nowUs, armed, trigger);
    if (external || triggered || !started) {
        if (!armed) m_nextFrameUs = -1;
        return;
    }
    // Continuous: the frame clock runs from the moment capture starts.
    const int64_t sensorUs = m_frameTimeUs();
    const int64_t fixedUs = reg(fpga::kFramePeriod);
    const int64_t period = std::clamp<int64_t>(std::max(fixedUs, sensorUs), kMinFramePeriodUs, kMaxFramePeriodUs);
    if (m_nextFrameUs < 0) {
        m_nextFrameUs = nowUs + period;
        return;
    }
    if (nowUs >= m_nextFrameUs) {
        produceFrame();
        // Keep the cadence, but never try to catch up on a backlog.
        m_nextFrameUs += period;
        if (m_nextFrameUs <= nowUs) m_nextFrameUs = nowUs + period;
    }
}

}  // namespace model
}  // namespace vb
