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

void CountGrey(const uint8_t* pData, int nStride, int nX, int nY, int nW, int nH, int* pnHist)
{
    uint32_t table[kCounterTables][256];
    std::memset(table, 0, sizeof(table));

    for (int r = 0; r < nH; ++r) {
        const uint8_t* row = pData + static_cast<intptr_t>(nY + r) * nStride + nX;
        int i = 0;
        // Eight pixels per step, fetched as two 32-bit words; pixel k of the
        // step goes to table k.  Which byte of a word is which pixel does not
        // matter: the tables are summed.
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

}  // namespace

extern "C" {

int VYXIMAGE_ShowAoi(unsigned char* pData, int nWidth, int /*nHeight*/, int nBitCount,
                     int nX, int nY, int nW, int nH)
{
    if (nW <= 0 || nH <= 0) {
        return 0;                      // an empty AOI has no border
    }
    const int stride = StrideOf(nWidth, nBitCount);
    const int bpp = nBitCount >> 3;
    const size_t edgeBytes = static_cast<size_t>(nW) * bpp;
    const intptr_t left = static_cast<intptr_t>(nX) * bpp;
    const intptr_t right = static_cast<intptr_t>(nX + nW - 1) * bpp;

    std::memset(RowAt(pData, stride, nY) + left, 255, edgeBytes);
    for (int r = nY + 1; r <= nY + nH - 2; ++r) {
        uint8_t* row = RowAt(pData, stride, r);
        std::memset(row + left, 255, static_cast<size_t>(bpp));
        std::memset(row + right, 255, static_cast<size_t>(bpp));
    }
    // A one- or two-row AOI has no side rows; its bottom edge is the row
    // below the top one.
    const int bottom = nH <= 2 ? nY + 1 : nY + nH - 1;
    std::memset(RowAt(pData, stride, bottom) + left, 255, edgeBytes);
    return 0;
}

int VYXIMAGE_Y8_Histgram(unsigned char* pData, int nWidth, int nHeight,
                         int nX, int nY, int nW, int nH, int* pnHist)
{
    vyximage::CountGrey(pData, StrideOf(nWidth, 8), nX, nY, nW, nH, pnHist);
    return Y8_ShowHistgram(pData, nWidth, nHeight, nX, nY, nW, nH, pnHist, kHistogramPercent);
}

int Y8_ShowHistgram(unsigned char* pData, int nWidth, int /*nHeight*/,
                    int nX, int nY, int /*nW*/, int nH, int* pnHist, int nPercent)
{
    int max = 0;
    for (int i = 0; i < kGreyLevels; ++i) {
        if (pnHist[i] > max) {
            max = pnHist[i];
        }
    }
    const int quarter = nH / 4;
    if (max <= 0 || quarter <= 0) {
        return 0;                      // nothing counted, or no room for a bar
    }

    // Bar heights in exact proportion to the counters, so that the tallest
    // bar is exactly a quarter of the AOI high.
    int bar[kGreyLevels];
    for (int i = 0; i < kGreyLevels; ++i) {
        const int64_t count = pnHist[i] > 0 ? pnHist[i] : 0;
        bar[i] = static_cast<int>(count * quarter / max);
    }

    const int stride = StrideOf(nWidth, 8);
    const int bottom = nY + nH - 1;
    for (int i = 0; i < kGreyLevels; ++i) {
        const int col = nX + i;
        if (col < 0) {
            continue;
        }
        if (col >= nWidth) {
            break;                     // bars are clipped at the end of the row
        }
        for (int j = 0; j < bar[i]; ++j) {
            uint8_t* px = RowAt(pData, stride, bottom - j) + col;
            *px = static_cast<uint8_t>((nPercent * *px) / 100);
        }
    }
    return 0;
}

int VYXIMAGE_Rgb_Histgram(unsigned char* pData, int nWidth, int /*nHeight*/, int nBitCount,
                          int nX, int nY, int nW, int nH, int* pnHist)
{
    std::memset(pnHist, 0, kColourTables * kGreyLevels * sizeof(int));
    if (nBitCount < 8) {
        return 0;
    }
    const int stride = StrideOf(nWidth, nBitCount);
    const int bpp = nBitCount >> 3;
    // Channels counted per pixel: never more than the three tables, never
    // more than the pixel's own bytes.  Table k takes byte (channels-1-k),
    // which for blue-green-red pixels puts red, green, blue in tables 0..2.
    const int channels = bpp < kColourTables ? bpp : kColourTables;
    for (int r = 0; r < nH; ++r) {
        const uint8_t* px = RowAt(pData, stride, nY + r) + static_cast<intptr_t>(nX) * bpp;
        for (int c = 0; c < nW; ++c, px += bpp) {
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

int VYXIMAGE_Y8_ThresholdSingle_AOI(unsigned char* pData, int nWidth, int /*nHeight*/,
                                    int nThreshold, int nInvert,
                                    int nX, int nY, int nW, int nH)
{
    const int stride = StrideOf(nWidth, 8);
    for (int r = 0; r < nH; ++r) {
        vyximage::ThresholdSingleRow(RowAt(pData, stride, nY + r) + nX, nW, nThreshold, nInvert != 0);
    }
    return 0;
}

int VYXIMAGE_Y8_ThresholdDouble(unsigned char* pData, int nWidth, int nHeight,
                                int nLow, int nHigh, int nInvert)
{
    return VYXIMAGE_Y8_ThresholdDouble_AOI(pData, nWidth, nHeight, nLow, nHigh, nInvert,
                                           0, 0, nWidth, nHeight);
}

int VYXIMAGE_Y8_ThresholdDouble_AOI(unsigned char* pData, int nWidth, int /*nHeight*/,
                                    int nLow, int nHigh, int nInvert,
                                    int nX, int nY, int nW, int nH)
{
    const int stride = StrideOf(nWidth, 8);
    for (int r = 0; r < nH; ++r) {
        vyximage::ThresholdBandRow(RowAt(pData, stride, nY + r) + nX, nW, nLow, nHigh, nInvert != 0);
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
