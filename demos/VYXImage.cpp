// VYXImage.cpp - in-place image-analysis helpers run by the demos on every
// captured frame.
//
// A frame is 1280 x 1024 bytes and the demos run at the sensor's frame rate
// on the board's ARMv7-A core, so the per-pixel loops (the thresholds and the
// grey histogram) are written for the compiler's auto-vectoriser at -O2: every
// row is cut into fixed-size blocks whose trip count the compiler knows, the
// loop bodies have no branches (the threshold is clamped to a byte before the
// loop instead of being tested per pixel), and there are no intrinsics, so
// the same source vectorises for SSE2 and for NEON.  The results are exactly
// those of the plain per-pixel definitions.
#include "VYXImage.h"
#include "VYXImageKernels.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace vyximage {
namespace {

// Bytes per vectorised block: a multiple of every vector width we target
// (16 bytes for SSE2 and NEON, 32 for AVX2).
constexpr int kBlock = 64;

// The grey histogram spreads consecutive pixels over this many counter
// tables (8 KiB, well inside the L1 cache), so that runs of equal values in
// the flat areas of a real scene do not serialise on one counter's
// load-increment-store chain.  Must stay 8: one table per byte of the two
// words read per step.
constexpr int kCounterTables = 8;

constexpr uint8_t kWhite = 255;
constexpr uint8_t kBlack = 0;

// Writes v over n bytes.  Used when the threshold lies outside 1..255 and the
// result no longer depends on the pixels.
inline void FillRow(uint8_t* p, int n, uint8_t v)
{
    if (n > 0) {
        std::memset(p, v, static_cast<size_t>(n));
    }
}

// p[i] = op(p[i]) for n bytes: whole blocks first, whose fixed trip count
// lets the compiler replace each block by a few vector instructions, then
// the tail byte by byte.  op must be branch-free.
template <typename Op>
inline void MapRow(uint8_t* p, int n, Op op)
{
    int i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        uint8_t* q = p + i;
#pragma GCC unroll 4
        for (int k = 0; k < kBlock; ++k) {
            q[k] = op(q[k]);
        }
    }
    for (; i < n; ++i) {
        p[i] = op(p[i]);
    }
}

// Each comparison below is one unsigned byte comparison against a constant,
// which SSE2 and NEON do in one or two instructions per 16 bytes; the four
// forms avoid a separate inversion step.

// 255 where p >= t.
inline void MarkAtLeast(uint8_t* p, int n, uint8_t t)
{
    MapRow(p, n, [t](uint8_t v) { return static_cast<uint8_t>(v >= t ? kWhite : kBlack); });
}

// 255 where p <= t.
inline void MarkAtMost(uint8_t* p, int n, uint8_t t)
{
    MapRow(p, n, [t](uint8_t v) { return static_cast<uint8_t>(v <= t ? kWhite : kBlack); });
}

// 255 where lo <= p <= lo + span.  p - lo wraps round for p < lo, so the
// band test is one comparison.
inline void MarkInside(uint8_t* p, int n, uint8_t lo, uint8_t span)
{
    MapRow(p, n, [lo, span](uint8_t v) {
        return static_cast<uint8_t>(static_cast<uint8_t>(v - lo) <= span ? kWhite : kBlack);
    });
}

// 255 where p < lo or p > lo + span, i.e. p - lo (wrapped) >= span + 1.
inline void MarkOutside(uint8_t* p, int n, uint8_t lo, uint8_t spanPlusOne)
{
    MapRow(p, n, [lo, spanPlusOne](uint8_t v) {
        return static_cast<uint8_t>(static_cast<uint8_t>(v - lo) >= spanPlusOne ? kWhite : kBlack);
    });
}

}  // namespace

void ThresholdSingleRow(uint8_t* p, int n, int nThreshold, bool bInvert)
{
    const uint8_t above = bInvert ? kBlack : kWhite;   // value for p >= threshold
    if (nThreshold <= 0) {
        FillRow(p, n, above);                          // every byte reaches it
    } else if (nThreshold > 255) {
        FillRow(p, n, static_cast<uint8_t>(~above));   // no byte reaches it
    } else if (!bInvert) {
        MarkAtLeast(p, n, static_cast<uint8_t>(nThreshold));
    } else {
        MarkAtMost(p, n, static_cast<uint8_t>(nThreshold - 1));   // p < threshold
    }
}

