// ImageFile.h - pictures in and out of files: PNG (libpng), BMP, PGM/PPM
// and raw bytes.
//
// In memory a picture is 8-bit grey (1 channel) or 24-bit colour (3
// channels, bytes B, G, R as the camera's display path and BMP files hold
// them), rows top to bottom.  Writers take rows at any stride, so a frame is
// written straight from the camera's frame buffer; every file appears whole
// or not at all (AtomicFile.h).
//
// Formats written:
//   png  8-bit grey or 24-bit colour PNG
//   bmp  the layout the library's VYXZEB_HelperSaveToBmp writes: 8-bit
//        with a grey palette (or 24-bit), rows top down (negative height),
//        each row padded to a multiple of 4 bytes
//   pgm  binary PGM (P5, grey) or PPM (P6, colour), maxval 255
//   raw  the pixel bytes only, rows without padding, no header
// Formats read: PNG (any depth, grey or colour, alpha composited on black),
// BMP (uncompressed 8-bit palette, 24 and 32 bits, either row order), PGM and
// PPM (P5 and P6, maxval up to 65535).
#ifndef VYXCAM_IMAGE_FILE_H
#define VYXCAM_IMAGE_FILE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vyxcam {

enum class ImageFormat { Png, Bmp, Pgm, Raw };

// Readers refuse pictures larger than this in memory (a screen-sized colour
// picture is 2.6 MiB; the camera's memory blocks hold 8 MiB).
constexpr size_t kMaxImageBytes = 256u << 20;

const char* formatName(ImageFormat format);
// "png", "bmp", "pgm" or "raw".
std::optional<ImageFormat> formatFromName(const std::string& name);
// From a file name's extension (".png", ".PNG", ".pgm", ".ppm", ...).
std::optional<ImageFormat> formatFromPath(const std::string& path);

// Pixels somebody else owns.
struct ImageView {
    const uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    size_t stride = 0;   // bytes from one row to the next
    int channels = 1;    // 1 grey, 3 B, G, R
};

// A picture owned in memory, rows without padding.
struct Image {
    int width = 0;
    int height = 0;
    int channels = 1;
    std::vector<uint8_t> pixels;
    ImageView view() const
    {
        return ImageView{pixels.data(), width, height, static_cast<size_t>(width) * channels, channels};
    }
};

// Writes a picture; throws RunError.
void writeImageFile(const std::string& path, ImageFormat format, const ImageView& image);

// Reads a PNG, BMP, PGM or PPM picture, told apart by its first bytes;
// throws RunError naming the file and what is wrong with it.
Image readImageFile(const std::string& path);

// The codecs (one source each).
void writePng(const std::string& path, const ImageView& image);
// The PNG file's bytes in memory; throws RunError.
std::vector<uint8_t> encodePng(const ImageView& image);
// A baseline JPEG (libturbojpeg) at quality 1 to 100; throws RunError.
std::vector<uint8_t> encodeJpeg(const ImageView& image, int quality);
Image readPng(const std::string& path);
void writeBmp(const std::string& path, const ImageView& image);
Image readBmp(const std::string& path);
void writePnm(const std::string& path, const ImageView& image);
Image readPnm(const std::string& path);

}  // namespace vyxcam

#endif
