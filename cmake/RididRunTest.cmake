# Runs one ridid program for ridid_add_test (cmake -DRIDID_TEST=file -P) and
# checks its exit status, output and fault line. The file sets RIDID_EMU,
# RIDID_OPTIONS, RIDID_PROGRAM, RIDID_ARGS, RIDID_STDIN, RIDID_EXPECT_STATUS,
# RIDID_EXPECT_OUTPUT, RIDID_EXPECT_OUTPUT_FILE, RIDID_EXPECT_FAULT and, for
# ROOT_FROM, RIDID_ROOT_FROM and RIDID_ROOT_COPY.
include("${RIDID_TEST}")

# A regular expression as it was written in CMakeLists.txt: its newlines,
# tabs and carriage returns as \n, \t and \r again, in quotes.
function(written out regex)
  string(REPLACE "\\" "\\\\" regex "${regex}")
  string(REPLACE "\"" "\\\"" regex "${regex}")
  string(REPLACE "\n" "\\n" regex "${regex}")
  string(REPLACE "\t" "\\t" regex "${regex}")
  string(REPLACE "\r" "\\r" regex "${regex}")
  set(${out} "\"${regex}\"" PARENT_SCOPE)
endfunction()

if(NOT EXISTS "${RIDID_STDIN}")
  message(FATAL_ERROR "the STDIN file ${RIDID_STDIN} does not exist")
endif()
if(DEFINED RIDID_ROOT_FROM)
  if(NOT IS_DIRECTORY "${RIDID_ROOT_FROM}")
    message(FATAL_ERROR "the ROOT_FROM directory ${RIDID_ROOT_FROM} does not exist")
  endif()
  # A fresh copy for every run: what an earlier run wrote is gone.
  file(REMOVE_RECURSE "${RIDID_ROOT_COPY}")
  file(COPY "${RIDID_ROOT_FROM}/" DESTINATION "${RIDID_ROOT_COPY}")
endif()

execute_process(COMMAND "${RIDID_EMU}" ${RIDID_OPTIONS} "${RIDID_PROGRAM}" ${RIDID_ARGS}
  INPUT_FILE "${RIDID_STDIN}"
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT out STREQUAL "")
  message("${out}")
endif()
if(NOT err STREQUAL "")
  message("${err}")
endif()
if(NOT RIDID_EXPECT_FAULT STREQUAL "")
  written(regex "${RIDID_EXPECT_FAULT}")
  if(NOT err MATCHES "ridid-emu: guest fault: ([^\n]*)")
    message(FATAL_ERROR "no fault line, expected one matching the regular expression ${regex}")
  endif()
  if(NOT CMAKE_MATCH_1 MATCHES "${RIDID_EXPECT_FAULT}")
    message(FATAL_ERROR "the fault line does not match the regular expression ${regex}")
  endif()
endif()
if(NOT status STREQUAL RIDID_EXPECT_STATUS)
  message(FATAL_ERROR "exit status ${status}, expected ${RIDID_EXPECT_STATUS}")
endif()
if(NOT RIDID_EXPECT_OUTPUT STREQUAL "" AND NOT out MATCHES "${RIDID_EXPECT_OUTPUT}")
  written(regex "${RIDID_EXPECT_OUTPUT}")
  message(FATAL_ERROR "the output does not match the regular expression ${regex}")
endif()
if(NOT RIDID_EXPECT_OUTPUT_FILE STREQUAL "")
  file(READ "${RIDID_EXPECT_OUTPUT_FILE}" expected)
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "the output differs from ${RIDID_EXPECT_OUTPUT_FILE}")
  endif()
endif()