void ThresholdBandRow(uint8_t* p, int n, int nLow, int nHigh, bool bInvert)
{
    // Only byte values can be inside, so the band is its intersection with
    // 0..255; an empty intersection (including low > high) leaves every byte
    // outside, a full one every byte inside.
    const int lo = nLow < 0 ? 0 : nLow;
    const int hi = nHigh > 255 ? 255 : nHigh;
    const uint8_t inside = bInvert ? kBlack : kWhite;
    if (lo > hi) {
        FillRow(p, n, static_cast<uint8_t>(~inside));
    } else if (lo == 0 && hi == 255) {
        FillRow(p, n, inside);
    } else if (!bInvert) {
        MarkInside(p, n, static_cast<uint8_t>(lo), static_cast<uint8_t>(hi - lo));
    } else {
        MarkOutside(p, n, static_cast<uint8_t>(lo), static_cast<uint8_t>(hi - lo + 1));
    }
}

namespace {

// Byte counting: eight pixels per step, fetched as two 32-bit words; pixel k
// of the step goes to table k.  Which byte of a word is which pixel does not
// matter: the tables are summed.
void CountBytes(const uint8_t* pData, int nStride, int nX, int nY, int nW, int nH, int* pnHist)
{
    uint32_t table[kCounterTables][256];
    std::memset(table, 0, sizeof(table));

    for (int r = 0; r < nH; ++r) {
        const uint8_t* row = pData + static_cast<intptr_t>(nY + r) * nStride + nX;
        int i = 0;
        for (; i + kCounterTables <= nW; i += kCounterTables) {
            uint32_t a;
            uint32_t b;
            std::memcpy(&a, row + i, sizeof(a));
            std::memcpy(&b, row + i + 4, sizeof(b));
            ++table[0][a & 0xFFu];
            ++table[1][(a >> 8) & 0xFFu];
            ++table[2][(a >> 16) & 0xFFu];
            ++table[3][a >> 24];
            ++table[4][b & 0xFFu];
            ++table[5][(b >> 8) & 0xFFu];
            ++table[6][(b >> 16) & 0xFFu];
            ++table[7][b >> 24];
        }
        for (; i < nW; ++i) {
            ++table[0][row[i]];
        }
    }

    for (int v = 0; v < 256; ++v) {
        uint32_t sum = 0;
        for (int t = 0; t < kCounterTables; ++t) {
            sum += table[t][v];
        }
        pnHist[v] = static_cast<int>(sum);
    }
}

// Pair counting.  In a camera picture neighbouring pixels are nearly alike,
// so counting each pair of neighbours as one 16-bit value halves the
// increments, and the pairs met cluster along the diagonal of the 256 x 256
// pair table, a few KiB that stay in the L1 cache.  In a picture of noise the
// pairs spread over the whole 256 KiB table and miss the L1 cache, which
// costs more than it saves; and zeroing and folding the table costs about as
// much as counting a quarter of a megapixel.  So pairs are only counted in
// large AOIs whose neighbours a small sample shows to be alike.
constexpr int64_t kPairMinPixels = 1 << 18;
constexpr int kPairValues = 1 << 16;
constexpr int kSampleRows = 8;
constexpr int kSampleWidth = 256;
// Mean difference of neighbours below which the pair table stays cached:
// the camera's own noise gives about 4, a noise picture about 85.
constexpr int kAlikeMeanStep = 16;

bool NeighboursAlike(const uint8_t* pData, int nStride, int nX, int nY, int nW, int nH)
{
    const int width = nW < kSampleWidth ? nW : kSampleWidth;
    int64_t steps = 0;
    int64_t sum = 0;
    for (int s = 0; s < kSampleRows; ++s) {
        const int r = static_cast<int>(static_cast<int64_t>(nH) * s / kSampleRows);
        const uint8_t* row = pData + static_cast<intptr_t>(nY + r) * nStride + nX + (nW - width) / 2;
        for (int i = 1; i < width; ++i) {
            const int d = row[i] - row[i - 1];
            sum += d < 0 ? -d : d;
        }
        steps += width - 1;
    }
    return steps > 0 && sum < steps * kAlikeMeanStep;
}

// The pair table of the calling thread, allocated on its first large count
// (null if that failed: the caller then counts bytes).
uint32_t* PairTable()
{
    thread_local std::unique_ptr<uint32_t[]> table(new (std::nothrow) uint32_t[kPairValues]);
    return table.get();
}

void CountPairs(uint32_t* pairs, const uint8_t* pData, int nStride, int nX, int nY, int nW, int nH,
                int* pnHist)
{
    std::memset(pairs, 0, kPairValues * sizeof(uint32_t));
    uint32_t single[256];
    std::memset(single, 0, sizeof(single));

    for (int r = 0; r < nH; ++r) {
        const uint8_t* row = pData + static_cast<intptr_t>(nY + r) * nStride + nX;
        int i = 0;
        for (; i + 8 <= nW; i += 8) {
            uint64_t w;
            std::memcpy(&w, row + i, sizeof(w));
            ++pairs[w & 0xFFFFu];
            ++pairs[(w >> 16) & 0xFFFFu];
            ++pairs[(w >> 32) & 0xFFFFu];
            ++pairs[w >> 48];
        }
        for (; i < nW; ++i) {
            ++single[row[i]];
        }
    }

    // Pair (hi, lo) holds one pixel of each value: row sums count the high
    // bytes, column sums the low ones.
    uint32_t column[256];
    std::memset(column, 0, sizeof(column));
    for (int hi = 0; hi < 256; ++hi) {
        const uint32_t* line = pairs + hi * 256;
        uint32_t sum = 0;
        for (int lo = 0; lo < 256; ++lo) {
            sum += line[lo];
            column[lo] += line[lo];
        }
        single[hi] += sum;
    }
    for (int v = 0; v < 256; ++v) {
        pnHist[v] = static_cast<int>(single[v] + column[v]);
    }
}

}  // namespace

