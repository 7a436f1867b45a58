// Register protocol of the Q210B on the virtual board: frames on the wire,
// construction, the shadow, the follow-up chain, read-back, recovery, dump
// and the plug-in's factory.
#include <errno.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "sensor_fixture.h"

namespace {

using Writes = std::vector<RegWrite>;

TEST_F(SensorTest, ConstructionWritesTheStartupTableThenReadsTheShadowBack)
{
    ProbeQ210B* s = MakeSensor();
    const std::vector<vb::SpiFrame> frames = Bus0Frames();
    ASSERT_GE(frames.size(), 9u + 19u);

    const uint8_t kStartup[9][3] = {
        {0x87, 0x0E, 0x01}, {0x88, 0x0F, 0x21}, {0x89, 0x63, 0x4B},
        {0x92, 0x00, 0x06}, {0x93, 0x04, 0x00}, {0x94, 0x00, 0x06},
        {0x95, 0x05, 0x00}, {0xBA, 0x80, 0xF0}, {0x8B, 0x01, 0x00}};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(vb::SpiKind::Write, frames[i].kind) << "step " << i;
        EXPECT_EQ(std::vector<uint8_t>(kStartup[i], kStartup[i] + 3), frames[i].sent) << "step " << i;
    }

    // One full-duplex transfer per shadowed register, at the bus's clock.
    const uint8_t kReadBack[19] = {4, 6, 7, 14, 17, 18, 19, 20, 21, 26,
                                   10, 54, 55, 73, 11, 8, 118, 9, 58};
    for (int i = 0; i < 19; ++i) {
        const vb::SpiFrame& f = frames[9 + i];
        EXPECT_EQ(vb::SpiKind::Transfer, f.kind) << "read " << i;
        EXPECT_EQ((std::vector<uint8_t>{kReadBack[i], 0xAA, 0xAA}), f.sent) << "read " << i;
        EXPECT_EQ(500000u, f.speedHz) << "read " << i;
    }

    int nType = 0;
    CISensor* pInterface = s;
    EXPECT_EQ(0, pInterface->GetType(&nType));
    EXPECT_EQ(VYXZEB_SENSOR_Q210B, nType);
    int nW = 0, nH = 0, nBits = 0;
    EXPECT_EQ(0, s->GetCaptureSize(&nW, &nH, &nBits));
    EXPECT_EQ(1280, nW);
    EXPECT_EQ(1024, nH);
    EXPECT_EQ(8, nBits);
    unsigned long x = 9, y = 9, w = 0, h = 0;
    EXPECT_EQ(0, s->GetCaptureFieldOfView(&x, &y, &w, &h));
    EXPECT_EQ(0ul, x);
    EXPECT_EQ(0ul, y);
    EXPECT_EQ(1280ul, w);
    EXPECT_EQ(1024ul, h);
}

TEST_F(SensorTest, RawCommandsPutTheDocumentedBytesOnTheWire)
{
    ProbeQ210B* s = MakeSensor();
    vb::clearSpiLog();

    EXPECT_EQ(0, s->CMD_SensorWrReg32(0x15, 0x0500));
    // Address and value are cut to 8 and 16 bits, the frame keeps 7 bits.
    EXPECT_EQ(0, s->CMD_SensorWrReg32(0x1F0, 0xABCD1234));
    unsigned long ulValue = ~0ul;
    EXPECT_EQ(0, s->CMD_SensorRdReg32(0x15, &ulValue));
    EXPECT_EQ(0x0500ul, ulValue);   // upper bits cleared, whatever was there
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, s->CMD_SensorRdReg32(0x15, nullptr));

    const std::vector<vb::SpiFrame> frames = Bus0Frames();
    ASSERT_EQ(3u, frames.size());
    EXPECT_EQ((std::vector<uint8_t>{0x95, 0x05, 0x00}), frames[0].sent);
    EXPECT_EQ((std::vector<uint8_t>{0xF0, 0x12, 0x34}), frames[1].sent);
    EXPECT_EQ((std::vector<uint8_t>{0x15, 0xAA, 0xAA}), frames[2].sent);
    EXPECT_EQ(vb::SpiKind::Transfer, frames[2].kind);
    EXPECT_EQ(0x1234, ChipReg(0x70));
}

