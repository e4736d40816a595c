# korvani_add_test(NAME SOURCES ... LIBRARIES ... [LABELS ...] [ENVIRONMENT ...] [TIMEOUT s])
# Builds one Qt Test executable and registers it with CTest. Tests that do not need
# the X server run on the offscreen platform, so they pass with or without $DISPLAY.
function(korvani_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBRARIES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set(env ${ARG_ENVIRONMENT})
  if("x11" IN_LIST ARG_LABELS)
    # Windows of two tests would overlap on the one screen and spoil each
    # other's screenshots and stacking checks.
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK x11-display)
  else()
    list(APPEND env QT_QPA_PLATFORM=offscreen)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}"
                       ENVIRONMENT "${env}")
endfunction()
