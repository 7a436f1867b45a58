// vyxcam - inspect, configure, capture, show and drive the camera from the
// shell.  The subcommands live in *Command.cpp; this file reads the command
// line and turns what a command throws into the exit status:
//   0 success, 1 a camera (or run-time) error, 2 a usage error.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <vector>

#include "CameraInfo.h"
#include "Commands.h"
#include "Errors.h"

namespace {

using vyxcam::Command;

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
    return vyxcam::kExitUsage;
}

std::string versionText()
{
    return "vyxcam " VYXCAM_VERSION ", libvyxzeb " + vyxcam::libraryVersion();
}

int run(const Command& command)
{
    try {
        return command.run();
    } catch (const vyxcam::CallError& e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (const vyxcam::RunError& e) {
        std::fprintf(stderr, "vyxcam: %s\n", e.what());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "vyxcam: out of memory\n");
    } catch (const vyxcam::UsageError&) {
        throw;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vyxcam: %s\n", e.what());
    }
    return vyxcam::kExitCameraError;
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Inspect, configure, capture, show and drive the VYX camera.", "vyxcam"};
    app.footer("Settings do not survive a run: every command that opens the camera applies its own options.\n"
               "Exit status: 0 success, 1 camera error, 2 usage error.  More: vyxcam SUBCOMMAND --help.");
    app.require_subcommand(1);
    app.fallthrough();   // --json and --log also after the subcommand
    vyxcam::GlobalOptions g;
    app.add_flag("--json", g.json, "Print the result as one JSON object (keys: tools/vyxcam/README.md)");
    app.add_option("--log", g.logFolder, "Switch the library's log on into DIR for this run")->type_name("DIR");
    app.set_version_flag("--version", versionText);
    const std::vector<Command> commands = {
        vyxcam::addInfoCommand(app, g), vyxcam::addCaptureCommand(app, g), vyxcam::addShowCommand(app, g),
        vyxcam::addGpioCommand(app, g), vyxcam::addLogCommand(app, g),
    };

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
            for (const Command& c : commands) known += (known.empty() ? "" : ", ") + c.app->get_name();
            return usageError(app, "'" + left.front() + "' is not a subcommand (" + known + ")");
        }
        return usageError(app, e.what());
    }
    for (const Command& c : commands) {
        if (!c.app->parsed()) continue;
        try {
            return run(c);
        } catch (const vyxcam::UsageError& e) {
            return usageError(app, e.what());
        }
    }
    return usageError(app, "no subcommand");
}
