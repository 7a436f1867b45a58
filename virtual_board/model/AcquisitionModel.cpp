// AcquisitionModel.cpp - triggers, frame clock, frame buffers and capture
// interrupt of the PL (see AcquisitionModel.h for the model).
#include "AcquisitionModel.h"

#include <algorithm>

#include "ModelCommon.h"
#include "PLRegs.h"
#include "SensorModel.h"
#include "SignalTrace.h"

namespace vb {
namespace model {

namespace fpga = vyxpl::fpga;
namespace phys = vyxpl::phys;

namespace {
constexpr uint32_t kTriggerTypeRising = 0, kTriggerTypeFalling = 1, kTriggerTypeBoth = 2,
                   kTriggerTypeLevel = 3;
constexpr uint32_t kBufferBaseReg[4] = {fpga::kFrameBufBase0, fpga::kFrameBufBase1,
                                        fpga::kFrameBufBase2, fpga::kFrameBufBase3};
constexpr int64_t kNsPerUs = 1000;
}  // namespace

bool AcqLevels::operator==(const AcqLevels& o) const {
    return control == o.control && trigger == o.trigger && period == o.period && filter == o.filter &&
           delay == o.delay && multi == o.multi && pixels == o.pixels && geometryB == o.geometryB &&
           clearWrite == o.clearWrite && std::equal(base, base + 4, o.base);
}

AcquisitionModel::AcquisitionModel(const HardwareView& hw, Render render, Timing timing, RaiseInterrupt raise)
    : m_hw(hw), m_render(std::move(render)), m_timing(std::move(timing)), m_raise(std::move(raise)) {}

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

AcqLevels AcquisitionModel::sample(const HardwareView& hw) {
    AcqLevels l;
    l.control = loadReg(hw.fpga, fpga::kControl);
    l.trigger = loadReg(hw.fpga, fpga::kTrigger);
    l.period = loadReg(hw.fpga, fpga::kFramePeriod);
    l.filter = loadReg(hw.fpga, fpga::kTriggerFilter);
    l.delay = loadReg(hw.fpga, fpga::kTriggerDelay);
    l.multi = loadReg(hw.fpga, fpga::kMultiFrameA);
    l.pixels = loadReg(hw.fpga, fpga::kFramePixelsA);
    l.geometryB = loadReg(hw.fpga, fpga::kGeometryB);
    l.clearWrite = loadReg(hw.fpga, fpga::kClearWriteBuf);
    for (int i = 0; i < 4; ++i) l.base[i] = loadReg(hw.fpga, kBufferBaseReg[i]);
    return l;
}

AcquisitionCounters AcquisitionModel::counters() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_counters;
}

std::vector<FrameRecord> AcquisitionModel::frames() const {
    std::lock_guard<std::mutex> g(m_lock);
    return std::vector<FrameRecord>(m_log.begin(), m_log.end());
}

// ---------------------------------------------------------------- settings

bool AcquisitionModel::started() const { return (m_levels.control & fpga::kControlCaptureStart) != 0; }

bool AcquisitionModel::armedSoftware() const {
    return started() && (m_levels.trigger & fpga::kTriggerEnable) != 0 &&
           (m_levels.trigger & fpga::kTriggerExternal) == 0;
}

bool AcquisitionModel::armedExternal() const {
    return started() && (m_levels.trigger & fpga::kTriggerEnable) != 0 &&
           (m_levels.trigger & fpga::kTriggerExternal) != 0;
}

uint32_t AcquisitionModel::triggerType() const {
    return (m_levels.trigger & fpga::kTriggerTypeMask) >> fpga::kTriggerTypeShift;
}

int64_t AcquisitionModel::periodNs() const {
    const int64_t fixedNs = static_cast<int64_t>(m_levels.period) * kNsPerUs;
    return std::clamp<int64_t>(std::max(fixedNs, m_timing().periodNs), kMinFramePeriodNs, kMaxFramePeriodNs);
}

void AcquisitionModel::applyLevels(const AcqLevels& levels, int64_t atNs) {
    const bool wasSoftware = m_haveLevels && armedSoftware();
    const bool wasExternal = m_haveLevels && armedExternal();
    const uint32_t wasType = triggerType();
    m_levels = levels;
    m_haveLevels = true;

    if ((m_levels.clearWrite & 1u) == 0 && m_filling >= 0) {
        // The write side held in clear throws the partly filled buffer away.
        m_buf[m_filling] = Buf::Free;
        m_framesInBuf[m_filling] = 0;
        m_filling = -1;
    }
    const bool freeRun = started() && (m_levels.trigger & fpga::kTriggerEnable) == 0;
    if (!freeRun)
        m_nextFreeRunNs = -1;
    else if (m_nextFreeRunNs < 0)
        m_nextFreeRunNs = atNs + periodNs();
    if (wasSoftware != armedSoftware() || wasExternal != armedExternal() ||
        (armedExternal() && wasType != triggerType())) {
        // Arming or disarming a trigger forgets what it had started.
        m_pending.clear();
        m_nextLevelNs = -1;
    }
}

void AcquisitionModel::apply(const AcqEvent& e) {
    switch (e.kind) {
    case AcqEvent::Levels: applyLevels(e.levels, e.atNs); break;
    case AcqEvent::ClearRead: clearBuffers(e.atNs); break;
    case AcqEvent::Release: release(e.atNs); break;
    case AcqEvent::SoftTrigger:
        if (armedSoftware()) trigger(e.atNs);
        break;
    case AcqEvent::Input: m_edges.push_back(Edge{e.atNs, e.level}); break;
    }
}

// ---------------------------------------------------------------- triggers

void AcquisitionModel::trigger(int64_t atNs) {
    // One pixel array and one readout: a triggered frame waits for the one
    // before it at each stage.
    const SensorTiming t = m_timing();
    const int64_t exposureStart =
        std::max(atNs + static_cast<int64_t>(m_levels.delay) * kNsPerUs, m_lastExposureEndNs);
    m_lastExposureEndNs = exposureStart + t.exposureNs;
    const int64_t readoutStart = std::max(m_lastExposureEndNs, m_lastReadoutEndNs);
    m_lastReadoutEndNs = readoutStart + t.readoutNs;
    m_pending.push_back(Span{exposureStart, m_lastExposureEndNs, readoutStart, m_lastReadoutEndNs, atNs});
}

int64_t AcquisitionModel::filterDeadline() const {
    for (const Edge& e : m_edges)
        if (e.level != m_filteredLevel)
            return e.atNs + static_cast<int64_t>(m_levels.filter & fpga::kTriggerFilterMask) * kNsPerUs;
    return m_edges.empty() ? kNever : m_edges.front().atNs;
}

// Debounce: a change counts once the line has held the new level for the
// filter time; a change reverted sooner is a glitch and is ignored.  The
// filter runs in every mode, so the PL always knows the line's level.
void AcquisitionModel::runFilter(int64_t nowNs) {
    const int64_t filterNs = static_cast<int64_t>(m_levels.filter & fpga::kTriggerFilterMask) * kNsPerUs;
    while (!m_edges.empty()) {
        const Edge e = m_edges.front();
        if (e.level == m_filteredLevel) {
            m_edges.pop_front();
            continue;
        }
        // The next change back, if any, ends this level.
        auto next = std::find_if(m_edges.begin() + 1, m_edges.end(),
                                 [&](const Edge& n) { return n.level != e.level; });
        const int64_t heldUntil = next == m_edges.end() ? nowNs : next->atNs;
        if (heldUntil - e.atNs < filterNs) {
            if (next == m_edges.end()) break;      // still settling
            m_edges.erase(m_edges.begin(), next);  // glitch
            continue;
        }
        m_edges.pop_front();
        m_filteredLevel = e.level;
        if (!armedExternal()) continue;
        const int64_t at = e.atNs + filterNs;
        const uint32_t type = triggerType();
        if ((type == kTriggerTypeRising && e.level) || (type == kTriggerTypeFalling && !e.level) ||
            type == kTriggerTypeBoth)
            trigger(at);
        if (type == kTriggerTypeLevel) {
            const SensorTiming t = m_timing();
            m_nextLevelNs =
                e.level ? at + static_cast<int64_t>(m_levels.delay) * kNsPerUs + t.exposureNs + t.readoutNs
                        : -1;
        }
    }
}

// ---------------------------------------------------------------- time

int64_t AcquisitionModel::nextDeadline() const {
    int64_t t = filterDeadline();
    if (m_nextFreeRunNs >= 0) t = std::min(t, m_nextFreeRunNs);
    if (m_nextLevelNs >= 0) t = std::min(t, m_nextLevelNs);
    if (!m_pending.empty()) t = std::min(t, m_pending.front().doneNs);
    return t;
}

void AcquisitionModel::advance(int64_t nowNs, std::deque<AcqEvent>& events) {
    for (;;) {
        const int64_t tEvent = events.empty() ? kNever : events.front().atNs;
        const int64_t tFilter = filterDeadline();
        const int64_t tFreeRun = m_nextFreeRunNs >= 0 ? m_nextFreeRunNs : kNever;
        const int64_t tLevel = m_nextLevelNs >= 0 ? m_nextLevelNs : kNever;
        const int64_t tPending = m_pending.empty() ? kNever : m_pending.front().doneNs;
        const int64_t t = std::min({tEvent, tFilter, tFreeRun, tLevel, tPending});
        if (t > nowNs) break;
        if (t == tEvent) {
            // What the registers said at a moment applies before a frame due then.
            apply(events.front());
            events.pop_front();
        } else if (t == tFilter) {
            runFilter(t);
        } else if (t == tPending) {
            const Span p = m_pending.front();
            m_pending.pop_front();
            produce(p);
        } else if (t == tFreeRun) {
            produce(freeRunSpan(t, -1));
            m_nextFreeRunNs = t + periodNs();
        } else {
            produce(freeRunSpan(t, t));
            m_nextLevelNs = t + periodNs();
        }
    }
    // Events the model has no use for yet are not left behind.
    events.clear();
}

// ---------------------------------------------------------------- buffers

void AcquisitionModel::clearBuffers(int64_t atNs) {
    for (int i = 0; i < 4; ++i) {
        m_buf[i] = Buf::Free;
        m_framesInBuf[i] = 0;
    }
    m_filledOrder.clear();
    m_filling = -1;
    m_lastFilled = 3;   // the write sequence restarts at buffer 0
    m_pending.clear();
    traceBuffersFull(atNs);
}

void AcquisitionModel::release(int64_t atNs) {
    if (m_filledOrder.empty()) return;
    const int i = m_filledOrder.front();
    m_filledOrder.pop_front();
    m_buf[i] = Buf::Free;
    m_framesInBuf[i] = 0;
    traceBuffersFull(atNs);
    std::lock_guard<std::mutex> g(m_lock);
    ++m_counters.releases;
}

void AcquisitionModel::announce(int index, int64_t doneNs) {
    // The buffer index must be readable before the interrupt reaches the
    // application: the capture path reads register 52 when it wakes.
    storeReg(m_hw.fpga, fpga::kFrameBufStatus, static_cast<uint32_t>(index) << fpga::kFrameBufIdShift);
    uint64_t filled, dropped;
    {
        std::lock_guard<std::mutex> g(m_lock);
        filled = ++m_counters.buffersFilled;
        dropped = m_counters.framesDropped;
        // Counted before the interrupt leaves, so that whoever reads the code
        // already finds the frames counted; taken back if the board refuses it.
        m_counters.framesDelivered += m_framesInBuf[index];
    }
    storeReg(m_hw.fpga, fpga::kStatus44, static_cast<uint32_t>(filled));
    storeReg(m_hw.fpga, fpga::kStatus48, static_cast<uint32_t>(dropped));
    if (m_raise()) {
        if (SignalTrace* trace = m_trace.load()) trace->pulse(doneNs, Sig::FrameDoneIrq);
        return;
    }
    std::lock_guard<std::mutex> g(m_lock);
    m_counters.framesDelivered -= m_framesInBuf[index];
    ++m_counters.interruptsWithheld;
}

void AcquisitionModel::drop(uint32_t counter, int64_t doneNs, int64_t triggerNs) {
    uint64_t dropped;
    if (SignalTrace* trace = m_trace.load()) trace->pulse(doneNs, Sig::FrameDropped);
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_counters.framesExposed = counter;
        dropped = ++m_counters.framesDropped;
        m_log.push_back(FrameRecord{counter, doneNs, triggerNs, -1});
        if (m_log.size() > kFrameLogEntries) m_log.pop_front();
    }
    storeReg(m_hw.fpga, fpga::kStatus48, static_cast<uint32_t>(dropped));
}

