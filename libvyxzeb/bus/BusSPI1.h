// BusSPI1.h - the board's second SPI bus, chip select 1.  Complete, but the
// shipped configuration puts no sensor on it.
#ifndef VYX_BUSSPI1_H
#define VYX_BUSSPI1_H

#include "BusSPI.h"

class VYXZEB_API CBusSPI1 : public CBusSPI {
public:
    CBusSPI1(bool* pbInit, unsigned long ulSpeed, unsigned char ucSetting0, unsigned char ucSetting1);
    ~CBusSPI1() override;

    static const char* const kDevicePath;
};

#endif
