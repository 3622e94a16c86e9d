# Common settings of every library and executable of the project.
set(VELA_EXPORTED_TARGETS "" CACHE INTERNAL "")

# vela_configure_target(target [UNINSTRUMENTED])
# UNINSTRUMENTED compiles the target's own code without the sanitizers, which
# it still links for the instrumented libraries.
function(vela_configure_target target)
  cmake_parse_arguments(ARG "UNINSTRUMENTED" "" "" ${ARGN})
  # Bit-identical results between evaluation and generated code need no contraction.
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -ffp-contract=off>)
  if(VELA_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(VELA_SANITIZE)
    if(NOT ARG_UNINSTRUMENTED)
      target_compile_options(${target} PRIVATE -fsanitize=address,undefined
                                               -fno-omit-frame-pointer -fno-sanitize-recover=all)
    endif()
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(VELA_UNITY_BUILD)
    # Sources may still be added after this call: decide once all are known.
    # (A deferred call expands its arguments when it runs, hence the EVAL.)
    cmake_language(EVAL CODE "cmake_language(DEFER DIRECTORY [[${PROJECT_SOURCE_DIR}]]
                                              CALL _vela_unity_build [[${target}]])")
  endif()
endfunction()

# Compiles the C++ sources of a target in batches, so that the headers and
# the inline code they instantiate are compiled once per batch, not per file.
# C sources stay separate: without namespaces, file-local helpers of the same
# name in two files are common and harmless.
function(_vela_unity_build target)
  get_target_property(sources ${target} SOURCES)
  get_target_property(dir ${target} SOURCE_DIR)
  set(c_sources "")
  foreach(source IN LISTS sources)
    if(source MATCHES "\\.c$")
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${dir})
      list(APPEND c_sources ${source})
    endif()
  endforeach()
  if(c_sources)
    set_source_files_properties(${c_sources} TARGET_DIRECTORY ${target}
                                PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endif()
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON)
endfunction()

# vela_add_library(name ALIAS alias EXPORT_NAME n SOURCES ... )
# An installed library of the package, exported as vela::<EXPORT_NAME>.
# Without SOURCES the library is header-only (INTERFACE); otherwise it is
# static, or shared with BUILD_SHARED_LIBS.
function(vela_add_library name)
  cmake_parse_arguments(ARG "" "EXPORT_NAME" "SOURCES" ${ARGN})
  if(ARG_SOURCES)
    add_library(${name} ${ARG_SOURCES})
    vela_configure_target(${name})
    if(BUILD_SHARED_LIBS)
      # Only what the public headers declare is exported (they say so with
      # #pragma GCC visibility); the libraries find each other where installed.
      set_target_properties(${name} PROPERTIES
        C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
        VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}
        INSTALL_RPATH "$ORIGIN")
    endif()
  else()
    add_library(${name} INTERFACE)
  endif()
  add_library(vela::${ARG_EXPORT_NAME} ALIAS ${name})
  set_target_properties(${name} PROPERTIES EXPORT_NAME ${ARG_EXPORT_NAME})
  # Consumers compile our inline code and the generated C: contraction into
  # FMA (gcc's default outside ISO mode, and with -march=native) would make
  # their results differ from evaluation in the last bits.
  target_compile_options(${name} INTERFACE $<$<COMPILE_LANGUAGE:C,CXX>:-ffp-contract=off>)
  set(VELA_EXPORTED_TARGETS ${VELA_EXPORTED_TARGETS} ${name} CACHE INTERNAL "")
endfunction()
