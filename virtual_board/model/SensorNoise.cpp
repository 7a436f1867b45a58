// SensorNoise.cpp - shot noise, read noise and hot pixels (see SensorNoise.h).
//
// Cost: one pseudo-random number gives four table lookups, so a pixel costs
// a lookup, a multiply-add and a rounding.  The table of normal deviates is
// drawn once from the seed and set to exactly mean 0 and variance 1.
#include "SensorNoise.h"

#include <algorithm>
#include <cmath>

namespace vb {
namespace model {

namespace {

constexpr int kTableBits = 16;
constexpr size_t kTableSize = size_t{1} << kTableBits;
constexpr double kTwoPi = 6.283185307179586;

// splitmix64: a good 64-bit generator with a one-word state.
uint64_t next(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double uniform(uint64_t& state) {
    return (static_cast<double>(next(state) >> 11) + 0.5) / 9007199254740992.0;
}

std::vector<float> normalTable(uint64_t seed) {
    uint64_t state = seed ^ 0x6E6F697365ull;
    std::vector<double> z(kTableSize);
    for (size_t i = 0; i < kTableSize; i += 2) {  // Box-Muller, two at a time
        const double r = std::sqrt(-2.0 * std::log(uniform(state)));
        const double a = kTwoPi * uniform(state);
        z[i] = r * std::cos(a);
        z[i + 1] = r * std::sin(a);
    }
    double mean = 0, var = 0;
    for (double v : z) mean += v;
    mean /= kTableSize;
    for (double v : z) var += (v - mean) * (v - mean);
    const double scale = 1.0 / std::sqrt(var / kTableSize);
    std::vector<float> out(kTableSize);
    for (size_t i = 0; i < kTableSize; ++i) out[i] = static_cast<float>((z[i] - mean) * scale);
    return out;
}

}  // namespace

SensorNoise::SensorNoise(uint64_t seed) : m_seed(seed), m_normal(normalTable(seed)) {}

void SensorNoise::apply(uint8_t* image, uint32_t bytes, uint64_t counter, double gain) const {
    using namespace noise;
    const double g = std::isfinite(gain) && gain > 0 ? gain : 0.0;
    // Standard deviation for each grey value.
    float sd[256];
    const double read = kReadNoiseElectrons * g / kElectronsPerDn;
    for (int v = 0; v < 256; ++v)
        sd[v] = static_cast<float>(std::sqrt(v * g / kElectronsPerDn + read * read));

    uint64_t state = m_seed * 0xD1B54A32D192ED03ull + counter;
    uint32_t i = 0;
    const float* table = m_normal.data();
    for (; i + 4 <= bytes; i += 4) {
        uint64_t r = next(state);
        for (int k = 0; k < 4; ++k, r >>= kTableBits) {
            const uint8_t v = image[i + k];
            const float out = static_cast<float>(v) + sd[v] * table[r & (kTableSize - 1)] + 0.5f;
            image[i + k] = static_cast<uint8_t>(std::clamp(out, 0.0f, 255.0f));
        }
    }
    for (uint64_t r = next(state); i < bytes; ++i, r >>= kTableBits) {
        const uint8_t v = image[i];
        const float out = static_cast<float>(v) + sd[v] * table[r & (kTableSize - 1)] + 0.5f;
        image[i] = static_cast<uint8_t>(std::clamp(out, 0.0f, 255.0f));
    }

    // Hot pixels: the same places in every frame of this seed and size.
    if (bytes == 0) return;
    uint64_t place = m_seed ^ 0x686F74ull;
    for (int k = 0; k < kHotPixels; ++k) {
        const uint32_t at = static_cast<uint32_t>(next(place) % bytes);
        image[at] = static_cast<uint8_t>(std::min(255.0, image[at] + std::floor(kHotPixelDn * g + 0.5)));
    }
}

}  // namespace model
}  // namespace vb
