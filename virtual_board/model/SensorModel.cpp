// SensorModel.cpp - register file, clocks, frame geometry and timing of the
// Q210B as the virtual board emulates it (see SensorModel.h for the model;
// the image itself is formed in SensorImage.cpp).
#include "SensorModel.h"

#include <algorithm>
#include <cmath>

namespace vb {
namespace model {

using namespace q210b;

SensorRegisters sensorPowerOnRegisters()
{
    SensorRegisters r{};
    r[chip::kRegChipId] = 0x5132;
    r[kRegLineLength] = 0x0052;
    r[kRegLineTermH] = 0x0000;
    r[kRegControl] = 0x0E01;
    r[kRegClockSelect] = 0x0F21;
    r[kRegPll] = 0x634B;
    r[kRegReadout] = 0x0000;
    r[kRegLineOptions] = 0x0100;
    r[kRegExposure] = 0x21F1;
    r[kRegFirstRow] = static_cast<uint16_t>(kWindowOrigin);
    r[kRegRowCount] = kArrayRows;
    r[kRegFirstCol] = static_cast<uint16_t>(kWindowOrigin);
    r[kRegColCount] = kArrayColumns;
    r[kRegAddressMode] = 0x0000;
    r[kRegGainA] = 0x1010;
    r[kRegGainB] = 0x1010;
    r[kRegOscTrim] = 0x80F0;
    r[kRegLineTermK] = 0x0010;
    return r;
}

uint16_t SensorChip::read(uint8_t addr) const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_regs[addr & kSpiAddrMask];
}

void SensorChip::write(uint8_t addr, uint16_t value)
{
    std::lock_guard<std::mutex> g(m_lock);
    m_regs[addr & kSpiAddrMask] = value;
}

SensorRegisters SensorChip::snapshot() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_regs;
}

SensorClocks sensorClocks(const SensorRegisters& regs)
{
    SensorClocks c;
    const unsigned trim = regs[kRegOscTrim] & kOscTrimMask;
    c.osc = 1.0 / (5.3404e-7 / (trim + 36.0) + 3.4e-9);
    const unsigned pll = regs[kRegPll];
    const double n = (pll & 0xFFu) + 1.0;
    const double m = ((pll >> 8) & 0x1Fu) + 1.0;
    const double p = ((pll >> 13) & 0x3u) + 1.0;
    c.pll = (2.0 * n) / (2.0 * m * p) * static_cast<double>(kRefClockHz);

    const unsigned clk = regs[kRegClockSelect];
    auto source = [&](unsigned sel) {
        switch (sel & 0x3u) {
        case 1: return static_cast<double>(kRefClockHz);
        case 2: return c.osc;
        case 3: return c.pll;
        default: return 0.0;   // no source selected
        }
    };
    c.a = source(clk >> 10);
    c.b = source(clk >> 8);
    const unsigned d5 = (clk & 0xFu) == 0 ? 1u : (clk & 0xFu);
    const unsigned d4 = ((clk >> 4) & 0xFu) == 0 ? 1u : ((clk >> 4) & 0xFu);
    c.divided = c.b / d5;
    c.pix = ((clk & (1u << 12)) ? c.a : c.b) / d4;
    return c;
}

namespace {

// Output size along one axis, exactly as the chip's readout counts it.
int binnedCount(int windowPixels, int code, bool halve)
{
    const int d = code + 8;
    return halve ? ((windowPixels * 4) / d) * 2 : (windowPixels * 8) / d;
}

int deliveredCount(int binned, bool trim, bool halve)
{
    const int n = binned - (trim ? kTrimPixels : 0);
    if (n <= 0) return 0;
    return halve ? n / 2 : n;
}

}  // namespace

SensorReadout sensorReadout(const SensorRegisters& regs)
{
    SensorReadout r;
    const int cols = regs[kRegColCount] & kWindowFieldMask;
    const int rows = regs[kRegRowCount] & kWindowFieldMask;
    r.firstColumn = static_cast<int>(regs[kRegFirstCol] & kWindowFieldMask) - static_cast<int>(kWindowOrigin);
    r.firstRow = static_cast<int>(regs[kRegFirstRow] & kWindowFieldMask) - static_cast<int>(kWindowOrigin);
    r.columnCode = (regs[kRegAddressMode] >> 8) & 0xFF;
    r.rowCode = regs[kRegAddressMode] & 0xFF;
    r.halve = (regs[kRegReadout] & kReadoutHalve) != 0;
    r.trim = (regs[kRegReadout] & kReadoutTrim) != 0;
    r.mirror = (regs[kRegControl] & kControlMirror) != 0;
    r.flip = (regs[kRegControl] & kControlFlip) != 0;
    const int binnedRows = binnedCount(rows, r.rowCode, r.halve);
    r.width = deliveredCount(binnedCount(cols, r.columnCode, r.halve), r.trim, r.halve);
    r.height = deliveredCount(binnedRows, r.trim, r.halve);

    const SensorClocks c = sensorClocks(regs);
    const double lineUnits = regs[kRegLineLength] & kLineLengthMask;
    r.lineTimeS = c.pix > 0 ? lineUnits * 8.0 / c.pix : 0.0;
    const double exposureLines = regs[kRegExposure];
    r.exposureS = exposureLines * r.lineTimeS;
    const double gainSum =
        (regs[kRegGainA] & 0xFF) + (regs[kRegGainA] >> 8) + (regs[kRegGainB] & 0xFF) + (regs[kRegGainB] >> 8);
    r.gain = gainSum / 4.0 / chip::kUnityGainCode;
    r.brightness = r.exposureS / chip::kReferenceExposureS * r.gain;
    const double readoutLines = binnedRows + chip::kBlankingLines;
    r.readoutS = readoutLines * r.lineTimeS;
    r.frameTimeS = std::max(readoutLines, exposureLines + 1) * r.lineTimeS;
    return r;
}

}  // namespace model
}  // namespace vb
