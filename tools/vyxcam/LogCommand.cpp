// LogCommand.cpp - `vyxcam log on DIR|off|status`: the library's log for
// every later run (LogState.h).
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

#include "Camera.h"
#include "Commands.h"
#include "Errors.h"
#include "LogState.h"
#include "VYXLog.h"
#include "VYXZebApi.h"

namespace vyxcam {

namespace {

void printState(const GlobalOptions& g)
{
    const std::optional<std::string> folder = savedLogFolder();
    const std::string newest = folder ? newestLogFile(*folder) : std::string();
    if (g.json) {
        printJson(Json{{"enabled", folder.has_value()},
                       {"folder", folder ? Json(*folder) : Json(nullptr)},
                       {"newest_file", newest.empty() ? Json(nullptr) : Json(newest)},
                       {"state_file", logStateFile()}});
        return;
    }
    if (!folder) {
        std::printf("log off\n");
        return;
    }
    std::printf("log on: %s\n", folder->c_str());
    if (!newest.empty()) std::printf("newest file: %s\n", newest.c_str());
}

int switchOn(const std::string& dir, const GlobalOptions& g)
{
    const std::string folder = absolutePath(dir);
    // Let the library try the folder now, so that a bad one fails here and
    // not silently in every later run; its first line says who switched it on.
    switchLogOn(folder);
    VYXLOG_OutputString(hVYXLog, "VYXLOG_(vyxcam log on: the library's log is on for every vyxcam run)", 1);
    VYXZEB_LogSet(false, nullptr);
    saveLogFolder(folder);
    printState(g);
    return kExitOk;
}

}  // namespace

Command addLogCommand(CLI::App& app, const GlobalOptions& g)
{
    auto dir = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand("log", "Switch the library's log on or off for every later vyxcam run");
    cmd->require_subcommand(1);
    CLI::App* on = cmd->add_subcommand("on", "Every later run writes the library's log into DIR");
    on->add_option("DIR", *dir, "Log folder (created if its parent exists)")->required();
    CLI::App* off = cmd->add_subcommand("off", "Later runs write no log (unless --log)");
    cmd->add_subcommand("status", "Whether the log is on, its folder and newest file");
    return {cmd, [dir, &g, on, off]() -> int {
                if (on->parsed()) return switchOn(*dir, g);
                if (off->parsed()) forgetLogFolder();
                printState(g);
                return kExitOk;
            }};
}

}  // namespace vyxcam
