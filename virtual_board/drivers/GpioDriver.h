// GpioDriver.h - /dev/misc_vyx_gpio, the board's ten GPIO lines.
#ifndef VYX_BOARD_DRIVERS_GPIODRIVER_H
#define VYX_BOARD_DRIVERS_GPIODRIVER_H

#include <vector>

#include "NodeOps.h"

namespace vb {

extern const NodeOps kGpioNode;

namespace gpio {

// Level a read request of the line sees; the model is told as well.
void setInput(int line, bool level);
bool level(int line);
std::vector<GpioWrite> writes();
void clearWrites();

}  // namespace gpio
}  // namespace vb

#endif
