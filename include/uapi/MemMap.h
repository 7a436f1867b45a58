// MemMap.h - the board's physical memory map as the PL and the software share
// it: where the PL's register blocks sit (reached through /dev/mem), and the
// reserved RAM below the 1 GiB boundary (reached through /dev/cache_ops) that
// holds the four frame buffers the PL fills, the physical memory pool and,
// inside the pool, the two HDMI frame stores.
//
//   0x30000000  frame buffers 0..3, 0xA00000 bytes apart
//   0x32800000  memory pool, 27 blocks of 8 MiB; blocks 24 and 25 are the
//               HDMI frame stores, block 26 is spare
//   0x40000000  end of the reserved RAM
//
//   0x43000000  VDMA, 24-bit colour source      (window 0x40000 bytes)
//   0x43010000  VDMA, 8-bit grey source         (window 0x40000 bytes)
//   0x43020000  VDMA, HDMI frame store          (window 0x40000 bytes)
//   0x43C00000  FPGA control block              (156 bytes: registers 0..152)
//   0x43C10000  video scaler                    (window 0x40000 bytes)
//
// This header is part of the hardware contract between the library, the
// sensor plug-in and the virtual board (include/uapi/): every value here is
// written once, and the contract test states each of them again as a literal.
// It depends on <cstdint> only.
#ifndef VYX_UAPI_MEMMAP_H
#define VYX_UAPI_MEMMAP_H

#include <cstdint>

namespace vyxpl {
namespace phys {

// ---- register blocks behind /dev/mem ----
constexpr std::uint32_t kFpgaBase = 0x43C00000u;    // FPGA control block
constexpr std::uint32_t kFpgaMapLength = 156u;      // 39 registers, 0..152
constexpr std::uint32_t kScalerBase = 0x43C10000u;  // video scaler
constexpr std::uint32_t kScalerMapLength = 0x40000u;
constexpr std::uint32_t kVdmaRgb888Base = 0x43000000u;  // 24-bit colour source
constexpr std::uint32_t kVdmaG8Base = 0x43010000u;      // 8-bit grey source
constexpr std::uint32_t kVdmaHdmiBase = 0x43020000u;    // HDMI frame store
constexpr std::uint32_t kVdmaMapLength = 0x40000u;
// Every block decodes a window of this many bytes; the VDMA cores are only
// 64 KiB apart, so a VDMA window also reaches its neighbours' registers.
constexpr std::uint32_t kRegBlockWindow = 0x40000u;

// ---- reserved RAM behind /dev/cache_ops ----
// Four frame buffers the PL fills with acquired frames.
constexpr std::uint32_t kFrameBufferBase = 0x30000000u;
constexpr std::uint32_t kFrameBufferSize = 0x00A00000u;  // 10 MiB apart
constexpr int kFrameBufferCount = 4;
constexpr std::uint32_t kFrameBuffer0 = 0x30000000u;
constexpr std::uint32_t kFrameBuffer1 = 0x30A00000u;
constexpr std::uint32_t kFrameBuffer2 = 0x31400000u;
constexpr std::uint32_t kFrameBuffer3 = 0x31E00000u;

// The physical memory pool, right above the frame buffers, up to 1 GiB.
constexpr std::uint32_t kPoolBase = 0x32800000u;
constexpr std::uint32_t kPoolBytes = 0x0D800000u;       // 216 MiB
constexpr std::uint32_t kPoolBlockBytes = 0x00800000u;  // 8 MiB
constexpr int kPoolBlocks = 27;
constexpr int kPoolBlocksHandedOut = 24;  // blocks 0..23 go to applications

// Two HDMI frame stores, used in turn, one per show: pool blocks 24 and 25.
// Packed 3 bytes per pixel.
constexpr std::uint32_t kShowStore0 = 0x3E800000u;
constexpr std::uint32_t kShowStore1 = 0x3F000000u;
constexpr std::uint32_t kShowStoreBytesPerPixel = 3u;

// The whole reserved RAM: the frame buffers up to the end of the pool.
constexpr std::uint32_t kReservedRamBase = kFrameBufferBase;
constexpr std::uint32_t kReservedRamEnd = 0x40000000u;  // exclusive

// The HDMI screen the display pipeline drives.
constexpr std::uint32_t kScreenWidth = 1280u;
constexpr std::uint32_t kScreenHeight = 720u;

static_assert(kFrameBuffer3 == kFrameBufferBase + 3 * kFrameBufferSize, "frame buffers are evenly spaced");
static_assert(kFrameBufferBase + kFrameBufferCount * kFrameBufferSize <= kPoolBase,
              "the pool follows the buffers");
static_assert(kPoolBlocks * kPoolBlockBytes == kPoolBytes, "the pool is whole blocks");
static_assert(kShowStore0 == kPoolBase + 24 * kPoolBlockBytes && kShowStore1 == kShowStore0 + kPoolBlockBytes,
              "the frame stores are pool blocks 24 and 25");
static_assert(kPoolBase + kPoolBytes == kReservedRamEnd, "the pool ends the reserved RAM");

}  // namespace phys
}  // namespace vyxpl

#endif  // VYX_UAPI_MEMMAP_H