void CountGrey(const uint8_t* pData, int nStride, int nX, int nY, int nW, int nH, int* pnHist)
{
    if (static_cast<int64_t>(nW) * nH >= kPairMinPixels && NeighboursAlike(pData, nStride, nX, nY, nW, nH)) {
        if (uint32_t* pairs = PairTable()) {
            CountPairs(pairs, pData, nStride, nX, nY, nW, nH, pnHist);
            return;
        }
    }
    CountBytes(pData, nStride, nX, nY, nW, nH, pnHist);
}

}  // namespace vyximage

using vyximage::StrideOf;

namespace {

// Percentage at which VYXIMAGE_Y8_Histgram darkens the pixels under its bars.
constexpr int kHistogramPercent = 50;
constexpr int kGreyLevels = 256;
constexpr int kColourTables = 3;

// MyProcessData binarises this fixed window at the top left of the frame.
constexpr int kThresholdWindowW = 320;
constexpr int kThresholdWindowH = 240;
constexpr int kThresholdLevel = 128;

inline uint8_t* RowAt(unsigned char* pData, int nStride, int nRow)
{
    return pData + static_cast<intptr_t>(nRow) * nStride;
}

// Widest pixel the helpers know: 32 bits.
constexpr int kMaxBitCount = 32;

// The pixels of an image that a helper may touch: columns x0..x1-1 and rows
// y0..y1-1, always inside the image.  Computed in 64 bits, so an AOI at the
// far end of the int range cannot wrap round into the image.
struct Area {
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;

    bool Empty() const { return x0 >= x1 || y0 >= y1; }
    int W() const { return x1 - x0; }
    int H() const { return y1 - y0; }
};

inline int ClampTo(int64_t v, int lo, int hi)
{
    return static_cast<int>(v < lo ? lo : (v > hi ? hi : v));
}

// True when the image has pixels the helpers can address.
inline bool HasPixels(int nWidth, int nHeight, int nBitCount)
{
    return nWidth > 0 && nHeight > 0 && nBitCount > 0 && nBitCount <= kMaxBitCount &&
           static_cast<int64_t>(nWidth) * kMaxBitCount + 31 <= INT32_MAX;
}

// The part of the AOI x, y, w, h inside a width x height image (empty when
// the image has no pixels or the AOI misses it).
inline Area Clip(int nWidth, int nHeight, int nBitCount, int nX, int nY, int nW, int nH)
{
    Area a;
    if (!HasPixels(nWidth, nHeight, nBitCount) || nW <= 0 || nH <= 0) {
        return a;
    }
    a.x0 = ClampTo(nX, 0, nWidth);
    a.y0 = ClampTo(nY, 0, nHeight);
    a.x1 = ClampTo(static_cast<int64_t>(nX) + nW, 0, nWidth);
    a.y1 = ClampTo(static_cast<int64_t>(nY) + nH, 0, nHeight);
    return a;
}

// Sets the pixels of row `row`, columns c0..c1 (inclusive, any ints), that
// lie inside `image` to white.
inline void WhiteRun(unsigned char* pData, int nStride, int bpp, const Area& image, int64_t row,
                     int64_t c0, int64_t c1)
{
    if (row < image.y0 || row >= image.y1) {
        return;
    }
    const int from = ClampTo(c0, image.x0, image.x1);
    const int to = ClampTo(c1 + 1, image.x0, image.x1);
    if (from < to) {
        std::memset(RowAt(pData, nStride, static_cast<int>(row)) + static_cast<intptr_t>(from) * bpp, 255,
                    static_cast<size_t>(to - from) * bpp);
    }
}

}  // namespace

