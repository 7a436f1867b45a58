/**
 * @file plugin/IBus.h
 * @brief The bus interface handed from libvyxzeb to a sensor plug-in.
 *
 * The library owns the bus (one per SPI device node) and hands it to the
 * plug-in's newSensor(); the sensor keeps the pointer and talks to the
 * sensor's control port through the descriptor it gives out.  The plug-in
 * calls these operations by their position in the virtual table, so the
 * order of the declarations below is part of the binary interface between
 * the two shared libraries: destructor (slots 0 and 1), GetFd (2),
 * GetSpeed (3).  Do not reorder, insert or remove.
 */
#ifndef VYX_IBUS_H
#define VYX_IBUS_H

#include "VYXZebApi.h"

/** Abstract bus, as a sensor plug-in sees it. */
class VYXZEB_API CIBus {
public:
    virtual ~CIBus() {}  ///< slots 0, 1; the library deletes its buses
    /** Slot 2: descriptor of the bus's device node into nFd.
     *  @return #VYXZEB_RET_SUCCESS, or #VYXZEB_RET_FAILED with nFd = -1 when
     *  the node is not open. */
    virtual int GetFd(int& nFd) = 0;
    /** Slot 3: bus clock in Hz into nSpeed.
     *  @return #VYXZEB_RET_SUCCESS, or #VYXZEB_RET_FAILED when no clock is
     *  set. */
    virtual int GetSpeed(int& nSpeed) = 0;
};

#endif
