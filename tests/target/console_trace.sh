#!/bin/bash
# A program's first console writes as the kernel sees them, in ridid-emu's
# trace, and the first bytes on the console.
# Usage: console_trace.sh RIDID_EMU PROGRAM WRITES TEXT
#   WRITES: a word per write: P and the bytes of a control packet (P255,1,2,3), or descriptor:count (1:5)
#   TEXT:   the console's first bytes, as a printf format ('ok\n')
set -euo pipefail
trace=$(mktemp) out=$(mktemp)
trap 'rm -f "$trace" "$out"' EXIT
"$1" --no-sleep --scratch-root --trace "$trace" "$2" > "$out"
got=$(grep '"nr":1,' "$trace" | head -n "$(wc -w <<< "$3")" |
  sed -E 's/.*"packet":\[([0-9,]*)\].*/P\1/; s/.*"ebx":"0x([0-9a-f]+)",.*"edx":"0x([0-9a-f]+)".*/\1 \2/' |
  while read -r a b; do [[ $a == P* ]] && echo "$a" || echo "$((16#$a)):$((16#$b))"; done | xargs)
text=$(head -c "$(printf "$4" | wc -c)" "$out" | od -An -tx1 | tr -d ' \n')
[[ "$got" == "$3" && "$text" == "$(printf "$4" | od -An -tx1 | tr -d ' \n')" ]] && echo "1 passed, 0 failed" && exit 0
echo "console writes: [$got], want [$3]; console bytes: [$text]"
echo "0 passed, 1 failed"
exit 1
