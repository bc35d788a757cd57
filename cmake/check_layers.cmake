# SPDX-License-Identifier: Apache-2.0
# The layering check of the suite: reads every #include "folder/..." of
# every C++ source of the tree and fails, naming file and line, when a
# folder includes from a folder that it may not use (one above it, a
# sibling, or a companion's).  The table below is the rule; ARCHITECTURE.md
# explains it.  Run by ctest (test "layers"), or by hand:
#   cmake -DZV_SOURCE_DIR=. -P cmake/check_layers.cmake
# Includes without a folder (the generated zv_version.h, the system's <...>)
# are not looked at.

if(NOT ZV_SOURCE_DIR)
  set(ZV_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/..")
endif()
# Relative to where cmake runs, as a user gives it.
get_filename_component(ZV_SOURCE_DIR "${ZV_SOURCE_DIR}" ABSOLUTE)

# Each folder of the tree, and the include paths it may use (a prefix ending
# in "/" stands for a whole folder, any other for one header).  The first
# entry whose folder starts a file's path is that file's layer; in
# "tools/*" the star is the companion's own folder.
set(ZV_TOOL_BELOW_APP "platform/platform.h base/ crypto/ image/ net/ monitor/")
set(ZV_LAYERS
  "platform=platform/"
  "base=platform/platform.h base/"
  "crypto=platform/platform.h base/ crypto/"
  "image=platform/platform.h base/ crypto/ image/"
  "net=platform/platform.h base/ crypto/ image/ net/"
  "monitor=platform/platform.h base/ crypto/ image/ monitor/"
  "app=${ZV_TOOL_BELOW_APP} app/"
  "tools/common=${ZV_TOOL_BELOW_APP} platform/platform_companions.h tools/common/"
  "tools/*=${ZV_TOOL_BELOW_APP} app/ platform/platform_companions.h tools/common/ tools/*/"
  "bench=${ZV_TOOL_BELOW_APP} app/"
  "tests=platform/ base/ crypto/ image/ net/ monitor/ app/ tools/ tests/"
  "fuzz=platform/ base/ crypto/ image/ net/ monitor/ app/ tools/ tests/ fuzz/")

# The sources: every folder at the top but the build trees and hidden ones.
file(GLOB ZV_TOP RELATIVE "${ZV_SOURCE_DIR}" LIST_DIRECTORIES true "${ZV_SOURCE_DIR}/*")
set(ZV_SOURCES)
foreach(top ${ZV_TOP})
  if(IS_DIRECTORY "${ZV_SOURCE_DIR}/${top}" AND NOT top MATCHES "^(build|\\.)")
    file(GLOB_RECURSE found RELATIVE "${ZV_SOURCE_DIR}"
         "${ZV_SOURCE_DIR}/${top}/*.h" "${ZV_SOURCE_DIR}/${top}/*.cc"
         "${ZV_SOURCE_DIR}/${top}/*.hpp" "${ZV_SOURCE_DIR}/${top}/*.cpp")
    list(APPEND ZV_SOURCES ${found})
  endif()
endforeach()
list(SORT ZV_SOURCES)

# The line of the first occurrence of the text in the file.
function(zv_line_of file text out)
  file(READ "${ZV_SOURCE_DIR}/${file}" content)
  string(FIND "${content}" "${text}" at)
  string(SUBSTRING "${content}" 0 ${at} before)
  string(REGEX MATCHALL "\n" ends "${before}")
  list(LENGTH ends n)
  math(EXPR n "${n} + 1")
  set(${out} ${n} PARENT_SCOPE)
endfunction()

set(ZV_FAULTS 0)
foreach(file ${ZV_SOURCES})
  set(layer "")
  foreach(entry ${ZV_LAYERS})
    string(REGEX REPLACE "=.*" "" folder "${entry}")
    string(REGEX REPLACE "^[^=]*=" "" allowed "${entry}")
    if(folder STREQUAL "tools/*" AND file MATCHES "^tools/([^/]+)/")
      set(folder "tools/${CMAKE_MATCH_1}")
      string(REPLACE "*" "${CMAKE_MATCH_1}" allowed "${allowed}")
    endif()
    string(FIND "${file}" "${folder}/" at)
    if(at EQUAL 0)
      set(layer "${folder}")
      separate_arguments(allowed)
      break()
    endif()
  endforeach()
  if(layer STREQUAL "")
    message(NOTICE "${file}: its folder has no layer: add it to the table of "
                   "cmake/check_layers.cmake and to ARCHITECTURE.md")
    math(EXPR ZV_FAULTS "${ZV_FAULTS} + 1")
    continue()
  endif()
  file(STRINGS "${ZV_SOURCE_DIR}/${file}" lines
       REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]*/[^\"]*\"")
  foreach(line ${lines})
    string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*" "\\1" target "${line}")
    set(ok FALSE)
    foreach(prefix ${allowed})
      string(FIND "${target}" "${prefix}" at)
      if(at EQUAL 0)
        set(ok TRUE)
        break()
      endif()
    endforeach()
    if(NOT ok)
      zv_line_of("${file}" "${line}" number)
      string(REPLACE ";" " " may "${allowed}")
      message(NOTICE "${file}:${number}: ${layer}/ includes \"${target}\", from a layer "
                     "it may not use (${layer}/ may include: ${may}); see ARCHITECTURE.md")
      math(EXPR ZV_FAULTS "${ZV_FAULTS} + 1")
    endif()
  endforeach()
endforeach()

list(LENGTH ZV_SOURCES count)
if(count EQUAL 0)
  message(FATAL_ERROR "layers: no sources under ${ZV_SOURCE_DIR}")
endif()
if(ZV_FAULTS GREATER 0)
  message(FATAL_ERROR "layers: ${ZV_FAULTS} include(s) against the layers, in ${count} sources")
endif()
message(STATUS "layers: ${count} sources, every include within its layer")
