/*
 * VYXImage.h - in-place image-analysis helpers of the demo programs.
 *
 * They work on a frame returned by VYXZEB_CaptureData or on any buffer of the
 * same layout: rows top to bottom, no header, each row padded to a multiple
 * of 4 bytes, stride = ((width * bitcount + 31) / 32) * 4.  The Y8 functions
 * always use the 8-bit stride.  An area of interest (AOI) is x, y, w, h in
 * pixels (columns x .. x+w-1, rows y .. y+h-1).  Any AOI is accepted: only its
 * part inside the width x height image is read or changed, so nothing outside
 * the image is ever touched (an AOI outside the image, or with w or h of 0 or
 * less, does nothing).  An image without pixels (width or height 0 or less)
 * or with a bit count above 32 is left alone.  Every function returns 0 and
 * writes only into the buffers it is given.
 *
 * The helpers are exported from the demo executables under their plain names
 * so that a debugger or a plug-in loaded into a demo can call them.
 */
#ifndef VYXIMAGE_H
#define VYXIMAGE_H

#define VYXIMAGE_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

/* Draws a one-pixel white (255) rectangle on the AOI's border, bitcount / 8
 * bytes per pixel; the parts of the border outside the image are left out.
 * With h of 1 or 2 the bottom edge lands on row y + 1. */
VYXIMAGE_API int VYXIMAGE_ShowAoi(unsigned char* pData, int nWidth, int nHeight, int nBitCount,
                                  int nX, int nY, int nW, int nH);

/* Counts the AOI's grey levels into pnHist[256], then draws them into the AOI
 * with Y8_ShowHistgram at 50 percent. */
VYXIMAGE_API int VYXIMAGE_Y8_Histgram(unsigned char* pData, int nWidth, int nHeight,
                                      int nX, int nY, int nW, int nH, int* pnHist);

/* Draws a histogram as darkened columns standing on the AOI's last row: 256
 * columns from column x, the tallest a quarter of the AOI height; each pixel
 * under a bar becomes percent * value / 100.  An all-zero table draws
 * nothing; the parts of the bars outside the image are left out. */
VYXIMAGE_API int Y8_ShowHistgram(unsigned char* pData, int nWidth, int nHeight,
                                 int nX, int nY, int nW, int nH, int* pnHist, int nPercent);

/* Counts the colour channels of the AOI into pnHist[3][256]: for pixels
 * stored blue, green, red, table 0 gets red, 1 green, 2 blue.  Bit counts
 * under 8 or above 32 leave the tables zero; 8-bit data is counted into
 * table 0; 32-bit data counts its first three bytes like 24-bit data. */
VYXIMAGE_API int VYXIMAGE_Rgb_Histgram(unsigned char* pData, int nWidth, int nHeight, int nBitCount,
                                       int nX, int nY, int nW, int nH, int* pnHist);

/* Placeholder for a colour histogram display: draws nothing. */
VYXIMAGE_API int Rgb_ShowHistgram(unsigned char* pData, int nWidth, int nHeight, int nBitCount,
                                  int nX, int nY, int nW, int nH, int* pnHist);

/* Binarisation with one threshold: p >= threshold -> 255, else 0
 * (invert != 0 swaps the two). */
VYXIMAGE_API int VYXIMAGE_Y8_ThresholdSingle(unsigned char* pData, int nWidth, int nHeight,
                                             int nThreshold, int nInvert);
VYXIMAGE_API int VYXIMAGE_Y8_ThresholdSingle_AOI(unsigned char* pData, int nWidth, int nHeight,
                                                 int nThreshold, int nInvert,
                                                 int nX, int nY, int nW, int nH);

/* Binarisation by a band: low <= p <= high -> 255, else 0 (invert != 0 swaps
 * the two).  low > high leaves nothing inside the band. */
VYXIMAGE_API int VYXIMAGE_Y8_ThresholdDouble(unsigned char* pData, int nWidth, int nHeight,
                                             int nLow, int nHigh, int nInvert);
VYXIMAGE_API int VYXIMAGE_Y8_ThresholdDouble_AOI(unsigned char* pData, int nWidth, int nHeight,
                                                 int nLow, int nHigh, int nInvert,
                                                 int nX, int nY, int nW, int nH);

/* The demos' per-frame step: grey histogram drawn into the centred AOI
 * (width/4, height/4, width/2, height/2), that AOI outlined, then the
 * top-left 320 x 240 pixels (fewer on a smaller frame) binarised at 128. */
VYXIMAGE_API int MyProcessData(unsigned char* pData, int nWidth, int nHeight, int nBitCount);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VYXIMAGE_H */
