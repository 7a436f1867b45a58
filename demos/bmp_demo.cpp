// bmp_demo - like capture_demo, and also saves every good frame as a BMP file
// in a ring of 20 names under /picture/data/ (Failed01.bmp .. Failed19.bmp,
// Failed00.bmp, then over again), until it is stopped (SIGTERM or SIGINT).
//
//   bmp_demo [unused] [winX] [winY] [winW] [winH] [fovW] [fovH] [gain] [lines]
#include "DemoCommon.h"
#include "VYXImage.h"
#include "VYXZebApi.h"

#include <cstdint>
#include <cstdio>

int main(int argc, char* argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    InstallStopHandler();
    const DemoConfig cfg = ParseDemoArgs(argc, argv);
    int width = 0;
    int height = 0;
    int bitCount = 0;
    const int init = DemoStartUp(cfg, &width, &height, &bitCount);
    if (init != VYXZEB_RET_SUCCESS) {
        std::printf("VYXZEB_Init failed (%d)\n", init);
        return 1;
    }

    uint64_t frames = 0;
    while (!StopRequested()) {
        unsigned char* frame = nullptr;
        if (VYXZEB_CaptureData(0, &frame) != VYXZEB_RET_SUCCESS) {
            if (!StopRequested()) {          // a stop signal cuts the wait short
                std::printf("===VYXZEB_CaptureData failed \r\n");
            }
        } else {
            ++frames;
            std::printf("===MyProcessData \r\n");
            MyProcessData(frame, width, height, bitCount);
            VYXZEB_ShowCaptureData(0, frame);
            char name[kBmpNameBytes];
            MakeBmpRingName(frames, name);
            // The file is written straight from the frame buffer, so the
            // buffer goes back to the PL only after the save.
            VYXZEB_HelperSaveToBmp(frame, width, height, bitCount, name);
        }
        VYXZEB_ReleaseBuffer(0);
    }
    VYXZEB_UnInit();
    return 0;
}
