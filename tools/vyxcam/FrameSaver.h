// FrameSaver.h - writes a captured frame to a file.
//
// A BMP file under the camera's picture folders ("/picture/sd/",
// "/picture/data/") goes through the library's VYXZEB_HelperSaveToBmp,
// which checks the folder and the free space there; every other file goes
// through the tool's own writers (ImageFile.h), BMP in the same layout.
#ifndef VYXCAM_FRAME_SAVER_H
#define VYXCAM_FRAME_SAVER_H

#include <string>

#include "ImageFile.h"

namespace vyxcam {

// The path lies in one of the camera's picture folders.
bool inPictureFolder(const std::string& absolutePath);

// Throws CallError (library writer) or RunError (own writers).
void saveFrame(const std::string& path, ImageFormat format, const ImageView& frame);

}  // namespace vyxcam

#endif
