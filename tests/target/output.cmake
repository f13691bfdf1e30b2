# The output path through the emulator's trace: output_test's console writes.
add_test(NAME target.output_console
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/output_console.sh ${RIDID_EMU} $<TARGET_FILE:output_test>)
