# SPDX-License-Identifier: Apache-2.0
# The layering check of the suite.  It reads every #include "folder/..."
# of every C++ source of the tree and fails, naming file and line, when a
# folder includes from a folder that it may not use (one above it, a
# sibling, or a companion's).  It reads each folder's CMakeLists.txt too
# and fails when a folder includes from a library that its
# target_link_libraries does not name, or links a library of a layer it may
# not use.  And it fails on a circle of includes between the modules of
# one directory (a.cc includes b.h, b.cc includes c.h, c.cc includes a.h).
# The table below is the rule; ARCHITECTURE.md explains it.  Run by ctest
# (test "layers"), or by hand:
#   cmake -DZV_SOURCE_DIR=. -P cmake/check_layers.cmake
# Includes without a folder (the generated zv_version.h, the system's <...>)
# are not looked at.
cmake_policy(VERSION 3.22)

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

# The layer of a path (a file or a folder) and the include prefixes it may
# use; "" when its folder has none.
function(zv_layer_of path out_layer out_allowed)
  foreach(entry ${ZV_LAYERS})
    string(REGEX REPLACE "=.*" "" folder "${entry}")
    string(REGEX REPLACE "^[^=]*=" "" allowed "${entry}")
    if(folder STREQUAL "tools/*" AND path MATCHES "^tools/([^/]+)/")
      set(folder "tools/${CMAKE_MATCH_1}")
      string(REPLACE "*" "${CMAKE_MATCH_1}" allowed "${allowed}")
    endif()
    string(FIND "${path}" "${folder}/" at)
    if(at EQUAL 0)
      separate_arguments(allowed)
      set(${out_layer} "${folder}" PARENT_SCOPE)
      set(${out_allowed} "${allowed}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out_layer} "" PARENT_SCOPE)
endfunction()

# 1 in out when the include path starts with one of the prefixes.
function(zv_allowed target prefixes out)
  foreach(prefix ${prefixes})
    string(FIND "${target}" "${prefix}" at)
    if(at EQUAL 0)
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} FALSE PARENT_SCOPE)
endfunction()

# Notes what an include tells the two checks below: the folder of another
# library that the file's folder uses (ZV_USES_*, with where it is first
# used), and a module of the file's own directory that its module uses
# (ZV_EDGES_*; a module is a file name without its extension).
macro(zv_note_include file layer target line)
  string(REGEX MATCH "^(tools/[^/]+|[^/]+)" used "${target}")
  string(MAKE_C_IDENTIFIER "${layer}" layer_id)
  if(NOT used STREQUAL layer AND NOT used IN_LIST ZV_USES_${layer_id})
    list(APPEND ZV_USES_${layer_id} "${used}")
    zv_line_of("${file}" "${line}" number)
    set(ZV_USE_WHERE_${layer_id}_${used} "${file}:${number}")
  endif()
  get_filename_component(dir "${file}" DIRECTORY)
  get_filename_component(target_dir "${target}" DIRECTORY)
  get_filename_component(from "${file}" NAME_WE)
  get_filename_component(to "${target}" NAME_WE)
  if(dir STREQUAL target_dir AND NOT from STREQUAL to)
    string(MAKE_C_IDENTIFIER "${dir}/${from}" from_id)
    list(APPEND ZV_EDGES_${from_id} "${to}")
  endif()
endmacro()

set(ZV_FAULTS 0)
foreach(file ${ZV_SOURCES})
  get_filename_component(dir "${file}" DIRECTORY)
  get_filename_component(module "${file}" NAME_WE)
  string(MAKE_C_IDENTIFIER "${dir}" dir_id)
  if(NOT module IN_LIST ZV_MODULES_${dir_id})
    list(APPEND ZV_MODULES_${dir_id} "${module}")
  endif()
  if(NOT dir IN_LIST ZV_DIRS)
    list(APPEND ZV_DIRS "${dir}")
  endif()
  zv_layer_of("${file}" layer allowed)
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
    zv_note_include("${file}" "${layer}" "${target}" "${line}")
    zv_allowed("${target}" "${allowed}" ok)
    if(NOT ok)
      zv_line_of("${file}" "${line}" number)
      string(REPLACE ";" " " may "${allowed}")
      message(NOTICE "${file}:${number}: ${layer}/ includes \"${target}\", from a layer "
                     "it may not use (${layer}/ may include: ${may}); see ARCHITECTURE.md")
      math(EXPR ZV_FAULTS "${ZV_FAULTS} + 1")
    endif()
  endforeach()
endforeach()

# The links.  Each folder's CMakeLists.txt links, in its
# target_link_libraries (and a program's ZV_PLATFORM), a library of every
# folder that its sources include, and no library of a layer it may not
# use.  A library belongs to the folder whose CMakeLists.txt adds it, and
# stands for that folder's headers; the platform's libraries stand each
# for the header of its users.
set(ZV_PLATFORM_LIBRARIES
  "zvplatform_api=platform/platform.h" "zvplatform=platform/platform.h"
  "zvplatform_companions=platform/platform_companions.h"
  "zvplatform_testing=platform/platform_testing.h")
set(ZV_LISTS)
foreach(top ${ZV_TOP})
  if(IS_DIRECTORY "${ZV_SOURCE_DIR}/${top}" AND NOT top MATCHES "^(build|\\.)")
    file(GLOB_RECURSE found RELATIVE "${ZV_SOURCE_DIR}" "${ZV_SOURCE_DIR}/${top}/CMakeLists.txt")
    list(APPEND ZV_LISTS ${found})
  endif()
