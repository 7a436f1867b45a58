// VYXZebApiShow.cpp - display and user memory.
#include "VYXZebApiInternal.h"

using namespace vyxapi;

extern "C" {

VYXZEB_API int VYXZEB_SetVideoWidgetPos(int i, unsigned int x, unsigned int y, unsigned int w, unsigned int h) {
    return ToDevice(&CZeb::SetVideoWidgetPos, i, x, y, w, h);
}
VYXZEB_API int VYXZEB_SetPosition(int i, int x, int y, unsigned int w, unsigned int h) {
    return ToDevice(&CZeb::SetPosition, i, x, y, w, h);
}
VYXZEB_API int VYXZEB_ShowCaptureData(int i, unsigned char* p) { return ToDevice(&CZeb::ShowCaptureData, i, p); }
VYXZEB_API int VYXZEB_Malloc(unsigned long ulSize, unsigned char** pp) {
    return ToDevice(&CZeb::MallocPhyPoolBlk, ulSize, pp);
}
VYXZEB_API int VYXZEB_ShowUserLoadData(int i, unsigned char* p, unsigned int w, unsigned int h, unsigned int bits) {
    return ToDevice(&CZeb::ShowUserLoadData, i, p, w, h, bits);
}

// The caller's pointer is cleared once the block is back in the pool, so a
// second free of the same variable is caught as "no block".
VYXZEB_API int VYXZEB_Free(unsigned char** ppBlock) {
    if (!Initialised()) return VYXZEB_RET_NOT_INITIALIZED;
    if (!ppBlock || !*ppBlock) return VYXZEB_RET_NULL_BUFFER;
    int nRet = g_Zeb->FreePhyPoolBlk(*ppBlock);
    if (nRet == 0) *ppBlock = nullptr;
    return nRet;
}

}  // extern "C"

VYXZEB_API int VYXZEB_GetPosition(int i, int* pX, int* pY, unsigned int* pW, unsigned int* pH) {
    return ToDevice(&CZeb::GetPosition, i, pX, pY, pW, pH);
}
