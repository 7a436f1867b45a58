// Frames of the board's frame source, byte for byte, against a plain
// pixel-by-pixel rendering of the sensor's optics as SensorModel.h states
// them: window, address modes (binning), halving, trimming, mirror, flip,
// brightness min(255, floor(v * k + 0.5)), lines wider or narrower than the
// image, frames that end mid-line, the test pattern, still and moving
// scenes, and the noise on top.  The frame source takes fast paths (runs of
// columns, vector forms of the brightness map, reused images); whichever it
// takes, the frame must be the one this reference gives.
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FrameSource.h"
#include "MovingScene.h"
#include "Q210BRegs.h"
#include "Scene.h"
#include "SensorModel.h"
#include "SensorNoise.h"

namespace {

using namespace vb::model;

constexpr int kCols = 1280, kRows = 1024;
constexpr uint16_t kOrigin = 6;           // the chip counts rows and columns from 6
constexpr uint16_t kUnitExposure = 8689;  // 25 ms at the start-up clocks: unit brightness

struct Settings {
    int firstCol = 0, firstRow = 0, cols = kCols, rows = kRows;
    int colCode = 0, rowCode = 0;
    bool halve = false, trim = false, mirror = false, flip = false;
    uint16_t exposure = kUnitExposure;
    uint16_t gain = 0x1010;
    double light = 1.0;
};

void apply(SensorChip& chip, const Settings& s) {
    chip.write(q210b::kRegFirstCol, static_cast<uint16_t>(s.firstCol + kOrigin));
    chip.write(q210b::kRegFirstRow, static_cast<uint16_t>(s.firstRow + kOrigin));
    chip.write(q210b::kRegColCount, static_cast<uint16_t>(s.cols));
    chip.write(q210b::kRegRowCount, static_cast<uint16_t>(s.rows));
    chip.write(q210b::kRegAddressMode, static_cast<uint16_t>(s.colCode << 8 | s.rowCode));
    chip.write(q210b::kRegReadout, static_cast<uint16_t>((s.halve ? q210b::kReadoutHalve : 0) |
                                                         (s.trim ? q210b::kReadoutTrim : 0)));
    chip.write(q210b::kRegControl, static_cast<uint16_t>(0x0E01 | (s.mirror ? q210b::kControlMirror : 0) |
                                                         (s.flip ? q210b::kControlFlip : 0)));
    chip.write(q210b::kRegExposure, s.exposure);
    chip.write(q210b::kRegGainA, s.gain);
    chip.write(q210b::kRegGainB, s.gain);
}

// Array span [first, end) that delivered pixel i covers along one axis.
void span(int i, int origin, int code, bool halve, bool trim, int arrayPixels, int& first, int& end) {
    const int d = code + 8, step = halve ? 2 : 1, p0 = i * step + (trim ? 2 : 0);
    first = origin + p0 * d / 8;
    end = origin + (p0 + step) * d / 8;
    if (end <= first) end = first + 1;
    if (first < 0) first = 0;
    if (end > arrayPixels) end = arrayPixels;
}

uint8_t brightness(unsigned v, double k) {
    const double out = std::floor(v * (std::isfinite(k) && k > 0 ? k : 0.0) + 0.5);
    return static_cast<uint8_t>(out >= 255 ? 255 : out);
}

// The image pixel (x, y), one array pixel at a time.
// The scene in front of the lens: its grey value at array pixel (x, y).
using SceneValue = std::function<uint8_t(int x, int y)>;

uint8_t pixel(const SensorReadout& r, const SceneValue& scene, int x, int y, double k) {
    int r0, r1, c0, c1;
    span(r.flip ? r.height - 1 - y : y, r.firstRow, r.rowCode, r.halve, r.trim, kRows, r0, r1);
    span(r.mirror ? r.width - 1 - x : x, r.firstColumn, r.columnCode, r.halve, r.trim, kCols, c0, c1);
    unsigned sum = 0, count = 0;
    for (int sy = r0; sy < r1; ++sy)
        for (int sx = c0; sx < c1; ++sx, ++count)
            sum += scene(sx, sy);
    return count == 0 ? 0 : brightness((sum + count / 2) / count, k);
}

// A frame of `bytes` in lines of `lineWidth`, as the PL stores it.
std::vector<uint8_t> reference(const SensorChip& chip, const SceneValue& scene, double light, uint32_t bytes,
                               uint32_t lineWidth) {
    const SensorReadout r = sensorReadout(chip.snapshot());
    std::vector<uint8_t> out(bytes, 0);
    for (uint32_t i = 0; i < bytes; ++i) {
        const int x = static_cast<int>(i % lineWidth), y = static_cast<int>(i / lineWidth);
        if (x < r.width && y < r.height) out[i] = pixel(r, scene, x, y, r.brightness * light);
    }
    return out;
}

// The test pattern.
uint8_t testPattern(int x, int y) { return static_cast<uint8_t>(16 + x / 8 + y / 16 + ((x ^ y) & 7)); }

// Picture k of the moving scene as MovingScene.h describes it: the
// chequerboard, the disc moving down and wrapping round, the square moving
// right and wrapping round, drawn over the disc.
SceneValue movingPicture(uint64_t k) {
    const int64_t squareX = static_cast<int64_t>((moving::kSquareX0 + k * moving::kSquareSpeed) % kCols);
    const int64_t discY = static_cast<int64_t>((moving::kDiscY0 + k * moving::kDiscSpeed) % kRows);
    return [squareX, discY](int x, int y) {
        const int64_t sx = (x - squareX + kCols) % kCols;
        if (sx < moving::kSquareSide && y >= moving::kSquareY && y < moving::kSquareY + moving::kSquareSide)
            return moving::kSquareValue;
        for (int64_t wrap : {-kRows, 0, kRows}) {
            const int64_t dx = x - moving::kDiscX, dy = y + wrap - discY;
            if (dx * dx + dy * dy <= moving::kDiscRadius * moving::kDiscRadius) return moving::kDiscValue;
        }
        return static_cast<uint8_t>(64 + 32 * (((x / 32) + (y / 32)) & 1) + ((x ^ y) & 7));
    };
}

// A picture of the user's: grey values in no order.
uint8_t userPicture(int x, int y) { return static_cast<uint8_t>((x * 2654435761u ^ y * 40503u) >> 11); }

// The first index where two frames differ, with both values, or "".
std::string firstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want,
                            uint32_t lineWidth) {
    for (size_t i = 0; i < want.size(); ++i)
        if (got[i] != want[i])
            return "x " + std::to_string(i % lineWidth) + " y " + std::to_string(i / lineWidth) + ": got " +
                   std::to_string(got[i]) + ", want " + std::to_string(want[i]);
    return "";
}