endforeach()
# The text of a CMakeLists.txt without its comments.
function(zv_cmake_text list out)
  file(STRINGS "${ZV_SOURCE_DIR}/${list}" lines)
  set(text "")
  foreach(line ${lines})
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(APPEND text "${line} ")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
foreach(list ${ZV_LISTS})
  zv_cmake_text("${list}" text)
  get_filename_component(folder "${list}" DIRECTORY)
  string(REGEX MATCHALL "add_library\\([ ]*[A-Za-z0-9_]+" added "${text}")
  foreach(entry ${added})
    string(REGEX REPLACE "add_library\\([ ]*" "" library "${entry}")
    set(ZV_PREFIX_${library} "${folder}/")
  endforeach()
endforeach()
foreach(entry ${ZV_PLATFORM_LIBRARIES})
  string(REGEX REPLACE "=.*" "" library "${entry}")
  string(REGEX REPLACE "^[^=]*=" "" ZV_PREFIX_${library} "${entry}")
endforeach()

foreach(list ${ZV_LISTS})
  get_filename_component(folder "${list}" DIRECTORY)
  zv_layer_of("${list}" layer allowed)
  if(NOT layer STREQUAL folder)
    continue()  # a folder inside a layer: its layer's CMakeLists.txt links
  endif()
  zv_cmake_text("${list}" text)
  string(REGEX MATCHALL "target_link_libraries\\([^)]*\\)|ZV_PLATFORM[ ]+[A-Za-z0-9_]+" calls
         "${text}")
  set(linked_folders)
  foreach(call ${calls})
    string(REGEX MATCH "[( ][^()]*" words "${call}")
    separate_arguments(words UNIX_COMMAND "${words}")
    if(call MATCHES "^target_link")
      list(REMOVE_AT words 0)  # the target itself
    endif()
    foreach(library ${words})
      if(NOT DEFINED ZV_PREFIX_${library})
        continue()  # a keyword, a variable, a system or outside library
      endif()
      set(prefix "${ZV_PREFIX_${library}}")
      string(REGEX MATCH "^(tools/[^/]+|[^/]+)" linked "${prefix}")
      list(APPEND linked_folders "${linked}")
      zv_allowed("${prefix}" "${allowed}" ok)
      if(NOT ok)
        zv_line_of("${list}" "${library}" number)
        string(REPLACE ";" " " may "${allowed}")
        message(NOTICE "${list}:${number}: ${layer}/ links ${library} (${prefix}), from a "
                       "layer it may not use (${layer}/ may use: ${may}); see ARCHITECTURE.md")
        math(EXPR ZV_FAULTS "${ZV_FAULTS} + 1")
      endif()
    endforeach()
  endforeach()
  # The tests and the fuzzers may use everything: their programs link the
  # libraries they test with all those below them, and the fuzzers build
  # the stand-in's sources into an object library of their own.
  if(layer MATCHES "^(tests|fuzz)$")
    continue()
  endif()
  string(MAKE_C_IDENTIFIER "${layer}" layer_id)
  foreach(used ${ZV_USES_${layer_id}})
    if(NOT used IN_LIST linked_folders)
      message(NOTICE "${ZV_USE_WHERE_${layer_id}_${used}}: ${layer}/ includes from ${used}/, "
                     "but ${list} links no library of ${used}/")
      math(EXPR ZV_FAULTS "${ZV_FAULTS} + 1")
    endif()
  endforeach()
endforeach()

# Circles of includes inside a directory: a module that, include after
# include, comes back to itself.  Each circle is named once, by its
# modules in order; one known circle may stand while it is being broken.
set(ZV_KNOWN_CIRCLES)
foreach(dir ${ZV_DIRS})
  string(MAKE_C_IDENTIFIER "${dir}" dir_id)
  set(modules ${ZV_MODULES_${dir_id}})
  # What each module reaches, include after include.
  foreach(module ${modules})
    string(MAKE_C_IDENTIFIER "${dir}/${module}" id)
    set(reached)
    set(queue ${ZV_EDGES_${id}})
    while(queue)
      list(POP_FRONT queue next)
      if(NOT next IN_LIST reached)
        list(APPEND reached "${next}")
        string(MAKE_C_IDENTIFIER "${dir}/${next}" next_id)
        list(APPEND queue ${ZV_EDGES_${next_id}})
      endif()
    endwhile()
    set(ZV_REACH_${id} ${reached})
  endforeach()
  set(named)
  foreach(module ${modules})
    string(MAKE_C_IDENTIFIER "${dir}/${module}" id)
    if(NOT module IN_LIST ZV_REACH_${id})
      continue()
    endif()
    set(circle "${module}")
    foreach(other ${ZV_REACH_${id}})
      string(MAKE_C_IDENTIFIER "${dir}/${other}" other_id)
      if(NOT other STREQUAL module AND module IN_LIST ZV_REACH_${other_id})
        list(APPEND circle "${other}")
      endif()
    endforeach()
    list(SORT circle)
    string(REPLACE ";" " " circle "${dir}: ${circle}")
    if(circle IN_LIST named)
      continue()
    endif()
    list(APPEND named "${circle}")
    if(NOT circle IN_LIST ZV_KNOWN_CIRCLES)
      message(NOTICE "${circle}: these modules include each other in a circle; "
                     "a module of a folder builds only on the ones below it")
      math(EXPR ZV_FAULTS "${ZV_FAULTS} + 1")
    endif()
  endforeach()
endforeach()

list(LENGTH ZV_SOURCES count)
if(count EQUAL 0)
  message(FATAL_ERROR "layers: no sources under ${ZV_SOURCE_DIR}")
endif()
if(ZV_FAULTS GREATER 0)
  message(FATAL_ERROR "layers: ${ZV_FAULTS} include(s), link(s) or circle(s) against the "
                      "layers, in ${count} sources")
endif()
message(STATUS "layers: ${count} sources, every include and link within its layer, "
               "no circle of includes")
