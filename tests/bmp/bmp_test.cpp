// Tests of VYXZEB_HelperSaveToBmp through the public API on the virtual
// board: the exact file layout (checked by an independent reader), every
// refusal, the folder and disk checks, and that a failed save never leaves a
// partial file nor damages an existing one.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BmpTestSupport.h"
#include "VYXZebApi.h"
#include "VyxBoard.h"

using namespace bmptest;

namespace {

std::vector<unsigned char> Pattern(int width, int height, int bits) {
    const size_t row = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
    std::vector<unsigned char> data(row * height);
    for (int r = 0; r < height; ++r)
        for (size_t c = 0; c < row; ++c) data[r * row + c] = static_cast<unsigned char>((r * 7 + c * 13) & 0xFF);
    return data;
}

struct Saved {
    int width, height, bits;
    const char* name;
};

// The independent reader's verdict on saved files, one line each (one
// interpreter start for all of them).
std::vector<std::string> Check(const std::vector<Saved>& files) {
    std::string cmd = std::string("python3 ") + VYX_BMP_CHECKER;
    for (const Saved& f : files)
        cmd += " '" + Host(f.name) + "' " + std::to_string(f.width) + " " + std::to_string(f.height) + " " +
               std::to_string(f.bits);
    std::vector<std::string> lines;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p)) {
            std::string line = buf;
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
            lines.push_back(line);
        }
        pclose(p);
    }
    return lines;
}

using BmpBeforeInit = vyxtest::BoardTest;

TEST_F(BmpBeforeInit, RefusedWhileTheLibraryIsNotInitialised) {
    // Another suite may have saved under that name: start without it.
    unlink(Host("/picture/sd/a.bmp").c_str());
    ASSERT_FALSE(Exists(Host("/picture/sd/a.bmp")));
    unsigned char pixel[4] = {};
    EXPECT_EQ(VYXZEB_RET_NOT_INITIALIZED, VYXZEB_HelperSaveToBmp(pixel, 1, 1, 8, "/picture/sd/a.bmp"));
    EXPECT_FALSE(Exists(Host("/picture/sd/a.bmp")));
}

class BmpTest : public SharedDeviceTest {
protected:
    void SetUp() override {
        SharedDeviceTest::SetUp();
        ASSERT_EQ(0, s_init);
        EmptyFolder("/picture/sd/");
        EmptyFolder("/picture/data/");
    }
    void TearDown() override {
        // Whatever happened, no temporary file stays behind.
        for (const char* folder : {"/picture/sd/", "/picture/data/"})
            for (const std::string& n : Listing(folder)) EXPECT_EQ(std::string::npos, n.find(".tmp")) << n;
        SharedDeviceTest::TearDown();
    }
};

TEST_F(BmpTest, TinyColourImageHasExactlyTheExpectedBytes) {
    // 3 x 2 pixels of 24 bits: rows of 9 bytes padded to 12, top row first.
    std::vector<unsigned char> pixels(24);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(0x10 + i);
    ASSERT_EQ(0, VYXZEB_HelperSaveToBmp(pixels.data(), 3, 2, 24, "/picture/sd/tiny.bmp"));

    const unsigned char header[54] = {
        'B', 'M', 78, 0, 0, 0,  0, 0, 0, 0,  54, 0, 0, 0,        // file header
        40, 0, 0, 0,  3, 0, 0, 0,  0xFE, 0xFF, 0xFF, 0xFF,       // size, width, -height
        1, 0,  24, 0,  0, 0, 0, 0,  24, 0, 0, 0,                  // planes, bits, compression, image size
        0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0};       // resolutions, colours
    std::string expected(reinterpret_cast<const char*>(header), sizeof header);
    expected.append(reinterpret_cast<const char*>(pixels.data()), pixels.size());
    EXPECT_EQ(expected, ReadHost(Host("/picture/sd/tiny.bmp")));
}

TEST_F(BmpTest, FilesMatchAnIndependentReader) {
    const std::vector<Saved> files = {{1280, 1024, 8, "/picture/data/frame.bmp"}, {5, 3, 8, "/picture/sd/odd.bmp"},
                                      {7, 4, 24, "/picture/sd/rgb.bmp"}, {6, 5, 32, "/picture/data/rgba.bmp"}};
    for (const Saved& f : files) {
        std::vector<unsigned char> data = Pattern(f.width, f.height, f.bits);
        ASSERT_EQ(0, VYXZEB_HelperSaveToBmp(data.data(), f.width, f.height, f.bits, f.name)) << f.name;
    }
    const std::vector<std::string> verdicts = Check(files);
    if (verdicts.empty()) GTEST_SKIP() << "python3 is not available";
    EXPECT_EQ(std::vector<std::string>(files.size(), "OK"), verdicts);
    struct stat st;
    ASSERT_EQ(0, stat(Host("/picture/data/frame.bmp").c_str(), &st));
    EXPECT_EQ(1311798, st.st_size);
}

