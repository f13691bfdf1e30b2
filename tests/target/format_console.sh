#!/bin/bash
# printf on the console as the kernel sees it: format_test's first console
# output must reach the kernel as the 0xFF packets in one 4-byte write each
# and the text one piece per write, and the packets must not show as text.
# Usage: format_console.sh RIDID_EMU FORMAT_TEST
set -euo pipefail
emu=$1
program=$2
trace=$(mktemp)
out=$(mktemp)
trap 'rm -f "$trace" "$out"' EXIT

"$emu" --no-sleep --scratch-root --trace "$trace" "$program" > "$out"

# One word per console write: P and the packet's bytes, or the byte count.
got=$(grep '"nr":1,' "$trace" | head -n 8 |
  sed -E 's/.*"packet":\[([0-9,]*)\].*/P\1/; s/.*"edx":([0-9]+).*/\1/' | tr '\n' ' ')
want="P255,1,2,3 P255,1,2,3 1 1 1 2 1 P255,4,5,6 "
status=0
if [[ "$got" != "$want" ]]; then
  echo "console writes: got [$got], want [$want]"
  status=1
fi
if [[ "$(head -c 9 "$out")" != $'ok 77\nxA' ]]; then
  echo "console text: got [$(head -c 9 "$out" | od -An -c)]"
  status=1
fi
if [[ $status -eq 0 ]]; then
  echo "1 passed, 0 failed"
else
  echo "0 passed, 1 failed"
fi
exit $status
