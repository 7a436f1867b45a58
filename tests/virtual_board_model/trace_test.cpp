// The signal trace: the file is a well-formed VCD (a small reader checks
// it: signals declared once, time only forward), and for a frame started by
// an edge on the trigger input the trace shows the edge, the exposure after
// the programmed delay, the readout and the frame-done interrupt in that
// order and at the model's own times (within one microsecond, the trace's
// tick), the strobe inside the exposure while the flash is on, and the
// program's own actions: the capture node read, a software trigger, a GPIO
// output line.
#include <sys/ioctl.h>

#include <cstdio>
#include <cstdlib>

#include "Nodes.h"
#include "VcdReader.h"
#include "ModelTestSupport.h"

namespace modeltest {
namespace {

constexpr uint32_t kDelayUs = 300;
constexpr uint16_t kFlashOn = 0x0140;  // register 11: K byte choice as at power-on, flash enabled

class Trace : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        board.smallFastFrames();
    }
    void TearDown() override {
        vb::modelTraceStop();
        std::remove(path.c_str());
        ModelTest::TearDown();
    }
    std::string path = std::string(P_tmpdir) + "/vyx_trace_" + std::to_string(getpid()) + ".vcd";
};

TEST_F(Trace, ATriggeredFrameShowsEdgeExposureReadoutAndInterruptInOrderWithTheirTimes) {
    board.sensorWrite(11, kFlashOn);
    board.setReg(fpga::kTriggerDelay, kDelayUs);
    board.setCapture(true, fpga::kTriggerEnable | fpga::kTriggerExternal);
    ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
    const vb::ModelTiming timing = vb::modelSensorTiming();
    ASSERT_TRUE(vb::modelTraceStart(path));

    vb::setGpioInput(vb::kTriggerInputLine, true);
    ASSERT_EQ(board.waitInterrupt(), "169");
    vb::setGpioInput(vb::kTriggerInputLine, false);
    board.setReg(fpga::kReleaseBuf, 1);
    // A software-triggered frame and a GPIO output line as well.
    board.setCapture(true, fpga::kTriggerEnable);
    ASSERT_EQ(board.triggerAndWait() >= 0, true);
    board.setReg(fpga::kReleaseBuf, 1);
    const int gpio = open(vyxnode::kGpioPath, O_RDWR);
    ASSERT_GE(gpio, 0);
    int32_t one = 1;
    EXPECT_EQ(ioctl(gpio, vyxnode::kGpioWriteBase + 2, &one), 0);  // line 5
    close(gpio);
    ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
    vb::modelTraceStop();

    const vcdtest::Vcd vcd = vcdtest::readVcd(path);
    ASSERT_EQ(vcd.error, "");
    EXPECT_EQ(vcd.timescale, "1us");
    for (const char* name :
         {"trigger_in", "soft_trigger", "exposure", "readout", "strobe", "frame_written", "write_buffer",
          "frame_done_irq", "frame_dropped", "buffers_full", "capture_read", "gpio_out3", "gpio_out9"})
        EXPECT_EQ(vcd.signals.count(name), 1u) << name;

    const int64_t edge = vcd.first("trigger_in", 1, 0);
    ASSERT_GE(edge, 0);
    const int64_t exposure = vcd.first("exposure", 1, edge), exposed = vcd.first("exposure", 0, exposure);
    const int64_t readout = vcd.first("readout", 1, exposed), done = vcd.first("readout", 0, readout);
    const int64_t irq = vcd.first("frame_done_irq", 1, edge);
    ASSERT_TRUE(exposure >= 0 && exposed >= 0 && readout >= 0 && done >= 0 && irq >= 0);
    // One tick of the trace: each time is rounded down to its microsecond.
    EXPECT_NEAR(exposure - edge, kDelayUs, 1);
    EXPECT_NEAR(exposed - exposure, timing.exposureNs / 1000.0, 1);
    EXPECT_NEAR(readout, exposed, 1);
    EXPECT_NEAR(done - readout, timing.readoutNs / 1000.0, 1);
    EXPECT_EQ(irq, done);
    EXPECT_EQ(vcd.first("frame_written", 1, edge), done);
    // The flash fires inside the exposure.
    const int64_t strobe = vcd.first("strobe", 1, edge), strobed = vcd.first("strobe", 0, strobe);
    EXPECT_GE(strobe, exposure);
    EXPECT_LE(strobed, exposed);
    EXPECT_GE(vcd.first("capture_read", 1, irq), irq);

    // The software-triggered frame, and the program's GPIO write.
    const int64_t soft = vcd.first("soft_trigger", 1, done);
    ASSERT_GE(soft, 0);
    EXPECT_GE(vcd.first("frame_done_irq", 1, soft), soft);
    EXPECT_GE(vcd.first("gpio_out5", 1, soft), soft);
    EXPECT_GE(vcd.endTime, vcd.first("gpio_out5", 1, soft));
}

TEST_F(Trace, WithoutFlashTheStrobeStaysLowAndATraceThatCannotBeWrittenIsRefused) {
    board.setCapture(true, fpga::kTriggerEnable);
    ASSERT_TRUE(vb::modelTraceStart(path));
    ASSERT_GE(board.triggerAndWait(), 0);
    board.setReg(fpga::kReleaseBuf, 1);
    ASSERT_TRUE(vb::modelWaitTick(kWaitMs));
    vb::modelTraceStop();
    const vcdtest::Vcd vcd = vcdtest::readVcd(path);
    ASSERT_EQ(vcd.error, "");
    EXPECT_FALSE(vcd.when("exposure").empty());
    EXPECT_TRUE(vcd.when("strobe").empty());
    EXPECT_FALSE(vb::modelTraceStart("/nonexistent/folder/trace.vcd"));
}

}  // namespace
}  // namespace modeltest
