# A C program (not C++) linked with the runtime.
ridid_program(c_language ${CMAKE_CURRENT_LIST_DIR}/c_language.c)
set_target_properties(c_language PROPERTIES C_STANDARD 11)
add_test(NAME target.c_language COMMAND c_language c-arg)
