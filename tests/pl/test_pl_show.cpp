// Display geometry, the scaler programming and the HDMI show pipeline,
// observed in the registers the board sees.
#include "PLTestSupport.h"

using namespace pltest;
using namespace vyxpl;

namespace {

unsigned char* PhysPtr(uint32_t unPhys)
{
    return reinterpret_cast<unsigned char*>(static_cast<uintptr_t>(unPhys));
}

constexpr uint32_t kUserImage = 0x32800000u; // first block of the pool

class PLShow : public PLTest {};

TEST_F(PLShow, WidgetIsClampedToTheScreenAndAligned)
{
    auto pl = MakePL();
    struct Case { unsigned x, y, w, h, ex, ey, ew, eh; };
    const Case cases[] = {
        {1000, 600, 640, 480, 640, 240, 640, 480},
        {0, 0, 2000, 2000, 0, 0, 1280, 720},
        {3, 5, 1279, 719, 0, 0, 1276, 716},
        // A huge origin must not wrap the right-edge test around.
        {0xFFFFFFFFu, 0xFFFFFFF0u, 1280, 16, 0, 704, 1280, 16},
        {0xFFFFFF00u, 10, 100, 10, 1180, 8, 100, 8},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pl->SetVideoWidgetPos(c.x, c.y, c.w, c.h), 0);
        unsigned x = 1, y = 2, w = 3, h = 4;
        EXPECT_EQ(pl->GetVideoWidgetPos(&x, &y, &w, &h), 0);
        EXPECT_EQ(x, c.ex) << c.x;
        EXPECT_EQ(y, c.ey) << c.y;
        EXPECT_EQ(w, c.ew) << c.w;
        EXPECT_EQ(h, c.eh) << c.h;
    }
    EXPECT_EQ(pl->GetVideoWidgetPos(nullptr, nullptr, nullptr, nullptr), 0);

    EXPECT_EQ(pl->SetPosition(-3, 5, 641, 482), 0);
    int px = 0, py = 0;
    unsigned pw = 0, ph = 0;
    EXPECT_EQ(pl->GetPosition(&px, &py, &pw, &ph), 0);
    EXPECT_EQ(px, -4);
    EXPECT_EQ(py, 4);
    EXPECT_EQ(pw, 640u);
    EXPECT_EQ(ph, 480u);
}

TEST_F(PLShow, ScalerWorkedValues)
{
    auto pl = MakePL();
    ASSERT_EQ(pl->SynchronizeScaler(1280, 1024, 8), 0);
    EXPECT_EQ(Scaler(scaler::kHShiftFactor), 0x100000u);
    EXPECT_EQ(Scaler(scaler::kVShiftFactor), 0x16C16Cu);
    EXPECT_EQ(Scaler(scaler::kSourceSize), 0x04000500u);
    EXPECT_EQ(Scaler(scaler::kHAperture), 0x04FF0000u);
    EXPECT_EQ(Scaler(scaler::kVAperture), 0x04000000u);
    EXPECT_EQ(Scaler(scaler::kOutputSize), 0x02D00500u);
    EXPECT_EQ(Scaler(scaler::kControl), 3u);

    // Placement width 0: no horizontal scaling, last column -1 in 13 bits.
    pl->SetPosition(0, 0, 0, 720);
    pl->SynchronizeScaler(1280, 1024, 8);
    EXPECT_EQ(Scaler(scaler::kHShiftFactor), 0u);
    EXPECT_EQ(Scaler(scaler::kHAperture), 0x1FFF0000u);
    EXPECT_EQ(Scaler(scaler::kOutputSize) & 0x1FFFu, 0u);

    // Sticking out left: the first 100 source columns are cut.
    pl->SetPosition(-100, 0, 1280, 720);
    pl->SynchronizeScaler(1280, 1024, 8);
    EXPECT_EQ(Scaler(scaler::kHAperture), (1279u << 16) | 100u);
    EXPECT_EQ(Scaler(scaler::kOutputSize), (720u << 16) | 1180u);

    // Entirely above the widget: height 0, first line = end line.
    pl->SetPosition(0, -720, 1280, 720);
    pl->SynchronizeScaler(1280, 1024, 8);
    const uint32_t unV = Scaler(scaler::kVAperture);
    EXPECT_EQ(unV & 0x1FFFu, unV >> 16);
    EXPECT_EQ(Scaler(scaler::kOutputSize) >> 16, 0u);

    // Half size in a smaller widget: factor 2.0 both ways.
    pl->SetVideoWidgetPos(320, 180, 640, 360);
    pl->SetPosition(0, 0, 640, 512);
    pl->SynchronizeScaler(1280, 1024, 8);
    EXPECT_EQ(Scaler(scaler::kHShiftFactor), 0x200000u);
    EXPECT_EQ(Scaler(scaler::kVShiftFactor), 0x200000u);
    EXPECT_EQ(Scaler(scaler::kHAperture), 1279u << 16);
    EXPECT_EQ(Scaler(scaler::kVAperture), 718u << 16); // bottom clamps to line 359
    EXPECT_EQ(Scaler(scaler::kOutputSize), (359u << 16) | 640u);
}

