# Configures the project with sums files that must be refused, and checks that configure
# fails and says where and why. Each case stops before any dependency is looked for.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -P PackageSums_configure_test.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

# The catalogue's names, from the list the build reads; a made-up digest for each.
file(STRINGS "${SOURCE_DIR}/src/catalogue/Packages.txt" listed REGEX "^[^#]")
set(all_pins "")
foreach(line IN LISTS listed)
  string(REGEX MATCH "[^ ]+\\.exe" name "${line}")
  string(SHA256 digest "${name}")
  string(APPEND all_pins "${digest}  ${name}\n")
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
