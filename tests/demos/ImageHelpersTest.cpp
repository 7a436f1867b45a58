// The demos' image helpers on small hand-made images, and their fast
// per-pixel loops against straightforward per-pixel definitions.
#include "VYXImage.h"
#include "VYXImageKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kCanary = 0xA5;

int Stride(int width, int bits) { return ((width * bits + 31) / 32) * 4; }

// An image buffer with a guard zone behind it, so that writes past the last
// row are seen.
struct Image {
    int width;
    int height;
    int bits;
    int stride;
    std::vector<uint8_t> buf;

    Image(int w, int h, int b = 8, uint8_t fill = 0)
        : width(w), height(h), bits(b), stride(Stride(w, b)),
          buf(static_cast<size_t>(Stride(w, b)) * h + 64, kCanary)
    {
        std::fill(buf.begin(), buf.begin() + static_cast<long>(stride) * h, fill);
    }
    uint8_t* data() { return buf.data(); }
    uint8_t& at(int x, int y, int byte = 0) { return buf[static_cast<size_t>(y) * stride + x * (bits / 8) + byte]; }
    bool guardIntact() const
    {
        for (size_t i = static_cast<size_t>(stride) * height; i < buf.size(); ++i) {
            if (buf[i] != kCanary) return false;
        }
        return true;
    }
    // Rows that hold a 255 anywhere in the pixel columns.
    std::vector<int> whiteRows()
    {
        std::vector<int> rows;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width * (bits / 8); ++x) {
                if (buf[static_cast<size_t>(y) * stride + x] == 255) {
                    rows.push_back(y);
                    break;
                }
            }
        }
        return rows;
    }
};

void FillRandom(Image& img, std::mt19937& rng)
{
    for (size_t i = 0; i < static_cast<size_t>(img.stride) * img.height; ++i) {
        img.buf[i] = static_cast<uint8_t>(rng());
    }
}

// ---- plain definitions the fast loops must match ----

void RefSingle(Image& img, int t, int inv, int x, int y, int w, int h)
{
    for (int r = y; r < y + h; ++r) {
        for (int c = x; c < x + w; ++c) {
            uint8_t& p = img.at(c, r);
            const bool hi = p >= t;
            p = (inv == 0) == hi ? 255 : 0;
        }
    }
}

void RefBand(Image& img, int lo, int hi, int inv, int x, int y, int w, int h)
{
    for (int r = y; r < y + h; ++r) {
        for (int c = x; c < x + w; ++c) {
            uint8_t& p = img.at(c, r);
            const bool inside = lo <= p && p <= hi;
            p = (inv == 0) == inside ? 255 : 0;
        }
    }
}

// ---- AOI outline ----

TEST(ShowAoi, OutlinesTheBorderOnly)
{
    Image img(16, 12);
    VYXIMAGE_ShowAoi(img.data(), img.width, img.height, 8, 2, 3, 5, 4);
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            const bool inBox = x >= 2 && x <= 6 && y >= 3 && y <= 6;
            const bool border = inBox && (x == 2 || x == 6 || y == 3 || y == 6);
            EXPECT_EQ(img.at(x, y), border ? 255 : 0) << x << "," << y;
        }
    }
    EXPECT_TRUE(img.guardIntact());
}

TEST(ShowAoi, OneAndTwoRowAoisDrawRowsYAndYPlus1)
{
    for (int h : {1, 2}) {
        Image img(10, 8);
        VYXIMAGE_ShowAoi(img.data(), img.width, img.height, 8, 1, 4, 6, h);
        EXPECT_EQ(img.whiteRows(), (std::vector<int>{4, 5})) << "h=" << h;
        EXPECT_EQ(img.at(0, 4), 0);
        EXPECT_EQ(img.at(6, 5), 255);
        EXPECT_EQ(img.at(7, 5), 0);
    }
}

