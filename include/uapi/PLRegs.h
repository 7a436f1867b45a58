// PLRegs.h - register map of the programmable logic (PL): the FPGA control
// block's registers and fields, the three AXI Video DMA blocks and the video
// scaler.  Where the blocks sit in physical memory, and the RAM the PL writes
// to, is in MemMap.h (included here).
//
// This header is part of the hardware contract between the library and the
// virtual board (include/uapi/): CPL programs the PL with these names and
// the board's PL model decodes the same names, so the two cannot drift
// apart.  Because a mistake here would fool both sides alike, the contract
// test states every offset and field again as a literal.  Dependency-free
// (only <cstdint>); it only ever grows.
//
// All registers are 32-bit words addressed by their byte offset inside the
// mapped block.
#ifndef VYX_PL_PLREGS_H
#define VYX_PL_PLREGS_H

#include <cstdint>

#include "MemMap.h"

namespace vyxpl {

// ---------------------------------------------------------------------------
// FPGA control block (byte offsets)
// ---------------------------------------------------------------------------
namespace fpga {
constexpr std::uint16_t kVersion = 0;          // read back: PL version
constexpr std::uint16_t kMultiFrameA = 4;      // batch: frames per buffer, copy 1
constexpr std::uint16_t kFramePixelsA = 8;     // batch: width*height, copy 1
constexpr std::uint16_t kFrameBufBase0 = 12;   // batch: physical base, buffer 0
constexpr std::uint16_t kFrameBufBase1 = 16;   // batch: physical base, buffer 1
constexpr std::uint16_t kFrameBufBase2 = 20;   // batch: physical base, buffer 2
constexpr std::uint16_t kFrameBufBase3 = 24;   // batch: physical base, buffer 3
constexpr std::uint16_t kMultiFrameB = 28;     // batch: frames per buffer, copy 2
constexpr std::uint16_t kFramePixelsB = 32;    // batch: width*height, copy 2
constexpr std::uint16_t kMisc36 = 36;          // batch: bits 1..0 cleared at start
constexpr std::uint16_t kUnused40 = 40;        // not used
constexpr std::uint16_t kStatus44 = 44;        // status, read before 52
constexpr std::uint16_t kStatus48 = 48;        // status, read before 52
constexpr std::uint16_t kFrameBufStatus = 52;  // status: newest buffer, bits 31..30
constexpr std::uint16_t kUnused56 = 56;        // not used
constexpr std::uint16_t kClearWriteBuf = 60;   // direct: clear write buffers (level)
constexpr std::uint16_t kClearReadBuf = 64;    // direct: clear read buffers (pulse 1,0)
constexpr std::uint16_t kFrameBufNumber = 68;  // batch: frame-buffer number 0..3
constexpr std::uint16_t kReleaseBuf = 72;      // direct: release frame buffer (write 1)
constexpr std::uint16_t kGeometryA = 76;       // batch: sensor geometry word A
constexpr std::uint16_t kGeometryB = 80;       // batch: sensor geometry word B
constexpr std::uint16_t kShowSource = 84;      // batch: display source select
constexpr std::uint16_t kShowStrobe = 88;      // direct: show strobe (write 1)
constexpr std::uint16_t kUnused92 = 92;        // not used
constexpr std::uint16_t kUnused96 = 96;        // not used
constexpr std::uint16_t kUnused100 = 100;      // not used
constexpr std::uint16_t kSoftTrigger = 104;    // direct: software trigger (write 1)
constexpr std::uint16_t kControl = 108;        // batch: capture start, QtShow
constexpr std::uint16_t kTrigger = 112;        // batch: trigger mode bits
constexpr std::uint16_t kFramePeriod = 116;    // batch: fixed frame period (us)
constexpr std::uint16_t kTriggerFilter = 120;  // batch: trigger filter, bits 15..0
constexpr std::uint16_t kTriggerDelay = 124;   // batch: trigger delay
constexpr std::uint16_t kShowWinStart = 128;   // batch: HDMI window start
constexpr std::uint16_t kShowWinEnd = 132;     // batch: HDMI window end
constexpr std::uint16_t kStatus136 = 136;      // read back, not interpreted
constexpr std::uint16_t kStatus140 = 140;      // read back, not interpreted
constexpr std::uint16_t kUnused144 = 144;      // not used
constexpr std::uint16_t kUnused148 = 148;      // not used
constexpr std::uint16_t kPlEnable152 = 152;    // direct: written once after creation

constexpr std::uint16_t kLastOffset = 152;    // highest valid offset
constexpr std::uint32_t kRegisterCount = 39;  // offsets 0..152

// Register 4 / 28: frames per buffer.
constexpr std::uint32_t kMultiFrameMask = 0x7FFu;  // bits 10..0
constexpr std::uint32_t kMultiFrameStart = 0x1u;   // one frame per buffer

// Register 36.
constexpr std::uint32_t kMisc36ClearAtStart = 0x3u;  // bits 1..0

// Register 52: index of the buffer holding the newest frame.
constexpr std::uint32_t kFrameBufIdShift = 30;
constexpr std::uint32_t kFrameBufIdMask = 0xC0000000u;  // bits 31..30

// Register 60 / 64 / 72 / 88 / 104 values.
constexpr std::uint32_t kClearWriteBufStart = 1u;
constexpr std::uint32_t kPulseOn = 1u;
constexpr std::uint32_t kPulseOff = 0u;

// Register 76 / 80: sensor geometry.
constexpr std::uint32_t kGeometryAValue = 0x00010000u;
constexpr std::uint32_t kGeometryBWidthMask = 0xFFFFu;  // bits 15..0: width / 8
constexpr std::uint32_t kGeometryBWidthShift = 0;
constexpr std::uint32_t kGeometryBWidthDivShift = 3;         // width >> 3
constexpr std::uint32_t kGeometryBHeightMask = 0xFFFF0000u;  // bits 31..16: height+1
constexpr std::uint32_t kGeometryBHeightShift = 16;

// Register 84: which source VDMA feeds the scaler.
constexpr std::uint32_t kShowSourceGrey8 = 0u;
constexpr std::uint32_t kShowSourceRgb888 = 256u;

// Register 108: control.
constexpr std::uint32_t kControlCaptureStart = 1u << 0;
constexpr std::uint32_t kControlQtShow = 1u << 8;
constexpr std::uint32_t kControlStart = kControlQtShow;  // 0x100 at start

// Register 112: trigger.
constexpr std::uint32_t kTriggerEnable = 1u << 0;      // triggered acquisition
constexpr std::uint32_t kTriggerTypeShift = 1;         // external trigger type
constexpr std::uint32_t kTriggerTypeMask = 0x3u << 1;  // bits 2..1
constexpr std::uint32_t kTriggerExternal = 1u << 3;    // external source
constexpr std::uint32_t kTriggerModeMask = 0xFu;       // bits 3..0

// Register 120 / 124.
constexpr std::uint32_t kTriggerFilterMask = 0xFFFFu;
constexpr std::uint32_t kTriggerDelayMax = 0xFFFFu;

// Registers 128 / 132: HDMI screen window.  128 = first column | first line;
// 132 = end column (exclusive) | last line (inclusive).
constexpr std::uint32_t kShowWinColMask = 0x3FFFu;  // bits 13..0
constexpr std::uint32_t kShowWinColShift = 0;
constexpr std::uint32_t kShowWinLineMask = 0x3FFF0000u;  // bits 29..16
constexpr std::uint32_t kShowWinLineShift = 16;
constexpr std::uint32_t kShowWinFieldMask = 0x3FFFu;  // 14-bit coordinate

// Register 152.
constexpr std::uint32_t kPlEnable152Value = 256u;
}  // namespace fpga

// ---------------------------------------------------------------------------
// AXI Video DMA blocks (same layout for all three)
// ---------------------------------------------------------------------------
namespace vdma {
constexpr std::uint16_t kMm2sControl = 0x00;
constexpr std::uint16_t kS2mmControl = 0x30;
constexpr std::uint16_t kMm2sVSize = 0x50;      // lines, written last
constexpr std::uint16_t kMm2sHSize = 0x54;      // bytes per line
constexpr std::uint16_t kMm2sStride = 0x58;     // frame delay and stride
constexpr std::uint16_t kMm2sStartAddr = 0x5C;  // start address 1
constexpr std::uint16_t kS2mmVSize = 0xA0;      // lines, written last
constexpr std::uint16_t kS2mmHSize = 0xA4;      // bytes per line
constexpr std::uint16_t kS2mmStride = 0xA8;     // frame delay and stride
constexpr std::uint16_t kS2mmStartAddr = 0xAC;  // start address 1

// Control register bits.
constexpr std::uint32_t kCtrlRun = 1u << 0;       // run / stop
constexpr std::uint32_t kCtrlCircular = 1u << 1;  // 1 circular, 0 park
constexpr std::uint32_t kCtrlReset = 1u << 2;
constexpr std::uint32_t kCtrlGenlock = 1u << 3;

// Control values the library writes.
constexpr std::uint32_t kCtrlValueReset = kCtrlReset;                                            // 4
constexpr std::uint32_t kCtrlValueGenlockStopped = kCtrlGenlock;                                 // 8
constexpr std::uint32_t kCtrlValueRunCircularGenlock = kCtrlRun | kCtrlCircular | kCtrlGenlock;  // 11
constexpr std::uint32_t kCtrlValueRunPark = kCtrlRun;                                            // 1

// Field masks.
constexpr std::uint32_t kVSizeMask = 0x1FFFu;   // bits 12..0
constexpr std::uint32_t kHSizeMask = 0xFFFFu;   // bits 15..0
constexpr std::uint32_t kStrideMask = 0xFFFFu;  // bits 15..0

// Offsets are word aligned: the two low bits of any offset are ignored.
constexpr std::uint32_t kOffsetAlignMask = ~0x3u;
}  // namespace vdma

// ---------------------------------------------------------------------------
// Video scaler
// ---------------------------------------------------------------------------
namespace scaler {
constexpr std::uint16_t kControl = 0x000;
constexpr std::uint16_t kHShiftFactor = 0x100;  // 4.20 fixed point
constexpr std::uint16_t kVShiftFactor = 0x104;  // 4.20 fixed point
constexpr std::uint16_t kSourceSize = 0x108;    // width | height << 16
constexpr std::uint16_t kHAperture = 0x10C;     // first col | last col << 16
constexpr std::uint16_t kVAperture = 0x110;     // first line | end line << 16
constexpr std::uint16_t kOutputSize = 0x114;    // width | height << 16

constexpr std::uint32_t kCtrlEnable = 1u << 0;
constexpr std::uint32_t kCtrlRegUpdate = 1u << 1;
constexpr std::uint32_t kCtrlValueBeforeUpdate = kCtrlEnable;                  // 1
constexpr std::uint32_t kCtrlValueAfterUpdate = kCtrlEnable | kCtrlRegUpdate;  // 3

constexpr std::uint32_t kShiftFactorFracBits = 20;
constexpr std::uint32_t kShiftFactorMask = 0xFFFFFFu;  // bits 23..0
constexpr std::uint32_t kFieldMask = 0x1FFFu;          // 13-bit fields
constexpr std::uint32_t kLowShift = 0;                 // bits 12..0
constexpr std::uint32_t kHighShift = 16;               // bits 28..16

constexpr std::uint32_t kOffsetAlignMask = ~0x3u;
}  // namespace scaler

}  // namespace vyxpl

#endif  // VYX_PL_PLREGS_H
