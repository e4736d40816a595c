# What the program itself builds from, each with the Debian package that provides it and,
# where it matters, the least version the code needs. The tests, the package host and the
# benchmarks find what they need on top of this in their own folders.

# korvani_require(WHAT FOUND PACKAGE [VERSION LEAST])
function(korvani_require what found package)
  set(version "${ARGV3}")
  set(least "${ARGV4}")
  if(least)
    set(wanted "${what} ${least} or newer")
  else()
    set(wanted "${what}")
  endif()
  if(NOT found)
    message(FATAL_ERROR "korvani-download needs ${wanted}, which was not found. "
                        "On Debian: apt-get install ${package}")
  endif()
  if(least AND version VERSION_LESS least)
    message(FATAL_ERROR "korvani-download needs ${wanted}; this machine has ${version}. "
                        "Debian 12 or newer has it: apt-get install ${package}")
  endif()
endfunction()

find_package(Qt6 QUIET COMPONENTS Core Gui Widgets)
# Qt 6.4: the Qt 6 of Debian 12, the one the window is written and tested against.
korvani_require("Qt Widgets" "${Qt6Widgets_FOUND}" qt6-base-dev "${Qt6_VERSION}" 6.4)
# moc and uic for every target that needs them.
qt_standard_project_setup()
# It also gives installed programs a RUNPATH of $ORIGIN and $ORIGIN/../lib, for Qt
# libraries shipped beside them. Ours come from the system, and an installed program
# must not look for libraries in whatever folder a setup program copies it to.
set(CMAKE_INSTALL_RPATH "")

find_package(CURL QUIET)
# curl's own CMake file sets CURL_VERSION; CMake's find module, CURL_VERSION_STRING.
if(NOT CURL_VERSION_STRING)
  set(CURL_VERSION_STRING "${CURL_VERSION}")
endif()
# 7.85 brought CURLOPT_PROTOCOLS_STR, which keeps a transfer to http and https.
korvani_require(libcurl "${CURL_FOUND}" libcurl4-openssl-dev "${CURL_VERSION_STRING}" 7.85)

# libcrypto digests the packages that are pinned; libcurl loads it anyway.
find_package(OpenSSL QUIET COMPONENTS Crypto)
korvani_require("OpenSSL's libcrypto" "${OpenSSL_FOUND}" libssl-dev)

find_package(ALSA QUIET)
korvani_require("ALSA (libasound)" "${ALSA_FOUND}" libasound2-dev)

find_package(X11 QUIET)  # X11::Xdamage too, when present, for bench/window_watch
korvani_require(Xlib "${X11_FOUND}" libx11-dev)
# libxcb comes with libx11-dev: the state of Qt's connection to the X server.
korvani_require(libxcb "${X11_xcb_FOUND}" libxcb1-dev)

# Qt's platform interface (Qt6::GuiPrivate) hands out the Wayland connection, and
# libwayland-client says whether it broke. Qt 6.5 hands it out in its public interface.
find_file(KORVANI_QPA_NATIVE_INTERFACE qpa/qplatformnativeinterface.h
          PATHS ${Qt6Gui_PRIVATE_INCLUDE_DIRS} NO_DEFAULT_PATH)
korvani_require("Qt's platform headers" "${KORVANI_QPA_NATIVE_INTERFACE}" qt6-base-private-dev)
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(WaylandClient QUIET IMPORTED_TARGET wayland-client)
endif()
korvani_require(libwayland-client "${WaylandClient_FOUND}" libwayland-dev)
# libseccomp writes the filter of the system calls each process never makes.
if(PkgConfig_FOUND)
  pkg_check_modules(Seccomp QUIET IMPORTED_TARGET libseccomp)
endif()
korvani_require(libseccomp "${Seccomp_FOUND}" libseccomp-dev)

find_package(Threads REQUIRED)
