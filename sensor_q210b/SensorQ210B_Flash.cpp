// SensorQ210B_Flash.cpp - the Q210B's flash (strobe) output: enable and
// polarity.
#include "SensorQ210B.h"

using namespace q210b;

int CSensorQ210B::FlashSetEnable(bool bEnable)
{
    // The enable field is two bits wide; 01 switches the output on.
    return WriteBits(kRegLineOptions, kFlashEnableMask, bEnable ? kFlashEnableOn : 0);
}

int CSensorQ210B::FlashGetEnable(bool* pbEnable)
{
    if (pbEnable != nullptr)
        *pbEnable = (Reg(kRegLineOptions) & kFlashEnableMask) != 0;
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::FlashSetInvert(bool bInvert)
{
    return WriteBits(kRegControl, kControlFlashInvert, bInvert ? kControlFlashInvert : 0);
}

int CSensorQ210B::FlashGetInvert(bool* pbInvert)
{
    if (pbInvert != nullptr)
        *pbInvert = (Reg(kRegControl) & kControlFlashInvert) != 0;
    return VYXZEB_RET_SUCCESS;
}
