# Installs the build tree into a scratch prefix, then configures, builds
# and runs tests/consumer against it (find_package(korvofur)). Run by
# CTest as the "install" test; fails when any step fails.
set(scratch ${KORVO_BINARY_DIR}/install-check)
file(REMOVE_RECURSE ${scratch})
set(prefix ${scratch}/prefix)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run("install" ${CMAKE_COMMAND} --install ${KORVO_BINARY_DIR} --prefix ${prefix})
foreach(file include/korvofur/korvofur.h include/korvofur/foundation/names.h)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
# Private headers stay out of the package.
foreach(file include/korvofur/render/scan_convert.h include/korvofur/imagefile/image_io.h)
  if(EXISTS ${prefix}/${file})
    message(FATAL_ERROR "private header installed: ${file}")
  endif()
endforeach()
# The x86-64-v3 copy of the library goes where the loader looks for it.
if(KORVO_HWCAPS)
  file(GLOB_RECURSE v3 ${prefix}/*/glibc-hwcaps/x86-64-v3/libkorvofur.so.0)
  if(NOT v3)
    message(FATAL_ERROR "not installed: glibc-hwcaps/x86-64-v3/libkorvofur.so.0")
  endif()
endif()
file(GLOB_RECURSE pc ${prefix}/*/korvofur.pc)
if(NOT pc)
  message(FATAL_ERROR "no pkg-config file installed")
endif()

# A sanitized library needs its runtime loaded first: build the consumer
# with the same sanitizers.
set(flags "")
if(KORVO_SANITIZE)
  set(flags "-fsanitize=address,undefined")
endif()
run("consumer configure" ${CMAKE_COMMAND} -S ${KORVO_SOURCE_DIR}/tests/consumer
    -B ${scratch}/build -G ${KORVO_GENERATOR} -DCMAKE_BUILD_TYPE=${KORVO_BUILD_TYPE}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_FLAGS=${flags})
run("consumer build" ${CMAKE_COMMAND} --build ${scratch}/build)
run("consumer run" ${scratch}/build/consumer)
if(NOT last_output STREQUAL "ok\n")
  message(FATAL_ERROR "consumer said: ${last_output}")
endif()
message(STATUS "installed package builds and runs a consumer")
