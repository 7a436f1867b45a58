// FrameSource.cpp - rendering frames, reusing the last one while nothing
// that shapes it changed, and adding the sensor's noise (see FrameSource.h).
#include "FrameSource.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vb {
namespace model {

namespace {

constexpr double kNsPerS = 1e9;
// Frames are copied in pieces of this size: below it the C library copies
// with vector moves, above it x86 C libraries switch to a string move
// instruction that some processors run at a twentieth of the speed when the
// destination lies a few bytes past the source modulo 4 KiB - and frame
// buffers and the kept image can lie that way.
constexpr size_t kCopyPiece = 1024;
// A fresh frame is rendered in bands of about this many bytes, half the
// first-level data cache of the processors the board runs on.
constexpr uint32_t kBandBytes = 16 * 1024;

int64_t threadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// memcpy of a frame, piece by piece (see kCopyPiece).  The compiler must
// not know how large a piece is: it copies sizes it knows to be at most a
// few KiB with a string move of its own, inline.
void copyFrame(uint8_t* dst, const uint8_t* src, size_t bytes) {
    for (size_t done = 0; done < bytes;) {
        size_t piece = std::min(kCopyPiece, bytes - done);
        asm("" : "+r"(piece));  // hides the bound from the compiler
        std::memcpy(dst + done, src + done, piece);
        done += piece;
    }
}

}  // namespace

bool FrameSource::Key::operator==(const Key& o) const {
    return regs == o.regs && scene == o.scene && picture == o.picture && light == o.light &&
           bytes == o.bytes && lineWidth == o.lineWidth;
}

FrameSource::FrameSource(const SensorChip& sensor) : m_sensor(sensor) {}

void FrameSource::setScene(Scene scene) {
    std::lock_guard<std::mutex> g(m_lock);
    std::swap(m_scene, scene);
    ++m_sceneGeneration;
}

void FrameSource::setSceneFps(double picturesPerSecond) {
    std::lock_guard<std::mutex> g(m_lock);
    m_sceneFps = std::isfinite(picturesPerSecond) && picturesPerSecond > 0 ? picturesPerSecond : 0;
    ++m_sceneGeneration;  // the sequence starts again
}

void FrameSource::setLight(double light) {
    std::lock_guard<std::mutex> g(m_lock);
    m_light = light;
}

double FrameSource::light() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_light;
}

void FrameSource::setNoise(std::shared_ptr<const SensorNoise> noise) {
    std::lock_guard<std::mutex> g(m_lock);
    m_noise = std::move(noise);
}

FrameSource::Stats FrameSource::stats() const {
    Stats s;
    s.rendered = m_rendered.load();
    s.renderNs = m_renderNs.load();
    s.copied = m_copied.load();
    s.noiseNs = m_noiseNs.load();
    return s;
}

// Called with m_lock held.
uint64_t FrameSource::pictureOf(const FrameTime& frame) {
    if (m_baseGeneration != m_sceneGeneration) {
        m_baseGeneration = m_sceneGeneration;
        m_baseCounter = frame.counter;
        m_baseNs = frame.doneNs;
    }
    if (m_scene.still()) return 0;
    if (m_sceneFps <= 0) return frame.counter - m_baseCounter;
    // Whole nanoseconds times the rate first: exact at picture boundaries.
    const double pictures = static_cast<double>(frame.doneNs - m_baseNs) * m_sceneFps / kNsPerS;
    return pictures > 0 ? static_cast<uint64_t>(std::floor(pictures)) : 0;
}

void FrameSource::render(uint8_t* dst, uint32_t bytes, uint32_t lineWidth, const FrameTime& frame) {
    Key key;
    key.regs = m_sensor.snapshot();
    key.bytes = bytes;
    key.lineWidth = lineWidth;
    std::shared_ptr<const SensorNoise> noise;
    {
        std::lock_guard<std::mutex> g(m_lock);
        key.scene = m_sceneGeneration;
        key.picture = pictureOf(frame);
        key.light = m_light;
        noise = m_noise;
    }
    if (m_haveImage && key == m_key) {
        copyFrame(dst, m_image.data(), bytes);
        m_copied.fetch_add(1);
    } else {
        const int64_t start = threadCpuNs();
        renderAfresh(key, dst);
        m_key = key;
        m_haveImage = true;
        m_renderNs.fetch_add(threadCpuNs() - start);
        m_rendered.fetch_add(1);
    }
    if (noise) {
        const int64_t start = threadCpuNs();
        noise->apply(dst, bytes, frame.counter, sensorReadout(key.regs).gain);
        m_noiseNs.fetch_add(threadCpuNs() - start);
    }
}

// The image for `key`, made when the sensor's settings or the light
// changed.
SensorImage& FrameSource::imageFor(const Key& key) {
    if (!m_sensorImage || key.regs != m_imageRegs || key.light != m_imageLight) {
        m_sensorImage.emplace(sensorReadout(key.regs), key.light);
        m_imageRegs = key.regs;
        m_imageLight = key.light;
    }
    return *m_sensorImage;
}

// Renders into dst in bands of lines and keeps each band while it is still
// in the cache: the kept image costs no second pass over the frame.
void FrameSource::renderAfresh(const Key& key, uint8_t* dst) {
    SensorImage& image = imageFor(key);
    const uint32_t width = key.lineWidth;
    const uint32_t lines = key.bytes / width;
    const uint32_t rest = key.bytes % width;
    const uint32_t band = std::max<uint32_t>(1, kBandBytes / width);
    m_image.resize(key.bytes);
    std::lock_guard<std::mutex> g(m_lock);
    ScenePicture scene = m_scene.picture(key.picture);
    for (uint32_t y = 0; y < lines; y += band) {
        const uint32_t n = std::min(band, lines - y);
        const size_t at = static_cast<size_t>(y) * width;
        image.render(scene, dst + at, static_cast<int>(width), static_cast<int>(y), static_cast<int>(n),
                     width);
        copyFrame(m_image.data() + at, dst + at, static_cast<size_t>(n) * width);
    }
    if (rest != 0) {
        // A pixel count that is not a whole number of lines ends mid-line.
        m_lastLine.resize(width);
        image.render(scene, m_lastLine.data(), static_cast<int>(width), static_cast<int>(lines), 1, width);
        const size_t at = static_cast<size_t>(lines) * width;
        std::memcpy(dst + at, m_lastLine.data(), rest);
        std::memcpy(m_image.data() + at, m_lastLine.data(), rest);
    }
}

}  // namespace model
}  // namespace vb
