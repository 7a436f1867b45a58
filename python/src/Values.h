// Values.h - Python values into C arguments of the library.
//
// A value the C type cannot hold is refused with VYXZEB_RET_BAD_PARAMETER
// naming the function it was meant for, so it never wraps around into a
// different value; a value of the wrong kind (a float for a count, a string)
// raises Python's TypeError.
#ifndef VYXPY_VALUES_H
#define VYXPY_VALUES_H

#include <pybind11/pybind11.h>

#include <cstddef>
#include <vector>

namespace vyxpy {

// An integer 0..highest.
unsigned long long toUnsigned(pybind11::handle value, const char* function, unsigned long long highest);
// A sequence of exactly `count` integers 0..highest; `what` names it in the
// message ("the field of view is (x, y, width, height)").
std::vector<unsigned long long> toUnsignedTuple(pybind11::handle value, size_t count, const char* function,
                                                unsigned long long highest, const char* what);
// A finite number that fits a float.
float toFiniteFloat(pybind11::handle value, const char* function);
// Python truth.
bool toTruth(pybind11::handle value);

}  // namespace vyxpy

#endif