class FrameSourceRender : public ::testing::Test {
protected:
    FrameSourceRender() : source(chip) {}

    // Renders one frame at `s` and compares it with the reference of `scene`.
    void check(const Settings& s, uint32_t bytes, uint32_t lineWidth, const SceneValue& scene,
               const std::string& what) {
        apply(chip, s);
        source.setLight(s.light);
        std::vector<uint8_t> got(bytes + 1, 0xA5);
        time.counter++;
        time.doneNs += 1000000;
        source.render(got.data(), bytes, lineWidth, time);
        EXPECT_EQ(got.back(), 0xA5) << what << ": written past the frame";
        got.pop_back();
        std::vector<uint8_t> want = reference(chip, scene, s.light, bytes, lineWidth);
        if (noise) noise->apply(want.data(), bytes, time.counter, sensorReadout(chip.snapshot()).gain);
        EXPECT_EQ(firstDifference(got, want, lineWidth), "") << what;
    }
    void check(const Settings& s, const std::string& what) {
        apply(chip, s);
        const SensorReadout r = sensorReadout(chip.snapshot());
        const uint32_t w = static_cast<uint32_t>(std::max(r.width, 1)), h = static_cast<uint32_t>(r.height);
        check(s, w * h, w, testPattern, what);
    }

    SensorChip chip;
    FrameSource source;
    FrameTime time;
    std::shared_ptr<const SensorNoise> noise;
};

