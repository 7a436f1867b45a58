// The tool's file handling on its own: frame-name patterns, number forms,
// the picture codecs (round trips, and pictures written by other programs'
// conventions), whole-or-nothing files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "AtomicFile.h"
#include "Errors.h"
#include "FramePattern.h"
#include "ImageFile.h"
#include "Parse.h"
#include "TestSupport.h"

namespace {

using namespace vyxcam;
using vyxtest::ReadFile;
using vyxtest::TempDir;

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// A picture whose every byte differs from its neighbours'.
Image Pattern(int width, int height, int channels)
{
    Image img;
    img.width = width;
    img.height = height;
    img.channels = channels;
    for (int i = 0; i < width * height * channels; ++i) img.pixels.push_back(static_cast<uint8_t>(i * 7 + i / 5));
    return img;
}

TEST(FramePatternTest, NumbersFramesWithThePatternsFlagsAndWidth)
{
    std::string error;
    const auto p = FramePattern::parse("frame-%04d.png", &error);
    ASSERT_TRUE(p) << error;
    EXPECT_TRUE(p->numbered());
    EXPECT_EQ(p->name(0), "frame-0000.png");
    EXPECT_EQ(p->name(12345), "frame-12345.png");
    EXPECT_EQ(FramePattern::parse("100%%-%-3i|", &error)->name(7), "100%-7  |");
    const auto plain = FramePattern::parse("shot.bmp", &error);
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->numbered());
    EXPECT_EQ(plain->name(3), "shot.bmp");
}

