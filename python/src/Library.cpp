// Library.cpp - calls that belong to the library rather than to one camera:
// its version, and saving images as BMP files through its writer.
#include <pybind11/numpy.h>

#include <string>
#include <vector>

#include "Bindings.h"
#include "Images.h"
#include "LibraryError.h"
#include "Session.h"
#include "VYXZebApi.h"

namespace py = pybind11;

namespace vyxpy {

namespace {

constexpr unsigned kBitsPerByte = 8;

py::tuple libraryVersion() {
    int v[4] = {};
    check(VYXZEB_GetLibVersion(&v[0], &v[1], &v[2], &v[3]), "VYXZEB_GetLibVersion");
    return py::make_tuple(v[0], v[1], v[2], v[3]);
}

// The writer stores rows as given: grey with a grey palette, colour as
// B, G, R (24 bits) or B, G, R, A (32 bits), rows padded to 4 bytes.
void saveBmp(const py::array& image, const std::string& path) {
    const char* name = "VYXZEB_HelperSaveToBmp";
    auto keep = Session::require(name);
    const ImageSource src = imageSource(image, name);
    const unsigned bits = src.channels * kBitsPerByte;
    const size_t rowBytes = paddedRowBytes(src.width, bits);
    int rc;
    {
        py::gil_scoped_release unlocked;
        std::vector<uint8_t> rows(rowBytes * src.height);
        packImage(src, src.channels, rowBytes, rows.data());
        rc = VYXZEB_HelperSaveToBmp(rows.data(), static_cast<int>(src.width), static_cast<int>(src.height),
                                    static_cast<int>(bits), path.c_str());
    }
    check(rc, name);
}

}  // namespace

void bindLibrary(py::module_& m) {
    m.def("library_version", &libraryVersion);
    m.def("save_bmp", &saveBmp, py::arg("image"), py::arg("path"));
}

}  // namespace vyxpy