TEST_F(PLShow, FullScreenGreyUserImageProgramsThePipeline)
{
    auto pl = MakePL();
    ASSERT_EQ(pl->ShowUserLoadData(PhysPtr(kUserImage), 1280, 720, 8), 0);

    EXPECT_EQ(Fpga(fpga::kShowSource), 0u);
    EXPECT_EQ(G8(vdma::kMm2sStartAddr), kUserImage);
    EXPECT_EQ(G8(vdma::kMm2sHSize), 1280u);
    EXPECT_EQ(G8(vdma::kMm2sStride), 1280u);
    EXPECT_EQ(G8(vdma::kMm2sVSize), 720u);
    EXPECT_EQ(G8(vdma::kMm2sControl), 11u);

    EXPECT_EQ(Hdmi(vdma::kS2mmStartAddr), phys::kShowStore0);
    EXPECT_EQ(Hdmi(vdma::kS2mmHSize), 3840u);
    EXPECT_EQ(Hdmi(vdma::kS2mmStride), 3840u);
    EXPECT_EQ(Hdmi(vdma::kS2mmVSize), 720u);
    EXPECT_EQ(Hdmi(vdma::kS2mmControl), 1u);
    EXPECT_EQ(Hdmi(vdma::kMm2sStartAddr), phys::kShowStore0);
    EXPECT_EQ(Hdmi(vdma::kMm2sHSize), 3840u);
    EXPECT_EQ(Hdmi(vdma::kMm2sStride), 3840u);
    EXPECT_EQ(Hdmi(vdma::kMm2sVSize), 720u);
    EXPECT_EQ(Hdmi(vdma::kMm2sControl), 1u);

    EXPECT_EQ(Fpga(fpga::kShowWinStart), 0u);
    EXPECT_EQ(Fpga(fpga::kShowWinEnd), 0x02CF0500u);
    EXPECT_EQ(Scaler(scaler::kSourceSize), (720u << 16) | 1280u);
    EXPECT_EQ(Scaler(scaler::kHShiftFactor), 0x100000u);
    EXPECT_EQ(Scaler(scaler::kVShiftFactor), 0x100000u);
}

