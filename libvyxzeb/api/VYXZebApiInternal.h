// VYXZebApiInternal.h - the call frame shared by every exported function.
//
// Each device call first checks that the library is initialised (before it
// looks at any argument), then makes its own checks, then calls the CZeb
// operation of the same meaning and returns its result unchanged.
#ifndef VYX_ZEB_API_INTERNAL_H
#define VYX_ZEB_API_INTERNAL_H

#include <utility>

#include "Zeb.h"

namespace vyxapi {

// Forward to the device object, or -1002 when there is none.  g_Zeb is read
// once per call.
template <typename... P, typename... A>
inline int ToDevice(int (CZeb::*op)(P...), A&&... args) {
    CZeb* pZeb = g_Zeb;
    return pZeb ? (pZeb->*op)(std::forward<A>(args)...) : VYXZEB_RET_NOT_INITIALIZED;
}

inline bool Initialised() { return g_Zeb != nullptr; }

// Getters whose API checks its output: -1002 first, then -1009 for a null
// output, then the device operation (first argument: sensor index or pin).
template <typename K, typename T, typename... P>
inline int ToDeviceWithOutput(int (CZeb::*op)(P...), K first, T* pOut) {
    if (!Initialised()) return VYXZEB_RET_NOT_INITIALIZED;
    if (!pOut) return VYXZEB_RET_BAD_PARAMETER;
    return (g_Zeb->*op)(first, pOut);
}

// Bytes of one frame of the set's current capture size, for the multi-frame
// bounds; 0 means the size is unusable.
int FrameBytes(int nIndex, int* pnFrameBytes);

constexpr unsigned long kMicrosecondsPerSecond = 1000000UL;
constexpr unsigned long kMaxFrameBufNumber = 3;
constexpr unsigned short kTriggerFilterMin = 0;
constexpr unsigned short kTriggerFilterMax = 65535;

}  // namespace vyxapi

#endif
