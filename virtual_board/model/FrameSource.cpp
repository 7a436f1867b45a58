// FrameSource.cpp - rendering frames, and reusing the last one while nothing
// that shapes it changed (see FrameSource.h).
#include "FrameSource.h"

#include <time.h>

#include <cstring>

#include "Scene.h"

namespace vb {
namespace model {

namespace {

int64_t threadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

bool FrameSource::Key::operator==(const Key& o) const {
    return regs == o.regs && scene == o.scene && light == o.light && bytes == o.bytes &&
           lineWidth == o.lineWidth;
}

FrameSource::FrameSource(const SensorChip& sensor) : m_sensor(sensor), m_scene(makeTestPatternScene()) {}

void FrameSource::setScene(std::vector<uint8_t> scene) {
    std::lock_guard<std::mutex> g(m_lock);
    m_scene.swap(scene);
    ++m_sceneGeneration;
}

void FrameSource::setLight(double light) {
    std::lock_guard<std::mutex> g(m_lock);
    m_light = light;
}

double FrameSource::light() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_light;
}

FrameSource::Stats FrameSource::stats() const {
    Stats s;
    s.rendered = m_rendered.load();
    s.renderNs = m_renderNs.load();
    s.copied = m_copied.load();
    return s;
}

void FrameSource::render(uint8_t* dst, uint32_t bytes, uint32_t lineWidth) {
    Key key;
    key.regs = m_sensor.snapshot();
    key.bytes = bytes;
    key.lineWidth = lineWidth;
    {
        std::lock_guard<std::mutex> g(m_lock);
        key.scene = m_sceneGeneration;
        key.light = m_light;
    }
    if (m_haveImage && key == m_key) {
        std::memcpy(dst, m_image.data(), bytes);
        m_copied.fetch_add(1);
        return;
    }
    const int64_t start = threadCpuNs();
    renderAfresh(key, dst);
    m_image.assign(dst, dst + bytes);
    m_key = key;
    m_haveImage = true;
    m_renderNs.fetch_add(threadCpuNs() - start);
    m_rendered.fetch_add(1);
}

void FrameSource::renderAfresh(const Key& key, uint8_t* dst) {
    SensorReadout r = sensorReadout(key.regs);
    r.brightness *= key.light;
    const uint32_t lines = key.bytes / key.lineWidth;
    const uint32_t rest = key.bytes % key.lineWidth;
    std::lock_guard<std::mutex> g(m_lock);
    renderSensorImage(r, m_scene.data(), dst, static_cast<int>(key.lineWidth), static_cast<int>(lines),
                      key.lineWidth);
    if (rest != 0) {
        // A pixel count that is not a whole number of lines ends mid-line.
        std::vector<uint8_t> tail(static_cast<size_t>(key.lineWidth) * (lines + 1));
        renderSensorImage(r, m_scene.data(), tail.data(), static_cast<int>(key.lineWidth),
                          static_cast<int>(lines + 1), key.lineWidth);
        std::memcpy(dst + static_cast<size_t>(lines) * key.lineWidth,
                    tail.data() + static_cast<size_t>(lines) * key.lineWidth, rest);
    }
}

}  // namespace model
}  // namespace vb
