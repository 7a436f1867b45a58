// SpiDriver.h - the two spidev nodes of the sensor's control port.
#ifndef VYX_BOARD_DRIVERS_SPIDRIVER_H
#define VYX_BOARD_DRIVERS_SPIDRIVER_H

#include <vector>

#include "NodeOps.h"

namespace vb {

extern const NodeOps kSpi0Node;
extern const NodeOps kSpi1Node;

namespace spi {

std::vector<SpiFrame> log();
void clearLog();
// SPI_IOC_MESSAGE transfers on `bus` clock nothing from the Nth on (0: off).
void zeroTransfersFrom(int bus, unsigned fromCall);

}  // namespace spi
}  // namespace vb

#endif
