// Commands.h - the subcommands of vyxcam: what each takes from the command
// line, and the function that runs it.  The command line itself (CLI11) is
// read in CommandLine.cpp; each subcommand runs from a source of its own and
// returns the exit status or throws (Errors.h).
#ifndef VYXCAM_COMMANDS_H
#define VYXCAM_COMMANDS_H

#include <optional>
#include <string>
#include <vector>

#include "CameraInfo.h"
#include "Settings.h"

namespace vyxcam {

// Options of the whole tool, accepted before or after the subcommand.
struct GlobalOptions {
    bool json = false;        // --json: one JSON object on standard output
    std::string logFolder;    // --log DIR: the library's log for this run
};

struct CaptureOptions {
    unsigned long count = 1;
    std::string pattern = "frame-%04d.png";
    std::string format;       // empty: from the pattern's extension
    CameraSettings settings;
};

// The HDMI screen the PL drives.
constexpr unsigned long kScreenWidth = 1280;
constexpr unsigned long kScreenHeight = 720;

struct ScreenRect {
    unsigned long x = 0, y = 0, width = kScreenWidth, height = kScreenHeight;
};

struct ShowOptions {
    std::string file;
    bool live = false;
    std::optional<ScreenRect> at;
    std::optional<unsigned long> holdMs;
    unsigned long count = 0;  // --live: 0 = until stopped
    CameraSettings settings;
};

// Streaming clients of `serve`: by default, and at most.
constexpr unsigned long kDefaultMaxStreams = 4;
constexpr unsigned long kMaxStreams = 64;

struct ServeOptions {
    std::string host = "127.0.0.1";   // --listen ADDR:PORT
    int port = 8080;                  // 0: any free port
    bool readOnly = false;
    unsigned long maxStreams = kDefaultMaxStreams;
    CameraSettings settings;
};

struct GpioOptions {
    std::vector<std::string> lines;   // get: LINE, set: LINE=LEVEL
};

int runInfo(const GlobalOptions& g);
int runCapture(const CaptureOptions& o, const GlobalOptions& g);
int runShow(const ShowOptions& o, const GlobalOptions& g);
int runServe(const ServeOptions& o, const GlobalOptions& g);
int runGpioGet(const GpioOptions& o, const GlobalOptions& g);
int runGpioSet(const GpioOptions& o, const GlobalOptions& g);
int runGpioStatus(const GlobalOptions& g);
int runLogOn(const std::string& folder, const GlobalOptions& g);
int runLogOff(const GlobalOptions& g);
int runLogStatus(const GlobalOptions& g);

// The folder the library's log goes to for this run: --log, else the one
// `vyxcam log on` saved, else none.
std::string runLogFolder(const GlobalOptions& g);

// Writes one JSON object and a line break on standard output.
void printJson(const Json& j);

}  // namespace vyxcam

#endif
