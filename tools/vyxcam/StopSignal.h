// StopSignal.h - SIGINT and SIGTERM end a running command cleanly.
//
// The handler only raises a flag; the command looks at it between frames,
// finishes the file in hand, closes the camera and returns.  Without
// SA_RESTART a capture blocked in the library's frame wait (sem_timedwait,
// never restarted) returns at once with VYXZEB_RET_CAPTURE_TIMEOUT.
//
// The library and the board start threads of their own while the camera
// opens.  Open it inside a StopSignalHold: those threads inherit the blocked
// signals, so a signal always reaches the main thread and wakes its wait.
// A signal that arrives during the hold is delivered when it ends.
#ifndef VYXCAM_STOP_SIGNAL_H
#define VYXCAM_STOP_SIGNAL_H

#include <signal.h>

namespace vyxcam {

// Installs the handler for SIGINT and SIGTERM (once per process).
void installStopHandler();

// A stop signal has arrived.
bool stopRequested();

// Holds SIGINT and SIGTERM back on the calling thread (and on every thread it
// starts) for the life of the object.
class StopSignalHold {
public:
    StopSignalHold();
    ~StopSignalHold();
    StopSignalHold(const StopSignalHold&) = delete;
    StopSignalHold& operator=(const StopSignalHold&) = delete;

private:
    sigset_t m_previous;
};

// Waits until a stop signal arrives or timeoutMs passes (timeoutMs < 0: no
// limit).  Returns stopRequested().  No signal can slip in between the look
// at the flag and the wait: the signals are held back and taken with
// sigtimedwait.
bool waitForStop(long timeoutMs);

}  // namespace vyxcam

#endif
