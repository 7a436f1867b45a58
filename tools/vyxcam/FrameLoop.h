// FrameLoop.h - capture, hand on, release: the loop of `capture`,
// `show --live` and the live view.
//
// Each turn asks VYXZEB_CaptureData for a frame, hands it to the caller's
// function and gives the buffer back with VYXZEB_ReleaseBuffer.  The loop
// ends after `count` captures (0: no limit), at a stop signal (the frame in
// hand is finished first), or at the first failure that is not a time-out:
//   * VYXZEB_RET_CAPTURE_TIMEOUT is counted and reported, and the loop goes
//     on (an external trigger may simply not have come yet);
//   * any other failing call, and an error thrown by the caller's function
//     (a file that cannot be written), is reported and ends the loop.
#ifndef VYXCAM_FRAME_LOOP_H
#define VYXCAM_FRAME_LOOP_H

#include <functional>
#include <map>
#include <optional>

#include "CameraInfo.h"
#include "ImageFile.h"

namespace vyxcam {

class Progress;

// The frames' geometry once the settings are in force: a capture holds
// multi-frame frames, one below the other.  Throws CallError.
ImageView frameGeometry(int sensor);

struct FrameStats {
    unsigned long requested = 0;          // 0: until stopped
    unsigned long attempts = 0;           // VYXZEB_CaptureData calls
    unsigned long frames = 0;             // frames handed on
    std::map<int, unsigned long> failed;  // failed captures by code
    double elapsedSeconds = 0;
    bool interrupted = false;             // a stop signal ended the loop
    bool aborted = false;                 // a failure ended the loop

    double fps() const { return elapsedSeconds > 0 ? frames / elapsedSeconds : 0; }
    // Everything asked for was done.
    bool ok() const { return failed.empty() && !aborted; }
};

// Called with the frame (rows at the capture size, held until it returns)
// and its 0-based number among the frames handed on.
using FrameSink = std::function<void(const unsigned char* frame, unsigned long number)>;

// timeoutMs only words the time-out report ("no frame within N ms").
FrameStats runFrameLoop(int sensor, unsigned long count, std::optional<unsigned long> timeoutMs,
                        const FrameSink& sink, Progress* progress);

// {"requested", "captured", "failed": [{"code", "name", "count"}],
//  "elapsed_s", "fps", "interrupted"}; "requested" is null without a limit.
Json frameStatsJson(const FrameStats& stats, const char* doneKey);

// "captured 5 of 5 frames in 0.21 s (23.8 fps)" and the failures, for people.
void printFrameStats(const FrameStats& stats, const char* verb, FILE* out);

}  // namespace vyxcam

#endif
