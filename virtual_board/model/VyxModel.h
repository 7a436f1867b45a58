// VyxModel.h - what tests can ask the virtual board's hardware models: the
// Q210B sensor's register file, the acquisition counters and frame stamps,
// the HDMI screen, and the scene the camera looks at.
//
// How the hardware is modelled is described next to each model:
//   SensorModel.h       Q210B register file, clocks and image formation
//   SimConfig.h         the run's settings (VYXSIM_* variables)
//   Scene.h             test pattern and user scenes (VYXSIM_SCENE)
//   MovingScene.h       the built-in moving scene
//   SensorNoise.h       the sensor's noise (VYXSIM_NOISE)
//   TriggerInput.h      the world on the trigger input (VYXSIM_TRIGGER_*)
//   SignalTrace.h       the waveform trace (VYXSIM_TRACE)
//   AcquisitionModel.h  triggers, frame clock, frame buffers, interrupts
//   PlTiming.h          the board's clock, the PL thread, register samples
//   FrameSource.h       the frames' pixels
//   DisplayModel.h      source VDMA, scaler, HDMI frame store and screen
//
// All functions are thread-safe.  Waiting functions take a bounded time-out
// and return false when it passes.
#ifndef VYX_MODEL_H
#define VYX_MODEL_H

#include <cstdint>
#include <string>
#include <vector>

#include "VyxBoard.h"

