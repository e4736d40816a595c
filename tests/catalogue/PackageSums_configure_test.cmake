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
