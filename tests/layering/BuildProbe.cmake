# cmake -DBUILD_DIR=<dir> -DCONFIG=<config> -DTARGET=<probe> -DHEADER=<header>
#       -DEXPECT=fail|build -P BuildProbe.cmake
# Builds one layering probe. A probe expected to fail must fail because its
# header is not found, not for any other reason.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --config ${CONFIG} --target ${TARGET}
  OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
if(EXPECT STREQUAL "build")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${TARGET} must build (${HEADER}):\n${out}")
  endif()
  return()
endif()
if(rc EQUAL 0)
  message(FATAL_ERROR "${TARGET} built: ${HEADER} is visible to a layer below it")
endif()
string(FIND "${out}" "${HEADER}" at)
if(at EQUAL -1 OR NOT out MATCHES "No such file or directory|file not found")
  message(FATAL_ERROR "${TARGET} failed, but not for want of ${HEADER}:\n${out}")
endif()
message(STATUS "${TARGET} does not build, as required:\n${out}")
