// BoardModel.h - the seam between the virtual board's drivers (the device
// nodes) and its hardware models (the PL's acquisition and display, the
// Q210B sensor).
//
// The model registers itself with the board through a ModelOps structure
// when the library is loaded; the board starts it on the first use of a
// node and hands it the hardware (register blocks and RAM) and a BoardPort
// through which the PL raises its interrupt.  Without a registered model the
// nodes still work, but nothing stands behind them: sensor registers read 0
// and no frame is ever produced.  Everything runs inside the program's process.
#ifndef VYX_BOARD_MODEL_H
#define VYX_BOARD_MODEL_H

#include <cstddef>
#include <cstdint>

#include "MemMap.h"

namespace vb {

// The board's own view of the emulated hardware.  The pointers stay valid
// for the life of the process and alias the same memory the program maps.
struct HardwareView {
    volatile uint32_t* fpga;      // FPGA control block words
    volatile uint32_t* scaler;    // video scaler block words
    volatile uint32_t* vdmaRgb;   // colour VDMA block words
    volatile uint32_t* vdmaG8;    // grey VDMA block words
    volatile uint32_t* vdmaHdmi;  // HDMI VDMA block words
    uint8_t* ram;                 // physical address p lives at ram + (p - vyxpl::phys::kReservedRamBase)
};

// What the board offers the model.
struct BoardPort {
    // Queue one capture interrupt for camera set 0..3 ("169".."172").  False
    // when the capture driver refuses it (fault injection, a reader that has
    // fallen far behind).
    bool (*raiseCaptureInterrupt)(int set);
    // Drive a GPIO input line from outside the program (the world on the
    // trigger input): the level a read of the line sees, and the model's
    // gpioInput, as vb::setGpioInput does.
    void (*driveGpioInput)(int line, bool level);
};

// Program actions the model may trace.
enum class BoardEvent : int {
    CaptureRead,  // a read of the capture node returned a code
    GpioOutput,   // a GPIO output line was written (line, level)
};

// What the model offers the board.
struct ModelOps {
    // Once, on the first use of a node.
    void (*start)(const HardwareView& hw, const BoardPort& port);
    // SPI: bus 0 carries the Q210B; bus 1 carries nothing (reads give 0).
    uint16_t (*sensorRead)(int bus, uint8_t addr);
    void (*sensorWrite)(int bus, uint8_t addr, uint16_t value);
    // A GPIO input line changed level.
    void (*gpioInput)(int line, bool level);
    // The program called into the board (its capture node, /dev/cache_ops)
    // or is about to block: the PL looks at its registers now, so that a
    // store made just before is seen without waiting for the PL's own pace.
    void (*sync)();
    // Write the emulated HDMI screen as a PNG file; false on failure.
    bool (*saveScreenPng)(const char* path);
    // Frames delivered (written and announced by an interrupt) so far.
    uint64_t (*framesDelivered)();
    // What the program did on a node, for the model's signal trace.
    void (*boardEvent)(BoardEvent what, int line, bool level);
    // The run ends (the launcher is about to end the program): write out
    // what is still buffered.
    void (*finish)();
    // A thread of the program is about to block on the board or a
    // semaphore at nowNs (the board's clock): until when it should poll
    // instead, because a frame falls due sooner than a sleeping thread is
    // reliably woken; 0: it sleeps.  Then how long it polled.
    int64_t (*pollUntil)(int64_t nowNs);
    void (*polled)(int64_t ns);
};

// Called once by the model, before the program runs.
void registerModel(const ModelOps* ops);

}  // namespace vb

#endif
