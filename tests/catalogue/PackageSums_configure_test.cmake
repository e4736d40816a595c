# Configures the project with sums files that must be refused, and checks that configure
# fails and says where and why. Each case stops before any dependency is looked for.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -P PackageSums_configure_test.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

# The catalogue's names, from the list the build reads; a made-up digest for each.
file(STRINGS "${SOURCE_DIR}/src/catalogue/Packages.txt" listed REGEX "^[^#]")
set(all_pins "")
# The same digests in capitals, as PowerShell's Get-FileHash writes them.
set(all_pins_upper "")
foreach(line IN LISTS listed)
  string(REGEX MATCH "[^ ]+\\.exe" name "${line}")
  string(SHA256 digest "${name}")
  string(APPEND all_pins "${digest}  ${name}\n")
  string(TOUPPER "${digest}" digest)
  string(APPEND all_pins_upper "${digest}  ${name}\n")
endforeach()
string(SHA256 digest "other")
string(REPLACE "  VUD_nl_win98.exe\n" "  downloads/README.txt\n" one_missing "${all_pins}")

# expect_refusal(CASE SUMS_TEXT EXPECTED_REGEX [-DNAME=VALUE...])
function(expect_refusal case text expected)
  set(sums "${WORK_DIR}/${case}/SHA256SUMS")
  file(WRITE "${sums}" "${text}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/${case}/build" -G Ninja
            -DBUILD_TESTING=OFF "-DKORVANI_PACKAGE_SUMS=${sums}" ${ARGN}
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(REPLACE "${sums}" "SHA256SUMS" output "${output}")
  string(REGEX REPLACE "[ \n]+" " " flat "${output}")
  if(status EQUAL 0)
    message(SEND_ERROR "${case}: configure passed:\n${output}")
  elseif(NOT flat MATCHES "${expected}")
    message(SEND_ERROR "${case}: configure failed without saying \"${expected}\":\n${output}")
  else()
    message(STATUS "${case}: refused as expected")
  endif()
endfunction()

string(SUBSTRING "${digest}" 1 63 short_digest)
expect_refusal(malformed "${all_pins}${short_digest}  RUD_UZ7_de.exe\n"
               "SHA256SUMS:15: not a line as sha256sum writes them")
expect_refusal(one-blank "${digest} RUD_UZ7_de.exe\n" "SHA256SUMS:1: not a line")
expect_refusal(two-digests "${all_pins}${digest} *RUD_UZ7_de.exe\n"
               "SHA256SUMS:15: a second SHA-256 for RUD_UZ7_de.exe, different from the one on line 1")
expect_refusal(missing-pin "${one_missing}"
               "README.txt is not a package of the catalogue.*KORVANI_REQUIRE_SUMS is ON, but SHA256SUMS pins no SHA-256 for: VUD_nl_win98.exe"
               -DKORVANI_REQUIRE_SUMS=ON)
expect_refusal(other-scheme "${all_pins}" "KORVANI_PACKAGE_SCHEME is \"ftp\": it must be http or https"
               -DKORVANI_PACKAGE_SCHEME=ftp)

# The catalogue's own list, as the table is made from it: a driver script per case.
file(READ "${SOURCE_DIR}/src/catalogue/Packages.txt" packages)
# run_table(CASE LIST_TEXT SUMS_TEXT): sets `status` and `output` in the caller.
function(run_table case list_text sums_text)
  set(dir "${WORK_DIR}/${case}")
  file(WRITE "${dir}/Packages.txt" "${list_text}")
  file(WRITE "${dir}/SHA256SUMS" "${sums_text}")
  file(WRITE "${dir}/driver.cmake"
       "cmake_minimum_required(VERSION 3.25)\ninclude(${SOURCE_DIR}/cmake/KorvaniCatalogue.cmake)\n"
       "korvani_catalogue_table(OUTPUT ${dir}/CatalogueTable.cpp SCHEME http "
       "SUMS ${dir}/SHA256SUMS LIST ${dir}/Packages.txt)\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -P "${dir}/driver.cmake"
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(REGEX REPLACE "[ \n]+" " " output "${output}")
  set(status "${status}" PARENT_SCOPE)
  set(output "${output}" PARENT_SCOPE)
endfunction()

# expect_list_refusal(CASE LIST_TEXT EXPECTED_REGEX)
function(expect_list_refusal case list_text expected)
  run_table(${case} "${list_text}" "")
  if(status EQUAL 0 OR NOT output MATCHES "${expected}")
    message(SEND_ERROR "${case}: the table was made, or refused without \"${expected}\":\n"
                       "${output}")
  else()
    message(STATUS "${case}: refused as expected")
  endif()
endfunction()

expect_list_refusal(two-rows-for-one-package "${packages}xp  de  RUD_UZ7_de2.exe  900\n"
                    "Packages.txt:19: a second row for xp de, beside line 5")
expect_list_refusal(one-name-twice "${packages}xp  pt  RUD_UZ7_de.exe  900\n"
                    "Packages.txt:19: RUD_UZ7_de.exe is listed twice, the first time on line 5")
expect_list_refusal(name-breaking-a-literal "xp  de  RUD\"de.exe  883\n"
                    "Packages.txt:1: codes and names may hold only letters")

# sha256sum escapes a name with a backslash or a line break in it, and marks the line.
string(SHA256 digest "escaped")
run_table(escaped-name "${packages}"
          "\\${digest}  mirror\\\\copy/RUD_UZ7_de.exe\n\\${digest}  read\\nme.txt\n")
if(NOT status EQUAL 0 OR NOT output MATCHES "1 of 14 packages pinned"
   OR NOT output MATCHES " read me.txt is not a package")
  message(SEND_ERROR "escaped-name: the escaped lines were not read unescaped:\n${output}")
else()
  message(STATUS "escaped-name: read unescaped as expected")
endif()

# A name that CMake's lists would join to the next line: the line before every package's,
# it is warned about as it stands, and every package is still pinned.
string(SHA256 digest "odd name")
function(expect_read_alone case line shown)
  run_table(${case} "${packages}" "${line}${all_pins}")
  string(FIND "${output}" " ${shown} is not a package" warned)
  if(NOT status EQUAL 0 OR NOT output MATCHES "14 of 14 packages pinned" OR warned EQUAL -1)
    message(SEND_ERROR "${case}: the line was not read on its own:\n${output}")
  else()
    message(STATUS "${case}: read on its own as expected")
  endif()
endfunction()
expect_read_alone(open-bracket "${digest}  notes[1.txt\n" "notes[1.txt")
expect_read_alone(close-bracket "${digest}  notes]1.txt\n" "notes]1.txt")
expect_read_alone(semicolon "${digest}  a;b.txt\n" "a;b.txt")
expect_read_alone(trailing-backslash "${digest}  odd\\\n" "odd\\")
expect_read_alone(escaped-trailing-backslash "\\${digest}  odd\\\\\n" "odd\\")

# The characters the reader stands in for those are refused where they are found.
string(ASCII 31 separator)
run_table(separator-in-a-name "${packages}" "${all_pins}${digest}  a${separator}b.txt\n")
if(status EQUAL 0 OR NOT output MATCHES "SHA256SUMS:15: holds a control character")
  message(SEND_ERROR "separator-in-a-name: not refused at its line:\n${output}")
else()
  message(STATUS "separator-in-a-name: refused as expected")
endif()

# Rows that differ only where an underscore joins their codes, or a field's name joins a
# file name, are different rows.
string(SHA256 digest "line_")
foreach(case codes-joined fields-joined)
  if(case STREQUAL "codes-joined")
    set(rows "xp_de  x  A.exe  1\nxp  de_x  B.exe  1\n")
    set(expected "16 of 16 packages pinned")
  else()
    # "pin_" and "line_RUD_UZ7_de.exe" against "pin_line_" and "RUD_UZ7_de.exe".
    set(rows "xp  pt  line_RUD_UZ7_de.exe  1\n")
    set(expected "15 of 15 packages pinned")
  endif()
  run_table(${case} "${packages}${rows}"
            "${all_pins}${digest}  A.exe\n${digest}  B.exe\n${digest}  line_RUD_UZ7_de.exe\n")
  if(NOT status EQUAL 0 OR NOT output MATCHES "${expected}")
    message(SEND_ERROR "${case}: two rows taken for one:\n${output}")
  else()
    message(STATUS "${case}: two rows as expected")
  endif()
endforeach()

# Upper-case digits pin what lower-case ones do.
run_table(lower-case-digits "${packages}" "${all_pins}")
file(STRINGS "${WORK_DIR}/lower-case-digits/CatalogueTable.cpp" lower_pins REGEX "0x")
run_table(upper-case-digits "${packages}" "${all_pins_upper}")
file(STRINGS "${WORK_DIR}/upper-case-digits/CatalogueTable.cpp" upper_pins REGEX "0x")
list(LENGTH lower_pins count)
if(NOT count EQUAL 14 OR NOT upper_pins STREQUAL lower_pins)
  message(SEND_ERROR "upper-case-digits: not the pins of the same digits in lower case:\n"
                     "${upper_pins}")
else()
  message(STATUS "upper-case-digits: the same pins as expected")
endif()
