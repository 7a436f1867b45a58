// Png.cpp - PNG through libpng's simplified interface.
#include <png.h>

#include <cstring>

#include "AtomicFile.h"
#include "Errors.h"
#include "ImageFile.h"

namespace vyxcam {

namespace {

// Frees the libpng state however the function is left.
struct PngImage {
    png_image image;
    PngImage()
    {
        std::memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
    }
    ~PngImage() { png_image_free(&image); }
};

void describe(PngImage& png, const ImageView& view)
{
    png.image.width = static_cast<png_uint_32>(view.width);
    png.image.height = static_cast<png_uint_32>(view.height);
    png.image.format = view.channels == 3 ? PNG_FORMAT_BGR : PNG_FORMAT_GRAY;
    // Frames come fast: speed before the last few per cent of size.
    png.image.flags = PNG_IMAGE_FLAG_FAST;
}

}  // namespace

void writePng(const std::string& path, const ImageView& view)
{
    PngImage png;
    describe(png, view);
    AtomicFile file(path);
    if (!png_image_write_to_stdio(&png.image, file.stream(), 0, view.pixels,
                                  static_cast<png_int_32>(view.stride), nullptr))
        throw RunError("cannot write " + path + ": " + png.image.message);
    file.commit();
}

std::vector<uint8_t> encodePng(const ImageView& view)
{
    PngImage png;
    describe(png, view);
    // The first call measures, the second writes.
    png_alloc_size_t size = 0;
    const auto stride = static_cast<png_int_32>(view.stride);
    if (!png_image_write_to_memory(&png.image, nullptr, &size, 0, view.pixels, stride, nullptr))
        throw RunError(std::string("cannot encode a PNG picture: ") + png.image.message);
    std::vector<uint8_t> bytes(size);
    if (!png_image_write_to_memory(&png.image, bytes.data(), &size, 0, view.pixels, stride, nullptr))
        throw RunError(std::string("cannot encode a PNG picture: ") + png.image.message);
    bytes.resize(size);
    return bytes;
}

Image readPng(const std::string& path)
{
    PngImage png;
    if (!png_image_begin_read_from_file(&png.image, path.c_str()))
        throw RunError("cannot read " + path + ": " + png.image.message);
    const bool colour = (png.image.format & PNG_FORMAT_FLAG_COLOR) != 0;
    png.image.format = colour ? PNG_FORMAT_BGR : PNG_FORMAT_GRAY;
    Image out;
    out.width = static_cast<int>(png.image.width);
    out.height = static_cast<int>(png.image.height);
    out.channels = colour ? 3 : 1;
    // Zeroed: an alpha channel is composited onto this black.
    out.pixels.assign(PNG_IMAGE_SIZE(png.image), 0);
    if (!png_image_finish_read(&png.image, nullptr, out.pixels.data(), 0, nullptr))
        throw RunError("cannot read " + path + ": " + png.image.message);
    return out;
}

}  // namespace vyxcam
