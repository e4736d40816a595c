# korvani_add_test(NAME SOURCES ... LIBRARIES ... [LABELS ...] [ENVIRONMENT ...] [TIMEOUT s]
#                  [TABLE target] [RUN SUFFIX [FUNCTION ...] [NAME=VALUE ...]]...)
# Builds one Qt Test executable and registers it with CTest.
#
# The catalogue's table it links is the tests' own, korvani_catalogue_table_pinned (plain
# HTTP, the package host's placeholders pinned), whatever pins and scheme the build
# configures for the program: the tests serve those placeholders, and a row that needs
# a pin to refuse a body must find one. TABLE names another, such as the build's own
# korvani_catalogue_table for a test of that table.
#
# Tests that do not need the X server run on the offscreen platform, so they pass with
# or without $DISPLAY. Those labelled x11 need it: without one they end with 77, which
# CTest shows as a skip, before Qt could abort for want of its X platform; and they take
# turns on the one display.
#
# Each RUN registers NAME_SUFFIX_test, a further run of the same executable with the same
# settings: of the test functions named in the group (all when none is), with the
# group's NAME=VALUE settings added to the environment.
set(KORVANI_SKIPPED_EXIT_CODE 77)

function(korvani_add_test name)
  # Splits the RUN groups off; they end where another keyword begins.
  set(keywords SOURCES LIBRARIES LABELS ENVIRONMENT TIMEOUT TABLE RUN)
  set(own)
  set(runs 0)
  set(in_run FALSE)
  foreach(argument IN LISTS ARGN)
    if(argument STREQUAL "RUN")
      math(EXPR runs "${runs} + 1")
      set(run_${runs})
      set(in_run TRUE)
    elseif(in_run AND NOT argument IN_LIST keywords)
      list(APPEND run_${runs} "${argument}")
    else()
      set(in_run FALSE)
      list(APPEND own "${argument}")
    endif()
  endforeach()
  cmake_parse_arguments(ARG "" "TIMEOUT;TABLE" "SOURCES;LIBRARIES;LABELS;ENVIRONMENT" ${own})
  if(NOT ARG_TABLE)
    set(ARG_TABLE korvani_catalogue_table_pinned)
  endif()

  add_executable(${name} ${ARG_SOURCES})
  # A table, which a test needs as soon as it reaches the selection, whichever library
  # reaches it.
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBRARIES} ${ARG_TABLE})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  _korvani_register_test(${name} "$<TARGET_FILE:${name}>" "${ARG_ENVIRONMENT}" "${ARG_LABELS}"
                         ${ARG_TIMEOUT})

  string(REGEX REPLACE "_test$" "" stem ${name})
  if(runs EQUAL 0)
    return()
  endif()
  foreach(index RANGE 1 ${runs})
    set(group ${run_${index}})
    list(POP_FRONT group suffix)
    set(functions)
    set(environment ${ARG_ENVIRONMENT})
    foreach(word IN LISTS group)
      if(word MATCHES "=")
        list(APPEND environment "${word}")
      else()
        list(APPEND functions "${word}")
      endif()
    endforeach()
    _korvani_register_test(${stem}_${suffix}_test "$<TARGET_FILE:${name}>;${functions}"
                           "${environment}" "${ARG_LABELS}" ${ARG_TIMEOUT})
  endforeach()
endfunction()

# korvani_add_python_test(NAME SCRIPT [ARGS ...] [LABELS ...] [TIMEOUT s])
# Registers a Python test script, run with ARGS by a python3 that has the AT-SPI
# bindings (python3-pyatspi), which the scripts' screen reader clients need; it writes
# no bytecode next to the sources. Labels and the x11 gate are those of korvani_add_test.
function(korvani_add_python_test name)
  cmake_parse_arguments(ARG "" "SCRIPT;TIMEOUT" "ARGS;LABELS" ${ARGN})
  # Found by name on PATH: the first python3 that has the bindings (an interpreter of
  # pyenv or a virtual environment, first on PATH, usually has not).
  find_program(KORVANI_PYTHON3 python3 VALIDATOR _korvani_python_reads_atspi)
  if(NOT KORVANI_PYTHON3)
    message(FATAL_ERROR "The screen reader tests need python3 with the AT-SPI bindings "
                        "(Debian: python3-pyatspi); no python3 on PATH has them.")
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  _korvani_register_test(${name} "${KORVANI_PYTHON3};${ARG_SCRIPT};${ARG_ARGS}"
                         PYTHONDONTWRITEBYTECODE=1 "${ARG_LABELS}" ${ARG_TIMEOUT})
endfunction()

function(_korvani_python_reads_atspi result candidate)
  # Asks for the binding without loading it: libatspi connects to the bus as it loads.
  execute_process(COMMAND ${candidate} -c "import gi; gi.require_version('Atspi', '2.0')"
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  if(NOT status EQUAL 0)
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

# One registration of a test command (a list: the program and its arguments) under `name`.
function(_korvani_register_test name command environment labels timeout)
  if("x11" IN_LIST labels)
    # The gate is a shell's test of $DISPLAY, before Qt could abort for want of one.
    # Lines, not semicolons, which CMake would take for list separators.
    string(JOIN "\n" gate
      "if [ -z \"$DISPLAY\" ]"
      "then echo \"SKIP: $0 needs an X display with a window manager in \\$DISPLAY\""
      "  exit ${KORVANI_SKIPPED_EXIT_CODE}"
      "fi"
      "exec \"$0\" \"$@\"")
    add_test(NAME ${name} COMMAND sh -c ${gate} ${command})
    # Windows of two tests would overlap on the one screen and spoil each other's
    # screenshots and stacking checks.
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK x11-display
                         SKIP_RETURN_CODE ${KORVANI_SKIPPED_EXIT_CODE})
  else()
    add_test(NAME ${name} COMMAND ${command})
    list(APPEND environment QT_QPA_PLATFORM=offscreen)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${timeout} LABELS "${labels}"
                       ENVIRONMENT "${environment}")
endfunction()
