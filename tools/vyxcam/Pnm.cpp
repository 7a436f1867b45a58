// Pnm.cpp - binary PGM (P5, grey) and PPM (P6, colour).
#include <algorithm>
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

constexpr unsigned kMaxValue8 = 255;
constexpr unsigned kMaxValue16 = 65535;

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

[[noreturn]] void badPnm(const std::string& path, const std::string& why)
{
    throw RunError(path + ": not a PGM or PPM picture vyxcam can read (" + why + ")");
}

// Skips white space and "#" comments, then reads a decimal number.
bool headerNumber(FILE* f, unsigned long& value)
{
    int c = std::fgetc(f);
    while (c == '#' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        if (c == '#')
            while (c != '\n' && c != EOF) c = std::fgetc(f);
        c = std::fgetc(f);
    }
    if (c < '0' || c > '9') return false;
    value = 0;
    while (c >= '0' && c <= '9') {
        value = value * 10 + static_cast<unsigned long>(c - '0');
        if (value > kMaxImageBytes) return false;
        c = std::fgetc(f);
    }
    // Exactly one white-space character ends the header's last number.
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

void writePnm(const std::string& path, const ImageView& image)
{
    AtomicFile file(path);
    char header[64];
    const int n = std::snprintf(header, sizeof header, "P%c\n%d %d\n%u\n", image.channels == 3 ? '6' : '5',
                                image.width, image.height, kMaxValue8);
    file.write(header, static_cast<size_t>(n));
    if (image.channels == 1) {
        for (int y = 0; y < image.height; ++y) file.write(image.pixels + y * image.stride, image.width);
    } else {
        std::vector<uint8_t> rgb(static_cast<size_t>(image.width) * 3);
        for (int y = 0; y < image.height; ++y) {
            const uint8_t* bgr = image.pixels + y * image.stride;
            for (size_t i = 0; i < rgb.size(); i += 3) {
                rgb[i] = bgr[i + 2];
                rgb[i + 1] = bgr[i + 1];
                rgb[i + 2] = bgr[i];
            }
            file.write(rgb.data(), rgb.size());
        }
    }
    file.commit();
}

Image readPnm(const std::string& path)
{
    File f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) throw RunError("cannot open " + path + ": " + std::strerror(errno));
    char magic[2] = {};
    if (std::fread(magic, 1, 2, f.get()) != 2 || magic[0] != 'P' || (magic[1] != '5' && magic[1] != '6'))
        badPnm(path, "no P5 or P6 header");
    unsigned long width = 0, height = 0, maxValue = 0;
    if (!headerNumber(f.get(), width) || !headerNumber(f.get(), height) || !headerNumber(f.get(), maxValue))
        badPnm(path, "bad header");
    if (width == 0 || height == 0)
        badPnm(path, "empty");
    if (maxValue == 0 || maxValue > kMaxValue16)
        badPnm(path, "maxval " + std::to_string(maxValue));
    Image out;
    out.channels = magic[1] == '6' ? 3 : 1;
    if (static_cast<uint64_t>(width) * height * out.channels > kMaxImageBytes / (maxValue > kMaxValue8 ? 2 : 1))
        badPnm(path, "too large");
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    const size_t samples = width * height * out.channels;
    const size_t sampleBytes = maxValue > kMaxValue8 ? 2 : 1;
    std::vector<uint8_t> raw(samples * sampleBytes);
    if (std::fread(raw.data(), 1, raw.size(), f.get()) != raw.size())
        badPnm(path, "cut short");
    out.pixels.resize(samples);
    for (size_t i = 0; i < samples; ++i) {
        const unsigned v = sampleBytes == 2 ? (raw[2 * i] << 8 | raw[2 * i + 1]) : raw[i];
        out.pixels[i] = static_cast<uint8_t>((std::min<unsigned long>(v, maxValue) * kMaxValue8 + maxValue / 2) / maxValue);
    }
    // PPM holds R, G, B; in memory colour is B, G, R.
    if (out.channels == 3)
        for (size_t i = 0; i < samples; i += 3) std::swap(out.pixels[i], out.pixels[i + 2]);
    return out;
}

}  // namespace vyxcam
