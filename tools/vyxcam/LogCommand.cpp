// LogCommand.cpp - `vyxcam log on DIR|off|status`: the library's log for
// every later run (LogState.h).
#include <cstdio>

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

}  // namespace

int runLogOn(const std::string& dir, const GlobalOptions& g)
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

int runLogOff(const GlobalOptions& g)
{
    forgetLogFolder();
    printState(g);
    return kExitOk;
}

int runLogStatus(const GlobalOptions& g)
{
    printState(g);
    return kExitOk;
}

}  // namespace vyxcam
