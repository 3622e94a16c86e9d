# Installs every library of the package with its headers and a CMake package,
# so that consumers need only find_package(vela_math) and vela::math.
include(CMakePackageConfigHelpers)

set(VELA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/vela_math)

install(TARGETS ${VELA_EXPORTED_TARGETS}
  EXPORT vela_mathTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT vela_mathTargets
  NAMESPACE vela::
  DESTINATION ${VELA_INSTALL_CMAKEDIR})

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/vela_mathConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vela_mathConfig.cmake
  INSTALL_DESTINATION ${VELA_INSTALL_CMAKEDIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/vela_mathConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/vela_mathConfig.cmake
  ${PROJECT_BINARY_DIR}/vela_mathConfigVersion.cmake
  DESTINATION ${VELA_INSTALL_CMAKEDIR})
