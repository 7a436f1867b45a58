// MovingScene.cpp - the built-in moving scene (see MovingScene.h).
#include "MovingScene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "SensorModel.h"

namespace vb {
namespace model {
namespace moving {

namespace {

int wrap(uint64_t start, uint64_t index, int speed, int size) {
    return static_cast<int>((start + index % static_cast<uint64_t>(size) * static_cast<uint64_t>(speed)) %
                            static_cast<uint64_t>(size));
}

// Row y of the background is backgroundRows()[(y / 32) % 2][y % 8]: the
// squares' parity and the texture are all that change from row to row.
using BackgroundRows = std::array<std::array<std::array<uint8_t, kArrayColumns>, 8>, 2>;
const BackgroundRows& backgroundRows() {
    static const BackgroundRows rows = [] {
        BackgroundRows r{};
        for (int p = 0; p < 2; ++p)
            for (int k = 0; k < 8; ++k)
                for (int x = 0; x < kArrayColumns; ++x) r[p][k][x] = background(x, p * 32 + k);
        return r;
    }();
    return rows;
}

// Sets row[x] = value for x in [from, to) within [first, end).
void fill(uint8_t* row, int from, int to, int first, int end, uint8_t value) {
    from = std::max(from, first);
    to = std::min(to, end);
    if (from < to) std::memset(row + from, value, static_cast<size_t>(to - from));
}

// Half the width of the disc's chord dy rows from its centre, or -1 where
// the row misses the disc: the largest dx with dx^2 + dy^2 <= radius^2.
int discHalfWidth(int dy) {
    const int limit = kDiscRadius * kDiscRadius - dy * dy;
    if (limit < 0) return -1;
    int h = static_cast<int>(std::sqrt(static_cast<double>(limit)));
    while ((h + 1) * (h + 1) <= limit) ++h;
    while (h * h > limit) --h;
    return h;
}

}  // namespace

uint8_t background(int x, int y) {
    return static_cast<uint8_t>(64 + 32 * (((x / 32) + (y / 32)) & 1) + ((x ^ y) & 7));
}

void drawPicture(uint64_t index, uint8_t* scene) {
    for (int y = 0; y < kArrayRows; ++y)
        drawRow(index, y, 0, kArrayColumns, scene + static_cast<size_t>(y) * kArrayColumns);
}

void drawRow(uint64_t index, int y, int first, int end, uint8_t* row) {
    if (first < end)
        std::memcpy(row + first, backgroundRows()[(y / 32) & 1][y & 7].data() + first,
                    static_cast<size_t>(end - first));
    // The disc's rows wrap round from the bottom to the top.
    const int discY = wrap(kDiscY0, index, kDiscSpeed, kArrayRows);
    int dy = (y - discY + kArrayRows) % kArrayRows;
    if (dy > kArrayRows / 2) dy -= kArrayRows;
    const int h = discHalfWidth(dy);
    if (h >= 0) fill(row, kDiscX - h, kDiscX + h + 1, first, end, kDiscValue);
    // The square, over the disc; its columns wrap round from right to left.
    if (y >= kSquareY && y < kSquareY + kSquareSide) {
        const int squareX = wrap(kSquareX0, index, kSquareSpeed, kArrayColumns);
        fill(row, squareX, squareX + kSquareSide, first, end, kSquareValue);
        fill(row, 0, squareX + kSquareSide - kArrayColumns, first, end, kSquareValue);
    }
}

}  // namespace moving
}  // namespace model
}  // namespace vb
