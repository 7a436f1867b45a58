// MovingScene.cpp - the built-in moving scene (see MovingScene.h).
#include "MovingScene.h"

#include <cstring>
#include <vector>

#include "SensorModel.h"

namespace vb {
namespace model {
namespace moving {

namespace {

// The background is the same in every picture: made once.
const std::vector<uint8_t>& backgroundPicture() {
    static const std::vector<uint8_t> picture = [] {
        std::vector<uint8_t> p(static_cast<size_t>(kArrayColumns) * kArrayRows);
        for (int y = 0; y < kArrayRows; ++y)
            for (int x = 0; x < kArrayColumns; ++x)
                p[static_cast<size_t>(y) * kArrayColumns + x] = background(x, y);
        return p;
    }();
    return picture;
}

int wrap(uint64_t start, uint64_t index, int speed, int size) {
    return static_cast<int>((start + index % static_cast<uint64_t>(size) * static_cast<uint64_t>(speed)) %
                            static_cast<uint64_t>(size));
}

}  // namespace

uint8_t background(int x, int y) {
    return static_cast<uint8_t>(64 + 32 * (((x / 32) + (y / 32)) & 1) + ((x ^ y) & 7));
}

void drawPicture(uint64_t index, uint8_t* scene) {
    std::memcpy(scene, backgroundPicture().data(), backgroundPicture().size());
    const int discY = wrap(kDiscY0, index, kDiscSpeed, kArrayRows);
    for (int dy = -kDiscRadius; dy <= kDiscRadius; ++dy) {
        const int y = (discY + dy + kArrayRows) % kArrayRows;
        for (int dx = -kDiscRadius; dx <= kDiscRadius; ++dx)
            if (dx * dx + dy * dy <= kDiscRadius * kDiscRadius)
                scene[static_cast<size_t>(y) * kArrayColumns + kDiscX + dx] = kDiscValue;
    }
    const int squareX = wrap(kSquareX0, index, kSquareSpeed, kArrayColumns);
    for (int y = kSquareY; y < kSquareY + kSquareSide; ++y)
        for (int dx = 0; dx < kSquareSide; ++dx)
            scene[static_cast<size_t>(y) * kArrayColumns + (squareX + dx) % kArrayColumns] = kSquareValue;
}

}  // namespace moving
}  // namespace model
}  // namespace vb
