# korvani_catalogue_table(OUTPUT FILE SCHEME http|https [SUMS FILE] [REQUIRE_ALL] [QUIET])
#
# Writes FILE, the C++ source of the program's catalogue table: the packages that
# src/catalogue/Packages.txt lists, reached over SCHEME, each pinned to the SHA-256 that
# SUMS gives for its file name. SUMS is in the format sha256sum writes: a line per file,
# 64 hex digits, a blank, a blank or "*", and the name (a folder in front of it is
# ignored). Empty lines are skipped; any other line that is not of that form fails the
# configure step, naming the file and the line, and so do two different digests for one
# package. A name the catalogue does not list is warned about. With REQUIRE_ALL, a package
# that SUMS does not pin fails the configure step. Unless QUIET, says how many of the
# packages are pinned.
set(KORVANI_CATALOGUE_LIST ${CMAKE_CURRENT_LIST_DIR}/../src/catalogue/Packages.txt)
set(KORVANI_CATALOGUE_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/../src/catalogue/CatalogueTable.cpp.in)

# Sets `out` to the lines of `file`, in order, empty ones included, with every ";" turned
# into the ASCII unit separator so that a line stays one element of the list.
function(_korvani_read_lines file out)
  file(READ "${file}" text)
  string(ASCII 31 separator)
  string(REPLACE ";" "${separator}" text "${text}")
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

function(korvani_catalogue_table)
  cmake_parse_arguments(ARG "REQUIRE_ALL;QUIET" "OUTPUT;SCHEME;SUMS" "" ${ARGN})
  if(NOT ARG_SCHEME MATCHES "^https?$")
    message(FATAL_ERROR "KORVANI_PACKAGE_SCHEME is \"${ARG_SCHEME}\": it must be http or https.")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KORVANI_CATALOGUE_LIST})

  # The catalogue: "family language name kilobytes" per line.
  _korvani_read_lines(${KORVANI_CATALOGUE_LIST} listed)
  set(names)
  foreach(line IN LISTS listed)
    if(line MATCHES "^[ \t]*(#|$)")
      continue()
    endif()
    if(NOT line MATCHES "^([^ \t]+)[ \t]+([^ \t]+)[ \t]+([^ \t]+)[ \t]+([0-9]+)[ \t]*$")
      message(FATAL_ERROR "${KORVANI_CATALOGUE_LIST}: not \"family language name KB\": ${line}")
    endif()
    list(APPEND names ${CMAKE_MATCH_3})
    set(family_${CMAKE_MATCH_3} ${CMAKE_MATCH_1})
    set(language_${CMAKE_MATCH_3} ${CMAKE_MATCH_2})
    set(kilobytes_${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
  endforeach()

  # The packager's pins, by file name.
  if(ARG_SUMS)
    if(NOT EXISTS "${ARG_SUMS}" OR IS_DIRECTORY "${ARG_SUMS}")
      message(FATAL_ERROR "KORVANI_PACKAGE_SUMS: ${ARG_SUMS} is not a file.")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ARG_SUMS})
    _korvani_read_lines(${ARG_SUMS} lines)
    set(number 0)
    foreach(line IN LISTS lines)
      math(EXPR number "${number} + 1")
      if(line STREQUAL "")
        continue()
      endif()
      # sha256sum puts a backslash in front of a line whose name it had to escape.
      if(NOT line MATCHES "^\\\\?([0-9a-fA-F]+) [ *](.+)$")
        set(digits 0)
      else()
        string(LENGTH "${CMAKE_MATCH_1}" digits)
      endif()
      if(NOT digits EQUAL 64)
        message(FATAL_ERROR "KORVANI_PACKAGE_SUMS: ${ARG_SUMS}:${number}: not a line as "
                            "sha256sum writes them (64 hex digits, two blanks, a file name): "
                            "\"${line}\"")
      endif()
      string(TOLOWER "${CMAKE_MATCH_1}" digest)
      string(REGEX REPLACE "^.*/" "" name "${CMAKE_MATCH_2}")
      if(NOT name IN_LIST names)
        message(WARNING "KORVANI_PACKAGE_SUMS: ${ARG_SUMS}:${number}: ${name} is not a package "
                        "of the catalogue; its line pins nothing.")
        continue()
      endif()
      if(DEFINED pin_${name} AND NOT pin_${name} STREQUAL digest)
        message(FATAL_ERROR "KORVANI_PACKAGE_SUMS: ${ARG_SUMS}:${number}: a second SHA-256 for "
                            "${name}, different from the one on line ${pin_line_${name}}.")
      endif()
      set(pin_${name} ${digest})
      set(pin_line_${name} ${number})
    endforeach()
  endif()

  set(rows "")
  set(pinned 0)
  set(unpinned)
  foreach(name IN LISTS names)
    if(DEFINED pin_${name})
      math(EXPR pinned "${pinned} + 1")
    else()
      list(APPEND unpinned ${name})
    endif()
    string(APPEND rows "    {\"${family_${name}}\", \"${language_${name}}\", \"${name}\", "
                       "${kilobytes_${name}}, \"${pin_${name}}\"},\n")
  endforeach()
  list(LENGTH names count)
  if(ARG_REQUIRE_ALL AND unpinned)
    list(JOIN unpinned ", " missing)
    if(ARG_SUMS)
      set(where "${ARG_SUMS} pins no SHA-256 for")
    else()
      set(where "KORVANI_PACKAGE_SUMS names no sums file, so nothing pins")
    endif()
    message(FATAL_ERROR "KORVANI_REQUIRE_SUMS is ON, but ${where}: ${missing}.")
  endif()
  if(NOT ARG_QUIET)
    if(ARG_SUMS)
      message(STATUS "Package pins: ${pinned} of ${count} packages pinned by ${ARG_SUMS}")
    else()
      message(STATUS "Package pins: none (KORVANI_PACKAGE_SUMS is not set)")
    endif()
  endif()

  set(KORVANI_TABLE_SIZE ${count})
  set(KORVANI_TABLE_ROWS "${rows}")
  set(KORVANI_TABLE_SCHEME ${ARG_SCHEME})
  if(ARG_SUMS)
    set(KORVANI_TABLE_SUMS_NOTE "${ARG_SUMS}")
  else()
    set(KORVANI_TABLE_SUMS_NOTE "no sums file")
  endif()
  configure_file(${KORVANI_CATALOGUE_TEMPLATE} ${ARG_OUTPUT} @ONLY)
endfunction()

# korvani_add_program_variant(NAME SCHEME http|https [SUMS FILE])
#
# The program once more, as NAME, with a catalogue table of its own: what a build
# configured with that scheme and those sums makes, for the tests that need such a
# build beside the configured one. The table's object comes before the libraries on the
# link line, so the linker never takes the configured table from korvani_catalogue.
function(korvani_add_program_variant name)
  cmake_parse_arguments(ARG "" "SCHEME;SUMS" "" ${ARGN})
  set(table ${CMAKE_CURRENT_BINARY_DIR}/${name}_table/CatalogueTable.cpp)
  korvani_catalogue_table(OUTPUT ${table} SCHEME ${ARG_SCHEME} SUMS "${ARG_SUMS}" QUIET)
  add_executable(${name} ${PROJECT_SOURCE_DIR}/src/main.cpp ${table})
  target_link_libraries(${name} PRIVATE korvani_startup)
endfunction()
