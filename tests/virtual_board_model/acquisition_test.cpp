// The PL's acquisition as a program on the board sees it: triggers, the four
// frame buffers, register 52, releases, drops, clears, multi-frame buffers
// and the external trigger input.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "ModelTestSupport.h"

namespace modeltest {
namespace {

using Clock = std::chrono::steady_clock;

int64_t msSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

using Acquisition = ModelTest;

// The whole path a camera program takes: configure the sensor over SPI,
// trigger through register 104, receive "169", read register 52 and find the
// scene in the buffer it names, stamped with the frame counter.
TEST_F(Acquisition, SoftwareTriggerDeliversThePatternIntoTheBufferRegister52Names)
{
    const SensorDefault startup[] = {{7, 0x0E01}, {8, 0x0F21}, {9, 0x634B}, {18, 0x0006}, {19, 0x0400},
                                     {20, 0x0006}, {21, 0x0500}, {58, 0x80F0}, {11, 0x0100}};
    for (const SensorDefault& s : startup) ASSERT_TRUE(board.sensorWrite(s.addr, s.value));
    for (const SensorDefault& s : startup) EXPECT_EQ(board.sensorRead(s.addr), s.value) << "register " << int(s.addr);

    EXPECT_NE(board.reg(fpga::kVersion), 0u);
    board.setCapture(true, fpga::kTriggerEnable);
    const uint64_t before = vb::modelCounters().framesDelivered;
    board.setReg(fpga::kSoftTrigger, 1);
    ASSERT_EQ(board.waitInterrupt(), "169");
    const int index = board.newestBuffer();
    const uint8_t* frame = board.buffer[index];

    const vb::ModelCounters c = vb::modelCounters();
    EXPECT_EQ(c.framesDelivered, before + 1);
    EXPECT_EQ(stampOf(frame), c.lastFrameCounter);
    size_t mismatches = 0;
    for (int y = 0; y < kFullHeight; ++y)
        for (int x = 0; x < kFullWidth; ++x)
            if (y * kFullWidth + x >= vb::kFrameStampBytes &&
                frame[y * kFullWidth + x] != vb::modelPatternValue(x, y))
                ++mismatches;
    EXPECT_EQ(mismatches, 0u);
    EXPECT_FALSE(board.interruptPending()) << "one interrupt per buffer";
}

TEST_F(Acquisition, TriggersAreIgnoredWhileCaptureIsStoppedOrInOtherModes)
{
    const vb::ModelCounters before = vb::modelCounters();
    board.setCapture(false, fpga::kTriggerEnable);
    board.setReg(fpga::kSoftTrigger, 1);
    ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
    // External mode: register 104 does nothing.
    board.setCapture(true, fpga::kTriggerEnable | fpga::kTriggerExternal);
    board.setReg(fpga::kSoftTrigger, 1);
    ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
    EXPECT_EQ(vb::modelCounters().framesExposed, before.framesExposed);
    EXPECT_FALSE(board.interruptPending());
    EXPECT_EQ(board.reg(fpga::kSoftTrigger), 0u) << "the trigger pulse is consumed";
}

// Free run: frames keep coming on the frame clock, into the buffers in turn,
// with increasing frame counters, never faster than the fixed period.
TEST_F(Acquisition, ContinuousModeRunsOnTheFrameClock)
{
    constexpr uint32_t kPeriodUs = 30000;
    constexpr int kFrames = 5;
    board.setReg(fpga::kFramePeriod, kPeriodUs);
    const Clock::time_point start = Clock::now();
    const uint32_t before = vb::modelCounters().lastFrameCounter;
    board.setCapture(true, 0);
    for (int k = 0; k < kFrames; ++k) {
        ASSERT_EQ(board.waitInterrupt(), "169") << "frame " << k;
        board.setReg(fpga::kReleaseBuf, 1);
    }
    // The first frame comes one period after the start, each next one a period later.
    EXPECT_GE(msSince(start), kFrames * static_cast<int64_t>(kPeriodUs) / 1000);
    board.setCapture(false, 0);
    // Stored frames go into the buffers in turn, their stamps counting up
    // (read from the frame log: register 52 names only the newest buffer,
    // and a test the machine does not schedule for a period may miss one).
    int lastIndex = -1;
    uint32_t lastStamp = before;
    int stored = 0;
    for (const vb::ModelFrame& f : vb::modelFrames()) {
        if (f.counter <= before || f.buffer < 0) continue;
        if (lastIndex >= 0) {
            EXPECT_EQ(f.buffer, (lastIndex + 1) % 4) << "frame " << f.counter;
        }
        EXPECT_GT(f.counter, lastStamp);
        lastIndex = f.buffer;
        lastStamp = f.counter;
        ++stored;
    }
    EXPECT_GE(stored, kFrames);
}

TEST_F(Acquisition, SensorFrameRateDependsOnExposure)
{
    // 8689 lines of 82 * 8 pixel clocks at 228 MHz: 25 ms, 40 frames a second.
    EXPECT_NEAR(vb::modelSensorFramePeriodUs(), 25003, 50);
    // A short exposure leaves the readout of 1024 rows (+ blanking) as the limit.
    ASSERT_TRUE(board.sensorWrite(14, 100));
    EXPECT_NEAR(vb::modelSensorFramePeriodUs(), (1024 + 16) * 82 * 8 / 228.0, 2);
    // Binning by 4 reads a quarter of the rows.
    ASSERT_TRUE(board.sensorWrite(26, 0x1818));
    EXPECT_NEAR(vb::modelSensorFramePeriodUs(), (256 + 16) * 82 * 8 / 228.0, 2);
}

// A buffer handed to the application stays untouched until released; with
// all four handed out, frames are dropped and counted; releases free the
// oldest buffer first.
TEST_F(Acquisition, HeldBuffersAreNeverOverwrittenAndFramesWithoutRoomAreDropped)
{
    board.setCapture(true, fpga::kTriggerEnable);
    int order[4];
    uint32_t stamps[4];
    for (int k = 0; k < 4; ++k) {
        order[k] = board.triggerAndWait();
        ASSERT_GE(order[k], 0);
        stamps[k] = stampOf(board.buffer[order[k]]);
    }
    const vb::ModelCounters before = vb::modelCounters();
    board.setReg(fpga::kSoftTrigger, 1);
    ASSERT_TRUE(vb::modelWaitFramesDropped(before.framesDropped + 1, kWaitMs));
    EXPECT_FALSE(board.interruptPending());
    EXPECT_EQ(board.reg(fpga::kStatus48), static_cast<uint32_t>(before.framesDropped + 1));
    for (int k = 0; k < 4; ++k) EXPECT_EQ(stampOf(board.buffer[order[k]]), stamps[k]) << "held buffer " << k;

    board.setReg(fpga::kReleaseBuf, 1);
    const int reused = board.triggerAndWait();
    EXPECT_EQ(reused, order[0]) << "the oldest buffer is released first";
    EXPECT_GT(stampOf(board.buffer[reused]), stamps[3]);
    for (int k = 1; k < 4; ++k) EXPECT_EQ(stampOf(board.buffer[order[k]]), stamps[k]);
}

// Register 4 frames fill one buffer back to back; one interrupt per buffer.
TEST_F(Acquisition, MultiFrameBuffersHoldConsecutiveFramesAndRaiseOneInterrupt)
{
    constexpr uint32_t kW = 320, kH = 200, kCount = 3;
    board.setFrameGeometry(kW, kH);
    board.setReg(fpga::kMultiFrameA, kCount);
    board.setReg(fpga::kMultiFrameB, kCount);
    board.setCapture(true, fpga::kTriggerEnable);
    const uint64_t written = vb::modelCounters().framesWritten;
    for (uint32_t k = 1; k < kCount; ++k) {
        board.setReg(fpga::kSoftTrigger, 1);
        ASSERT_TRUE(vb::modelWaitFramesWritten(written + k, kWaitMs));
        EXPECT_FALSE(board.interruptPending()) << "buffer not full after frame " << k;
    }
    const int index = board.triggerAndWait();
    ASSERT_GE(index, 0);
    const uint8_t* buf = board.buffer[index];
    const uint32_t first = stampOf(buf);
    for (uint32_t k = 0; k < kCount; ++k) {
        const uint8_t* frame = buf + k * kW * kH;
        EXPECT_EQ(stampOf(frame), first + k);
        EXPECT_EQ(frame[kW * 10 + 20], vb::modelPatternValue(20, 10));
    }
}

// Clearing the read buffers frees everything the application held and drops
// a half-filled buffer; holding the write side in clear drops every frame.
TEST_F(Acquisition, ClearPulsesAndTheWriteClearLevelAreHonoured)
{
    board.setCapture(true, fpga::kTriggerEnable);
    for (int k = 0; k < 4; ++k) ASSERT_GE(board.triggerAndWait(), 0);
    board.setReg(fpga::kClearReadBuf, 1);
    ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
    board.setReg(fpga::kClearReadBuf, 0);
    EXPECT_EQ(board.triggerAndWait(), 0) << "all buffers free again, filled from buffer 0";

    board.setReg(fpga::kClearWriteBuf, 0);
    const vb::ModelCounters before = vb::modelCounters();
    board.setReg(fpga::kSoftTrigger, 1);
    ASSERT_TRUE(vb::modelWaitFramesDropped(before.framesDropped + 1, kWaitMs));
    EXPECT_EQ(vb::modelCounters().framesWritten, before.framesWritten);
    board.setReg(fpga::kClearWriteBuf, 1);
    EXPECT_GE(board.triggerAndWait(), 0);

    // A partly filled multi-frame buffer is thrown away by the clear: the
    // next buffer needs the full count again.
    board.setReg(fpga::kMultiFrameA, 2);
    const uint64_t written = vb::modelCounters().framesWritten;
    board.setReg(fpga::kSoftTrigger, 1);
    ASSERT_TRUE(vb::modelWaitFramesWritten(written + 1, kWaitMs));
    board.setReg(fpga::kClearReadBuf, 1);
    ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
    board.setReg(fpga::kSoftTrigger, 1);
    ASSERT_TRUE(vb::modelWaitFramesWritten(written + 2, kWaitMs));
    EXPECT_FALSE(board.interruptPending());
    EXPECT_GE(board.triggerAndWait(), 0);
}

// A withheld interrupt does not count as delivered, and the buffer stays with
// the application (the PL cannot know the interrupt was lost).
TEST_F(Acquisition, WithheldInterruptsAreNotCountedAsDelivered)
{
    board.setCapture(true, fpga::kTriggerEnable);
    vb::withholdInterrupts(true);
    const vb::ModelCounters before = vb::modelCounters();
    board.setReg(fpga::kSoftTrigger, 1);
    ASSERT_TRUE(vb::modelWaitFramesWritten(before.framesWritten + 1, kWaitMs));
    ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
    const vb::ModelCounters after = vb::modelCounters();
    EXPECT_EQ(after.framesDelivered, before.framesDelivered);
    EXPECT_EQ(after.interruptsWithheld, before.interruptsWithheld + 1);
    EXPECT_FALSE(board.interruptPending());
}

// A forked child has no PL thread of its own: the parent's keeps serving the
// shared registers, RAM and interrupt node, and the child exits without
// waiting for a thread it does not have.
TEST_F(Acquisition, ForkedChildIsServedByTheOnePlAndExitsCleanly)
{
    board.setCapture(true, fpga::kTriggerEnable);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const bool ok = board.sensorRead(4) == 0x0052 && board.triggerAndWait() >= 0;
        vb::modelCounters();
        std::exit(ok ? 0 : 1);
    }
    int status = -1;
    const Clock::time_point start = Clock::now();
    while (waitpid(child, &status, WNOHANG) == 0 && msSince(start) < kWaitMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (waitpid(child, &status, WNOHANG) == 0) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        FAIL() << "the child hung";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---------------------------------------------------------------- external trigger

class ExternalTrigger : public ModelTest {
protected:
    void arm(uint32_t type)
    {
        board.setCapture(true, fpga::kTriggerEnable | fpga::kTriggerExternal | (type << fpga::kTriggerTypeShift));
        ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
    }
    void line(bool level) { vb::setGpioInput(vb::kTriggerInputLine, level); }
    // Frames written after the input has certainly been seen.
    uint64_t settledFrames()
    {
        EXPECT_TRUE(vb::modelWaitTick(kWaitMs));
        return vb::modelCounters().framesWritten;
    }
};

TEST_F(ExternalTrigger, EdgeTypesSelectRisingFallingOrBothEdges)
{
    arm(0);   // rising
    uint64_t n = settledFrames();
    line(true);
    EXPECT_EQ(board.waitInterrupt(), "169");
    line(false);
    EXPECT_EQ(settledFrames(), n + 1);
    board.setReg(fpga::kReleaseBuf, 1);

    arm(1);   // falling
    n = settledFrames();
    line(true);
    EXPECT_EQ(settledFrames(), n);
    line(false);
    EXPECT_EQ(board.waitInterrupt(), "169");
    board.setReg(fpga::kReleaseBuf, 1);

    arm(2);   // both
    n = settledFrames();
    line(true);
    EXPECT_EQ(board.waitInterrupt(), "169");
    line(false);
    EXPECT_EQ(board.waitInterrupt(), "169");
    EXPECT_EQ(settledFrames(), n + 2);
}

TEST_F(ExternalTrigger, LevelTypeRunsWhileTheLineIsHigh)
{
    board.sensorWrite(14, 100);   // short exposure: a fast frame clock
    arm(3);
    line(true);
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(board.waitInterrupt(), "169") << "frame " << k;
        board.setReg(fpga::kReleaseBuf, 1);
    }
    line(false);
    const uint64_t n = settledFrames();
    // Ten frame periods without a frame once the line is low, on the board's
    // clock: the PL has accounted for everything due up to then.
    const int64_t until = vb::modelClockNs() + 10 * int64_t{1000} * vb::modelSensorFramePeriodUs();
    ASSERT_TRUE(vb::modelWaitClock(until, kWaitMs));
    EXPECT_EQ(vb::modelCounters().framesWritten, n);
}

TEST_F(ExternalTrigger, EdgesWhileCaptureIsStoppedAreIgnored)
{
    board.setCapture(false, fpga::kTriggerEnable | fpga::kTriggerExternal);
    const uint64_t n = settledFrames();
    line(true);
    line(false);
    EXPECT_EQ(settledFrames(), n);
    EXPECT_FALSE(board.interruptPending());
}

TEST_F(ExternalTrigger, DelayPassesBetweenEdgeAndFrame)
{
    constexpr int kDelayMs = 40;
    board.setReg(fpga::kTriggerDelay, kDelayMs * 1000);
    arm(0);
    const Clock::time_point edge = Clock::now();
    line(true);
    ASSERT_EQ(board.waitInterrupt(), "169");
    EXPECT_GE(msSince(edge), kDelayMs);
}

TEST_F(ExternalTrigger, FilterIgnoresPulsesShorterThanItsTime)
{
    constexpr int kFilterMs = 60;
    board.setReg(fpga::kTriggerFilter, kFilterMs * 1000);
    arm(2);   // both edges: a glitch would give two frames
    const uint64_t n = settledFrames();
    const int64_t glitch = vb::modelClockNs();
    line(true);
    line(false);
    const int64_t end = vb::modelClockNs();
    const int64_t width = (end - glitch) / 1000000;
    // Beyond the filter time on the board's clock an accepted glitch would
    // have fired.
    ASSERT_TRUE(vb::modelWaitClock(end + 2 * kFilterMs * int64_t{1000000}, kWaitMs));
    if (width >= kFilterMs) GTEST_SKIP() << "the machine took " << width << " ms to make a short pulse";
    EXPECT_EQ(settledFrames(), n) << "a " << width << " ms glitch passed the filter";

    const Clock::time_point edge = Clock::now();
    line(true);
    ASSERT_EQ(board.waitInterrupt(), "169");
    EXPECT_GE(msSince(edge), kFilterMs) << "the edge counts once the level held for the filter time";
}

}  // namespace
}  // namespace modeltest