// Windows inside the array, at its edges and past them, of widths that are
// and are not whole vector blocks, at unit brightness and below and above.
TEST_F(FrameSourceRender, WindowsAndBrightnessGiveThePlainRendering) {
    struct Window {
        int x, y, w, h;
    };
    const Window windows[] = {{0, 0, 1280, 1024},  {480, 392, 320, 240},   {560, 448, 160, 128},
                              {3, 5, 17, 9},       {1200, 1000, 200, 100}, {0, 0, 16, 1},
                              {1264, 0, 16, 1024}, {100, 7, 63, 65},       {2000, 1500, 64, 64}};
    const uint16_t exposures[] = {kUnitExposure, 1, 70, 347, 695, 4000, 20000};
    for (const Window& w : windows)
        for (uint16_t e : exposures) {
            if (w.w * w.h > 320 * 240 && e != kUnitExposure && e != 695) continue;  // two are enough
            Settings s;
            s.firstCol = w.x, s.firstRow = w.y, s.cols = w.w, s.rows = w.h, s.exposure = e;
            check(s, "window " + std::to_string(w.w) + "x" + std::to_string(w.h) + "+" + std::to_string(w.x) +
                         "+" + std::to_string(w.y) + " exposure " + std::to_string(e));
            if (HasFailure()) return;
        }
}

// Gain and the scene's light move the factor into every form of the map,
// the exact table included.
TEST_F(FrameSourceRender, GainAndLightGiveThePlainRendering) {
    const double lights[] = {1.0, 0.0, 0.37, 1.5, 3.0, 255.9, 1e-3};
    const uint16_t gains[] = {0x1010, 0x2020, 0x0808, 0xFFFF, 0x1011};
    for (double light : lights)
        for (uint16_t g : gains) {
            Settings s;
            s.firstCol = 333, s.firstRow = 211, s.cols = 200, s.rows = 50, s.gain = g, s.light = light;
            s.exposure = 3001;
            check(s, "light " + std::to_string(light) + " gain " + std::to_string(g));
            if (HasFailure()) return;
        }
}

// Address modes, halving and trimming average blocks of the array; mirror
// and flip reverse the result, also at the array's edges.
TEST_F(FrameSourceRender, BinningMirrorAndFlipGiveThePlainRendering) {
    const int codes[] = {0x00, 0x08, 0x10, 0x18, 0x38, 0x05, 0xFF};
    std::mt19937 random(15);
    for (int colCode : codes)
        for (int rowCode : codes)
            for (int options = 0; options < 16; ++options) {
                if ((colCode != rowCode) && options % 5 != 0) continue;
                Settings s;
                s.cols = 96 + static_cast<int>(random() % 300);
                s.rows = 40 + static_cast<int>(random() % 100);
                s.firstCol = static_cast<int>(random() % 1400) - 60;
                s.firstRow = static_cast<int>(random() % 1100) - 40;
                s.colCode = colCode, s.rowCode = rowCode;
                s.halve = options & 1, s.trim = options & 2, s.mirror = options & 4, s.flip = options & 8;
                s.exposure = static_cast<uint16_t>(1 + random() % 12000);
                check(s, "codes " + std::to_string(colCode) + "/" + std::to_string(rowCode) + " options " +
                             std::to_string(options) + " window " + std::to_string(s.cols) + "x" +
                             std::to_string(s.rows) + "+" + std::to_string(s.firstCol) + "+" +
                             std::to_string(s.firstRow));
                if (HasFailure()) return;
            }
}

// The PL's lines may be wider than the image (black beyond it) or narrower
// (the image is cut), and a frame may end in the middle of a line; the
// frame reused from the kept image is the same.
TEST_F(FrameSourceRender, LineWidthsAndFramesEndingMidLineGiveThePlainRendering) {
    Settings s;
    s.firstCol = 400, s.firstRow = 300, s.cols = 320, s.rows = 240, s.exposure = 500;
    const uint32_t shapes[][2] = {
        {320 * 240, 320}, {400 * 240, 400}, {256 * 240, 256},       {320 * 100 + 77, 320}, {320 * 300, 320},
        {1000, 1000},     {7, 320},         {500 * 250 + 499, 500}, {33 * 10, 33}};
    for (const auto& shape : shapes)
        for (bool mirror : {false, true}) {
            s.mirror = mirror;
            const std::string what = "bytes " + std::to_string(shape[0]) + " line " +
                                     std::to_string(shape[1]) + (mirror ? " mirrored" : "");
            check(s, shape[0], shape[1], testPattern, what);
            check(s, shape[0], shape[1], testPattern, what + ", reused");
        }
}

