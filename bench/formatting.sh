#!/bin/bash
# Formatting figures under ridid-emu: guest instructions per snprintf call
# for a few typical formats, per printf of a short console line, and the
# console writes (traps) that line costs. Figures only; nothing is judged.
#
# usage: bench/formatting.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build=${1:-build}
emu=$build/bin/ridid-emu
prog=$build/target/bin/formatting_bench
for f in "$emu" "$prog"; do
  [[ -x $f ]] || { echo "formatting.sh: $f not found (build first)" >&2; exit 1; }
done

small=100
large=2100
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Instructions of one run: MODE COUNT
instructions() {
  "$emu" --no-sleep --scratch-root --count "$prog" "$1" "$2" 2> "$work/err" > /dev/null
  sed -n 's/^instructions: //p' "$work/err"
}

# Extra instructions per iteration between the two counts, less the bare loop.
per_call() {
  local a b
  a=$(instructions "$1" $small)
  b=$(instructions "$1" $large)
  echo $(( (b - a) / (large - small) ))
}

loop=$(per_call none)
printf '%-16s %s\n' "mode" "instructions per call"
for mode in snprintf-int snprintf-hex snprintf-str snprintf-mixed printf-line; do
  printf '%-16s %d\n' "$mode" $(( $(per_call $mode) - loop ))
done

# Console writes per printf line, from the trace.
writes() {
  "$emu" --no-sleep --scratch-root --trace "$work/trace" "$prog" printf-line "$1" > /dev/null
  grep -c '"nr":1,' "$work/trace" || true
}
w1=$(writes 10)
w2=$(writes 110)
echo "printf-line: $(( (w2 - w1) / 100 )) console traps per line (\"step %d: ok\\n\")"
