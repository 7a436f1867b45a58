// VYXZebApiIo.cpp - GPIO pins and the sensor's flash output.
//
// The API presents pins 0 to 7 of the board's GPIO driver: 0 to 2 are
// inputs, 3 to 7 outputs.  Directions are fixed by the board.
#include "VYXZebApiInternal.h"

using namespace vyxapi;

namespace {
constexpr unsigned short kGpioPins = 8;
constexpr unsigned short kGpioDirectionMask = 0xF8;   // bit i set: pin i is an output
constexpr unsigned int kFirstOutputPin = 3;
}  // namespace

extern "C" {

VYXZEB_API int VYXZEB_GpioGetNum(unsigned short* p) {
    if (!Initialised()) return VYXZEB_RET_NOT_INITIALIZED;
    if (!p) return VYXZEB_RET_BAD_PARAMETER;
    *p = kGpioPins;
    return VYXZEB_RET_SUCCESS;
}

VYXZEB_API int VYXZEB_GpioGetDirection(unsigned short* p) {
    if (!Initialised()) return VYXZEB_RET_NOT_INITIALIZED;
    if (!p) return VYXZEB_RET_BAD_PARAMETER;
    *p = kGpioDirectionMask;
    return VYXZEB_RET_SUCCESS;
}

VYXZEB_API int VYXZEB_GpioSetDirection(unsigned short /*usMask*/) { return VYXZEB_RET_NOT_SUPPORTED; }

VYXZEB_API int VYXZEB_GpioSet(unsigned int unPin, bool b) { return ToDevice(&CZeb::SetGPIO, unPin, b); }

VYXZEB_API int VYXZEB_GpioGet(unsigned int unPin, bool* p) { return ToDeviceWithOutput(&CZeb::GetGPIO, unPin, p); }

// Reads pins 0 to 7 in order; on a failure the bits read so far stay set.
VYXZEB_API int VYXZEB_GpioGetStatus(unsigned short* pLevels) {
    if (!Initialised()) return VYXZEB_RET_NOT_INITIALIZED;
    if (!pLevels) return VYXZEB_RET_BAD_PARAMETER;
    *pLevels = 0;
    for (unsigned int unPin = 0; unPin < kGpioPins; ++unPin) {
        bool bLevel = false;
        int nRet = g_Zeb->GetGPIO(unPin, &bLevel);
        if (nRet != 0) return nRet;
        if (bLevel) *pLevels = static_cast<unsigned short>(*pLevels | (1u << unPin));
    }
    return VYXZEB_RET_SUCCESS;
}

// Sets the output pins 3 to 7 from their bits; stops at the first failure.
VYXZEB_API int VYXZEB_GpioSetStatus(unsigned short usLevels) {
    if (!Initialised()) return VYXZEB_RET_NOT_INITIALIZED;
    for (unsigned int unPin = kFirstOutputPin; unPin < kGpioPins; ++unPin) {
        int nRet = g_Zeb->SetGPIO(unPin, (usLevels >> unPin) & 1u);
        if (nRet != 0) return nRet;
    }
    return VYXZEB_RET_SUCCESS;
}

VYXZEB_API int VYXZEB_FlashSetEnable(int i, bool b) { return ToDevice(&CZeb::FlashSetEnable, i, b); }
VYXZEB_API int VYXZEB_FlashGetEnable(int i, bool* p) { return ToDeviceWithOutput(&CZeb::FlashGetEnable, i, p); }
VYXZEB_API int VYXZEB_FlashSetInvert(int i, bool b) { return ToDevice(&CZeb::FlashSetInvert, i, b); }
VYXZEB_API int VYXZEB_FlashGetInvert(int i, bool* p) { return ToDeviceWithOutput(&CZeb::FlashGetInvert, i, p); }

}  // extern "C"
