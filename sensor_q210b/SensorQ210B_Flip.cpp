// SensorQ210B_Flip.cpp - readout direction of the Q210B: mirror (columns
// right to left) and flip (rows bottom to top), both in the control register.
#include "SensorQ210B.h"

using namespace q210b;

int CSensorQ210B::SetMirror(bool bMirror)
{
    return WriteBits(kRegControl, kControlMirror, bMirror ? kControlMirror : 0);
}

int CSensorQ210B::GetMirror(bool* pbMirror)
{
    if (pbMirror != nullptr)
        *pbMirror = (Reg(kRegControl) & kControlMirror) != 0;
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::SetFlip(bool bFlip)
{
    return WriteBits(kRegControl, kControlFlip, bFlip ? kControlFlip : 0);
}

int CSensorQ210B::GetFlip(bool* pbFlip)
{
    if (pbFlip != nullptr)
        *pbFlip = (Reg(kRegControl) & kControlFlip) != 0;
    return VYXZEB_RET_SUCCESS;
}
