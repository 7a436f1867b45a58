// Scene.cpp - the test pattern and user scenes read from PNG files, folders
// of them and the built-in moving scene (see Scene.h).
#include "Scene.h"

#ifdef VYX_BOARD_HAVE_PNG
#include <png.h>
#endif
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <strings.h>

#include "MovingScene.h"
#include "SimConfig.h"

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

// ---------------------------------------------------------------- Scene

Scene Scene::still(std::vector<uint8_t> picture) {
    Scene s;
    s.m_kind = Kind::Stored;
    s.m_pictures.push_back(std::move(picture));
    return s;
}

Scene Scene::moving() {
    Scene s;
    s.m_kind = Kind::Moving;
    return s;
}

namespace {

bool isPngName(const std::string& name) {
    return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".png") == 0;
}

// The PNG files of a folder in name order; false when it cannot be listed.
// The board is built without large-file names, so the 64-bit entries are
// asked for by name: a 32-bit program would otherwise fail on a file
// system with large inode numbers or directory offsets.
bool pngFiles(const std::string& folder, std::vector<std::string>& names) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return false;
    while (const dirent64* e = readdir64(dir))
        if (isPngName(e->d_name)) names.push_back(e->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    return true;
}

}  // namespace

bool Scene::load(const std::string& path, Scene& scene, std::string& error, std::string& warnings) {
    if (path == kMovingSceneName) {
        scene = moving();
        return true;
    }
    struct stat64 st;
    if (stat64(path.c_str(), &st) != 0) {
        error = std::string("cannot read the scene ") + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        std::vector<uint8_t> picture;
        if (!loadSceneFromPng(path, picture)) {
            error = "cannot read the scene " + path + ": not a PNG picture this board can read";
            return false;
        }
        scene = still(std::move(picture));
        return true;
    }
    std::vector<std::string> names;
    if (!pngFiles(path, names)) {
        error = std::string("cannot list the scene folder ") + path + ": " + std::strerror(errno);
        return false;
    }
    Scene s;
    s.m_kind = Kind::Stored;
    for (const std::string& name : names) {
        if (s.m_pictures.size() == kMaxScenePictures) {
            warnings += "scene folder " + path + ": only the first " + std::to_string(kMaxScenePictures) +
                        " pictures are played\n";
            break;
        }
        std::vector<uint8_t> picture;
        if (loadSceneFromPng(path + "/" + name, picture))
            s.m_pictures.push_back(std::move(picture));
        else
            warnings += "scene folder " + path + ": cannot read " + name + "; left out\n";
    }
    if (s.m_pictures.empty()) {
        error = "the scene folder " + path + " holds no PNG picture this board can read";
        return false;
    }
    scene = std::move(s);
    return true;
}

ScenePicture Scene::picture(uint64_t index) const {
    ScenePicture p;
    p.m_kind = m_kind;
    p.m_index = index;
    if (m_kind == Kind::Stored) p.m_stored = m_pictures[index % m_pictures.size()].data();
    return p;
}

// ---------------------------------------------------------------- ScenePicture

namespace {

// Pixels per step of the vector loops (as in BrightnessMap.cpp).
constexpr int kBlock = 64;

// Row y of the test pattern is patternRows()[y % 8] plus 16 + y / 16:
// (x XOR y) AND 7 is (x AND 7) XOR (y AND 7).
using PatternRows = std::array<std::array<uint8_t, kArrayColumns>, 8>;
const PatternRows& patternRows() {
    static const PatternRows rows = [] {
        PatternRows r{};
        for (int k = 0; k < 8; ++k)
            for (int x = 0; x < kArrayColumns; ++x) r[k][x] = static_cast<uint8_t>(x / 8 + ((x & 7) ^ k));
        return r;
    }();
    return rows;
}

// dst[x] = src[x] + c for x in [first, end).
void addConstant(const uint8_t* __restrict src, uint8_t* __restrict dst, int first, int end, uint8_t c) {
    int x = first;
    for (; x + kBlock <= end; x += kBlock)
        for (int k = 0; k < kBlock; ++k) dst[x + k] = static_cast<uint8_t>(src[x + k] + c);
    for (; x < end; ++x) dst[x] = static_cast<uint8_t>(src[x] + c);
}

}  // namespace

const uint8_t* ScenePicture::row(int y, int first, int end) {
    first = std::max(first, 0);
    end = std::min(end, kArrayColumns);
    switch (m_kind) {
    case Kind::Stored: break;
    case Kind::Pattern:
        addConstant(patternRows()[y & 7].data(), m_row, first, end, static_cast<uint8_t>(16 + y / 16));
        return m_row;
    case Kind::Moving: moving::drawRow(m_index, y, first, end, m_row); return m_row;
    }
    return m_stored + static_cast<size_t>(y) * kArrayColumns;
}

}  // namespace model
}  // namespace vb
