# Process services: exit and abort statuses, and what is (not) left behind.
ridid_program(process_exit ${CMAKE_CURRENT_LIST_DIR}/process_exit.cpp)
add_test(NAME target.process_status
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/process_status.sh ${RIDID_EMU} $<TARGET_FILE:process_exit>)
