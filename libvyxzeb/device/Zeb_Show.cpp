// Zeb_Show.cpp - display: video widget, placement, showing captured frames
// and user images from the physical memory pool.
#include "PL.h"
#include "VYXSet.h"
#include "Zeb.h"

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

// A user image is 8-bit grey or 24-bit colour, and everything the display
// DMA reads of it must lie inside its 8 MiB block: otherwise it would show
// the next blocks, or read past the end of the reserved memory.
int CZeb::ShowUserLoadData(int nIndex, unsigned char* pBlock, unsigned int unWidth, unsigned int unHeight,
                           unsigned int unBitCount) {
    std::lock_guard<std::mutex> g(m_CallLock);
    CVYXSet* pSet = SetAt(nIndex);
    if (!pSet) return VYXZEB_RET_SET_UNAVAILABLE;
    unsigned long long ullBytes = 0;
    if (!CPL::ShowSourceBytes(unWidth, unHeight, unBitCount, &ullBytes) ||
        ullBytes > vyxpl::phys::kPoolBlockBytes)
        return VYXZEB_RET_BAD_PARAMETER;
    unsigned char* pPhy = nullptr;
    int nRet = GetLoadDataPhyAddress(pBlock, &pPhy);
    if (nRet != 0) return nRet;
    return pSet->ShowUserLoadData(pPhy, unWidth, unHeight, unBitCount);
}
