// fuzz_scene - the virtual board's scene loader with malformed PNG files.
//
// The input is written to a file which the loader reads (loadSceneFromPng,
// the one reader behind every still scene and every picture of a scene
// folder).  Checked after every input:
//   - a file the loader refuses leaves the caller's scene untouched;
//   - a file it reads gives exactly one value per pixel of the sensor's
//     1280 x 1024 array;
//   - the loader never reads outside the decoded picture (AddressSanitizer).
// The fuzzer starts from valid pictures of every PNG colour type, bit
// depth, interlacing and the odd sizes (1 x 1, wider than the array,
// taller than it) and from broken ones.  Files whose header asks for more
// than 4 megapixels are passed over: the loader accepts sides up to 16384
// and would zero hundreds of megabytes for each, which finds nothing and
// slows the fuzzer to a few runs a second.
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
constexpr uint64_t kMaxPixels = 4u << 20;
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

// Width x height as the header chunk gives them (0 when there is none).
uint64_t DeclaredPixels(const uint8_t* data, size_t size)
{
    if (size < 24 || std::memcmp(data + 12, "IHDR", 4) != 0)
        return 0;
    auto be32 = [](const uint8_t* p) {
        return uint64_t{p[0]} << 24 | uint64_t{p[1]} << 16 | uint64_t{p[2]} << 8 | p[3];
    };
    return be32(data + 16) * be32(data + 20);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (DeclaredPixels(data, size) > kMaxPixels)
        return 0;
    const std::string path = Folder() + "/scene.png";
    Write(path, data, size);

    std::vector<uint8_t> scene(3, 0x5a);
    const bool read = vb::model::loadSceneFromPng(path, scene);
    if (!read && scene != std::vector<uint8_t>(3, 0x5a))
        Fail("a refused file changed the scene");
    if (read && scene.size() != kArrayBytes)
        Fail("a scene of " + std::to_string(scene.size()) + " bytes");
    unlink(path.c_str());
    return 0;
}
