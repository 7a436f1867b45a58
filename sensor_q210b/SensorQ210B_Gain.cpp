// SensorQ210B_Gain.cpp - analogue gain of the Q210B.
//
// One 8-bit gain code, repeated in both bytes of both gain registers.
#include "SensorQ210B.h"

using namespace q210b;

int CSensorQ210B::GetGainRange(unsigned long* pulMin, unsigned long* pulMax)
{
    if (pulMin != nullptr) *pulMin = 0;
    if (pulMax != nullptr) *pulMax = kMaxGain;
    return VYXZEB_RET_SUCCESS;
}

int CSensorQ210B::SetGain(unsigned long ulGain)
{
    if (ulGain > kMaxGain)
        ulGain = kMaxGain;
    const unsigned long ulValue = ulGain * kGainBothBytes;
    const int nRet = SensorWrReg(kRegGainA, ulValue, nullptr);
    if (nRet != VYXZEB_RET_SUCCESS)
        return nRet;
    return SensorWrReg(kRegGainB, ulValue, nullptr);
}

int CSensorQ210B::GetGain(unsigned long* pulGain)
{
    if (pulGain != nullptr)
        *pulGain = Reg(kRegGainA) >> kGainReportShift;
    return VYXZEB_RET_SUCCESS;
}
