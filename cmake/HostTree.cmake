# Host side: the emulator (64-bit), the runtime's host test build (32-bit,
# sanitizers, recording kernel double) and the target tree as an external project.
include(ExternalProject)
enable_testing()

set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "" FORCE)
endif()

set(RIDID_BIN_DIR ${CMAKE_BINARY_DIR}/bin)
set(RIDID_SHARE_DIR ${CMAKE_BINARY_DIR}/share/ridid)
set(RIDID_LINKER_SCRIPT ${CMAKE_SOURCE_DIR}/cmake/ridid.ld)
set(RIDID_TARGET_BINARY_DIR ${CMAKE_BINARY_DIR}/target)

find_package(GTest REQUIRED)
# Tests are listed when ctest runs, not when they are built: building (and
# ./build.sh demo) never runs a test program.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
include(cmake/I386Host.cmake)

add_subdirectory(emulator)
# The host's tests, where the tree has them (the libFuzzer targets in fuzz/
# are built with clang in a sub-build of their own).
foreach(dir emulator command host fuzz)
  if(EXISTS ${CMAKE_SOURCE_DIR}/tests/${dir}/CMakeLists.txt)
    add_subdirectory(tests/${dir})
  endif()
endforeach()

# The target tree. It is rebuilt on every build so edits to target sources are
# picked up; its own build is incremental.
ExternalProject_Add(ridid_target
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${RIDID_TARGET_BINARY_DIR}
  CMAKE_ARGS
    -DRIDID_TARGET=ON
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/ridid-toolchain.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DRIDID_EMU=${RIDID_BIN_DIR}/ridid-emu
    -DRIDID_SHARE_DIR=${RIDID_SHARE_DIR}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  DEPENDS ridid-emu)

# Include the target tree's tests in this tree's ctest run.
file(WRITE ${CMAKE_BINARY_DIR}/target_tests.cmake
  "if(EXISTS \"${RIDID_TARGET_BINARY_DIR}/CTestTestfile.cmake\")\n  subdirs(\"${RIDID_TARGET_BINARY_DIR}\")\nendif()\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/target_tests.cmake)

# The SDK: `cmake --install <build> --prefix P` lays out everything a user's
# own project needs, with no path back into this build tree.
include(${CMAKE_SOURCE_DIR}/cmake/RididCodegen.cmake)
install(PROGRAMS $<TARGET_FILE:ridid-emu> DESTINATION bin)
set(_public_headers ridid_abi.h ridid_services.h unistd.h fcntl.h string.h stdio.h stdlib.h errno.h ctype.h assert.h math.h)
list(TRANSFORM _public_headers PREPEND ${CMAKE_SOURCE_DIR}/runtime/)
install(FILES ${_public_headers} DESTINATION include)
install(FILES
  ${RIDID_TARGET_BINARY_DIR}/runtime/libridid.a
  ${RIDID_TARGET_BINARY_DIR}/sdk/user_crt0.o
  ${CMAKE_SOURCE_DIR}/cmake/ridid.ld
  ${RIDID_BUILTINS}
  DESTINATION lib/ridid)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/ridid-toolchain.cmake ${CMAKE_SOURCE_DIR}/cmake/RididCodegen.cmake
  ${CMAKE_SOURCE_DIR}/cmake/RididTest.cmake
  ${CMAKE_SOURCE_DIR}/cmake/RididRunTest.cmake DESTINATION share/ridid/cmake)
install(DIRECTORY ${RIDID_SHARE_DIR}/root DESTINATION share/ridid USE_SOURCE_PERMISSIONS)

# The SDK end to end: install to a temporary prefix, build the example
# project with nothing but that prefix, run its tests under ridid-emu.
if(EXISTS ${CMAKE_SOURCE_DIR}/examples/sdk-demo/CMakeLists.txt)
  add_test(NAME sdk.install_and_build_example
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/sdk/sdk_test.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}/examples/sdk-demo)
  set_tests_properties(sdk.install_and_build_example PROPERTIES TIMEOUT 900)
endif()