TEST(ShowAoi, UsesBitcountForStrideAndPixelWidth)
{
    // 5 pixels of 24 bits: 15 bytes padded to 16.
    Image img(5, 4, 24);
    ASSERT_EQ(img.stride, 16);
    VYXIMAGE_ShowAoi(img.data(), img.width, img.height, 24, 1, 0, 3, 4);
    for (int byte = 0; byte < 3; ++byte) {
        EXPECT_EQ(img.at(1, 1, byte), 255);   // left side, all three bytes
        EXPECT_EQ(img.at(3, 2, byte), 255);   // right side
        EXPECT_EQ(img.at(2, 2, byte), 0);     // inside
        EXPECT_EQ(img.at(2, 3, byte), 255);   // bottom edge
    }
    EXPECT_EQ(img.at(4, 0), 0);
    EXPECT_EQ(img.buf[15], 0) << "row padding untouched";
    EXPECT_TRUE(img.guardIntact());
}

// ---- grey histogram ----

TEST(GreyHistogram, OneGreyLevelGivesOneFullBar)
{
    // AOI 300 x 40 at (4, 8), all level 90, in an image of width 601 (stride
    // 604: the padding must not be counted or drawn).
    Image img(601, 60, 8, 200);
    ASSERT_EQ(img.stride, 604);
    for (int y = 8; y < 48; ++y) {
        for (int x = 4; x < 304; ++x) img.at(x, y) = 90;
    }
    int hist[256];
    VYXIMAGE_Y8_Histgram(img.data(), img.width, img.height, 4, 8, 300, 40, hist);
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(hist[v], v == 90 ? 300 * 40 : 0) << v;
    }
    // quarter = 40 / 4 = 10: column 4 + 90 is darkened to 45 on the AOI's
    // last 10 rows (38..47), nothing else changes.
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            const bool inAoi = x >= 4 && x < 304 && y >= 8 && y < 48;
            const bool bar = x == 94 && y >= 38 && y <= 47;
            EXPECT_EQ(img.at(x, y), bar ? 45 : (inAoi ? 90 : 200)) << x << "," << y;
        }
    }
    EXPECT_TRUE(img.guardIntact());
}

TEST(GreyHistogram, BarsAreProportionalAndDarkenByPercent)
{
    Image img(300, 40, 8, 100);
    int hist[256] = {};
    hist[0] = 50;    // tallest: quarter = 10 rows
    hist[1] = 25;    // 5 rows
    hist[2] = 24;    // 4.8 -> 4 rows
    hist[255] = 1;   // 0.2 -> none
    Y8_ShowHistgram(img.data(), img.width, img.height, 10, 0, 256, 40, hist, 30);
    auto barHeight = [&](int col) {
        int n = 0;
        for (int y = 0; y < img.height; ++y) {
            if (img.at(col, y) == 30) ++n;           // 30 * 100 / 100
            else EXPECT_EQ(img.at(col, y), 100);
        }
        return n;
    };
    EXPECT_EQ(barHeight(10), 10);
    EXPECT_EQ(barHeight(11), 5);
    EXPECT_EQ(barHeight(12), 4);
    EXPECT_EQ(barHeight(13), 0);
    EXPECT_EQ(barHeight(265), 0);
    EXPECT_EQ(img.at(10, 39), 30);   // bars stand on the AOI's last row
    EXPECT_EQ(img.at(10, 29), 100);

    // Counts whose ratio to the maximum is not exact in single precision (41
    // is the smallest) still give a full bar.
    for (int count : {41, 97, 1000003}) {
        Image one(256, 8, 8, 80);
        int h[256] = {};
        h[7] = count;
        Y8_ShowHistgram(one.data(), one.width, one.height, 0, 0, 256, 8, h, 50);
        EXPECT_EQ(one.at(7, 6), 40) << count;
        EXPECT_EQ(one.at(7, 5), 80) << count;
    }
}

