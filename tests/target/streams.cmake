# Streams and formatting: the console writes of format_test seen through the
# emulator's trace.
add_test(NAME target.format_console
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/format_console.sh ${RIDID_EMU} $<TARGET_FILE:format_test>)
