# SPDX-License-Identifier: Apache-2.0
# The platform layer is built as one library per user (platform/
# CMakeLists.txt): this check holds a program to the services of its own
# users.  It reads the program's symbols with nm and fails, naming each,
# when the program holds a function that one of the given headers declares
# (and, for the companions' header, a system call that only the
# companions' services make: child processes, pipes, terminal, ICMP echo,
# random bytes, ...).  Run by ctest (tests platform_users_*), or by hand:
#   cmake -DNM=nm -DPROGRAM=build/zvloader -DZV_SOURCE_DIR=. \
#         "-DHEADERS=platform/platform_companions.h;platform/platform_testing.h" \
#         -P cmake/check_platform_users.cmake

foreach(var NM PROGRAM ZV_SOURCE_DIR HEADERS)
  if(NOT ${var})
    message(FATAL_ERROR "platform users: give -D${var}=...")
  endif()
endforeach()

# What the companions' sources call and the tool's never do, by system.
set(ZV_COMPANION_CALLS
  # POSIX: children and their pipes, signals, terminal, process, random
  fork execv waitpid kill pipe2 dup2 prctl sigaction isatty ioctl getpid
  gethostname readlink mkdir getrandom
  # Windows: the same, and the ICMP helper (not OpenProcess, which the
  # static MinGW runtime imports itself)
  CreateProcessA CreatePipe PeekNamedPipe CreateJobObjectA AssignProcessToJobObject
  SetConsoleCtrlHandler SetConsoleMode GetConsoleScreenBufferInfo
  GetComputerNameA IcmpCreateFile IcmpSendEcho2 IcmpParseReplies rand_s)

# The functions the headers declare: a line that opens with a type and
# names plat...( .
set(functions)
foreach(header ${HEADERS})
  file(STRINGS "${ZV_SOURCE_DIR}/${header}" lines REGEX "^[A-Za-z][^/(]* \\**plat[A-Za-z]+\\(")
  foreach(line ${lines})
    string(REGEX REPLACE "^[^(]* \\**(plat[A-Za-z]+)\\(.*" "\\1" name "${line}")
    list(APPEND functions ${name})
  endforeach()
  if(header MATCHES "platform_companions\\.h$")
    set(calls ${ZV_COMPANION_CALLS})
  endif()
endforeach()
list(LENGTH functions count)
if(count EQUAL 0)
  message(FATAL_ERROR "platform users: no function declared in ${HEADERS}")
endif()
string(REPLACE ";" "|" function_pattern "${functions}")
string(REPLACE ";" "|" call_pattern "${calls}")

execute_process(COMMAND "${NM}" -C "${PROGRAM}" OUTPUT_VARIABLE symbols
                ERROR_VARIABLE error RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "platform users: ${NM} ${PROGRAM} failed: ${error}")
endif()
string(REPLACE ";" "," symbols "${symbols}")
string(REPLACE "\n" ";" symbols "${symbols}")

set(found)
foreach(line ${symbols})
  # "ADDRESS TYPE NAME" or, for what another library defines, "U NAME".
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
  if(name MATCHES "^(${function_pattern})\\(" OR
     (calls AND name MATCHES "^(__imp_)?(${call_pattern})(@.*)?$"))
    list(APPEND found "${name}")
  endif()
endforeach()
if(found)
  list(REMOVE_DUPLICATES found)
  string(REPLACE ";" "\n  " found "${found}")
  get_filename_component(program "${PROGRAM}" NAME)
  message(FATAL_ERROR "platform users: ${program} holds what only the users of "
                      "${HEADERS} may call (its ZV_PLATFORM, or a system call "
                      "outside platform/?):\n  ${found}")
endif()
message(STATUS "platform users: ${PROGRAM}: none of the ${count} functions of ${HEADERS}")