TEST_F(SensorTest, ShadowSkipsUnchangedValuesAndRefusesUnshadowedRegisters)
{
    ProbeQ210B* s = MakeSensor();
    unsigned long ulFirstRow = 0;
    s->CMD_SensorRdReg32(18, &ulFirstRow);
    vb::clearSpiLog();

    bool bChanged = true;
    EXPECT_EQ(0, s->SensorWrReg(18, ulFirstRow, &bChanged));
    EXPECT_FALSE(bChanged);
    for (unsigned long ulAddr : {9ul, 5ul, 0ul, 0x7Ful, 0x104ul}) {
        bChanged = true;
        EXPECT_EQ(VYXZEB_RET_BAD_SENSOR_REGISTER, s->SensorWrReg(ulAddr, 0x1234, &bChanged)) << ulAddr;
        EXPECT_FALSE(bChanged);
    }
    EXPECT_TRUE(Bus0Frames().empty());

    // A value above 16 bits never matches the shadow; its low half is sent.
    const unsigned long ulReg118 = ChipReg(118);
    EXPECT_EQ(0, s->SensorWrReg(118, 0x10000ul | ulReg118, &bChanged));
    EXPECT_TRUE(bChanged);
    EXPECT_EQ((Writes{{118, static_cast<int>(ulReg118)}}), Bus0Writes());
    vb::clearSpiLog();
    EXPECT_EQ(0, s->SensorWrReg(118, ulReg118, &bChanged));
    EXPECT_FALSE(bChanged);
    EXPECT_TRUE(Bus0Frames().empty());
}

TEST_F(SensorTest, FailedWriteLeavesTheShadowAndLogsTheSystemError)
{
    LogCapture log;
    ProbeQ210B* s = MakeSensor();
    vb::Fault fault;
    fault.error = EIO;
    vb::setFault(vb::Node::Spi0, vb::Op::Write, fault);

    bool bChanged = true;
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, s->SensorWrReg(17, 0x0F0F, &bChanged));
    EXPECT_FALSE(bChanged);
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, s->SetMirror(true));
    bool bMirror = true;
    s->GetMirror(&bMirror);
    EXPECT_FALSE(bMirror);

    vb::clearFault(vb::Node::Spi0, vb::Op::Write);
    // The shadow still holds the old value, so the same write goes out now.
    vb::clearSpiLog();
    EXPECT_EQ(0, s->SensorWrReg(17, 0x0F0F, &bChanged));
    EXPECT_TRUE(bChanged);
    EXPECT_EQ((Writes{{17, 0x0F0F}}), Bus0Writes());

    const std::string text = log.Text();
    EXPECT_NE(std::string::npos,
              text.find(std::string("vyxerr_(CMD_Q210BWrite write fail(") + strerror(EIO) + "))\n"))
        << text;
}

TEST_F(SensorTest, LineLengthChangeRecomputesExposureLinesAndKeepsTheTime)
{
    ProbeQ210B* s = MakeSensor();
    float fBefore = 0.0f;
    s->GetExposureTime(&fBefore);
    const uint16_t usLineBefore = ChipReg(4);
    vb::clearSpiLog();

    // Column mode 1: the window reads 640 columns, the line shortens to 67.
    ASSERT_EQ(0, s->SetColAddressMode(VYX_ADDRESSMODE_DIV2));
    const Writes writes = Bus0Writes();
    ASSERT_EQ(3u, writes.size());
    EXPECT_EQ((RegWrite{26, 0x0808}), writes[0]);
    EXPECT_EQ(4, writes[1].addr);
    EXPECT_EQ(67, writes[1].value & 0x7FF);
    EXPECT_EQ(usLineBefore & 0xF800, writes[1].value & 0xF800);  // high bits kept
    EXPECT_EQ(14, writes[2].addr);

    unsigned long ulLines = 0;
    s->GetExposureLines(&ulLines);
    EXPECT_EQ(static_cast<unsigned long>(writes[2].value), ulLines);
    EXPECT_GT(ulLines, 8689ul);
    float fAfter = 0.0f;
    s->GetExposureTime(&fAfter);
    const float fLine = s->Calculate_Exposure_Time(1);
    EXPECT_NEAR(25.0f, fAfter, fLine / 2);
    EXPECT_NEAR(fBefore, fAfter, fLine);
    EXPECT_EQ(fAfter, s->RequestedTime());

    int nW = 0, nH = 0;
    s->GetCaptureSize(&nW, &nH, nullptr);
    EXPECT_EQ(640, nW);
    EXPECT_EQ(512, nH);

    // Back to the full window: the same chain in reverse, same exposure.
    vb::clearSpiLog();
    ASSERT_EQ(0, s->SetColAddressMode(VYX_ADDRESSMODE_NORMAL));
    s->GetExposureLines(&ulLines);
    EXPECT_EQ(8689ul, ulLines);
    EXPECT_EQ(3u, Bus0Writes().size());
}

