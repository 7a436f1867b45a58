// Scene.cpp - the test pattern and user scenes read from PNG files.
#include "Scene.h"

#ifdef VYX_BOARD_HAVE_PNG
#include <png.h>
#endif

#include <cstring>

#include "SensorModel.h"

namespace vb {
namespace model {

uint8_t sceneTestPattern(int x, int y)
{
    return static_cast<uint8_t>(16 + x / 8 + y / 16 + ((x ^ y) & 7));
}

std::vector<uint8_t> makeTestPatternScene()
{
    std::vector<uint8_t> s(static_cast<size_t>(kArrayColumns) * kArrayRows);
    for (int y = 0; y < kArrayRows; ++y)
        for (int x = 0; x < kArrayColumns; ++x)
            s[static_cast<size_t>(y) * kArrayColumns + x] = sceneTestPattern(x, y);
    return s;
}

#ifdef VYX_BOARD_HAVE_PNG
// Larger images are refused rather than decoded into hundreds of megabytes.
constexpr png_uint_32 kMaxSceneSide = 16384;

bool loadSceneFromPng(const std::string& path, std::vector<uint8_t>& scene)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_GRAY;   // libpng converts colour to grey
    if (image.width == 0 || image.height == 0 ||
        image.width > kMaxSceneSide || image.height > kMaxSceneSide) {
        png_image_free(&image);
        return false;
    }
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    const size_t srcW = image.width, srcH = image.height;
    std::vector<uint8_t> out(static_cast<size_t>(kArrayColumns) * kArrayRows);
    for (size_t y = 0; y < static_cast<size_t>(kArrayRows); ++y) {
        const size_t sy = y * srcH / kArrayRows;
        for (size_t x = 0; x < static_cast<size_t>(kArrayColumns); ++x)
            out[y * kArrayColumns + x] = pixels[sy * srcW + x * srcW / kArrayColumns];
    }
    scene.swap(out);
    return true;
}
#else
// Built without libpng: no user scenes.
bool loadSceneFromPng(const std::string&, std::vector<uint8_t>&) { return false; }
#endif

}  // namespace model
}  // namespace vb
