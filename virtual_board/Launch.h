// Launch.h - the board's side of a run under the launcher vyxsim.
#ifndef VYX_BOARD_LAUNCH_H
#define VYX_BOARD_LAUNCH_H

namespace vb {

// Starts the launcher's watcher when the program runs under vyxsim; called
// once, when the model runs.
void startLaunchWatcher();

// Says that the board is up: under vyxsim the banner goes to the launcher's
// handshake descriptor (the launcher prints it once for the whole run and
// refuses to go on without it); otherwise it goes to standard error.
void announceBoard(const char* banner);

}  // namespace vb

#endif
