#!/bin/bash
# String function figures under ridid-emu: guest instructions per call on
# 100-byte strings (two equal ones for the comparisons), from the counts of
# two runs of different lengths, less the bare loop. Figures only; nothing
# is judged.
#
# usage: bench/strings.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build=${1:-build}
prog=$build/target/bin/strings_bench
source "$(dirname "$0")/per_call.sh"

loop=$(per_call none)
printf '%-34s %s\n' "call (100-byte strings)" "instructions per call"
for mode in strlen strnlen strcmp strncmp memcmp strchr; do
  case $mode in
    strlen) what='strlen(a)' ;;
    strnlen) what='strnlen(a, 1000)' ;;
    strcmp) what='strcmp(a, b), equal' ;;
    strncmp) what='strncmp(a, b, 1000), equal' ;;
    memcmp) what='memcmp(a, b, 100), equal' ;;
    strchr) what="strchr(a, '#'), absent" ;;
  esac
  printf '%-34s %d\n' "$what" $(( $(per_call $mode) - loop ))
done
