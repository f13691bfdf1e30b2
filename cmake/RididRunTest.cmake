# Runs one ridid program for ridid_add_test (cmake -P) and checks its exit
# status and output. Variables: RIDID_EMU, RIDID_OPTIONS, RIDID_PROGRAM,
# RIDID_ARGS, RIDID_STDIN, RIDID_EXPECT_STATUS, RIDID_EXPECT_OUTPUT,
# RIDID_EXPECT_OUTPUT_FILE.
execute_process(COMMAND "${RIDID_EMU}" ${RIDID_OPTIONS} "${RIDID_PROGRAM}" ${RIDID_ARGS}
  INPUT_FILE "${RIDID_STDIN}"
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT out STREQUAL "")
  message("${out}")
endif()
if(NOT err STREQUAL "")
  message("${err}")
endif()
if(NOT status STREQUAL RIDID_EXPECT_STATUS)
  message(FATAL_ERROR "exit status ${status}, expected ${RIDID_EXPECT_STATUS}")
endif()
if(NOT RIDID_EXPECT_OUTPUT STREQUAL "" AND NOT out MATCHES "${RIDID_EXPECT_OUTPUT}")
  message(FATAL_ERROR "the output does not match: ${RIDID_EXPECT_OUTPUT}")
endif()
if(NOT RIDID_EXPECT_OUTPUT_FILE STREQUAL "")
  file(READ "${RIDID_EXPECT_OUTPUT_FILE}" expected)
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "the output differs from ${RIDID_EXPECT_OUTPUT_FILE}")
  endif()
endif()
