// IBus.h - the bus interface handed from libvyxzeb to the sensor plug-in.
//
// The plug-in calls these operations by their position in the virtual table,
// so the order of the declarations below is part of the binary interface
// between the two shared libraries: destructor (slots 0 and 1), GetFd (2),
// GetSpeed (3).  Do not reorder, insert or remove.
#ifndef VYX_IBUS_H
#define VYX_IBUS_H

#include "VYXZebApi.h"

class VYXZEB_API CIBus {
public:
    virtual ~CIBus() {}
    // Descriptor of the bus's device node: 0, or -1001 with -1 when not open.
    virtual int GetFd(int& nFd) = 0;
    // Bus clock in Hz: 0, or -1001 when no clock is set.
    virtual int GetSpeed(int& nSpeed) = 0;
};

#endif
