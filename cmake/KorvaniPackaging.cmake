# Install rules and packages. The program saves the package it fetches next to itself, so
# it is a helper that setup programs copy, not a command for PATH: it goes to
# libexec/korvani-download/, with nothing beside it but its documentation.
#
# Two layouts from the one program:
#  - the default install (cmake --install, and the DEB): a Debian helper, as above, with
#    the README and Debian's copyright (DEP-5) and changelog.gz in the doc folder;
#  - component "portable" (only the TGZ): one flat folder with the program, the README and
#    the licence, for a setup author to put beside their setup files.

set(maintainer_default "The korvani-download developers <korvani-download@korvani.example>")
set(KORVANI_PACKAGE_MAINTAINER "${maintainer_default}"
    CACHE STRING "The DEB's Maintainer: name <address> of whoever ships the package")
# Build folders configured before keep the earlier default, a host that Debian refuses.
if(KORVANI_PACKAGE_MAINTAINER STREQUAL "The korvani-download developers <korvani-download@localhost>")
  set_property(CACHE KORVANI_PACKAGE_MAINTAINER PROPERTY VALUE "${maintainer_default}")
endif()
# A malformed one would only surface in the finished DEB, as lintian's complaint.
if(NOT KORVANI_PACKAGE_MAINTAINER MATCHES "^[^<>@]*[^<>@ ] <[^<>@ ]+@[^<>@ .]+(\\.[^<>@ .]+)+>$")
  message(FATAL_ERROR "KORVANI_PACKAGE_MAINTAINER must read \"Name <user@mail.host>\", "
                      "with a host name that has a dot; it is \"${KORVANI_PACKAGE_MAINTAINER}\".")
endif()

# Every timestamp in the packages (files, archives, the changelog's date) is
# $SOURCE_DATE_EPOCH, or else the last commit's time, so that two builds of one commit
# give the same bytes wherever and whenever they run.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(KORVANI_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  set(KORVANI_SOURCE_DATE_EPOCH "")
  find_package(Git QUIET)
  if(GIT_FOUND)
    # Only this project's own history: a source tree unpacked inside another repository
    # must not take that one's time.
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE git_top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    file(REAL_PATH "${PROJECT_SOURCE_DIR}" source_real)
    if(git_top AND EXISTS "${git_top}")
      file(REAL_PATH "${git_top}" git_top)
    endif()
    if(git_top STREQUAL source_real)
      execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                      OUTPUT_VARIABLE KORVANI_SOURCE_DATE_EPOCH
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
  endif()
  if(NOT KORVANI_SOURCE_DATE_EPOCH)
    message(STATUS "Neither SOURCE_DATE_EPOCH nor a git history: the packages take the time "
                   "they are made, so two builds differ")
  endif()
endif()
if(KORVANI_SOURCE_DATE_EPOCH)
  set(ENV{SOURCE_DATE_EPOCH} "${KORVANI_SOURCE_DATE_EPOCH}")
endif()
string(TIMESTAMP KORVANI_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

# Debian's copyright file, from LICENSE, so that the licence text lives in one place.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
if(NOT licence MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(.*)$")
  message(FATAL_ERROR "LICENSE has no \"Copyright (c) ...\" line followed by the licence text")
endif()
set(KORVANI_COPYRIGHT "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" KORVANI_LICENCE_TEXT)
# DEP-5: the text indented by one space, an empty line written as " .".
string(REPLACE "\n\n" "\n.\n" KORVANI_LICENCE_TEXT "${KORVANI_LICENCE_TEXT}")
string(REPLACE "\n" "\n " KORVANI_LICENCE_TEXT " ${KORVANI_LICENCE_TEXT}")
set(debian_docs ${PROJECT_BINARY_DIR}/debian)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${debian_docs}/copyright @ONLY)
# The changelog gzipped as Debian's tools do it: at most compression, without the name and
# time of the uncompressed file (-n), which would make every build differ.
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${debian_docs}/changelog @ONLY)
execute_process(COMMAND gzip -9nc ${debian_docs}/changelog
                OUTPUT_FILE ${debian_docs}/changelog.gz RESULT_VARIABLE gzip_result)
if(NOT gzip_result EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${debian_docs}/changelog: ${gzip_result}")
endif()

install(TARGETS korvani-download
        RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/korvani-download COMPONENT program)
install(FILES README.md ${debian_docs}/copyright ${debian_docs}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT program)

install(TARGETS korvani-download RUNTIME DESTINATION . COMPONENT portable EXCLUDE_FROM_ALL)
install(FILES README.md LICENSE DESTINATION . COMPONENT portable EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME korvani-download)
set(CPACK_PACKAGE_VENDOR "The korvani-download developers")
set(CPACK_PACKAGE_CONTACT "${KORVANI_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Lines of Debian's width; an empty line between paragraphs.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "korvani-download is a small helper that a setup program starts to fetch one"
  "installer package over HTTP. It takes an OS family and a language, picks the"
  "package from its built-in catalogue and shows a small always-on-top window"
  "with the file name, the kilobytes received and a progress bar. It saves the"
  "package next to itself and closes. It prints nothing and exits with status 0."
  ""
  "The program is installed as a helper in /usr/libexec/korvani-download/, for a"
  "setup program to copy into the folder where the package should arrive.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_FILE_NAME
    "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_GENERATOR TGZ DEB)
# Debug information stays in the build tree, whichever build type the packages come from.
set(CPACK_STRIP_FILES ON)
# No source package (package_source): the source is the git tree.
set(CPACK_SOURCE_GENERATOR "")

# TGZ: the portable folder. The per-generator settings live in a file CPack reads for
# each generator in turn; what must wait until the files are staged, in another.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/KorvaniCPackPerGenerator.cmake)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/KorvaniCPackStaged.cmake)
set(CPACK_KORVANI_SOURCE_DATE_EPOCH "${KORVANI_SOURCE_DATE_EPOCH}")
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)

# DEB: a Debian helper package. Its run-time dependencies come from dpkg-shlibdeps (dpkg-dev
# and file must be installed). On top: the window's font. libcurl must be 7.85 or newer,
# for the CURLOPT_PROTOCOLS_STR the program sets on every transfer (the symbols alone would
# let an older libcurl in, which refuses that option); that floor is handed to
# dpkg-shlibdeps as a shlibs.local line (see KorvaniCPackStaged.cmake), so that
# Depends names libcurl once. Qt's X11 and offscreen platforms come with libqt6gui6; its
# Wayland platform is a package of its own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_KORVANI_SHLIBS_LOCAL "libcurl 4 libcurl4 (>= 7.85.0)")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

include(CPack)