TEST_F(PLShow, RepeatedShowsAlternateStoresAndLeaveTheScalerAlone)
{
    auto pl = MakePL();
    ASSERT_EQ(pl->ShowUserLoadData(PhysPtr(kUserImage), 1280, 720, 8), 0);
    EXPECT_EQ(Hdmi(vdma::kS2mmStartAddr), phys::kShowStore0);

    // Planted values reveal any rewrite of the scaler or the screen window.
    vb::writeReg(vb::Block::Scaler, scaler::kOutputSize, 0xAAAAu);
    vb::writeReg(vb::Block::Scaler, scaler::kControl, 0x55u);
    vb::setFpgaReg(fpga::kShowWinStart, 0xBBBBu);
    vb::setFpgaReg(fpga::kShowWinEnd, 0xCCCCu);

    ASSERT_EQ(pl->ShowUserLoadData(PhysPtr(kUserImage), 1280, 720, 8), 0);
    EXPECT_EQ(Hdmi(vdma::kS2mmStartAddr), phys::kShowStore1);
    EXPECT_EQ(Hdmi(vdma::kMm2sStartAddr), phys::kShowStore1);
    ASSERT_EQ(pl->ShowUserLoadData(PhysPtr(kUserImage + 0x100000u), 1280, 720, 8), 0);
    EXPECT_EQ(Hdmi(vdma::kS2mmStartAddr), phys::kShowStore0);
    EXPECT_EQ(G8(vdma::kMm2sStartAddr), kUserImage + 0x100000u);

    EXPECT_EQ(Scaler(scaler::kOutputSize), 0xAAAAu);
    EXPECT_EQ(Scaler(scaler::kControl), 0x55u);
    EXPECT_EQ(Fpga(fpga::kShowWinStart), 0xBBBBu);
    EXPECT_EQ(Fpga(fpga::kShowWinEnd), 0xCCCCu);

    // A geometry change reprograms them at the next show, not before.
    pl->SetPosition(0, 0, 640, 360);
    EXPECT_EQ(Scaler(scaler::kOutputSize), 0xAAAAu);
    ASSERT_EQ(pl->ShowUserLoadData(PhysPtr(kUserImage), 1280, 720, 8), 0);
    EXPECT_EQ(Scaler(scaler::kOutputSize), (360u << 16) | 640u);
    EXPECT_EQ(Fpga(fpga::kShowWinEnd), (359u << 16) | 640u);
    EXPECT_EQ(Hdmi(vdma::kS2mmHSize), 640u * 3u);
}

TEST_F(PLShow, ColourSourcesAndFailures)
{
    SizeSensor sensor(1280, 1024, 8);
    auto pl = MakePL(&sensor);

    ASSERT_EQ(pl->ShowUserLoadData(PhysPtr(kUserImage), 640, 480, 24), 0);
    EXPECT_EQ(Fpga(fpga::kShowSource), 256u);
    EXPECT_EQ(Rgb(vdma::kMm2sStartAddr), kUserImage);
    EXPECT_EQ(Rgb(vdma::kMm2sHSize), 640u);
    EXPECT_EQ(Rgb(vdma::kMm2sVSize), 480u);

    // Two frames per buffer are shown as one tall image.
    ASSERT_EQ(pl->SetMultiFrame(2), 0);
    ASSERT_EQ(pl->ShowCaptureData(PhysPtr(phys::kFrameBuffer1)), 0);
    EXPECT_EQ(Fpga(fpga::kShowSource), 0u);
    EXPECT_EQ(G8(vdma::kMm2sStartAddr), phys::kFrameBuffer1);
    EXPECT_EQ(G8(vdma::kMm2sVSize), 2048u);
    EXPECT_EQ(Scaler(scaler::kSourceSize), (2048u << 16) | 1280u);
    EXPECT_EQ(pl->m_nLastSrcHeight, 2048);
    ASSERT_EQ(pl->SetMultiFrame(1), 0);

    // Refused shows write nothing and keep the store.
    const int nIndex = pl->m_nShowBufIndex;
    vb::writeReg(vb::Block::VdmaG8, vdma::kMm2sStartAddr, 0x1u);
    EXPECT_EQ(pl->ShowCaptureData(nullptr), VYXZEB_RET_FAILED);
    EXPECT_EQ(pl->ShowUserLoadData(nullptr, 1280, 720, 8), VYXZEB_RET_FAILED);
    auto plNoSensor = MakePL();
    EXPECT_EQ(plNoSensor->ShowCaptureData(PhysPtr(phys::kFrameBuffer0)), VYXZEB_RET_SENSOR_FAILED);
    EXPECT_EQ(G8(vdma::kMm2sStartAddr), 0x1u);
    EXPECT_EQ(pl->m_nShowBufIndex, nIndex);
    EXPECT_EQ(plNoSensor->m_nShowBufIndex, 0);

    // Placed entirely left of the widget: nothing to store.
    pl->SetPosition(-1280, 0, 1280, 720);
    ASSERT_EQ(pl->ShowUserLoadData(PhysPtr(kUserImage), 1280, 720, 8), 0);
    EXPECT_EQ(Hdmi(vdma::kS2mmHSize), 0u);
    EXPECT_EQ(Hdmi(vdma::kMm2sHSize), 0u);
}

} // namespace
