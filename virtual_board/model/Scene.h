// Scene.h - what the emulated camera looks at: one grey value per pixel of
// the sensor's 1280 x 1024 array, at unit brightness.
//
// The default scene is a deterministic test pattern (sceneTestPattern):
//     value(x, y) = 16 + x / 8 + y / 16 + ((x XOR y) AND 7)
// a diagonal ramp from 16 to 245 with a fine texture, so that every column
// and row differs from its mirror image, binning changes values measurably,
// and brightness can be doubled without saturating most of the frame.
//
// A user may point the camera at an image of their own: the environment
// variable VYXSIM_SCENE names a PNG file (grey or colour; colour is converted
// to grey by libpng), read when the board comes up and stretched to the array
// by nearest-neighbour sampling.  An unreadable file is reported on standard
// error and the test pattern is used instead.
#ifndef VYX_MODEL_SCENE_H
#define VYX_MODEL_SCENE_H

#include <cstdint>
#include <string>
#include <vector>

namespace vb {
namespace model {

constexpr const char* kSceneEnvironmentVariable = "VYXSIM_SCENE";
// How brightly the scene is lit: a factor on every frame's brightness
// (default 1).  The test pattern at 25 ms and unit gain fills the grey range;
// a program that exposes for microseconds needs a light of thousands.
constexpr const char* kLightEnvironmentVariable = "VYXSIM_LIGHT";

uint8_t sceneTestPattern(int x, int y);
// The whole test pattern, kArrayColumns x kArrayRows bytes.
std::vector<uint8_t> makeTestPatternScene();
// Reads a PNG into an array-sized grey scene; false (scene untouched) when the
// file cannot be read.
bool loadSceneFromPng(const std::string& path, std::vector<uint8_t>& scene);

}  // namespace model
}  // namespace vb

#endif
