// Commands.h - the subcommands of vyxcam, one source each.  Each adds its
// CLI11 subcommand with its options and returns the function that runs it
// once the command line has been read; that function returns the exit
// status or throws (Errors.h).
#ifndef VYXCAM_COMMANDS_H
#define VYXCAM_COMMANDS_H

#include <functional>
#include <string>

#include "CameraInfo.h"

namespace CLI {
class App;
}

namespace vyxcam {

// Options of the whole tool, accepted before or after the subcommand.
struct GlobalOptions {
    bool json = false;        // --json: one JSON object on standard output
    std::string logFolder;    // --log DIR: the library's log for this run
};

struct Command {
    CLI::App* app = nullptr;
    std::function<int()> run;
};

Command addInfoCommand(CLI::App& app, const GlobalOptions& g);
Command addCaptureCommand(CLI::App& app, const GlobalOptions& g);
Command addShowCommand(CLI::App& app, const GlobalOptions& g);
Command addGpioCommand(CLI::App& app, const GlobalOptions& g);
Command addLogCommand(CLI::App& app, const GlobalOptions& g);

// The folder the library's log goes to for this run: --log, else the one
// `vyxcam log on` saved, else none.
std::string runLogFolder(const GlobalOptions& g);

// Adds -n/--count: a number of captures, 1 or more.
void addCountOption(CLI::App& command, unsigned long& count, const std::string& help);

// Writes one JSON object and a line break on standard output.
void printJson(const Json& j);

}  // namespace vyxcam

#endif
