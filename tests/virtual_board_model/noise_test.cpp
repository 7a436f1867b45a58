// The sensor's noise against its documented model (SensorNoise.h): at two
// signal levels and at double gain the frame's mean stays the signal and its
// variance is shot noise + read noise + rounding, within bounds derived from
// the number of pixels; a few hot pixels stay at the places the seed gives.
// Everything depends on the seed and the frame counter only, so these checks
// give the same result on every run.

#include <cmath>
#include <cstdio>
#include <set>
#include <string>

#include "ModelTestSupport.h"

namespace modeltest {
namespace {

constexpr uint32_t kFrame = 1280u * 1024;
constexpr uint64_t kSeed = 7;
// The model's parameters as its header documents them.
constexpr double kElectronsPerDn = 4.0, kReadNoiseElectrons = 6.0;
constexpr int kHotPixels = 24;
constexpr double kSigmas = 6;  // bound of every statistical check

struct Moments {
    double mean = 0, variance = 0;
    size_t samples = 0;
    std::set<size_t> outliers;  // pixels far above the signal: hot pixels
};

class Noise : public ModelTest {
protected:
    void TearDown() override {
        std::remove(path.c_str());
        ModelTest::TearDown();
    }
    // A flat scene of grey value v.
    void flatScene(uint8_t v) {
        ASSERT_TRUE(writeGreyPng(path, 1, 1, &v));
        ASSERT_TRUE(vb::modelLoadScene(path));
    }
    // Mean and variance of a frame's pixels around the signal; the stamp and
    // the hot pixels (more than 10 standard deviations up) are left out.
    Moments measure(uint8_t signal, double sd) {
        const std::vector<uint8_t> f = board.captureFrame(1280, 1024);
        Moments m;
        EXPECT_EQ(f.size(), kFrame);
        double sum = 0, squares = 0;
        for (size_t i = vb::kFrameStampBytes; i < f.size(); ++i) {
            const double d = static_cast<double>(f[i]) - signal;
            if (d > 10 * sd) {
                m.outliers.insert(i);
                continue;
            }
            sum += d;
            squares += d * d;
            ++m.samples;
        }
        const double n = static_cast<double>(m.samples);
        m.mean = signal + sum / n;
        m.variance = squares / n - (sum / n) * (sum / n);
        return m;
    }
    // The documented variance at signal v and gain g, rounding included.
    static double variance(double v, double g) {
        const double read = kReadNoiseElectrons * g / kElectronsPerDn;
        return v * g / kElectronsPerDn + read * read + 1.0 / 12;
    }
    void expectModel(uint8_t signal, double gain) {
        const double var = variance(signal, gain);
        const Moments m = measure(signal, std::sqrt(var));
        const double n = static_cast<double>(m.samples);
        ASSERT_GT(n, kFrame * 0.99);
        // Standard errors of a mean and of a variance of n normal samples.
        EXPECT_NEAR(m.mean, signal, kSigmas * std::sqrt(var / n))
            << "signal " << int(signal) << " gain " << gain;
        EXPECT_NEAR(m.variance, var, kSigmas * var * std::sqrt(2 / n))
            << "signal " << int(signal) << " gain " << gain;
        EXPECT_GE(m.outliers.size(), 1u);
        EXPECT_LE(m.outliers.size(), static_cast<size_t>(kHotPixels));
    }
    std::string path = std::string(P_tmpdir) + "/vyx_noise_" + std::to_string(getpid()) + ".png";
};

TEST_F(Noise, MeanAndVarianceFollowTheModelAtTwoSignalsAndDoubleGain) {
    vb::modelSetNoise(true, kSeed);
    flatScene(40);
    expectModel(40, 1);
    flatScene(160);
    expectModel(160, 1);
    // Gain code 32: twice the signal and shot noise, four times the read noise.
    board.sensorWrite(54, 0x2020);
    board.sensorWrite(55, 0x2020);
    flatScene(40);
    expectModel(80, 2);
}

TEST_F(Noise, HotPixelsStayInPlaceAndFramesDifferWhileTheSeedDecides) {
    vb::modelSetNoise(true, kSeed);
    flatScene(60);
    const double sd = std::sqrt(variance(60, 1));
    const Moments a = measure(60, sd), b = measure(60, sd);
    EXPECT_EQ(a.outliers, b.outliers);
    const std::vector<uint8_t> f1 = board.captureFrame(1280, 1024), f2 = board.captureFrame(1280, 1024);
    ASSERT_EQ(f1.size(), f2.size());
    EXPECT_NE(std::memcmp(f1.data() + 8, f2.data() + 8, f1.size() - 8), 0) << "noise repeats frame to frame";
    vb::modelSetNoise(true, kSeed + 1);
    EXPECT_NE(measure(60, sd).outliers, a.outliers);
}

TEST_F(Noise, OffItLeavesFramesExact) {
    vb::modelSetNoise(true, kSeed);
    vb::modelSetNoise(false, kSeed);
    const std::vector<uint8_t> f = board.captureFrame(1280, 1024);
    ASSERT_EQ(f.size(), kFrame);
    for (int y = 0; y < 1024; y += 7)
        for (int x = y == 0 ? 8 : 0; x < 1280; x += 5)
            ASSERT_EQ(f[static_cast<size_t>(y) * 1280 + x], vb::modelPatternValue(x, y)) << x << "," << y;
}

}  // namespace
}  // namespace modeltest
