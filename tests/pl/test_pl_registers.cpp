// CPL construction, raw register access, the batch shadow and the sharing of
// the FPGA control block between camera sets, observed from the board.
#include "PLTestSupport.h"
#include "VyxModel.h"

using namespace pltest;
using namespace vyxpl;

namespace {

class PLRegisters : public PLTest {};

TEST_F(PLRegisters, ConstructionBringsThePLToItsStartState)
{
    vb::setFpgaReg(fpga::kVersion, 0x02010007u);
    vb::setFpgaReg(fpga::kMisc36, 0xF3u);
    // The HDMI engine must not be touched before the first show.
    vb::writeReg(vb::Block::VdmaHdmi, vdma::kMm2sControl, 0x5A5A0000u);
    vb::writeReg(vb::Block::VdmaHdmi, vdma::kS2mmControl, 0x5A5A0001u);

    auto pl = MakePL();

    EXPECT_EQ(Fpga(fpga::kControl), 0x100u);
    EXPECT_EQ(Fpga(fpga::kTrigger) & 0xFu, 0x1u);
    EXPECT_EQ(Fpga(fpga::kMultiFrameA) & 0x7FFu, 1u);
    EXPECT_EQ(Fpga(fpga::kMultiFrameB) & 0x7FFu, 1u);
    EXPECT_EQ(Fpga(fpga::kFrameBufBase0), 0x30000000u);
    EXPECT_EQ(Fpga(fpga::kFrameBufBase1), 0x30A00000u);
    EXPECT_EQ(Fpga(fpga::kFrameBufBase2), 0x31400000u);
    EXPECT_EQ(Fpga(fpga::kFrameBufBase3), 0x31E00000u);
    EXPECT_EQ(Fpga(fpga::kTriggerDelay), 0u);
    EXPECT_EQ(Fpga(fpga::kClearWriteBuf), 1u);
    EXPECT_EQ(Fpga(fpga::kMisc36) & 0x3u, 0u);

    unsigned long ulVersion = 0;
    EXPECT_EQ(pl->GetVersionFPGA(&ulVersion), 0);
    EXPECT_EQ(ulVersion, 0x02010007u);
    EXPECT_EQ(pl->GetVersionFPGA(nullptr), 0);

    // Working copy and shadow agree after start-up.
    for (int i = 0; i < BAT_REG_PL::kFpgaEntries; ++i)
        EXPECT_EQ(pl->m_BatRegPL.unFPGA[i], CPL::m_BatRegPLRel.unFPGA[i]) << "entry " << i;

    // Source engines running circular with genlock; HDMI untouched.
    EXPECT_EQ(G8(vdma::kMm2sControl), 11u);
    EXPECT_EQ(Rgb(vdma::kMm2sControl), 11u);
    EXPECT_EQ(Hdmi(vdma::kMm2sControl), 0x5A5A0000u);
    EXPECT_EQ(Hdmi(vdma::kS2mmControl), 0x5A5A0001u);

    bool bQt = false;
    EXPECT_EQ(pl->GetQtShow(&bQt), 0);
    EXPECT_TRUE(bQt);
}

TEST_F(PLRegisters, RawAccessChecksOffsets)
{
    auto pl = MakePL();
    EXPECT_EQ(pl->CMD_WrReg_FPGA(152, 0x1234u), 0);
    EXPECT_EQ(Fpga(152), 0x1234u);

    const uint32_t un0 = Fpga(0), un4 = Fpga(4);
    EXPECT_EQ(pl->CMD_WrReg_FPGA(156, 0xFFFFFFFFu), VYXZEB_RET_REGISTER_ACCESS_FAILED);
    EXPECT_EQ(pl->CMD_WrReg_FPGA(2, 0xFFFFFFFFu), VYXZEB_RET_REGISTER_ACCESS_FAILED);
    EXPECT_EQ(pl->CMD_WrReg_FPGA(0xFFFC, 0xFFFFFFFFu), VYXZEB_RET_REGISTER_ACCESS_FAILED);
    EXPECT_EQ(Fpga(0), un0);
    EXPECT_EQ(Fpga(4), un4);

    unsigned long ul = 77;
    EXPECT_EQ(pl->CMD_RdReg_FPGA(156, &ul), VYXZEB_RET_REGISTER_ACCESS_FAILED);
    EXPECT_EQ(pl->CMD_RdReg_FPGA(6, &ul), VYXZEB_RET_REGISTER_ACCESS_FAILED);
    EXPECT_EQ(ul, 77u);
    EXPECT_EQ(pl->CMD_RdReg_FPGA(152, nullptr), 0);
    EXPECT_EQ(pl->CMD_RdReg_FPGA(152, &ul), 0);
    EXPECT_EQ(ul, 0x1234u);

    // VDMA: the two low offset bits are ignored; reads see the board's word.
    EXPECT_EQ(pl->CMD_WrReg_VDMAG8(0x5E, 0x31000000u), 0);
    EXPECT_EQ(G8(0x5C), 0x31000000u);
    vb::writeReg(vb::Block::VdmaRgb, 0x54, 0xABCDu);
    EXPECT_EQ(pl->CMD_RdReg_VDMARGB888(0x54, nullptr), 0);
    EXPECT_EQ(pl->CMD_RdReg_VDMARGB888(0x57, &ul), 0);
    EXPECT_EQ(ul, 0xABCDu);

    // Uninit releases the block: further access fails, twice is harmless.
    pl->Uninit_VDMAG8();
    pl->Uninit_VDMAG8();
    EXPECT_EQ(pl->CMD_WrReg_VDMAG8(0x00, 4), VYXZEB_RET_REGISTER_ACCESS_FAILED);
    EXPECT_EQ(pl->CMD_RdReg_VDMAG8(0x00, &ul), VYXZEB_RET_REGISTER_ACCESS_FAILED);
}

TEST_F(PLRegisters, BatchWritesGoThroughTheShadow)
{
    auto pl = MakePL();
    EXPECT_EQ(pl->WrReg_FPGA(40, 1), VYXZEB_RET_REGISTER_ACCESS_FAILED);
    EXPECT_EQ(pl->WrReg_FPGA(0, 1), VYXZEB_RET_REGISTER_ACCESS_FAILED);   // read back only
    EXPECT_EQ(pl->WrReg_FPGA(136, 1), VYXZEB_RET_REGISTER_ACCESS_FAILED); // read back only
    EXPECT_EQ(pl->WrReg_FPGA(104, 1), VYXZEB_RET_REGISTER_ACCESS_FAILED); // direct

    ASSERT_EQ(pl->WrReg_FPGA(fpga::kFramePeriod, 1000), 0);
    EXPECT_EQ(Fpga(fpga::kFramePeriod), 1000u);

    // The same value again costs no bus write: a value planted behind the
    // library's back survives it.
    vb::setFpgaReg(fpga::kFramePeriod, 0xDEADu);
    EXPECT_EQ(pl->WrReg_FPGA(fpga::kFramePeriod, 1000), 0);
    EXPECT_EQ(Fpga(fpga::kFramePeriod), 0xDEADu);
    vb::setFpgaReg(fpga::kFramePeriod, 1000);

    // A failed write changes neither copy.
    pl->Uninit_FPGA();
    const int n = CPL::BatIndex(fpga::kFramePeriod);
    EXPECT_EQ(pl->WrReg_FPGA(fpga::kFramePeriod, 5), VYXZEB_RET_REGISTER_ACCESS_FAILED);
    EXPECT_EQ(pl->m_BatRegPL.unFPGA[n], 1000u);
    EXPECT_EQ(CPL::m_BatRegPLRel.unFPGA[n], 1000u);
    EXPECT_EQ(pl->ValidateAllBatReg(), 0); // reports nothing even when it fails
}

// Two camera sets share the FPGA control block; making one current writes
// exactly the settings that differ from what the hardware holds.
TEST_F(PLRegisters, TwoObjectsValidateEachOthersSettings)
{
    vb::setFpgaReg(fpga::kFramePeriod, 0);
    auto a = MakePL();
    auto b = MakePL();

    ASSERT_EQ(a->SetFixFrameRate(1000), 0);
    ASSERT_EQ(a->SetTriggerMode(VYXZEB_TRIGGER_CONTINUOUS), 0);
    ASSERT_EQ(a->SetTriggerFilter(300), 0);
    EXPECT_EQ(Fpga(fpga::kFramePeriod), 1000u);
    EXPECT_EQ(Fpga(fpga::kTrigger) & 0xFu, 0x0u);

    unsigned long ulPeriodB = 1;
    b->GetFixFrameRate(&ulPeriodB);
    EXPECT_NE(ulPeriodB, 1000u);

    // A register both want alike is not written: a planted value survives.
    vb::setFpgaReg(fpga::kTriggerDelay, 0xBEEFu);
    EXPECT_EQ(b->ValidateAllBatReg(), 0);
    EXPECT_EQ(Fpga(fpga::kFramePeriod), ulPeriodB);
    EXPECT_EQ(Fpga(fpga::kTrigger) & 0xFu, 0x1u);
    EXPECT_EQ(Fpga(fpga::kTriggerDelay), 0xBEEFu);
    // The trigger filter is not re-applied by validation.
    EXPECT_EQ(Fpga(fpga::kTriggerFilter), 300u);
    vb::setFpgaReg(fpga::kTriggerDelay, 0);

    EXPECT_EQ(a->ValidateAllBatReg(), 0);
    EXPECT_EQ(Fpga(fpga::kFramePeriod), 1000u);
    EXPECT_EQ(Fpga(fpga::kTrigger) & 0xFu, 0x0u);

    // Validating the current set again writes nothing.
    vb::setFpgaReg(fpga::kFramePeriod, 0xDEADu);
    EXPECT_EQ(a->ValidateAllBatReg(), 0);
    EXPECT_EQ(Fpga(fpga::kFramePeriod), 0xDEADu);
    vb::setFpgaReg(fpga::kFramePeriod, 1000u);
}

// Making a set current re-applies every batch register but the display
// source select (84) and the trigger filter (120): each one that the
// hardware no longer holds as the set wants is written again.  The PL model
// is held still meanwhile, so the stale values planted below never act.
TEST_F(PLRegisters, ValidationReappliesEveryBatchRegisterButTheTwoItLeaves) {
    const uint16_t reapplied[] = {4, 8, 12, 16, 20, 24, 28, 32, 36, 68, 76, 80, 108, 112, 116, 124, 128, 132};
    const uint16_t left[] = {84, 120};
    auto b = MakePL();
    struct StallGuard {
        StallGuard() { vb::modelStall(true); }
        ~StallGuard() { vb::modelStall(false); }
    } stall;
    auto plantStale = [&](uint16_t off) {
        const int n = CPL::BatIndex(off);
        const uint32_t stale = b->m_BatRegPL.unFPGA[n] ^ 0x5A5Au;
        CPL::m_BatRegPLRel.unFPGA[n] = stale;
        vb::setFpgaReg(off, stale);
        return stale;
    };
    for (uint16_t off : reapplied) {
        SCOPED_TRACE(off);
        ASSERT_GE(CPL::BatIndex(off), 0);
        plantStale(off);
    }
    uint32_t leftStale[2];
    for (int i = 0; i < 2; ++i)
        leftStale[i] = plantStale(left[i]);

    EXPECT_EQ(b->ValidateAllBatReg(), 0);
    for (uint16_t off : reapplied) {
        const int n = CPL::BatIndex(off);
        EXPECT_EQ(Fpga(off), b->m_BatRegPL.unFPGA[n]) << "register " << off << " not re-applied";
        EXPECT_EQ(CPL::m_BatRegPLRel.unFPGA[n], b->m_BatRegPL.unFPGA[n]) << "register " << off;
    }
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Fpga(left[i]), leftStale[i]) << "register " << left[i] << " must be left alone";
        // Back to what the set wants before the PL runs again.
        const int n = CPL::BatIndex(left[i]);
        vb::setFpgaReg(left[i], b->m_BatRegPL.unFPGA[n]);
        CPL::m_BatRegPLRel.unFPGA[n] = b->m_BatRegPL.unFPGA[n];
    }
    for (uint16_t off : reapplied)
        vb::setFpgaReg(off, b->m_BatRegPL.unFPGA[CPL::BatIndex(off)]);
}

