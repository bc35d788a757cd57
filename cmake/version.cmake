# SPDX-License-Identifier: Apache-2.0
# The project's version and the commit it was built from, for programs that
# print them: a header written into the build tree when CMake configures
# (zv_version.h: ZV_VERSION "2.2", ZV_COMMIT "abc1234" or "unknown"),
# reached by linking the INTERFACE target zvversion.  Outside a git
# checkout (a source tarball) the commit is "unknown" unless -DZV_COMMIT=
# names it.
set(ZV_COMMIT "" CACHE STRING "Commit the build is made from (default: git rev-parse --short HEAD)")
set(ZV_VERSION_COMMIT "${ZV_COMMIT}")
if(ZV_VERSION_COMMIT STREQUAL "")
  set(ZV_VERSION_COMMIT unknown)
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --short HEAD
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    RESULT_VARIABLE zv_git_status
                    OUTPUT_VARIABLE zv_git_commit
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(zv_git_status EQUAL 0 AND zv_git_commit MATCHES "^[0-9a-f]+$")
      set(ZV_VERSION_COMMIT ${zv_git_commit})
    endif()
  endif()
endif()

# The date the manual pages carry: the commit's, not the build's.
set(ZV_SOURCE_EPOCH "")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  RESULT_VARIABLE zv_git_status OUTPUT_VARIABLE zv_git_epoch
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(zv_git_status EQUAL 0 AND zv_git_epoch MATCHES "^[0-9]+$")
    set(ZV_SOURCE_EPOCH ${zv_git_epoch})
  endif()
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/zv_version.h.in
               ${PROJECT_BINARY_DIR}/generated/zv_version.h @ONLY)
add_library(zvversion INTERFACE)
target_include_directories(zvversion INTERFACE ${PROJECT_BINARY_DIR}/generated)

# Every Windows program carries a version resource (cmake/packaging.cmake).
if(WIN32)
  enable_language(RC)
endif()