TEST(GreyHistogram, EmptyTableDrawsNothingAndBarsStopAtRowEnd)
{
    Image img(64, 16, 8, 77);
    int zero[256] = {};
    Y8_ShowHistgram(img.data(), img.width, img.height, 0, 0, 64, 16, zero, 50);
    for (size_t i = 0; i < static_cast<size_t>(img.stride) * img.height; ++i) ASSERT_EQ(img.buf[i], 77);

    // Width 61 (stride 64): an AOI at column 40 has room for 21 bars only;
    // bars 21 and up would land in the padding or on the next row.
    Image narrow(61, 16, 8, 77);
    int flat[256];
    std::fill(flat, flat + 256, 5);
    Y8_ShowHistgram(narrow.data(), narrow.width, narrow.height, 40, 0, 21, 16, flat, 0);
    for (int y = 0; y < narrow.height; ++y) {
        for (int x = 0; x < narrow.width; ++x) {
            EXPECT_EQ(narrow.at(x, y), (x >= 40 && y >= 12) ? 0 : 77) << x << "," << y;
        }
        for (int pad = 61; pad < 64; ++pad) EXPECT_EQ(narrow.buf[static_cast<size_t>(y) * 64 + pad], 77);
    }
    EXPECT_TRUE(narrow.guardIntact());
}

TEST(GreyHistogram, CountsMatchPlainCountingOnRandomAois)
{
    std::mt19937 rng(7);
    for (int width : {1, 7, 8, 9, 17, 600, 601, 1283}) {
        Image img(width, 9);
        FillRandom(img, rng);
        for (int trial = 0; trial < 4; ++trial) {
            const int x = static_cast<int>(rng() % width);
            const int w = 1 + static_cast<int>(rng() % (width - x));
            const int y = static_cast<int>(rng() % 4);
            const int h = 1 + static_cast<int>(rng() % (9 - y));
            int expected[256] = {};
            for (int r = y; r < y + h; ++r) {
                for (int c = x; c < x + w; ++c) ++expected[img.at(c, r)];
            }
            int hist[256];
            Image copy = img;
            VYXIMAGE_Y8_Histgram(copy.data(), width, 9, x, y, w, h, hist);
            for (int v = 0; v < 256; ++v) {
                ASSERT_EQ(hist[v], expected[v]) << "width " << width << " value " << v;
            }
        }
    }
}

// The counting loop reads the AOI in words and spreads pixels over several
// counter tables; every pattern that could trip that up must count exactly
// what the plain loop counts, both through the kernel and through the
// exported function.
using Counts = std::array<int, 256>;

Counts PlainCount(Image& img, int x, int y, int w, int h)
{
    Counts c{};
    for (int r = y; r < y + h; ++r) {
        for (int col = x; col < x + w; ++col) ++c[img.at(col, r)];
    }
    return c;
}

void ExpectCountsMatch(Image& img, int x, int y, int w, int h, const std::string& what)
{
    const Counts expected = PlainCount(img, x, y, w, h);
    Counts direct;
    direct.fill(-1);
    vyximage::CountGrey(img.data(), img.stride, x, y, w, h, direct.data());
    EXPECT_EQ(direct, expected) << what << " AOI " << x << "," << y << " " << w << "x" << h;

    Image drawn = img;
    Counts exported;
    VYXIMAGE_Y8_Histgram(drawn.data(), img.width, img.height, x, y, w, h, exported.data());
    EXPECT_EQ(exported, expected) << what << " (exported) AOI " << x << "," << y << " " << w << "x" << h;
    EXPECT_TRUE(drawn.guardIntact()) << what;
}

