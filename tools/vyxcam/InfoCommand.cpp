// InfoCommand.cpp - `vyxcam info`: what the camera is and can do.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "Camera.h"
#include "Commands.h"

namespace vyxcam {

Command addInfoCommand(CLI::App& app, const GlobalOptions& g)
{
    CLI::App* cmd = app.add_subcommand(
        "info", "Library version, sensors with their ranges and power-on settings, GPIO lines");
    return {cmd, [&g] {
                Camera camera(0, runLogFolder(g));
                const Json info = readCameraInfo();
                if (g.json)
                    printJson(info);
                else
                    printCameraInfo(info, stdout);
                return 0;
            }};
}

}  // namespace vyxcam
