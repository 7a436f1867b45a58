// Board.h - bringing the virtual board up: every node's kernel object, made
// through the node table, then the hardware model.
#ifndef VYX_BOARD_BOARD_H
#define VYX_BOARD_BOARD_H

#include "VyxBoard.h"

namespace vb {

// Builds the nodes (once) and starts the model (once).  Cheap afterwards.
void ensureBoard();
// The kernel object every open of `node` duplicates; -1 before ensureBoard.
int nodeTemplate(Node node);

}  // namespace vb

#endif
