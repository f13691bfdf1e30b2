# ridid_add_test: a ctest test that runs a ridid program under ridid-emu.
#
#   ridid_add_test(NAME name COMMAND program [args...]
#                  [STDIN file] [ROOT dir] [EXPECT_STATUS n] [EXPECT_OUTPUT regex]
#                  [EXPECT_OUTPUT_FILE file] [OPTIONS ridid-emu options...])
#
# program is a target of the project or a path. The test passes when the
# program's exit status is EXPECT_STATUS (default 0) and, if EXPECT_OUTPUT is
# given, its console output matches that regular expression (with
# EXPECT_OUTPUT_FILE, relative to the source directory: equals that file's
# content). STDIN is a file
# read as its standard input (default: empty). ROOT is the host directory
# that is its "/" (ridid-emu --root: what it writes stays there; relative to
# the build directory); without it the program runs in a fresh copy of the
# SDK's sample root. RIDID_EMU names the emulator (the toolchain file sets it).
# Arguments may not contain ';' (CMake's list separator).
include_guard(GLOBAL)
set(_RIDID_TEST_RUNNER "${CMAKE_CURRENT_LIST_DIR}/RididRunTest.cmake")

function(ridid_add_test)
  cmake_parse_arguments(PARSE_ARGV 0 T "" "NAME;STDIN;ROOT;EXPECT_STATUS;EXPECT_OUTPUT;EXPECT_OUTPUT_FILE"
                        "COMMAND;OPTIONS")
  if(NOT T_NAME OR NOT T_COMMAND)
    message(FATAL_ERROR "ridid_add_test: NAME and COMMAND are required")
  endif()
  if(NOT RIDID_EMU)
    message(FATAL_ERROR "ridid_add_test: RIDID_EMU, the ridid-emu program, is not set")
  endif()
  list(POP_FRONT T_COMMAND program)
  if(TARGET ${program})
    set(program "$<TARGET_FILE:${program}>")
  endif()
  set(options ${T_OPTIONS})
  if(T_ROOT)
    get_filename_component(root "${T_ROOT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
    list(APPEND options --root "${root}")
  endif()
  set(input /dev/null)
  if(T_STDIN)
    get_filename_component(input "${T_STDIN}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  if(T_EXPECT_OUTPUT_FILE)
    get_filename_component(T_EXPECT_OUTPUT_FILE "${T_EXPECT_OUTPUT_FILE}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  if(NOT DEFINED T_EXPECT_STATUS)
    set(T_EXPECT_STATUS 0)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${CMAKE_COMMAND}
    "-DRIDID_EMU=${RIDID_EMU}" "-DRIDID_PROGRAM=${program}" "-DRIDID_ARGS=${T_COMMAND}"
    "-DRIDID_OPTIONS=${options}" "-DRIDID_STDIN=${input}"
    "-DRIDID_EXPECT_STATUS=${T_EXPECT_STATUS}" "-DRIDID_EXPECT_OUTPUT=${T_EXPECT_OUTPUT}"
    "-DRIDID_EXPECT_OUTPUT_FILE=${T_EXPECT_OUTPUT_FILE}"
    -P "${_RIDID_TEST_RUNNER}")
endfunction()
