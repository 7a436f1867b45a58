// The PL's timing engine against the model's own arithmetic: frames are done
// on their schedule on the board's clock, every frame that falls due is
// accounted for (stored or dropped), triggers count from the moment the
// program wrote them, and one-shot registers are not lost.  Everything is
// checked through frame counters, frame times and the board's clock, never
// through how long the test itself took, so a loaded machine changes nothing.
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "ModelTestSupport.h"

namespace modeltest {
namespace {

constexpr int64_t kNsPerUs = 1000;

// Frames with a counter above `after`, oldest first.
std::vector<vb::ModelFrame> framesAfter(uint32_t after) {
    std::vector<vb::ModelFrame> out;
    for (const vb::ModelFrame& f : vb::modelFrames())
        if (f.counter > after) out.push_back(f);
    return out;
}

uint32_t lastCounter() {
    const std::vector<vb::ModelFrame> all = vb::modelFrames();
    return all.empty() ? 0 : all.back().counter;
}

// Lets the board's clock pass `ns` (the PL is not asked anything).
void letClockPass(int64_t ns) {
    const int64_t until = vb::modelClockNs() + ns;
    const auto bound = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (vb::modelClockNs() < until && std::chrono::steady_clock::now() < bound)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

class Timing : public ModelTest {
protected:
    void TearDown() override {
        vb::modelStall(false);
        ModelTest::TearDown();
    }
    // Continuous capture, releasing every buffer as it arrives, until `count`
    // frames after `after` are done; the frames, oldest first.
    std::vector<vb::ModelFrame> runContinuous(size_t count) {
        const uint32_t after = lastCounter();
        board.setCapture(true, 0);
        for (size_t k = 0; k < count; ++k) {
            EXPECT_EQ(board.waitInterrupt(), "169") << "frame " << k;
            board.setReg(fpga::kReleaseBuf, 1);
        }
        stop();
        std::vector<vb::ModelFrame> frames = framesAfter(after);
        if (frames.size() > count) frames.resize(count);
        return frames;
    }
    // Capture stopped, every buffer free again (frames done before the stop
    // may have filled some) and no interrupt pending.
    void stop() {
        board.setCapture(false, 0);
        board.setReg(fpga::kClearReadBuf, 1);
        ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
        board.setReg(fpga::kClearReadBuf, 0);
        board.drainInterrupts();
    }
    // A 160 x 128 window and a short exposure: the sensor runs faster than
    // every period the tests program, and frames are small.
    void fastSensor() {
        board.sensorWrite(21, 160);
        board.sensorWrite(19, 128);
        board.sensorWrite(14, 100);
        board.setFrameGeometry(160, 128);
    }
};

TEST_F(Timing, ContinuousFramesAreDoneOnePeriodApartAtEveryPeriod) {
    fastSensor();
    const int64_t sensorNs = vb::modelSensorTiming().framePeriodNs;
    ASSERT_GT(sensorNs, 0);
    // The fixed period where it is longer than the sensor's; the sensor's
    // own where the fixed one is shorter or 0.
    const struct {
        uint32_t fixedUs;
        int64_t expectNs;
    } cases[] = {{0, sensorNs}, {2000, 2000 * kNsPerUs}, {5000, 5000 * kNsPerUs}, {1, sensorNs}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixedUs);
        board.setReg(fpga::kFramePeriod, c.fixedUs);
        const std::vector<vb::ModelFrame> frames = runContinuous(6);
        ASSERT_EQ(frames.size(), 6u);
        for (size_t k = 1; k < frames.size(); ++k) {
            EXPECT_EQ(frames[k].doneNs - frames[k - 1].doneNs, c.expectNs) << "frame " << k;
            EXPECT_EQ(frames[k].counter, frames[k - 1].counter + 1);
            EXPECT_EQ(frames[k].triggerNs, -1);
        }
    }
}

// Frames fall due whether or not the PL thread runs: stalled for many frame
// periods, it accounts for every one of them once it runs again, each at its
// own time, into the free buffers and the rest dropped.
TEST_F(Timing, AStalledPlCatchesUpWithEveryFrameThatFellDue) {
    fastSensor();
    constexpr uint32_t kPeriodUs = 1000;
    constexpr int64_t kPeriodNs = kPeriodUs * kNsPerUs;
    board.setReg(fpga::kFramePeriod, kPeriodUs);
    const uint32_t start = lastCounter();
    board.setCapture(true, 0);
    ASSERT_EQ(board.waitInterrupt(), "169");  // the frame clock runs; nothing is released
    vb::modelStall(true);
    const vb::ModelCounters atStall = vb::modelCounters();
    const uint32_t lastBefore = lastCounter();
    letClockPass(40 * kPeriodNs);
    const int64_t until = vb::modelClockNs();
    // The PL catches up to `until` and parks there while the frames are
    // read: a test thread the machine does not schedule must not let the
    // frame log run past them.
    vb::modelStallAt(until);
    ASSERT_TRUE(vb::modelWaitClock(until, kWaitMs));
    const std::vector<vb::ModelFrame> all = framesAfter(start);
    EXPECT_EQ(vb::modelCounters().clockNs, until) << "the PL ran on past the moment it was to stop at";
    vb::modelStall(false);
    stop();

    const auto split =
        std::find_if(all.begin(), all.end(), [&](const vb::ModelFrame& f) { return f.counter > lastBefore; });
    ASSERT_NE(split, all.begin());
    const std::vector<vb::ModelFrame> caughtUp(split, all.end());
    const int64_t lastDone = (split - 1)->doneNs;
    // Every period from the last frame before the stall up to `until` has
    // its frame, at its own time.
    const auto due = static_cast<size_t>((until - lastDone) / kPeriodNs);
    ASSERT_GE(caughtUp.size(), due);
    ASSERT_GE(due, 30u);
    int64_t previous = lastDone;
    for (size_t k = 0; k < due; ++k) {
        EXPECT_EQ(caughtUp[k].doneNs, previous + kPeriodNs) << "frame " << k;
        EXPECT_EQ(caughtUp[k].counter, (k == 0 ? lastBefore : caughtUp[k - 1].counter) + 1);
        previous = caughtUp[k].doneNs;
    }
    // Nothing was released: the buffers still free at the stall took the
    // first frames, every later one was dropped.
    const auto storedBefore =
        std::count_if(all.begin(), split, [](const vb::ModelFrame& f) { return f.buffer >= 0; });
    const auto storedAfter = std::count_if(caughtUp.begin(), caughtUp.begin() + static_cast<long>(due),
                                           [](const vb::ModelFrame& f) { return f.buffer >= 0; });
    EXPECT_EQ(storedAfter, 4 - storedBefore);
    const vb::ModelCounters after = vb::modelCounters();
    EXPECT_GE(after.framesDropped - atStall.framesDropped, due - static_cast<size_t>(storedAfter));
    EXPECT_EQ(after.framesExposed - after.framesWritten - after.framesDropped,
              atStall.framesExposed - atStall.framesWritten - atStall.framesDropped)
        << "every frame the sensor produced was stored or dropped";
}

// A software trigger counts from the moment the program wrote it: the call
// into the board right after the write takes it, and the frame is done its
// exposure, readout and the trigger delay later.
TEST_F(Timing, SoftwareTriggersCountFromTheWriteAndTakeDelayExposureAndReadout) {
    board.setCapture(true, fpga::kTriggerEnable);
    for (uint32_t delayUs : {0u, 3000u}) {
        SCOPED_TRACE(delayUs);
        board.setReg(fpga::kTriggerDelay, delayUs);
        vb::modelStall(true);  // only the program's call can see the write
        const uint32_t after = lastCounter();
        const int64_t beforeWrite = vb::modelClockNs();
        board.setReg(fpga::kSoftTrigger, 1);
        board.callBoard();
        const int64_t afterCall = vb::modelClockNs();
        vb::modelStall(false);
        ASSERT_EQ(board.waitInterrupt(), "169");
        board.setReg(fpga::kReleaseBuf, 1);

        const vb::ModelTiming t = vb::modelSensorTiming();
        const std::vector<vb::ModelFrame> frames = framesAfter(after);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_GE(frames[0].triggerNs, beforeWrite);
        EXPECT_LE(frames[0].triggerNs, afterCall);
        EXPECT_EQ(frames[0].doneNs - frames[0].triggerNs, delayUs * kNsPerUs + t.exposureNs + t.readoutNs);
    }
}

// A trigger mode written just before an edge arrives applies to that edge,
// with nothing between them that calls into the board: the PL looks at its
// registers when the input changes.
TEST_F(Timing, AnEdgeRightAfterArmingTheExternalTriggerTriggersAFrame) {
    vb::modelStall(true);
    const uint32_t after = lastCounter();
    board.setCapture(true, fpga::kTriggerEnable | fpga::kTriggerExternal);  // rising edge
    const int64_t beforeEdge = vb::modelClockNs();
    vb::setGpioInput(vb::kTriggerInputLine, true);
    const int64_t afterEdge = vb::modelClockNs();
    vb::modelStall(false);
    ASSERT_EQ(board.waitInterrupt(), "169");
    board.setReg(fpga::kReleaseBuf, 1);

    const vb::ModelTiming t = vb::modelSensorTiming();
    const std::vector<vb::ModelFrame> frames = framesAfter(after);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_GE(frames[0].triggerNs, beforeEdge);
    EXPECT_LE(frames[0].triggerNs, afterEdge);
    EXPECT_EQ(frames[0].doneNs - frames[0].triggerNs, t.exposureNs + t.readoutNs);
}

// Triggers faster than the sensor: each exposure waits for the one before,
// each readout for the one before; nothing is lost.
TEST_F(Timing, BackToBackTriggersQueueBehindThePreviousExposureAndReadout) {
    board.sensorWrite(14, 2000);  // exposure longer than the readout of 1024 rows
    const vb::ModelTiming t = vb::modelSensorTiming();
    ASSERT_GT(t.exposureNs, t.readoutNs);
    board.setCapture(true, fpga::kTriggerEnable);
    const uint32_t after = lastCounter();
    vb::modelStall(true);
    for (int k = 0; k < 3; ++k) {
        board.setReg(fpga::kSoftTrigger, 1);
        board.callBoard();  // every write is taken before the next
    }
    vb::modelStall(false);
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(board.waitInterrupt(), "169") << "frame " << k;
        board.setReg(fpga::kReleaseBuf, 1);
    }
    // Each exposure starts at its trigger or when the one before ends,
    // each readout when its exposure ends or the one before is read out;
    // triggers close together (the usual case) queue behind each other.
    const std::vector<vb::ModelFrame> frames = framesAfter(after);
    ASSERT_EQ(frames.size(), 3u);
    int64_t exposureEnd = -1, readoutEnd = -1;
    for (int k = 0; k < 3; ++k) {
        exposureEnd = std::max(frames[k].triggerNs, exposureEnd) + t.exposureNs;
        readoutEnd = std::max(exposureEnd, readoutEnd) + t.readoutNs;
        EXPECT_EQ(frames[k].doneNs, readoutEnd) << "frame " << k;
    }
}

// A one-shot register written twice with a call into the board between the
// writes counts twice, however late the PL thread runs.
TEST_F(Timing, ReleasesTakenAtCallsIntoTheBoardAreNotLost) {
    board.setCapture(true, fpga::kTriggerEnable);
    for (int k = 0; k < 4; ++k)
        ASSERT_GE(board.triggerAndWait(), 0);  // all four held
    const vb::ModelCounters before = vb::modelCounters();
    vb::modelStall(true);
    board.setReg(fpga::kReleaseBuf, 1);
    board.callBoard();
    board.setReg(fpga::kReleaseBuf, 1);
    board.callBoard();
    vb::modelStall(false);
    ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
    EXPECT_EQ(vb::modelCounters().releases, before.releases + 2);
    EXPECT_GE(board.triggerAndWait(), 0);
    EXPECT_GE(board.triggerAndWait(), 0);
    EXPECT_EQ(vb::modelCounters().framesDropped, before.framesDropped);
}

// Several frames per buffer: one interrupt per buffer, its frames done one
// period apart and stored back to back.
TEST_F(Timing, MultiFrameBuffersFillOnTheFrameClock) {
    fastSensor();
    constexpr uint32_t kPeriodUs = 2000, kPerBuffer = 3, kW = 160, kH = 120;
    board.setFrameGeometry(kW, kH);
    board.setReg(fpga::kFramePeriod, kPeriodUs);
    board.setReg(fpga::kMultiFrameA, kPerBuffer);
    const uint32_t after = lastCounter();
    runContinuous(2);  // two interrupts: two buffers of three frames
    const std::vector<vb::ModelFrame> all = framesAfter(after);
    ASSERT_GE(all.size(), 2 * kPerBuffer);
    for (uint32_t k = 0; k < 2 * kPerBuffer; ++k) {
        if (k > 0) {
            EXPECT_EQ(all[k].doneNs - all[k - 1].doneNs, kPeriodUs * kNsPerUs) << "frame " << k;
        }
        EXPECT_EQ(all[k].buffer, all[k / kPerBuffer * kPerBuffer].buffer) << "frame " << k;
    }
    EXPECT_NE(all[0].buffer, all[kPerBuffer].buffer);
}

// With every buffer held, each frame that falls due is dropped and counted;
// a clear hands all buffers back and the write sequence restarts at buffer 0.
TEST_F(Timing, HeldBuffersDropEveryDueFrameUntilAClearFreesThem) {
    fastSensor();
    constexpr uint32_t kPeriodUs = 1000;
    board.setReg(fpga::kFramePeriod, kPeriodUs);
    board.setCapture(true, 0);
    for (int k = 0; k < 4; ++k)
        ASSERT_EQ(board.waitInterrupt(), "169") << "buffer " << k;
    const uint32_t after = lastCounter();
    const vb::ModelCounters full = vb::modelCounters();
    ASSERT_TRUE(vb::modelWaitFramesDropped(full.framesDropped + 5, kWaitMs));
    const vb::ModelCounters c = vb::modelCounters();
    EXPECT_EQ(c.framesWritten, full.framesWritten);
    for (const vb::ModelFrame& f : framesAfter(after)) {
        EXPECT_EQ(f.buffer, -1) << "frame " << f.counter;
    }

    board.setReg(fpga::kClearReadBuf, 1);
    ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
    board.setReg(fpga::kClearReadBuf, 0);
    ASSERT_EQ(board.waitInterrupt(), "169");
    stop();
    // Every frame before the clear was dropped; the first one stored after
    // it went into buffer 0.
    const std::vector<vb::ModelFrame> frames = framesAfter(after);
    const auto stored =
        std::find_if(frames.begin(), frames.end(), [](const vb::ModelFrame& f) { return f.buffer >= 0; });
    ASSERT_NE(stored, frames.end());
    EXPECT_EQ(stored->buffer, 0);
}

}  // namespace
}  // namespace modeltest
