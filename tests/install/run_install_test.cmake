# Installs the library from a build tree (TAVRIN_BUILD_DIR) into a fresh prefix
# under WORK_DIR, then configures, builds and runs the consumer project
# (CONSUMER_SOURCE_DIR) against it; any failing step fails the test.
cmake_minimum_required(VERSION 3.25)

foreach(var TAVRIN_BUILD_DIR CONSUMER_SOURCE_DIR WORK_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
if(NOT BUILD_CONFIG)
  set(BUILD_CONFIG Release)
endif()

set(prefix "${WORK_DIR}/prefix")
set(consumer_build "${WORK_DIR}/consumer-build")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

function(run_step what)
  message(STATUS "install test: ${what}")
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc COMMAND_ECHO STDOUT)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "install test: ${what} failed (${rc})")
  endif()
endfunction()

run_step("install into ${prefix}"
  "${CMAKE_COMMAND}" --install "${TAVRIN_BUILD_DIR}" --prefix "${prefix}" --config "${BUILD_CONFIG}")

set(configure_args
  -S "${CONSUMER_SOURCE_DIR}" -B "${consumer_build}"
  "-DCMAKE_PREFIX_PATH=${prefix}"
  "-DCMAKE_BUILD_TYPE=${BUILD_CONFIG}")
if(GENERATOR)
  list(APPEND configure_args -G "${GENERATOR}")
endif()
if(CXX_COMPILER)
  list(APPEND configure_args "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}")
endif()
if(SANITIZE)
  # A library built with sanitizers needs their runtime in the executable.
  list(APPEND configure_args
    "-DCMAKE_CXX_FLAGS=-fsanitize=${SANITIZE}"
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=${SANITIZE}")
endif()

run_step("configure the consumer" "${CMAKE_COMMAND}" ${configure_args})
run_step("build the consumer"
  "${CMAKE_COMMAND}" --build "${consumer_build}" --config "${BUILD_CONFIG}")
run_step("run the consumer"
  "${CMAKE_CTEST_COMMAND}" --test-dir "${consumer_build}" -C "${BUILD_CONFIG}" --output-on-failure
  --no-tests=error)
