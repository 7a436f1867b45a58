// Descriptors.h - which descriptors of the process are the board's.
//
// Every open of a node is a duplicate of the node's kernel object, so the
// kernel hands out the number and close() releases it natively; the table
// remembers which node a number belongs to.  It is consulted by every read
// and write of the process, so lookups are lock-free.  libc can close a
// descriptor behind the board's back (fclose), so a lookup checks that the
// number still refers to the node's object before trusting the table.
#ifndef VYX_BOARD_CORE_DESCRIPTORS_H
#define VYX_BOARD_CORE_DESCRIPTORS_H

#include <sys/types.h>

#include "VyxBoard.h"

namespace vb {

constexpr int kMaxNodeFd = 65536;

// The node's kernel object (what every open duplicates) is known by these.
void fdSetIdentity(Node node, dev_t dev, ino_t ino);
// Node of a descriptor; Node::Count when it is not one of the board's.
Node fdNode(int fd);
// Open flags the descriptor was opened with.
int fdFlags(int fd);
// The kernel gave `fd` for an open of `node`.  Returns true when this is the
// node's only open descriptor now.
bool fdAttach(int fd, Node node, int flags);
// `fd` is about to be closed.  Returns true when it was the node's last.
bool fdDetach(int fd, Node node);
// Open descriptors of one node (stale entries are dropped first).
int fdOpenCount(Node node);

}  // namespace vb

#endif
