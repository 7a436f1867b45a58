// End to end on the emulated HDMI screen: a user image in physical memory,
// shown through CPL, must come out as the display path would draw it.
#include <vector>

#include "PLTestSupport.h"
#include "VyxModel.h"

using namespace pltest;
using namespace vyxpl;

namespace {

constexpr uint32_t kUserImage = 0x32800000u;
constexpr int kWaitMs = 20000;

uint8_t Grey(int x, int y) { return static_cast<uint8_t>(x * 7 + y * 13 + (x >> 5)); }

// Puts a grey image of the given size into physical memory.
void PutImage(int nWidth, int nHeight)
{
    std::vector<uint8_t> img(static_cast<size_t>(nWidth) * nHeight);
    for (int y = 0; y < nHeight; ++y)
        for (int x = 0; x < nWidth; ++x)
            img[static_cast<size_t>(y) * nWidth + x] = Grey(x, y);
    ASSERT_TRUE(vb::writePhys(kUserImage, img.data(), img.size()));
}

uint32_t Rgb(uint8_t v) { return (uint32_t(v) << 16) | (uint32_t(v) << 8) | v; }

class PLScreen : public PLTest {
protected:
    // Shows the user image and waits until the screen shows it.
    void Show(CPL& pl, int nWidth, int nHeight) {
        const uint64_t before = vb::modelCounters().showsEvaluated;
        ASSERT_EQ(pl.ShowUserLoadData(reinterpret_cast<unsigned char*>(
                                          static_cast<uintptr_t>(kUserImage)),
                                      nWidth, nHeight, 8),
                  0);
        ASSERT_TRUE(vb::modelWaitShow(before, kWaitMs));
    }

    // Counts screen pixels differing from expect(x, y); reports the first.
    template <typename F>
    int Mismatches(F expect) {
        const std::vector<uint8_t> screen = vb::modelScreen();
        EXPECT_EQ(screen.size(), size_t(vb::kScreenWidth) * vb::kScreenHeight * 3);
        int n = 0;
        for (int y = 0; y < vb::kScreenHeight; ++y) {
            for (int x = 0; x < vb::kScreenWidth; ++x) {
                const uint8_t* p = &screen[(size_t(y) * vb::kScreenWidth + x) * 3];
                const uint32_t got = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
                const uint32_t want = expect(x, y);
                if (got != want && n++ == 0)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << got
                                  << ", expected " << want;
            }
        }
        return n;
    }
};

TEST_F(PLScreen, FullScreenGreyImageIsPixelExact)
{
    auto pl = MakePL();
    PutImage(1280, 720);
    Show(*pl, 1280, 720);
    EXPECT_EQ(Mismatches([](int x, int y) { return Rgb(Grey(x, y)); }), 0);

    // The next show goes through the other store and still shows the same.
    Show(*pl, 1280, 720);
    EXPECT_EQ(pl->m_nShowBufIndex, 0);
    EXPECT_EQ(Mismatches([](int x, int y) { return Rgb(Grey(x, y)); }), 0);
}

TEST_F(PLScreen, ScaledImagesLandInTheirWindow)
{
    auto pl = MakePL();

    // A 640 x 360 image doubled to the full screen.
    PutImage(640, 360);
    Show(*pl, 640, 360);
    EXPECT_EQ(Mismatches([](int x, int y) { return Rgb(Grey(x / 2, y / 2)); }), 0);

    // A 1280 x 720 image halved into a centred widget (lines 180..539).
    PutImage(1280, 720);
    pl->SetVideoWidgetPos(320, 180, 640, 360);
    pl->SetPosition(0, 0, 640, 360);
    Show(*pl, 1280, 720);
    EXPECT_EQ(Mismatches([](int x, int y) -> uint32_t {
                  if (x < 320 || x >= 960 || y < 180 || y > 539)
                      return 0;
                  return Rgb(Grey((x - 320) * 2, (y - 180) * 2));
              }),
              0);

    // Placed half out of the widget on the left: the right half of the image
    // fills the widget's left half.
    pl->SetPosition(-320, 0, 640, 360);
    Show(*pl, 1280, 720);
    EXPECT_EQ(Mismatches([](int x, int y) -> uint32_t {
                  if (x < 320 || x >= 640 || y < 180 || y > 539)
                      return 0;
                  return Rgb(Grey((x - 320 + 320) * 2, (y - 180) * 2));
              }),
              0);

    // Reaching below the widget: the picture stops one line short of the
    // widget's bottom (lines 180..538), unscaled vertically.
    pl->SetPosition(0, 0, 640, 720);
    Show(*pl, 1280, 720);
    EXPECT_EQ(Mismatches([](int x, int y) -> uint32_t {
                  if (x < 320 || x >= 960 || y < 180 || y > 538)
                      return 0;
                  return Rgb(Grey((x - 320) * 2, y - 180));
              }),
              0);
}

} // namespace
