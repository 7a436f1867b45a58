// BrightnessMap.h - the sensor's analogue chain on a row of binned grey
// values: every value v leaves the chip as
//     min(255, floor(v * k + 0.5))
// where k is the frame's brightness (exposure / 25 ms * gain * light,
// SensorModel.h).
//
// The exact answer for each of the 256 values is a table, but a table costs
// one dependent load per pixel, and a fresh frame of a fast window must be
// rendered in a small part of its frame period.  Most brightness factors
// have the same mapping in fixed-point arithmetic that the compiler turns
// into vector code (16 pixels per step):
//   Copy      k = 1: the value itself
//   Fraction  k < 1: (v * m + 2^15) >> 16 with a 16-bit m (16 x 16 -> 32 bit
//             products, their high half rounded)
//   Gain      1 < k < 256: the same with a 24-bit m, saturating at 255
// A form is used only when it gives the table's value for every v, which is
// checked when the map is made; otherwise the table is used.  Frames are
// therefore the same byte for byte whichever form renders them.
#ifndef VYX_MODEL_BRIGHTNESS_MAP_H
#define VYX_MODEL_BRIGHTNESS_MAP_H

#include <cstdint>

namespace vb {
namespace model {

class BrightnessMap {
public:
    enum class Form { Copy, Fraction, Gain, Table };

    // k: the brightness factor; not finite or not positive gives black.
    explicit BrightnessMap(double k);

    uint8_t operator()(uint8_t v) const { return m_table[v]; }
    // dst[i] = map(src[i]) for n pixels; src and dst do not overlap.
    void apply(const uint8_t* src, uint8_t* dst, int n) const;
    Form form() const { return m_form; }

private:
    bool matches(Form form, uint32_t mul) const;

    uint8_t m_table[256];
    Form m_form = Form::Table;
    uint32_t m_mul = 0;
};

}  // namespace model
}  // namespace vb

#endif
