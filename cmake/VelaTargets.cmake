# Common settings of every library and executable of the project.
set(VELA_EXPORTED_TARGETS "" CACHE INTERNAL "")

function(vela_configure_target target)
  # Bit-identical results between evaluation and generated code need no contraction.
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -ffp-contract=off>)
  if(VELA_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(VELA_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# vela_add_library(name ALIAS alias EXPORT_NAME n SOURCES ... )
# An installed library of the package, exported as vela::<EXPORT_NAME>.
# Without SOURCES the library is header-only (INTERFACE).
function(vela_add_library name)
  cmake_parse_arguments(ARG "" "EXPORT_NAME" "SOURCES" ${ARGN})
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    vela_configure_target(${name})
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
