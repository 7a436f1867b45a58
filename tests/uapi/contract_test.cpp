// The hardware contract the library, the plug-in and the virtual board share
// (include/uapi/), checked value by value against the board's hardware.
//
// Both sides of the board read these headers, so a wrong value there fools
// them alike and every other suite still passes: a swapped pair of register
// offsets drives the real PL into the wrong registers while the board's model
// decodes the same mistake.  Here every offset, field, request, path and
// address is stated once more as a literal; the headers must agree.
#include <linux/spi/spidev.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "MemMap.h"
#include "Nodes.h"
#include "PLRegs.h"
#include "Q210BRegs.h"

namespace {

namespace phys = vyxpl::phys;
namespace fpga = vyxpl::fpga;
namespace vdma = vyxpl::vdma;
namespace scaler = vyxpl::scaler;

TEST(Contract, RegisterBlocksAndTheirMappings) {
    EXPECT_EQ(phys::kFpgaBase, 0x43C00000u);
    EXPECT_EQ(phys::kFpgaMapLength, 156u);
    EXPECT_EQ(phys::kScalerBase, 0x43C10000u);
    EXPECT_EQ(phys::kScalerMapLength, 0x40000u);
    EXPECT_EQ(phys::kVdmaRgb888Base, 0x43000000u);
    EXPECT_EQ(phys::kVdmaG8Base, 0x43010000u);
    EXPECT_EQ(phys::kVdmaHdmiBase, 0x43020000u);
    EXPECT_EQ(phys::kVdmaMapLength, 0x40000u);
    EXPECT_EQ(phys::kRegBlockWindow, 0x40000u);
}

TEST(Contract, ReservedRam) {
    EXPECT_EQ(phys::kFrameBufferBase, 0x30000000u);
    EXPECT_EQ(phys::kFrameBufferSize, 0xA00000u);
    EXPECT_EQ(phys::kFrameBufferCount, 4);
    EXPECT_EQ(phys::kFrameBuffer0, 0x30000000u);
    EXPECT_EQ(phys::kFrameBuffer1, 0x30A00000u);
    EXPECT_EQ(phys::kFrameBuffer2, 0x31400000u);
    EXPECT_EQ(phys::kFrameBuffer3, 0x31E00000u);
    EXPECT_EQ(phys::kPoolBase, 0x32800000u);
    EXPECT_EQ(phys::kPoolBytes, 0xD800000u);
    EXPECT_EQ(phys::kPoolBlockBytes, 0x800000u);
    EXPECT_EQ(phys::kPoolBlocks, 27);
    EXPECT_EQ(phys::kPoolBlocksHandedOut, 24);
    EXPECT_EQ(phys::kShowStore0, 0x3E800000u);
    EXPECT_EQ(phys::kShowStore1, 0x3F000000u);
    EXPECT_EQ(phys::kShowStoreBytesPerPixel, 3u);
    EXPECT_EQ(phys::kReservedRamBase, 0x30000000u);
    EXPECT_EQ(phys::kReservedRamEnd, 0x40000000u);
    EXPECT_EQ(phys::kScreenWidth, 1280u);
    EXPECT_EQ(phys::kScreenHeight, 720u);
}

TEST(Contract, FpgaRegisterOffsets) {
    const struct {
        unsigned offset;
        unsigned expected;
        const char* name;
    } regs[] = {
        {fpga::kVersion, 0, "version"},
        {fpga::kMultiFrameA, 4, "frames per buffer, first copy"},
        {fpga::kFramePixelsA, 8, "pixels per frame, first copy"},
        {fpga::kFrameBufBase0, 12, "frame buffer 0"},
        {fpga::kFrameBufBase1, 16, "frame buffer 1"},
        {fpga::kFrameBufBase2, 20, "frame buffer 2"},
        {fpga::kFrameBufBase3, 24, "frame buffer 3"},
        {fpga::kMultiFrameB, 28, "frames per buffer, second copy"},
        {fpga::kFramePixelsB, 32, "pixels per frame, second copy"},
        {fpga::kMisc36, 36, "register 36"},
        {fpga::kUnused40, 40, "unused 40"},
        {fpga::kStatus44, 44, "status 44"},
        {fpga::kStatus48, 48, "status 48"},
        {fpga::kFrameBufStatus, 52, "newest buffer"},
        {fpga::kUnused56, 56, "unused 56"},
        {fpga::kClearWriteBuf, 60, "clear write buffers"},
        {fpga::kClearReadBuf, 64, "clear read buffers"},
        {fpga::kFrameBufNumber, 68, "frame-buffer number"},
        {fpga::kReleaseBuf, 72, "release buffer"},
        {fpga::kGeometryA, 76, "geometry word A"},
        {fpga::kGeometryB, 80, "geometry word B"},
        {fpga::kShowSource, 84, "display source"},
        {fpga::kShowStrobe, 88, "show strobe"},
        {fpga::kUnused92, 92, "unused 92"},
        {fpga::kUnused96, 96, "unused 96"},
        {fpga::kUnused100, 100, "unused 100"},
        {fpga::kSoftTrigger, 104, "software trigger"},
        {fpga::kControl, 108, "control"},
        {fpga::kTrigger, 112, "trigger"},
        {fpga::kFramePeriod, 116, "fixed frame period"},
        {fpga::kTriggerFilter, 120, "trigger filter"},
        {fpga::kTriggerDelay, 124, "trigger delay"},
        {fpga::kShowWinStart, 128, "HDMI window start"},
        {fpga::kShowWinEnd, 132, "HDMI window end"},
        {fpga::kStatus136, 136, "status 136"},
        {fpga::kStatus140, 140, "status 140"},
        {fpga::kUnused144, 144, "unused 144"},
        {fpga::kUnused148, 148, "unused 148"},
        {fpga::kPlEnable152, 152, "register 152"},
    };
    for (const auto& r : regs)
        EXPECT_EQ(r.offset, r.expected) << r.name;
    EXPECT_EQ(fpga::kLastOffset, 152u);
    EXPECT_EQ(fpga::kRegisterCount, 39u);
}

TEST(Contract, FpgaRegisterFields) {
    EXPECT_EQ(fpga::kMultiFrameMask, 0x7FFu);
    EXPECT_EQ(fpga::kMultiFrameStart, 1u);
    EXPECT_EQ(fpga::kMisc36ClearAtStart, 0x3u);
    EXPECT_EQ(fpga::kFrameBufIdShift, 30u);
    EXPECT_EQ(fpga::kFrameBufIdMask, 0xC0000000u);
    EXPECT_EQ(fpga::kClearWriteBufStart, 1u);
    EXPECT_EQ(fpga::kPulseOn, 1u);
    EXPECT_EQ(fpga::kPulseOff, 0u);
    EXPECT_EQ(fpga::kGeometryAValue, 0x00010000u);
    EXPECT_EQ(fpga::kGeometryBWidthMask, 0xFFFFu);
    EXPECT_EQ(fpga::kGeometryBWidthShift, 0u);
    EXPECT_EQ(fpga::kGeometryBWidthDivShift, 3u);
    EXPECT_EQ(fpga::kGeometryBHeightMask, 0xFFFF0000u);
    EXPECT_EQ(fpga::kGeometryBHeightShift, 16u);
    EXPECT_EQ(fpga::kShowSourceGrey8, 0u);
    EXPECT_EQ(fpga::kShowSourceRgb888, 256u);
    EXPECT_EQ(fpga::kControlCaptureStart, 0x1u);
    EXPECT_EQ(fpga::kControlQtShow, 0x100u);
    EXPECT_EQ(fpga::kControlStart, 0x100u);
    EXPECT_EQ(fpga::kTriggerEnable, 0x1u);
    EXPECT_EQ(fpga::kTriggerTypeShift, 1u);
    EXPECT_EQ(fpga::kTriggerTypeMask, 0x6u);
    EXPECT_EQ(fpga::kTriggerExternal, 0x8u);
    EXPECT_EQ(fpga::kTriggerModeMask, 0xFu);
    EXPECT_EQ(fpga::kTriggerFilterMask, 0xFFFFu);
    EXPECT_EQ(fpga::kTriggerDelayMax, 65535u);
    EXPECT_EQ(fpga::kShowWinColMask, 0x3FFFu);
    EXPECT_EQ(fpga::kShowWinColShift, 0u);
    EXPECT_EQ(fpga::kShowWinLineMask, 0x3FFF0000u);
    EXPECT_EQ(fpga::kShowWinLineShift, 16u);
    EXPECT_EQ(fpga::kShowWinFieldMask, 0x3FFFu);
    EXPECT_EQ(fpga::kPlEnable152Value, 256u);
}

TEST(Contract, VdmaRegisters) {
    EXPECT_EQ(vdma::kMm2sControl, 0x00u);
    EXPECT_EQ(vdma::kS2mmControl, 0x30u);
    EXPECT_EQ(vdma::kMm2sVSize, 0x50u);
    EXPECT_EQ(vdma::kMm2sHSize, 0x54u);
    EXPECT_EQ(vdma::kMm2sStride, 0x58u);
    EXPECT_EQ(vdma::kMm2sStartAddr, 0x5Cu);
    EXPECT_EQ(vdma::kS2mmVSize, 0xA0u);
    EXPECT_EQ(vdma::kS2mmHSize, 0xA4u);
    EXPECT_EQ(vdma::kS2mmStride, 0xA8u);
    EXPECT_EQ(vdma::kS2mmStartAddr, 0xACu);
    EXPECT_EQ(vdma::kCtrlRun, 0x1u);
    EXPECT_EQ(vdma::kCtrlCircular, 0x2u);
    EXPECT_EQ(vdma::kCtrlReset, 0x4u);
    EXPECT_EQ(vdma::kCtrlGenlock, 0x8u);
    EXPECT_EQ(vdma::kCtrlValueReset, 4u);
    EXPECT_EQ(vdma::kCtrlValueGenlockStopped, 8u);
    EXPECT_EQ(vdma::kCtrlValueRunCircularGenlock, 11u);
    EXPECT_EQ(vdma::kCtrlValueRunPark, 1u);
    EXPECT_EQ(vdma::kVSizeMask, 0x1FFFu);
    EXPECT_EQ(vdma::kHSizeMask, 0xFFFFu);
    EXPECT_EQ(vdma::kStrideMask, 0xFFFFu);
    EXPECT_EQ(vdma::kOffsetAlignMask, 0xFFFFFFFCu);
}

TEST(Contract, ScalerRegisters) {
    EXPECT_EQ(scaler::kControl, 0x000u);
    EXPECT_EQ(scaler::kHShiftFactor, 0x100u);
    EXPECT_EQ(scaler::kVShiftFactor, 0x104u);
    EXPECT_EQ(scaler::kSourceSize, 0x108u);
    EXPECT_EQ(scaler::kHAperture, 0x10Cu);
    EXPECT_EQ(scaler::kVAperture, 0x110u);
    EXPECT_EQ(scaler::kOutputSize, 0x114u);
    EXPECT_EQ(scaler::kCtrlEnable, 0x1u);
    EXPECT_EQ(scaler::kCtrlRegUpdate, 0x2u);
    EXPECT_EQ(scaler::kCtrlValueBeforeUpdate, 1u);
    EXPECT_EQ(scaler::kCtrlValueAfterUpdate, 3u);
    EXPECT_EQ(scaler::kShiftFactorFracBits, 20u);
    EXPECT_EQ(scaler::kShiftFactorMask, 0xFFFFFFu);
    EXPECT_EQ(scaler::kFieldMask, 0x1FFFu);
    EXPECT_EQ(scaler::kLowShift, 0u);
    EXPECT_EQ(scaler::kHighShift, 16u);
    EXPECT_EQ(scaler::kOffsetAlignMask, 0xFFFFFFFCu);
}

TEST(Contract, NodePaths) {
    EXPECT_STREQ(vyxnode::kMemPath, "/dev/mem");
    EXPECT_STREQ(vyxnode::kCacheOpsPath, "/dev/cache_ops");
    EXPECT_STREQ(vyxnode::kSpi0Path, "/dev/spidev32766.0");
    EXPECT_STREQ(vyxnode::kSpi1Path, "/dev/spidev32766.1");
    EXPECT_STREQ(vyxnode::kCapturePath, "/dev/vyx_capture_0");
    EXPECT_STREQ(vyxnode::kGpioPath, "/dev/misc_vyx_gpio");
}

TEST(Contract, RequestsAndInterruptCodes) {
    EXPECT_EQ(vyxnode::kCacheSync, 0xF704UL);
    EXPECT_EQ(vyxnode::kCacheSyncRecordBytes, 12);
    // The sensor's register read: one spidev transfer record, on 32- and
    // 64-bit processes alike.
    EXPECT_EQ(static_cast<unsigned long>(SPI_IOC_MESSAGE(1)), 0x40206B00UL);

    ASSERT_EQ(vyxnode::kCaptureSets, 4);
    const char* const codes[] = {"169", "170", "171", "172"};
    for (int i = 0; i < 4; ++i)
        EXPECT_STREQ(vyxnode::kCaptureCode[i], codes[i]) << "camera set " << i;

    EXPECT_EQ(vyxnode::kGpioLines, 10u);
    EXPECT_EQ(vyxnode::kGpioFirstOutput, 3u);
    EXPECT_EQ(vyxnode::kGpioReadInput[0], 0UL);
    EXPECT_EQ(vyxnode::kGpioReadInput[1], 1UL);
    EXPECT_EQ(vyxnode::kGpioReadInput[2], 3UL);
    EXPECT_EQ(vyxnode::kGpioReadBase, 0x10000UL);
    EXPECT_EQ(vyxnode::kGpioWriteBase, 0x20000UL);
}

TEST(Contract, SensorControlPort) {
    EXPECT_EQ(q210b::kSpiWriteFlag, 0x80);
    EXPECT_EQ(q210b::kSpiAddrMask, 0x7F);
    EXPECT_EQ(q210b::kSpiReadFiller, 0xAA);
    EXPECT_EQ(q210b::kSpiFrameBytes, 3u);

    const struct {
        unsigned char addr;
        unsigned char expected;
        const char* name;
    } regs[] = {
        {q210b::kRegLineLength, 4, "line length"},
        {q210b::kRegLineTermH, 6, "line term H"},
        {q210b::kRegControl, 7, "control"},
        {q210b::kRegClockSelect, 8, "clocks"},
        {q210b::kRegPll, 9, "PLL"},
        {q210b::kRegReadout, 10, "readout"},
        {q210b::kRegLineOptions, 11, "line options"},
        {q210b::kRegExposure, 14, "exposure"},
        {q210b::kReg17, 17, "register 17"},
        {q210b::kRegFirstRow, 18, "first row"},
        {q210b::kRegRowCount, 19, "rows"},
        {q210b::kRegFirstCol, 20, "first column"},
        {q210b::kRegColCount, 21, "columns"},
        {q210b::kRegAddressMode, 26, "address modes"},
        {q210b::kRegGainB, 54, "gain 54"},
        {q210b::kRegGainA, 55, "gain 55"},
        {q210b::kRegOscTrim, 58, "oscillator"},
        {q210b::kRegLineTermK, 73, "line term K"},
        {q210b::kReg118, 118, "register 118"},
    };
    for (const auto& r : regs)
        EXPECT_EQ(r.addr, r.expected) << r.name;

    EXPECT_EQ(q210b::kLineLengthMask, 0x07FF);
    EXPECT_EQ(q210b::kPixClksPerLineUnit, 8u);
    EXPECT_EQ(q210b::kLineTermHShift, 8u);
    EXPECT_EQ(q210b::kControlFlip, 0x0040);
    EXPECT_EQ(q210b::kControlMirror, 0x0080);
    EXPECT_EQ(q210b::kControlFlashInvert, 0x4000);
    EXPECT_EQ(q210b::kReadoutHalve, 0x0001);
    EXPECT_EQ(q210b::kReadoutTrim, 0x0020);
    EXPECT_EQ(q210b::kTrimPixels, 4);
    EXPECT_EQ(q210b::kLineTermKSelect, 0x0030);
    EXPECT_EQ(q210b::kFlashEnableMask, 0x00C0);
    EXPECT_EQ(q210b::kOscTrimMask, 0x7Fu);
    EXPECT_EQ(q210b::kWindowFieldMask, 0x07FF);
    EXPECT_EQ(q210b::kWindowOrigin, 6UL);
    EXPECT_EQ(q210b::kAddrCodeMask, 0xFFu);
    EXPECT_EQ(q210b::kColCodeShift, 8u);
    EXPECT_EQ(q210b::kArrayWidth, 1280UL);
    EXPECT_EQ(q210b::kArrayHeight, 1024UL);
    EXPECT_EQ(q210b::kRefClockHz, 96000000.0f);
}

}  // namespace
