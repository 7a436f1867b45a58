// Scene.h - what the emulated camera looks at: one grey value per pixel of
// the sensor's 1280 x 1024 array, at unit brightness, for each picture of
// the scene.
//
// The default scene is a deterministic test pattern (sceneTestPattern):
//     value(x, y) = 16 + x / 8 + y / 16 + ((x XOR y) AND 7)
// a diagonal ramp from 16 to 245 with a fine texture, so that every column
// and row differs from its mirror image, binning changes values measurably,
// and brightness can be doubled without saturating most of the frame.
//
// A user may point the camera at a scene of their own (VYXSIM_SCENE,
// SimConfig.h):
//   - a PNG file (grey or colour; colour is converted to grey by libpng),
//     stretched to the array by nearest-neighbour sampling: a still scene;
//   - a folder of PNG files (names ending in .png, any case), played in
//     name order and looping; at most kMaxScenePictures are kept (the rest
//     is reported and left out); files that cannot be read are reported and
//     skipped;
//   - "moving": the built-in moving scene (MovingScene.h).
// A scene that cannot be read at all is reported on standard error and the
// test pattern is used instead.
#ifndef VYX_MODEL_SCENE_H
#define VYX_MODEL_SCENE_H

#include <cstdint>
#include <string>
#include <vector>

namespace vb {
namespace model {

// About 330 MB of pictures.
constexpr size_t kMaxScenePictures = 256;

uint8_t sceneTestPattern(int x, int y);
// The whole test pattern, kArrayColumns x kArrayRows bytes.
std::vector<uint8_t> makeTestPatternScene();
// Reads a PNG into an array-sized grey scene; false (scene untouched) when the
// file cannot be read.
bool loadSceneFromPng(const std::string& path, std::vector<uint8_t>& scene);

class Scene {
public:
    // The test pattern.
    Scene();
    static Scene still(std::vector<uint8_t> picture);
    static Scene moving();
    // A PNG file, a folder of them or "moving"; false with the reason in
    // `error` when nothing could be read.  Pictures of a folder that could
    // not be read are described in `warnings` (one line each).
    static bool load(const std::string& path, Scene& scene, std::string& error, std::string& warnings);

    // Whether every picture is the same (a frame can be reused).
    bool still() const { return !m_moving && m_pictures.size() == 1; }
    // Picture `index` of the scene (sequences loop), drawn into `scratch`
    // when it is not stored.
    const uint8_t* picture(uint64_t index, std::vector<uint8_t>& scratch) const;
    size_t pictures() const { return m_pictures.size(); }

private:
    std::vector<std::vector<uint8_t>> m_pictures;
    bool m_moving = false;
};

}  // namespace model
}  // namespace vb

#endif
