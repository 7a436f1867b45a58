// The analogue chain's mapping of grey values: whichever form renders a
// row (copy, 16-bit fraction, 24-bit gain, table), every value leaves as
// min(255, floor(v * k + 0.5)), and the vector forms are the ones taken for
// the brightness factors a sensor produces (a map that silently fell back
// to the table would cost a fast window most of its frame period).
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "BrightnessMap.h"

namespace {

using vb::model::BrightnessMap;

uint8_t exact(int v, double k) {
    const double out = std::floor(v * (std::isfinite(k) && k > 0 ? k : 0.0) + 0.5);
    return static_cast<uint8_t>(out >= 255 ? 255 : out);
}

// Every grey value, twice over and a part (a row length no block divides).
std::vector<uint8_t> everyValue() {
    std::vector<uint8_t> row(2 * 256 + 77);
    for (size_t i = 0; i < row.size(); ++i)
        row[i] = static_cast<uint8_t>(i * 7 + i / 256);
    return row;
}

// Checks one factor; returns its form.
BrightnessMap::Form check(double k) {
    const BrightnessMap map(k);
    const std::vector<uint8_t> row = everyValue();
    std::vector<uint8_t> out(row.size() + 1, 0xA5);
    map.apply(row.data(), out.data(), static_cast<int>(row.size()));
    for (size_t i = 0; i < row.size(); ++i) {
        EXPECT_EQ(out[i], exact(row[i], k))
            << "k " << k << " v " << int(row[i]) << " form " << int(map.form());
        if (out[i] != exact(row[i], k)) break;
    }
    EXPECT_EQ(out.back(), 0xA5) << "k " << k << ": written past the row";
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(map(static_cast<uint8_t>(v)), exact(v, k));
    return map.form();
}

TEST(BrightnessMap, EveryFormGivesTheRoundedSaturatedProduct) {
    using Form = BrightnessMap::Form;
    EXPECT_EQ(check(1.0), Form::Copy);
    EXPECT_EQ(check(0.008), Form::Fraction);  // 0.2 ms at unit gain
    EXPECT_EQ(check(0.5), Form::Fraction);
    EXPECT_EQ(check(2.0), Form::Gain);
    EXPECT_EQ(check(100.0), Form::Gain);
    for (double k : {0.0, -1.0, std::nan(""), static_cast<double>(INFINITY), 1e-12, 255.9, 256.0, 1e9,
                     1.0 - 1e-12, 1.0 + 1e-9})
        check(k);
}

// Factors as the registers give them (any exposure time, any gain, any
// light): all exact, and nearly all in a vector form.
TEST(BrightnessMap, FactorsOfEveryKindAreExactAndMostlyVectorised) {
    std::mt19937_64 random(15);
    std::uniform_real_distribution<double> logK(std::log(1e-4), std::log(255.0));
    int table = 0, total = 0;
    for (int i = 0; i < 4000; ++i, ++total) {
        const double k = std::exp(logK(random));
        if (check(k) == BrightnessMap::Form::Table) ++table;
        if (HasFailure()) return;
    }
    // Exposures in whole lines of the start-up clocks at unit gain.
    for (int lines = 1; lines <= 8689; lines += 7, ++total)
        if (check(lines / 8689.0) == BrightnessMap::Form::Table) ++table;
    EXPECT_LT(table, total / 100) << table << " of " << total << " factors fell back to the table";
}

}  // namespace
