// CommandLine.h - reads vyxcam's command line and runs the subcommand.
#ifndef VYXCAM_COMMAND_LINE_H
#define VYXCAM_COMMAND_LINE_H

namespace vyxcam {

// Returns the exit status: 0 success, 1 a camera (or run-time) error, 2 a
// usage error (printed with the usage line of the subcommand reached).
int runCommandLine(int argc, char** argv);

}  // namespace vyxcam

#endif
