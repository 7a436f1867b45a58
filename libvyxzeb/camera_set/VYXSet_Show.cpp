// VYXSet_Show.cpp - showing captured frames and user images on the HDMI
// output through the set's PL.
#include "PL.h"
#include "VYXSet.h"

// The display DMA needs the frame's physical address; a pointer that lies in
// none of the set's frame buffers is refused (-1001) before anything is
// programmed.
int CVYXSet::ShowCaptureData(unsigned char* pData) {
    if (!m_pPL) return VYXZEB_RET_SET_UNAVAILABLE;
    unsigned char* pPhy = nullptr;
    const int nRet = GetFramePhyAddress(pData, &pPhy);
    return nRet != 0 ? nRet : m_pPL->ShowCaptureData(pPhy);
}

int CVYXSet::ShowUserLoadData(unsigned char* pPhy, unsigned int unWidth, unsigned int unHeight,
                              unsigned int unBitCount) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::ShowUserLoadData, pPhy, unWidth, unHeight, unBitCount);
}
int CVYXSet::SetVideoWidgetPos(unsigned int unX, unsigned int unY, unsigned int unWidth, unsigned int unHeight) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::SetVideoWidgetPos, unX, unY, unWidth, unHeight);
}
int CVYXSet::GetVideoWidgetPos(unsigned int* punX, unsigned int* punY, unsigned int* punWidth,
                               unsigned int* punHeight) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::GetVideoWidgetPos, punX, punY, punWidth, punHeight);
}
int CVYXSet::SetPosition(int nX, int nY, unsigned int unWidth, unsigned int unHeight) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::SetPosition, nX, nY, unWidth, unHeight);
}
int CVYXSet::GetPosition(int* pnX, int* pnY, unsigned int* punWidth, unsigned int* punHeight) {
    return PL(VYXZEB_RET_SET_UNAVAILABLE, &CPL::GetPosition, pnX, pnY, punWidth, punHeight);
}
