// BusSPI.h - an SPI bus over a Linux spidev character device.
//
// The bus only owns the descriptor of its device node and a fixed clock rate;
// the sensor plug-in does the transfers itself on the descriptor it gets from
// GetFd.  The virtual slots are those of CIBus (destructor, GetFd, GetSpeed)
// and nothing may be added in front of them: the plug-in calls by position.
#ifndef VYX_BUSSPI_H
#define VYX_BUSSPI_H

#include "plugin/IBus.h"

class VYXZEB_API CBusSPI : public CIBus {
public:
    // The requested speed is not kept: the sensor's control port runs at the
    // fixed rate below whatever the caller asks for.  The two 8-bit settings
    // are only stored; the device node keeps the driver's default mode and
    // word size.
    CBusSPI(unsigned long ulSpeed, unsigned char ucSetting0, unsigned char ucSetting1);
    ~CBusSPI() override;

    // Descriptor 0 counts as "not open" here (the argument receives -1 and the
    // result is -1001), although the destructor still closes it.
    int GetFd(int& nFd) override;
    int GetSpeed(int& nSpeed) override;

    static const unsigned int kSpeedHz = 500000;

protected:
    // Opens the bus's spidev node read-write; the flag (may be null) tells
    // whether it opened.  Used by the constructors of CBusSPI0 and CBusSPI1.
    void OpenNode(const char* pszPath, bool* pbInit);

    int m_nFd;                      // device node, -1 when not open
    unsigned int m_unSpeed;         // always kSpeedHz
    unsigned char m_ucSetting0;     // stored, never applied
    unsigned char m_ucSetting1;     // stored, never applied
};

#endif
