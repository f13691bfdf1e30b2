#!/bin/bash
# The output path as the kernel sees it: output_test's first console writes
# must be puts' text and newline as two writes, fputs on stderr on descriptor
# 1, fputc/putchar one byte each and fwrite one write for the whole block.
# Usage: output_console.sh RIDID_EMU OUTPUT_TEST
set -euo pipefail
emu=$1
program=$2
trace=$(mktemp)
out=$(mktemp)
trap 'rm -f "$trace" "$out"' EXIT

"$emu" --no-sleep --scratch-root --trace "$trace" "$program" > "$out"

status=0
# Descriptor and byte count of each of the first seven console writes.
got=$(grep '"nr":1,' "$trace" | head -n 7 | sed -E 's/.*"ebx":([0-9]+),.*"edx":([0-9]+).*/\1:\2/' | tr '\n' ' ')
want="1:5 1:1 1:5 1:1 1:1 1:6 1:1 "
if [[ "$got" != "$want" ]]; then
  echo "console writes: got [$got], want [$want]"
  status=1
fi
# (compared as bytes: the text ends in newlines that $(...) would drop)
if ! printf 'alpha\nbeta g\ndelta\n\n' | cmp -s - <(head -c 20 "$out"); then
  echo "console text: got [$(head -c 20 "$out" | od -An -c)]"
  status=1
fi
if [[ $status -eq 0 ]]; then
  echo "1 passed, 0 failed"
else
  echo "0 passed, 1 failed"
fi
exit $status
