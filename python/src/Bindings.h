// Bindings.h - the parts of the module _vyxzeb that bind whole families of
// library calls as module functions (Module.cpp binds the classes).
#ifndef VYXPY_BINDINGS_H
#define VYXPY_BINDINGS_H

#include <pybind11/pybind11.h>

namespace vyxpy {

// gpio_count, gpio_get, gpio_set, ... (Gpio.cpp)
void bindGpio(pybind11::module_& m);
// library_version, save_bmp, set_log, log_file (Library.cpp)
void bindLibrary(pybind11::module_& m);

}  // namespace vyxpy

#endif
