// Bmp.cpp - Windows bitmaps: the writer produces the library's own layout
// (VYXZEB_HelperSaveToBmp), the reader takes the common uncompressed kinds.
//
// Layout written: 14-byte file header, 40-byte information header with a
// negative height (top row first), for 8 bits a 256-entry grey palette whose
// entries are j, j, j, j, then the rows, each padded to a multiple of 4.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "AtomicFile.h"
#include "Errors.h"
#include "ImageFile.h"

namespace vyxcam {

namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kInfoHeaderBytes = 40;
constexpr size_t kPaletteEntries = 256;
constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionBitfields = 3;

void put16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v)
{
    put16(p, v);
    put16(p + 2, v >> 16);
}

uint32_t get16(const uint8_t* p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t* p) { return get16(p) | get16(p + 2) << 16; }

size_t rowBytes(int width, int bits) { return ((static_cast<size_t>(width) * bits + 31) / 32) * 4; }

// The whole file in memory; bitmaps are read once, as a whole.
std::vector<uint8_t> slurp(const std::string& path)
{
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) throw RunError("cannot open " + path + ": " + std::strerror(errno));
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f.get())) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (bytes.size() > kMaxImageBytes + (1u << 20)) throw RunError(path + " is too large");
    }
    if (std::ferror(f.get())) throw RunError("cannot read " + path + ": " + std::strerror(errno));
    return bytes;
}

[[noreturn]] void badBmp(const std::string& path, const std::string& why)
{
    throw RunError(path + ": not a bitmap vyxcam can read (" + why + ")");
}

}  // namespace

void writeBmp(const std::string& path, const ImageView& image)
{
    const int bits = image.channels * 8;
    const size_t row = rowBytes(image.width, bits);
    const size_t palette = image.channels == 1 ? kPaletteEntries * 4 : 0;
    const size_t offset = kFileHeaderBytes + kInfoHeaderBytes + palette;
    const size_t dataBytes = row * static_cast<size_t>(image.height);

    std::vector<uint8_t> header(offset, 0);
    header[0] = 'B';
    header[1] = 'M';
    put32(&header[2], static_cast<uint32_t>(offset + dataBytes));
    put32(&header[10], static_cast<uint32_t>(offset));
    uint8_t* info = &header[kFileHeaderBytes];
    put32(info, kInfoHeaderBytes);
    put32(info + 4, static_cast<uint32_t>(image.width));
    put32(info + 8, static_cast<uint32_t>(-image.height));   // top row first
    put16(info + 12, 1);
    put16(info + 14, static_cast<uint32_t>(bits));
    put32(info + 20, static_cast<uint32_t>(dataBytes));
    for (size_t j = 0; j < palette / 4; ++j) std::memset(&header[kFileHeaderBytes + kInfoHeaderBytes + 4 * j], int(j), 4);

    AtomicFile file(path);
    file.write(header.data(), header.size());
    const size_t used = static_cast<size_t>(image.width) * image.channels;
    const std::vector<uint8_t> padding(row - used, 0);
    for (int y = 0; y < image.height; ++y) {
        file.write(image.pixels + y * image.stride, used);
        file.write(padding.data(), padding.size());
    }
    file.commit();
}

Image readBmp(const std::string& path)
{
    const std::vector<uint8_t> f = slurp(path);
    if (f.size() < kFileHeaderBytes + kInfoHeaderBytes)
        badBmp(path, "too short");
    const uint32_t offset = get32(&f[10]);
    const uint8_t* info = &f[kFileHeaderBytes];
    const uint32_t infoBytes = get32(info);
    const int32_t width = static_cast<int32_t>(get32(info + 4));
    const int32_t rawHeight = static_cast<int32_t>(get32(info + 8));
    const uint32_t bits = get16(info + 14);
    const uint32_t compression = get32(info + 16);
    uint32_t colours = get32(info + 32);
    if (infoBytes < kInfoHeaderBytes || kFileHeaderBytes + infoBytes > f.size())
        badBmp(path, "unknown header");
    if (bits != 8 && bits != 24 && bits != 32)
        badBmp(path, std::to_string(bits) + " bits per pixel");
    if (compression != kCompressionNone && !(bits == 32 && compression == kCompressionBitfields))
        badBmp(path, "compressed");
    if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN)
        badBmp(path, "empty");
    const bool topDown = rawHeight < 0;
    const int height = topDown ? -rawHeight : rawHeight;
    const size_t row = rowBytes(width, static_cast<int>(bits));
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3 > kMaxImageBytes)
        badBmp(path, "too large");
    if (offset > f.size() || row * static_cast<size_t>(height) > f.size() - offset)
        badBmp(path, "cut short");

    // An 8-bit palette of greys stays grey; any other palette gives colour.
    // Entries past the palette's own count are black.
    uint8_t palette[kPaletteEntries][3] = {};
    if (colours == 0 || colours > kPaletteEntries) colours = kPaletteEntries;
    bool grey = bits == 8;
    if (bits == 8) {
        const size_t start = kFileHeaderBytes + infoBytes;
        if (start + colours * 4 > offset)
            badBmp(path, "palette cut short");
        for (uint32_t j = 0; j < colours; ++j) {
            std::memcpy(palette[j], &f[start + 4 * j], 3);
            grey = grey && palette[j][0] == palette[j][1] && palette[j][0] == palette[j][2];
        }
    }
    Image out;
    out.width = width;
    out.height = height;
    out.channels = grey ? 1 : 3;
    out.pixels.resize(static_cast<size_t>(width) * height * out.channels);
    const size_t srcBytes = bits / 8;
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = &f[offset + row * static_cast<size_t>(topDown ? y : height - 1 - y)];
        uint8_t* dst = &out.pixels[static_cast<size_t>(y) * width * out.channels];
        for (int x = 0; x < width; ++x) {
            if (grey)
                dst[x] = palette[src[x]][0];
            else if (bits == 8)
                std::memcpy(dst + 3 * x, palette[src[x]], 3);
            else
                std::memcpy(dst + 3 * x, src + x * srcBytes, 3);
        }
    }
    return out;
}

}  // namespace vyxcam
