// LibraryError.h - a failed libvyxzeb call on its way to Python.
//
// The bindings throw LibraryError with the VYXZEB_RET_ code, the name of the
// function that returned it and, where useful, what was asked; a translator
// turns it into the matching vyxzeb.Error subclass (built in vyxzeb/_errors.py
// from the library's return-code table, VYXZebRet.h).
#ifndef VYXPY_LIBRARY_ERROR_H
#define VYXPY_LIBRARY_ERROR_H

#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>

#include "VYXZebApi.h"

namespace vyxpy {

class LibraryError : public std::runtime_error {
public:
    LibraryError(int code, std::string function, std::string detail = {});
    int code() const { return m_code; }
    const std::string& function() const { return m_function; }
    const std::string& detail() const { return m_detail; }

private:
    int m_code;
    std::string m_function;
    std::string m_detail;
};

// Throws LibraryError unless rc is VYXZEB_RET_SUCCESS.
inline void check(int rc, const char* function) {
    if (rc != VYXZEB_RET_SUCCESS) throw LibraryError(rc, function);
}

// Runs a library call without the GIL and throws LibraryError on failure.
template <class Call>
void callUnlocked(const char* function, Call&& call) {
    int rc;
    {
        pybind11::gil_scoped_release unlocked;
        rc = call();
    }
    check(rc, function);
}

// A value the caller gave that no call could accept (VYXZEB_RET_BAD_PARAMETER).
[[noreturn]] void badParameter(const char* function, const std::string& detail);

// ret_table() and the translator of LibraryError into vyxzeb.Error.
void bindErrors(pybind11::module_& m);

}  // namespace vyxpy

#endif
