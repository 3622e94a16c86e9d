# Installs the build tree into a private prefix, then configures, builds and
# runs the consumer project against that prefix. Everything stays under VELA_WORK_DIR.
foreach(var VELA_BUILD_DIR VELA_WORK_DIR VELA_CONSUMER_SOURCE_DIR VELA_GENERATOR
            VELA_C_COMPILER VELA_CXX_COMPILER)
  if(NOT ${var})
    message(FATAL_ERROR "run_consumer.cmake: ${var} is not set")
  endif()
endforeach()
if(NOT VELA_CONFIG)
  set(VELA_CONFIG Release)
endif()

set(prefix ${VELA_WORK_DIR}/prefix)
set(consumer_build ${VELA_WORK_DIR}/consumer-build)
file(REMOVE_RECURSE ${prefix} ${consumer_build})

execute_process(
  COMMAND ${CMAKE_COMMAND} --install ${VELA_BUILD_DIR} --config ${VELA_CONFIG} --prefix ${prefix}
  COMMAND_ECHO STDOUT
  COMMAND_ERROR_IS_FATAL ANY)

set(configure_args
  -S ${VELA_CONSUMER_SOURCE_DIR}
  -B ${consumer_build}
  -G ${VELA_GENERATOR}
  -DCMAKE_BUILD_TYPE=${VELA_CONFIG}
  -DCMAKE_C_COMPILER=${VELA_C_COMPILER}
  -DCMAKE_CXX_COMPILER=${VELA_CXX_COMPILER}
  -DCMAKE_PREFIX_PATH=${prefix}
  # Only the freshly installed package may satisfy find_package.
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
  -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
if(VELA_MAKE_PROGRAM)
  list(APPEND configure_args -DCMAKE_MAKE_PROGRAM=${VELA_MAKE_PROGRAM})
endif()
if(VELA_CONSUMER_FLAGS)
  list(APPEND configure_args
    "-DCMAKE_CXX_FLAGS=${VELA_CONSUMER_FLAGS}"
    "-DCMAKE_C_FLAGS=${VELA_CONSUMER_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${VELA_CONSUMER_FLAGS}")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} --no-warn-unused-cli ${configure_args}
  COMMAND_ECHO STDOUT
  COMMAND_ERROR_IS_FATAL ANY)

# A vela_math found anywhere else (say a system-wide install) would prove nothing.
file(STRINGS ${consumer_build}/CMakeCache.txt found_dir REGEX "^vela_math_DIR:")
string(REGEX REPLACE "^[^=]*=" "" found_dir "${found_dir}")
file(REAL_PATH "${found_dir}" found_dir)
file(REAL_PATH "${prefix}" real_prefix)
string(FIND "${found_dir}/" "${real_prefix}/" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "vela_math was found in '${found_dir}', not under '${real_prefix}'")
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} --build ${consumer_build} --config ${VELA_CONFIG}
  COMMAND_ECHO STDOUT
  COMMAND_ERROR_IS_FATAL ANY)

foreach(program app generated_check)
  execute_process(
    COMMAND ${consumer_build}/bin/${program}
    COMMAND_ECHO STDOUT
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
