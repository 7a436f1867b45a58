// SensorImage.h - how the chip forms the delivered image from the scene in
// front of the lens (steps 1 to 5 of the optics in SensorModel.h): which
// array pixels each delivered pixel averages, given the window, the address
// modes, halving, trimming, mirror and flip, and how the analogue chain
// scales the average (BrightnessMap.h).
//
// The chip does this for every pixel of every frame; the model works out
// the geometry once per setting (a SensorImage) and then renders rows by
// their kind:
//   run       one array pixel per delivered pixel, in order: the scene's
//             row is mapped as it stands (a few vector instructions per 16
//             pixels);
//   reversed  the same, mirrored: mapped, then reversed eight bytes at a
//             time;
//   gathered  one array pixel each, in any order (a window that reaches
//             past the array's edge, say): gathered first, then mapped;
//   binned    several array pixels each: the rows of the block are summed
//             column by column, then each delivered pixel adds its columns'
//             sums and divides by the pixel count, by a multiply with an
//             exact reciprocal.
// Every kind gives the same bytes as averaging each pixel's block on its
// own, rounded to nearest.
#ifndef VYX_MODEL_SENSOR_IMAGE_H
#define VYX_MODEL_SENSOR_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "BrightnessMap.h"
#include "Scene.h"
#include "SensorModel.h"

namespace vb {
namespace model {

class SensorImage {
public:
    // The image of `readout`, its brightness times `light`.
    SensorImage(const SensorReadout& readout, double light);

    int width() const { return m_width; }
    int height() const { return m_height; }

    // Renders lines [firstLine, firstLine + lines) of the image into dst:
    // pixel (x, y) goes to dst[(y - firstLine) * dstStride + x] for
    // x < dstWidth; pixels beyond the image are black.  Only the rows and
    // columns of the scene's picture that the window covers are read.
    void render(ScenePicture& scene, uint8_t* dst, int dstWidth, int firstLine, int lines, size_t dstStride);

    // Array span [first, end) that a delivered pixel averages along one axis
    // (empty where the window lies past the array).
    struct Span {
        int first, end;
        int size() const { return end - first; }
    };

private:
    enum class Columns { Run, Reversed, Gathered, Binned };

    static Columns columnsKind(const std::vector<Span>& cols);
    void prepareBinning();
    void renderRow(ScenePicture& scene, const Span& rows, uint8_t* line, int w);
    void sumColumns(ScenePicture& scene, const Span& rows);
    void averageColumns(int rowCount, int w);

    int m_width = 0, m_height = 0;
    bool m_flip = false;
    BrightnessMap m_map;
    std::vector<Span> m_rowSpans;  // per delivered row, in the array's order
    std::vector<Span> m_colSpans;  // per delivered column, mirror applied
    Columns m_columns = Columns::Run;
    int m_colFirst = 0, m_colEnd = 0;    // array columns the image reads
    std::vector<uint8_t> m_values;       // a row before the brightness map
    std::vector<uint16_t> m_sums;        // column sums of a binned row
    std::vector<uint64_t> m_reciprocal;  // 2^40 / count + 1, by pixel count
};

}  // namespace model
}  // namespace vb

#endif
