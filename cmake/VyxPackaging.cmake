# Debian packages, cut with CPack from the install components:
#
#   component  package          what                                   built for
#   runtime    libvyxzeb        libvyxzeb.so, libvyxSensorQ210B.so     board, PC
#   dev        libvyxzeb-dev    headers, plug-in interface, CMake
#                               package, vyxzeb.pc                     board, PC
#   tools      vyxzeb-tools     the demo programs and the tools        board, PC
#   sim        vyxzeb-sim       the virtual board and vyxsim           PC only
#   python     python3-vyxzeb   the Python module                      board, PC
#
#   cmake --build build && cpack --config build/CPackConfig.cmake
# writes build/packages/<package>_2.2.0.0_<arch>.deb; the architecture is
# the one the compiler builds for (amd64, or armhf with the cross toolchain).
#
# Joining a package is one line where the target is built:
#   install(TARGETS vyxcam RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
# and a program's manual page (packaging/man/vyxcam.1) one more:
#   vyx_install_man(vyxcam.1 tools)
# Every component with install rules becomes its package; the libraries a
# binary links are found by dpkg-shlibdeps and become Depends by themselves.
# Depends that no linked library shows (an interpreter, a module) go in a
# global property of the component, also from anywhere in the tree:
#   set_property(GLOBAL APPEND PROPERTY VYX_DEB_DEPENDS_python "python3-numpy")
# This file must stay the last one the top-level CMakeLists.txt includes, so
# that it sees every install rule.

set(VYX_DEB_MAINTAINER "libvyxzeb maintainers <maintainers@users.noreply.c-seed-884e9260.example>"
  CACHE STRING "Maintainer field of the Debian packages")

# Debian's name for the architecture the compiler builds for.
function(vyx_deb_architecture out)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
    OUTPUT_VARIABLE triplet OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  execute_process(COMMAND dpkg-architecture -qDEB_HOST_ARCH -t${triplet}
    OUTPUT_VARIABLE arch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR arch STREQUAL "")
    set(arch "")
  endif()
  set(${out} "${arch}" PARENT_SCOPE)
endfunction()
vyx_deb_architecture(VYX_DEB_ARCH)

set(VYX_DEB_PACKAGE_runtime libvyxzeb)
set(VYX_DEB_PACKAGE_dev libvyxzeb-dev)
set(VYX_DEB_PACKAGE_tools vyxzeb-tools)
set(VYX_DEB_PACKAGE_sim vyxzeb-sim)
set(VYX_DEB_PACKAGE_python python3-vyxzeb)

set(VYX_DEB_SECTION_runtime libs)
set(VYX_DEB_SECTION_dev libdevel)
set(VYX_DEB_SECTION_tools utils)
set(VYX_DEB_SECTION_sim devel)
set(VYX_DEB_SECTION_python python)

set(VYX_DEB_DESCRIPTION_runtime "SDK library of the VYX smart camera
libvyxzeb is the library that applications of the VYX smart camera link:
it opens the camera, configures the image sensor, captures frames from the
programmable logic without copying them, shows frames and images on the
HDMI output, hands out physically contiguous memory, drives the GPIO lines
and saves BMP files. The package also holds the plug-in of the Q210B image
sensor, libvyxSensorQ210B, which the library loads at run time.")
set(VYX_DEB_DESCRIPTION_dev "SDK of the VYX smart camera - development files
The headers of libvyxzeb (VYXZebApi.h, VYXZebRet.h, VYXLog.h), the sensor
plug-in interface for writing a plug-in for another sensor, a CMake package
(find_package(vyxzeb)) and a pkg-config file (vyxzeb.pc).")
set(VYX_DEB_DESCRIPTION_tools "SDK of the VYX smart camera - programs
The demo programs capture_demo and bmp_demo, which capture, analyse and show
frames in an endless loop, and the command-line tools of the camera.")
set(VYX_DEB_DESCRIPTION_sim "SDK of the VYX smart camera - virtual board for PCs
The virtual board stands in for the camera's device nodes and models its
programmable logic, image sensor, interrupt and GPIO, so that programs built
for the camera run unchanged on a PC: vyxsim runs a program on it, and a
test executable can link it directly. Not for the camera itself.")
set(VYX_DEB_DESCRIPTION_python "SDK of the VYX smart camera - Python module
The Python 3 module vyxzeb, which captures frames as NumPy arrays and
reaches the settings of libvyxzeb.")

# The components that have install rules, in a fixed order; the virtual
# board only where the packages are for a PC.
get_cmake_property(vyx_installed COMPONENTS)
set(VYX_DEB_COMPONENTS)
foreach(c runtime dev tools sim python)
  if(c IN_LIST vyx_installed AND NOT (c STREQUAL "sim" AND CMAKE_CROSSCOMPILING))
    list(APPEND VYX_DEB_COMPONENTS ${c})
  endif()
endforeach()

# Debian wants a copyright file and a compressed changelog in every package.
set(vyx_deb_dir ${PROJECT_SOURCE_DIR}/packaging/debian)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${vyx_deb_dir}/changelog)
execute_process(COMMAND gzip -9nc ${vyx_deb_dir}/changelog
  OUTPUT_FILE ${PROJECT_BINARY_DIR}/changelog.gz RESULT_VARIABLE vyx_gzip_rc)
foreach(c IN LISTS VYX_DEB_COMPONENTS)
  set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/${VYX_DEB_PACKAGE_${c}})
  install(FILES ${vyx_deb_dir}/copyright DESTINATION ${doc} COMPONENT ${c})
  if(vyx_gzip_rc EQUAL 0)
    install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${doc} COMPONENT ${c})
  endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vyxzeb)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${VYX_DEB_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VYX_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(VYX_DEB_ARCH)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VYX_DEB_ARCH})
endif()
# Depends from the libraries each binary links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Depends between the packages: each of them on exactly this runtime.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
foreach(c IN LISTS VYX_DEB_COMPONENTS)
  string(TOUPPER ${c} C)
  set(CPACK_DEBIAN_${C}_PACKAGE_NAME ${VYX_DEB_PACKAGE_${c}})
  set(CPACK_DEBIAN_${C}_PACKAGE_SECTION ${VYX_DEB_SECTION_${c}})
  set(CPACK_DEBIAN_${C}_DESCRIPTION "${VYX_DEB_DESCRIPTION_${c}}")
  if(NOT c STREQUAL "runtime")
    set(CPACK_COMPONENT_${C}_DEPENDS runtime)
  endif()
  get_property(extra GLOBAL PROPERTY VYX_DEB_DEPENDS_${c})
  if(extra)
    list(JOIN extra ", " extra)
    set(CPACK_DEBIAN_${C}_PACKAGE_DEPENDS "${extra}")
  endif()
endforeach()
# Shared libraries in /usr/lib: the loader's cache is refreshed through the
# ldconfig trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${vyx_deb_dir}/triggers)
set(CPACK_DEBIAN_SIM_PACKAGE_CONTROL_EXTRA ${vyx_deb_dir}/triggers)

include(CPack)
