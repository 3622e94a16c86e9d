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

# pkg-config for plain C builds of generated code. The file finds the prefix
# from its own place, so the installed tree may move. Shared kernels bring
# LAPACK themselves; static ones need it on the command line.
set(VELA_PC_LAPACK "")
foreach(lib IN LISTS LAPACK_LIBRARIES)
  if(lib MATCHES "^(.*)/lib([^/]+)\\.(so|a)(\\.[0-9.]*)?$")
    if(NOT CMAKE_MATCH_1 IN_LIST CMAKE_C_IMPLICIT_LINK_DIRECTORIES)
      list(APPEND VELA_PC_LAPACK "-L${CMAKE_MATCH_1}")
    endif()
    list(APPEND VELA_PC_LAPACK "-l${CMAKE_MATCH_2}")
  elseif(lib MATCHES "^-")
    list(APPEND VELA_PC_LAPACK "${lib}")
  else()
    list(APPEND VELA_PC_LAPACK "-l${lib}")
  endif()
endforeach()
list(JOIN VELA_PC_LAPACK " " VELA_PC_LAPACK)
if(BUILD_SHARED_LIBS)
  set(VELA_PC_LIBS "")
  set(VELA_PC_LIBS_PRIVATE "${VELA_PC_LAPACK}")
else()
  set(VELA_PC_LIBS "${VELA_PC_LAPACK}")
  set(VELA_PC_LIBS_PRIVATE "")
endif()
# (An absolute libdir pins the prefix instead.)
set(VELA_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
if(NOT IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  file(RELATIVE_PATH up /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
  string(REGEX REPLACE "/$" "" up "${up}")
  set(VELA_PC_PREFIX "\${pcfiledir}/${up}")
endif()
foreach(dir INCLUDEDIR LIBDIR)
  set(VELA_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(VELA_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/vela_codegen_runtime.pc.in
               ${PROJECT_BINARY_DIR}/vela_codegen_runtime.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vela_codegen_runtime.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
