// LiveFrames.h - the frames of the live view, from the one capture thread to
// any number of clients.
//
// The hub holds only the latest frame.  The capture thread replaces it and
// never waits for a client; a client takes whatever is newest when it is
// ready again and counts the frames it missed as dropped.  Nothing queues,
// so a slow client costs the others nothing and memory stays bounded.
//
// A frame encodes its JPEG once, on the first client that asks, outside the
// capture thread: four clients of one stream cost one encoding per frame.
#ifndef VYXCAM_LIVE_FRAMES_H
#define VYXCAM_LIVE_FRAMES_H

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ImageFile.h"

namespace vyxcam {

constexpr int kJpegQuality = 85;

// One captured frame, rows without padding.
class Frame {
public:
    Frame(unsigned long sequence, const ImageView& source);
    unsigned long sequence() const { return m_sequence; }
    ImageView view() const { return m_image.view(); }
    const Image& image() const { return m_image; }
    // The JPEG of this frame, encoded on the first call.  Throws RunError.
    const std::vector<uint8_t>& jpeg() const;
    std::array<unsigned long, 256> histogram() const;

private:
    unsigned long m_sequence;
    Image m_image;
    mutable std::once_flag m_encoded;
    mutable std::vector<uint8_t> m_jpeg;
};

// A failing library call of the capture thread.
struct CameraFault {
    std::string function;
    int code = 0;
    std::string message;   // describeCall()
};

class FrameHub {
public:
    using Clock = std::chrono::steady_clock;

    // What a wait ended with: a newer frame, a newer fault, the hub closing,
    // or (all empty) the deadline.
    struct Next {
        std::shared_ptr<const Frame> frame;
        std::optional<CameraFault> fault;
        bool closed = false;
    };

    void publish(std::shared_ptr<const Frame> frame);
    void publishFault(const CameraFault& fault);
    // Ends every wait, now and later.
    void close();

    std::shared_ptr<const Frame> latest() const;
    // The number of faults so far: a wait reports only those after it.
    unsigned long faults() const;
    // Waits for a frame with a sequence above `after`, or a fault numbered
    // above `faultsSeen`, until the deadline.
    Next waitNext(unsigned long after, unsigned long faultsSeen, Clock::time_point deadline) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::shared_ptr<const Frame> m_latest;
    std::optional<CameraFault> m_fault;
    unsigned long m_faults = 0;
    bool m_closed = false;
};

}  // namespace vyxcam

#endif
