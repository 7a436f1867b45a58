# The SDK for its consumers, beside the install rules of the targets
# themselves (each folder installs what it builds into its component):
#   dev  a relocatable CMake package, find_package(vyxzeb 2.2 CONFIG), with the
#        targets vyxzeb::vyxzeb, vyxzeb::headers and vyxzeb::plugin, and the
#        pkg-config file vyxzeb.pc
#   sim  the part of the CMake package that knows the virtual board
#        (vyxzeb::vyxsim, vyxzeb::vyxboard, VYXZEB_VYXSIM)
include(CMakePackageConfigHelpers)

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
