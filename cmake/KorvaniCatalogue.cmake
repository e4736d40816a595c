# korvani_catalogue_table(OUTPUT FILE SCHEME http|https [SUMS FILE] [REQUIRE_ALL] [QUIET]
#                         [LIST FILE])
#
# Writes FILE, the C++ source of the program's catalogue table: the packages that LIST
# (src/catalogue/Packages.txt by default) lists, reached over SCHEME, each pinned to the
# SHA-256 that SUMS gives for its file name.
# - LIST: a package per line, "family language name KB". Names and codes are letters,
#   digits, ".", "_", "+" and "-", so that they go into C++ and URLs as they stand. Two
#   rows for one family and language, or one file name twice, fail the configure step.
# - SUMS: the format sha256sum writes. A line per file: 64 hex digits, a blank, a blank
#   or "*", and the name (a folder in front of it is ignored); a line that starts with a
#   backslash has its name escaped ("\\", "\n", "\r"). A name may hold any character
#   but the ASCII separators 28 to 31, which fail the configure step. Empty lines are
#   skipped; any other line that is not of that form fails the configure step, naming the
#   file and the line, and so do two different digests for one package. A name the
#   catalogue does not list is warned about. With REQUIRE_ALL, a package that SUMS does
#   not pin fails.
# Unless QUIET, says how many of the packages are pinned.
set(KORVANI_CATALOGUE_LIST ${CMAKE_CURRENT_LIST_DIR}/../src/catalogue/Packages.txt)
set(KORVANI_CATALOGUE_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/CatalogueTable.cpp.in)

# CMake's lists give "[", "]", "\" and ";" a meaning: a bracket left open or unopened, or
# a backslash at the end, joins the next element to its own. In the lines that
# _korvani_read_lines hands out these four stand as the ASCII separators 28 to 31, so that
# each line stays one element whatever it holds; _korvani_line gives a line back as the
# file holds it.
string(ASCII 28 _korvani_backslash)
string(ASCII 29 _korvani_open)
string(ASCII 30 _korvani_close)
string(ASCII 31 _korvani_semicolon)

# Sets `out` to the lines of `file`, in order, empty ones included. A file that holds one
# of the stand-ins itself fails, the message starting with `what`.
function(_korvani_read_lines file what out)
  file(READ "${file}" text)
  set(stand_ins "${_korvani_backslash}${_korvani_open}${_korvani_close}${_korvani_semicolon}")
  string(REGEX MATCH "^[^${stand_ins}]*" plain "${text}")
  if(NOT plain STREQUAL text)
    string(REGEX MATCHALL "\n" breaks "${plain}")
    list(LENGTH breaks number)
    math(EXPR number "${number} + 1")
    message(FATAL_ERROR "${what}${file}:${number}: holds a control character (ASCII 28 to 31) "
                        "that no file name or code has.")
  endif()
  string(REPLACE "\\" "${_korvani_backslash}" text "${text}")
  string(REPLACE "[" "${_korvani_open}" text "${text}")
  string(REPLACE "]" "${_korvani_close}" text "${text}")
  string(REPLACE ";" "${_korvani_semicolon}" text "${text}")
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

# Sets `out` to `line`, one of _korvani_read_lines', as its file holds it.
function(_korvani_line line out)
  string(REPLACE "${_korvani_backslash}" "\\" line "${line}")
  string(REPLACE "${_korvani_open}" "[" line "${line}")
  string(REPLACE "${_korvani_close}" "]" line "${line}")
  string(REPLACE "${_korvani_semicolon}" ";" line "${line}")
  set(${out} "${line}" PARENT_SCOPE)
endfunction()

# Sets `out` to the name of a sums line, unescaped as sha256sum escaped it (`escaped`: the
# line began with a backslash).
function(_korvani_sums_name name escaped out)
  if(escaped)
    # A backslash pair first, so that "\\n" stays a backslash and an "n".
    string(ASCII 1 pair)
    string(REPLACE "\\\\" "${pair}" name "${name}")
    string(REPLACE "\\n" "\n" name "${name}")
    string(REPLACE "\\r" "\r" name "${name}")
    string(REPLACE "${pair}" "\\" name "${name}")
  endif()
  string(REGEX REPLACE "^.*/" "" name "${name}")
  set(${out} "${name}" PARENT_SCOPE)
endfunction()

