// ScreenFile.cpp - writing the screen's PNG whole (see ScreenFile.h).
#include "ScreenFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef VYX_BOARD_HAVE_PNG
#include <png.h>
#endif

namespace vb {
namespace model {

namespace {

constexpr mode_t kFileMode = 0644;

// A name beside `path` that no other writer of this or another process uses.
std::string temporaryName(const std::string& path) {
    static std::atomic<unsigned> serial{0};
    return path + "." + std::to_string(getpid()) + "-" + std::to_string(serial.fetch_add(1)) + ".tmp";
}

std::string reason(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

}  // namespace

#ifdef VYX_BOARD_HAVE_PNG
bool writeScreenPng(const std::string& path, const uint8_t* rgb, int width, int height, std::string& error) {
    if (path.empty() || rgb == nullptr || width <= 0 || height <= 0) {
        error = "no screen file or no picture";
        return false;
    }
    const std::string temporary = temporaryName(path);
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
    if (fd < 0) {
        error = reason("cannot create", temporary);
        return false;
    }
    FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        error = reason("cannot write", temporary);
        close(fd);
        unlink(temporary.c_str());
        return false;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    const bool encoded = png_image_write_to_stdio(&image, file, 0, rgb, 0, nullptr) != 0;
    if (!encoded) error = std::string("cannot encode the screen: ") + image.message;
    png_image_free(&image);
    const bool closed = std::fclose(file) == 0;
    if (encoded && !closed) error = reason("cannot write", temporary);
    if (!encoded || !closed) {
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        error = reason("cannot replace", path);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}
#else
// Built without libpng: no screen files.
bool writeScreenPng(const std::string&, const uint8_t*, int, int, std::string& error) {
    error = "built without libpng";
    return false;
}
#endif

}  // namespace model
}  // namespace vb