TEST_F(SensorTest, WindowChangeRunsTheChainOnlyForRegistersThatChange)
{
    ProbeQ210B* s = MakeSensor();
    vb::clearSpiLog();
    // Same width, other rows: only the row registers change, no line sync.
    ASSERT_EQ(0, s->SetCaptureFieldOfView(0, 100, 1280, 200));
    EXPECT_EQ((Writes{{18, 106}, {19, 200}}), Bus0Writes());
    int nH = 0;
    s->GetCaptureSize(nullptr, &nH, nullptr);
    EXPECT_EQ(200, nH);

    // Narrower window: width, line length and exposure lines follow.
    vb::clearSpiLog();
    ASSERT_EQ(0, s->SetCaptureFieldOfView(64, 100, 320, 200));
    const Writes writes = Bus0Writes();
    ASSERT_EQ(4u, writes.size());
    EXPECT_EQ((RegWrite{20, 70}), writes[0]);
    EXPECT_EQ((RegWrite{21, 320}), writes[1]);
    EXPECT_EQ(4, writes[2].addr);
    EXPECT_EQ(67, writes[2].value & 0x7FF);  // 2*(0+2)+1064*0.5 = 536 beats 20+160
    EXPECT_EQ(14, writes[3].addr);
    float fTime = 0.0f;
    s->GetExposureTime(&fTime);
    EXPECT_NEAR(25.0f, fTime, s->Calculate_Exposure_Time(1) / 2);
}

TEST_F(SensorTest, RecoverRewritesTheShadowAndStopsAtTheFirstFailure)
{
    ProbeQ210B* s = MakeSensor();
    const uint8_t kOrder[18] = {4, 6, 7, 14, 17, 18, 19, 20, 21, 26, 10, 54, 55, 73, 11, 8, 118, 58};

    // The chip forgot everything; the shadow brings it back, PLL excluded.
    std::vector<uint16_t> expected;
    for (uint8_t a : kOrder)
        expected.push_back(ChipReg(a));
    for (uint8_t a : kOrder)
        SetChipReg(a, 0);
    vb::clearSpiLog();
    EXPECT_EQ(0, s->SensorRecover());
    const Writes writes = Bus0Writes();
    ASSERT_EQ(18u, writes.size());
    for (int i = 0; i < 18; ++i) {
        EXPECT_EQ((RegWrite{kOrder[i], expected[i]}), writes[i]);
        EXPECT_EQ(expected[i], ChipReg(kOrder[i]));
    }

    // The fourth write (register 14) fails: nothing after it is sent.
    vb::Fault fault;
    fault.fromCall = 4;
    vb::resetCounters();
    vb::setFault(vb::Node::Spi0, vb::Op::Write, fault);
    vb::clearSpiLog();
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, s->SensorRecover());
    EXPECT_EQ(4u, vb::callCount(vb::Node::Spi0, vb::Op::Write));
    EXPECT_EQ((Writes{{4, expected[0]}, {6, expected[1]}, {7, expected[2]}}), Bus0Writes());
}

