// FrameSource.h - the pixels of a frame as the sensor delivers them, in the
// PL's frame layout: the scene, lit and exposed as the sensor's registers
// say (SensorModel.h), in lines of the width the PL was told, with the
// sensor's noise when it is switched on (SensorNoise.h).
//
// Which picture of the scene a frame shows (Scene.h): picture k for the
// k-th frame after the scene was chosen (k = 0, 1, 2, ...), or, with a
// picture rate F, picture floor(F * t) where t is the time in seconds from
// the first frame after the scene was chosen to this frame's end, both on
// the board's clock.  Sequences loop.
//
// A still scene gives the same image frame after frame, so the last image
// is kept and copied as long as nothing that shapes it changed (the sensor's
// registers, the scene and its picture, the light, the frame size): a frame
// then costs one copy, plus the noise when it is on.  Any change renders
// afresh; the geometry of the image (SensorImage.h) is worked out again
// only when the sensor's registers or the light changed, so the next
// picture of a moving scene or a sequence costs its rows alone.
#ifndef VYX_MODEL_FRAME_SOURCE_H
#define VYX_MODEL_FRAME_SOURCE_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "Scene.h"
#include "SensorImage.h"
#include "SensorModel.h"
#include "SensorNoise.h"

namespace vb {
namespace model {

// The frame being formed.
struct FrameTime {
    uint64_t counter = 0;  // the frame's counter
    int64_t doneNs = 0;    // when it is done, on the board's clock
};

class FrameSource {
public:
    explicit FrameSource(const SensorChip& sensor);

    // PL thread: one frame of `bytes` bytes in lines of `lineWidth` pixels.
    void render(uint8_t* dst, uint32_t bytes, uint32_t lineWidth, const FrameTime& frame);

    // Any thread.
    void setScene(Scene scene);
    void setSceneFps(double picturesPerSecond);  // 0: one picture per frame
    void setLight(double light);
    double light() const;
    // Noise with this seed, or none (nullptr).
    void setNoise(std::shared_ptr<const SensorNoise> noise);
    struct Stats {
        uint64_t rendered = 0;  // frames rendered afresh
        int64_t renderNs = 0;   // CPU time those took
        uint64_t copied = 0;    // frames copied from the last image
        int64_t noiseNs = 0;    // CPU time the noise took
    };
    Stats stats() const;
    void lockForFork() { m_lock.lock(); }
    void unlockAfterFork() { m_lock.unlock(); }

private:
    struct Key {
        SensorRegisters regs{};
        uint64_t scene = 0;
        uint64_t picture = 0;
        double light = 0;
        uint32_t bytes = 0, lineWidth = 0;
        bool operator==(const Key& o) const;
    };
    uint64_t pictureOf(const FrameTime& frame);
    SensorImage& imageFor(const Key& key);
    void renderAfresh(const Key& key, uint8_t* dst);

    const SensorChip& m_sensor;
    mutable std::mutex m_lock;  // guards the scene, its rate, the light and the noise
    Scene m_scene;
    uint64_t m_sceneGeneration = 1;
    double m_sceneFps = 0;
    double m_light = 1.0;
    std::shared_ptr<const SensorNoise> m_noise;

    // PL thread only.
    bool m_haveImage = false;
    Key m_key;
    std::vector<uint8_t> m_image;
    std::optional<SensorImage> m_sensorImage;  // the geometry of the last settings
    SensorRegisters m_imageRegs{};
    double m_imageLight = 0;
    std::vector<uint8_t> m_lastLine;  // the line a frame ends in
    uint64_t m_baseGeneration = 0;   // the scene the bases below belong to
    uint64_t m_baseCounter = 0;      // its first frame
    int64_t m_baseNs = 0;

    std::atomic<uint64_t> m_rendered{0}, m_copied{0};
    std::atomic<int64_t> m_renderNs{0}, m_noiseNs{0};
};

}  // namespace model
}  // namespace vb

#endif