function(korvani_catalogue_table)
  cmake_parse_arguments(ARG "REQUIRE_ALL;QUIET" "OUTPUT;SCHEME;SUMS;LIST" "" ${ARGN})
  if(NOT ARG_SCHEME MATCHES "^https?$")
    message(FATAL_ERROR "KORVANI_PACKAGE_SCHEME is \"${ARG_SCHEME}\": it must be http or https.")
  endif()
  if(NOT ARG_LIST)
    set(ARG_LIST ${KORVANI_CATALOGUE_LIST})
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ARG_LIST})

  # The catalogue: "family language name kilobytes" per line.
  _korvani_read_lines("${ARG_LIST}" "" listed)
  set(names)
  set(number 0)
  set(safe "[A-Za-z0-9._+-]+")
  foreach(element IN LISTS listed)
    math(EXPR number "${number} + 1")
    _korvani_line("${element}" line)
    if(line MATCHES "^[ \t]*(#|$)")
      continue()
    endif()
    if(NOT line MATCHES "^([^ \t]+)[ \t]+([^ \t]+)[ \t]+([^ \t]+)[ \t]+([0-9]+)[ \t]*$")
      message(FATAL_ERROR "${ARG_LIST}:${number}: not \"family language name KB\": ${line}")
    endif()
    set(family "${CMAKE_MATCH_1}")
    set(language "${CMAKE_MATCH_2}")
    set(name "${CMAKE_MATCH_3}")
    set(kilobytes "${CMAKE_MATCH_4}")
    if(NOT family MATCHES "^${safe}$" OR NOT language MATCHES "^${safe}$"
       OR NOT name MATCHES "^${safe}$")
      message(FATAL_ERROR "${ARG_LIST}:${number}: codes and names may hold only letters, "
                          "digits, \".\", \"_\", \"+\" and \"-\": ${line}")
    endif()
    # Each variable is named by its field, then "/" and the codes or the name: a "/" is in
    # none of them, so no two rows, and no two fields, share a variable.
    if(DEFINED row_of/${family}/${language})
      message(FATAL_ERROR "${ARG_LIST}:${number}: a second row for ${family} ${language}, "
                          "beside line ${row_of/${family}/${language}}.")
    endif()
    if(name IN_LIST names)
      message(FATAL_ERROR "${ARG_LIST}:${number}: ${name} is listed twice, the first time on "
                          "line ${line_of/${name}}.")
    endif()
    set(row_of/${family}/${language} ${number})
    set(line_of/${name} ${number})
    list(APPEND names ${name})
    set(family/${name} ${family})
    set(language/${name} ${language})
    set(kilobytes/${name} ${kilobytes})
  endforeach()

  # The packager's pins, by file name.
  if(ARG_SUMS)
    if(NOT EXISTS "${ARG_SUMS}" OR IS_DIRECTORY "${ARG_SUMS}")
      message(FATAL_ERROR "KORVANI_PACKAGE_SUMS: ${ARG_SUMS} is not a file.")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ARG_SUMS})
    _korvani_read_lines("${ARG_SUMS}" "KORVANI_PACKAGE_SUMS: " lines)
    set(number 0)
    foreach(element IN LISTS lines)
      math(EXPR number "${number} + 1")
      _korvani_line("${element}" line)
      if(line STREQUAL "")
        continue()
      endif()
      # sha256sum puts a backslash in front of a line whose name it had to escape.
      if(NOT line MATCHES "^(\\\\?)([0-9a-fA-F]+) [ *](.+)$")
        set(digits 0)
      else()
        string(LENGTH "${CMAKE_MATCH_2}" digits)
      endif()
      if(NOT digits EQUAL 64)
        message(FATAL_ERROR "KORVANI_PACKAGE_SUMS: ${ARG_SUMS}:${number}: not a line as "
                            "sha256sum writes them (64 hex digits, two blanks, a file name): "
                            "\"${line}\"")
      endif()
      string(TOLOWER "${CMAKE_MATCH_2}" digest)
      _korvani_sums_name("${CMAKE_MATCH_3}" "${CMAKE_MATCH_1}" name)
      if(NOT name IN_LIST names)
        message(WARNING "KORVANI_PACKAGE_SUMS: ${ARG_SUMS}:${number}: ${name} is not a package "
                        "of the catalogue; its line pins nothing.")
        continue()
      endif()
      if(DEFINED pin/${name} AND NOT pin/${name} STREQUAL digest)
        message(FATAL_ERROR "KORVANI_PACKAGE_SUMS: ${ARG_SUMS}:${number}: a second SHA-256 for "
                            "${name}, different from the one on line ${pin_line/${name}}.")
      endif()
      set(pin/${name} ${digest})
      set(pin_line/${name} ${number})
    endforeach()
  endif()

  set(rows "")
  set(checks "")
  set(row 0)
  set(pinned 0)
  set(unpinned)
  foreach(name IN LISTS names)
    if(DEFINED pin/${name})
      math(EXPR pinned "${pinned} + 1")
      # The digest's bytes, two hex digits each.
      string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " bytes "${pin/${name}}")
      string(REGEX REPLACE ", $" "" bytes "${bytes}")
      set(pin "Sha256Digest{${bytes}}")
    else()
      list(APPEND unpinned ${name})
      set(pin "std::nullopt")
    endif()
    string(APPEND rows "    {\"${family/${name}}\", \"${language/${name}}\", \"${name}\", "
                       "${kilobytes/${name}},\n     ${pin}},\n")
    string(APPEND checks "static_assert(Pins(${row}, \"${pin/${name}}\"), \"${name}\");\n")
    math(EXPR row "${row} + 1")
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
  set(KORVANI_TABLE_CHECKS "${checks}")
  set(KORVANI_TABLE_SCHEME ${ARG_SCHEME})
  if(ARG_SUMS)
    # Into a comment: no line break may end it.
    string(REGEX REPLACE "[\r\n]" "?" KORVANI_TABLE_SUMS_NOTE "${ARG_SUMS}")
  else()
    set(KORVANI_TABLE_SUMS_NOTE "no sums file")
  endif()
  configure_file(${KORVANI_CATALOGUE_TEMPLATE} ${ARG_OUTPUT} @ONLY)
endfunction()

# korvani_add_catalogue_table(TARGET SCHEME http|https [SUMS FILE] [REQUIRE_ALL] [QUIET])
#
# The catalogue's table as TARGET, an object library: a program links exactly one table,
# by its name (two give the linker duplicate symbols, none leave CataloguePackages()
# undefined).
function(korvani_add_catalogue_table target)
  set(table ${CMAKE_CURRENT_BINARY_DIR}/generated/${target}/CatalogueTable.cpp)
  korvani_catalogue_table(OUTPUT ${table} ${ARGN})
  add_library(${target} OBJECT ${table})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src)
endfunction()
