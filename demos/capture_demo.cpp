// capture_demo - opens the camera, configures sensor 0 from the command line
// and then captures, analyses and shows frames on the HDMI output until it is
// stopped (SIGTERM or SIGINT).
//
//   capture_demo [unused] [winX] [winY] [winW] [winH] [fovW] [fovH] [gain] [lines]
#include "DemoCommon.h"
#include "VYXImage.h"
#include "VYXZebApi.h"
#include "Watchdog.h"

#include <cstdio>

int main(int argc, char* argv[])
{
    // Progress goes to a pipe or a serial console; keep it line by line.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    InstallStopHandler();
    const DemoConfig cfg = ParseDemoArgs(argc, argv);
    int width = 0;
    int height = 0;
    int bitCount = 0;
    const int init = DemoStartUp(cfg, &width, &height, &bitCount);
    if (init != VYXZEB_RET_SUCCESS) {
        // Without the device every later call fails at once; do not spin.
        std::printf("VYXZEB_Init failed (%d)\n", init);
        return 1;
    }

    while (!StopRequested()) {
        unsigned char* frame = nullptr;
        if (VYXZEB_CaptureData(0, &frame) == VYXZEB_RET_SUCCESS) {
            MyProcessData(frame, width, height, bitCount);
            VYXZEB_ShowCaptureData(0, frame);
        }
        // Hand the buffer back to the PL whether or not a frame came.
        VYXZEB_ReleaseBuffer(0);
    }
    VYXZEB_UnInit();
    return 0;
}
