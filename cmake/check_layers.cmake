# Checks that every #include under src/, include/ and tools/ points to the
# same or a lower layer. Run as a test:
#   cmake -DKORVO_SOURCE_DIR=<repo> -P cmake/check_layers.cmake
# Fails (with one line per offending include) when an include points up.
#
# The layers, lowest first. A file in src/<dir>/ may include "<dir2>/x.h"
# only when <dir2> comes no later than <dir> in this list. The public
# headers (include/korvofur/ and the src/ headers listed in
# public_headers.cmake) include only each other, so that the installed set
# is complete; the tools include only korvofur/ headers and their own
# (names without a directory). docs/architecture.md explains the order.
cmake_minimum_required(VERSION 3.20)

set(KORVO_LAYERS host foundation hostlink imagefile descriptions geometry generation render
                 readers maptools)

if(NOT KORVO_SOURCE_DIR)
  get_filename_component(KORVO_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/public_headers.cmake)

file(GLOB_RECURSE files RELATIVE ${KORVO_SOURCE_DIR}
     ${KORVO_SOURCE_DIR}/src/*.h ${KORVO_SOURCE_DIR}/src/*.cpp ${KORVO_SOURCE_DIR}/src/*.y
     ${KORVO_SOURCE_DIR}/src/*.l ${KORVO_SOURCE_DIR}/include/*.h
     ${KORVO_SOURCE_DIR}/tools/*.h ${KORVO_SOURCE_DIR}/tools/*.cpp)

set(violations 0)
foreach(file ${files})
  # The layer of the including file: its src/ directory, or a role.
  if(file MATCHES "^src/([^/]+)/")
    list(FIND KORVO_LAYERS ${CMAKE_MATCH_1} own)
    if(own EQUAL -1)
      message("${file}: directory src/${CMAKE_MATCH_1} is not a layer")
      math(EXPR violations "${violations} + 1")
      continue()
    endif()
  elseif(file MATCHES "^include/")
    set(own public)
  else()
    set(own tool)
  endif()

  set(public FALSE)
  string(REGEX REPLACE "^src/" "" rel "${file}")
  if(own STREQUAL "public" OR rel IN_LIST KORVO_PUBLIC_HEADERS)
    set(public TRUE)
  endif()

  file(STRINGS ${KORVO_SOURCE_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" target "${line}")
    if(NOT target MATCHES "/")
      continue()  # a header beside the file, or a generated parser header
    endif()
    string(REGEX REPLACE "/.*" "" dir "${target}")
    set(ok FALSE)
    if(own STREQUAL "tool")
      if(dir STREQUAL "korvofur")
        set(ok TRUE)
      endif()
    elseif(own STREQUAL "public")
      if(dir STREQUAL "korvofur" OR target IN_LIST KORVO_PUBLIC_HEADERS)
        set(ok TRUE)
      endif()
    elseif(dir STREQUAL "korvofur")
      set(ok TRUE)  # the public headers sit below every layer
    else()
      list(FIND KORVO_LAYERS ${dir} theirs)
      if(theirs GREATER -1 AND NOT theirs GREATER own)
        set(ok TRUE)
      endif()
    endif()
    if(NOT ok)
      message("${file}: #include \"${target}\" points up a layer or out of bounds")
      math(EXPR violations "${violations} + 1")
    elseif(public AND NOT dir STREQUAL "korvofur" AND NOT target IN_LIST KORVO_PUBLIC_HEADERS)
      message("${file}: public header includes the private \"${target}\"")
      math(EXPR violations "${violations} + 1")
    endif()
  endforeach()
endforeach()

if(violations GREATER 0)
  message(FATAL_ERROR "${violations} include(s) break the layer order")
endif()
list(LENGTH files count)
message(STATUS "layer order holds for ${count} files")
