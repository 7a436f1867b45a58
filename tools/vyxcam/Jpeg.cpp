// Jpeg.cpp - JPEG through libturbojpeg: grey frames as one-channel JPEGs,
// colour as 4:2:0.
#include <turbojpeg.h>

#include "Errors.h"
#include "ImageFile.h"

namespace vyxcam {

namespace {

// Frees the compressor and its output however the function is left.
struct Compressor {
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    ~Compressor()
    {
        if (out != nullptr) tjFree(out);
        if (handle != nullptr) tjDestroy(handle);
    }
};

}  // namespace

std::vector<uint8_t> encodeJpeg(const ImageView& view, int quality)
{
    Compressor c;
    if (c.handle == nullptr) throw RunError(std::string("cannot start the JPEG encoder: ") + tjGetErrorStr());
    const bool grey = view.channels == 1;
    unsigned long size = 0;
    if (tjCompress2(c.handle, view.pixels, view.width, static_cast<int>(view.stride), view.height,
                    grey ? TJPF_GRAY : TJPF_BGR, &c.out, &size, grey ? TJSAMP_GRAY : TJSAMP_420, quality,
                    TJFLAG_FASTDCT) != 0)
        throw RunError(std::string("cannot encode a JPEG picture: ") + tjGetErrorStr2(c.handle));
    return std::vector<uint8_t>(c.out, c.out + size);
}

}  // namespace vyxcam
