// BusSPI1.cpp - opens the spidev node of chip select 1.
#include "BusSPI1.h"

#include <fcntl.h>

const char* const CBusSPI1::kDevicePath = "/dev/spidev32766.1";

CBusSPI1::CBusSPI1(bool* pbInit, unsigned long ulSpeed, unsigned char ucSetting0, unsigned char ucSetting1)
    : CBusSPI(ulSpeed, ucSetting0, ucSetting1)
{
    if (pbInit != nullptr)
        *pbInit = false;
    m_nFd = open(kDevicePath, O_RDWR);
    if (pbInit != nullptr)
        *pbInit = m_nFd >= 0;
}

// The descriptor is closed by ~CBusSPI.
CBusSPI1::~CBusSPI1() = default;
