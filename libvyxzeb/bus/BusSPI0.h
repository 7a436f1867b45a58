// BusSPI0.h - the SPI bus of the sensor's control port, chip select 0.
#ifndef VYX_BUSSPI0_H
#define VYX_BUSSPI0_H

#include "BusSPI.h"

class VYXZEB_API CBusSPI0 : public CBusSPI {
public:
    // *pbInit tells whether the device node opened; the object is complete
    // either way and the creator deletes it when the flag is false.
    CBusSPI0(bool* pbInit, unsigned long ulSpeed, unsigned char ucSetting0, unsigned char ucSetting1);
    ~CBusSPI0() override;

    static const char* const kDevicePath;
};

#endif
