// BusSPI0.cpp - opens the spidev node of chip select 0.
#include "BusSPI0.h"

const char* const CBusSPI0::kDevicePath = "/dev/spidev32766.0";

CBusSPI0::CBusSPI0(bool* pbInit, unsigned long ulSpeed, unsigned char ucSetting0, unsigned char ucSetting1)
    : CBusSPI(ulSpeed, ucSetting0, ucSetting1)
{
    OpenNode(kDevicePath, pbInit);
}

// The descriptor is closed by ~CBusSPI.
CBusSPI0::~CBusSPI0() = default;
