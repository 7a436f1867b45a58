// The show's change detection: the scaler and the screen window are only
// reprogrammed when something they depend on changed, so a change of any
// single setting of the placement or of the video widget must be noticed on
// its own.  Planted values in the screen window registers show whether the
// next show rewrote them.
#include "PLTestSupport.h"

using namespace pltest;
using namespace vyxpl;

namespace {

constexpr uint32_t kUserImage = 0x32800000u;  // first block of the pool
constexpr uint32_t kPlanted = 0xBBBBu;

unsigned char* UserImage() { return reinterpret_cast<unsigned char*>(static_cast<uintptr_t>(kUserImage)); }

// The screen window registers for columns [x0, x1) and lines [y0, y1).
uint32_t WinStart(uint32_t x0, uint32_t y0) { return (y0 << 16) | x0; }
uint32_t WinEnd(uint32_t x1, uint32_t y1) { return ((y1 - 1) << 16) | x1; }

class PLShowChanges : public PLTest {
protected:
    // Shows the user image after planting values in the window registers,
    // and checks that the show wrote the window [x0, x1) x [y0, y1).
    static void ShowExpecting(CPL& pl, const char* what, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1) {
        vb::setFpgaReg(fpga::kShowWinStart, kPlanted);
        vb::setFpgaReg(fpga::kShowWinEnd, kPlanted);
        ASSERT_EQ(0, pl.ShowUserLoadData(UserImage(), 1280, 720, 8)) << what;
        EXPECT_EQ(WinStart(x0, y0), Fpga(fpga::kShowWinStart)) << what;
        EXPECT_EQ(WinEnd(x1, y1), Fpga(fpga::kShowWinEnd)) << what;
        EXPECT_EQ(((y1 - y0) << 16) | (x1 - x0), Scaler(scaler::kOutputSize)) << what;
    }
};

// The placement lies relative to the widget; both stay inside the screen
// here, so the window is the placement moved by the widget's corner, cut at
// the widget's right end and one line short of its bottom.
TEST_F(PLShowChanges, EverySettingOfThePlacementIsNoticedOnItsOwn) {
    std::unique_ptr<CPL> pl = MakePL();
    ASSERT_EQ(0, pl->SetVideoWidgetPos(0, 0, 1280, 720));
    ASSERT_EQ(0, pl->SetPosition(0, 0, 1280, 720));
    ShowExpecting(*pl, "full screen", 0, 0, 1280, 720);

    ASSERT_EQ(0, pl->SetPosition(0, 0, 1280, 360));
    ShowExpecting(*pl, "placement height", 0, 0, 1280, 360);
    ASSERT_EQ(0, pl->SetPosition(64, 0, 1280, 360));
    ShowExpecting(*pl, "placement x", 64, 0, 1280, 360);
    ASSERT_EQ(0, pl->SetPosition(64, 40, 1280, 360));
    ShowExpecting(*pl, "placement y", 64, 40, 1280, 400);
    ASSERT_EQ(0, pl->SetPosition(64, 40, 640, 360));
    ShowExpecting(*pl, "placement width", 64, 40, 704, 400);
}

TEST_F(PLShowChanges, EverySettingOfTheWidgetIsNoticedOnItsOwn) {
    std::unique_ptr<CPL> pl = MakePL();
    ASSERT_EQ(0, pl->SetPosition(0, 0, 640, 360));
    ASSERT_EQ(0, pl->SetVideoWidgetPos(0, 0, 1216, 640));
    ShowExpecting(*pl, "widget", 0, 0, 640, 360);

    ASSERT_EQ(0, pl->SetVideoWidgetPos(64, 0, 1216, 640));
    ShowExpecting(*pl, "widget x", 64, 0, 704, 360);
    ASSERT_EQ(0, pl->SetVideoWidgetPos(64, 40, 1216, 640));
    ShowExpecting(*pl, "widget y", 64, 40, 704, 400);
    ASSERT_EQ(0, pl->SetVideoWidgetPos(64, 40, 320, 640));
    ShowExpecting(*pl, "widget width", 64, 40, 384, 400);
    ASSERT_EQ(0, pl->SetVideoWidgetPos(64, 40, 320, 200));
    ShowExpecting(*pl, "widget height", 64, 40, 384, 239);

    // Nothing changed: the planted values stay.
    vb::setFpgaReg(fpga::kShowWinStart, kPlanted);
    ASSERT_EQ(0, pl->ShowUserLoadData(UserImage(), 1280, 720, 8));
    EXPECT_EQ(kPlanted, Fpga(fpga::kShowWinStart));
}

// What the show programmed is what the scaler's registers read back
// through the object, word by word; a read with nowhere to put the word is
// accepted and changes nothing.
TEST_F(PLShowChanges, TheScalerReadsBackWhatTheShowProgrammed) {
    std::unique_ptr<CPL> pl = MakePL();
    ASSERT_EQ(0, pl->SetVideoWidgetPos(0, 0, 1280, 720));
    ASSERT_EQ(0, pl->SetPosition(64, 40, 640, 360));
    ShowExpecting(*pl, "placement", 64, 40, 704, 400);
    for (uint16_t off :
         {scaler::kOutputSize, scaler::kSourceSize, scaler::kHShiftFactor, scaler::kVShiftFactor}) {
        unsigned long value = 0xDEADu;
        EXPECT_EQ(0, pl->CMD_RdReg_VSCALER(off, &value)) << off;
        EXPECT_EQ(Scaler(off), value) << off;
        EXPECT_EQ(0, pl->CMD_RdReg_VSCALER(off, nullptr)) << off;
    }
    unsigned long size = 0;
    ASSERT_EQ(0, pl->CMD_RdReg_VSCALER(scaler::kOutputSize, &size));
    EXPECT_EQ((360ul << 16) | 640ul, size);
}

}  // namespace
