// DemoArgs.cpp - command line of the demo programs and the names of the
// frames bmp_demo saves.  No device is touched here, so the parsing can be
// checked without a camera.
#include "DemoCommon.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Argument positions (argv indices); position 1 is not used.
enum ArgPos {
    kArgWinX = 2,
    kArgWinY,
    kArgWinW,
    kArgWinH,
    kArgFovW,
    kArgFovH,
    kArgGain,
    kArgLines,
};

long ReadDecimal(const char* psz)
{
    return std::strtol(psz, nullptr, 10);
}

// Start of a window of the given size centred in a sensor dimension.  A
// window larger than the sensor starts at 0 (the sensor then clamps its
// size) rather than at a negative offset that would turn into a huge
// unsigned register value.
long CentredStart(long lSensor, long lSize)
{
    const long start = (lSensor - lSize) / 2;
    return start < 0 ? 0 : start;
}

}  // namespace

DemoConfig ParseDemoArgs(int argc, const char* const argv[])
{
    DemoConfig cfg;
    long* const targets[] = {nullptr, nullptr, &cfg.lWinX, &cfg.lWinY, &cfg.lWinW, &cfg.lWinH,
                             &cfg.lFovW, &cfg.lFovH, &cfg.lGain, &cfg.lExposureLines};
    const int known = static_cast<int>(sizeof(targets) / sizeof(targets[0]));
    for (int i = kArgWinX; i < argc && i < known; ++i) {
        if (argv[i] != nullptr) {
            *targets[i] = ReadDecimal(argv[i]);
        }
    }
    if (argc > kArgFovW) {
        cfg.lFovX = CentredStart(kSensorWidth, cfg.lFovW);
    }
    if (argc > kArgFovH) {
        cfg.lFovY = CentredStart(kSensorHeight, cfg.lFovH);
    }
    return cfg;
}

void MakeBmpRingName(uint64_t ullFrame, char (&szName)[kBmpNameBytes])
{
    std::memset(szName, 0, sizeof(szName));
    std::snprintf(szName, sizeof(szName), "/picture/data/Failed%02u.bmp",
                  static_cast<unsigned>(ullFrame % kBmpRingSize));
}
