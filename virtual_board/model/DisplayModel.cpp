// DisplayModel.cpp - source VDMA, scaler, HDMI frame store and screen (see
// DisplayModel.h for the model).
#include "DisplayModel.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ModelCommon.h"
#include "PLRegs.h"

namespace vb {
namespace model {

namespace fpga = vyxpl::fpga;
namespace vdma = vyxpl::vdma;
namespace scaler = vyxpl::scaler;

namespace {

uint32_t lowField(uint32_t word) { return (word >> scaler::kLowShift) & scaler::kFieldMask; }
uint32_t highField(uint32_t word) { return (word >> scaler::kHighShift) & scaler::kFieldMask; }

// The image a source VDMA streams into the scaler.
struct SourceStream {
    const uint8_t* base = nullptr;   // first line, nullptr when no data flows
    uint32_t pixels = 0;             // pixels per line
    uint32_t lines = 0;
    size_t pitch = 0;                // bytes from one line to the next
    uint32_t bytesPerPixel = 1;
};

SourceStream sourceStream(const HardwareView& hw)
{
    SourceStream s;
    const bool colour = (loadReg(hw.fpga, fpga::kShowSource) & fpga::kShowSourceRgb888) != 0;
    volatile uint32_t* ch = colour ? hw.vdmaRgb : hw.vdmaG8;
    if ((loadReg(ch, vdma::kMm2sControl) & vdma::kCtrlRun) == 0) return s;
    s.bytesPerPixel = colour ? 3 : 1;
    s.pixels = loadReg(ch, vdma::kMm2sHSize) & vdma::kHSizeMask;
    s.lines = loadReg(ch, vdma::kMm2sVSize) & vdma::kVSizeMask;
    s.pitch = static_cast<size_t>(loadReg(ch, vdma::kMm2sStride) & vdma::kStrideMask) * s.bytesPerPixel;
    const uint32_t start = loadReg(ch, vdma::kMm2sStartAddr);
    if (s.pixels == 0 || s.lines == 0) return s;
    // The whole streamed image must lie in RAM: the last line ends at
    // start + (lines - 1) * pitch + pixels * bytesPerPixel.
    const uint64_t span = static_cast<uint64_t>(s.lines - 1) * s.pitch +
                          static_cast<uint64_t>(s.pixels) * s.bytesPerPixel;
    s.base = ramRange(hw, start, span);
    return s;
}

}  // namespace

bool runShowPipeline(const HardwareView& hw, StoreWindow* written)
{
    const SourceStream src = sourceStream(hw);
    if (src.base == nullptr) return false;

    if ((loadReg(hw.scaler, scaler::kControl) & scaler::kCtrlEnable) == 0) return false;
    const uint64_t hsf = loadReg(hw.scaler, scaler::kHShiftFactor) & scaler::kShiftFactorMask;
    const uint64_t vsf = loadReg(hw.scaler, scaler::kVShiftFactor) & scaler::kShiftFactorMask;
    const uint32_t srcSize = loadReg(hw.scaler, scaler::kSourceSize);
    const uint32_t srcW = std::min(lowField(srcSize), src.pixels);
    const uint32_t srcH = std::min(highField(srcSize), src.lines);
    const uint32_t firstCol = lowField(loadReg(hw.scaler, scaler::kHAperture));
    const uint32_t firstLine = lowField(loadReg(hw.scaler, scaler::kVAperture));
    const uint32_t outSize = loadReg(hw.scaler, scaler::kOutputSize);
    const uint32_t outW = lowField(outSize), outH = highField(outSize);

    if ((loadReg(hw.vdmaHdmi, vdma::kS2mmControl) & vdma::kCtrlRun) == 0) return false;
    StoreWindow w;
    w.address = loadReg(hw.vdmaHdmi, vdma::kS2mmStartAddr);
    w.hsize = loadReg(hw.vdmaHdmi, vdma::kS2mmHSize) & vdma::kHSizeMask;
    w.stride = loadReg(hw.vdmaHdmi, vdma::kS2mmStride) & vdma::kStrideMask;
    w.vsize = loadReg(hw.vdmaHdmi, vdma::kS2mmVSize) & vdma::kVSizeMask;

    const uint32_t lines = std::min(w.vsize, outH);
    const uint32_t pixels = std::min(w.hsize / kScreenBytesPerPixel, outW);
    // Source column of every output column, computed once per show.
    std::vector<uint32_t> column(pixels);
    for (uint32_t ox = 0; ox < pixels; ++ox)
        column[ox] = firstCol + static_cast<uint32_t>((ox * hsf) >> scaler::kShiftFactorFracBits);

    for (uint32_t oy = 0; oy < lines; ++oy) {
        uint8_t* out = ramRange(hw, static_cast<uint64_t>(w.address) + static_cast<uint64_t>(oy) * w.stride,
                                static_cast<uint64_t>(pixels) * kScreenBytesPerPixel);
        if (out == nullptr) break;
        const uint64_t sy = firstLine + ((oy * vsf) >> scaler::kShiftFactorFracBits);
        const uint8_t* line = sy < srcH ? src.base + sy * src.pitch : nullptr;
        for (uint32_t ox = 0; ox < pixels; ++ox, out += kScreenBytesPerPixel) {
            const uint32_t sx = column[ox];
            if (line == nullptr || sx >= srcW) {
                out[0] = out[1] = out[2] = 0;
            } else if (src.bytesPerPixel == 1) {
                out[0] = out[1] = out[2] = line[sx];
            } else {
                std::memcpy(out, line + static_cast<size_t>(sx) * 3, 3);
            }
        }
    }
    if (written != nullptr) *written = w;
    return true;
}

ReadSide readSide(const HardwareView& hw)
{
    ReadSide rs;
    rs.running = (loadReg(hw.vdmaHdmi, vdma::kMm2sControl) & vdma::kCtrlRun) != 0;
    rs.window.address = loadReg(hw.vdmaHdmi, vdma::kMm2sStartAddr);
    rs.window.hsize = loadReg(hw.vdmaHdmi, vdma::kMm2sHSize) & vdma::kHSizeMask;
    rs.window.stride = loadReg(hw.vdmaHdmi, vdma::kMm2sStride) & vdma::kStrideMask;
    rs.window.vsize = loadReg(hw.vdmaHdmi, vdma::kMm2sVSize) & vdma::kVSizeMask;
    rs.winStart = loadReg(hw.fpga, fpga::kShowWinStart);
    rs.winEnd = loadReg(hw.fpga, fpga::kShowWinEnd);
    return rs;
}

void composeScreen(const HardwareView& hw, const ReadSide& rs, uint8_t* screen)
{
    std::memset(screen, 0, kScreenBytes);
    if (!rs.running) return;
    const uint32_t x0 = (rs.winStart & fpga::kShowWinColMask) >> fpga::kShowWinColShift;
    const uint32_t y0 = (rs.winStart & fpga::kShowWinLineMask) >> fpga::kShowWinLineShift;
    const uint32_t x1 = std::min<uint32_t>((rs.winEnd & fpga::kShowWinColMask) >> fpga::kShowWinColShift,
                                           kScreenWidth);
    const uint32_t yLast = std::min<uint32_t>((rs.winEnd & fpga::kShowWinLineMask) >> fpga::kShowWinLineShift,
                                              kScreenHeight - 1);
    if (x0 >= x1 || y0 > yLast) return;
    // Columns of the window the read channel actually delivers pixels for.
    const uint32_t pixels = std::min(x1 - x0, rs.window.hsize / kScreenBytesPerPixel);
    const uint32_t lines = std::min(yLast - y0 + 1, rs.window.vsize);
    for (uint32_t line = 0; line < lines; ++line) {
        const uint8_t* in = ramRange(hw, static_cast<uint64_t>(rs.window.address) +
                                             static_cast<uint64_t>(line) * rs.window.stride,
                                     static_cast<uint64_t>(pixels) * kScreenBytesPerPixel);
        if (in == nullptr) break;
        uint8_t* out = screen + (static_cast<size_t>(y0 + line) * kScreenWidth + x0) * kScreenBytesPerPixel;
        for (uint32_t x = 0; x < pixels; ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
}

ShowRegisters ShowRegisters::copy(const HardwareView& hw) {
    ShowRegisters r;
    for (int i = 0; i < kWords; ++i) {
        const uint32_t offset = static_cast<uint32_t>(i) * 4;
        r.fpga[i] = loadReg(hw.fpga, offset);
        r.scaler[i] = loadReg(hw.scaler, offset);
        r.vdmaRgb[i] = loadReg(hw.vdmaRgb, offset);
        r.vdmaG8[i] = loadReg(hw.vdmaG8, offset);
        r.vdmaHdmi[i] = loadReg(hw.vdmaHdmi, offset);
    }
    return r;
}

HardwareView ShowRegisters::view(uint8_t* ram) {
    return HardwareView{fpga, scaler, vdmaRgb, vdmaG8, vdmaHdmi, ram};
}

Display::Display(const HardwareView& hw) : m_hw(hw) {}

void Display::show(ShowRegisters& registers) {
    StoreWindow written;
    const bool wrote = runShowPipeline(registers.view(m_hw.ram), &written);
    std::lock_guard<std::mutex> g(m_lock);
    ++m_shows;
    if (wrote) {
        m_lastWritten = written;
        m_haveWritten = true;
        m_wroteSinceCompose = true;
        // Not on the screen until the next refresh composes it: a wait for
        // this show must not take the previous show's state for its own.
        m_showingLastWrite = false;
    }
}

void Display::refresh() {
    const ReadSide rs = readSide(m_hw);
    bool wrote;
    {
        std::lock_guard<std::mutex> g(m_lock);
        wrote = m_wroteSinceCompose;
        m_wroteSinceCompose = false;
    }
    const bool recompose = wrote || !m_composed || rs != m_shownSide;
    if (recompose) {
        composeScreen(m_hw, rs, m_work.data());
        m_shownSide = rs;
        m_composed = true;
    }
    std::lock_guard<std::mutex> g(m_lock);
    if (recompose) {
        m_screen.swap(m_work);
        ++m_screenUpdates;
    }
    m_showingLastWrite = m_haveWritten && m_shownSide.running && m_shownSide.window == m_lastWritten;
}

uint64_t Display::shows() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_shows;
}

uint64_t Display::screenUpdates() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_screenUpdates;
}

bool Display::showingLastWrite() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_showingLastWrite;
}

std::vector<uint8_t> Display::screen() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_screen;
}

uint32_t Display::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= kScreenWidth || y >= kScreenHeight) return 0;
    std::lock_guard<std::mutex> g(m_lock);
    const uint8_t* p = &m_screen[(static_cast<size_t>(y) * kScreenWidth + x) * kScreenBytesPerPixel];
    return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}

}  // namespace model
}  // namespace vb
