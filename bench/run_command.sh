#!/bin/bash
# Size and instruction figures of the run command.
# Usage: bench/run_command.sh [BUILD_DIR]   (default: build)
# BUILD_DIR is a host build: BUILD_DIR/bin/ridid-emu and BUILD_DIR/target/bin/run.
set -euo pipefail
build=${1:-build}
emu=$build/bin/ridid-emu
run=$build/target/bin/run
for f in "$emu" "$run"; do
  [[ -x "$f" ]] || { echo "missing $f (build first)" >&2; exit 2; }
done
readelf=$(command -v llvm-readelf || command -v readelf)

echo "run image: $run ($(stat -c %s "$run") bytes on disk)"

# Loadable segments in order: code (R E), read-only (R), writable (RW).
code=0 ro=0 data=0 zero=0
while read -r type off vaddr paddr filesz memsz flags; do
  [[ "$type" == LOAD ]] || continue
  case "$flags" in
    "R E"*) code=$((memsz)) ;;
    "RW"*) data=$((filesz)); zero=$((memsz - filesz)) ;;
    "R"*) ro=$((memsz)) ;;
  esac
done < <("$readelf" -lW "$run" | sed -nE 's/^ *(LOAD) +(0x[0-9a-f]+) +(0x[0-9a-f]+) +(0x[0-9a-f]+) +(0x[0-9a-f]+) +(0x[0-9a-f]+) +([RWE ]+) +0x[0-9a-f]+$/\1 \2 \3 \4 \5 \6 \7/p')
printf '  code (R+X segment):          %8d bytes\n' "$code"
printf '  read-only (R segment):       %8d bytes\n' "$ro"
printf '  initialised data (RW, file): %8d bytes\n' "$data"
printf '  zero-filled (RW, memory):    %8d bytes (the 1 MiB heap arena among it)\n' "$zero"

echo "  sections:"
while read -r name type size; do
  printf '    %-16s %-9s %8d bytes\n' "$name" "$type" "$((16#$size))"
done < <("$readelf" -SW "$run" | sed -nE 's/^ *\[ *[0-9]+\] +(\.[^ ]+) +(PROGBITS|NOBITS) +[0-9a-f]+ +[0-9a-f]+ +([0-9a-f]+) .*/\1 \2 \3/p')

# Guest instructions, counted by the emulator over the whole run.
count() {
  "$emu" --no-sleep --scratch-root --count "$run" "$@" 2>&1 >/dev/null | sed -n 's/^instructions: //p'
}
echo "guest instructions:"
echo "  run prog a b:  $(count prog a b)  (the scratch root has no prog, so the request fails: \"run: failed\")"
echo "  run (usage):   $(count)"
