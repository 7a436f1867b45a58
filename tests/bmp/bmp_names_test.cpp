// Names as the BMP writer judges them: which files in a picture folder it
// takes for temporary files that an ended process left behind, and removes
// (only names of its own form whose process id names an ended process: a
// user's file that merely resembles one, or whose number does not fit a
// process id, stays), and which folders on the way to an image it accepts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BmpTestSupport.h"
#include "VYXZebApi.h"

using namespace bmptest;

namespace {

constexpr int kSide = 8;

class BmpNames : public SharedDeviceTest {
protected:
    void SetUp() override {
        ASSERT_EQ(0, s_init);
        EmptyFolder("/picture/data/");
    }
    void TearDown() override { EmptyFolder("/picture/data/"); }
    int Save(const char* pszName) {
        std::vector<unsigned char> pixels(kSide * kSide, 0x3C);
        return VYXZEB_HelperSaveToBmp(pixels.data(), kSide, kSide, 8, pszName);
    }
};

TEST_F(BmpNames, NamesThatOnlyResembleTheWritersStay) {
    const std::string dead = std::to_string(EndedProcess());
    // The ended process's id plus 2^32 and plus 10 * 2^32: cut to 32 bits
    // (or wrapped in a 32-bit long) they would name the ended process.
    const unsigned long long ullDead = std::stoull(dead);
    const std::string wraps = std::to_string(ullDead + (1ULL << 32));
    const std::string wrapsFar = std::to_string(ullDead + (10ULL << 32));
    const std::vector<std::string> kept = {
        ".vyxbmp-.tmp",                          // nothing between prefix and suffix
        ".vyxbmp-" + dead + ".tmp",              // no '-' after the number
        ".vyxbmp-" + dead + "x-0badf00d-0.tmp",  // not a number
        ".vyxbmp-0-0badf00d-0.tmp",              // 0 is no process (kill would reach the group)
        ".vyxbmp-" + wraps + "-0badf00d-0.tmp",  // beyond any process id
        ".vyxbmp-" + wrapsFar + "-0badf00d-0.tmp",
        ".vyxbmp-" + dead + "-0badf00d-0.tm",  // another suffix
        "vyxbmp-" + dead + "-0badf00d-0.tmp",  // another prefix
    };
    const std::string stale = ".vyxbmp-" + dead + "-0badf00d-0.tmp";
    for (const std::string& n : kept)
        WriteHost(Host("/picture/data/" + n), "user's");
    WriteHost(Host("/picture/data/" + stale), "left behind");

    ASSERT_EQ(0, Save("/picture/data/frame.bmp"));
    std::vector<std::string> expected = kept;
    expected.push_back("frame.bmp");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, Listing("/picture/data/"));
    for (const std::string& n : kept)
        EXPECT_EQ("user's", ReadHost(Host("/picture/data/" + n))) << n;
}

// A component that merely starts with a dot, or with two, is a name like
// any other; only ".." itself climbs.  A folder that does not exist fails
// the save without creating it.
TEST_F(BmpNames, DottedFoldersAreFoldersAndMissingOnesAreNotMade) {
    for (const char* folder : {".a", "a.", "..a", "..."}) {
        SCOPED_TRACE(folder);
        const std::string path = std::string("/picture/data/") + folder + "/";
        ASSERT_EQ(0, mkdir(Host(path).c_str(), 0755));
        EXPECT_EQ(0, Save((path + "x.bmp").c_str()));
        EXPECT_EQ(std::vector<std::string>{"x.bmp"}, Listing(path));
    }
    EXPECT_EQ(VYXZEB_RET_BAD_PARAMETER, Save("/picture/data/.a/../x.bmp"));
    EXPECT_EQ(VYXZEB_RET_FAILED, Save("/picture/data/none/x.bmp"));
    EXPECT_EQ(VYXZEB_RET_FAILED, Save("/picture/data/none/deeper/x.bmp"));
    EXPECT_FALSE(Exists(Host("/picture/data/none")));
    EXPECT_FALSE(Exists(Host("/picture/data/x.bmp")));
}

}  // namespace
