// ModelDefaults.cpp - stand-in hardware models, used until (and unless) the
// real models in model/ are linked in: their definitions replace these weak
// ones.  The stand-in sensor is a plain 128-word register file on bus 0 that
// returns what was written; bus 1 carries no device and reads as zero.  The
// stand-in PL does nothing on its own.
#include <atomic>
#include <cstdint>

#include "BoardModel.h"

namespace vb {

namespace {
constexpr int kStandInRegisters = 128;   // 7-bit register addresses
std::atomic<uint16_t> g_standInRegs[kStandInRegisters];
}  // namespace

__attribute__((weak)) void vb_model_start(const HardwareView&) {}

__attribute__((weak)) uint16_t vb_model_sensor_read(int bus, uint8_t addr) {
    if (bus != 0 || addr >= kStandInRegisters) return 0;
    return g_standInRegs[addr].load();
}

__attribute__((weak)) void vb_model_sensor_write(int bus, uint8_t addr, uint16_t value) {
    if (bus != 0 || addr >= kStandInRegisters) return;
    g_standInRegs[addr].store(value);
}

__attribute__((weak)) void vb_model_gpio_input(int, bool) {}

__attribute__((weak)) bool vb_model_save_screen_png(const char*) { return false; }

__attribute__((weak)) uint64_t vb_model_frames_delivered() { return 0; }

}  // namespace vb
