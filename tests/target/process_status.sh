#!/bin/bash
# exit and abort end the process at once with their status: no handler
# runs, nothing more is written, and a file opened for writing and never
# closed is never stored.
# Usage: process_status.sh RIDID_EMU PROCESS_EXIT
set -uo pipefail
emu=$1
program=$2
root=$(mktemp -d)
out=$(mktemp)
trap 'rm -rf "$root" "$out"' EXIT
passed=0
failed=0
check() {  # description, then the test command
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $what"
  fi
}

"$emu" --no-sleep --root "$root" "$program" exit3 > "$out"
status=$?
check "exit(3) gives status 3 (got $status)" test "$status" -eq 3
check "only 'before' on the console (got [$(cat "$out")])" test "$(cat "$out")" = "before"
check "the closed file is stored" test "$(cat "$root/closed.txt" 2>/dev/null)" = "stored"
check "the unclosed file is never stored" test ! -e "$root/unclosed.txt"

"$emu" --no-sleep --scratch-root "$program" exit261 > "$out"
status=$?
check "exit(261) gives status 5 (got $status)" test "$status" -eq 5
check "exit(261) writes nothing" test ! -s "$out"

"$emu" --no-sleep --scratch-root "$program" abort > "$out"
status=$?
check "abort gives status 1 (got $status)" test "$status" -eq 1
check "abort writes nothing" test ! -s "$out"

echo "$passed passed, $failed failed"
test "$failed" -eq 0
