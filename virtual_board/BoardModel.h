// BoardModel.h - the seam between the virtual board's device-node layer
// (interposition, memory objects, spidev, interrupt and GPIO nodes) and its
// hardware models (PL acquisition and display, the Q210B sensor).
//
// The node layer owns the kernel objects and calls the model through the
// vb_model_* functions; the model calls back into the node layer through the
// vb_node_* functions.  Everything here runs inside the process under test.
#ifndef VYX_BOARD_MODEL_H
#define VYX_BOARD_MODEL_H

#include <cstddef>
#include <cstdint>

#include "MemMap.h"

namespace vb {

// The board's own view of the emulated hardware.  The pointers stay valid
// for the life of the process and alias the same memory the library maps.
struct HardwareView {
    volatile uint32_t* fpga;      // FPGA control block words
    volatile uint32_t* scaler;    // video scaler block words
    volatile uint32_t* vdmaRgb;   // colour VDMA block words
    volatile uint32_t* vdmaG8;    // grey VDMA block words
    volatile uint32_t* vdmaHdmi;  // HDMI VDMA block words
    uint8_t* ram;                 // physical address p lives at ram + (p - vyxpl::phys::kReservedRamBase)
};

// ---- provided by the model, called by the node layer ----
void vb_model_start(const HardwareView& hw);     // once, when the board comes up
// SPI: bus 0 carries the Q210B; bus 1 carries nothing (reads give 0).
uint16_t vb_model_sensor_read(int bus, uint8_t addr);
void vb_model_sensor_write(int bus, uint8_t addr, uint16_t value);
// A GPIO input line changed level (tests drive the external trigger this way).
void vb_model_gpio_input(int line, bool level);
// Write the emulated 1280 x 720 HDMI screen as a PNG file; false on failure.
bool vb_model_save_screen_png(const char* path);
// Frames the PL has delivered (written and announced by an interrupt) so far;
// the launcher uses it to end a bounded run.
uint64_t vb_model_frames_delivered();

// ---- provided by the node layer, called by the model ----
// Queue one capture interrupt for camera set 0..3 ("169".."172").  Returns
// false when interrupts are being withheld by fault injection.
bool vb_node_raise_capture_interrupt(int set);

}  // namespace vb

#endif
