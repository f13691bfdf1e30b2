# printf on the console as the kernel sees it: format_test's 0xFF packets
# reach the kernel in one 4-byte write each and the text one piece per write,
# and the packets do not show as text.
add_test(NAME target.format_console
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/console_trace.sh ${RIDID_EMU} $<TARGET_FILE:format_test>
                 "P255,1,2,3 P255,1,2,3 1:1 1:1 1:1 1:2 1:1 P255,4,5,6" "ok 77\\nxA")
