// NodeTable.h - the board's device nodes, one entry per node, in Node order.
#ifndef VYX_BOARD_NODETABLE_H
#define VYX_BOARD_NODETABLE_H

#include "NodeOps.h"

namespace vb {

// The driver of a node; nullptr for Node::Count or anything out of range.
const NodeOps* nodeOps(Node node);

}  // namespace vb

#endif
