# How ridid code is generated, in one place: read by the toolchain file
# (and so by the SDK), by the host tree, by the emulator's test images, and
# by `cmake -P cmake/RididCodegen.cmake`, which prints both facts for scripts
# (the benchmarks):
#  - RIDID_CODEGEN_FLAGS: i686 with the x87 unit only, no MMX or SSE, no
#    position-independent code, no stack protector, no unwind tables, and no
#    built-in assumptions about the C functions (this library's differ from
#    the standard ones in places);
#  - RIDID_BUILTINS: the compiler's own support routines for i386 (64-bit
#    division), unless the includer already set it (the installed SDK ships
#    its copy).
set(RIDID_CODEGEN_FLAGS -march=i686 -mno-mmx -mno-sse -mno-sse2 -fno-pic -fno-pie
    -fno-stack-protector -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-builtin)

if(NOT RIDID_BUILTINS)
  find_program(RIDID_CLANG NAMES clang-14 clang REQUIRED)
  execute_process(COMMAND ${RIDID_CLANG} --target=i386-unknown-none-elf -print-resource-dir
                  OUTPUT_VARIABLE _ridid_resdir OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(RIDID_BUILTINS "${_ridid_resdir}/lib/linux/libclang_rt.builtins-i386.a")
endif()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  list(JOIN RIDID_CODEGEN_FLAGS " " _ridid_flags)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${_ridid_flags}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${RIDID_BUILTINS}")
endif()
