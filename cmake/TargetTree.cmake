# Target side: everything here is built with cmake/ridid-toolchain.cmake.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
enable_testing()

if(NOT RIDID_EMU)
  message(FATAL_ERROR "RIDID_EMU must name the ridid-emu executable")
endif()
# Target tests run under the emulator, with a budget so a runaway program ends.
set(RIDID_TEST_EMULATOR ${RIDID_EMU} --no-sleep --scratch-root --max-instructions 20000000000)
set(CMAKE_CROSSCOMPILING_EMULATOR ${RIDID_TEST_EMULATOR})

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# The library and the start-up object carry line information for the programs
# that link them (backtraces, fault lines, profiles and coverage name their
# lines). It changes no code byte. Its file names start at /usr/src/ridid, not
# at this source tree; run strips it (command/CMakeLists.txt).
set(RIDID_DEBUG_FLAGS -g -fdebug-prefix-map=${CMAKE_SOURCE_DIR}=/usr/src/ridid
    -fdebug-compilation-dir=/usr/src/ridid)

# ridid_program(NAME SOURCES...): a ridid executable linked with the runtime.
function(ridid_program name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE ridid_crt0 ridid)
endfunction()

add_subdirectory(startup)
add_subdirectory(runtime)
add_subdirectory(command)
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/target/CMakeLists.txt)
  add_subdirectory(tests/target)
endif()
# Benchmark programs: bench/*_bench.cpp, run by the scripts beside them.
file(GLOB _bench_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*_bench.cpp)
foreach(src ${_bench_sources})
  get_filename_component(name ${src} NAME_WE)
  ridid_program(${name} ${src})
endforeach()
if(EXISTS ${CMAKE_SOURCE_DIR}/samples/CMakeLists.txt)
  add_subdirectory(samples)
endif()


# The start-up object as a plain file, for the SDK (installed from the host tree).
add_custom_target(ridid_sdk_objects ALL
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_OBJECTS:ridid_crt0> ${CMAKE_BINARY_DIR}/sdk/user_crt0.o
  DEPENDS ridid_crt0
  COMMAND_EXPAND_LISTS)
