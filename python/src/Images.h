// Images.h - NumPy arrays to and from the library's image layouts.
//
// The library's frames and BMP rows are padded to a multiple of 4 bytes;
// colour pixels are stored blue, green, red (and alpha).  NumPy images are
// (height, width) grey or (height, width, 3|4) RGB(A) arrays of uint8 with
// any strides.  The descriptors below are taken while the GIL is held; the
// copies themselves run without it.
#ifndef VYXPY_IMAGES_H
#define VYXPY_IMAGES_H

#include <pybind11/numpy.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vyxpy {

// Size and layout of the frames a camera set delivers.
struct FrameGeometry {
    int width = 0;
    int height = 0;
    int bits = 0;
    unsigned long count = 1;  // frames stored back to back in one buffer
    size_t stride = 0;        // bytes per row

    // (height, width), or (count, height, width) for several frames per buffer.
    std::vector<pybind11::ssize_t> shape() const;
    // Byte strides of that shape in the frame buffer.
    std::vector<pybind11::ssize_t> strides() const;
    size_t frameBytes() const { return stride * static_cast<size_t>(height); }
    bool operator==(const FrameGeometry& o) const {
        return width == o.width && height == o.height && bits == o.bits && count == o.count;
    }
    bool operator!=(const FrameGeometry& o) const { return !(*this == o); }
};

// Bytes per row of an image: rows padded to a multiple of 4 bytes.
size_t paddedRowBytes(unsigned width, unsigned bitsPerPixel);

// Where a frame copy goes: an array of the geometry's shape.
struct FrameTarget {
    uint8_t* data = nullptr;
    pybind11::ssize_t frameStride = 0, rowStride = 0, colStride = 0;
};
// Checks that `out` is a writeable uint8 array of the geometry's shape.
FrameTarget frameTarget(pybind11::array& out, const FrameGeometry& geometry, const char* function);
// Copies the frames of a buffer into the target (no GIL needed).
void copyFrames(const uint8_t* buffer, const FrameGeometry& geometry, const FrameTarget& target);

// An image a caller gives: grey (1 channel) or RGB / RGBA (3 or 4).
struct ImageSource {
    const uint8_t* data = nullptr;
    unsigned width = 0, height = 0, channels = 0;
    pybind11::ssize_t rowStride = 0, colStride = 0, channelStride = 0;
};
// Checks the image (uint8, 2-D, or 3-D with 3 or 4 channels, not empty).
ImageSource imageSource(const pybind11::array& image, const char* function);
// Writes rows of rowBytes bytes: grey as it is, colour as B, G, R and, when
// outChannels is 4, A (255 for an RGB source).  Padding bytes are zero.
void packImage(const ImageSource& image, unsigned outChannels, size_t rowBytes, uint8_t* dst);

}  // namespace vyxpy

#endif
