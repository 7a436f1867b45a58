// hello_capture - the first application on the camera.
//
// Opens the camera, sets exposure and gain, captures ten frames in
// software-trigger mode, prints the mean grey level of each, saves one as a
// BMP file and closes the camera.  Every call's return code is checked and a
// failure is reported by its VYXZEB_RET_ name.
//
//   hello_capture [EXPOSURE_MS [GAIN [BMP_FILE]]]
//
// Defaults: 20 ms, gain 16, /picture/data/hello.bmp.  The sensor clamps and
// aligns what it is given and returns success, so the values in force are
// read back and printed.
#include <cstdio>
#include <cstdlib>

#include <VYXZebApi.h>
#include <VYXZebRet.h>

namespace {

constexpr int kSensor = 0;  // camera set 0: the only sensor of the board
constexpr int kFrames = 10;
constexpr int kSavedFrame = kFrames - 1;

// Reports a failed call on standard error; true when the call succeeded.
bool ok(int rc, const char* call)
{
    if (rc == VYXZEB_RET_SUCCESS)
        return true;
    fprintf(stderr, "hello_capture: %s failed: %d %s (%s)\n", call, rc, VYXZEB_RetName(rc),
            VYXZEB_RetText(rc));
    return false;
}

// Mean grey level of an 8-bit frame whose rows are padded to 4 bytes.
double MeanGrey(const unsigned char* frame, int width, int height)
{
    const int stride = (width + 3) / 4 * 4;
    unsigned long long sum = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            sum += frame[static_cast<long>(y) * stride + x];
    return static_cast<double>(sum) / (static_cast<double>(width) * height);
}

// Exposure, gain and trigger mode; prints the values in force.
bool Configure(float exposureMs, unsigned long gain)
{
    if (!ok(VYXZEB_SetExposureTime(kSensor, exposureMs), "VYXZEB_SetExposureTime") ||
        !ok(VYXZEB_SetGain(kSensor, gain), "VYXZEB_SetGain") ||
        !ok(VYXZEB_SetTriggerMode(kSensor, VYXZEB_TRIGGER_SOFTWARE), "VYXZEB_SetTriggerMode"))
        return false;
    float exposureInForce = 0;
    unsigned long gainInForce = 0;
    if (!ok(VYXZEB_GetExposureTime(kSensor, &exposureInForce), "VYXZEB_GetExposureTime") ||
        !ok(VYXZEB_GetGain(kSensor, &gainInForce), "VYXZEB_GetGain"))
        return false;
    printf("exposure %.3f ms, gain %lu\n", exposureInForce, gainInForce);
    return true;
}

// Captures the frames, prints their mean grey level and saves one.
bool Capture(const char* bmpFile)
{
    int width = 0, height = 0, bits = 0;
    if (!ok(VYXZEB_GetCaptureSize(kSensor, &width, &height, &bits), "VYXZEB_GetCaptureSize"))
        return false;
    printf("frames of %d x %d, %d bits\n", width, height, bits);
    for (int i = 0; i < kFrames; ++i) {
        unsigned char* frame = nullptr;
        if (!ok(VYXZEB_CaptureData(kSensor, &frame), "VYXZEB_CaptureData"))
            return false;
        // The frame belongs to us until VYXZEB_ReleaseBuffer hands it back.
        printf("frame %d: mean grey %.1f\n", i, MeanGrey(frame, width, height));
        bool saved = true;
        if (i == kSavedFrame) {
            saved = ok(VYXZEB_HelperSaveToBmp(frame, width, height, bits, bmpFile), "VYXZEB_HelperSaveToBmp");
            if (saved)
                printf("saved %s\n", bmpFile);
        }
        if (!ok(VYXZEB_ReleaseBuffer(kSensor), "VYXZEB_ReleaseBuffer") || !saved)
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 4 || (argc > 1 && argv[1][0] == '-')) {
        fprintf(stderr, "usage: hello_capture [EXPOSURE_MS [GAIN [BMP_FILE]]]\n");
        return 2;
    }
    const float exposureMs = argc > 1 ? strtof(argv[1], nullptr) : 20.0f;
    const unsigned long gain = argc > 2 ? strtoul(argv[2], nullptr, 10) : 16;
    const char* bmpFile = argc > 3 ? argv[3] : "/picture/data/hello.bmp";

    if (!ok(VYXZEB_Init(), "VYXZEB_Init")) {
        fprintf(stderr, "hello_capture: no camera; on a PC, start the program with vyxsim\n");
        return 1;
    }
    const bool done = Configure(exposureMs, gain) && Capture(bmpFile);
    const bool closed = ok(VYXZEB_UnInit(), "VYXZEB_UnInit");
    return done && closed ? 0 : 1;
}
