# Installs the build tree into a private prefix, then configures, builds and
# runs the consumer project against that prefix, all under VELA_WORK_DIR.
if(NOT VELA_CONFIG)
  set(VELA_CONFIG Release)
endif()
# With VELA_PACKAGE_SOURCE_DIR, the package is first built there (in the form
# VELA_PACKAGE_SHARED says) instead of taken from VELA_BUILD_DIR.
if(VELA_PACKAGE_SOURCE_DIR)
  set(VELA_BUILD_DIR ${VELA_WORK_DIR}/package)
  execute_process(
    COMMAND ${CMAKE_COMMAND} --no-warn-unused-cli -S ${VELA_PACKAGE_SOURCE_DIR} -B ${VELA_BUILD_DIR}
      -G ${VELA_GENERATOR} -DCMAKE_MAKE_PROGRAM=${VELA_MAKE_PROGRAM}
      -DCMAKE_BUILD_TYPE=${VELA_CONFIG} -DCMAKE_C_COMPILER=${VELA_C_COMPILER}
      -DCMAKE_CXX_COMPILER=${VELA_CXX_COMPILER} -DBUILD_SHARED_LIBS=${VELA_PACKAGE_SHARED}
      "-DCMAKE_C_FLAGS_DEBUG=-O0 -g0" "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -g0" -DVELA_UNITY_BUILD=ON
      -DVELA_BUILD_TESTS=OFF -DVELA_BUILD_EXAMPLES=OFF -DVELA_BUILD_BENCHMARKS=OFF
    COMMAND_ECHO STDOUT COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${VELA_BUILD_DIR} --parallel 2
                  COMMAND_ECHO STDOUT COMMAND_ERROR_IS_FATAL ANY)
endif()

set(prefix ${VELA_WORK_DIR}/prefix)
file(REMOVE_RECURSE ${prefix})
execute_process(
  COMMAND ${CMAKE_COMMAND} --install ${VELA_BUILD_DIR} --config ${VELA_CONFIG} --prefix ${prefix}
  COMMAND_ECHO STDOUT COMMAND_ERROR_IS_FATAL ANY)
file(REAL_PATH "${prefix}" real_prefix)
file(GLOB libdir LIST_DIRECTORIES true ${prefix}/lib*/pkgconfig)
cmake_path(GET libdir PARENT_PATH libdir)

# Shared objects: only the public API is exported, with a versioned SONAME.
file(GLOB shared_objects ${libdir}/libvela_*.so)
foreach(object IN LISTS shared_objects)
  execute_process(COMMAND nm -DC --defined-only ${object} OUTPUT_VARIABLE symbols
                  COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "[^\n]*(::frame::|anonymous namespace|detail::(CodeGenerator|TapeState|Scratch|EvaluationMemo)::)[^\n]*"
         internal "${symbols}")
  if(internal)
    list(JOIN internal "\n" internal)
    message(FATAL_ERROR "${object} exports internal symbols:\n${internal}")
  endif()
  execute_process(COMMAND objdump -p ${object} OUTPUT_VARIABLE headers COMMAND_ERROR_IS_FATAL ANY)
  if(NOT headers MATCHES "SONAME +libvela_[a-z0-9_]+\\.so\\.[0-9]+\\.[0-9]+\n")
    message(FATAL_ERROR "${object} has no versioned SONAME")
  endif()
endforeach()

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

  # The same generated C as a plain C project builds it, through pkg-config.
  set(ENV{PKG_CONFIG_PATH} ${libdir}/pkgconfig)
  execute_process(COMMAND pkg-config --cflags --libs vela_codegen_runtime
                  OUTPUT_VARIABLE pc_flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
  separate_arguments(cc_flags UNIX_COMMAND "${flags}")
  execute_process(
    COMMAND ${VELA_C_COMPILER} ${cc_flags} -Wall -Wextra -pedantic -Werror ${build}/generated_check.c
      ${VELA_CONSUMER_SOURCE_DIR}/user_symbols.c ${pc_flags} -o ${build}/generated_check_pc
    COMMAND_ECHO STDOUT COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${libdir} ${build}/generated_check_pc
                  COMMAND_ECHO STDOUT COMMAND_ERROR_IS_FATAL ANY)
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
