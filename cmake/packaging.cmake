# SPDX-License-Identifier: Apache-2.0
# What the release packages hold and how they are made, for the four
# programs zvloader, zvfleet, zvinspect and zvdevsim:
#   Windows (ZIP): the .exe files with their version resources, LICENSE.txt,
#     README.txt and the manual pages as text (all with CR LF line ends),
#     and the Wireshark dissector; flat, no folders.
#   Linux, ZV_DEB=ON (DEB, scripts/package.sh deb): the package zvloader,
#     built with Debian's build flags, with its copyright file, changelog
#     and NOTICE in /usr/share/doc/zvloader, manual pages, bash completion
#     and the Wireshark dissector; dependencies from dpkg-shlibdeps.
#   Linux otherwise (TGZ): the same tree under bin/, lib/ and share/, with
#     LICENSE and NOTICE; ZV_STATIC=ON links the programs statically, so
#     that the release tarball runs on older systems.
# The manual pages are written in scdoc (doc/man/*.scd); without scdoc
# they are left out, unless ZV_DOCS=ON asks for them.
option(ZV_DEB "Make the Debian package (CPack DEB) rather than the tarball" OFF)
option(ZV_STATIC "Link the programs statically (the Linux release tarball)" OFF)
set(ZV_DOCS AUTO CACHE STRING "Build the manual pages: AUTO (when scdoc is found), ON, OFF")

