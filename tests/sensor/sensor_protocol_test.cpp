// Register protocol of the Q210B: frames on the wire, construction, the
// shadow, the follow-up chain, recovery, dump and the factory.
#include <errno.h>
#include <string.h>

#include <algorithm>

#include "sensor_fixture.h"

namespace {

TEST_F(SensorTest, ConstructionFramesAndRawCommandBytes)
{
    bool bOk = false;
    s = new ProbeQ210B(m_pBus, &bOk);
    ASSERT_TRUE(bOk);
    Frames expected = {{7, 0x0E01}, {8, 0x0F21}, {9, 0x634B}, {18, 6}, {19, 1024},
                       {20, 6}, {21, 1280}, {58, 0x80F0}, {11, 0x0100}};
    for (int a : {4, 6, 7, 14, 17, 18, 19, 20, 21, 26, 10, 54, 55, 73, 11, 8, 118, 9, 58})
        expected.emplace_back(a | 0x100, 0);
    EXPECT_EQ(expected, Bus0());   // the chip already holds 25 ms: nothing more

    vb::clearSpiLog();
    unsigned long ulValue = ~0ul;
    EXPECT_EQ(0, s->CMD_SensorWrReg32(0x15, 0x0500));
    EXPECT_EQ(0, s->CMD_SensorRdReg32(0x15, &ulValue));
    EXPECT_EQ(0x0500ul, ulValue);   // upper bits cleared
    EXPECT_EQ(0, s->CMD_SensorWrReg32(0x1F0, 0xABCD1234));
    const std::vector<vb::SpiFrame> raw = vb::spiLog();
    ASSERT_EQ(3u, raw.size());
    EXPECT_EQ((std::vector<uint8_t>{0x95, 0x05, 0x00}), raw[0].sent);
    EXPECT_EQ((std::vector<uint8_t>{0x15, 0xAA, 0xAA}), raw[1].sent);
    EXPECT_EQ(500000u, raw[1].speedHz);
    EXPECT_EQ((std::vector<uint8_t>{0xF0, 0x12, 0x34}), raw[2].sent);
}

TEST_F(SensorTest, ShadowSkipsUnchangedValuesAndRefusesOtherRegisters)
{
    Make();
    bool bChanged = true;
    EXPECT_EQ(0, s->SensorWrReg(18, 6, &bChanged));
    EXPECT_FALSE(bChanged);
    for (unsigned long ulAddr : {9ul, 5ul, 0x104ul})
        EXPECT_EQ(VYXZEB_RET_BAD_SENSOR_REGISTER, s->SensorWrReg(ulAddr, 0x1234, nullptr));
    EXPECT_TRUE(vb::spiLog().empty());
    EXPECT_EQ(0, s->SensorWrReg(18, 0x10006, &bChanged));   // never equal: low half sent
    EXPECT_TRUE(bChanged);
    EXPECT_EQ((Frames{{18, 6}}), Bus0());

    // A failed write leaves the shadow, so the same value goes out later.
    LogCapture log;
    vb::Fault fault;
    fault.error = EIO;
    {
        const vyxtest::ScopedFault writeFails(vb::Node::Spi0, vb::Op::Write, fault);
        EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, s->SensorWrReg(17, 0x0F0F, &bChanged));
        EXPECT_FALSE(bChanged);
    }
    EXPECT_EQ(0, s->SensorWrReg(17, 0x0F0F, &bChanged));
    EXPECT_TRUE(bChanged);
    EXPECT_NE(std::string::npos,
              log.Text().find(std::string("vyxerr_(CMD_Q210BWrite write fail(") + strerror(EIO) + "))\n"));
}

TEST_F(SensorTest, ShorterLineRecomputesExposureLinesAndKeepsTheTime)
{
    Make();
    // Column mode 1 reads 640 columns: the line shortens from 82 to 67.
    ASSERT_EQ(0, s->SetColAddressMode(VYX_ADDRESSMODE_DIV2));
    const Frames frames = Bus0();
    ASSERT_EQ(3u, frames.size());
    EXPECT_EQ((Frames{{26, 0x0808}, {4, 67}}), Frames(frames.begin(), frames.begin() + 2));
    EXPECT_EQ(14, frames[2].first);
    float fTime = 0;
    s->GetExposureTime(&fTime);
    EXPECT_NEAR(25.0f, fTime, s->Calculate_Exposure_Time(1) / 2);
    EXPECT_EQ(fTime, s->Requested());

    // A narrower window at the same line length: only the window changes.
    vb::clearSpiLog();
    ASSERT_EQ(0, s->SetCaptureFieldOfView(64, 0, 320, 1024));
    EXPECT_EQ((Frames{{20, 70}, {21, 320}}), Bus0());
    EXPECT_EQ(160, s->Width());
    ASSERT_EQ(0, s->SetCaptureFieldOfView(0, 0, 1280, 1024));
    ASSERT_EQ(0, s->SetColAddressMode(VYX_ADDRESSMODE_NORMAL));
    EXPECT_EQ(82, ChipReg(4));
    EXPECT_EQ(8689, ChipReg(14));
}

