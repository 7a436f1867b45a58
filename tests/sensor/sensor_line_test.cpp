// The shortest line of the Q210B as its terms H and K set it, register
// reads that fail on the bus, and address codes the driver did not write.
#include "BoardTest.h"
#include "sensor_fixture.h"

namespace {

constexpr int kRegTermH = 6;
constexpr int kRegLineOptions = 11;
constexpr int kRegTermK = 73;
constexpr int kRegLength = 4;
constexpr int kRegAddress = 26;
constexpr int kLengthMask = 0x7FF;
constexpr int kTermKChoice = 0x30;

// Register 11 bits 4..5 choose term K: both 0 take the high byte of
// register 73, anything else the low byte.  With H = 255 the first bound,
// 2 (K + 2) + (H + 1064) q (q = 0.5 at start-up), is the longer one:
// K = 200 gives 1063.5 pixel clocks, 132 units of 8; K = 40 gives 743.5,
// 92 units.  The second bound, 40 q + (fPix / fC) R = 660, is 82 units.
TEST_F(SensorTest, TermKIsTheByteRegisterElevenChooses) {
    Make();
    ASSERT_EQ(0, ChipReg(kRegLineOptions) & kTermKChoice);
    ASSERT_EQ(82, ChipReg(kRegLength) & kLengthMask);
    const int options = ChipReg(kRegLineOptions);

    // H alone moves nothing: it is taken in at the next line-length update.
    ASSERT_EQ(0, s->SensorWrReg(kRegTermH, 0xFF00, nullptr));
    EXPECT_EQ(82, ChipReg(kRegLength) & kLengthMask);

    ASSERT_EQ(0, s->SensorWrReg(kRegTermK, 200 << 8 | 40, nullptr));
    EXPECT_EQ(132, ChipReg(kRegLength) & kLengthMask) << "high byte";
    for (int choice : {0x10, 0x20, 0x30}) {
        ASSERT_EQ(0, s->SensorWrReg(kRegLineOptions, options | choice, nullptr));
        EXPECT_EQ(92, ChipReg(kRegLength) & kLengthMask) << "low byte, choice " << choice;
    }
    // The byte not chosen does not count.
    ASSERT_EQ(0, s->SensorWrReg(kRegTermK, 100 << 8 | 40, nullptr));
    EXPECT_EQ(92, ChipReg(kRegLength) & kLengthMask);
    ASSERT_EQ(0, s->SensorWrReg(kRegLineOptions, options, nullptr));
    EXPECT_EQ(0, ChipReg(kRegLineOptions) & kTermKChoice);
    // 2 * 102 + 659.5 = 863.5: 107 units.
    EXPECT_EQ(107, ChipReg(kRegLength) & kLengthMask) << "high byte again";
    // Back to K = 0 and H = 0: the start-up line.
    ASSERT_EQ(0, s->SensorWrReg(kRegTermH, 0, nullptr));
    ASSERT_EQ(0, s->SensorWrReg(kRegTermK, 0, nullptr));
    EXPECT_EQ(82, ChipReg(kRegLength) & kLengthMask);
}

// A read the bus fails reports the failure and a 0, never what an earlier
// read or the caller left in the output.
TEST_F(SensorTest, AFailedRegisterReadGivesZeroAndTheFailure) {
    Make();
    unsigned long value = 0xDEAD;
    ASSERT_EQ(0, s->CMD_SensorRdReg32(kRegLength, &value));
    EXPECT_EQ(static_cast<unsigned long>(ChipReg(kRegLength)), value);
    {
        vyxtest::ScopedFault fault(vb::Node::Spi0, vb::Op::Ioctl, vb::Fault{});
        value = 0xDEAD;
        EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, s->CMD_SensorRdReg32(kRegLength, &value));
        EXPECT_EQ(0ul, value);
    }
    // A transfer that clocks nothing in is a failure too.
    vb::setSpiTransferReturnsZero(0);
    value = 0xDEAD;
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, s->CMD_SensorRdReg32(kRegLength, &value));
    EXPECT_EQ(0ul, value);
    vb::setSpiTransferReturnsZero(0, 0);
    EXPECT_EQ(0, s->CMD_SensorRdReg32(kRegLength, &value));
    EXPECT_EQ(static_cast<unsigned long>(ChipReg(kRegLength)), value);
}

// A code in register 26 that is none of the five modes (written raw, or
// left by another program) reads back as the normal mode on either side;
// the next mode set through the driver writes a proper code again.
TEST_F(SensorTest, AnUnknownAddressCodeReadsAsNormal) {
    Make();
    ASSERT_EQ(0, s->SensorWrReg(kRegAddress, 0x0404, nullptr));
    int row = -1, col = -1;
    EXPECT_EQ(0, s->GetRowAddressMode(&row));
    EXPECT_EQ(0, s->GetColAddressMode(&col));
    EXPECT_EQ(VYX_ADDRESSMODE_NORMAL, row);
    EXPECT_EQ(VYX_ADDRESSMODE_NORMAL, col);
    ASSERT_EQ(0, s->SetColAddressMode(VYX_ADDRESSMODE_DIV2));
    EXPECT_EQ(0x0808, ChipReg(kRegAddress));
    ASSERT_EQ(0, s->SetRowAddressMode(VYX_ADDRESSMODE_NORMAL));
    EXPECT_EQ(0x0800, ChipReg(kRegAddress));
    ASSERT_EQ(0, s->SetColAddressMode(VYX_ADDRESSMODE_NORMAL));
    EXPECT_EQ(0, ChipReg(kRegAddress));
}

}  // namespace
