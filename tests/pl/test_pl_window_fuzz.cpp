// Randomised geometry for the display window computation and everything
// built on it (scaler, HDMI channels, screen window).  Huge and negative
// placements, widgets and source sizes must give defined results: in the
// sanitizer build any overflow or bad conversion stops the test.  The seed is
// fixed, so every run checks the same inputs.
#include <algorithm>
#include <climits>
#include <random>

#include "PLTestSupport.h"

using namespace pltest;
using namespace vyxpl;

namespace {

class Geometry {
public:
    explicit Geometry(uint32_t seed) : m_rng(seed) {}

    // Edge values, plain 32-bit noise and screen-sized values in equal parts.
    int32_t Signed() {
        static const int32_t kEdges[] = {INT_MIN, INT_MIN + 4, -1000000, -1280, -4, 0, 4,
                                         716,     720,         1276,     1280,  8192, 0x7FFFFFFC,
                                         INT_MAX};
        switch (m_rng() % 3) {
        case 0: return kEdges[m_rng() % (sizeof(kEdges) / sizeof(kEdges[0]))];
        case 1: return static_cast<int32_t>(m_rng());
        default: return static_cast<int32_t>(m_rng() % 4001) - 2000;
        }
    }
    uint32_t Unsigned() { return static_cast<uint32_t>(Signed()); }

private:
    std::mt19937 m_rng;
};

// Visible width of a placement [px, px + pw) inside a widget of width ww, as
// the screen shows it: the overlap, except that a placement right of the
// widget keeps its one-column window at the right edge.
int64_t ExpectedWidth(int64_t px, int64_t pw, int64_t ww)
{
    if (px >= ww)
        return 1;
    return std::max<int64_t>(0, std::min(px + pw, ww) - std::max<int64_t>(px, 0));
}

// Visible height: the overlap, with the bottom end one line short of the
// widget's bottom when the placement reaches past it.  A placement below the
// widget leaves height 0 at its last line (1 for an empty placement that
// starts right on the widget's bottom edge).
int64_t ExpectedHeight(int64_t py, int64_t ph, int64_t wh)
{
    if (py >= wh)
        return (py + ph - 1 < wh) ? 1 : 0;
    const int64_t top = std::max<int64_t>(py, 0);
    const int64_t bottom = (py + ph > wh) ? wh - 1 : py + ph;
    return std::max<int64_t>(0, bottom - top);
}

TEST(PLWindowFuzz, WindowIsDefinedAndMatchesTheOverlap)
{
    Geometry g(0x5EED0006u);
    for (int i = 0; i < 200000; ++i) {
        const int32_t px = g.Signed(), py = g.Signed();
        const uint32_t pw = g.Unsigned(), ph = g.Unsigned();
        // A widget as SetVideoWidgetPos leaves it: on the screen, non-empty.
        const uint32_t ww = 4 + (g.Unsigned() % 1277), wh = 4 + (g.Unsigned() % 717);
        const uint32_t wx = g.Unsigned() % (1281 - ww), wy = g.Unsigned() % (721 - wh);

        const PL_SHOW_WINDOW w = CPL::ComputeShowWindow(px, py, pw, ph, wx, wy, ww, wh);
        ASSERT_LE(w.unX0, 0x3FFFu);
        ASSERT_LE(w.unX1, 0x3FFFu);
        ASSERT_LE(w.unY0, 0x3FFFu);
        ASSERT_LE(w.unY1, 0x3FFFu);
        ASSERT_GE(w.unX0, wx);
        ASSERT_LE(w.unX1, wx + ww);
        ASSERT_GE(w.unY0, wy);
        ASSERT_LE(w.unY1, wy + wh);
        ASSERT_EQ(static_cast<int64_t>(w.unX1) - w.unX0, ExpectedWidth(px, pw, ww))
            << px << " " << pw << " " << ww;
        ASSERT_EQ(static_cast<int64_t>(w.unY1) - w.unY0, ExpectedHeight(py, ph, wh))
            << py << " " << ph << " " << wh;
    }
    // Degenerate widgets (empty) only need to stay defined.
    for (int i = 0; i < 20000; ++i) {
        const PL_SHOW_WINDOW w = CPL::ComputeShowWindow(
            g.Signed(), g.Signed(), g.Unsigned(), g.Unsigned(), g.Unsigned() % 1281,
            g.Unsigned() % 721, 0, 0);
        ASSERT_LE(w.unX0 | w.unX1 | w.unY0 | w.unY1, 0x3FFFu);
    }
}

class PLWindowFuzzShow : public PLTest {};

// Any geometry an application can pass programs the scaler, the HDMI
// channels and the screen window consistently with the window.
TEST_F(PLWindowFuzzShow, AnyGeometryProgramsAConsistentPipeline)
{
    auto pl = MakePL();
    Geometry g(0x5EED0106u);
    for (int i = 0; i < 4000; ++i) {
        pl->SetVideoWidgetPos(g.Unsigned(), g.Unsigned(), g.Unsigned(), g.Unsigned());
        pl->SetPosition(g.Signed(), g.Signed(), g.Unsigned(), g.Unsigned());
        unsigned wx, wy, ww, wh;
        pl->GetVideoWidgetPos(&wx, &wy, &ww, &wh);
        ASSERT_LE(static_cast<uint64_t>(wx) + ww, 1280u);
        ASSERT_LE(static_cast<uint64_t>(wy) + wh, 720u);

        const int nW = g.Signed(), nH = g.Signed();
        const int nBits = (i & 1) ? 8 : 24;
        pl->SynchronizeScaler(nW, nH, nBits);
        pl->UpdateWriteRegofHDMI(nW, nH, nBits);
        pl->UpdateReadRegofHDMI(nW, nH, nBits);
        pl->SynchronizeShowRegofFPGA(nW, nH, nBits);

        const PL_SHOW_WINDOW w = pl->ComputeShowWindow();
        const uint32_t unWidth = (w.unX1 - w.unX0) & 0x1FFFu;
        const uint32_t unHeight = (w.unY1 - w.unY0) & 0x1FFFu;
        ASSERT_EQ(Scaler(scaler::kOutputSize), unWidth | (unHeight << 16));
        ASSERT_EQ(Hdmi(vdma::kS2mmHSize), ((w.unX1 - w.unX0) * 3u) & 0xFFFFu);
        ASSERT_EQ(Hdmi(vdma::kMm2sVSize), unHeight);
        ASSERT_EQ(Fpga(fpga::kShowWinStart), w.unX0 | (w.unY0 << 16));
        ASSERT_EQ(Scaler(scaler::kHAperture) & 0xE000E000u, 0u);
        ASSERT_EQ(Scaler(scaler::kVAperture) & 0xE000E000u, 0u);
        ASSERT_EQ(Scaler(scaler::kHShiftFactor) & 0xFF000000u, 0u);
    }
    // Restore the default geometry for whoever shows next.
    pl->SetVideoWidgetPos(0, 0, 1280, 720);
    pl->SetPosition(0, 0, 1280, 720);
    pl->SynchronizeScaler(1280, 720, 8);
}

} // namespace
