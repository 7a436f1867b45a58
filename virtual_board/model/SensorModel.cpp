// SensorModel.cpp - register file, clocks and image formation of the Q210B
// as the virtual board emulates it (see SensorModel.h for the model).
#include "SensorModel.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "BrightnessMap.h"

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

// Array span [first, end) that delivered pixel `index` averages along one axis.
struct Span { int first, end; };
std::vector<Span> spans(int count, int origin, int code, bool halve, bool trim, int arrayPixels)
{
    std::vector<Span> out(static_cast<size_t>(count));
    const int d = code + 8;
    const int step = halve ? 2 : 1;
    const int skip = trim ? kTrimPixels / 2 : 0;
    for (int i = 0; i < count; ++i) {
        const int p0 = i * step + skip;
        const int p1 = p0 + step;
        int first = origin + (p0 * d) / 8;
        int end = origin + (p1 * d) / 8;
        if (end <= first) end = first + 1;
        first = std::max(first, 0);
        end = std::min(end, arrayPixels);
        out[static_cast<size_t>(i)] = Span{first, std::max(first, end)};
    }
    return out;
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

namespace {

// Binned average of a span of the array, rounded to nearest.
uint8_t binned(const uint8_t* scene, const Span& rs, const Span& cs) {
    const unsigned count = static_cast<unsigned>((rs.end - rs.first) * (cs.end - cs.first));
    if (count == 0) return 0;  // the window reaches past the array: no light
    unsigned sum = 0;
    for (int sy = rs.first; sy < rs.end; ++sy) {
        const uint8_t* src = scene + static_cast<size_t>(sy) * kArrayColumns;
        for (int sx = cs.first; sx < cs.end; ++sx) sum += src[sx];
    }
    return static_cast<uint8_t>((sum + count / 2) / count);
}

}  // namespace

void renderSensorImage(const SensorReadout& r, const uint8_t* scene, uint8_t* dst, int dstWidth,
                       int firstLine, int lines, size_t dstStride) {
    // The chip's analogue chain scales every binned value the same way.
    const BrightnessMap brightness(r.brightness);

    const int w = std::min(r.width, dstWidth);
    const int h = r.height;
    const std::vector<Span> rowSpan = spans(r.height, r.firstRow, r.rowCode, r.halve, r.trim, kArrayRows);
    // Columns in output order (mirror applied).  Without binning every
    // output pixel is one array pixel: the common case maps one run of the
    // scene row when nothing is mirrored and the window lies inside the
    // array; the others gather the row's values first.
    std::vector<Span> colSpan = spans(r.width, r.firstColumn, r.columnCode, r.halve, r.trim, kArrayColumns);
    if (r.mirror) std::reverse(colSpan.begin(), colSpan.end());
    bool unitColumns = true, runOfColumns = w > 0;
    for (int x = 0; x < w; ++x) {
        const Span& cs = colSpan[static_cast<size_t>(x)];
        unitColumns = unitColumns && cs.end - cs.first == 1;
        runOfColumns = runOfColumns && cs.first == colSpan[0].first + x && cs.end == cs.first + 1;
    }

    std::vector<uint8_t> gathered(static_cast<size_t>(std::max(w, 0)));
    for (int y = firstLine; y < firstLine + lines; ++y) {
        uint8_t* line = dst + static_cast<size_t>(y - firstLine) * dstStride;
        if (y < 0 || y >= h) {
            std::fill(line, line + dstWidth, uint8_t{0});
            continue;
        }
        const Span rs = rowSpan[static_cast<size_t>(r.flip ? r.height - 1 - y : y)];
        const bool unitRow = rs.end - rs.first == 1;
        const uint8_t* src = unitRow ? scene + static_cast<size_t>(rs.first) * kArrayColumns : nullptr;
        if (unitRow && runOfColumns) {
            brightness.apply(src + colSpan[0].first, line, w);
        } else {
            for (int x = 0; x < w; ++x) {
                const Span& cs = colSpan[static_cast<size_t>(x)];
                gathered[static_cast<size_t>(x)] =
                    unitRow && unitColumns ? src[cs.first] : binned(scene, rs, cs);
            }
            brightness.apply(gathered.data(), line, w);
        }
        std::fill(line + w, line + dstWidth, uint8_t{0});
    }
}

}  // namespace model
}  // namespace vb
