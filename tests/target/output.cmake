# The output path as the kernel sees it: output_test's first console writes
# are puts' text and newline as two writes, fputs on stderr on descriptor 1,
# fputc/putchar one byte each and fwrite one write for the whole block.
add_test(NAME target.output_console
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/console_trace.sh ${RIDID_EMU} $<TARGET_FILE:output_test>
                 "1:5 1:1 1:5 1:1 1:1 1:6 1:1" "alpha\\nbeta g\\ndelta\\n\\n")
