// Library.cpp - calls that belong to the library rather than to one camera:
// its version, its diagnostic log, and saving images as BMP files through its
// writer.
#include <pybind11/numpy.h>

#include <string>
#include <vector>

#include "Bindings.h"
#include "Images.h"
#include "LibraryError.h"
#include "Session.h"
#include "VYXLog.h"
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

// Path of the log file while the log is on, else None.
py::object logFile() {
    bool on = false;
    char path[VYXLOG_PATH_SIZE] = {};
    VYXZEB_LogGet(&on, path);
    return on ? py::object(py::str(path)) : py::object(py::none());
}

// A folder switches the log on (a new time-stamped file in it; the folder is
// made if its parent exists), None switches it off.  Works in any state.
py::object setLog(py::object folder) {
    if (folder.is_none()) {
        VYXZEB_LogSet(false, nullptr);  // 1 when no log was open: nothing to do
        return py::none();
    }
    const std::string path = py::str(folder);
    if (path.empty()) throw py::value_error("set_log: the folder is empty");
    int rc;
    {
        py::gil_scoped_release unlocked;
        rc = VYXZEB_LogSet(true, path.c_str());
    }
    if (rc != 0) {
        PyErr_SetString(PyExc_OSError, ("cannot start the log in " + path +
                                        " (its parent folder must exist and the path stay below 128 bytes)")
                                           .c_str());
        throw py::error_already_set();
    }
    return logFile();
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
    m.def("set_log", &setLog, py::arg("folder"));
    m.def("log_file", &logFile);
}

}  // namespace vyxpy
