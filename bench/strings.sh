#!/bin/bash
# String function figures under ridid-emu: guest instructions per call on
# 100-byte strings (two equal ones for the comparisons), from the counts of
# two runs of different lengths, less the bare loop; and the cost of each
# further byte, from calls on 100- and 1000-byte strings. Figures only;
# nothing is judged.
#
# usage: bench/strings.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build=${1:-build}
prog=$build/target/bin/strings_bench
source "$(dirname "$0")/per_call.sh"

loop=$(per_call none)
printf '%-34s %-22s %s\n' "call" "per call (100 bytes)" "per further byte"
for mode in strlen strnlen strcmp strncmp memcmp strchr; do
  case $mode in
    strlen) what='strlen(a)' ;;
    strnlen) what='strnlen(a, 2000)' ;;
    strcmp) what='strcmp(a, b), equal' ;;
    strncmp) what='strncmp(a, b, 2000), equal' ;;
    memcmp) what='memcmp(a, b, length), equal' ;;
    strchr) what="strchr(a, '#'), absent" ;;
  esac
  short=$(( $(per_call $mode 100) - loop ))
  long=$(( $(per_call $mode 1000) - loop ))
  printf '%-34s %-22d %s\n' "$what" "$short" "$(awk -v a="$short" -v b="$long" 'BEGIN { printf "%.2f", (b - a) / 900 }')"
done
