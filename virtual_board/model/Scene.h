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
//
// Frames read a picture a row at a time (ScenePicture), and only the
// columns the sensor's window covers: a stored picture gives its rows as
// they are; the test pattern and the moving scene draw the columns asked for
// from a few precomputed rows (the pattern's rows repeat every 8 rows up to
// a constant, the moving background's every 8 and 64), which stay in the
// processor's cache, so a small window never reads the 1.3 MB of a whole
// picture.
#ifndef VYX_MODEL_SCENE_H
#define VYX_MODEL_SCENE_H

#include <cstdint>
#include <string>
#include <vector>

#include "SensorModel.h"

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

// One picture of a scene, read a row at a time.
class ScenePicture {
public:
    // Array row y (0 <= y < kArrayRows): kArrayColumns bytes, of which at
    // least columns [first, end) hold the picture's values.  A drawn row
    // stays valid until the next call.
    const uint8_t* row(int y, int first, int end);

private:
    friend class Scene;
    enum class Kind { Stored, Pattern, Moving };
    Kind m_kind = Kind::Pattern;
    const uint8_t* m_stored = nullptr;  // a stored picture
    uint64_t m_index = 0;               // picture of the moving scene
    uint8_t m_row[kArrayColumns];       // a drawn row
};

class Scene {
public:
    // The test pattern.
    Scene() = default;
    static Scene still(std::vector<uint8_t> picture);
    static Scene moving();
    // A PNG file, a folder of them or "moving"; false with the reason in
    // `error` when nothing could be read.  Pictures of a folder that could
    // not be read are described in `warnings` (one line each).
    static bool load(const std::string& path, Scene& scene, std::string& error, std::string& warnings);

    // Whether every picture is the same (a frame can be reused).
    bool still() const {
        return m_kind == Kind::Pattern || (m_kind == Kind::Stored && m_pictures.size() == 1);
    }
    // Picture `index` of the scene (sequences loop).  A stored picture is
    // read in place: the scene must outlive the returned picture.
    ScenePicture picture(uint64_t index) const;

private:
    using Kind = ScenePicture::Kind;
    Kind m_kind = Kind::Pattern;
    std::vector<std::vector<uint8_t>> m_pictures;  // stored pictures
};

}  // namespace model
}  // namespace vb

#endif
