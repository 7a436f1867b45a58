// DemoCommon.h - what capture_demo and bmp_demo share: the command line, the
// camera start-up sequence and the names of the saved frames.
#ifndef VYX_DEMO_COMMON_H
#define VYX_DEMO_COMMON_H

#include <cstddef>
#include <cstdint>

// Settings taken from the command line (all decimal integers):
//   demo [unused] [winX] [winY] [winW] [winH] [fovW] [fovH] [gain] [lines]
// The display window is the rectangle of the 1280 x 720 HDMI screen that
// shows the frames; the field of view is the window read out of the
// 1280 x 1024 sensor, centred on it.
struct DemoConfig {
    long lWinX = 340;
    long lWinY = 120;
    long lWinW = 600;
    long lWinH = 480;
    long lFovX = 340;    // column start: (1280 - 600) / 2
    long lFovY = 272;    // row start: (1024 - 480) / 2
    long lFovW = 600;
    long lFovH = 480;
    long lGain = 128;
    long lExposureLines = 10;
};

// Sensor array the field of view is centred in.
constexpr long kSensorWidth = 1280;
constexpr long kSensorHeight = 1024;

// Reads the arguments in order as far as they are given; argv[0] and argv[1]
// are not used.  Touches no device.
DemoConfig ParseDemoArgs(int argc, const char* const argv[]);

// Opens the camera and configures sensor 0 from the settings, then reads the
// geometry of the frames to come.  Returns VYXZEB_Init's result; the later
// set-up calls are best effort (their results are not looked at), and the
// geometry stays 0 when it cannot be read.
int DemoStartUp(const DemoConfig& cfg, int* pnWidth, int* pnHeight, int* pnBitCount);

// The demos run until they are stopped.  SIGTERM or SIGINT (a service
// manager, Ctrl-C) ends the loop after the frame in hand, so that the camera
// is closed with VYXZEB_UnInit and no BMP file is cut off mid-write.
void InstallStopHandler();
bool StopRequested();

// bmp_demo keeps the last 20 frames: frame n (counted from 1) is saved as
// "/picture/data/FailedNN.bmp" with NN = n modulo 20, so the names run
// Failed01 .. Failed19, Failed00 and start over.
constexpr size_t kBmpNameBytes = 64;
constexpr unsigned kBmpRingSize = 20;
void MakeBmpRingName(uint64_t ullFrame, char (&szName)[kBmpNameBytes]);

#endif