TEST(GreyHistogram, CountsMatchPlainLoopOnAdversarialFullFrames)
{
    // Full sensor frames: a constant frame puts 1310720 pixels (160 K per
    // table of an eight-way split) into one counter, beyond any 16-bit one.
    constexpr int kW = 1280;
    constexpr int kH = 1024;
    const std::vector<std::pair<std::string, std::function<uint8_t(int, int)>>> patterns = {
        {"constant 0", [](int, int) { return uint8_t{0}; }},
        {"constant 255", [](int, int) { return uint8_t{255}; }},
        {"constant 77", [](int, int) { return uint8_t{77}; }},
        {"pixels alternating 0/255", [](int x, int) { return uint8_t(x % 2 ? 255 : 0); }},
        {"pixels alternating 3/4", [](int x, int y) { return uint8_t((x + y) % 2 ? 4 : 3); }},
        {"rows alternating 9/200", [](int, int y) { return uint8_t(y % 2 ? 200 : 9); }},
        {"runs of eight alternating 1/254", [](int x, int) { return uint8_t((x / 8) % 2 ? 254 : 1); }},
        {"every level in turn", [](int x, int y) { return uint8_t(x + 3 * y); }},
    };
    for (const auto& [name, pattern] : patterns) {
        Image img(kW, kH);
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) img.at(x, y) = pattern(x, y);
        }
        ExpectCountsMatch(img, 0, 0, kW, kH, name);
        ExpectCountsMatch(img, 1, 1, kW - 2, kH - 2, name);     // unaligned, width 1278
        ExpectCountsMatch(img, 3, 0, 1265, 7, name);            // width 1265: not a multiple of 16
        // One-pixel AOIs: the first and last pixel and odd places between.
        for (const auto& [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {kW - 1, kH - 1}, {5, 3}, {kW - 2, 0}, {0, kH - 1}}) {
            ExpectCountsMatch(img, x, y, 1, 1, name);
        }
    }
}

TEST(GreyHistogram, CountsMatchPlainLoopForEveryNarrowWidthAndOffset)
{
    // Widths 1 to 40 at every start column 0 to 16 cover each split of an
    // AOI row into whole words and a tail; width 601 has row padding.
    std::mt19937 rng(21);
    for (int width : {57, 601}) {
        Image img(width, 5);
        FillRandom(img, rng);
        for (int x = 0; x <= 16; ++x) {
            for (int w = 1; w <= 40 && x + w <= width; ++w) {
                ExpectCountsMatch(img, x, 1, w, 3, "random width " + std::to_string(width));
            }
        }
    }
}

TEST(GreyHistogram, PairAndByteCountingBothMatchPlainLoopOnLargeAois) {
    // Large AOIs of alike neighbours are counted in pairs of pixels, others
    // byte by byte.  Each picture is counted at AOIs just above and below
    // the size where pairs start, with odd widths (a tail of single bytes)
    // and odd offsets; the last picture looks alike where the kernel samples
    // (a smooth band through the middle columns) and is noise elsewhere, so
    // the pair table fills everywhere.
    constexpr int kW = 1280;
    constexpr int kH = 1024;
    std::mt19937 rng(5);
    std::normal_distribution<float> grain(0.0f, 3.0f);
    const auto clampByte = [](float v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); };
    const std::vector<std::pair<std::string, std::function<uint8_t(int, int)>>> pictures = {
        {"camera-like",
         [&](int x, int y) { return clampByte(100 + 60 * std::sin(x * 0.01f + y * 0.02f) + grain(rng)); }},
        {"noise", [&](int, int) { return uint8_t(rng()); }},
        {"alike where sampled, noise elsewhere",
         [&](int x, int) { return x >= 500 && x < 780 ? uint8_t(x / 3) : uint8_t(rng()); }},
    };
    for (const auto& [name, pixel] : pictures) {
        Image img(kW, kH);
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x)
                img.at(x, y) = pixel(x, y);
        }
        ExpectCountsMatch(img, 0, 0, kW, kH, name);
        ExpectCountsMatch(img, 3, 5, 1277, 1019, name);
        ExpectCountsMatch(img, 1, 0, 513, 511, name);  // 262143 pixels: just below
        ExpectCountsMatch(img, 1, 0, 513, 512, name);  // 262656: just above
    }
}

// ---- colour histogram ----

