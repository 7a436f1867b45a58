// CommandLine.cpp - every subcommand's options (CLI11), and the one place
// where what a command throws becomes the exit status.  The subcommands
// themselves run from *Command.cpp; the SETTINGS options come from
// SettingsOptions.cpp.
#include "CommandLine.h"

#include <CLI/CLI.hpp>

#include <climits>
#include <cstdio>
#include <functional>
#include <vector>

#include "CameraInfo.h"
#include "Commands.h"
#include "Errors.h"
#include "ImageFile.h"
#include "Parse.h"
#include "SettingsOptions.h"

namespace vyxcam {

namespace {

struct Subcommand {
    CLI::App* app;
    std::function<int()> run;
};

struct Options {
    GlobalOptions global;
    CaptureOptions capture;
    ShowOptions show;
    ServeOptions serve;
    GpioOptions gpio;
    std::string logFolder;
};

void addCountOption(CLI::App& command, unsigned long& count, const std::string& help)
{
    command
        .add_option_function<std::string>(
            "-n,--count",
            [&count](const std::string& t) {
                const auto n = parseUnsigned(t, ULONG_MAX);
                if (!n || *n == 0) throw CLI::ValidationError("-n", "'" + t + "' is not a number of frames (1 or more)");
                count = *n;
            },
            help)
        ->type_name("N");
}

ScreenRect rectValue(const std::string& text)
{
    const auto v = parseUnsignedList(text, 4, ULONG_MAX);
    if (!v) throw CLI::ValidationError("--at", "'" + text + "' is not X,Y,W,H (four whole numbers)");
    const ScreenRect r{(*v)[0], (*v)[1], (*v)[2], (*v)[3]};
    if (r.width == 0 || r.height == 0 || r.x + r.width > kScreenWidth || r.y + r.height > kScreenHeight)
        throw CLI::ValidationError("--at", text + " is not a rectangle of the " + std::to_string(kScreenWidth) +
                                               " x " + std::to_string(kScreenHeight) + " screen");
    return r;
}

Subcommand addInfo(CLI::App& app, Options& o)
{
    CLI::App* cmd = app.add_subcommand(
        "info", "Library version, sensors with their ranges and power-on settings, GPIO lines");
    return {cmd, [&o] { return runInfo(o.global); }};
}

Subcommand addCapture(CLI::App& app, Options& o)
{
    CaptureOptions& c = o.capture;
    CLI::App* cmd = app.add_subcommand("capture", "Capture frames into files (software trigger unless --trigger)");
    addCountOption(*cmd, c.count, "Number of captures (default 1)");
    cmd->add_option("-o,--output", c.pattern,
                    "File name, with a printf-style frame number counted from 0 (default frame-%04d.png)")
        ->type_name("PATTERN");
    cmd->add_option("--format", c.format, "png, bmp, pgm or raw (default: from the file name's extension, else png)")
        ->check([](const std::string& t) { return formatFromName(t) ? "" : "'" + t + "' is not png, bmp, pgm or raw"; })
        ->type_name("FORMAT");
    addSettingsOptions(*cmd, c.settings);
    return {cmd, [&o] { return runCapture(o.capture, o.global); }};
}

Subcommand addShow(CLI::App& app, Options& o)
{
    ShowOptions& s = o.show;
    CLI::App* cmd = app.add_subcommand(
        "show", "Show a picture (PNG, BMP, PGM/PPM; grey or colour) or the live frames (--live) on HDMI");
    cmd->add_option("FILE", s.file, "Picture to show")->check(CLI::ExistingFile);
    cmd->add_flag("--live", s.live, "Capture and show frames until interrupted or -n");
    cmd->add_option_function<std::string>(
           "--at", [&s](const std::string& t) { s.at = rectValue(t); },
           "Screen rectangle the picture is scaled into (default: the whole 1280 x 720 screen; the PL rounds to "
           "multiples of 4)")
        ->type_name("X,Y,W,H");
    cmd->add_option_function<std::string>(
           "--hold-ms",
           [&s](const std::string& t) {
               s.holdMs = parseUnsigned(t, ULONG_MAX);
               if (!s.holdMs) throw CLI::ValidationError("--hold-ms", "'" + t + "' is not a whole number");
           },
           "Keep the picture on screen this long, then end (default: until interrupted)")
        ->type_name("N");
    addCountOption(*cmd, s.count, "With --live: end after N captures");
    addSettingsOptions(*cmd, s.settings);
    return {cmd, [&o] { return runShow(o.show, o.global); }};
}

// ADDR:PORT, ADDR a host name or IPv4 address, or [IPv6]; PORT 0 takes any
// free port.
void listenValue(const std::string& text, ServeOptions& s)
{
    const size_t colon = text.rfind(':');
    const auto port = colon == std::string::npos ? std::nullopt : parseUnsigned(text.substr(colon + 1), 65535);
    std::string host = colon == std::string::npos ? std::string() : text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (!port || host.empty())
        throw CLI::ValidationError("--listen", "'" + text + "' is not ADDR:PORT (for example 0.0.0.0:8080)");
    s.host = host;
    s.port = static_cast<int>(*port);
}

Subcommand addServe(CLI::App& app, Options& o)
{
    ServeOptions& s = o.serve;
    CLI::App* cmd = app.add_subcommand(
        "serve", "Live view in the browser: a small web server streaming the camera, with its settings");
    cmd->add_option_function<std::string>(
           "--listen", [&s](const std::string& t) { listenValue(t, s); },
           "Address and port to serve on (default 127.0.0.1:8080; 0.0.0.0:8080 for the whole network; port 0 "
           "takes a free one)")
        ->type_name("ADDR:PORT");
    cmd->add_flag("--read-only", s.readOnly, "Refuse every change (settings, trigger) with 403");
    cmd->add_option_function<std::string>(
           "--max-streams",
           [&s](const std::string& t) {
               const auto n = parseUnsigned(t, kMaxStreams);
               if (!n || *n == 0)
                   throw CLI::ValidationError("--max-streams",
                                              "'" + t + "' is not 1 to " + std::to_string(kMaxStreams));
               s.maxStreams = *n;
           },
           "Streaming clients served at once (default 4); the next gets 503")
        ->type_name("N");
    addSettingsOptions(*cmd, s.settings);
    return {cmd, [&o] { return runServe(o.serve, o.global); }};
}

Subcommand addGpio(CLI::App& app, Options& o)
{
    CLI::App* cmd = app.add_subcommand("gpio", "Read and set the camera's GPIO lines");
    cmd->require_subcommand(1);
    CLI::App* get = cmd->add_subcommand("get", "Print LINE=LEVEL for the lines (default: all)");
    get->add_option("LINE", o.gpio.lines, "Line numbers");
    CLI::App* set = cmd->add_subcommand("set", "Set output lines, then print what they read back");
    set->add_option("LINE=LEVEL", o.gpio.lines, "For example 3=1 5=0")->required();
    cmd->add_subcommand("status", "Count, directions and levels of all lines");
    return {cmd, [&o, get, set] {
                if (get->parsed()) return runGpioGet(o.gpio, o.global);
                if (set->parsed()) return runGpioSet(o.gpio, o.global);
                return runGpioStatus(o.global);
            }};
}

Subcommand addLog(CLI::App& app, Options& o)
{
    CLI::App* cmd = app.add_subcommand("log", "Switch the library's log on or off for every later vyxcam run");
    cmd->require_subcommand(1);
    CLI::App* on = cmd->add_subcommand("on", "Every later run writes the library's log into DIR");
    on->add_option("DIR", o.logFolder, "Log folder (created if its parent exists)")
        ->required()
        ->check([](const std::string& t) {
            return t.empty() ? std::string("the log folder name is empty") : std::string();
        });
    CLI::App* off = cmd->add_subcommand("off", "Later runs write no log (unless --log)");
    cmd->add_subcommand("status", "Whether the log is on, its folder and newest file");
    return {cmd, [&o, on, off] {
                if (on->parsed()) return runLogOn(o.logFolder, o.global);
                if (off->parsed()) return runLogOff(o.global);
                return runLogStatus(o.global);
            }};
}

// The subcommand the user got to ("vyxcam gpio set"), for its usage line.
const CLI::App* deepestCommand(const CLI::App& app, std::string& name)
{
    const CLI::App* at = &app;
    name = app.get_name();
    for (;;) {
        const std::vector<CLI::App*> chosen = at->get_subcommands();
        if (chosen.empty()) return at;
        at = chosen.front();
        name += " " + at->get_name();
    }
}

int usageError(const CLI::App& app, const std::string& message)
{
    std::string name;
    const CLI::App* at = deepestCommand(app, name);
    std::fprintf(stderr, "%s: %s\n%sRun '%s --help' for more information.\n", name.c_str(), message.c_str(),
                 CLI::Formatter().make_usage(at, name).c_str(), name.c_str());
    return kExitUsage;
}

std::string versionText() { return "vyxcam " VYXCAM_VERSION ", libvyxzeb " + libraryVersion(); }

// Runs a subcommand; run-time failures become status 1, usage errors are
// passed on for their usage line.
int run(const Subcommand& command)
{
    try {
        return command.run();
    } catch (const CallError& e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (const RunError& e) {
        std::fprintf(stderr, "vyxcam: %s\n", e.what());
    } catch (const UsageError&) {
        throw;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "vyxcam: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vyxcam: %s\n", e.what());
    }
    return kExitCameraError;
}

}  // namespace

int runCommandLine(int argc, char** argv)
{
    CLI::App app{"Inspect, configure, capture, show and drive the VYX camera.", "vyxcam"};
    app.footer("Settings do not survive a run: every command that opens the camera applies its own options.\n"
               "Exit status: 0 success, 1 camera error, 2 usage error.  More: vyxcam SUBCOMMAND --help.");
    app.require_subcommand(1);
    app.fallthrough();   // --json and --log also after the subcommand
    Options o;
    app.add_flag("--json", o.global.json, "Print the result as one JSON object (keys: tools/vyxcam/README.md)");
    app.add_option("--log", o.global.logFolder, "Switch the library's log on into DIR for this run")->type_name("DIR");
    app.set_version_flag("--version", versionText);
    const std::vector<Subcommand> commands = {addInfo(app, o), addCapture(app, o), addShow(app, o),
                                              addServe(app, o), addGpio(app, o), addLog(app, o)};
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // A mistyped subcommand is left over rather than "not expected".
        const std::vector<std::string> left = app.remaining();
        if (app.get_subcommands().empty() && !left.empty()) {
            std::string known;
            for (const Subcommand& c : commands) known += (known.empty() ? "" : ", ") + c.app->get_name();
            return usageError(app, "'" + left.front() + "' is not a subcommand (" + known + ")");
        }
        return usageError(app, e.what());
    }
    for (const Subcommand& c : commands) {
        if (!c.app->parsed()) continue;
        try {
            return run(c);
        } catch (const UsageError& e) {
            return usageError(app, e.what());
        }
    }
    return usageError(app, "no subcommand");
}

}  // namespace vyxcam