TEST_F(SensorTest, DumpListsEveryRegisterAndLogsEachLine)
{
    ProbeQ210B* s = MakeSensor();
    LogCapture log;
    std::vector<char> buffer(2127, 'x');
    ASSERT_EQ(0, s->DumpSensorRegister(buffer.data()));
    const std::string text(buffer.data());
    EXPECT_EQ(119, std::count(text.begin(), text.end(), '\n'));
    EXPECT_EQ(0u, text.find("reg(0)_vlu("));
    EXPECT_NE(std::string::npos, text.find("\nreg(15)_vlu(500)\n"));
    EXPECT_NE(std::string::npos, text.find("\nreg(8)_vlu(f21)\n"));
    EXPECT_NE(std::string::npos, text.find("\nreg(76)_vlu("));
    EXPECT_NE(std::string::npos, log.Text().find("vyxlog_(DumpSensor reg(15)_vlu(500))\n"));

    // Every read failing: every value stays at its start value 0, and a
    // null buffer is fine.
    vb::setSpiTransferReturnsZero(0);
    ASSERT_EQ(0, s->DumpSensorRegister(buffer.data()));
    const std::string failed(buffer.data());
    EXPECT_NE(std::string::npos, failed.find("\nreg(15)_vlu(0)\n"));
    EXPECT_EQ(std::string::npos, failed.find("_vlu(500)"));
    EXPECT_EQ(0, s->DumpSensorRegister(nullptr));
    EXPECT_NE(std::string::npos, log.Text().find("vyxerr_(fail to read on spi bus)\n"));
}

TEST_F(SensorTest, FactoryStoresOnlyASensorThatCameUp)
{
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, newSensor(nullptr, m_pBus, nullptr));
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, deleteSensor(nullptr));
    CISensor* pNull = nullptr;
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, deleteSensor(&pNull));

    // Without a flag of the caller's.
    CISensor* pSensor = nullptr;
    EXPECT_EQ(0, newSensor(&pSensor, m_pBus, nullptr));
    ASSERT_NE(nullptr, pSensor);
    int nType = 0;
    EXPECT_EQ(0, pSensor->GetType(&nType));
    EXPECT_EQ(1, nType);
    unsigned long ulGain = 77;
    EXPECT_EQ(VYXZEB_RET_SENSOR_NOT_SUPPORTED, pSensor->GetRedGain(&ulGain));
    EXPECT_EQ(VYXZEB_RET_SENSOR_NOT_SUPPORTED, pSensor->SetBlueGain(3));
    EXPECT_EQ(VYXZEB_RET_SENSOR_NOT_SUPPORTED, pSensor->GetGreenGain(&ulGain));
    EXPECT_EQ(77ul, ulGain);
    EXPECT_EQ(0, deleteSensor(&pSensor));
    EXPECT_EQ(nullptr, pSensor);

    // A sensor that cannot be read back yields no object.
    CISensor* const pSentinel = reinterpret_cast<CISensor*>(0x1234);
    pSensor = pSentinel;
    bool bOk = true;
    vb::setSpiTransferReturnsZero(0);
    EXPECT_EQ(0, newSensor(&pSensor, m_pBus, &bOk));
    EXPECT_FALSE(bOk);
    EXPECT_EQ(pSentinel, pSensor);
    vb::resetFaults();

    // A bus whose node did not open: nothing is sent at all.
    vb::setNodeMissing(vb::Node::Spi0, true);
    bool bBusOk = true;
    CBusSPI0 deadBus(&bBusOk, 100, 8, 1);
    ASSERT_FALSE(bBusOk);
    vb::clearSpiLog();
    bOk = true;
    EXPECT_EQ(0, newSensor(&pSensor, &deadBus, &bOk));
    EXPECT_FALSE(bOk);
    EXPECT_EQ(pSentinel, pSensor);
    EXPECT_TRUE(Bus0Frames().empty());

    // No bus at all is refused the same way instead of crashing.
    bOk = true;
    EXPECT_EQ(0, newSensor(&pSensor, nullptr, &bOk));
    EXPECT_FALSE(bOk);
    EXPECT_EQ(pSentinel, pSensor);
}

}  // namespace