namespace vb {

// ---------------------------------------------------------------- sensor
constexpr int kSensorColumns = 1280;
constexpr int kSensorRows = 1024;
// The register as the chip holds it (what an SPI read returns).
VB_API uint16_t modelSensorRegister(uint8_t addr);
// Free-running frame period the sensor settings give, in microseconds.
VB_API int64_t modelSensorFramePeriodUs();
// The sensor's timing for its current settings, in nanoseconds.
struct ModelTiming {
    int64_t exposureNs = 0;
    int64_t readoutNs = 0;
    int64_t framePeriodNs = 0;  // free run: max(readout, exposure + one line)
};
VB_API ModelTiming modelSensorTiming();
// Brightness factor of the current exposure and gain (1.0 at 25 ms, gain 16).
VB_API double modelSensorBrightness();

// ---------------------------------------------------------------- scene
// Value of the default test pattern at array pixel (x, y), unit brightness.
VB_API uint8_t modelPatternValue(int x, int y);
// Point the camera at a PNG image (grey or colour), a folder of them or
// "moving" (Scene.h); false if unreadable.  The first frame after it shows
// picture 0.
VB_API bool modelLoadScene(const std::string& path);
// Back to the test pattern.
VB_API void modelUsePattern();
// Pictures per second of scene time; 0: one picture per produced frame.
// The sequence starts again with the next frame.
VB_API void modelSetSceneFps(double picturesPerSecond);
// The moving scene's square (MovingScene.h): in picture k its top-left
// corner is at x = (kMovingSquareX0 + k * kMovingSquareSpeed) mod 1280,
// y = kMovingSquareY.
constexpr int kMovingSquareSide = 96;
constexpr int kMovingSquareX0 = 100;
constexpr int kMovingSquareY = 200;
constexpr int kMovingSquareSpeed = 8;
constexpr int kMovingSquareValue = 240;

// ---------------------------------------------------------------- sensor noise
// The sensor's noise (SensorNoise.h) with this seed, or none.
VB_API void modelSetNoise(bool on, uint64_t seed);

// ---------------------------------------------------------------- acquisition
// GPIO input line that is the PL's external trigger input (drive it with
// vb::setGpioInput).
constexpr int kTriggerInputLine = 0;
// Every frame starts with its 32-bit frame counter (little endian) followed
// by the counter's complement: kFrameStampBytes bytes.
constexpr int kFrameStampBytes = 8;
// Counter in a frame's stamp; false when the 8 bytes are not a stamp.
VB_API bool modelFrameCounter(const uint8_t* frame, uint32_t* counter);
// Whether frames carry the stamp (on at power-on unless VYXSIM_STAMP=0).
VB_API void modelSetStamp(bool on);

struct ModelCounters {
    uint64_t framesExposed = 0;      // frames the sensor produced
    uint64_t framesWritten = 0;      // frames stored into a frame buffer
    uint64_t framesDelivered = 0;    // stored and announced by an interrupt
    uint64_t framesDropped = 0;      // lost: no free buffer or write side held in clear
    uint64_t buffersFilled = 0;      // capture interrupts the PL raised
    uint64_t interruptsWithheld = 0; // of those, refused by the board's fault injection
    uint64_t releases = 0;           // release writes that freed a buffer
    uint32_t lastFrameCounter = 0;   // stamp of the last stored frame
    uint64_t showsEvaluated = 0;     // show strobes the display path ran
    uint64_t screenUpdates = 0;      // times the screen image was recomposed
    uint64_t framesRendered = 0;     // frames whose pixels were rendered afresh
    int64_t renderNs = 0;            // CPU time those renders took
    int64_t noiseNs = 0;             // CPU time the sensor noise took
    uint64_t triggerPulses = 0;      // rising edges the outside world drove (TriggerInput.h)
    int64_t plCpuNs = 0;             // CPU time of the PL thread
    int64_t clockNs = -1;            // every frame due up to here is accounted for
    int64_t pollWindowNs = 0;        // the board polls this long before a frame; 0: sleeps
    int64_t wakeLatenessNs = 0;      // estimated lateness of a timer wake-up (WakePolicy.h)
    int64_t programPollNs = 0;       // time the program's threads spent polling for frames
};
VB_API ModelCounters modelCounters();
// Waits until the counters satisfy `done`; false on time-out.
VB_API bool modelWaitFor(bool (*done)(const ModelCounters&, const void* arg), const void* arg, int timeoutMs);
// Convenience waits on the counters.
VB_API bool modelWaitFramesWritten(uint64_t atLeast, int timeoutMs);
VB_API bool modelWaitFramesDropped(uint64_t atLeast, int timeoutMs);
// Waits until every store made before the call has been seen and acted on
// by the PL.
VB_API bool modelWaitTick(int timeoutMs);

// The outside world on the trigger input (TriggerInput.h): a square wave of
// this period (0 stops it, the line goes low), as VYXSIM_TRIGGER_EVERY
// gives; each SIGUSR1 one pulse, as VYXSIM_TRIGGER_ON_SIGNAL gives.  False
// before the model runs.
VB_API bool modelTriggerEvery(int64_t periodUs);
VB_API bool modelTriggerOnSignal(bool on);

// ---------------------------------------------------------------- trace
// Starts a signal trace (SignalTrace.h) into a VCD file, ending the one
// being written; false when the file cannot be written or before the model
// runs.
VB_API bool modelTraceStart(const std::string& path);
// Ends the trace: everything recorded is in the file, which is closed.
VB_API void modelTraceStop();

// ---------------------------------------------------------------- time
// The board's clock (CLOCK_MONOTONIC, nanoseconds): frame times, trigger
// times and ModelCounters::clockNs are on it.
VB_API int64_t modelClockNs();
// Waits until the PL has accounted for everything due up to clockNs.
VB_API bool modelWaitClock(int64_t clockNs, int timeoutMs);
// The newest 256 frames the sensor produced, oldest first.
struct ModelFrame {
    uint32_t counter = 0;    // the frame's stamp
    int64_t doneNs = 0;      // when it was done (exposed and read out)
    int64_t triggerNs = -1;  // the trigger that started it, -1 in free run
    int buffer = -1;         // the buffer it went into, -1 when dropped
};
VB_API std::vector<ModelFrame> modelFrames();
// The PL thread stops running, as if the machine did not schedule it; the
// registers are still sampled when the program calls into the board.  Off
// again, it catches up with every frame that fell due meanwhile.
VB_API void modelStall(bool stalled);
// The PL thread runs (a stalled one again) until everything due up to
// clockNs is accounted for, and stalls there, however late it is scheduled:
// modelWaitClock(clockNs) returns once it is there, and nothing happens
// after clockNs until modelStall(false).
VB_API void modelStallAt(int64_t clockNs);
// How the board waits for frames (WakePolicy.h): "auto", "on" or "off", as
// VYXSIM_POLL gives; false for another word or before the model runs.
VB_API bool modelSetPoll(const std::string& mode);

// ---------------------------------------------------------------- screen
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 720;
// Waits until more than `showsBefore` shows have been evaluated and the
// screen shows the frame store the last show wrote (the library programs the
// HDMI read channel after the strobe).
VB_API bool modelWaitShow(uint64_t showsBefore, int timeoutMs);
// The 1280 x 720 screen, 3 bytes per pixel (R, G, B), rows top to bottom.
VB_API std::vector<uint8_t> modelScreen();
// One screen pixel as 0xRRGGBB.
VB_API uint32_t modelScreenPixel(int x, int y);
VB_API bool modelSaveScreenPng(const std::string& path);

}  // namespace vb

#endif