TEST(ColourHistogram, CountsRedGreenBlueOfBgrPixels)
{
    Image img(3, 2, 24);                     // stride 12 (9 bytes padded)
    const uint8_t bgr[6][3] = {{1, 2, 3}, {1, 5, 3}, {9, 9, 9}, {1, 2, 3}, {4, 4, 4}, {4, 4, 4}};
    for (int i = 0; i < 6; ++i) {
        for (int b = 0; b < 3; ++b) img.at(i % 3, i / 3, b) = bgr[i][b];
    }
    img.buf[9] = img.buf[10] = img.buf[11] = 7;   // padding: not a pixel
    int hist[3 * 256 + 8];
    std::fill(hist, hist + 3 * 256 + 8, -1);
    VYXIMAGE_Rgb_Histgram(img.data(), 3, 2, 24, 0, 0, 2, 2, hist);
    const int* red = hist;
    const int* green = hist + 256;
    const int* blue = hist + 512;
    EXPECT_EQ(red[3], 3);
    EXPECT_EQ(red[4], 1);
    EXPECT_EQ(green[2], 2);
    EXPECT_EQ(green[5], 1);
    EXPECT_EQ(green[4], 1);
    EXPECT_EQ(blue[1], 3);
    EXPECT_EQ(blue[4], 1);
    EXPECT_EQ(red[9] + red[7] + green[7] + blue[7], 0);
    for (int i = 3 * 256; i < 3 * 256 + 8; ++i) EXPECT_EQ(hist[i], -1);
}

TEST(ColourHistogram, OtherBitCountsStayInsideTheirTables)
{
    std::mt19937 rng(3);
    for (int bits : {1, 4, 8, 16, 32}) {
        Image img(5, 3, bits < 8 ? 8 : bits);
        FillRandom(img, rng);
        int hist[3 * 256 + 8];
        std::fill(hist, hist + 3 * 256 + 8, -1);
        VYXIMAGE_Rgb_Histgram(img.data(), 5, 3, bits, 0, 0, 5, 3, hist);
        int total[3] = {};
        for (int t = 0; t < 3; ++t) {
            for (int v = 0; v < 256; ++v) {
                ASSERT_GE(hist[t * 256 + v], 0);
                total[t] += hist[t * 256 + v];
            }
        }
        for (int i = 3 * 256; i < 3 * 256 + 8; ++i) EXPECT_EQ(hist[i], -1) << bits;
        const int channels = bits < 8 ? 0 : std::min(bits / 8, 3);
        for (int t = 0; t < 3; ++t) EXPECT_EQ(total[t], t < channels ? 15 : 0) << bits << " table " << t;
        if (bits == 8) {
            EXPECT_GT(hist[img.at(4, 2)], 0) << "8-bit data counts the grey value";
        }
        if (bits == 32) {
            EXPECT_GT(hist[img.at(0, 0, 2)], 0);          // byte 2 -> table 0
            EXPECT_GT(hist[512 + img.at(0, 0, 0)], 0);    // byte 0 -> table 2
        }
    }
}

// ---- thresholds ----

// Every threshold from below 0 to above 255, invert 0 and non-zero, on odd
// widths and on the strides 600 and 604 (width 601): whole buffers are
// compared, so the row padding must come out untouched too.
TEST(Threshold, SingleMatchesPlainDefinitionForEveryThreshold)
{
    std::mt19937 rng(11);
    for (int width : {1, 13, 63, 64, 65, 600, 601}) {
        Image src(width, 3);
        FillRandom(src, rng);
        for (int t = -3; t <= 258; ++t) {
            for (int inv : {0, 1, 5}) {
                Image fast = src;
                Image ref = src;
                VYXIMAGE_Y8_ThresholdSingle(fast.data(), width, 3, t, inv);
                RefSingle(ref, t, inv, 0, 0, width, 3);
                ASSERT_EQ(fast.buf, ref.buf) << "width " << width << " t " << t << " inv " << inv;
            }
        }
    }
}

TEST(Threshold, BandMatchesPlainDefinitionForEveryPair)
{
    std::mt19937 rng(12);
    Image src(67, 2);     // one 64-byte block and a tail
    FillRandom(src, rng);
    for (int lo = -2; lo <= 257; ++lo) {
        for (int hi = -2; hi <= 257; ++hi) {
            for (int inv : {0, 1}) {
                Image fast = src;
                Image ref = src;
                VYXIMAGE_Y8_ThresholdDouble(fast.data(), 67, 2, lo, hi, inv);
                RefBand(ref, lo, hi, inv, 0, 0, 67, 2);
                ASSERT_EQ(fast.buf, ref.buf) << "lo " << lo << " hi " << hi << " inv " << inv;
            }
        }
    }
}