// A set asking for the value the hardware already holds (because another set
// put it there) must still remember it as its own setting, or the next
// validation would silently restore its old value.
TEST_F(PLRegisters, SettingTheHeldValueIsRemembered)
{
    vb::setFpgaReg(fpga::kFramePeriod, 0);
    auto a = MakePL();
    auto b = MakePL();
    ASSERT_EQ(a->SetFixFrameRate(2500), 0);
    ASSERT_EQ(b->SetFixFrameRate(2500), 0); // hardware already holds it
    unsigned long ul = 0;
    b->GetFixFrameRate(&ul);
    EXPECT_EQ(ul, 2500u);

    ASSERT_EQ(a->SetFixFrameRate(7), 0);
    EXPECT_EQ(b->ValidateAllBatReg(), 0);
    EXPECT_EQ(Fpga(fpga::kFramePeriod), 2500u);
}

// ---------------------------------------------------------------------------
// Construction faults
// ---------------------------------------------------------------------------
class PLConstruction : public PLTest {};

TEST_F(PLConstruction, FpgaMapFailureTouchesNothingElse)
{
    const int nFds = vb::openNodeDescriptors(vb::Node::Mem);
    const int nMaps = vb::liveNodeMappings(vb::Node::Mem);
    vb::writeReg(vb::Block::VdmaG8, vdma::kMm2sControl, 0x77u);
    vb::Fault f;
    f.physOffset = phys::kFpgaBase;
    const vyxtest::ScopedFault fpgaMap(vb::Node::Mem, vb::Op::Mmap, f);
    vb::resetCounters();

    bool bInit = true;
    auto pl = std::make_unique<CPL>(nullptr, &bInit);
    EXPECT_FALSE(bInit);
    EXPECT_EQ(vb::callCount(vb::Node::Mem, vb::Op::Open), 1u);
    EXPECT_EQ(vb::callCount(vb::Node::Mem, vb::Op::Mmap), 1u);
    EXPECT_EQ(G8(vdma::kMm2sControl), 0x77u);
    EXPECT_EQ(pl->CMD_WrReg_FPGA(fpga::kFramePeriod, 1), VYXZEB_RET_REGISTER_ACCESS_FAILED);
    EXPECT_EQ(pl->CMD_WrReg_VSCALER(scaler::kControl, 1), VYXZEB_RET_SCALER_UNMAPPED);

    pl.reset();
    EXPECT_EQ(vb::openNodeDescriptors(vb::Node::Mem), nFds);
    EXPECT_EQ(vb::liveNodeMappings(vb::Node::Mem), nMaps);
}

