// DisplayModel.h - the PL's HDMI display path as the virtual board emulates
// it.
//
//   source VDMA (grey 0x43010000 or colour 0x43000000, chosen by FPGA
//   register 84)  ->  video scaler (0x43C10000)  ->  HDMI VDMA S2MM channel
//   (0x43020000) writes the frame store  ->  HDMI VDMA MM2S channel reads the
//   store  ->  FPGA registers 128/132 place it on the 1280 x 720 screen.
//
// Show (runShowPipeline), evaluated when the library strobes FPGA register
// 88 between programming the HDMI write and read channels:
//   * Source: the selected VDMA's MM2S channel, when running (control bit 0),
//     streams vsize lines of hsize pixels from its start address, line pitch
//     = stride.  The grey channel counts bytes (1 byte per pixel).  The colour
//     channel of this PL carries 24-bit pixels (bytes B, G, R in memory, the
//     layout of the SDK's 24-bit images) and counts its horizontal size and
//     stride in pixels, which is how the library programs it (hsize = stride
//     = image width for both channels).
//   * Scaler, when enabled (control bit 0): output pixel (ox, oy) of the
//     output size (0x114) takes source pixel
//         (first column + (ox * hsf) >> 20, first line + (oy * vsf) >> 20)
//     (nearest neighbour, 4.20 shift factors 0x100/0x104, apertures
//     0x10C/0x110).  Source pixels outside both the source size (0x108) and
//     the streamed image are black.  Grey becomes B = G = R.
//   * HDMI S2MM, when running: writes min(vsize, output height) lines of the
//     scaler output, packed 3 bytes per pixel (B, G, R), at most hsize bytes
//     per line, line pitch = stride, from its start address.
//   A stopped or unprogrammed stage moves no data and leaves the store as it
//   was; so does a DMA address outside the reserved RAM.
//
// A show runs with the registers as they were at the strobe: the engine
// (PlTiming.h) copies the words the pipeline reads when it takes the strobe,
// and the library may already program the next show meanwhile.
//
// Screen (composeScreen), recomputed whenever the read side changes: while the
// HDMI MM2S channel runs, its vsize lines of hsize bytes from its start
// address (pitch = stride, B, G, R pixels) appear in the window of FPGA
// registers 128
// (first column, first line) and 132 (end column exclusive, last line
// inclusive), clipped to the screen; everything else is black.
#ifndef VYX_MODEL_DISPLAY_MODEL_H
#define VYX_MODEL_DISPLAY_MODEL_H

#include <cstdint>
#include <mutex>
#include <vector>

#include "BoardModel.h"

namespace vb {
namespace model {

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 720;
constexpr int kScreenBytesPerPixel = 3;
constexpr size_t kScreenBytes = static_cast<size_t>(kScreenWidth) * kScreenHeight * kScreenBytesPerPixel;

// What the HDMI write channel last stored, or the read channel reads.
struct StoreWindow {
    uint32_t address = 0, hsize = 0, stride = 0, vsize = 0;
    bool operator==(const StoreWindow& o) const
    {
        return address == o.address && hsize == o.hsize && stride == o.stride && vsize == o.vsize;
    }
};

// Everything the screen depends on besides the frame store's bytes.
struct ReadSide {
    bool running = false;
    StoreWindow window;
    uint32_t winStart = 0, winEnd = 0;
    bool operator==(const ReadSide& o) const
    {
        return running == o.running && window == o.window && winStart == o.winStart && winEnd == o.winEnd;
    }
    bool operator!=(const ReadSide& o) const { return !(*this == o); }
};

// Runs source VDMA, scaler and HDMI write channel once.  Returns true when
// the write channel stored a picture, described by *written.
bool runShowPipeline(const HardwareView& hw, StoreWindow* written);

ReadSide readSide(const HardwareView& hw);
// Fills screenRgb (kScreenBytes, R, G, B per pixel) from the read side.
void composeScreen(const HardwareView& hw, const ReadSide& rs, uint8_t* screenRgb);

// The register words a show reads, copied at the strobe.
struct ShowRegisters {
    static constexpr int kWords = 0x120 / 4;  // every block's registers up to the scaler's 0x114
    uint32_t fpga[kWords], scaler[kWords], vdmaRgb[kWords], vdmaG8[kWords], vdmaHdmi[kWords];
    static ShowRegisters copy(const HardwareView& hw);
    // The copy as hardware, with the real RAM behind it.
    HardwareView view(uint8_t* ram);
};

// The display path's state: the HDMI screen and what the last show wrote.
class Display {
public:
    explicit Display(const HardwareView& hw);
    // PL thread: a strobe, run with the registers copied at that moment.
    void show(ShowRegisters& registers);
    // PL thread: recomposes the screen when the read side changed.
    void refresh();

    // Any thread.
    uint64_t shows() const;
    uint64_t screenUpdates() const;
    // The screen shows the frame store the last show wrote.
    bool showingLastWrite() const;
    std::vector<uint8_t> screen() const;
    uint32_t pixel(int x, int y) const;
    void lockForFork() { m_lock.lock(); }
    void unlockAfterFork() { m_lock.unlock(); }

private:
    HardwareView m_hw;
    // PL thread only.
    ReadSide m_shownSide;
    bool m_composed = false;
    bool m_wroteSinceCompose = false;
    std::vector<uint8_t> m_work = std::vector<uint8_t>(kScreenBytes, 0);

    mutable std::mutex m_lock;  // guards what follows
    uint64_t m_shows = 0, m_screenUpdates = 0;
    bool m_haveWritten = false;
    StoreWindow m_lastWritten;
    bool m_showingLastWrite = false;
    std::vector<uint8_t> m_screen = std::vector<uint8_t>(kScreenBytes, 0);
};

}  // namespace model
}  // namespace vb

#endif
