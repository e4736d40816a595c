# Install rules and packages. The program saves the package it fetches next to itself, so
# it is a helper that setup programs copy, not a command for PATH: it goes to
# libexec/korvani-download/, and only the program, the README and the licence are installed.
#
# Two layouts from the one program:
#  - the default install (cmake --install, and the DEB): a Debian helper, as above;
#  - component "portable" (only the TGZ): one flat folder with the program, the README and
#    the licence, for a setup author to put beside their setup files.

install(TARGETS korvani-download
        RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/korvani-download COMPONENT program)
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT program)

install(TARGETS korvani-download RUNTIME DESTINATION . COMPONENT portable EXCLUDE_FROM_ALL)
install(FILES README.md LICENSE DESTINATION . COMPONENT portable EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME korvani-download)
set(CPACK_PACKAGE_VENDOR "The korvani-download developers")
set(KORVANI_PACKAGE_MAINTAINER "The korvani-download developers <korvani-download@localhost>"
    CACHE STRING "The DEB's Maintainer: name <address> of whoever ships the package")
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
# each generator in turn.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/KorvaniCPackPerGenerator.cmake)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)

# DEB: a Debian helper package. Its run-time dependencies come from dpkg-shlibdeps (dpkg-dev
# and file must be installed). On top: the window's font, and libcurl 7.85, whose
# CURLOPT_PROTOCOLS_STR the program sets on every transfer (the symbols alone would let an
# older libcurl in, which refuses that option). Qt's X11 and offscreen platforms come with
# libqt6gui6; its Wayland platform is a package of its own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, libcurl4 (>= 7.85.0)")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

include(CPack)
