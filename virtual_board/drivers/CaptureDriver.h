// CaptureDriver.h - /dev/vyx_capture_0, the capture interrupt's node.
#ifndef VYX_BOARD_DRIVERS_CAPTUREDRIVER_H
#define VYX_BOARD_DRIVERS_CAPTUREDRIVER_H

#include <cstddef>
#include <cstdint>

#include "NodeOps.h"

namespace vb {

extern const NodeOps kCaptureNode;

namespace capture {

// The PL's interrupt for camera set 0..3, subject to withholding.
bool raise(int set);
// Any record, not subject to withholding.
bool queue(const void* data, size_t len);
void withhold(bool withhold);
void stopAfter(unsigned count);
// Neither withheld nor stopped.
void passAll();
uint64_t queued();
uint64_t withheld();
uint64_t read();
bool waitRead(uint64_t count, int timeoutMs);

}  // namespace capture
}  // namespace vb

#endif
