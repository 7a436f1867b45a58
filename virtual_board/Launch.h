// Launch.h - the board's side of a run under the launcher vyxsim.
#ifndef VYX_BOARD_LAUNCH_H
#define VYX_BOARD_LAUNCH_H

namespace vb {

// Starts the launcher's watcher when the program runs under vyxsim; called
// once, when the model runs.
void startLaunchWatcher();

}  // namespace vb

#endif
