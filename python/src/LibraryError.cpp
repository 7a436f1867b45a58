// LibraryError.cpp - return codes into Python exceptions.
#include "LibraryError.h"

#include "VYXZebRet.h"

namespace py = pybind11;

namespace vyxpy {

LibraryError::LibraryError(int code, std::string function, std::string detail)
    : std::runtime_error(function + ": " + VYXZEB_RetName(code) +
                         (detail.empty() ? std::string() : " (" + detail + ")")),
      m_code(code),
      m_function(std::move(function)),
      m_detail(std::move(detail)) {}

void badParameter(const char* function, const std::string& detail) {
    throw LibraryError(VYXZEB_RET_BAD_PARAMETER, function, detail);
}

namespace {

// Raises the vyxzeb.Error subclass of the code; the Python side owns the
// classes, so a library code and a Python-side check raise the same type.
void raiseInPython(const LibraryError& e) {
    try {
        py::object make = py::module_::import("vyxzeb._errors").attr("error_from_code");
        py::object exc = make(e.code(), e.function(), e.detail());
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
    } catch (py::error_already_set& importFailed) {
        importFailed.restore();
    }
}

py::list retTable() {
    size_t count = 0;
    const VYXZEB_RET_INFO* table = VYXZEB_RetTable(&count);
    py::list rows;
    for (size_t i = 0; i < count; ++i)
        rows.append(py::make_tuple(table[i].code, table[i].name, table[i].text));
    return rows;
}

}  // namespace

void bindErrors(py::module_& m) {
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const LibraryError& e) {
            raiseInPython(e);
        }
    });
    m.def("ret_table", &retTable,
          "Every return code of the library as (code, name, one-line text), success first.");
}

}  // namespace vyxpy