TEST(Threshold, AoiFormsTouchOnlyTheAoi)
{
    std::mt19937 rng(13);
    for (int width : {97, 600, 601}) {
        Image src(width, 12);
        FillRandom(src, rng);
        const int x = 3, y = 2, w = width - 10, h = 7;
        for (int t : {0, 1, 77, 128, 255, 256}) {
            Image fast = src;
            Image ref = src;
            VYXIMAGE_Y8_ThresholdSingle_AOI(fast.data(), width, 12, t, 0, x, y, w, h);
            RefSingle(ref, t, 0, x, y, w, h);
            ASSERT_EQ(fast.buf, ref.buf) << width << " t " << t;
        }
        Image fast = src;
        Image ref = src;
        VYXIMAGE_Y8_ThresholdDouble_AOI(fast.data(), width, 12, 40, 180, 1, x, y, w, h);
        RefBand(ref, 40, 180, 1, x, y, w, h);
        ASSERT_EQ(fast.buf, ref.buf) << width;
    }
}

// ---- AOIs reaching out of the image ----

// An image with guard zones before and after it.
struct Guarded {
    static constexpr size_t kGuard = 4096;
    int width, height, bits, stride;
    std::vector<uint8_t> buf;
    Guarded(int w, int h, int b, uint8_t fill)
        : width(w), height(h), bits(b), stride(Stride(w, b)), buf(2 * kGuard + static_cast<size_t>(stride) * h, kCanary)
    {
        std::fill(buf.begin() + kGuard, buf.end() - kGuard, fill);
    }
    uint8_t* data() { return buf.data() + kGuard; }
    uint8_t at(int x, int y) const { return buf[kGuard + static_cast<size_t>(y) * stride + x]; }
    bool guardsIntact() const
    {
        for (size_t i = 0; i < kGuard; ++i)
            if (buf[i] != kCanary || buf[buf.size() - 1 - i] != kCanary) return false;
        return true;
    }
};

struct Aoi {
    int x, y, w, h;
};

// Part inside, part outside on every side, wholly outside, and ends that
// overflow an int when added up.
const Aoi kOutlyingAois[] = {
    {-5, -3, 20, 10},  {30, 10, 50, 40},      {-100, 5, 300, 4},  {5, -100, 4, 300},
    {40, 0, 10, 10},   {0, 24, 10, 10},       {-50, -50, 10, 10}, {INT32_MAX - 2, 2, 10, 3},
    {2, INT32_MAX, 3, INT32_MAX}, {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, {3, 3, INT32_MAX, INT32_MAX},
};

TEST(OutlyingAoi, ThresholdsChangeOnlyThePartInsideTheImage)
{
    for (const Aoi& a : kOutlyingAois) {
        Guarded img(40, 24, 8, 100);
        VYXIMAGE_Y8_ThresholdSingle_AOI(img.data(), 40, 24, 50, 0, a.x, a.y, a.w, a.h);
        Guarded band(40, 24, 8, 100);
        VYXIMAGE_Y8_ThresholdDouble_AOI(band.data(), 40, 24, 0, 10, 0, a.x, a.y, a.w, a.h);
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 40; ++x) {
                const bool in = int64_t{x} >= a.x && int64_t{x} < int64_t{a.x} + a.w && int64_t{y} >= a.y &&
                                int64_t{y} < int64_t{a.y} + a.h;
                ASSERT_EQ(img.at(x, y), in ? 255 : 100) << a.x << "," << a.y << " at " << x << "," << y;
                ASSERT_EQ(band.at(x, y), in ? 0 : 100) << a.x << "," << a.y << " at " << x << "," << y;
            }
        }
        EXPECT_TRUE(img.guardsIntact() && band.guardsIntact()) << a.x << "," << a.y;
    }
}

