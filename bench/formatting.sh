#!/bin/bash
# Formatting figures under ridid-emu: guest instructions per snprintf call
# for a few typical formats, per printf of a short console line, and the
# console writes (traps) that line costs. Figures only; nothing is judged.
#
# usage: bench/formatting.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build=${1:-build}
prog=$build/target/bin/formatting_bench
source "$(dirname "$0")/per_call.sh"

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