AcquisitionModel::Span AcquisitionModel::freeRunSpan(int64_t doneNs, int64_t triggerNs) const {
    // In free run exposure and readout overlap: the frame done now was read
    // out just before and exposed before that.
    const SensorTiming t = m_timing();
    const int64_t readoutStart = doneNs - t.readoutNs;
    return Span{readoutStart - t.exposureNs, readoutStart, readoutStart, doneNs, triggerNs};
}

int64_t AcquisitionModel::earliestOpenNs(int64_t nowNs) const {
    int64_t t = nowNs;
    if (!m_pending.empty()) t = std::min(t, m_pending.front().exposureStartNs);
    if (m_nextFreeRunNs >= 0 || m_nextLevelNs >= 0) {
        const SensorTiming s = m_timing();
        for (int64_t next : {m_nextFreeRunNs, m_nextLevelNs})
            if (next >= 0) t = std::min(t, next - s.readoutNs - s.exposureNs);
    }
    return t;
}

void AcquisitionModel::traceFrame(const Span& span) {
    SignalTrace* trace = m_trace.load();
    if (trace == nullptr) return;
    trace->record(span.exposureStartNs, Sig::Exposure, 1);
    trace->record(span.exposureEndNs, Sig::Exposure, 0);
    trace->record(span.readoutStartNs, Sig::Readout, 1);
    trace->record(span.doneNs, Sig::Readout, 0);
    // The flash output follows the exposure while the sensor's flash is on.
    const SensorTiming t = m_timing();
    const uint32_t idle = t.flashInverted ? 1 : 0;
    trace->record(span.exposureStartNs, Sig::Strobe, t.flash ? 1 - idle : idle);
    trace->record(span.exposureEndNs, Sig::Strobe, idle);
}

