// Acquisition control: trigger-mode encoding, settings, frame-buffer status,
// the mode change sequence and the frame-size synchronisation.
#include "PLTestSupport.h"

using namespace pltest;
using namespace vyxpl;

namespace {

class PLAcquisition : public PLTest {};

TEST_F(PLAcquisition, TriggerModesEncodeIntoRegister112KeepingOtherBits)
{
    auto pl = MakePL();
    // Bits outside the mode field belong to the PL and must survive.
    ASSERT_EQ(pl->WrReg_FPGA(fpga::kTrigger, 0xA50u | 0x1u), 0);

    struct Case { VYXZEB_TRIGGER_MODE mode; uint32_t bits; };
    // From software mode (type bits 0): bit 0, bits 2..1, bit 3.
    const Case cases[] = {
        {VYXZEB_TRIGGER_EXTERNAL_TYPE2, 0xDu}, {VYXZEB_TRIGGER_EXTERNAL_TYPE3, 0xFu},
        {VYXZEB_TRIGGER_EXTERNAL_TYPE0, 0x9u}, {VYXZEB_TRIGGER_EXTERNAL_TYPE1, 0xBu},
        {VYXZEB_TRIGGER_SOFTWARE, 0x3u},       {VYXZEB_TRIGGER_CONTINUOUS, 0x2u},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(pl->SetTriggerMode(c.mode), 0) << c.mode;
        EXPECT_EQ(Fpga(fpga::kTrigger), 0xA50u | c.bits) << c.mode;
        VYXZEB_TRIGGER_MODE got = VYXZEB_TRIGGER_SOFTWARE;
        EXPECT_EQ(pl->GetTriggerMode(&got), 0);
        EXPECT_EQ(got, c.mode);
    }

    // Type 3, then continuous: the type bits stay, bits 3 and 0 clear.
    ASSERT_EQ(pl->SetTriggerMode(VYXZEB_TRIGGER_EXTERNAL_TYPE3), 0);
    ASSERT_EQ(pl->SetTriggerMode(VYXZEB_TRIGGER_CONTINUOUS), 0);
    EXPECT_EQ(Fpga(fpga::kTrigger) & 0xFu, 0x6u);

    // Out of range: refused, nothing written.
    const uint32_t unBefore = Fpga(fpga::kTrigger);
    EXPECT_EQ(pl->SetTriggerMode(static_cast<VYXZEB_TRIGGER_MODE>(6)), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(pl->SetTriggerMode(static_cast<VYXZEB_TRIGGER_MODE>(-1)), VYXZEB_RET_BAD_PARAMETER);
    EXPECT_EQ(Fpga(fpga::kTrigger), unBefore);
    EXPECT_EQ(pl->GetTriggerMode(nullptr), VYXZEB_RET_BAD_PARAMETER);

    // The mode the hardware already holds: no bus write.
    vb::setFpgaReg(fpga::kTrigger, 0x12345678u);
    EXPECT_EQ(pl->SetTriggerMode(VYXZEB_TRIGGER_CONTINUOUS), 0);
    EXPECT_EQ(Fpga(fpga::kTrigger), 0x12345678u);
    vb::setFpgaReg(fpga::kTrigger, unBefore);
}

TEST_F(PLAcquisition, SettingsReachTheirRegisters)
{
    auto pl = MakePL();
    EXPECT_EQ(pl->SetTriggerDelay(70000), 0); // above the reported range: still written
    EXPECT_EQ(Fpga(fpga::kTriggerDelay), 70000u);
    unsigned long ulMin = 9, ulMax = 9;
    EXPECT_EQ(pl->GetTriggerDelayRange(&ulMin, &ulMax), 0);
    EXPECT_EQ(ulMin, 0u);
    EXPECT_EQ(ulMax, 65535u);

    EXPECT_EQ(pl->SetTriggerFilter(300), 0);
    unsigned short usFilter = 0;
    EXPECT_EQ(pl->GetTriggerFilter(&usFilter), 0);
    EXPECT_EQ(usFilter, 300u);
    EXPECT_EQ(Fpga(fpga::kTriggerFilter), 300u);

    EXPECT_EQ(pl->SetMultiFrame(3), 0);
    EXPECT_EQ(Fpga(fpga::kMultiFrameA), 3u);
    EXPECT_EQ(Fpga(fpga::kMultiFrameB), 3u);
    EXPECT_EQ(pl->SetFrameBuf(2), 0);
    EXPECT_EQ(Fpga(fpga::kFrameBufNumber), 2u);
    EXPECT_EQ(pl->SetFixFrameRate(40000), 0);
    EXPECT_EQ(Fpga(fpga::kFramePeriod), 40000u);

    unsigned long ul = 0;
    pl->GetMultiFrame(&ul);
    EXPECT_EQ(ul, 3u);
    pl->GetFrameBuf(&ul);
    EXPECT_EQ(ul, 2u);
    pl->GetFixFrameRate(&ul);
    EXPECT_EQ(ul, 40000u);
    pl->GetTriggerDelay(&ul);
    EXPECT_EQ(ul, 70000u);
    // Getters accept null.
    EXPECT_EQ(pl->GetMultiFrame(nullptr), 0);
    EXPECT_EQ(pl->GetCaptureStart(nullptr), 0);
    EXPECT_EQ(pl->GetTriggerDelayRange(nullptr, nullptr), 0);

    EXPECT_EQ(pl->ClearWriteFrameBuf(0), 0);
    EXPECT_EQ(Fpga(fpga::kClearWriteBuf), 0u);
    EXPECT_EQ(pl->SetQtShow(false), 0);
    EXPECT_EQ(Fpga(fpga::kControl) & fpga::kControlQtShow, 0u);
    EXPECT_EQ(pl->SetQtShow(true), 0);
    EXPECT_EQ(Fpga(fpga::kControl) & fpga::kControlQtShow, fpga::kControlQtShow);
    EXPECT_EQ(pl->SetMultiFrame(1), 0);
}

TEST_F(PLAcquisition, FrameBufferIndexComesFromTheTopBitsOf52)
{
    auto pl = MakePL();
    vb::setFpgaReg(fpga::kFrameBufStatus, 0x80000000u);
    EXPECT_EQ(pl->GetFrmBufId(), 2);
    vb::setFpgaReg(fpga::kFrameBufStatus, 0xFFFFFFFFu);
    EXPECT_EQ(pl->GetFrmBufId(), 3);
    vb::setFpgaReg(fpga::kFrameBufStatus, 0x3FFFFFFFu);
    EXPECT_EQ(pl->GetFrmBufId(), 0);
    pl->Uninit_FPGA();
    EXPECT_EQ(pl->GetFrmBufId(), 0); // unreadable counts as buffer 0
}

// The sequence a camera set runs to change the trigger mode.
TEST_F(PLAcquisition, ModeChangeSequence)
{
    auto pl = MakePL();
    ASSERT_EQ(pl->SetCaptureStart(true), 0);
    EXPECT_EQ(Fpga(fpga::kControl), 0x101u);

    ASSERT_EQ(pl->SetCaptureStart(false), 0);
    // Another camera set restarted capture meanwhile: emptying stops it from
    // what the hardware holds, not from this set's working copy.
    {
        auto other = MakePL();
        ASSERT_EQ(other->SetCaptureStart(true), 0);
    }
    EXPECT_EQ(Fpga(fpga::kControl), 0x101u);
    ASSERT_EQ(pl->EmptyFrameBuffer(), 0);
    EXPECT_EQ(Fpga(fpga::kControl), 0x100u);
    bool bStart = true;
    pl->GetCaptureStart(&bStart);
    EXPECT_FALSE(bStart);

    ASSERT_EQ(pl->SetTriggerMode(VYXZEB_TRIGGER_EXTERNAL_TYPE1), 0);
    ASSERT_EQ(pl->SetCaptureStart(true), 0);
    EXPECT_EQ(Fpga(fpga::kControl), 0x101u);
    EXPECT_EQ(Fpga(fpga::kTrigger) & 0xFu, 0xBu);
    pl->GetCaptureStart(&bStart);
    EXPECT_TRUE(bStart);

    // Leave the board quiet for the next test.
    ASSERT_EQ(pl->SetCaptureStart(false), 0);
    ASSERT_EQ(pl->SetTriggerMode(VYXZEB_TRIGGER_SOFTWARE), 0);

    // Without the FPGA block the working copy still takes the bit.
    pl->Uninit_FPGA();
    EXPECT_EQ(pl->SetCaptureStart(true), VYXZEB_RET_REGISTER_ACCESS_FAILED);
    pl->GetCaptureStart(&bStart);
    EXPECT_TRUE(bStart);
    EXPECT_EQ(pl->EmptyFrameBuffer(), VYXZEB_RET_REGISTER_ACCESS_FAILED);
}

TEST_F(PLAcquisition, FrameSizeFollowsTheSensor)
{
    SizeSensor sensor(1280, 1024, 8);
    auto pl = MakePL(&sensor);
    const uint32_t unWorking8 = pl->m_BatRegPL.unFPGA[CPL::BatIndex(fpga::kFramePixelsA)];

    ASSERT_EQ(pl->SyncSensorSize_WhenSensorFovChanged(), 0);
    EXPECT_EQ(Fpga(fpga::kFramePixelsA), 0x140000u);
    EXPECT_EQ(Fpga(fpga::kFramePixelsB), 0x140000u);
    EXPECT_EQ(Fpga(fpga::kGeometryA), 0x00010000u);
    EXPECT_EQ(Fpga(fpga::kGeometryB), 0x040100A0u);
    // Direct writes: neither copy follows.
    EXPECT_EQ(pl->m_BatRegPL.unFPGA[CPL::BatIndex(fpga::kFramePixelsA)], unWorking8);

    sensor.m_nW = 426; // width / 8 without rounding
    sensor.m_nH = 341;
    ASSERT_EQ(pl->SyncSensorSize_WhenSensorFovChanged(), 0);
    EXPECT_EQ(Fpga(fpga::kFramePixelsA), 426u * 341u);
    EXPECT_EQ(Fpga(fpga::kGeometryB), (342u << 16) | 53u);

    auto plNoSensor = MakePL();
    EXPECT_EQ(plNoSensor->SyncSensorSize_WhenSensorFovChanged(), VYXZEB_RET_SENSOR_FAILED);

    sensor.m_nW = 1280;
    sensor.m_nH = 1024;
    ASSERT_EQ(pl->SyncSensorSize_WhenSensorFovChanged(), 0);
}

} // namespace