TEST_F(SensorTest, RecoverRewritesTheShadowAndStopsAtTheFirstFailure)
{
    Make();
    Frames expected;
    for (int a : {4, 6, 7, 14, 17, 18, 19, 20, 21, 26, 10, 54, 55, 73, 11, 8, 118, 58})
        expected.emplace_back(a, ChipReg(a));
    EXPECT_EQ(0, s->SensorRecover());
    EXPECT_EQ(expected, Bus0());

    vb::Fault fault;
    fault.fromCall = 4;   // register 14
    const vyxtest::ScopedFault fourthWrite(vb::Node::Spi0, vb::Op::Write, fault);
    vb::resetCounters();
    vb::clearSpiLog();
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, s->SensorRecover());
    EXPECT_EQ(4u, vb::callCount(vb::Node::Spi0, vb::Op::Write));
    EXPECT_EQ(Frames(expected.begin(), expected.begin() + 3), Bus0());
}

TEST_F(SensorTest, DumpListsAndLogsEveryRegister)
{
    Make();
    LogCapture log;
    std::vector<char> buffer(2127, 'x');
    ASSERT_EQ(0, s->DumpSensorRegister(buffer.data()));
    std::string text(buffer.data());
    EXPECT_EQ(119, std::count(text.begin(), text.end(), '\n'));
    EXPECT_EQ(0u, text.find("reg(0)_vlu("));
    EXPECT_NE(std::string::npos, text.find("\nreg(15)_vlu(500)\nreg(16)_vlu("));
    EXPECT_NE(std::string::npos, text.find("\nreg(76)_vlu(0)\n"));
    EXPECT_NE(std::string::npos, log.Text().find("vyxlog_(DumpSensor reg(15)_vlu(500))\n"));

    vb::setSpiTransferReturnsZero(0);   // no read gets through: every value 0
    ASSERT_EQ(0, s->DumpSensorRegister(buffer.data()));
    text = buffer.data();
    EXPECT_NE(std::string::npos, text.find("\nreg(15)_vlu(0)\n"));
    EXPECT_EQ(std::string::npos, text.find("500"));
    EXPECT_NE(std::string::npos, log.Text().find("vyxerr_(fail to read on spi bus)\n"));
}

TEST_F(SensorTest, FactoryStoresOnlyASensorThatCameUp)
{
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, newSensor(nullptr, m_pBus, nullptr));
    CISensor* pSensor = nullptr;
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, deleteSensor(&pSensor));
    EXPECT_EQ(0, newSensor(&pSensor, m_pBus, nullptr));
    ASSERT_NE(nullptr, pSensor);
    int nType = 0;
    EXPECT_EQ(0, pSensor->GetType(&nType));
    EXPECT_EQ(1, nType);
    unsigned long ulGain = 77;
    EXPECT_EQ(VYXZEB_RET_SENSOR_NOT_SUPPORTED, pSensor->GetRedGain(&ulGain));
    EXPECT_EQ(77ul, ulGain);
    EXPECT_EQ(0, deleteSensor(&pSensor));
    EXPECT_EQ(nullptr, pSensor);

    // Not readable, no device, no bus: flag false, pointer untouched.
    CISensor* const pSentinel = reinterpret_cast<CISensor*>(0x1234);
    vb::setSpiTransferReturnsZero(0);
    vb::setNodeMissing(vb::Node::Spi0, true);
    bool bBusOk = true;
    CBusSPI0 deadBus(&bBusOk, 100, 8, 1);
    for (CIBus* pBus : {static_cast<CIBus*>(m_pBus), static_cast<CIBus*>(&deadBus), static_cast<CIBus*>(nullptr)}) {
        pSensor = pSentinel;
        bool bOk = true;
        EXPECT_EQ(0, newSensor(&pSensor, pBus, &bOk));
        EXPECT_FALSE(bOk);
        EXPECT_EQ(pSentinel, pSensor);
    }
}

}  // namespace
