// BusSPI0.cpp - opens the spidev node of chip select 0.
#include "BusSPI0.h"

#include "Nodes.h"

const char* const CBusSPI0::kDevicePath = vyxnode::kSpi0Path;

CBusSPI0::CBusSPI0(bool* pbInit, unsigned long ulSpeed, unsigned char ucSetting0, unsigned char ucSetting1)
    : CBusSPI(ulSpeed, ucSetting0, ucSetting1)
{
    OpenNode(kDevicePath, pbInit);
}

// The descriptor is closed by ~CBusSPI.
CBusSPI0::~CBusSPI0() = default;
