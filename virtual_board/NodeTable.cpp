// NodeTable.cpp - which driver serves which node.  A new node is one driver
// file and one line here.
#include "NodeTable.h"

#include "CaptureDriver.h"
#include "GpioDriver.h"
#include "MemDriver.h"
#include "SpiDriver.h"

namespace vb {

namespace {
const NodeOps* const kNodes[kNodeCount] = {
    &kMemNode,       // Node::Mem
    &kCacheOpsNode,  // Node::CacheOps
    &kSpi0Node,      // Node::Spi0
    &kSpi1Node,      // Node::Spi1
    &kCaptureNode,   // Node::Capture
    &kGpioNode,      // Node::Gpio
};
}  // namespace

const NodeOps* nodeOps(Node node) {
    int n = static_cast<int>(node);
    return n >= 0 && n < kNodeCount ? kNodes[n] : nullptr;
}

}  // namespace vb
