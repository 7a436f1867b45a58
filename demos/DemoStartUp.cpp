// DemoStartUp.cpp - the camera set-up both demos run before their loop.
#include "DemoCommon.h"

#include "VYXZebApi.h"

#include <csignal>
#include <cstring>

namespace {

constexpr int kSensor = 0;   // the demos drive the first (and, as shipped, only) sensor

volatile std::sig_atomic_t g_bStop = 0;

void OnStopSignal(int)
{
    g_bStop = 1;
}

}  // namespace

void InstallStopHandler()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a capture waiting for its frame returns at once.
    sa.sa_flags = 0;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

bool StopRequested()
{
    return g_bStop != 0;
}

int DemoStartUp(const DemoConfig& cfg, int* pnWidth, int* pnHeight, int* pnBitCount)
{
    const int init = VYXZEB_Init();
    if (init != VYXZEB_RET_SUCCESS) {
        return init;
    }
    // One frame per VYXZEB_CaptureData: the loop paces the sensor.
    VYXZEB_SetTriggerMode(kSensor, VYXZEB_TRIGGER_SOFTWARE);
    VYXZEB_SetGain(kSensor, static_cast<unsigned long>(cfg.lGain));
    VYXZEB_SetExposureLines(kSensor, static_cast<unsigned long>(cfg.lExposureLines));
    VYXZEB_SetVideoWidgetPos(kSensor, static_cast<unsigned>(cfg.lWinX), static_cast<unsigned>(cfg.lWinY),
                             static_cast<unsigned>(cfg.lWinW), static_cast<unsigned>(cfg.lWinH));
    VYXZEB_SetPosition(kSensor, 0, 0, static_cast<unsigned>(cfg.lWinW), static_cast<unsigned>(cfg.lWinH));
    VYXZEB_SetCaptureFieldOfView(kSensor, static_cast<unsigned long>(cfg.lFovX),
                                 static_cast<unsigned long>(cfg.lFovY),
                                 static_cast<unsigned long>(cfg.lFovW),
                                 static_cast<unsigned long>(cfg.lFovH));
    // A new window changes the sensor's line length and frame height, which
    // bound the exposure: set gain and exposure again on the final geometry.
    VYXZEB_SetGain(kSensor, static_cast<unsigned long>(cfg.lGain));
    VYXZEB_SetExposureLines(kSensor, static_cast<unsigned long>(cfg.lExposureLines));

    *pnWidth = 0;
    *pnHeight = 0;
    *pnBitCount = 0;
    VYXZEB_GetCaptureSize(kSensor, pnWidth, pnHeight, pnBitCount);
    return VYXZEB_RET_SUCCESS;
}
