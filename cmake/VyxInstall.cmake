# The SDK for its consumers, beside the install rules of the targets
# themselves (each folder installs what it builds into its component):
#   dev  a relocatable CMake package, find_package(vyxzeb 2.2 CONFIG), with the
#        targets vyxzeb::vyxzeb, vyxzeb::headers and vyxzeb::plugin, and the
#        pkg-config file vyxzeb.pc
#   sim  the part of the CMake package that knows the virtual board
#        (vyxzeb::vyxsim, vyxzeb::vyxboard, VYXZEB_VYXSIM)
include(CMakePackageConfigHelpers)

# Install layout.  The board's library and plug-in live in /usr/lib itself
# (libvyxzeb loads /usr/lib/libvyxSensorQ210B.so by that path), so the
# prefix defaults to /usr and the library folder is lib, not a multiarch one.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()
set(CMAKE_INSTALL_LIBDIR lib)
include(GNUInstallDirs)
if(NOT CMAKE_INSTALL_FULL_LIBDIR STREQUAL "/usr/lib")
  message(STATUS "Installing into ${CMAKE_INSTALL_FULL_LIBDIR}: libvyxzeb still loads its "
                 "sensor plug-in from /usr/lib/libvyxSensorQ210B.so")
endif()
# Shared libraries are installed without the execute bit, as Debian wants.
set(VYX_LIBRARY_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# vyx_install_man(PAGE COMPONENT): installs packaging/man/PAGE (section 1),
# compressed, with the program it describes.
function(vyx_install_man page component)
  set(src ${PROJECT_SOURCE_DIR}/packaging/man/${page})
  set(out ${PROJECT_BINARY_DIR}/man/${page}.gz)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${src})
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man)
  execute_process(COMMAND gzip -9nc ${src} OUTPUT_FILE ${out} RESULT_VARIABLE rc)
  if(rc EQUAL 0)
    install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  endif()
endfunction()

set(VYX_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vyxzeb)

install(EXPORT vyxzebTargets NAMESPACE vyxzeb::
  DESTINATION ${VYX_CMAKE_PACKAGE_DIR} COMPONENT dev)
install(EXPORT vyxzebSimTargets NAMESPACE vyxzeb::
  DESTINATION ${VYX_CMAKE_PACKAGE_DIR} COMPONENT sim)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vyxzebConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vyxzebConfig.cmake
  INSTALL_DESTINATION ${VYX_CMAKE_PACKAGE_DIR}
  PATH_VARS CMAKE_INSTALL_BINDIR)
# Same major version; the pointer size must match too, so an x86-64 SDK is
# never taken for the board's.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vyxzebConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vyxzebConfig.cmake ${PROJECT_BINARY_DIR}/vyxzebConfigVersion.cmake
  DESTINATION ${VYX_CMAKE_PACKAGE_DIR} COMPONENT dev)

# pkg-config: the prefix is found relative to the .pc file itself.
file(RELATIVE_PATH VYX_PC_PREFIX_FROM_PCDIR ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" VYX_PC_PREFIX_FROM_PCDIR "${VYX_PC_PREFIX_FROM_PCDIR}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/vyxzeb.pc.in ${PROJECT_BINARY_DIR}/vyxzeb.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vyxzeb.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
