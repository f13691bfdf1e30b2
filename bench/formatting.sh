#!/bin/bash
# Formatting figures under ridid-emu: guest instructions per formatting call
# for each mode of formatting_bench (short numbers, flags, strings, stream
# lines), and the console writes (traps) a short printf line costs. Figures
# only; nothing is judged.
#
# usage: [BEFORE=OTHER_BUILD_DIR] bench/formatting.sh [BUILD_DIR]   (default: build)
# With BEFORE, the same benchmark object is linked a second time with the
# other build's library, and a column shows each mode's count with that
# library beside the change.
set -euo pipefail
build=${1:-build}
before=${BEFORE:-}
prog=$build/target/bin/formatting_bench
source "$(dirname "$0")/per_call.sh"

# The figures of one program: "mode count" lines, the loop alone taken off.
figures() {
  local prog=$1 loop
  loop=$(per_call none)
  for mode in $("$emu" --no-sleep --scratch-root "$prog" list | tail -n +2); do
    echo "$mode $(( $(per_call "$mode") - loop ))"
  done
}

figures "$prog" > "$work/after"
if [[ -n $before ]]; then
  here=$(dirname "$0")
  { read -r _; read -r builtins; } < <(cmake -P "$here/../cmake/RididCodegen.cmake")
  lib=$before/target/runtime/libridid.a
  [[ -e $lib ]] || { echo "formatting.sh: $lib not found (build first)" >&2; exit 1; }
  ld.lld -m elf_i386 -static -T "$here/../cmake/ridid.ld" "$build/target/sdk/user_crt0.o" \
    "$build/target/CMakeFiles/formatting_bench.dir/bench/formatting_bench.cpp.obj" "$lib" "$builtins" \
    -o "$work/formatting_bench.before"
  figures "$work/formatting_bench.before" > "$work/before"
  printf '%-18s %8s %8s %8s\n' mode before after change
  paste -d ' ' "$work/before" "$work/after" | awk '{ printf "%-18s %8d %8d %+8d\n", $1, $2, $4, $4 - $2 }'
else
  printf '%-18s %s\n' mode "instructions per call"
  awk '{ printf "%-18s %d\n", $1, $2 }' "$work/after"
fi

# Console writes per printf line, from the trace.
writes() {
  "$emu" --no-sleep --scratch-root --trace "$work/trace" "$prog" printf-line "$1" > /dev/null
  grep -c '"nr":1,' "$work/trace" || true
}
w1=$(writes 10)
w2=$(writes 110)
echo "printf-line: $(( (w2 - w1) / 100 )) console traps per line (\"step %d: ok\\n\")"
