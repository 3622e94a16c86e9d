# Installs the build tree into a private prefix, then configures, builds and
# runs the consumer project against that prefix, all under VELA_WORK_DIR.
if(NOT VELA_CONFIG)
  set(VELA_CONFIG Release)
endif()
set(prefix ${VELA_WORK_DIR}/prefix)
file(REMOVE_RECURSE ${prefix})
execute_process(
  COMMAND ${CMAKE_COMMAND} --install ${VELA_BUILD_DIR} --config ${VELA_CONFIG} --prefix ${prefix}
  COMMAND_ECHO STDOUT COMMAND_ERROR_IS_FATAL ANY)
file(REAL_PATH "${prefix}" real_prefix)

function(build_and_run_consumer name extra_flags)
  set(build ${VELA_WORK_DIR}/${name})
  file(REMOVE_RECURSE ${build})
  set(flags "${VELA_CONSUMER_FLAGS} ${extra_flags}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} --no-warn-unused-cli -S ${VELA_CONSUMER_SOURCE_DIR} -B ${build}
      -G ${VELA_GENERATOR} -DCMAKE_MAKE_PROGRAM=${VELA_MAKE_PROGRAM}
      -DCMAKE_BUILD_TYPE=${VELA_CONFIG} -DCMAKE_C_COMPILER=${VELA_C_COMPILER}
      -DCMAKE_CXX_COMPILER=${VELA_CXX_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
      "-DCMAKE_CXX_FLAGS=${flags}" "-DCMAKE_C_FLAGS=${flags}"
      "-DCMAKE_EXE_LINKER_FLAGS=${VELA_CONSUMER_FLAGS}"
      # Only the freshly installed package may satisfy find_package.
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF
    COMMAND_ECHO STDOUT COMMAND_ERROR_IS_FATAL ANY)
  # A vela_math found anywhere else (say a system-wide install) would prove nothing.
  file(STRINGS ${build}/CMakeCache.txt found_dir REGEX "^vela_math_DIR:")
  string(REGEX REPLACE "^[^=]*=" "" found_dir "${found_dir}")
  file(REAL_PATH "${found_dir}" found_dir)
  string(FIND "${found_dir}/" "${real_prefix}/" at)
  if(NOT at EQUAL 0)
    message(FATAL_ERROR "vela_math was found in '${found_dir}', not under '${real_prefix}'")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} --config ${VELA_CONFIG}
                  COMMAND_ECHO STDOUT COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${build}/bin/generated_check COMMAND_ECHO STDOUT
                  COMMAND_ERROR_IS_FATAL ANY)
endfunction()

build_and_run_consumer(consumer-build "")

# With hardware FMA, -march=native lets the compiler contract a * b + c,
# which the package's targets must switch off.
file(READ /proc/cpuinfo cpuinfo)
if(cpuinfo MATCHES "[ \t]fma[ \t\n]")
  build_and_run_consumer(consumer-build-native "-O2 -march=native")
else()
  message(STATUS "no FMA on this CPU: the -march=native consumer build is skipped")
endif()
