// MovingScene.h - the built-in moving scene: two shapes crossing a textured
// background at a known speed, so that a program (or a test) can predict
// where they are in any picture.
//
// Picture k of the scene (k = 0 for the first frame after the scene was
// chosen; SimConfig.h says how k follows frames or time):
//   background  64 + 32 * (((x / 32) + (y / 32)) & 1) + ((x XOR y) AND 7):
//               a chequerboard of 32-pixel squares with a fine texture, 64..103
//   square      side kSquareSide, value kSquareValue (bright), top-left corner
//               at x = (kSquareX0 + k * kSquareSpeed) mod 1280, y = kSquareY;
//               moves right and wraps round to the left edge
//   disc        radius kDiscRadius, value kDiscValue (dark), centre at
//               x = kDiscX, y = (kDiscY0 + k * kDiscSpeed) mod 1024; moves
//               down and wraps round to the top
// The square is drawn over the disc where they meet.
#ifndef VYX_MODEL_MOVING_SCENE_H
#define VYX_MODEL_MOVING_SCENE_H

#include <cstdint>

namespace vb {
namespace model {
namespace moving {

constexpr int kSquareSide = 96;
constexpr int kSquareX0 = 100;
constexpr int kSquareY = 200;
constexpr int kSquareSpeed = 8;  // pixels per picture, to the right
constexpr uint8_t kSquareValue = 240;
constexpr int kDiscRadius = 48;
constexpr int kDiscX = 900;
constexpr int kDiscY0 = 100;
constexpr int kDiscSpeed = 4;  // pixels per picture, downwards
constexpr uint8_t kDiscValue = 16;

uint8_t background(int x, int y);
// Draws picture `index` into an array-sized scene.
void drawPicture(uint64_t index, uint8_t* scene);
// Draws columns [first, end) of row y of picture `index` into row[first, end)
// (0 <= first <= end <= 1280): the background from rows kept in the cache,
// then the chords of the disc and the square that cross the row.
void drawRow(uint64_t index, int y, int first, int end, uint8_t* row);

}  // namespace moving
}  // namespace model
}  // namespace vb

#endif
