// Descriptors.h - which descriptors of the process are the board's.
//
// Every open of a node is a duplicate of the node's kernel object, so the
// kernel hands out the number and close() releases it natively; the table
// remembers which node a number belongs to.  It is consulted by every read
// and write of the process, so lookups are lock-free.  libc can close a
// descriptor behind the board's back (fclose), so a lookup checks that the
// number still refers to the node's object before trusting the table.
//
// The board's own descriptors (the object every open of a node duplicates,
// the memories behind the mappings, the PL's end of the interrupt socket)
// live at high numbers, close-on-exec, out of the way of a program that
// closes every descriptor, opens its data files or dup2()s onto numbers.
// Each is held in a slot that knows the object by identity (fstat device and
// inode); every use checks it, so a number that came to mean something else
// is never written through.
#ifndef VYX_BOARD_CORE_DESCRIPTORS_H
#define VYX_BOARD_CORE_DESCRIPTORS_H

#include <sys/types.h>

#include "VyxBoard.h"

namespace vb {

constexpr int kMaxNodeFd = 65536;

// ---- the board's own descriptors
// Takes `fd` over (the number given is closed): the slot that now holds the
// object at a high, close-on-exec number; -1 with errno (fd closed too).
int ownTake(int fd);
// The descriptor of a slot, for use now: -1 with EBADF (and a message on
// standard error, once) when the object is no longer behind its number.
int ownFd(int slot);
// Closes the slot's descriptor (a bring-up that failed half-way).
void ownRelease(int slot);
// Whether `fd` is one of the board's own descriptors (cheap below them).
bool ownHolds(int fd);
// The program wants number `fd` (a dup2 onto it): the board's object there
// moves to another high number first.  False with errno when it cannot.
bool ownMoveAway(int fd);
// The board's own descriptors within [first, last], ascending.
int ownWithin(unsigned first, unsigned last, int* out, int max);

// ---- the nodes' descriptors
// The kernel object of a node whose data the board serves itself: an empty
// memfd sealed against writes, so that a write that does not pass through
// the board (stdio, a descriptor inherited across exec) fails with EPERM
// instead of vanishing into it.  -1 with errno.
int sealedNodeObject(const char* name);
// The node's kernel object, held in `slot`, is what every open duplicates.
void fdSetTemplate(Node node, int slot);
// Its descriptor for use now (identity checked), -1 with errno before the
// board is up or when it was lost.
int fdTemplate(Node node);
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
