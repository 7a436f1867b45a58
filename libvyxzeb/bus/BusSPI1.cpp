// BusSPI1.cpp - opens the spidev node of chip select 1.
#include "BusSPI1.h"

#include "Nodes.h"

const char* const CBusSPI1::kDevicePath = vyxnode::kSpi1Path;

CBusSPI1::CBusSPI1(bool* pbInit, unsigned long ulSpeed, unsigned char ucSetting0, unsigned char ucSetting1)
    : CBusSPI(ulSpeed, ucSetting0, ucSetting1)
{
    OpenNode(kDevicePath, pbInit);
}

// The descriptor is closed by ~CBusSPI.
CBusSPI1::~CBusSPI1() = default;
