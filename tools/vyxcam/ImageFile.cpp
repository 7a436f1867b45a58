// ImageFile.cpp - format names, raw bytes, and telling formats apart.
#include "ImageFile.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "AtomicFile.h"
#include "Errors.h"

namespace vyxcam {

namespace {

struct FormatName {
    ImageFormat format;
    const char* name;
};
constexpr FormatName kFormats[] = {
    {ImageFormat::Png, "png"}, {ImageFormat::Bmp, "bmp"}, {ImageFormat::Pgm, "pgm"}, {ImageFormat::Raw, "raw"}};

// Extensions that mean a format besides its own name.
constexpr FormatName kExtraExtensions[] = {{ImageFormat::Pgm, "ppm"}, {ImageFormat::Pgm, "pnm"}};

void writeRaw(const std::string& path, const ImageView& image)
{
    AtomicFile file(path);
    const size_t rowBytes = static_cast<size_t>(image.width) * image.channels;
    for (int y = 0; y < image.height; ++y) file.write(image.pixels + y * image.stride, rowBytes);
    file.commit();
}

}  // namespace

const char* formatName(ImageFormat format)
{
    for (const FormatName& f : kFormats)
        if (f.format == format) return f.name;
    return "?";
}

std::optional<ImageFormat> formatFromName(const std::string& name)
{
    for (const FormatName& f : kFormats)
        if (name == f.name) return f.format;
    return std::nullopt;
}

std::optional<ImageFormat> formatFromPath(const std::string& path)
{
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::nullopt;
    const std::string ext = path.substr(dot + 1);
    for (const FormatName& f : kFormats)
        if (strcasecmp(ext.c_str(), f.name) == 0) return f.format;
    for (const FormatName& f : kExtraExtensions)
        if (strcasecmp(ext.c_str(), f.name) == 0) return f.format;
    return std::nullopt;
}

void writeImageFile(const std::string& path, ImageFormat format, const ImageView& image)
{
    switch (format) {
    case ImageFormat::Png: writePng(path, image); return;
    case ImageFormat::Bmp: writeBmp(path, image); return;
    case ImageFormat::Pgm: writePnm(path, image); return;
    case ImageFormat::Raw: writeRaw(path, image); return;
    }
}

Image readImageFile(const std::string& path)
{
    unsigned char magic[8] = {};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) throw RunError("cannot open " + path + ": " + std::strerror(errno));
    const size_t n = std::fread(magic, 1, sizeof magic, f);
    std::fclose(f);
    static const unsigned char kPngMagic[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (n == sizeof magic && std::memcmp(magic, kPngMagic, sizeof kPngMagic) == 0) return readPng(path);
    if (n >= 2 && magic[0] == 'B' && magic[1] == 'M') return readBmp(path);
    if (n >= 2 && magic[0] == 'P' && (magic[1] == '5' || magic[1] == '6')) return readPnm(path);
    throw RunError(path + " is not a PNG, BMP, PGM or PPM picture");
}

}  // namespace vyxcam
