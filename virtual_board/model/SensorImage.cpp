// SensorImage.cpp - the delivered image, row by row (see SensorImage.h).
#include "SensorImage.h"

#include <algorithm>
#include <cstring>

namespace vb {
namespace model {

namespace {

using Span = SensorImage::Span;

// Pixels per step of the vector loops (as in BrightnessMap.cpp): a fixed
// trip count the compiler turns into vector code.
constexpr int kBlock = 64;
// Binned averages divide by multiplying with 2^40 / count + 1 and keeping
// the high bits: exact for every sum of at most 66 x 66 pixels of 255.
constexpr int kReciprocalBits = 40;

// Array span [first, end) of each of `count` delivered pixels along one
// axis: binned pixel p covers [p * d / 8, (p + 1) * d / 8) of the window
// with d = code + 8, halving takes pairs of binned pixels, trimming skips
// the first two; clipped to the array.
std::vector<Span> spans(int count, int origin, int code, bool halve, bool trim, int arrayPixels) {
    std::vector<Span> out(static_cast<size_t>(std::max(count, 0)));
    const int d = code + 8;
    const int step = halve ? 2 : 1;
    const int skip = trim ? q210b::kTrimPixels / 2 : 0;
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

// How the delivered columns read a row of the array.
bool allUnit(const std::vector<Span>& cols) {
    return std::all_of(cols.begin(), cols.end(), [](const Span& s) { return s.size() == 1; });
}

bool inSteps(const std::vector<Span>& cols, int step) {
    for (size_t x = 0; x < cols.size(); ++x)
        if (cols[x].first != cols[0].first + static_cast<int>(x) * step) return false;
    return true;
}

// dst[i] = src[n - 1 - i], eight bytes at a time.
void reverseRow(const uint8_t* src, uint8_t* dst, int n) {
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t v;
        std::memcpy(&v, src + n - 8 - i, 8);
        v = __builtin_bswap64(v);
        std::memcpy(dst + i, &v, 8);
    }
    for (; i < n; ++i) dst[i] = src[n - 1 - i];
}

// sums[i] = row[i], then sums[i] += row[i] for each further row.
void firstRowSums(const uint8_t* __restrict row, uint16_t* __restrict sums, int n) {
    int i = 0;
    for (; i + kBlock <= n; i += kBlock)
        for (int k = 0; k < kBlock; ++k) sums[i + k] = row[i + k];
    for (; i < n; ++i) sums[i] = row[i];
}

void addRowSums(const uint8_t* __restrict row, uint16_t* __restrict sums, int n) {
    int i = 0;
    for (; i + kBlock <= n; i += kBlock)
        for (int k = 0; k < kBlock; ++k) sums[i + k] = static_cast<uint16_t>(sums[i + k] + row[i + k]);
    for (; i < n; ++i) sums[i] = static_cast<uint16_t>(sums[i] + row[i]);
}

}  // namespace

SensorImage::SensorImage(const SensorReadout& r, double light)
    : m_width(std::max(r.width, 0)),
      m_height(std::max(r.height, 0)),
      m_flip(r.flip),
      m_map(r.brightness * light),
      m_rowSpans(spans(r.height, r.firstRow, r.rowCode, r.halve, r.trim, kArrayRows)),
      m_colSpans(spans(r.width, r.firstColumn, r.columnCode, r.halve, r.trim, kArrayColumns)) {
    if (r.mirror) std::reverse(m_colSpans.begin(), m_colSpans.end());
    m_columns = columnsKind(m_colSpans);
    m_values.resize(static_cast<size_t>(m_width));
    m_colFirst = kArrayColumns;
    for (const Span& s : m_colSpans)
        if (s.size() > 0) {
            m_colFirst = std::min(m_colFirst, s.first);
            m_colEnd = std::max(m_colEnd, s.end);
        }
    const bool binnedRows =
        std::any_of(m_rowSpans.begin(), m_rowSpans.end(), [](const Span& s) { return s.size() > 1; });
    if (m_columns == Columns::Binned || binnedRows) prepareBinning();
}

SensorImage::Columns SensorImage::columnsKind(const std::vector<Span>& cols) {
    if (!allUnit(cols)) return Columns::Binned;
    if (inSteps(cols, 1)) return Columns::Run;
    if (inSteps(cols, -1)) return Columns::Reversed;
    return Columns::Gathered;
}

// The column sums of a binned row, and the reciprocal of every pixel count
// a delivered pixel can have (each row size that occurs times each column
// size that occurs).
void SensorImage::prepareBinning() {
    m_sums.resize(static_cast<size_t>(std::max(m_colEnd - m_colFirst, 0)));
    auto sizes = [](const std::vector<Span>& spans) {
        std::vector<bool> seen;
        for (const Span& s : spans) {
            if (static_cast<size_t>(s.size()) >= seen.size()) seen.resize(static_cast<size_t>(s.size()) + 1);
            seen[static_cast<size_t>(s.size())] = true;
        }
        return seen;
    };
    const std::vector<bool> rowSizes = sizes(m_rowSpans), colSizes = sizes(m_colSpans);
    m_reciprocal.assign(rowSizes.size() * colSizes.size(), 0);
    for (size_t rows = 1; rows < rowSizes.size(); ++rows)
        for (size_t cols = 1; cols < colSizes.size(); ++cols)
            if (rowSizes[rows] && colSizes[cols])
                m_reciprocal[rows * cols] = (uint64_t{1} << kReciprocalBits) / (rows * cols) + 1;
}

void SensorImage::render(ScenePicture& scene, uint8_t* dst, int dstWidth, int firstLine, int lines,
                         size_t dstStride) {
    const int w = std::max(std::min(m_width, dstWidth), 0);
    for (int y = firstLine; y < firstLine + lines; ++y) {
        uint8_t* line = dst + static_cast<size_t>(y - firstLine) * dstStride;
        int done = 0;
        if (y >= 0 && y < m_height && w > 0) {
            renderRow(scene, m_rowSpans[static_cast<size_t>(m_flip ? m_height - 1 - y : y)], line, w);
            done = w;
        }
        std::fill(line + done, line + dstWidth, uint8_t{0});
    }
}

// The first w pixels of the image row that averages the array rows `rows`.
void SensorImage::renderRow(ScenePicture& scene, const Span& rows, uint8_t* line, int w) {
    if (rows.size() == 1 && m_columns != Columns::Binned) {
        const uint8_t* src = scene.row(rows.first, m_colFirst, m_colEnd);
        const int first = m_colSpans[0].first;
        switch (m_columns) {
        case Columns::Run: m_map.apply(src + first, line, w); return;
        case Columns::Reversed:
            m_map.apply(src + first - (w - 1), m_values.data(), w);
            reverseRow(m_values.data(), line, w);
            return;
        case Columns::Gathered:
            for (int x = 0; x < w; ++x)
                m_values[static_cast<size_t>(x)] = src[m_colSpans[static_cast<size_t>(x)].first];
            m_map.apply(m_values.data(), line, w);
            return;
        case Columns::Binned: break;
        }
    }
    if (rows.size() == 0) {
        // The window reaches past the array: no light.
        std::fill(line, line + w, uint8_t{0});
        return;
    }
    sumColumns(scene, rows);
    averageColumns(rows.size(), w);
    m_map.apply(m_values.data(), line, w);
}

// m_sums: the array rows `rows` summed column by column.
void SensorImage::sumColumns(ScenePicture& scene, const Span& rows) {
    const int n = m_colEnd - m_colFirst;
    firstRowSums(scene.row(rows.first, m_colFirst, m_colEnd) + m_colFirst, m_sums.data(), n);
    for (int y = rows.first + 1; y < rows.end; ++y)
        addRowSums(scene.row(y, m_colFirst, m_colEnd) + m_colFirst, m_sums.data(), n);
}

// m_values: each delivered pixel's average over its columns' sums, rounded
// to nearest; no light where its columns lie past the array.
void SensorImage::averageColumns(int rowCount, int w) {
    const Span* spans = m_colSpans.data();
    const uint16_t* sums = m_sums.data();
    const uint64_t* reciprocal = m_reciprocal.data();
    const int sumFirst = m_colFirst;
    uint8_t* __restrict values = m_values.data();
    for (int x = 0; x < w; ++x) {
        const Span cols = spans[x];
        const uint16_t* at = sums + (cols.first - sumFirst);
        uint32_t sum = 0;
        for (int c = 0; c < cols.size(); ++c) sum += at[c];
        const uint32_t count = static_cast<uint32_t>(rowCount * cols.size());
        values[x] =
            count == 0 ? 0 : static_cast<uint8_t>(((sum + count / 2) * reciprocal[count]) >> kReciprocalBits);
    }
}

}  // namespace model
}  // namespace vb
