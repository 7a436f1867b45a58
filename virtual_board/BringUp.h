// BringUp.h - bringing the virtual board up: every node's kernel object, made
// through the node table, then the hardware model.
#ifndef VYX_BOARD_BRINGUP_H
#define VYX_BOARD_BRINGUP_H

#include <string>

#include "VyxBoard.h"

namespace vb {

// Builds the nodes (once, on the first access) and starts the model (once).
// Cheap afterwards.  False with errno when the board cannot be built (it is
// tried again on the next access; the reason is told once).
bool ensureBoard();
// The kernel object every open of `node` duplicates, identity checked; -1
// with errno before ensureBoard or when it was lost.
int nodeTemplate(Node node);
// "vyxboard: virtual board active: <the nodes> are emulated\n"
std::string boardBanner();

}  // namespace vb

#endif
