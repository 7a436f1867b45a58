// InfoCommand.cpp - `vyxcam info`: what the camera is and can do.
#include <cstdio>

#include "Camera.h"
#include "Commands.h"
#include "Errors.h"

namespace vyxcam {

int runInfo(const GlobalOptions& g)
{
    Camera camera(0, runLogFolder(g));
    const Json info = readCameraInfo();
    if (g.json)
        printJson(info);
    else
        printCameraInfo(info, stdout);
    return kExitOk;
}

}  // namespace vyxcam