TEST_F(BmpTest, BadArgumentsAndPathsAreRefusedWithoutAFile) {
    unsigned char pixels[64] = {};
    struct Case { unsigned char* data; int width, height, bits; const char* name; };
    const Case cases[] = {
        {nullptr, 4, 4, 8, "/picture/sd/a.bmp"},
        {pixels, 0, 4, 8, "/picture/sd/a.bmp"},
        {pixels, 4, -1, 8, "/picture/sd/a.bmp"},
        {pixels, 4, 4, 16, "/picture/sd/a.bmp"},
        {pixels, 4, 4, 8, nullptr},
        {pixels, 4, 4, 8, "/picture/sdcard/a.bmp"},
        {pixels, 4, 4, 8, "picture/sd/a.bmp"},
        // ".." would climb out of the permitted folders.
        {pixels, 4, 4, 8, "/picture/data/../../etc/a.bmp"},
        {pixels, 4, 4, 8, "/picture/sd/x/../a.bmp"},
        {pixels, 4, 4, 8, "/picture/sd/.."},
        // Sizes whose file would not fit the format's 32-bit fields.
        {pixels, 65536, 65536, 8, "/picture/sd/a.bmp"},
        {pixels, 1, INT_MAX, 8, "/picture/sd/a.bmp"},
        {pixels, INT_MAX, INT_MAX, 32, "/picture/sd/a.bmp"},
        {pixels, INT_MAX, 1, 32, "/picture/sd/a.bmp"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VYXZEB_RET_BAD_PARAMETER, VYXZEB_HelperSaveToBmp(c.data, c.width, c.height, c.bits, c.name))
            << (c.name ? c.name : "(null)") << " " << c.width << "x" << c.height << "x" << c.bits;
    EXPECT_TRUE(Listing("/picture/sd/").empty());
    EXPECT_TRUE(Listing("/picture/data/").empty());
    EXPECT_FALSE(Exists(vb::sandboxRoot() + "/etc/a.bmp"));

    // Dots that are not a parent component are ordinary names.
    EXPECT_EQ(0, VYXZEB_HelperSaveToBmp(pixels, 4, 4, 8, "/picture/sd/..a.bmp"));
    EXPECT_EQ(0, VYXZEB_HelperSaveToBmp(pixels, 4, 4, 8, "/picture/sd/./b.bmp"));
}

TEST_F(BmpTest, FolderAndDiskChecks) {
    unsigned char pixels[16] = {};
    // A sub-folder that does not exist: the file cannot be created.
    EXPECT_EQ(VYXZEB_RET_FAILED, VYXZEB_HelperSaveToBmp(pixels, 4, 4, 8, "/picture/data/new/x.bmp"));
    ASSERT_EQ(0, mkdir(Host("/picture/data/new").c_str(), 0755));
    EXPECT_EQ(0, VYXZEB_HelperSaveToBmp(pixels, 4, 4, 8, "/picture/data/new/x.bmp"));

    // Free space must exceed the file size (1078 + 16 bytes here); the board
    // reports free space in whole blocks.
    struct statfs fs;
    ASSERT_EQ(0, statfs(Host("/picture/sd").c_str(), &fs));
    const uint64_t fileBytes = 1094;
    vb::setFakeFreeSpace(fileBytes);
    EXPECT_EQ(VYXZEB_RET_FAILED, VYXZEB_HelperSaveToBmp(pixels, 4, 4, 8, "/picture/sd/full.bmp"));
    EXPECT_FALSE(Exists(Host("/picture/sd/full.bmp")));
    vb::setFakeFreeSpace(fileBytes + static_cast<uint64_t>(fs.f_bsize));
    EXPECT_EQ(0, VYXZEB_HelperSaveToBmp(pixels, 4, 4, 8, "/picture/sd/full.bmp"));
    // At the byte, with storage that counts in blocks of one and two bytes:
    // exactly the file's size is not enough, one byte more is.
    vb::setFakeFreeSpace(fileBytes, 2);
    EXPECT_EQ(VYXZEB_RET_FAILED, VYXZEB_HelperSaveToBmp(pixels, 4, 4, 8, "/picture/sd/edge.bmp"));
    EXPECT_FALSE(Exists(Host("/picture/sd/edge.bmp")));
    vb::setFakeFreeSpace(fileBytes + 1, 1);
    EXPECT_EQ(0, VYXZEB_HelperSaveToBmp(pixels, 4, 4, 8, "/picture/sd/edge.bmp"));
    vb::setFakeFreeSpace(8ULL << 30);  // more than 32 bits can count
    EXPECT_EQ(0, VYXZEB_HelperSaveToBmp(pixels, 4, 4, 8, "/picture/sd/big.bmp"));
    vb::clearFakeFreeSpace();

    // The storage folder itself replaced by a plain file.
    const std::string sd = Host("/picture/sd");
    ASSERT_EQ(0, rename(sd.c_str(), (sd + ".away").c_str()));
    WriteHost(sd, "not a folder");
    EXPECT_EQ(VYXZEB_RET_FAILED, VYXZEB_HelperSaveToBmp(pixels, 4, 4, 8, "/picture/sd/x.bmp"));
    unlink(sd.c_str());
    EXPECT_EQ(VYXZEB_RET_FAILED, VYXZEB_HelperSaveToBmp(pixels, 4, 4, 8, "/picture/sd/x.bmp"));
    ASSERT_EQ(0, rename((sd + ".away").c_str(), sd.c_str()));
}

TEST_F(BmpTest, ASymbolicLinkAtTheNameIsReplacedNotFollowed) {
    const std::string victim = Host("/picture/data/victim.txt");
    WriteHost(victim, "keep me");
    ASSERT_EQ(0, symlink(victim.c_str(), Host("/picture/sd/link.bmp").c_str()));
    std::vector<unsigned char> data = Pattern(8, 8, 8);
    ASSERT_EQ(0, VYXZEB_HelperSaveToBmp(data.data(), 8, 8, 8, "/picture/sd/link.bmp"));
    EXPECT_EQ("keep me", ReadHost(victim));
    struct stat st;
    ASSERT_EQ(0, lstat(Host("/picture/sd/link.bmp").c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(1078 + 64, st.st_size);
}

// A folder on the way to the name that is a link could lead anywhere: such
// names are refused like those with "..", and nothing appears where the link
// points.
TEST_F(BmpTest, ANameThroughAFolderLinkIsRefused) {
    const std::string outside = vb::sandboxRoot() + "/elsewhere";
    ASSERT_EQ(0, mkdir(outside.c_str(), 0755));
    ASSERT_EQ(0, symlink(outside.c_str(), Host("/picture/sd/away").c_str()));
    ASSERT_EQ(0, mkdir(Host("/picture/data/real").c_str(), 0755));
    ASSERT_EQ(0, symlink(Host("/picture/data/real").c_str(), Host("/picture/data/real/loop").c_str()));
    std::vector<unsigned char> data = Pattern(8, 8, 8);
    for (const char* name : {"/picture/sd/away/a.bmp", "/picture/sd/away//a.bmp", "/picture/data/real/loop/a.bmp"})
        EXPECT_EQ(VYXZEB_RET_BAD_PARAMETER, VYXZEB_HelperSaveToBmp(data.data(), 8, 8, 8, name)) << name;
    EXPECT_FALSE(Exists(outside + "/a.bmp"));
    EXPECT_FALSE(Exists(Host("/picture/data/real/a.bmp")));
    // A real sub-folder is fine.
    EXPECT_EQ(0, VYXZEB_HelperSaveToBmp(data.data(), 8, 8, 8, "/picture/data/real/a.bmp"));
    unlink(Host("/picture/sd/away").c_str());
    rmdir(outside.c_str());
}

// A write that fails part-way (here the file-size limit of the process, as a
// full card would) reports -1001, leaves an existing file as it was and no
// partial file anywhere; the next save replaces the file.
TEST_F(BmpTest, AFailedWriteLeavesTheExistingFileUntouched) {
    const std::string target = Host("/picture/sd/frame.bmp");
    WriteHost(target, "previous frame");
    std::vector<unsigned char> data = Pattern(1280, 1024, 8);

    rlimit saved = {};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    const int ret = VYXZEB_HelperSaveToBmp(data.data(), 1280, 1024, 8, "/picture/sd/frame.bmp");
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(VYXZEB_RET_FAILED, ret);
    EXPECT_EQ("previous frame", ReadHost(target));
    EXPECT_EQ(std::vector<std::string>{"frame.bmp"}, Listing("/picture/sd/"));

    ASSERT_EQ(0, VYXZEB_HelperSaveToBmp(data.data(), 1280, 1024, 8, "/picture/sd/frame.bmp"));
    EXPECT_EQ(1311798u, ReadHost(target).size());
}

}  // namespace
