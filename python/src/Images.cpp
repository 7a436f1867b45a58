// Images.cpp - strided copies between NumPy arrays and the library's layouts.
#include "Images.h"

#include <cstring>
#include <string>

#include "LibraryError.h"

namespace py = pybind11;

namespace vyxpy {

namespace {

constexpr unsigned kRowAlignBits = 32;  // rows are padded to 32-bit words
constexpr unsigned kGrey = 1, kRgb = 3, kRgba = 4;
constexpr uint8_t kOpaque = 255;

bool isUint8(const py::array& a) { return a.dtype().kind() == 'u' && a.itemsize() == 1; }

std::string shapeText(const py::array& a) {
    std::string s = "(";
    for (py::ssize_t i = 0; i < a.ndim(); ++i) s += (i ? ", " : "") + std::to_string(a.shape(i));
    return s + (a.ndim() == 1 ? ",)" : ")");
}

std::string shapeText(const std::vector<py::ssize_t>& shape) {
    std::string s = "(";
    for (size_t i = 0; i < shape.size(); ++i) s += (i ? ", " : "") + std::to_string(shape[i]);
    return s + ")";
}

}  // namespace

std::vector<py::ssize_t> FrameGeometry::shape() const {
    if (count > 1) return {static_cast<py::ssize_t>(count), height, width};
    return {height, width};
}

std::vector<py::ssize_t> FrameGeometry::strides() const {
    const auto row = static_cast<py::ssize_t>(stride);
    if (count > 1) return {row * height, row, 1};
    return {row, 1};
}

size_t paddedRowBytes(unsigned width, unsigned bitsPerPixel) {
    return (static_cast<size_t>(width) * bitsPerPixel + kRowAlignBits - 1) / kRowAlignBits * 4;
}

FrameTarget frameTarget(py::array& out, const FrameGeometry& geometry, const char* function) {
    const std::vector<py::ssize_t> shape = geometry.shape();
    if (!isUint8(out)) badParameter(function, "out must be a uint8 array, not " + std::string(py::str(out.dtype())));
    bool same = out.ndim() == static_cast<py::ssize_t>(shape.size());
    for (size_t i = 0; same && i < shape.size(); ++i) same = out.shape(static_cast<py::ssize_t>(i)) == shape[i];
    if (!same) badParameter(function, "out has shape " + shapeText(out) + ", the frames have " + shapeText(shape));
    if (!out.writeable()) badParameter(function, "out is read-only");
    FrameTarget t;
    t.data = static_cast<uint8_t*>(out.mutable_data());
    const py::ssize_t dims = out.ndim();
    t.colStride = out.strides(dims - 1);
    t.rowStride = out.strides(dims - 2);
    t.frameStride = dims == 3 ? out.strides(0) : 0;
    return t;
}

void copyFrames(const uint8_t* buffer, const FrameGeometry& g, const FrameTarget& t) {
    const auto width = static_cast<size_t>(g.width);
    for (unsigned long k = 0; k < g.count; ++k) {
        const uint8_t* frame = buffer + k * g.frameBytes();
        uint8_t* dstFrame = t.data + static_cast<py::ssize_t>(k) * t.frameStride;
        for (int y = 0; y < g.height; ++y) {
            const uint8_t* src = frame + static_cast<size_t>(y) * g.stride;
            uint8_t* dst = dstFrame + y * t.rowStride;
            if (t.colStride == 1) {
                memcpy(dst, src, width);
            } else {
                for (size_t x = 0; x < width; ++x) dst[static_cast<py::ssize_t>(x) * t.colStride] = src[x];
            }
        }
    }
}

ImageSource imageSource(const py::array& image, const char* function) {
    if (!isUint8(image)) badParameter(function, "the image must be a uint8 array, not " + std::string(py::str(image.dtype())));
    const bool grey = image.ndim() == 2;
    const bool colour = image.ndim() == 3 && (image.shape(2) == kRgb || image.shape(2) == kRgba);
    if (!grey && !colour)
        badParameter(function, "the image must be (height, width) grey or (height, width, 3|4) RGB(A), not " +
                                   shapeText(image));
    if (image.shape(0) == 0 || image.shape(1) == 0) badParameter(function, "the image is empty");
    if (image.shape(0) > 0xFFFF || image.shape(1) > 0xFFFF) badParameter(function, "the image is too large");
    ImageSource s;
    s.data = static_cast<const uint8_t*>(image.data());
    s.height = static_cast<unsigned>(image.shape(0));
    s.width = static_cast<unsigned>(image.shape(1));
    s.channels = grey ? kGrey : static_cast<unsigned>(image.shape(2));
    s.rowStride = image.strides(0);
    s.colStride = image.strides(1);
    s.channelStride = grey ? 0 : image.strides(2);
    return s;
}

void packImage(const ImageSource& s, unsigned outChannels, size_t rowBytes, uint8_t* dst) {
    for (unsigned y = 0; y < s.height; ++y) {
        uint8_t* out = dst + static_cast<size_t>(y) * rowBytes;
        memset(out, 0, rowBytes);
        const uint8_t* row = s.data + static_cast<py::ssize_t>(y) * s.rowStride;
        for (unsigned x = 0; x < s.width; ++x) {
            const uint8_t* px = row + static_cast<py::ssize_t>(x) * s.colStride;
            uint8_t* o = out + static_cast<size_t>(x) * outChannels;
            if (s.channels == kGrey) {
                o[0] = px[0];
                continue;
            }
            o[0] = px[2 * s.channelStride];  // blue
            o[1] = px[s.channelStride];      // green
            o[2] = px[0];                    // red
            if (outChannels == kRgba) o[3] = s.channels == kRgba ? px[3 * s.channelStride] : kOpaque;
        }
    }
}

}  // namespace vyxpy
