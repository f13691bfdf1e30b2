# How this host runs the i386 Linux programs of the build (the runtime's host
# tests and the 32-bit fuzz targets): natively where the kernel takes them,
# otherwise through qemu-user. RIDID_I386_EXEC is what goes in front of such
# a program's command line (empty when it runs natively).
#
# RIDID_I386_RUNNER chooses: auto (try a tiny -m32 program), native, or qemu,
# which takes the qemu path on any host, so that path can be checked anywhere.
# Under qemu-user, LeakSanitizer cannot stop the program's threads (it needs
# ptrace) and would spin at exit: leak detection is off there.
set(RIDID_I386_RUNNER auto CACHE STRING "How i386 host programs run: auto, native or qemu")
set_property(CACHE RIDID_I386_RUNNER PROPERTY STRINGS auto native qemu)

set(_probe_dir ${CMAKE_BINARY_DIR}/i386-probe)
file(WRITE ${_probe_dir}/probe.c "int main(void) { return 0; }\n")
execute_process(COMMAND ${CMAKE_C_COMPILER} -m32 ${_probe_dir}/probe.c -o ${_probe_dir}/probe
                RESULT_VARIABLE _compiled OUTPUT_QUIET ERROR_QUIET)
if(NOT _compiled EQUAL 0)
  message(FATAL_ERROR "ridid: ${CMAKE_C_COMPILER} cannot build i386 programs (-m32): install g++-multilib")
endif()
execute_process(COMMAND ${_probe_dir}/probe RESULT_VARIABLE _ran OUTPUT_QUIET ERROR_QUIET)
if(_ran EQUAL 0)
  set(RIDID_I386_NATIVE ON)
else()
  set(RIDID_I386_NATIVE OFF)
endif()

if(RIDID_I386_RUNNER STREQUAL "native" OR (RIDID_I386_RUNNER STREQUAL "auto" AND RIDID_I386_NATIVE))
  if(NOT RIDID_I386_NATIVE)
    message(FATAL_ERROR "ridid: RIDID_I386_RUNNER is native, but this host cannot run i386 programs")
  endif()
  set(RIDID_I386_EXEC "")
  set(_way "natively")
else()
  find_program(RIDID_QEMU_I386 NAMES qemu-i386-static qemu-i386)
  if(NOT RIDID_QEMU_I386)
    message(FATAL_ERROR "ridid: this host cannot run i386 programs and has no qemu-i386-static: install qemu-user-static")
  endif()
  set(RIDID_I386_EXEC env ASAN_OPTIONS=detect_leaks=0 ${RIDID_QEMU_I386})
  if(RIDID_I386_NATIVE)
    set(_way "under ${RIDID_QEMU_I386} (chosen by RIDID_I386_RUNNER; the host could run them)")
  else()
    set(_way "under ${RIDID_QEMU_I386} (this host cannot run them)")
  endif()
endif()
# For scripts: how the programs ran in this configuration.
set(RIDID_I386_WAY ${_way} CACHE INTERNAL "")
set(RIDID_I386_HOST_NATIVE ${RIDID_I386_NATIVE} CACHE INTERNAL "")
message(STATUS "ridid: i386 host tests and fuzz targets run ${_way}")
