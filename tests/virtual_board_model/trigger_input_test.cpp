// The world on the trigger input: a square wave gives one frame per period
// in an external-trigger mode and none in software mode, and each SIGUSR1
// gives one pulse.  Frames and pulses are counted by the board (its frame
// log and its pulse counter), never by how long the test took.
#include <signal.h>

#include <algorithm>

#include "ModelTestSupport.h"

namespace modeltest {
namespace {

constexpr int64_t kPeriodUs = 50000;
constexpr uint64_t kPulses = 4;

bool pulsesAtLeast(const vb::ModelCounters& c, const void* n) {
    return c.triggerPulses >= *static_cast<const uint64_t*>(n);
}

// Frames started by a trigger at or after `sinceNs`.
size_t triggeredSince(int64_t sinceNs) {
    const std::vector<vb::ModelFrame> frames = vb::modelFrames();
    return static_cast<size_t>(std::count_if(
        frames.begin(), frames.end(), [&](const vb::ModelFrame& f) { return f.triggerNs >= sinceNs; }));
}

class TriggerInput : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        // A small, short frame: each is done long before the next period.
        board.smallFastFrames();
    }
    void TearDown() override {
        vb::modelTriggerEvery(0);
        vb::modelTriggerOnSignal(false);
        ModelTest::TearDown();
    }
    // Arms a trigger mode, runs the square wave for kPulses rising edges,
    // stops it and lets every frame they started be done; the frames
    // triggered meanwhile and the pulses given.
    std::pair<size_t, uint64_t> runWave(uint32_t trigger) {
        board.setCapture(true, trigger);
        EXPECT_TRUE(vb::modelWaitTick(kWaitMs));
        const int64_t since = vb::modelClockNs();
        const uint64_t before = vb::modelCounters().triggerPulses;
        const uint64_t target = before + kPulses;
        EXPECT_TRUE(vb::modelTriggerEvery(kPeriodUs));
        // Buffers are released as frames come, so none is dropped.
        while (!vb::modelWaitFor(pulsesAtLeast, &target, 10)) {
            if (vb::modelClockNs() - since > int64_t{kWaitMs} * 4000000) break;
            if (!board.waitInterrupt(0).empty()) board.setReg(fpga::kReleaseBuf, 1);
        }
        vb::modelTriggerEvery(0);
        const uint64_t given = vb::modelCounters().triggerPulses - before;
        // The last edge's frame: exposure and readout of a few milliseconds.
        EXPECT_TRUE(vb::modelWaitClock(vb::modelClockNs() + 20000000, kWaitMs));
        return {triggeredSince(since), given};
    }
};

TEST_F(TriggerInput, ASquareWaveGivesOneFramePerPeriodInExternalModeAndNoneInSoftwareMode) {
    const uint32_t rising = fpga::kTriggerEnable | fpga::kTriggerExternal;
    const std::pair<size_t, uint64_t> external = runWave(rising);
    EXPECT_GE(external.second, kPulses);
    EXPECT_EQ(external.first, external.second);
    EXPECT_FALSE(vb::gpioLevel(vb::kTriggerInputLine)) << "the line stays high after the wave stopped";

    const std::pair<size_t, uint64_t> software = runWave(fpga::kTriggerEnable);
    EXPECT_GE(software.second, kPulses);
    EXPECT_EQ(software.first, 0u);
}

TEST_F(TriggerInput, EachSignalGivesOnePulse) {
    board.setCapture(true, fpga::kTriggerEnable | fpga::kTriggerExternal);
    ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
    ASSERT_TRUE(vb::modelTriggerOnSignal(true));
    const int64_t since = vb::modelClockNs();
    const uint64_t before = vb::modelCounters().triggerPulses;
    for (uint64_t k = 1; k <= 3; ++k) {
        ASSERT_EQ(raise(SIGUSR1), 0);
        const uint64_t target = before + k;
        ASSERT_TRUE(vb::modelWaitFor(pulsesAtLeast, &target, kWaitMs)) << "pulse " << k;
        EXPECT_EQ(board.waitInterrupt(), "169") << "pulse " << k;
        board.setReg(fpga::kReleaseBuf, 1);
    }
    EXPECT_TRUE(vb::modelWaitClock(vb::modelClockNs() + 20000000, kWaitMs));
    EXPECT_EQ(vb::modelCounters().triggerPulses, before + 3);
    EXPECT_EQ(triggeredSince(since), 3u);
}

}  // namespace
}  // namespace modeltest
