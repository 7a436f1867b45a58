// VYXImageKernels.h - the inner loops behind the VYXIMAGE_ helpers.
//
// Kept apart from the exported functions so that the benchmark can time the
// counting loop without the bar drawing.  Hidden like everything else that is
// not declared in VYXImage.h.
#ifndef VYXIMAGE_KERNELS_H
#define VYXIMAGE_KERNELS_H

#include <cstdint>

namespace vyximage {

// Row stride in bytes: rows are padded to a multiple of 4 bytes.
inline int StrideOf(int nWidth, int nBitCount)
{
    return ((nWidth * nBitCount + 31) / 32) * 4;
}

// p[i] >= threshold -> 255 else 0, for n bytes; bInvert swaps 255 and 0.
// Any int threshold is accepted (it is compared with the byte's value).
void ThresholdSingleRow(uint8_t* p, int n, int nThreshold, bool bInvert);

// low <= p[i] <= high -> 255 else 0, for n bytes; bInvert swaps 255 and 0.
void ThresholdBandRow(uint8_t* p, int n, int nLow, int nHigh, bool bInvert);

// Counts the 8-bit values of the AOI (rows y..y+h-1, columns x..x+w-1 of an
// image with the given stride) into pnHist[256], which is overwritten.
void CountGrey(const uint8_t* pData, int nStride, int nX, int nY, int nW, int nH, int* pnHist);

}  // namespace vyximage

#endif
