// vyxcam - inspect, configure, capture, show and drive the camera from the
// shell.  Exit status: 0 success, 1 a camera (or run-time) error, 2 a usage
// error.  The command line is read in CommandLine.cpp; each subcommand runs
// from its own *Command.cpp.
#include "CommandLine.h"

int main(int argc, char** argv) { return vyxcam::runCommandLine(argc, argv); }
