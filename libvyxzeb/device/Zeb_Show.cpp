// Zeb_Show.cpp - display: video widget, placement, showing captured frames
// and user images from the physical memory pool.
#include "VYXSet.h"
#include "Zeb.h"

namespace {
// The user's image occupies width x height pixels of bits / 8 bytes (at
// least one byte each: that much the display DMA reads in any case).
bool FitsPoolBlock(unsigned int unWidth, unsigned int unHeight, unsigned int unBitCount) {
    unsigned long long ullBytesPerPixel = (static_cast<unsigned long long>(unBitCount) + 7) / 8;
    if (ullBytesPerPixel == 0) ullBytesPerPixel = 1;
    const unsigned long long ullPixels = static_cast<unsigned long long>(unWidth) * unHeight;
    return ullPixels <= kPoolBlockBytes && ullPixels * ullBytesPerPixel <= kPoolBlockBytes;
}
}  // namespace

int CZeb::SetVideoWidgetPos(int i, unsigned int x, unsigned int y, unsigned int w, unsigned int h) {
    return Setting(i, &CVYXSet::SetVideoWidgetPos, x, y, w, h);
}
int CZeb::GetVideoWidgetPos(int i, unsigned int* pX, unsigned int* pY, unsigned int* pW, unsigned int* pH) {
    return Query(i, &CVYXSet::GetVideoWidgetPos, pX, pY, pW, pH);
}
int CZeb::SetPosition(int i, int x, int y, unsigned int w, unsigned int h) {
    return Setting(i, &CVYXSet::SetPosition, x, y, w, h);
}
int CZeb::GetPosition(int i, int* pX, int* pY, unsigned int* pW, unsigned int* pH) {
    return Query(i, &CVYXSet::GetPosition, pX, pY, pW, pH);
}
int CZeb::ShowCaptureData(int i, unsigned char* pData) { return Query(i, &CVYXSet::ShowCaptureData, pData); }

// A user image must lie inside its 8 MiB block: otherwise the display DMA
// would read the next blocks, or past the end of the reserved memory.
int CZeb::ShowUserLoadData(int nIndex, unsigned char* pBlock, unsigned int unWidth, unsigned int unHeight,
                           unsigned int unBitCount) {
    CVYXSet* pSet = SetAt(nIndex);
    if (!pSet) return VYXZEB_RET_SET_UNAVAILABLE;
    if (!FitsPoolBlock(unWidth, unHeight, unBitCount)) return VYXZEB_RET_BAD_PARAMETER;
    unsigned char* pPhy = nullptr;
    int nRet = GetLoadDataPhyAddress(pBlock, &pPhy);
    if (nRet != 0) return nRet;
    return pSet->ShowUserLoadData(pPhy, unWidth, unHeight, unBitCount);
}
