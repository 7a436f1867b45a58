// What the camera looks at: sequences of pictures played frame by frame or
// at a picture rate, the moving scene's square where its speed puts it, the
// frame stamp switched off, and scenes that cannot be read.  Frames are
// software-triggered at the start-up settings (25 ms, unit gain), which
// deliver the scene unchanged.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "ModelTestSupport.h"

namespace modeltest {
namespace {

constexpr uint32_t kFrame = 1280u * 1024;
constexpr int kRow = vb::kMovingSquareY + vb::kMovingSquareSide / 2;  // a row through the square

void writeFlatPng(const std::string& path, uint8_t value) {
    ASSERT_TRUE(writeGreyPng(path, 1, 1, &value)) << path;
}

class Scenes : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        char templ[] = "/tmp/vyx-scene-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
    }
    void TearDown() override {
        ModelTest::TearDown();
        std::string cmd = "rm -rf '" + dir + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    // One full frame; its pixel (x, y).
    std::vector<uint8_t> frame() {
        std::vector<uint8_t> f = board.captureFrame(1280, 1024);
        EXPECT_EQ(f.size(), kFrame);
        if (f.size() != kFrame) f.assign(kFrame, 0);
        return f;
    }
    static int at(const std::vector<uint8_t>& f, int x, int y) {
        return f[static_cast<size_t>(y) * 1280 + x];
    }
    // Counter of the last frame the sensor produced.
    static uint32_t lastStamp() { return static_cast<uint32_t>(vb::modelCounters().framesExposed); }
    // The board's record of frame `counter`.
    static bool logged(uint32_t counter, vb::ModelFrame& out) {
        for (const vb::ModelFrame& f : vb::modelFrames())
            if (f.counter == counter) return out = f, true;
        return false;
    }
    std::string dir;
};

TEST_F(Scenes, AFolderIsPlayedInNameOrderOnePicturePerFrameAndLoops) {
    writeFlatPng(dir + "/b.png", 180);
    writeFlatPng(dir + "/a.png", 40);
    writeFlatPng(dir + "/c.PNG", 110);
    std::ofstream(dir + "/notes.txt") << "not a picture";
    ASSERT_TRUE(vb::modelLoadScene(dir));
    for (int expected : {40, 180, 110, 40, 180})
        EXPECT_EQ(at(frame(), 500, 500), expected);
}

TEST_F(Scenes, AtAPictureRateTheSequenceFollowsTheBoardsClock) {
    writeFlatPng(dir + "/0.png", 40);
    writeFlatPng(dir + "/1.png", 180);
    ASSERT_TRUE(vb::modelLoadScene(dir));
    // One picture per 10 s: frames a few periods apart all show picture 0.
    vb::modelSetSceneFps(0.1);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(at(frame(), 500, 500), 40);
    // A high rate: the picture follows each frame's time, picture
    // floor(rate * t) from the first frame of the sequence.
    vb::modelSetSceneFps(1000);
    const uint32_t first = lastStamp();
    for (int k = 0; k < 6; ++k) {
        const std::vector<uint8_t> f = frame();
        vb::ModelFrame start, self;
        ASSERT_TRUE(logged(first + 1, start) && logged(stampOf(f.data()), self));
        const int64_t picture = (self.doneNs - start.doneNs) / 1000000;  // 1000 per second
        EXPECT_EQ(at(f, 500, 500), picture % 2 == 0 ? 40 : 180) << "frame " << k;
    }
}

TEST_F(Scenes, TheMovingSquareIsWhereItsSpeedPutsItAfterNFrames) {
    ASSERT_TRUE(vb::modelLoadScene("moving"));
    for (int k = 0; k < 4; ++k) {
        const std::vector<uint8_t> f = frame();
        const int left = (vb::kMovingSquareX0 + k * vb::kMovingSquareSpeed) % 1280;
        EXPECT_NE(at(f, left - 1, kRow), vb::kMovingSquareValue) << "picture " << k;
        for (int x = left; x < left + vb::kMovingSquareSide; ++x)
            ASSERT_EQ(at(f, x, kRow), vb::kMovingSquareValue) << "picture " << k << " x " << x;
        EXPECT_NE(at(f, left + vb::kMovingSquareSide, kRow), vb::kMovingSquareValue) << "picture " << k;
        // Above the square the textured background shows.
        EXPECT_NE(at(f, left, vb::kMovingSquareY - 1), vb::kMovingSquareValue);
        EXPECT_NE(at(f, left, vb::kMovingSquareY - 1), at(f, left + 32, vb::kMovingSquareY - 1));
    }
}

TEST_F(Scenes, WithoutTheStampTheFirstBytesAreTheScene) {
    std::vector<uint8_t> f = frame();
    uint32_t counter = 0;
    EXPECT_TRUE(vb::modelFrameCounter(f.data(), &counter));
    vb::modelSetStamp(false);
    f = frame();
    EXPECT_FALSE(vb::modelFrameCounter(f.data(), &counter));
    for (int x = 0; x < vb::kFrameStampBytes; ++x)
        EXPECT_EQ(at(f, x, 0), vb::modelPatternValue(x, 0)) << x;
    // Frames are still counted by the PL.
    EXPECT_GT(vb::modelCounters().lastFrameCounter, 0u);
}

TEST_F(Scenes, AnUnreadableSceneLeavesTheSceneAsItWas) {
    writeFlatPng(dir + "/flat.png", 90);
    ASSERT_TRUE(vb::modelLoadScene(dir + "/flat.png"));
    std::ofstream(dir + "/broken.png") << "not a picture";
    mkdir((dir + "/empty").c_str(), 0755);
    for (const std::string& bad : {dir + "/missing.png", dir + "/broken.png", dir + "/empty", std::string()})
        EXPECT_FALSE(vb::modelLoadScene(bad)) << bad;
    EXPECT_EQ(at(frame(), 500, 500), 90);
    // A folder's unreadable pictures are left out; the rest plays.
    writeFlatPng(dir + "/empty/1.png", 30);
    std::ofstream(dir + "/empty/2.png") << "not a picture";
    writeFlatPng(dir + "/empty/3.png", 70);
    ASSERT_TRUE(vb::modelLoadScene(dir + "/empty"));
    for (int expected : {30, 70, 30})
        EXPECT_EQ(at(frame(), 500, 500), expected);
}

}  // namespace
}  // namespace modeltest
