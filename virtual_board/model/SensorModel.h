// SensorModel.h - the Q210B image sensor as the virtual board emulates it:
// its register file (7-bit addresses, 16-bit values) and its optics, i.e.
// how the register settings turn the scene in front of the lens into the
// image the chip sends to the PL.
//
// Register file
//   Every address 0..127 holds a 16-bit value and reads back what was last
//   written.  Power-on values are chosen so that the start-up table the
//   library writes produces the clocks of the chip's data sheet example:
//     reg  0  0x5132  chip identification (read only in spirit, not enforced)
//     reg  4  0x0052  line length L = 82 units of 8 pixel clocks
//     reg  6  0x0000  H = bits 15..8 = 0
//     reg  7  0x0E01  control: no mirror, no flip, flash not inverted
//     reg  8  0x0F21  clocks: fA = fB = PLL, D4 = 2, D5 = 1, pixel clock from fB
//     reg  9  0x634B  PLL: N = 75, M = 3, P = 3  ->  456 MHz
//     reg 10  0x0000  readout: no halving, no trimming
//     reg 11  0x0100  K taken from reg 73 bits 15..8; flash disabled
//     reg 14  0x21F1  exposure 8689 lines (25 ms at the start-up clocks)
//     reg 18  0x0006  first row 0 (+6)
//     reg 19  0x0400  1024 rows
//     reg 20  0x0006  first column 0 (+6)
//     reg 21  0x0500  1280 columns
//     reg 26  0x0000  row and column address mode 0 (no division)
//     reg 54  0x1010  gain code 16 in both bytes (unity gain)
//     reg 55  0x1010  gain code 16 in both bytes (unity gain)
//     reg 58  0x80F0  oscillator trim T = 112  ->  fOsc ~ 142,686,368 Hz
//     reg 73  0x0010  K candidates: bits 15..8 = 0 (used), bits 7..0 = 16
//   every other register powers on as 0.  With these values the library's
//   clock arithmetic gives fPll 456 MHz, fPix 228 MHz and L = 82.
//
// Optics (what a frame contains)
//   The pixel array is 1280 x 1024.  The scene (a deterministic test pattern
//   or a user image, see Scene.h) gives one grey value per array pixel at
//   unit brightness.  A frame is formed like this:
//   1. Window: first column = reg20 - 6, first row = reg18 - 6, W = reg21
//      bits 10..0 columns and Hr = reg19 bits 10..0 rows.
//   2. Address modes: with the column code U = reg26 bits 15..8, output
//      column p of the window covers array columns
//      [p*(U+8)/8, (p+1)*(U+8)/8) (integer division); rows likewise with the
//      row code reg26 bits 7..0.  The covered array pixels are averaged
//      (binning, rounded to nearest), so codes 0x00/0x08/0x10/0x18/0x38
//      average blocks of 1/2/3/4/8.
//   3. Readout options (reg10): bit 0 halves the image by averaging pairs of
//      binned columns and rows; bit 5 drops the first two and the last two
//      columns and rows.  The delivered size is exactly the size the driver
//      computes: cols = (W*8)/(U+8) (or ((W*4)/(U+8))*2 when halving), then
//      (cols - 4*trim) >> halving.
//   4. Mirror (reg7 bit 7) reverses each row, flip (reg7 bit 6) the row
//      order.
//   5. Brightness: value * (exposure time / 25 ms) * (gain / 16), rounded to
//      nearest and saturating at 255, where exposure time = reg14 lines *
//      L * 8 / fPix and gain is the mean of the four bytes of regs 54 and 55.
//      The start-up settings (25 ms, gain 16) therefore deliver the scene
//      unchanged.
//   Timing: reading a frame out takes readout rows + 16 blanking lines;
//   in free run exposure and readout overlap, so a frame occupies
//   max(readout rows + 16, exposure lines + 1) line times: the chip's frame
//   period (25 ms, 40 fps, at the start-up settings).  A triggered frame
//   takes its exposure and then its readout.
#ifndef VYX_MODEL_SENSOR_MODEL_H
#define VYX_MODEL_SENSOR_MODEL_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "Q210BRegs.h"

namespace vb {
namespace model {

constexpr int kSensorRegisterCount = 128;   // 7-bit addresses
constexpr int kArrayColumns = static_cast<int>(q210b::kArrayWidth);
constexpr int kArrayRows = static_cast<int>(q210b::kArrayHeight);

// What the model adds to the chip's register map (Q210BRegs.h).
namespace chip {
constexpr uint8_t kRegChipId = 0;              // identification word, not interpreted
constexpr double kReferenceExposureS = 0.025;  // exposure giving unit brightness
constexpr double kUnityGainCode = 16.0;
constexpr int kBlankingLines = 16;  // line times between two frames' readouts
}  // namespace chip

using SensorRegisters = std::array<uint16_t, kSensorRegisterCount>;

// Power-on register values (table above).
SensorRegisters sensorPowerOnRegisters();

// Clocks the register settings produce, in Hz (0 for a source set to none).
struct SensorClocks {
    double osc = 0, pll = 0, a = 0, b = 0, pix = 0, divided = 0;
};
SensorClocks sensorClocks(const SensorRegisters& regs);

// Geometry and timing of the frame the settings produce.
struct SensorReadout {
    int width = 0;             // delivered columns
    int height = 0;            // delivered rows
    int firstColumn = 0;       // window origin in the array (may be off-array)
    int firstRow = 0;
    int columnCode = 0;        // address codes (U, row code)
    int rowCode = 0;
    bool halve = false, trim = false, mirror = false, flip = false;
    double lineTimeS = 0;      // L * 8 / fPix (0 without a pixel clock)
    double exposureS = 0;      // exposure lines * line time
    double gain = 0;           // mean gain code / 16
    double brightness = 0;     // exposure / 25 ms * gain
    double readoutS = 0;       // reading one frame out: (rows + blanking) line times
    double frameTimeS = 0;     // free-running frame period (0 without a clock)
};
SensorReadout sensorReadout(const SensorRegisters& regs);

// The image these settings form from the scene: SensorImage.h.

// The chip's register file.  Thread-safe: SPI traffic comes from the
// application's threads, frames are formed on the board's PL thread.
class SensorChip {
public:
    SensorChip() : m_regs(sensorPowerOnRegisters()) {}
    uint16_t read(uint8_t addr) const;
    void write(uint8_t addr, uint16_t value);
    SensorRegisters snapshot() const;
    void lockForFork() { m_lock.lock(); }
    void unlockAfterFork() { m_lock.unlock(); }

private:
    mutable std::mutex m_lock;
    SensorRegisters m_regs;
};

}  // namespace model
}  // namespace vb

#endif