TEST(OutlyingAoi, OutlineIsClippedToTheImage)
{
    for (int bits : {8, 24}) {
        for (const Aoi& a : kOutlyingAois) {
            Guarded img(40, 24, bits, 7);
            VYXIMAGE_ShowAoi(img.data(), 40, 24, bits, a.x, a.y, a.w, a.h);
            EXPECT_TRUE(img.guardsIntact()) << a.x << "," << a.y;
        }
    }
    // The part of the border inside: top edge cut at the left, right side kept.
    Guarded img(40, 24, 8, 7);
    VYXIMAGE_ShowAoi(img.data(), 40, 24, 8, -5, 2, 15, 6);
    for (int x = 0; x < 40; ++x) EXPECT_EQ(img.at(x, 2), x <= 9 ? 255 : 7) << x;
    for (int y = 3; y <= 6; ++y) EXPECT_EQ(img.at(9, y), 255) << y;
    for (int y = 3; y <= 6; ++y) EXPECT_EQ(img.at(0, y), 7) << y;
}

TEST(OutlyingAoi, HistogramsCountOnlyThePartInsideTheImage)
{
    for (const Aoi& a : kOutlyingAois) {
        Guarded img(40, 24, 8, 9);
        int hist[256];
        VYXIMAGE_Y8_Histgram(img.data(), 40, 24, a.x, a.y, a.w, a.h, hist);
        const int64_t w = std::max<int64_t>(0, std::min<int64_t>(40, int64_t{a.x} + a.w) - std::max(0, a.x));
        const int64_t h = std::max<int64_t>(0, std::min<int64_t>(24, int64_t{a.y} + a.h) - std::max(0, a.y));
        EXPECT_EQ(hist[9], w * h) << a.x << "," << a.y;
        EXPECT_TRUE(img.guardsIntact()) << a.x << "," << a.y;

        Guarded colour(40, 24, 24, 9);
        int rgb[3 * 256];
        VYXIMAGE_Rgb_Histgram(colour.data(), 40, 24, 24, a.x, a.y, a.w, a.h, rgb);
        EXPECT_EQ(rgb[9], w * h) << a.x << "," << a.y;
        EXPECT_TRUE(colour.guardsIntact()) << a.x << "," << a.y;
    }
    // An image without pixels, or with pixels wider than 32 bits, is left alone.
    Guarded img(40, 24, 8, 9);
    int rgb[3 * 256];
    VYXIMAGE_Rgb_Histgram(img.data(), 40, 24, 64, 0, 0, 40, 24, rgb);
    VYXIMAGE_ShowAoi(img.data(), 40, 24, 64, 0, 0, 10, 10);
    VYXIMAGE_ShowAoi(img.data(), 0, 24, 8, 0, 0, 10, 10);
    VYXIMAGE_Y8_ThresholdSingle(img.data(), 40, -1, 50, 0);
    EXPECT_EQ(std::count(rgb, rgb + 3 * 256, 0), 3 * 256);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(img.at(x, y), 9);
}

// ---- the demos' per-frame step ----

TEST(MyProcessData, KnownFrame)
{
    // 640 x 480 frame of level 200: AOI (160, 120, 320, 240); one bar of
    // 60 rows at column 160 + 200 darkened to 100; the AOI outlined in 255;
    // the top-left 320 x 240 binarised at 128 (200 -> 255).
    Image img(640, 480, 8, 200);
    EXPECT_EQ(MyProcessData(img.data(), 640, 480, 8), 0);
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            uint8_t expect = 200;
            const bool border = x >= 160 && x <= 479 && y >= 120 && y <= 359 &&
                                (x == 160 || x == 479 || y == 120 || y == 359);
            if (x == 360 && y >= 300 && y <= 359) expect = 100;
            if (border) expect = 255;
            if (x < 320 && y < 240) expect = 255;
            ASSERT_EQ(img.at(x, y), expect) << x << "," << y;
        }
    }
    EXPECT_TRUE(img.guardIntact());

    // On a frame smaller than 320 x 240 the binarised window stops at the
    // frame's edge.
    Image small(100, 60, 8, 10);
    EXPECT_EQ(MyProcessData(small.data(), 100, 60, 8), 0);
    EXPECT_EQ(small.at(99, 59), 0);
    EXPECT_TRUE(small.guardIntact());
}

}  // namespace
