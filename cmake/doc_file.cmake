# SPDX-License-Identifier: Apache-2.0
# One step of the documents' build, run as cmake -DMODE=... -DIN=... -DOUT=...
# [-DTOOL=...] -P doc_file.cmake:
#   roff   TOOL (scdoc) turns the scdoc source IN into the manual page OUT,
#          dated by EPOCH (seconds) when given, so that it does not change
#          with the day of the build
#   gzip   TOOL (gzip) packs IN into OUT the way Debian wants it: -9, no name
#          and no time stamp inside, so that two builds give the same bytes
#   text   TOOL (groff) sets the manual page IN as plain ASCII text, with
#          CR LF line ends, for Windows
#   crlf   IN copied to OUT with CR LF line ends
# OUT is written whole or not at all.
foreach(var IN ITEMS MODE IN OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "doc_file.cmake: ${var} not given")
  endif()
endforeach()

get_filename_component(out_dir "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${out_dir}")
set(partial "${OUT}.part")
file(REMOVE "${partial}")
if(MODE STREQUAL roff)
  if(EPOCH)
    set(ENV{SOURCE_DATE_EPOCH} "${EPOCH}")
  endif()
  execute_process(COMMAND "${TOOL}" INPUT_FILE "${IN}" OUTPUT_FILE "${partial}"
                  RESULT_VARIABLE status)
elseif(MODE STREQUAL gzip)
  execute_process(COMMAND "${TOOL}" -9nc INPUT_FILE "${IN}" OUTPUT_FILE "${partial}"
                  RESULT_VARIABLE status)
elseif(MODE STREQUAL text OR MODE STREQUAL crlf)
  if(MODE STREQUAL text)
    # -P-cbou: no escape sequences, no overstriking for bold or underline.
    execute_process(COMMAND "${TOOL}" -t -man -Tascii -P-cbou "${IN}"
                    OUTPUT_VARIABLE content RESULT_VARIABLE status)
  else()
    file(READ "${IN}" content)
    set(status 0)
  endif()
  string(REPLACE "\r\n" "\n" content "${content}")
  string(REPLACE "\n" "\r\n" content "${content}")
  file(WRITE "${partial}" "${content}")
else()
  message(FATAL_ERROR "doc_file.cmake: unknown MODE ${MODE}")
endif()

if(NOT status EQUAL 0)
  file(REMOVE "${partial}")
  message(FATAL_ERROR "doc_file.cmake: ${MODE} of ${IN} failed (${status})")
endif()
file(RENAME "${partial}" "${OUT}")
