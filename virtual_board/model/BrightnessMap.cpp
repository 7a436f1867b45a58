// BrightnessMap.cpp - the analogue chain's mapping of grey values, in vector
// form where it is exact (see BrightnessMap.h).
#include "BrightnessMap.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace vb {
namespace model {

namespace {

constexpr int kFractionBits = 16;
constexpr uint32_t kHalf = 1u << (kFractionBits - 1);
constexpr double kOne = 1u << kFractionBits;
constexpr uint32_t kMaxFraction = 0xFFFF;  // m of the Fraction form: 16 bits
constexpr uint32_t kMaxGain = 0xFFFFFF;    // m of the Gain form: 255 * m + kHalf < 2^32
constexpr uint32_t kWhite = 255;

// Pixels per step of the vector loops: a whole number of vectors for SSE2,
// AVX2 and NEON, and a fixed trip count the compiler can replace entirely.
constexpr int kBlock = 64;

// (v * mul + 2^15) >> 16, written as the product's high half plus its
// rounding bit, each in 16 bits: the compiler keeps every step in 16-bit
// lanes (multiply high, multiply low, shift, add) instead of widening the
// products to 32 bits.
inline uint8_t fraction(uint8_t v, uint16_t mul) {
    const uint16_t high = static_cast<uint16_t>((static_cast<uint32_t>(v) * mul) >> kFractionBits);
    const uint16_t low = static_cast<uint16_t>(static_cast<uint16_t>(v) * mul);
    return static_cast<uint8_t>(high + (low >> (kFractionBits - 1)));
}

inline uint8_t gain(uint8_t v, uint32_t mul) {
    const uint32_t out = (static_cast<uint32_t>(v) * mul + kHalf) >> kFractionBits;
    return static_cast<uint8_t>(out < kWhite ? out : kWhite);
}

// dst[i] = map(src[i]) for n pixels, kBlock at a time.  A row that no block
// divides ends with one more block, laid over the end of the one before:
// src and dst do not overlap, so the pixels it maps twice get the same
// value, and the row never falls back to one pixel at a time.  Rows shorter
// than a block go pixel by pixel.
template <typename Map>
inline void mapRow(const uint8_t* __restrict src, uint8_t* __restrict dst, int n, Map map) {
    auto block = [map](const uint8_t* __restrict s, uint8_t* __restrict d) {
        for (int k = 0; k < kBlock; ++k) d[k] = map(s[k]);
    };
    int i = 0;
    for (; i + kBlock <= n; i += kBlock) block(src + i, dst + i);
    if (i == n) return;
    if (n >= kBlock) {
        block(src + n - kBlock, dst + n - kBlock);
        return;
    }
    for (; i < n; ++i) dst[i] = map(src[i]);
}

// The rows of the two fixed-point forms, kept out of line so that each is
// compiled for its own multiplier.
__attribute__((noinline)) void fractionRow(const uint8_t* src, uint8_t* dst, int n, uint16_t mul) {
    mapRow(src, dst, n, [mul](uint8_t v) { return fraction(v, mul); });
}

__attribute__((noinline)) void gainRow(const uint8_t* src, uint8_t* dst, int n, uint32_t mul) {
    mapRow(src, dst, n, [mul](uint8_t v) { return gain(v, mul); });
}

}  // namespace

BrightnessMap::BrightnessMap(double k) {
    const double f = std::isfinite(k) && k > 0 ? k : 0.0;
    for (int v = 0; v < 256; ++v) {
        const double out = std::floor(v * f + 0.5);
        m_table[v] = static_cast<uint8_t>(out >= kWhite ? kWhite : out);
    }
    if (matches(Form::Copy, 0)) {
        m_form = Form::Copy;
        return;
    }
    // The nearest multiplier, or one of its neighbours where rounding the
    // factor moved a value across a half.
    const double nearest = std::floor(f * kOne + 0.5);
    const Form form = nearest <= kMaxFraction ? Form::Fraction : Form::Gain;
    const uint32_t limit = form == Form::Fraction ? kMaxFraction : kMaxGain;
    if (nearest > limit) return;
    const uint32_t mul = static_cast<uint32_t>(nearest);
    for (uint32_t candidate : {mul, mul - 1, mul + 1}) {
        if (candidate <= limit && matches(form, candidate)) {
            m_form = form;
            m_mul = candidate;
            return;
        }
    }
}

bool BrightnessMap::matches(Form form, uint32_t mul) const {
    for (int v = 0; v < 256; ++v) {
        const uint8_t value = static_cast<uint8_t>(v);
        uint8_t out = value;
        if (form == Form::Fraction) out = fraction(value, static_cast<uint16_t>(mul));
        if (form == Form::Gain) out = gain(value, mul);
        if (out != m_table[v]) return false;
    }
    return true;
}

void BrightnessMap::apply(const uint8_t* src, uint8_t* dst, int n) const {
    if (n <= 0) return;
    const uint32_t mul = m_mul;
    switch (m_form) {
    case Form::Copy: std::memcpy(dst, src, static_cast<size_t>(n)); break;
    case Form::Fraction: fractionRow(src, dst, n, static_cast<uint16_t>(mul)); break;
    case Form::Gain: gainRow(src, dst, n, mul); break;
    case Form::Table: {
        const uint8_t* table = m_table;
        for (int i = 0; i < n; ++i) dst[i] = table[src[i]];
        break;
    }
    }
}

}  // namespace model
}  // namespace vb
