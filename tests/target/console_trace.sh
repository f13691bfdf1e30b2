#!/bin/bash
# A program's first console writes as the kernel sees them, through
# ridid-emu's trace, and the first bytes shown on the console.
# Usage: console_trace.sh RIDID_EMU PROGRAM WRITES TEXT
#   WRITES: one word per console write, in order: "P" and the packet's bytes
#           for a control packet (P255,1,2,3), otherwise descriptor:count (1:5)
#   TEXT:   the console's first bytes, as a printf format ('ok\n')
set -euo pipefail
emu=$1
program=$2
want="$3 "
text=$4
trace=$(mktemp)
out=$(mktemp)
trap 'rm -f "$trace" "$out"' EXIT

"$emu" --no-sleep --scratch-root --trace "$trace" "$program" > "$out"

status=0
count=$(wc -w <<< "$3")
got=""
while read -r word; do
  [[ $word == P* ]] || word=$((16#${word%:*})):$((16#${word#*:}))
  got+="$word "
done < <(grep '"nr":1,' "$trace" | head -n "$count" |
  sed -E 's/.*"packet":\[([0-9,]*)\].*/P\1/; s/.*"ebx":"0x([0-9a-f]+)",.*"edx":"0x([0-9a-f]+)".*/\1:\2/')
if [[ "$got" != "$want" ]]; then
  echo "console writes: got [$got], want [$want]"
  status=1
fi
# Compared as bytes: the text may end in newlines that $(...) would drop.
size=$(printf "$text" | wc -c)
if ! printf "$text" | cmp -s - <(head -c "$size" "$out"); then
  echo "console text: got [$(head -c "$size" "$out" | od -An -c)]"
  status=1
fi
if [[ $status -eq 0 ]]; then
  echo "1 passed, 0 failed"
else
  echo "0 passed, 1 failed"
fi
exit $status
