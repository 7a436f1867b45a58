// fuzz_image_helpers - the demos' image helpers with any area of interest,
// bit count and thresholds.
//
// The image ends where a 64 MiB stretch of inaccessible address space
// begins, and another lies before it: a helper that reaches past the image,
// however far, faults at once (the few bytes between the start of the
// image's first page and the image are checked after each call).  After each call
// every byte the helper may not touch is compared with a copy: a helper
// changes only the part of its AOI that lies inside the image (the histogram
// bars may run on to the right of the AOI, up to the end of the row).  The
// threshold results and the histogram counts are checked against a plain
// per-pixel computation of the same part.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzInput.h"
#include "VYXImage.h"

namespace {

// Small images keep the fuzzer fast; the helpers have no size-dependent paths
// beyond the row blocks of 64 bytes.
constexpr int64_t kMaxImageBytes = 1 << 16;

struct Rect {
    int64_t x0, y0, x1, y1;  // columns x0..x1-1, rows y0..y1-1; empty when x0 >= x1 or y0 >= y1
};

int64_t Clamp(int64_t v, int64_t lo, int64_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

Rect Inside(int width, int height, int x, int y, int w, int h)
{
    Rect r;
    r.x0 = Clamp(x, 0, width);
    r.y0 = Clamp(y, 0, height);
    r.x1 = Clamp(static_cast<int64_t>(x) + (w > 0 ? w : 0), 0, width);
    r.y1 = Clamp(static_cast<int64_t>(y) + (h > 0 ? h : 0), 0, height);
    return r;
}

bool Contains(const Rect& r, int64_t col, int64_t row) { return col >= r.x0 && col < r.x1 && row >= r.y0 && row < r.y1; }

int StrideOf(int width, int bits) { return static_cast<int>((static_cast<int64_t>(width) * bits + 31) / 32 * 4); }

// An AOI coordinate: mostly near the image, sometimes anything an int holds.
int Coordinate(vyxfuzz::Input& in)
{
    static const int kExtremes[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1, INT32_MAX};
    switch (in.Range(0, 3)) {
    case 0: return in.Pick(kExtremes);
    case 1: return in.Take<int32_t>();
    default: return static_cast<int>(in.Range(-300, 1400));
    }
}

int Threshold(vyxfuzz::Input& in)
{
    return in.Bool() ? in.Take<int32_t>() : static_cast<int>(in.Range(-2, 258));
}

[[noreturn]] void Fail(const char* what)
{
    fprintf(stderr, "fuzz_image_helpers: %s\n", what);
    abort();
}

// Every byte that changed lies, in byte columns, inside `allowed` (whose
// columns are pixels of bpp bytes).
void CheckOnlyInside(const uint8_t* before, const uint8_t* after, int stride, int height, int bpp,
                     const Rect& allowed)
{
    for (int row = 0; row < height; ++row) {
        for (int b = 0; b < stride; ++b) {
            const size_t i = static_cast<size_t>(row) * stride + b;
            if (before[i] != after[i] && !Contains(allowed, bpp > 0 ? b / bpp : -1, row))
                Fail("a byte outside the AOI's part in the image changed");
        }
    }
}

// Room for the largest image, between two inaccessible stretches; made once.
class Arena {
public:
    static constexpr size_t kGuardBytes = size_t{64} << 20;
    static constexpr uint8_t kCanary = 0xA5;

    Arena()
    {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        m_room = (static_cast<size_t>(kMaxImageBytes) + page - 1) / page * page + page;
        void* p = mmap(nullptr, 2 * kGuardBytes + m_room, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                       -1, 0);
        if (p == MAP_FAILED) Fail("cannot reserve the image arena");
        m_room0 = static_cast<uint8_t*>(p) + kGuardBytes;
        if (mprotect(m_room0, m_room, PROT_READ | PROT_WRITE) != 0) Fail("cannot open the image arena");
    }
    // A block of `bytes` ending where the guard behind the room begins.
    uint8_t* Place(size_t bytes)
    {
        m_data = m_room0 + m_room - bytes;
        std::memset(m_room0, kCanary, m_room - bytes);
        return m_data;
    }
    void CheckFront() const
    {
        for (const uint8_t* p = m_room0; p < m_data; ++p)
            if (*p != kCanary) Fail("a helper wrote before the image");
    }

private:
    size_t m_room = 0;
    uint8_t* m_room0 = nullptr;
    uint8_t* m_data = nullptr;
};

Arena& TheArena()
{
    static Arena arena;
    return arena;
}

struct Image {
    int width, height, bits, stride;
    std::vector<uint8_t> copy;
    uint8_t* data;
    size_t bytes;

    Image(int w, int h, int b, vyxfuzz::Input& in) : width(w), height(h), bits(b), stride(StrideOf(w, b))
    {
        bytes = static_cast<size_t>(stride) * static_cast<size_t>(height);
        data = TheArena().Place(bytes);
        const uint8_t seed = in.Take<uint8_t>();
        for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
        copy.assign(data, data + bytes);
    }
    ~Image() { TheArena().CheckFront(); }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
};

void Threshold(vyxfuzz::Input& in, Image& img, bool band, bool whole)
{
    const int a = Threshold(in), b = Threshold(in), invert = in.Bool() ? 0 : static_cast<int>(in.Range(1, 3));
    const int x = whole ? 0 : Coordinate(in), y = whole ? 0 : Coordinate(in);
    const int w = whole ? img.width : Coordinate(in), h = whole ? img.height : Coordinate(in);
    if (band) {
        if (whole) VYXIMAGE_Y8_ThresholdDouble(img.data, img.width, img.height, a, b, invert);
        else VYXIMAGE_Y8_ThresholdDouble_AOI(img.data, img.width, img.height, a, b, invert, x, y, w, h);
    } else {
        if (whole) VYXIMAGE_Y8_ThresholdSingle(img.data, img.width, img.height, a, invert);
        else VYXIMAGE_Y8_ThresholdSingle_AOI(img.data, img.width, img.height, a, invert, x, y, w, h);
    }
    const Rect part = Inside(img.width, img.height, x, y, w, h);
    CheckOnlyInside(img.copy.data(), img.data, img.stride, img.height, 1, part);
    for (int64_t row = part.y0; row < part.y1; ++row) {
        for (int64_t col = part.x0; col < part.x1; ++col) {
            const size_t i = static_cast<size_t>(row * img.stride + col);
            const int p = img.copy[i];
            bool on = band ? (a <= p && p <= b) : (p >= a);
            if (invert != 0) on = !on;
            if (img.data[i] != (on ? 255 : 0)) Fail("a thresholded byte has the wrong value");
        }
    }
}

void Outline(vyxfuzz::Input& in, Image& img)
{
    const int x = Coordinate(in), y = Coordinate(in), w = Coordinate(in), h = Coordinate(in);
    VYXIMAGE_ShowAoi(img.data, img.width, img.height, img.bits, x, y, w, h);
    // A one- or two-row AOI draws its bottom edge one row below its top.
    const int hh = (h == 1) ? 2 : h;
    const Rect part = Inside(img.width, img.height, x, y, w, hh);
    CheckOnlyInside(img.copy.data(), img.data, img.stride, img.height, img.bits / 8, part);
    for (size_t i = 0; i < img.bytes; ++i)
        if (img.data[i] != img.copy[i] && img.data[i] != 255) Fail("the outline is not white");
}

void GreyHistogram(vyxfuzz::Input& in, Image& img)
{
    const int x = Coordinate(in), y = Coordinate(in), w = Coordinate(in), h = Coordinate(in);
    int* hist = static_cast<int*>(malloc(256 * sizeof(int)));
    VYXIMAGE_Y8_Histgram(img.data, img.width, img.height, x, y, w, h, hist);
    const Rect part = Inside(img.width, img.height, x, y, w, h);
    std::vector<int64_t> want(256, 0);
    for (int64_t row = part.y0; row < part.y1; ++row)
        for (int64_t col = part.x0; col < part.x1; ++col) ++want[img.copy[static_cast<size_t>(row * img.stride + col)]];
    for (int v = 0; v < 256; ++v)
        if (hist[v] != want[v]) Fail("a histogram counter is wrong");
    free(hist);
    // The bars stand on the AOI's last row and may run past its right edge.
    Rect bars = part;
    bars.x1 = img.width;
    CheckOnlyInside(img.copy.data(), img.data, img.stride, img.height, 1, bars);
}

void ColourHistogram(vyxfuzz::Input& in, Image& img)
{
    const int x = Coordinate(in), y = Coordinate(in), w = Coordinate(in), h = Coordinate(in);
    int* hist = static_cast<int*>(malloc(3 * 256 * sizeof(int)));
    VYXIMAGE_Rgb_Histgram(img.data, img.width, img.height, img.bits, x, y, w, h, hist);
    const Rect part = Inside(img.width, img.height, x, y, w, h);
    const int bpp = img.bits >= 8 ? img.bits / 8 : 0;
    const int64_t channels = bpp < 3 ? bpp : 3;
    int64_t total = 0;
    for (int i = 0; i < 3 * 256; ++i) total += hist[i];
    if (total != (part.x1 - part.x0) * (part.y1 - part.y0) * channels) Fail("colour histogram counts the wrong pixels");
    free(hist);
    CheckOnlyInside(img.copy.data(), img.data, img.stride, img.height, 1, Rect{0, 0, 0, 0});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    vyxfuzz::Input in(data, size);
    static const int kBits[] = {8, 8, 24, 32, 16, 1, 7, 12};
    const int op = static_cast<int>(in.Range(0, 7));
    const int bits = (op == 5 || op == 6) ? in.Pick(kBits) : 8;
    const int width = static_cast<int>(in.Range(1, 700));
    const int64_t maxHeight = kMaxImageBytes / StrideOf(width, bits);
    const int height = static_cast<int>(in.Range(1, maxHeight < 600 ? maxHeight : 600));
    Image img(width, height, bits, in);
    switch (op) {
    case 0: Threshold(in, img, false, false); break;
    case 1: Threshold(in, img, true, false); break;
    case 2: Threshold(in, img, false, true); break;
    case 3: Threshold(in, img, true, true); break;
    case 4: GreyHistogram(in, img); break;
    case 5: Outline(in, img); break;
    case 6: ColourHistogram(in, img); break;
    default: MyProcessData(img.data, img.width, img.height, 8); break;
    }
    return 0;
}