TEST_F(PLConstruction, ScalerOpenFailureStopsBeforeTheVdma)
{
    vb::Fault f;
    f.fromCall = 2; // the FPGA block opens, the scaler does not
    f.times = 1;
    const vyxtest::ScopedFault scalerOpen(vb::Node::Mem, vb::Op::Open, f);
    vb::resetCounters();

    bool bInit = true;
    auto pl = std::make_unique<CPL>(nullptr, &bInit);
    EXPECT_FALSE(bInit);
    EXPECT_EQ(vb::callCount(vb::Node::Mem, vb::Op::Open), 2u);
    EXPECT_EQ(pl->CMD_WrReg_VSCALER(scaler::kControl, 1), VYXZEB_RET_SCALER_UNMAPPED);
    unsigned long ul = 0;
    EXPECT_EQ(pl->CMD_RdReg_VSCALER(scaler::kControl, &ul), VYXZEB_RET_REGISTER_ACCESS_FAILED);
    // The FPGA block that did come up works.
    EXPECT_EQ(pl->SetFixFrameRate(33), 0);
    EXPECT_EQ(Fpga(fpga::kFramePeriod), 33u);
}

TEST_F(PLConstruction, HdmiMapFailureLeavesTheOthersUsable)
{
    const int nFds = vb::openNodeDescriptors(vb::Node::Mem);
    const int nMaps = vb::liveNodeMappings(vb::Node::Mem);
    vb::Fault f;
    f.physOffset = phys::kVdmaHdmiBase;
    const vyxtest::ScopedFault hdmiMap(vb::Node::Mem, vb::Op::Mmap, f);

    bool bInit = true;
    auto pl = std::make_unique<CPL>(nullptr, &bInit);
    EXPECT_FALSE(bInit);
    vb::writeReg(vb::Block::VdmaHdmi, vdma::kS2mmControl, 0x99u);
    EXPECT_EQ(pl->CMD_WrReg_VDMAHDMI(vdma::kS2mmControl, 4), VYXZEB_RET_REGISTER_ACCESS_FAILED);
    EXPECT_EQ(Hdmi(vdma::kS2mmControl), 0x99u);
    EXPECT_EQ(pl->CMD_WrReg_VDMAG8(vdma::kMm2sHSize, 640), 0);
    EXPECT_EQ(G8(vdma::kMm2sHSize), 640u);

    // A show on a partial object still completes; its HDMI writes are lost.
    EXPECT_EQ(pl->ShowUserLoadData(reinterpret_cast<unsigned char*>(0x32800000u), 64, 64, 8), 0);
    EXPECT_EQ(Hdmi(vdma::kS2mmControl), 0x99u);

    pl.reset();
    EXPECT_EQ(vb::openNodeDescriptors(vb::Node::Mem), nFds);
    EXPECT_EQ(vb::liveNodeMappings(vb::Node::Mem), nMaps);
}

} // namespace
