#!/bin/bash
# Guest instructions per call of sscanf on a short line, strtol, strtod of a
# 17-digit number and rand, from ridid-emu --count differences between a run
# of N calls and a run of none.
# Usage: bench/conversions.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build=${1:-build}
emu=$build/bin/ridid-emu
program=$build/target/bin/conversions_bench
calls=20000
for f in "$emu" "$program"; do
  [[ -x $f ]] || { echo "missing $f (build first)" >&2; exit 1; }
done

count() {  # mode, calls -> guest instructions of the whole run
  "$emu" --no-sleep --scratch-root --count "$program" "$1" "$2" 2>&1 >/dev/null |
    sed -n 's/^instructions: //p'
}

printf '%-40s %s\n' "call" "instructions per call"
for mode in sscanf strtol strtod rand; do
  case $mode in
    sscanf) what='sscanf("move 120 -45", "%s %d %d")' ;;
    strtol) what='strtol("  123456789", 0, 10)' ;;
    strtod) what='strtod("3.1415926535897932")' ;;
    rand) what='rand()' ;;
  esac
  base=$(count "$mode" 0)
  full=$(count "$mode" "$calls")
  awk -v w="$what" -v a="$base" -v b="$full" -v n="$calls" 'BEGIN { printf "%-40s %.1f\n", w, (b - a) / n }'
done
