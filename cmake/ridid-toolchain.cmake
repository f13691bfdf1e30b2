# CMake toolchain file for ridid programs (32-bit x86, freestanding, static).
#
# Used two ways:
#  - by this project's target tree, which builds the runtime itself;
#  - from an installed SDK (<prefix>/share/ridid/cmake/), where it also links
#    every executable with the start-up object, the runtime archive and the
#    compiler's i386 builtins, and runs programs under ridid-emu for ctest.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR i386)
set(RIDID_TARGET ON CACHE BOOL "Building for ridid" FORCE)

find_program(RIDID_CLANG NAMES clang-14 clang REQUIRED)
find_program(RIDID_CLANGXX NAMES clang++-14 clang++ REQUIRED)
find_program(RIDID_LLD NAMES ld.lld-14 ld.lld REQUIRED)

set(CMAKE_C_COMPILER ${RIDID_CLANG})
set(CMAKE_CXX_COMPILER ${RIDID_CLANGXX})
set(CMAKE_ASM_COMPILER ${RIDID_CLANG})
set(CMAKE_LINKER ${RIDID_LLD})
foreach(lang C CXX ASM)
  set(CMAKE_${lang}_COMPILER_TARGET i386-unknown-none-elf)
endforeach()
# The compiler checks must not try to link a program before the runtime exists.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Code generation (RididCodegen.cmake, beside this file also in the SDK),
# with no host headers; the runtime itself is also built -ffreestanding.
# These flags are part of the compile rules below rather than of
# CMAKE_<LANG>_FLAGS, so a project that sets its own flags keeps them. An
# installed SDK links with its own copy of the compiler's i386 builtins.
# Installed SDK layout: <prefix>/share/ridid/cmake/ridid-toolchain.cmake
get_filename_component(_ridid_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(EXISTS "${_ridid_prefix}/lib/ridid/libclang_rt.builtins-i386.a")
  set(RIDID_BUILTINS "${_ridid_prefix}/lib/ridid/libclang_rt.builtins-i386.a")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/RididCodegen.cmake)
list(JOIN RIDID_CODEGEN_FLAGS " " _ridid_common)
string(APPEND _ridid_common " -nostdlibinc")
set(_ridid_cxx "-fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-use-cxa-atexit")

if(EXISTS "${_ridid_prefix}/lib/ridid/libridid.a")
  set(RIDID_SDK_PREFIX "${_ridid_prefix}")
  set(RIDID_LINKER_SCRIPT "${_ridid_prefix}/lib/ridid/ridid.ld")
  string(APPEND _ridid_common " -isystem ${_ridid_prefix}/include")
  set(_ridid_libs "${_ridid_prefix}/lib/ridid/user_crt0.o ${_ridid_prefix}/lib/ridid/libridid.a ${RIDID_BUILTINS}")
  set(RIDID_EMU "${_ridid_prefix}/bin/ridid-emu")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${RIDID_EMU}")
else()
  set(RIDID_LINKER_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/ridid.ld")
  set(_ridid_libs "${RIDID_BUILTINS}")
endif()
set(CMAKE_C_STANDARD_LIBRARIES "${_ridid_libs}")
set(CMAKE_CXX_STANDARD_LIBRARIES "${_ridid_libs}")

set(CMAKE_C_COMPILE_OBJECT
    "<CMAKE_C_COMPILER> <DEFINES> <INCLUDES> <FLAGS> ${_ridid_common} -o <OBJECT> -c <SOURCE>")
set(CMAKE_ASM_COMPILE_OBJECT
    "<CMAKE_ASM_COMPILER> <DEFINES> <INCLUDES> <FLAGS> -march=i686 -o <OBJECT> -c <SOURCE>")
set(CMAKE_CXX_COMPILE_OBJECT
    "<CMAKE_CXX_COMPILER> <DEFINES> <INCLUDES> <FLAGS> ${_ridid_common} ${_ridid_cxx} -o <OBJECT> -c <SOURCE>")

# Link straight with lld: a static image laid out by the ridid linker script.
foreach(lang C CXX)
  set(CMAKE_${lang}_LINK_EXECUTABLE
      "${RIDID_LLD} -m elf_i386 -static --build-id=none -T ${RIDID_LINKER_SCRIPT} <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
endforeach()
set(CMAKE_EXECUTABLE_SUFFIX "")

# ridid_add_test(): tests that run a program under ridid-emu with standard
# input, a root, an expected status and output (RididTest.cmake).
include("${CMAKE_CURRENT_LIST_DIR}/RididTest.cmake")
