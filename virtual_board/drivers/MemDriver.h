// MemDriver.h - the board's memory: /dev/mem (the PL's register blocks) and
// /dev/cache_ops (the reserved RAM), and the board's own view of both.
#ifndef VYX_BOARD_DRIVERS_MEMDRIVER_H
#define VYX_BOARD_DRIVERS_MEMDRIVER_H

#include <cstddef>
#include <cstdint>

#include "NodeOps.h"

namespace vb {

extern const NodeOps kMemNode;
extern const NodeOps kCacheOpsNode;

namespace mem {

// The hardware as the model sees it; valid once the board is up.
HardwareView hardware();
uint32_t blockBase(Block block);
// Word at a byte offset of a register block, nullptr outside the block.
volatile uint32_t* reg(Block block, uint32_t offset);
// Reserved RAM at a physical address, nullptr outside it.
uint8_t* phys(uint32_t address);
bool inRam(uint64_t address, size_t bytes);
uint64_t cacheSyncs();
int liveMappings();
int liveMappings(Node node);

}  // namespace mem
}  // namespace vb

#endif
