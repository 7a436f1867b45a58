// Values.cpp - checked conversions of Python values.
#include "Values.h"

#include <cfloat>
#include <cmath>
#include <string>

#include "LibraryError.h"

namespace py = pybind11;

namespace vyxpy {

namespace {
std::string reprOf(py::handle v) { return std::string(py::repr(v)); }
}  // namespace

unsigned long long toUnsigned(py::handle value, const char* function, unsigned long long highest) {
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) throw py::error_already_set();
    int overflow = 0;
    const long long x = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (x == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow != 0 || x < 0 || static_cast<unsigned long long>(x) > highest)
        badParameter(function, reprOf(value) + " is outside 0.." + std::to_string(highest));
    return static_cast<unsigned long long>(x);
}

std::vector<unsigned long long> toUnsignedTuple(py::handle value, size_t count, const char* function,
                                                unsigned long long highest, const char* what) {
    const Py_ssize_t size = PySequence_Check(value.ptr()) ? PySequence_Size(value.ptr()) : -1;
    if (size < 0) PyErr_Clear();
    if (size != static_cast<Py_ssize_t>(count)) badParameter(function, std::string(what) + ", not " + reprOf(value));
    py::sequence seq = py::reinterpret_borrow<py::sequence>(value);
    std::vector<unsigned long long> out;
    for (size_t i = 0; i < count; ++i) out.push_back(toUnsigned(seq[i], function, highest));
    return out;
}

float toFiniteFloat(py::handle value, const char* function) {
    const double d = PyFloat_AsDouble(value.ptr());
    if (d == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    if (!std::isfinite(d) || std::fabs(d) > FLT_MAX) badParameter(function, reprOf(value) + " is not a finite number");
    return static_cast<float>(d);
}

bool toTruth(py::handle value) {
    const int truth = PyObject_IsTrue(value.ptr());
    if (truth < 0) throw py::error_already_set();
    return truth != 0;
}

}  // namespace vyxpy
