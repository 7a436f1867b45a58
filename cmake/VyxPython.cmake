# The Python the module vyxzeb is built for, and how the tests run it.
#
# Native builds use Debian's /usr/bin/python3 unless Python3_EXECUTABLE says
# otherwise (the module installs into Debian's dist-packages, which only that
# Python reads).  Cross builds take the target's headers and extension suffix
# from its python3-config (libpython3.x-dev:<arch>, co-installable); the
# target's interpreter, NumPy and pytest come from a folder made by
# python/armhf-sysroot.sh (VYX_PYTHON_SYSROOT) and run under the emulator.
#
# Sets VYX_PYTHON_FOUND, VYX_PYTHON_INCLUDE_DIRS, VYX_PYTHON_EXT_SUFFIX and
# VYX_PYTHON_RUN (a command that runs the target's Python here; empty when
# there is none, and then the module's tests are not registered).
option(VYX_BUILD_PYTHON "Build the Python module vyxzeb (needs Python 3 headers, pybind11 and NumPy)" ON)
set(VYX_PYTHON_INSTALL_DIR "lib/python3/dist-packages" CACHE STRING
    "Where the Python module is installed, relative to the prefix (Debian's path)")
set(VYX_PYTHON_SYSROOT "" CACHE PATH
    "Cross builds: the target's Python, NumPy and pytest unpacked by python/armhf-sysroot.sh")
set(VYX_PYTHON_FOUND OFF)
set(VYX_PYTHON_RUN "")

function(vyx_python_skip why)
  message(STATUS "Python module vyxzeb: not built (${why})")
endfunction()

if(NOT VYX_BUILD_PYTHON)
  return()
endif()

# The interpreter and headers are found below, for the target.
set(PYBIND11_NOPYTHON ON)
find_package(pybind11 2.6 CONFIG QUIET)
if(NOT pybind11_FOUND)
  vyx_python_skip("pybind11 not found; Debian: pybind11-dev")
  return()
endif()

if(CMAKE_CROSSCOMPILING)
  find_program(VYX_PYTHON_CONFIG NAMES ${CMAKE_LIBRARY_ARCHITECTURE}-python3-config
                                       ${CMAKE_LIBRARY_ARCHITECTURE}-python3.11-config)
  if(NOT VYX_PYTHON_CONFIG)
    vyx_python_skip("no ${CMAKE_LIBRARY_ARCHITECTURE}-python3-config; Debian: libpython3-dev:<arch>")
    return()
  endif()
  execute_process(COMMAND ${VYX_PYTHON_CONFIG} --includes OUTPUT_VARIABLE includes OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${VYX_PYTHON_CONFIG} --extension-suffix OUTPUT_VARIABLE suffix
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(includes UNIX_COMMAND "${includes}")
  list(TRANSFORM includes REPLACE "^-I" "")
  list(REMOVE_DUPLICATES includes)
  set(VYX_PYTHON_INCLUDE_DIRS ${includes})
  set(VYX_PYTHON_EXT_SUFFIX ${suffix})
  if(VYX_PYTHON_SYSROOT)
    file(GLOB interpreter "${VYX_PYTHON_SYSROOT}/usr/bin/python3.[0-9]*")
    list(FILTER interpreter INCLUDE REGEX "python3\\.[0-9]+$")
    if(interpreter AND CMAKE_CROSSCOMPILING_EMULATOR)
      list(GET interpreter 0 interpreter)
      list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 emulator)
      set(VYX_PYTHON_RUN ${CMAKE_BINARY_DIR}/python/run-python)
      configure_file(${CMAKE_CURRENT_LIST_DIR}/run-python.in ${VYX_PYTHON_RUN} @ONLY
                     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                      WORLD_EXECUTE)
    else()
      message(WARNING "VYX_PYTHON_SYSROOT=${VYX_PYTHON_SYSROOT} holds no Python (run python/armhf-sysroot.sh)")
    endif()
  endif()
else()
  if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
    set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "The Python the module vyxzeb is built for")
  endif()
  find_package(Python3 COMPONENTS Interpreter Development.Module NumPy)
  if(NOT Python3_Development.Module_FOUND)
    vyx_python_skip("no Python headers for ${Python3_EXECUTABLE}; Debian: python3-dev")
    return()
  endif()
  if(NOT Python3_NumPy_FOUND)
    vyx_python_skip("${Python3_EXECUTABLE} has no NumPy; Debian: python3-numpy")
    return()
  endif()
  set(VYX_PYTHON_INCLUDE_DIRS ${Python3_INCLUDE_DIRS})
  set(VYX_PYTHON_EXT_SUFFIX ".${Python3_SOABI}.so")
  set(VYX_PYTHON_RUN ${Python3_EXECUTABLE})
endif()
set(VYX_PYTHON_FOUND ON)
message(STATUS "Python module vyxzeb: built (_vyxzeb${VYX_PYTHON_EXT_SUFFIX})")
