// FrameSource.h - the pixels of a frame as the sensor delivers them, in the
// PL's frame layout: the scene, lit and exposed as the sensor's registers
// say (SensorModel.h), in lines of the width the PL was told.
//
// A still scene gives the same image frame after frame, so the last image
// is kept and copied as long as nothing that shapes it changed (the sensor's
// registers, the scene, the light, the frame size): a frame then costs one
// copy.  Any change renders afresh.
#ifndef VYX_MODEL_FRAME_SOURCE_H
#define VYX_MODEL_FRAME_SOURCE_H

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "SensorModel.h"

namespace vb {
namespace model {

class FrameSource {
public:
    explicit FrameSource(const SensorChip& sensor);

    // PL thread: one frame of `bytes` bytes in lines of `lineWidth` pixels.
    void render(uint8_t* dst, uint32_t bytes, uint32_t lineWidth);

    // Any thread.
    void setScene(std::vector<uint8_t> scene);
    void setLight(double light);
    double light() const;
    struct Stats {
        uint64_t rendered = 0;  // frames rendered afresh
        int64_t renderNs = 0;   // CPU time those took
        uint64_t copied = 0;    // frames copied from the last image
    };
    Stats stats() const;
    void lockForFork() { m_lock.lock(); }
    void unlockAfterFork() { m_lock.unlock(); }

private:
    struct Key {
        SensorRegisters regs{};
        uint64_t scene = 0;
        double light = 0;
        uint32_t bytes = 0, lineWidth = 0;
        bool operator==(const Key& o) const;
    };
    void renderAfresh(const Key& key, uint8_t* dst);

    const SensorChip& m_sensor;
    mutable std::mutex m_lock;  // guards the scene and the light
    std::vector<uint8_t> m_scene;
    uint64_t m_sceneGeneration = 1;
    double m_light = 1.0;

    // PL thread only.
    bool m_haveImage = false;
    Key m_key;
    std::vector<uint8_t> m_image;

    std::atomic<uint64_t> m_rendered{0}, m_copied{0};
    std::atomic<int64_t> m_renderNs{0};
};

}  // namespace model
}  // namespace vb

#endif
