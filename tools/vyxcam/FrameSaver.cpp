// FrameSaver.cpp - the library's BMP writer where it applies, ours elsewhere.
#include "FrameSaver.h"

#include "Errors.h"
#include "LogState.h"
#include "VYXZebApi.h"
#include "VYXZebRet.h"

namespace vyxcam {

namespace {

// The folders VYXZEB_HelperSaveToBmp writes into.
constexpr const char* kPictureFolders[] = {"/picture/sd/", "/picture/data/"};

// Rows as a BMP file holds them: padded to a multiple of 4 bytes.
size_t bmpRowBytes(const ImageView& v) { return ((static_cast<size_t>(v.width) * v.channels * 8 + 31) / 32) * 4; }

}  // namespace

bool inPictureFolder(const std::string& absolutePath)
{
    for (const char* folder : kPictureFolders)
        if (absolutePath.rfind(folder, 0) == 0) return true;
    return false;
}

void saveFrame(const std::string& path, ImageFormat format, const ImageView& frame)
{
    const std::string full = absolutePath(path);
    if (format == ImageFormat::Bmp && inPictureFolder(full) && frame.stride == bmpRowBytes(frame)) {
        // The library takes the rows as they lie in memory and writes them unchanged.
        const int rc = VYXZEB_HelperSaveToBmp(const_cast<unsigned char*>(frame.pixels), frame.width, frame.height,
                                              frame.channels * 8, full.c_str());
        check("VYXZEB_HelperSaveToBmp", rc, full + ": " + VYXZEB_RetText(rc));
        return;
    }
    writeImageFile(path, format, frame);
}

}  // namespace vyxcam
