// SensorNoise.h - the noise of the sensor's pixels, off unless asked for
// (VYXSIM_NOISE, SimConfig.h), so that pixel-exact results stay exact.
//
// The model works on the delivered grey value v of a pixel (after exposure,
// gain and light, before the frame stamp) with the analogue gain
// g = gain code / 16:
//   shot noise   the pixel collected v * kElectronsPerDn / g electrons, a
//                Poisson count: variance v * g / kElectronsPerDn in grey values
//   read noise   kReadNoiseElectrons electrons rms from the readout chain:
//                variance (kReadNoiseElectrons * g / kElectronsPerDn)^2
// Both are drawn together as one normal deviate of the summed variance, and
// the result is rounded to the nearest grey value and saturates at 0 and
// 255, so away from those ends a pixel of value v reads v on average with
//   variance = v * g / kElectronsPerDn + (kReadNoiseElectrons * g / kElectronsPerDn)^2 + 1/12
// (the last term is the rounding).
//   hot pixels   kHotPixels pixels of the delivered image, at places fixed
//                by the seed, add kHotPixelDn * g (dark current), saturating.
// A frame's noise depends only on the seed and the frame's counter: the same
// seed gives the same frames.
#ifndef VYX_MODEL_SENSOR_NOISE_H
#define VYX_MODEL_SENSOR_NOISE_H

#include <cstdint>
#include <vector>

namespace vb {
namespace model {

namespace noise {
constexpr double kElectronsPerDn = 4.0;      // at unit gain
constexpr double kReadNoiseElectrons = 6.0;  // rms
constexpr int kHotPixels = 24;
constexpr double kHotPixelDn = 160.0;  // at unit gain
}  // namespace noise

class SensorNoise {
public:
    explicit SensorNoise(uint64_t seed);
    uint64_t seed() const { return m_seed; }
    // Adds the noise of frame `counter` to the `bytes` pixels at `image`,
    // taken at analogue gain `gain`; the hot pixels' places depend on the
    // seed and on `bytes`.
    void apply(uint8_t* image, uint32_t bytes, uint64_t counter, double gain) const;

private:
    uint64_t m_seed;
    std::vector<float> m_normal;  // a fixed table of standard normal deviates
};

}  // namespace model
}  // namespace vb

#endif