TEST(FramePatternTest, RefusesWhatPrintfWouldMisread)
{
    for (const char* bad : {"%s.png", "a-%d-%d.png", "%", "x%", "%x.png", "%.3d", "%+d", "%123d", "%ld", ""}) {
        std::string error;
        EXPECT_FALSE(FramePattern::parse(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(ParseTest, DecimalOnlyWithinTheLimit)
{
    EXPECT_EQ(parseUnsigned("0", 10), 0ul);
    EXPECT_EQ(parseUnsigned("010", 10), 10ul);
    EXPECT_EQ(parseUnsigned("4294967295", 4294967295ul), 4294967295ul);
    for (const char* bad : {"", "-1", "+1", "0x10", " 1", "1 ", "1e3", "11"})
        EXPECT_FALSE(parseUnsigned(bad, 10)) << bad;
    EXPECT_FALSE(parseUnsigned("18446744073709551616", ~0ul));
    EXPECT_EQ(parseNonNegative("2.5"), 2.5);
    EXPECT_EQ(parseNonNegative(".5"), 0.5);
    EXPECT_EQ(parseNonNegative("10"), 10.0);
    for (const char* bad : {"", ".", "-1", "1e3", "nan", "inf", "1.2.3", "1,5"}) EXPECT_FALSE(parseNonNegative(bad)) << bad;
    const auto list = parseUnsignedList("1,22,333,4", 4, 1000);
    ASSERT_TRUE(list);
    EXPECT_EQ(*list, (std::vector<unsigned long>{1, 22, 333, 4}));
    for (const char* bad : {"1,2,3", "1,2,3,4,5", "1,,3,4", "1,2,3,", "1,2,3,1001"})
        EXPECT_FALSE(parseUnsignedList(bad, 4, 1000)) << bad;
}

TEST(ImageFileTest, FormatsAreKnownByNameAndExtension)
{
    EXPECT_EQ(formatFromName("bmp"), ImageFormat::Bmp);
    EXPECT_FALSE(formatFromName("BMP"));
    EXPECT_EQ(formatFromPath("a/b.PNG"), ImageFormat::Png);
    EXPECT_EQ(formatFromPath("x.ppm"), ImageFormat::Pgm);
    EXPECT_EQ(formatFromPath("x.raw"), ImageFormat::Raw);
    EXPECT_FALSE(formatFromPath("dir.png/frame"));
    EXPECT_FALSE(formatFromPath("frame"));
}

// Every readable format gives back exactly what was written, grey and
// colour, at widths that need row padding in a bitmap.
TEST(ImageFileTest, RoundTripsGreyAndColourExactly)
{
    TempDir dir;
    for (ImageFormat format : {ImageFormat::Png, ImageFormat::Bmp, ImageFormat::Pgm}) {
        for (int channels : {1, 3}) {
            SCOPED_TRACE(std::string(formatName(format)) + " channels " + std::to_string(channels));
            const Image img = Pattern(13, 5, channels);
            const std::string path = dir.path() + "/pic." + formatName(format);
            writeImageFile(path, format, img.view());
            const Image back = readImageFile(path);
            EXPECT_EQ(back.width, 13);
            EXPECT_EQ(back.height, 5);
            EXPECT_EQ(back.channels, channels);
            EXPECT_EQ(back.pixels, img.pixels);
        }
    }
}

TEST(ImageFileTest, WritersTakeRowsAtAnyStride)
{
    TempDir dir;
    // 3 x 2 grey inside rows of 8 bytes.
    const std::vector<uint8_t> mem = {1, 2, 3, 99, 99, 99, 99, 99, 4, 5, 6, 99, 99, 99, 99, 99};
    const ImageView view{mem.data(), 3, 2, 8, 1};
    writeImageFile(dir.path() + "/f.raw", ImageFormat::Raw, view);
    EXPECT_EQ(ReadFile(dir.path() + "/f.raw"), std::string("\1\2\3\4\5\6", 6));
    writeImageFile(dir.path() + "/f.pgm", ImageFormat::Pgm, view);
    EXPECT_EQ(ReadFile(dir.path() + "/f.pgm"), std::string("P5\n3 2\n255\n\1\2\3\4\5\6", 17));
}

TEST(ImageFileTest, BitmapLayoutIsTopDownWithAGreyRamp)
{
    TempDir dir;
    const Image img = Pattern(3, 2, 1);
    writeImageFile(dir.path() + "/g.bmp", ImageFormat::Bmp, img.view());
    const std::string f = ReadFile(dir.path() + "/g.bmp");
    ASSERT_EQ(f.size(), 1078u + 2 * 4);
    EXPECT_EQ(f.substr(0, 2), "BM");
    EXPECT_EQ(static_cast<uint8_t>(f[10]) | static_cast<uint8_t>(f[11]) << 8, 1078);
    EXPECT_EQ(static_cast<uint8_t>(f[25]), 0xFF) << "negative height: top row first";
    EXPECT_EQ(f.substr(54 + 4 * 200, 4), std::string(4, static_cast<char>(200)));
    EXPECT_EQ(static_cast<uint8_t>(f[1078]), img.pixels[0]);
    EXPECT_EQ(f[1078 + 3], 0) << "padding";
    EXPECT_EQ(static_cast<uint8_t>(f[1078 + 4]), img.pixels[3]);
}

std::string Le(uint32_t v, int bytes)
{
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
}

std::string BmpHeader(int width, int height, int bits, uint32_t dataOffset, uint32_t colours)
{
    return "BM" + Le(0, 4) + Le(0, 4) + Le(dataOffset, 4) + Le(40, 4) + Le(static_cast<uint32_t>(width), 4) +
           Le(static_cast<uint32_t>(height), 4) + Le(1, 2) + Le(static_cast<uint32_t>(bits), 2) + Le(0, 4) +
           Le(0, 4) + Le(0, 4) + Le(0, 4) + Le(colours, 4) + Le(0, 4);
}

TEST(ImageFileTest, ReadsBottomUpAndPalettedBitmaps)
{
    TempDir dir;
    // 2 x 2, 24 bits, bottom row first, rows padded to 8 bytes.
    const std::string bottomUp = BmpHeader(2, 2, 24, 54, 0) + std::string("\1\2\3\4\5\6\0\0", 8) +
                                 std::string("\7\10\11\12\13\14\0\0", 8);
    WriteBytes(dir.path() + "/bu.bmp", bottomUp);
    const Image a = readImageFile(dir.path() + "/bu.bmp");
    ASSERT_EQ(a.channels, 3);
    EXPECT_EQ(a.pixels, (std::vector<uint8_t>{7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6}));

    // 2 x 1, 8 bits, a two-entry colour palette: colour out.
    const std::string paletted = BmpHeader(2, -1, 8, 54 + 8, 2) + std::string("\1\2\3\0\4\5\6\0", 8) +
                                 std::string("\1\0\0\0", 4);
    WriteBytes(dir.path() + "/p.bmp", paletted);
    const Image b = readImageFile(dir.path() + "/p.bmp");
    ASSERT_EQ(b.channels, 3);
    EXPECT_EQ(b.pixels, (std::vector<uint8_t>{4, 5, 6, 1, 2, 3}));
}

TEST(ImageFileTest, ReadsSixteenBitPgmAndColourPpm)
{
    TempDir dir;
    WriteBytes(dir.path() + "/w.pgm", std::string("P5 # comment\n2 1\n65535\n\xFF\xFF\x00\x00", 27));
    EXPECT_EQ(readImageFile(dir.path() + "/w.pgm").pixels, (std::vector<uint8_t>{255, 0}));
    WriteBytes(dir.path() + "/c.ppm", std::string("P6\n1 1\n255\n\x10\x20\x30", 14));
    const Image c = readImageFile(dir.path() + "/c.ppm");
    ASSERT_EQ(c.channels, 3);
    EXPECT_EQ(c.pixels, (std::vector<uint8_t>{0x30, 0x20, 0x10})) << "B, G, R in memory";
}

TEST(ImageFileTest, BrokenPicturesAreRefusedWithTheirName)
{
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> broken = {
        {"short.bmp", BmpHeader(4, 4, 8, 1078, 0)},                          // no palette, no rows
        {"big.bmp", BmpHeader(100000, 100000, 24, 54, 0)},                   // larger than any picture
        {"rle.bmp", BmpHeader(1, 1, 4, 54, 0) + std::string(8, '\0')},       // 4 bits
        {"cut.pgm", "P5\n4 4\n255\nab"},
        {"maxval.pgm", "P5\n1 1\n0\n\1"},
        {"text.png", "just text"},
        {"trunc.png", std::string("\x89PNG\r\n\x1a\n", 8)},
    };
    for (const auto& b : broken) {
        WriteBytes(dir.path() + "/" + b.first, b.second);
        try {
            readImageFile(dir.path() + "/" + b.first);
            ADD_FAILURE() << b.first << " was read";
        } catch (const RunError& e) {
            EXPECT_NE(std::string(e.what()).find(b.first), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(readImageFile(dir.path() + "/missing.png"), RunError);
}

TEST(AtomicFileTest, TargetAppearsOnlyWhole)
{
    TempDir dir;
    const std::string target = dir.path() + "/t.txt";
    WriteBytes(target, "old");
    {
        AtomicFile f(target);
        f.write("new content", 11);
        EXPECT_EQ(ReadFile(target), "old") << "not yet committed";
    }   // dropped: the old file stays, the temporary file goes
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_FALSE(Exists(dir.path() + "/.t.txt.tmp-" + std::to_string(getpid()) + "-0"));
    {
        AtomicFile f(target);
        f.write("new", 3);
        f.commit();
    }
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_FALSE(Exists(dir.path() + "/.t.txt.tmp-" + std::to_string(getpid()) + "-0"));
    EXPECT_THROW(AtomicFile(dir.path() + "/no/such/folder/x"), RunError);
}

TEST(AtomicFileTest, LeftoversOfAKilledRunDoNotBlockTheNextName)
{
    TempDir dir;
    const std::string target = dir.path() + "/t.txt";
    WriteBytes(dir.path() + "/.t.txt.tmp-" + std::to_string(getpid()) + "-0", "left over");
    AtomicFile f(target);
    f.write("x", 1);
    f.commit();
    EXPECT_EQ(ReadFile(target), "x");
    unlink((dir.path() + "/.t.txt.tmp-" + std::to_string(getpid()) + "-0").c_str());
}

}  // namespace