extern "C" {

int VYXIMAGE_ShowAoi(unsigned char* pData, int nWidth, int nHeight, int nBitCount,
                     int nX, int nY, int nW, int nH)
{
    if (nW <= 0 || nH <= 0 || !HasPixels(nWidth, nHeight, nBitCount)) {
        return 0;                      // an empty AOI has no border
    }
    const int stride = StrideOf(nWidth, nBitCount);
    const int bpp = nBitCount >> 3;
    const Area image{0, 0, nWidth, nHeight};
    const int64_t left = nX;
    const int64_t right = static_cast<int64_t>(nX) + nW - 1;
    const int64_t top = nY;
    // A one- or two-row AOI has no side rows; its bottom edge is the row
    // below the top one.
    const int64_t bottom = nH <= 2 ? top + 1 : top + nH - 1;

    WhiteRun(pData, stride, bpp, image, top, left, right);
    const int64_t firstSide = top + 1 > 0 ? top + 1 : 0;
    const int64_t lastSide = bottom - 1 < nHeight - 1 ? bottom - 1 : nHeight - 1;
    for (int64_t r = firstSide; r <= lastSide; ++r) {
        WhiteRun(pData, stride, bpp, image, r, left, left);
        WhiteRun(pData, stride, bpp, image, r, right, right);
    }
    WhiteRun(pData, stride, bpp, image, bottom, left, right);
    return 0;
}

int VYXIMAGE_Y8_Histgram(unsigned char* pData, int nWidth, int nHeight,
                         int nX, int nY, int nW, int nH, int* pnHist)
{
    const Area a = Clip(nWidth, nHeight, 8, nX, nY, nW, nH);
    if (a.Empty()) {
        std::memset(pnHist, 0, kGreyLevels * sizeof(int));
        return 0;
    }
    vyximage::CountGrey(pData, StrideOf(nWidth, 8), a.x0, a.y0, a.W(), a.H(), pnHist);
    return Y8_ShowHistgram(pData, nWidth, nHeight, a.x0, a.y0, a.W(), a.H(), pnHist, kHistogramPercent);
}

int Y8_ShowHistgram(unsigned char* pData, int nWidth, int nHeight,
                    int nX, int nY, int /*nW*/, int nH, int* pnHist, int nPercent)
{
    int max = 0;
    for (int i = 0; i < kGreyLevels; ++i) {
        if (pnHist[i] > max) {
            max = pnHist[i];
        }
    }
    const int quarter = nH / 4;
    if (max <= 0 || quarter <= 0 || !HasPixels(nWidth, nHeight, 8)) {
        return 0;                      // nothing counted, no room for a bar, or no image
    }

    // Bar heights in exact proportion to the counters, so that the tallest
    // bar is exactly a quarter of the AOI high.
    int bar[kGreyLevels];
    for (int i = 0; i < kGreyLevels; ++i) {
        const int64_t count = pnHist[i] > 0 ? pnHist[i] : 0;
        bar[i] = static_cast<int>(count * quarter / max);
    }

    const int stride = StrideOf(nWidth, 8);
    const int64_t bottom = static_cast<int64_t>(nY) + nH - 1;
    for (int i = 0; i < kGreyLevels; ++i) {
        const int64_t col = static_cast<int64_t>(nX) + i;
        if (col < 0) {
            continue;
        }
        if (col >= nWidth) {
            break;                     // bars are clipped at the end of the row
        }
        for (int j = 0; j < bar[i]; ++j) {
            const int64_t row = bottom - j;
            if (row < 0 || row >= nHeight) {
                continue;              // and at the top and bottom of the image
            }
            uint8_t* px = RowAt(pData, stride, static_cast<int>(row)) + col;
            *px = static_cast<uint8_t>((nPercent * *px) / 100);
        }
    }
    return 0;
}

int VYXIMAGE_Rgb_Histgram(unsigned char* pData, int nWidth, int nHeight, int nBitCount,
                          int nX, int nY, int nW, int nH, int* pnHist)
{
    std::memset(pnHist, 0, kColourTables * kGreyLevels * sizeof(int));
    const Area a = Clip(nWidth, nHeight, nBitCount, nX, nY, nW, nH);
    if (nBitCount < 8 || a.Empty()) {
        return 0;
    }
    const int stride = StrideOf(nWidth, nBitCount);
    const int bpp = nBitCount >> 3;
    // Channels counted per pixel: never more than the three tables, never
    // more than the pixel's own bytes.  Table k takes byte (channels-1-k),
    // which for blue-green-red pixels puts red, green, blue in tables 0..2.
    const int channels = bpp < kColourTables ? bpp : kColourTables;
    for (int r = a.y0; r < a.y1; ++r) {
        const uint8_t* px = RowAt(pData, stride, r) + static_cast<intptr_t>(a.x0) * bpp;
        for (int c = a.x0; c < a.x1; ++c, px += bpp) {
            for (int k = 0; k < channels; ++k) {
                ++pnHist[k * kGreyLevels + px[channels - 1 - k]];
            }
        }
    }
    return 0;
}

int Rgb_ShowHistgram(unsigned char* /*pData*/, int /*nWidth*/, int /*nHeight*/, int /*nBitCount*/,
                     int /*nX*/, int /*nY*/, int /*nW*/, int /*nH*/, int* /*pnHist*/)
{
    return 0;
}

int VYXIMAGE_Y8_ThresholdSingle(unsigned char* pData, int nWidth, int nHeight,
                                int nThreshold, int nInvert)
{
    return VYXIMAGE_Y8_ThresholdSingle_AOI(pData, nWidth, nHeight, nThreshold, nInvert,
                                           0, 0, nWidth, nHeight);
}

int VYXIMAGE_Y8_ThresholdSingle_AOI(unsigned char* pData, int nWidth, int nHeight,
                                    int nThreshold, int nInvert,
                                    int nX, int nY, int nW, int nH)
{
    const Area a = Clip(nWidth, nHeight, 8, nX, nY, nW, nH);
    const int stride = StrideOf(nWidth, 8);
    for (int r = a.y0; r < a.y1; ++r) {
        vyximage::ThresholdSingleRow(RowAt(pData, stride, r) + a.x0, a.W(), nThreshold, nInvert != 0);
    }
    return 0;
}

int VYXIMAGE_Y8_ThresholdDouble(unsigned char* pData, int nWidth, int nHeight,
                                int nLow, int nHigh, int nInvert)
{
    return VYXIMAGE_Y8_ThresholdDouble_AOI(pData, nWidth, nHeight, nLow, nHigh, nInvert,
                                           0, 0, nWidth, nHeight);
}

int VYXIMAGE_Y8_ThresholdDouble_AOI(unsigned char* pData, int nWidth, int nHeight,
                                    int nLow, int nHigh, int nInvert,
                                    int nX, int nY, int nW, int nH)
{
    const Area a = Clip(nWidth, nHeight, 8, nX, nY, nW, nH);
    const int stride = StrideOf(nWidth, 8);
    for (int r = a.y0; r < a.y1; ++r) {
        vyximage::ThresholdBandRow(RowAt(pData, stride, r) + a.x0, a.W(), nLow, nHigh, nInvert != 0);
    }
    return 0;
}

int MyProcessData(unsigned char* pData, int nWidth, int nHeight, int nBitCount)
{
    const int x = nWidth / 4;
    const int y = nHeight / 4;
    const int w = nWidth / 2;
    const int h = nHeight / 2;

    int hist[kGreyLevels];
    VYXIMAGE_Y8_Histgram(pData, nWidth, nHeight, x, y, w, h, hist);
    VYXIMAGE_ShowAoi(pData, nWidth, nHeight, nBitCount, x, y, w, h);

    // The binarised window stays inside frames smaller than itself (a small
    // field of view chosen on the command line).
    const int tw = nWidth < kThresholdWindowW ? nWidth : kThresholdWindowW;
    const int th = nHeight < kThresholdWindowH ? nHeight : kThresholdWindowH;
    return VYXIMAGE_Y8_ThresholdSingle_AOI(pData, nWidth, nHeight, kThresholdLevel, 0, 0, 0, tw, th);
}

}  // extern "C"