void AcquisitionModel::traceBuffersFull(int64_t atNs) {
    SignalTrace* trace = m_trace.load();
    if (trace == nullptr) return;
    const bool full = std::all_of(std::begin(m_buf), std::end(m_buf), [](Buf b) { return b == Buf::Filled; });
    if (full == m_tracedFull) return;
    m_tracedFull = full;
    trace->record(atNs, Sig::BuffersFull, full ? 1 : 0);
}

void AcquisitionModel::produce(const Span& span) {
    const int64_t doneNs = span.doneNs, triggerNs = span.triggerNs;
    const uint32_t counter = ++m_frameCounter;
    traceFrame(span);
    if ((m_levels.clearWrite & 1u) == 0) return drop(counter, doneNs, triggerNs);

    uint32_t perBuffer = m_levels.multi & fpga::kMultiFrameMask;
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
        if (m_filling < 0) return drop(counter, doneNs, triggerNs);
    }
    const int index = m_filling;

    // Frame geometry as the PL was told: pixels per frame and line width.
    const uint64_t frameBytes = m_levels.pixels;
    uint32_t lineWidth = ((m_levels.geometryB & fpga::kGeometryBWidthMask) >> fpga::kGeometryBWidthShift)
                         << fpga::kGeometryBWidthDivShift;
    const uint64_t offset = frameBytes * m_framesInBuf[index];
    // Frames never spill out of their 10 MiB buffer: the part beyond it is cut.
    const uint64_t room = offset < phys::kFrameBufferSize ? phys::kFrameBufferSize - offset : 0;
    const uint32_t bytes = static_cast<uint32_t>(std::min<uint64_t>(frameBytes, room));
    uint8_t* dst = ramRange(m_hw, static_cast<uint64_t>(m_levels.base[index]) + offset, bytes);
    if (dst == nullptr) {
        // A base outside the reserved RAM: the DMA has nowhere to write.
        if (m_framesInBuf[index] == 0) {
            m_buf[index] = Buf::Free;
            m_filling = -1;
        }
        return drop(counter, doneNs, triggerNs);
    }
    if (lineWidth == 0) lineWidth = std::max<uint32_t>(bytes, 1);
    m_render(dst, bytes, lineWidth, counter, doneNs);
    if (m_stamp.load()) {
        const uint32_t stamp[2] = {counter, ~counter};
        for (int b = 0; b < kFrameStampBytes && static_cast<uint32_t>(b) < bytes; ++b)
            dst[b] = static_cast<uint8_t>(stamp[b / 4] >> (8 * (b % 4)));
    }

    if (SignalTrace* trace = m_trace.load()) {
        trace->record(doneNs, Sig::WriteBuffer, static_cast<uint32_t>(index));
        trace->pulse(doneNs, Sig::FrameWritten);
    }
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_counters.framesExposed = counter;
        ++m_counters.framesWritten;
        m_counters.lastFrameCounter = counter;
        m_log.push_back(FrameRecord{counter, doneNs, triggerNs, index});
        if (m_log.size() > kFrameLogEntries) m_log.pop_front();
    }
    if (++m_framesInBuf[index] >= perBuffer) {
        m_buf[index] = Buf::Filled;
        m_filledOrder.push_back(index);
        m_lastFilled = index;
        m_filling = -1;
        traceBuffersFull(doneNs);
        announce(index, doneNs);
    }
}

}  // namespace model
}  // namespace vb