set(ZV_PROGRAMS zvloader zvfleet zvinspect zvdevsim)
set(ZV_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
set(ZV_DOC_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/doc_file.cmake)

# --- the programs --------------------------------------------------------
# zvdevsim, zvinspect and zvfleet install themselves beside their sources.
install(TARGETS zvloader RUNTIME DESTINATION ${ZV_BIN_DIR})

if(ZV_STATIC AND NOT WIN32)
  # None of the programs looks a name up, so glibc's static library serves
  # them whole; its threads are part of libc since 2.34.
  foreach(program IN LISTS ZV_PROGRAMS)
    target_link_options(${program} PRIVATE -static)
  endforeach()
endif()

if(WIN32)
  # A version resource in every .exe: what Explorer shows under Details.
  set(ZV_DESCRIPTION_zvloader "ZVloader: update files and uploads to zelvaUnit devices")
  set(ZV_DESCRIPTION_zvfleet "zvfleet: updates every device of a site list")
  set(ZV_DESCRIPTION_zvinspect "zvinspect: checks update files and HEX images offline")
  set(ZV_DESCRIPTION_zvdevsim "zvdevsim: a simulated zelvaUnit device")
  foreach(program IN LISTS ZV_PROGRAMS)
    set(ZV_RC_NAME ${program})
    set(ZV_RC_DESCRIPTION "${ZV_DESCRIPTION_${program}}")
    configure_file(${CMAKE_CURRENT_LIST_DIR}/version.rc.in
                   ${ZV_GENERATED_DIR}/${program}.rc @ONLY)
    target_sources(${program} PRIVATE ${ZV_GENERATED_DIR}/${program}.rc)
  endforeach()
endif()

# --- manual pages ----------------------------------------------------------
set(ZV_MAN_PAGES zvloader zvfleet zvinspect zvdevsim)
set(ZV_DOCS_BUILT OFF)
if(NOT ZV_DOCS STREQUAL OFF)
  find_program(ZV_SCDOC scdoc)
  find_program(ZV_GZIP gzip)
  find_program(ZV_GROFF groff)
  if(WIN32)
    set(ZV_DOC_TOOLS_FOUND ZV_SCDOC ZV_GROFF)
  else()
    set(ZV_DOC_TOOLS_FOUND ZV_SCDOC ZV_GZIP)
  endif()
  set(ZV_DOC_TOOLS_MISSING "")
  foreach(tool IN LISTS ZV_DOC_TOOLS_FOUND)
    if(NOT ${tool})
      list(APPEND ZV_DOC_TOOLS_MISSING ${tool})
    endif()
  endforeach()
  if(ZV_DOC_TOOLS_MISSING AND ZV_DOCS STREQUAL ON)
    message(FATAL_ERROR "ZV_DOCS=ON, but not found: ${ZV_DOC_TOOLS_MISSING} "
                        "(bash scripts/install-deps.sh packaging)")
  elseif(ZV_DOC_TOOLS_MISSING)
    message(STATUS "Manual pages left out (not found: ${ZV_DOC_TOOLS_MISSING})")
  else()
    set(ZV_DOCS_BUILT ON)
  endif()
endif()

if(ZV_DOCS_BUILT)
  set(zv_doc_outputs "")
  foreach(page IN LISTS ZV_MAN_PAGES)
    set(source ${PROJECT_SOURCE_DIR}/doc/man/${page}.1.scd)
    set(roff ${ZV_GENERATED_DIR}/man/${page}.1)
    add_custom_command(OUTPUT ${roff}
      COMMAND ${CMAKE_COMMAND} -DMODE=roff -DTOOL=${ZV_SCDOC} -DEPOCH=${ZV_SOURCE_EPOCH} -DIN=${source} -DOUT=${roff}
              -P ${ZV_DOC_SCRIPT}
      DEPENDS ${source} ${ZV_DOC_SCRIPT}
      COMMENT "Manual page ${page}.1")
    list(APPEND zv_doc_outputs ${roff})
    if(WIN32)
      set(text ${ZV_GENERATED_DIR}/man/${page}.txt)
      add_custom_command(OUTPUT ${text}
        COMMAND ${CMAKE_COMMAND} -DMODE=text -DTOOL=${ZV_GROFF} -DIN=${roff} -DOUT=${text}
                -P ${ZV_DOC_SCRIPT}
        DEPENDS ${roff} ${ZV_DOC_SCRIPT}
        COMMENT "Manual page ${page}.txt")
      list(APPEND zv_doc_outputs ${text})
      install(FILES ${text} DESTINATION ${ZV_DOC_DIR})
    else()
      set(packed ${roff}.gz)
      add_custom_command(OUTPUT ${packed}
        COMMAND ${CMAKE_COMMAND} -DMODE=gzip -DTOOL=${ZV_GZIP} -DIN=${roff} -DOUT=${packed}
                -P ${ZV_DOC_SCRIPT}
        DEPENDS ${roff} ${ZV_DOC_SCRIPT})
      list(APPEND zv_doc_outputs ${packed})
      install(FILES ${packed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${zv_doc_outputs})
endif()

# --- documents, completion, dissector --------------------------------------
if(WIN32)
  foreach(pair "README.md;README.txt" "LICENSE;LICENSE.txt" "NOTICE;NOTICE.txt")
    list(GET pair 0 from)
    list(GET pair 1 to)
    add_custom_command(OUTPUT ${ZV_GENERATED_DIR}/${to}
      COMMAND ${CMAKE_COMMAND} -DMODE=crlf -DIN=${PROJECT_SOURCE_DIR}/${from}
              -DOUT=${ZV_GENERATED_DIR}/${to} -P ${ZV_DOC_SCRIPT}
      DEPENDS ${PROJECT_SOURCE_DIR}/${from} ${ZV_DOC_SCRIPT})
    list(APPEND zv_windows_docs ${ZV_GENERATED_DIR}/${to})
  endforeach()
  add_custom_target(windows_docs ALL DEPENDS ${zv_windows_docs})
  install(FILES ${zv_windows_docs} DESTINATION ${ZV_DOC_DIR})
  install(FILES contrib/wireshark/zvloader.lua DESTINATION ${ZV_DOC_DIR})
else()
  install(FILES README.md DESTINATION ${ZV_DOC_DIR})
  foreach(program IN LISTS ZV_PROGRAMS)
    install(FILES contrib/bash-completion/${program}
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)
  endforeach()
  # Wireshark loads every Lua file of its global plugin folder.
  install(FILES contrib/wireshark/zvloader.lua
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/wireshark/plugins)
  if(ZV_DEB)
    set(changelog ${ZV_GENERATED_DIR}/changelog.Debian.gz)
    add_custom_command(OUTPUT ${changelog}
      COMMAND ${CMAKE_COMMAND} -DMODE=gzip -DTOOL=gzip -DIN=${CMAKE_CURRENT_LIST_DIR}/debian/changelog
              -DOUT=${changelog} -P ${ZV_DOC_SCRIPT}
      DEPENDS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${ZV_DOC_SCRIPT})
    add_custom_target(debian_changelog ALL DEPENDS ${changelog})
    # The license's text is Debian's own (the copyright file points to
    # it); its NOTICE travels with every copy, as in the tarball and zip.
    install(FILES ${changelog} ${CMAKE_CURRENT_LIST_DIR}/debian/copyright NOTICE
            DESTINATION ${ZV_DOC_DIR})
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME zvloader)
    # What Debian's own packaging strips besides the symbols: the compilers'
    # .comment and .note sections.  Runs after every program was installed.
    if(CMAKE_STRIP)
      foreach(program IN LISTS ZV_PROGRAMS)
        install(CODE "
          if(CMAKE_INSTALL_DO_STRIP)
            execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
                            --remove-section=.note
                            \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${ZV_BIN_DIR}/${program}\")
          endif()")
      endforeach()
    endif()
  else()
    install(FILES LICENSE NOTICE DESTINATION ${ZV_DOC_DIR})
  endif()
endif()

# --- CPack -----------------------------------------------------------------
set(CPACK_PACKAGE_NAME zvloader)
set(CPACK_PACKAGE_VENDOR "ZVloader developers")
set(CPACK_PACKAGE_CONTACT "ZVloader developers <zvloader@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "update tool for zelvaUnit devices")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME zvloader-${PROJECT_VERSION}-windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
elseif(ZV_DEB)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion, tshark | wireshark")
  # The summary is the synopsis; each line here one line of the extended
  # description, an empty one a paragraph break.
  set(CPACK_PACKAGE_DESCRIPTION
"ZVloader is the console tool with which a service technician updates a
networked monitoring device of the zelvaUnit family.  It builds encrypted
update files (main firmware from an Intel HEX image, a logo or an HTML
page), uploads one to a device over UDP port 69, and prints the device's
debug messages from UDP port 9029.

The package also holds zvfleet, which updates every device of a site list
at once, zvinspect, which checks update files and HEX images offline, the
device simulator zvdevsim for rehearsals, their manual pages and bash
completion, and a Wireshark dissector for the update protocol.")
else()
  set(CPACK_GENERATOR TGZ)
  if(ZV_STATIC)
    set(CPACK_PACKAGE_FILE_NAME zvloader-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}-static)
  endif()
endif()
include(CPack)
