// fuzz_scene - the virtual board's scene loader with malformed PNG files.
//
// The input is written to a file which the loader reads twice: as one PNG
// (loadSceneFromPng) and as the only picture of a scene folder
// (Scene::load).  Checked after every input:
//   - a file the loader refuses leaves the caller's scene untouched;
//   - a file it reads gives exactly one value per pixel of the sensor's
//     1280 x 1024 array;
//   - a folder with one picture loads it as a still scene whose picture is
//     the same, or refuses with a reason;
//   - the loader never reads outside the decoded picture (AddressSanitizer).
// The fuzzer starts from valid pictures of every PNG colour type, bit
// depth, interlacing and the odd sizes (1 x 1, wider than the array,
// taller than it).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "SensorModel.h"
#include "Scene.h"

namespace {

constexpr const char* kTarget = "fuzz_scene";
constexpr size_t kArrayBytes = static_cast<size_t>(vb::model::kArrayColumns) * vb::model::kArrayRows;

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "%s: %s\n", kTarget, what.c_str());
    std::abort();
}

// A private folder for the input file, made once.
std::string Folder()
{
    static std::string folder = [] {
        char name[] = "/tmp/fuzz_scene.XXXXXX";
        if (mkdtemp(name) == nullptr)
            Fail("cannot make a temporary folder");
        return std::string(name);
    }();
    return folder;
}

void Write(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0)
        Fail("cannot write " + path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = Folder() + "/scene.png";
    Write(path, data, size);

    std::vector<uint8_t> scene(3, 0x5a);
    const bool read = vb::model::loadSceneFromPng(path, scene);
    if (!read && scene != std::vector<uint8_t>(3, 0x5a))
        Fail("a refused file changed the scene");
    if (read && scene.size() != kArrayBytes)
        Fail("a scene of " + std::to_string(scene.size()) + " bytes");

    vb::model::Scene fromFolder;
    std::string error, warnings;
    const bool loaded = vb::model::Scene::load(Folder(), fromFolder, error, warnings);
    if (loaded != read)
        Fail("the folder and the file disagree on whether the picture reads");
    if (!loaded && error.empty())
        Fail("a refused folder without a reason");
    if (loaded) {
        std::vector<uint8_t> scratch;
        if (!fromFolder.still() || fromFolder.pictures() != 1)
            Fail("one picture is not a still scene");
        if (std::memcmp(fromFolder.picture(0, scratch), scene.data(), kArrayBytes) != 0)
            Fail("the folder's picture differs from the file's");
    }
    unlink(path.c_str());
    return 0;
}
