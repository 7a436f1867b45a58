// ModelCommon.h - small helpers the board's hardware models share: register
// access to the emulated PL blocks and bounds-checked physical memory.
//
// The library programs the PL with plain stores into shared memory; the
// models read those words with atomic loads and consume one-shot "pulse"
// registers with an atomic exchange, so that a store landing between the
// model's read and its clearing is never lost.
#ifndef VYX_MODEL_COMMON_H
#define VYX_MODEL_COMMON_H

#include <cstddef>
#include <cstdint>

#include "BoardModel.h"

namespace vb {
namespace model {

inline uint32_t loadReg(volatile uint32_t* block, uint32_t offset)
{
    return __atomic_load_n(&block[offset / 4], __ATOMIC_ACQUIRE);
}

inline void storeReg(volatile uint32_t* block, uint32_t offset, uint32_t value)
{
    __atomic_store_n(&block[offset / 4], value, __ATOMIC_RELEASE);
}

// Reads a pulse register and clears it in one step.
inline uint32_t consumeReg(volatile uint32_t* block, uint32_t offset)
{
    return __atomic_exchange_n(&block[offset / 4], 0u, __ATOMIC_ACQ_REL);
}

// Pointer to `bytes` bytes of emulated RAM at physical address `phys`, or
// nullptr when the range is not entirely inside the reserved RAM.  A DMA
// engine pointed elsewhere would raise a bus error; the models then simply
// move no data.
inline uint8_t* ramRange(const HardwareView& hw, uint64_t phys, uint64_t bytes)
{
    using vyxpl::phys::kReservedRamBase;
    using vyxpl::phys::kReservedRamEnd;
    if (hw.ram == nullptr || phys < kReservedRamBase || phys > kReservedRamEnd) return nullptr;
    if (bytes > kReservedRamEnd - phys) return nullptr;
    return hw.ram + (phys - kReservedRamBase);
}

}  // namespace model
}  // namespace vb

#endif
