# ridid_add_test: a ctest test that runs a ridid program under ridid-emu.
#
#   ridid_add_test(NAME name COMMAND program [args...]
#                  [STDIN file] [ROOT dir | ROOT_FROM dir] [EXPECT_STATUS n]
#                  [EXPECT_OUTPUT regex] [EXPECT_OUTPUT_FILE file]
#                  [EXPECT_FAULT regex] [OPTIONS ridid-emu options...])
#
# program is a target of the project or a path. The test passes when the
# program's exit status is EXPECT_STATUS (default 0, or 139 with
# EXPECT_FAULT) and, if EXPECT_OUTPUT is given, its console output matches
# that regular expression (with EXPECT_OUTPUT_FILE, relative to the source
# directory: equals that file's content). EXPECT_FAULT: the program faults and
# its fault line (without "ridid-emu: guest fault: ") matches the regex.
# STDIN is a file read as its standard input (relative to the source
# directory; default: empty). ROOT is the host directory that is its "/"
# (ridid-emu --root: what it writes stays there; relative to the build
# directory). ROOT_FROM is a directory (relative to the source directory)
# copied afresh for every run of the test into <build dir>/<name>.root, which
# is then its "/". Without either the program runs in a fresh copy of the
# SDK's sample root. RIDID_EMU names the emulator (the toolchain file sets
# it). Arguments may not contain ';' (CMake's list separator); the regular
# expressions may.
#
# The test's settings go to a file of their own (<build dir>/<name>.ridid-test
# .cmake), read by RididRunTest.cmake when the test runs, so a regular
# expression reaches it exactly as CMake read it.
include_guard(GLOBAL)
set(_RIDID_TEST_RUNNER "${CMAKE_CURRENT_LIST_DIR}/RididRunTest.cmake")

# `value` as a CMake bracket argument that holds it unchanged.
function(_ridid_bracket out value)
  set(eq "=")
  while("${value}]" MATCHES "]${eq}]")
    string(APPEND eq "=")
  endwhile()
  set(${out} "[${eq}[${value}]${eq}]" PARENT_SCOPE)
endfunction()

function(ridid_add_test)
  cmake_parse_arguments(PARSE_ARGV 0 T ""
    "NAME;STDIN;ROOT;ROOT_FROM;EXPECT_STATUS;EXPECT_OUTPUT;EXPECT_OUTPUT_FILE;EXPECT_FAULT"
    "COMMAND;OPTIONS")
  if(NOT T_NAME OR NOT T_COMMAND)
    message(FATAL_ERROR "ridid_add_test: NAME and COMMAND are required")
  endif()
  if(NOT RIDID_EMU)
    message(FATAL_ERROR "ridid_add_test: RIDID_EMU, the ridid-emu program, is not set")
  endif()
  if(T_ROOT AND T_ROOT_FROM)
    message(FATAL_ERROR "ridid_add_test(${T_NAME}): ROOT and ROOT_FROM exclude each other")
  endif()
  list(POP_FRONT T_COMMAND program)
  if(TARGET ${program})
    set(program "$<TARGET_FILE:${program}>")
  endif()
  set(settings "")
  if(T_ROOT)
    get_filename_component(root "${T_ROOT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
    list(APPEND T_OPTIONS --root "${root}")
  endif()
  if(T_ROOT_FROM)
    get_filename_component(from "${T_ROOT_FROM}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    set(copy "${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}.root")
    list(APPEND T_OPTIONS --root "${copy}")
    _ridid_bracket(from "${from}")
    _ridid_bracket(copy "${copy}")
    string(APPEND settings "set(RIDID_ROOT_FROM ${from})\nset(RIDID_ROOT_COPY ${copy})\n")
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
    if(DEFINED T_EXPECT_FAULT)
      set(T_EXPECT_STATUS 139)
    endif()
  endif()
  set(T_EMU "${RIDID_EMU}")
  set(T_PROGRAM "${program}")
  set(T_STDIN "${input}")
  foreach(var EMU PROGRAM STDIN EXPECT_STATUS EXPECT_OUTPUT EXPECT_OUTPUT_FILE EXPECT_FAULT)
    _ridid_bracket(value "${T_${var}}")
    string(APPEND settings "set(RIDID_${var} ${value})\n")
  endforeach()
  set(T_ARGS ${T_COMMAND})
  foreach(list OPTIONS ARGS)
    set(items "")
    foreach(item IN LISTS T_${list})
      _ridid_bracket(item "${item}")
      string(APPEND items " ${item}")
    endforeach()
    string(APPEND settings "set(RIDID_${list}${items})\n")
  endforeach()
  # One file per configuration, since the program's path may differ.
  set(file "${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}.ridid-test$<$<BOOL:$<CONFIG>>:-$<CONFIG>>.cmake")
  file(GENERATE OUTPUT "${file}" CONTENT "${settings}")
  add_test(NAME ${T_NAME} COMMAND ${CMAKE_COMMAND} "-DRIDID_TEST=${file}" -P "${_RIDID_TEST_RUNNER}")
endfunction()
