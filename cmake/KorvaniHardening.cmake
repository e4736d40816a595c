# Debian's hardening, as `dpkg-buildflags` gives it with DEB_BUILD_MAINT_OPTIONS=hardening=+all,
# for every build a packager makes: on by default when the tests are not built. The test
# builds leave it off: the sanitizers and the fuzzer bring instrumentation of their own.
#
# The packager's flags are honoured, not overridden: ours go in front of theirs, so that
# theirs win where both set something, and a feature their flags already name (say
# -D_FORTIFY_SOURCE=3 or -Wl,-z,lazy) is left to them, which also spares the compiler's
# "redefined" warning. CMake reads $CXXFLAGS and $LDFLAGS on the first configure but never
# $CPPFLAGS (the project has no C, so $CFLAGS has nothing to apply to): that one is read
# here, on the first configure too.

include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)
include(CheckPIESupported)

if(BUILD_TESTING)
  set(hardening_default OFF)
else()
  set(hardening_default ON)
endif()
option(KORVANI_HARDENING "Compile and link with Debian's hardening flags" ${hardening_default})
set(KORVANI_CPPFLAGS "$ENV{CPPFLAGS}" CACHE STRING
    "Preprocessor flags, taken from $CPPFLAGS on the first configure")

set(hardening_compile "")
set(hardening_link "")
if(KORVANI_HARDENING)
  string(TOUPPER "${CMAKE_BUILD_TYPE}" build_type)
  set(packager_compile "${KORVANI_CPPFLAGS} ${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${build_type}}")
  set(packager_link "${CMAKE_EXE_LINKER_FLAGS} ${CMAKE_EXE_LINKER_FLAGS_${build_type}}")

  # korvani_harden(FLAGS_VAR CHECK PACKAGERS_FLAGS PATTERN FLAG...): appends FLAG... unless
  # the packager's flags match PATTERN or the toolchain refuses them (-fcf-protection is
  # x86 only, for one).
  function(korvani_harden list check packagers pattern)
    if(packagers MATCHES "${pattern}")
      return()
    endif()
    string(MAKE_C_IDENTIFIER "KORVANI_HAS${ARGN}" result)
    if(check STREQUAL "compile")
      check_cxx_compiler_flag("${ARGN}" ${result})
    else()
      check_linker_flag(CXX "${ARGN}" ${result})
    endif()
    if(${result})
      set(${list} ${${list}} ${ARGN} PARENT_SCOPE)
    endif()
  endfunction()

  korvani_harden(hardening_compile compile "${packager_compile}" "-f(no-)?stack-protector"
                 -fstack-protector-strong)
  korvani_harden(hardening_compile compile "${packager_compile}" "-f(no-)?stack-clash-protection"
                 -fstack-clash-protection)
  korvani_harden(hardening_compile compile "${packager_compile}" "-fcf-protection"
                 -fcf-protection)
  korvani_harden(hardening_compile compile "${packager_compile}" "format-security"
                 -Wformat -Werror=format-security)
  # glibc's checked functions need the optimiser, and warn on every file without it.
  string(REGEX MATCHALL "(^| )-O[^ ]*" levels "${packager_compile}")
  list(POP_BACK levels level)
  if(level AND NOT level MATCHES "-O0$" AND NOT packager_compile MATCHES "_FORTIFY_SOURCE")
    list(APPEND hardening_compile -D_FORTIFY_SOURCE=2)
  endif()
  korvani_harden(hardening_link link "${packager_link}" "-z,? ?(no)?relro" -Wl,-z,relro)
  korvani_harden(hardening_link link "${packager_link}" "-z,? ?(now|lazy)" -Wl,-z,now)

  if(NOT packager_compile MATCHES "-f(no-)?(pie|PIE)" AND NOT packager_link MATCHES "-no-pie")
    check_pie_supported(LANGUAGES CXX)
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  endif()
endif()

string(JOIN " " CMAKE_CXX_FLAGS ${hardening_compile} ${KORVANI_CPPFLAGS} ${CMAKE_CXX_FLAGS})
foreach(kind EXE SHARED MODULE)
  string(JOIN " " CMAKE_${kind}_LINKER_FLAGS ${hardening_link} ${CMAKE_${kind}_LINKER_FLAGS})
endforeach()
