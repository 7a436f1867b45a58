// SweepOperations.h - the operations the fault sweep fails call by call: each
// runs a piece of an application's life against the library and says whether
// it really completed, judged from the board (the frame's stamp, the screen,
// the file on the card), not from the return codes alone.
#ifndef VYX_TESTS_SWEEP_OPERATIONS_H
#define VYX_TESTS_SWEEP_OPERATIONS_H

#include <string>
#include <vector>

namespace vyxsweep {

struct Outcome {
    int ret = 0;             // first return code other than 0, else 0
    bool completed = false;  // what the operation promised is really there
    std::string what;        // where it stopped or what is missing
    bool broken = false;     // a failure left something behind it must not
};

struct Operation {
    const char* name;
    // The device is initialised around the run (all but init and uninit).
    bool needsDevice;
    // Sets up what the run needs, without faults (a frame, a block).
    bool (*prepare)();
    Outcome (*run)();
    // After a run that returned 0, with faults off: what it set up works.
    bool (*confirm)(std::string* why);
    // Gives back what prepare and run took, without faults.
    void (*finish)(const Outcome& outcome);
};

const std::vector<Operation>& Operations();
const Operation* FindOperation(const std::string& name);

// What the last confirm found worth telling that is not a fault (empty if
// nothing), and forgets it.
std::string TakeNote();

// A clean software capture with release: true when the frame is the board's.
bool CleanCapture(std::string* why);

}  // namespace vyxsweep

#endif
