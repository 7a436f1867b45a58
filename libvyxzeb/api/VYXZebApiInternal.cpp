// VYXZebApiInternal.cpp - the process-wide device object and shared helpers.
#include "VYXZebApiInternal.h"

CZeb* g_Zeb = nullptr;

namespace vyxapi {

// Width x height x bits / 8 in the signed 32-bit arithmetic the bounds have
// always used; computed wide first so an absurd size cannot overflow.
int FrameBytes(int nIndex, int* pnFrameBytes) {
    int nWidth = 0, nHeight = 0, nBits = 0;
    int nRet = g_Zeb->GetCaptureSize(nIndex, &nWidth, &nHeight, &nBits);
    if (nRet != 0) return nRet;
    const long long llBytes = static_cast<long long>(nWidth) * nHeight * nBits / 8;
    *pnFrameBytes = static_cast<int>(llBytes);
    return VYXZEB_RET_SUCCESS;
}

}  // namespace vyxapi