// A still picture of the user's and the moving scene's pictures, one per
// frame; then the same frames with the noise on.
TEST_F(FrameSourceRender, ScenesWithAndWithoutNoiseGiveThePlainRendering) {
    std::vector<uint8_t> still(static_cast<size_t>(kCols) * kRows);
    for (int y = 0; y < kRows; ++y)
        for (int x = 0; x < kCols; ++x)
            still[static_cast<size_t>(y) * kCols + x] = userPicture(x, y);
    Settings s;
    s.firstCol = 850, s.firstRow = 60, s.cols = 160, s.rows = 128, s.exposure = 6000;
    for (bool withNoise : {false, true}) {
        noise = withNoise ? std::make_shared<SensorNoise>(3) : nullptr;
        source.setNoise(noise);
        source.setScene(Scene::still(still));
        check(s, 160 * 128, 160, userPicture, "still scene");
        check(s, 160 * 128, 160, userPicture, "still scene, the same frame again");
        source.setScene(Scene::moving());
        for (uint64_t k = 0; k < 4; ++k)
            check(s, 160 * 128, 160, movingPicture(k), "moving scene picture " + std::to_string(k));
        source.setScene(Scene());
        s.mirror = true;
        check(s, "test pattern, mirrored");
        s.mirror = false;
    }
}

// The moving scene's shapes wrap round the array's edges: pictures where
// the square crosses the right edge and the disc the bottom, windows on
// both sides of each edge, binned, mirrored and flipped.
TEST_F(FrameSourceRender, MovingShapesThatWrapRoundGiveThePlainRendering) {
    source.setScene(Scene::moving());
    Settings corner;
    corner.cols = 16, corner.rows = 1;
    check(corner, 16, 16, movingPicture(0), "picture 0");  // the sequence starts here
    const uint64_t start = time.counter;
    Settings right;  // the square's rows at the right edge, mirrored
    right.firstCol = 1100, right.firstRow = 180, right.cols = 180, right.rows = 140, right.mirror = true;
    Settings left = right;  // and at the left edge
    left.firstCol = 0, left.cols = 96;
    Settings bottom;  // the disc's columns at the bottom edge, binned
    bottom.firstCol = 840, bottom.firstRow = 940, bottom.cols = 128, bottom.rows = 84;
    bottom.colCode = bottom.rowCode = 8;
    Settings top = bottom;  // and at the top edge, flipped
    top.firstRow = 0, top.colCode = top.rowCode = 0, top.flip = true;
    for (uint64_t picture : {140, 145, 219, 230, 240}) {
        const SceneValue want = movingPicture(picture);
        for (const Settings* s : {&right, &left, &bottom, &top}) {
            apply(chip, *s);
            const SensorReadout r = sensorReadout(chip.snapshot());
            const uint32_t w = static_cast<uint32_t>(r.width), h = static_cast<uint32_t>(r.height);
            time.counter = start + picture - 1;  // check() counts this frame
            check(*s, w * h, w, want,
                  "picture " + std::to_string(picture) + " window at column " + std::to_string(s->firstCol) +
                      " row " + std::to_string(s->firstRow));
            if (HasFailure()) return;
        }
    }
}

// A frame reused from the last image is the frame a fresh render gives,
// and any change of the settings renders afresh.
TEST_F(FrameSourceRender, ReusedFramesAreTheFreshOnes) {
    Settings s;
    s.firstCol = 10, s.firstRow = 10, s.cols = 200, s.rows = 20;
    check(s, "first");
    check(s, "again");
    s.exposure = 100;
    check(s, "darker");
    s.light = 2;
    check(s, "lit");
    const FrameSource::Stats stats = source.stats();
    EXPECT_EQ(stats.rendered, 3u);
    EXPECT_EQ(stats.copied, 1u);
}

}  // namespace
