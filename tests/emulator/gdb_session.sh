#!/usr/bin/env bash
# GDB itself against ridid-emu --gdb, in batch mode, on images/tools.c: a
# breakpoint, locals and arguments, a backtrace, next and step, a double
# returned in the x87 unit, a register written, the exit status; then a null
# write that stops at its source line with SIGSEGV and, continued, ends it;
# an invalid instruction stops with SIGILL; watch, rwatch and awatch.
#   gdb_session.sh RIDID-EMU TOOLS.ELF TOOLS.C     (77: skipped without gdb)
set -u
emu=$1 image=$2 source=$3
command -v gdb >/dev/null || { echo "gdb is not installed: skipped"; exit 77; }
work=$(mktemp -d) emu_pid= failures=0
# ridid-emu runs the guest in a child: end the process group it leads.
trap '[[ -n $emu_pid ]] && kill -- "-$emu_pid" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
line_of() { grep -n "/\* line: $1 \*/" "$source" | cut -d: -f1; }

# Starts ridid-emu --gdb on a free port and waits until it listens.
start_emu() {
  local try i
  for try in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 30000))
    setsid -w "$emu" --scratch-root --gdb "$port" "$image" "$@" >"$work/out" 2>"$work/err" &
    emu_pid=$!
    for i in $(seq 200); do
      grep -q "waiting for GDB" "$work/err" && return 0
      kill -0 "$emu_pid" 2>/dev/null || break
      sleep 0.05
    done
    wait "$emu_pid"
    emu_pid=
    grep -q "cannot listen" "$work/err" || break  # anything but a taken port
  done
  cat "$work/err"
  fail "ridid-emu did not start"
  return 1
}
# gdb with the given commands after connecting; the transcript is shown.
session() {
  timeout 60 gdb -batch -nx -iex 'set debuginfod enabled off' "$image" \
    -ex "target remote 127.0.0.1:$port" "$@" >"$work/gdb" 2>&1
  echo "---- gdb ${*}"
  cat "$work/gdb"
}
expect() { grep -Eq -- "$1" "$work/gdb" || fail "$2 (no line matching: $1)"; }
# The emulator's exit status once GDB is done with it.
expect_status() {
  wait "$emu_pid"
  local status=$?
  emu_pid=
  [[ $status == "$1" ]] || fail "ridid-emu exit status $status, not $1"
}

# All registers written at once (G), eax made 42 and the rest as read (g).
write_eax='g = gdb.execute("maint packet g", to_string=True).split("received: \"")[1].strip().rstrip("\""); gdb.execute("maint packet G2a000000" + g[8:])'
if start_emu; then
  session -ex 'break half' -ex continue -ex finish -ex 'break sum_squares' -ex continue -ex next \
    -ex step -ex bt -ex 'print n' -ex next -ex 'print result' -ex 'set $ecx = 0x1234' \
    -ex 'print/x $ecx' -ex "python $write_eax" -ex 'maint flush register-cache' -ex 'print/x $eax' \
    -ex 'maint packet p20' -ex delete -ex 'maint packet C1e'
  expect '^Breakpoint 1, half \(x=5\) at ' "breakpoint in half"
  expect '^Value returned is \$1 = 2\.5$' "a double returned in st0"
  expect "^$(line_of loop)[[:space:]]" "next onto the loop's line"
  expect "^square \(n=1\) at .*tools\.c:$(line_of square)$" "step into square"
  expect '^#0  square \(n=1\) at ' "backtrace, frame 0"
  expect '^#1  0x[0-9a-f]+ in sum_squares \(count=4\) at ' "backtrace, frame 1"
  expect '^#2  0x[0-9a-f]+ in run \(argc=1, argv=0x[0-9a-f]+\) at ' "backtrace, frame 2"
  expect '^\$2 = 1$' "the argument n"
  expect '^\$3 = 1$' "the local result after next"
  expect '^\$4 = 0x1234$' "a register written"
  expect '^\$5 = 0x2a$' "eax written by a G packet"
  expect '^received: "E01"$' "no register 32"
  expect '^received: "W1e"$' "continued with a signal it does not deliver, to the exit status (30)"
  expect_status 30
fi

if start_emu crash; then
  session -ex continue -ex 'print nowhere' -ex continue
  expect '^Program received signal SIGSEGV, Segmentation fault\.$' "SIGSEGV stop"
  expect "^0x[0-9a-f]+ in crash \(\) at .*tools\.c:$(line_of crash)$" "stopped at the faulting line"
  expect '^\$1 = \(volatile int \*\) 0x0$' "the local pointer at the fault"
  expect '^Program terminated with signal SIGSEGV, Segmentation fault\.$' "ended by SIGSEGV"
  expect_status 139
fi
if start_emu invalid; then  # the signal follows the kind of fault
  session -ex continue
  expect '^Program received signal SIGILL, Illegal instruction\.$' "SIGILL stop"
  expect_status 139
fi
# Watchpoints: one set while the program is stopped inside the block that
# writes, then one on code translated before it was set; each stops right
# after its instruction. A watch on a local ends with its function.
if start_emu watch; then
  session -ex 'break watch_target' -ex continue -ex delete -ex 'watch watched' -ex continue \
    -ex 'print $pc == after_write' -ex delete -ex finish -ex 'rwatch watched' -ex continue \
    -ex 'print $pc == after_read' -ex delete -ex 'awatch watched' -ex continue -ex continue \
    -ex delete -ex 'break sum_to' -ex continue -ex 'watch total' \
    -ex continue -ex continue -ex continue -ex continue -ex continue -ex continue
  expect '^Old value = 0$' "watch: the first write"
  expect '^\$1 = 1$' "watch: stopped right after the write"
  expect '^Hardware read watchpoint 3: watched$' "rwatch"
  expect '^\$2 = 1$' "rwatch: stopped right after the read, in code translated before"
  expect '^Value = 5$' "awatch: a write of the same value"
  expect '^Hardware access \(read/write\) watchpoint 4: watched$' "awatch"
  expect '^New value = 6$' "awatch: the next write"
  expect '^New value = 3$' "a local watched"
  expect '^Watchpoint 6 deleted because the program has left the block in$' "the local's scope left"
  expect "^$(line_of back)[[:space:]]" "back in the caller"
  expect 'exited with code 06' "the exit status"
  expect_status 6
fi
((failures)) && { echo "0 passed, $failures failed"; exit 1; }
echo "gdb session: all checks passed"
