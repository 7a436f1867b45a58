// Nodes.h - the board's device nodes and what their drivers accept: the node
// paths, the request numbers, the capture driver's interrupt codes and the
// GPIO driver's lines.
//
//   /dev/mem              the PL's register blocks, mapped at offsets equal
//                         to their physical addresses (MemMap.h)
//   /dev/cache_ops        the reserved RAM, mapped at offsets equal to the
//                         physical addresses; takes request kCacheSync (type
//                         0xF7, number 4, no direction, no size) with a
//                         12-byte record after an address translation
//   /dev/spidev32766.0/.1 the sensor's control port on SPI bus 0 and 1
//                         (kernel spidev: write() of frames, and one
//                         SPI_IOC_MESSAGE(1) transfer, request 0x40206B00,
//                         for a read; linux/spi/spidev.h defines it)
//   /dev/vyx_capture_0    readable and selectable; one read() returns the
//                         text code of one capture interrupt: "169" for
//                         camera set 0 up to "172" for set 3
//   /dev/misc_vyx_gpio    ten lines; one request per line and direction,
//                         the argument points to one 32-bit value
//
// This header is part of the hardware contract between the library and the
// virtual board (include/uapi/); the contract test states every value again
// as a literal.  Dependency-free.
#ifndef VYX_UAPI_NODES_H
#define VYX_UAPI_NODES_H

namespace vyxnode {

// ---- paths ----
constexpr char kMemPath[] = "/dev/mem";
constexpr char kCacheOpsPath[] = "/dev/cache_ops";
constexpr char kSpi0Path[] = "/dev/spidev32766.0";
constexpr char kSpi1Path[] = "/dev/spidev32766.1";
constexpr char kCapturePath[] = "/dev/vyx_capture_0";
constexpr char kGpioPath[] = "/dev/misc_vyx_gpio";

// ---- /dev/cache_ops ----
constexpr unsigned long kCacheSync = 0xF704UL;  // cache maintenance after a translation
constexpr int kCacheSyncRecordBytes = 12;       // the record the request points to

// ---- /dev/vyx_capture_0 ----
constexpr int kCaptureSets = 4;
// Interrupt code of camera set i; each read() returns one, with its
// terminating zero.
constexpr const char* kCaptureCode[kCaptureSets] = {"169", "170", "171", "172"};

// ---- /dev/misc_vyx_gpio ----
constexpr unsigned int kGpioLines = 10;       // lines 0..9
constexpr unsigned int kGpioFirstOutput = 3;  // lines 0..2 are inputs only
// Reads of the input lines 0, 1, 2 (request 2 belongs to the driver and is
// never issued by the library).
constexpr unsigned long kGpioReadInput[kGpioFirstOutput] = {0UL, 1UL, 3UL};
// Reads and writes of lines 3..9: base + (line - 3).
constexpr unsigned long kGpioReadBase = 0x10000UL;
constexpr unsigned long kGpioWriteBase = 0x20000UL;

}  // namespace vyxnode

#endif  // VYX_UAPI_NODES_H
