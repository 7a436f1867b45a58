// The scaler's apertures for placements outside the widget and for products
// beyond the 32-bit range: converted as the board's ARM core converts
// floats, saturating (unsigned conversions stop at 0 and 0xFFFFFFFF, the
// signed one at the int32 limits) instead of wrapping.
#include <climits>

#include "PLTestSupport.h"

using namespace pltest;
using namespace vyxpl;

namespace {

class PLScalerApertures : public PLTest {};

TEST_F(PLScalerApertures, PlacementsOutsideTheWidgetSaturateAtZero)
{
    auto pl = MakePL(); // full-screen widget
    struct Case {
        int px, py;
        unsigned pw, ph;
        uint32_t unH, unV;
    };
    const Case cases[] = {
        // Right of the widget: first column 0, last column -1 (0x1FFF).
        {1280, 0, 1280, 720, 0x1FFF0000u, 0x04000000u},
        // Far right: the last column stays signed, -3720 - 1 in 13 bits.
        {5000, 0, 1280, 720, static_cast<uint32_t>((-3721) & 0x1FFF) << 16, 0x04000000u},
        // Below the widget: first and end line 0.
        {0, 720, 1280, 720, 0x04FF0000u, 0u},
        {0, 100000, 1280, 720, 0x04FF0000u, 0u},
    };
    for (const Case& c : cases) {
        pl->SetPosition(c.px, c.py, c.pw, c.ph);
        pl->SynchronizeScaler(1280, 1024, 8);
        EXPECT_EQ(Scaler(scaler::kHAperture), c.unH) << c.px << "," << c.py;
        EXPECT_EQ(Scaler(scaler::kVAperture), c.unV) << c.px << "," << c.py;
    }
}

TEST_F(PLScalerApertures, ProductsBeyondTheIntegerRangeSaturate)
{
    auto pl = MakePL();
    // Nothing visible, the window starts 2^31 columns into the placement:
    // x 320 gives 6.9e11, 0xFFFFFFFF unsigned and INT_MAX signed.
    pl->SetPosition(INT_MIN, 0, 4, 720);
    pl->SynchronizeScaler(1280, 1024, 8);
    EXPECT_EQ(Scaler(scaler::kHAperture), 0x1FFFu | (0x1FFEu << 16));

    // x 1.28 gives 2748779008: in the unsigned range (low bits 0x0A00), past
    // the signed one (INT_MAX - 1 = 0x...1FFE).
    pl->SetPosition(INT_MIN, 0, 1000, 720);
    pl->SynchronizeScaler(1280, 1024, 8);
    EXPECT_EQ(Scaler(scaler::kHAperture), 0x0A00u | (0x1FFEu << 16));

    pl->SetPosition(0, 0, 1280, 720);
    pl->SynchronizeScaler(1280, 1024, 8);
}

} // namespace
