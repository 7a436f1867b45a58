// The source VDMA blocks failing to map while a CPL comes up: the object
// reports the failure, the blocks brought up before keep working, the block
// that failed and those after it refuse every access, and nothing stays
// open or mapped once the object is gone.
#include "PLTestSupport.h"

using namespace pltest;
using namespace vyxpl;

namespace {

class PLSourceFaults : public PLTest {};

TEST_F(PLSourceFaults, ASourceBlockThatDoesNotMapStopsTheSetUpThere) {
    struct Case {
        const char* what;
        uint32_t phys;
        bool greyUp;  // the grey source came up before the failure
    };
    const Case cases[] = {{"grey source", phys::kVdmaG8Base, false},
                          {"colour source", phys::kVdmaRgb888Base, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int nFds = vb::openNodeDescriptors(vb::Node::Mem);
        const int nMaps = vb::liveNodeMappings(vb::Node::Mem);
        vb::writeReg(vb::Block::VdmaRgb, vdma::kMm2sHSize, 0x55u);
        vb::writeReg(vb::Block::VdmaHdmi, vdma::kS2mmHSize, 0x66u);
        vb::Fault f;
        f.physOffset = c.phys;
        bool bInit = true;
        std::unique_ptr<CPL> pl;
        {
            const vyxtest::ScopedFault map(vb::Node::Mem, vb::Op::Mmap, f);
            pl = std::make_unique<CPL>(nullptr, &bInit);
        }
        EXPECT_FALSE(bInit);
        // Before the failure: the FPGA block and the scaler work.
        EXPECT_EQ(0, pl->SetFixFrameRate(41));
        EXPECT_EQ(41u, Fpga(fpga::kFramePeriod));
        EXPECT_EQ(0, pl->CMD_WrReg_VSCALER(scaler::kControl, 0));
        EXPECT_EQ(c.greyUp ? 0 : VYXZEB_RET_REGISTER_ACCESS_FAILED,
                  pl->CMD_WrReg_VDMAG8(vdma::kMm2sHSize, 640));
        // From the failure on: nothing reaches the blocks.
        EXPECT_EQ(VYXZEB_RET_REGISTER_ACCESS_FAILED, pl->CMD_WrReg_VDMARGB888(vdma::kMm2sHSize, 1920));
        EXPECT_EQ(VYXZEB_RET_REGISTER_ACCESS_FAILED, pl->CMD_WrReg_VDMAHDMI(vdma::kS2mmHSize, 3840));
        EXPECT_EQ(0x55u, Rgb(vdma::kMm2sHSize));
        EXPECT_EQ(0x66u, Hdmi(vdma::kS2mmHSize));

        pl.reset();
        EXPECT_EQ(nFds, vb::openNodeDescriptors(vb::Node::Mem));
        EXPECT_EQ(nMaps, vb::liveNodeMappings(vb::Node::Mem));
    }
}

}  // namespace
