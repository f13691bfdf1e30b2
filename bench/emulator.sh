#!/bin/bash
# ridid-emu against qemu-user on the kinds of guest code, from one run:
#  - each workload of bench/guest/ (stores to the stack and to static data,
#    calls, block copies, a load-only scan, strings and formatting with a
#    system call per line, a sort, a hash table, an interpreter), built from
#    the same source for ridid (with the runtime) and for Linux i386 (with
#    glibc), same compiler and flags where clang can link for Linux: guest
#    instructions of the ridid build; CPU time under ridid-emu, --count and
#    --profile, and under qemu-i386-static; the speed against qemu-user (its
#    time over ours: 1.00 is as fast); what --count and --profile keep of the
#    plain speed; geometric means;
#  - with BEFORE=path, the same for another ridid-emu (an older build) and
#    what the measured one gains on it, so one run shows before and after;
#  - a trap loop: the cost of one system call;
#  - start to exit of `ridid-emu run prog a b` (the run command, default root).
# Times are CPU seconds (user + system) of the whole process, start-up
# included, the least of RUNS runs (default 9; other work on the host can
# only add to a time), taken in turns so that a load that comes and goes
# hits every column alike.
#
# usage: bench/emulator.sh [BUILD_DIR]   (default: build)
#   EMU=path     the ridid-emu to measure (default BUILD_DIR/bin/ridid-emu)
#   BEFORE=path  another ridid-emu to compare with
#   RUNS=n       runs per figure
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
emu=${EMU:-$build/bin/ridid-emu}
before=${BEFORE:-}
runs=${RUNS:-9}
run=$build/target/bin/run
crt0=$build/target/sdk/user_crt0.o
lib=$build/target/runtime/libridid.a
for f in "$emu" "$run" "$crt0" "$lib" $before; do
  [[ -e $f ]] || { echo "emulator.sh: $f not found (build first)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name|program|argument (the program's default size, given so both builds
# surely run the same).
workloads=(
  "stack counter|stack_counter|50000000"
  "array stores|array_stores|4000"
  "calls|calls|30"
  "block copy|block_copy|400"
  "load-only scan|scan_loop|"
  "printf lines|print_lines|100000"
  "sort|sort|200000"
  "hash table|hash_table|1000000"
  "interpreter|interpreter|30000"
)

# The same code generation for both, ridid's (cmake/RididCodegen.cmake):
# i686, x87 only, library calls kept.
{ read -r codegen; read -r builtins; } < <(cmake -P "$here/../cmake/RididCodegen.cmake")
cflags="-O2 $codegen"
linux_cc="clang $cflags"
for prog in $(printf '%s\n' "${workloads[@]}" | cut -d'|' -f2) trap_loop; do
  clang --target=i386-unknown-none-elf $cflags -nostdlibinc -isystem "$here/../runtime" \
    -c "$here/guest/$prog.c" -o "$work/$prog.o"
  ld.lld -m elf_i386 -static -T "$here/../cmake/ridid.ld" "$work/$prog.o" "$crt0" "$lib" \
    "$builtins" -o "$work/$prog.ridid"
  if ! clang -m32 -static $cflags "$here/guest/$prog.c" -o "$work/$prog.linux" 2> /dev/null; then
    gcc -m32 -static -O2 "$here/guest/$prog.c" -o "$work/$prog.linux"
    linux_cc="gcc -O2 (clang could not link for Linux i386)"
  fi
done

qemu=$(command -v qemu-i386-static || true)
# Some hosts refuse i386 programs ("Exec format error"): no native column.
status=0
"$work/trap_loop.linux" 0 > /dev/null 2>&1 || status=$?
native=""
((status < 126)) && native=1

# CPU seconds (user + system) of one run of a command, its output dropped.
cpu() {
  local TIMEFORMAT='%3U %3S' t
  t=$({ time "$@" > /dev/null 2>&1 || true; } 2>&1)
  awk '{ printf "%.3f\n", $1 + $2 }' <<< "$t"
}
least() { sort -n | head -n 1; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The measured columns: a label and a command prefix (the program and its
# argument follow; qemu-user and native run the Linux build).
labels=(ridid-emu count profile)
cmds=("$emu --scratch-root" "$emu --scratch-root --count"
      "$emu --scratch-root --profile $work/profile.out")
if [[ -n $before ]]; then
  labels+=(before before-count before-profile)
  cmds+=("$before --scratch-root" "$before --scratch-root --count"
         "$before --scratch-root --profile $work/profile.out")
fi
[[ -n $qemu ]] && labels+=(qemu-user) && cmds+=("$qemu")
[[ -n $native ]] && labels+=(native) && cmds+=("")

# One line per workload in $work/table: name|instructions|time per label.
for w in "${workloads[@]}"; do
  IFS='|' read -r name prog arg <<< "$w"
  insns=$({ "$emu" --scratch-root --count "$work/$prog.ridid" $arg 2>&1 > /dev/null || true; } |
    sed -n 's/^instructions: //p')
  for c in "${!labels[@]}"; do : > "$work/$c.times"; done
  for _ in $(seq "$runs"); do
    for c in "${!labels[@]}"; do
      image=$work/$prog.ridid
      [[ ${labels[c]} == qemu-user || ${labels[c]} == native ]] && image=$work/$prog.linux
      # shellcheck disable=SC2086  # a command prefix is words
      cpu ${cmds[c]} "$image" $arg >> "$work/$c.times"
    done
  done
  row="$name|$insns"
  for c in "${!labels[@]}"; do row+="|$(least < "$work/$c.times")"; done
  echo "$row" >> "$work/table"
done

# Prints the table with COLUMNS (space-separated): a label's time, or
# HEADING=A/B, the time of label A over that of B, with its geometric mean.
table() {
  awk -F'|' -v labels="${labels[*]}" -v columns="$1" '
    BEGIN {
      nl = split(labels, label, " ")
      for (i = 1; i <= nl; ++i) field[label[i]] = i + 2
      nc = split(columns, column, " ")
      printf "%-15s %8s", "workload", "guest M"
      for (c = 1; c <= nc; ++c) {
        head = column[c]
        if (split(column[c], part, "=") == 2) head = part[1]
        printf " %9s", head
      }
      printf "\n"
    }
    {
      printf "%-15s %8.1f", $1, $2 / 1e6
      for (c = 1; c <= nc; ++c) {
        if (split(column[c], part, "=") == 2) {
          split(part[2], ab, "/")
          v = $(field[ab[2]]) > 0 ? $(field[ab[1]]) / $(field[ab[2]]) : 0
          logsum[c] += log(v > 0 ? v : 1e-9)
          printf " %9.2f", v
        } else {
          printf " %9.3f", $(field[column[c]])
        }
      }
      printf "\n"
    }
    END {
      printf "%-15s %8s", "geometric mean", ""
      for (c = 1; c <= nc; ++c)
        if (c in logsum) printf " %9.2f", exp(logsum[c] / NR); else printf " %9s", ""
      printf "\n"
    }' "$work/table"
}

echo "Times: CPU seconds (user + system), the least of $runs runs."
echo "Linux i386 builds: $linux_cc -m32 -static, glibc; ridid builds: clang, the runtime."
echo "speed: qemu-user's time over ridid-emu's (1.00: as fast); kept: plain time over"
echo "the --count or --profile time; gain: the BEFORE time over the measured one."
[[ -n $qemu ]] || echo "qemu-i386-static: not installed (apt-get install qemu-user-static to compare)"
[[ -n $native ]] || echo "native: missing, this host cannot run i386 Linux programs"
speed=""
[[ -n $qemu ]] && speed="qemu-user speed=qemu-user/ridid-emu"
[[ -n $native ]] && speed="native $speed"
echo
echo "ridid-emu: $emu"
table "$speed ridid-emu count kept=ridid-emu/count profile kept=ridid-emu/profile"
if [[ -n $before ]]; then
  speed=""
  [[ -n $qemu ]] && speed="speed=qemu-user/before"
  echo
  echo "before: $before"
  table "before $speed before-count kept=before/before-count before-profile \
kept=before/before-profile gain=before/ridid-emu count-gain=before-count/count \
prof-gain=before-profile/profile"
fi

echo
n=1000000
t0=$(for _ in $(seq "$runs"); do cpu "$emu" --scratch-root "$work/trap_loop.ridid" 0; done | least)
t1=$(for _ in $(seq "$runs"); do cpu "$emu" --scratch-root "$work/trap_loop.ridid" $n; done | least)
echo "trap loop: $n dup2 calls"
awk -v a="$t0" -v b="$t1" -v n=$n 'BEGIN { printf "  ridid-emu: %.3f us per trap\n", (b - a) / n * 1e6 }'
if [[ -n $qemu ]]; then
  q0=$(for _ in $(seq "$runs"); do cpu "$qemu" "$work/trap_loop.linux" 0; done | least)
  q1=$(for _ in $(seq "$runs"); do cpu "$qemu" "$work/trap_loop.linux" $n; done | least)
  awk -v a="$q0" -v b="$q1" -v n=$n 'BEGIN { printf "  qemu-i386-static: %.3f us per system call\n", (b - a) / n * 1e6 }'
fi

if command -v hyperfine > /dev/null; then
  hyperfine -N -i --warmup 2 --runs 41 --export-csv "$work/t.csv" "$emu $run prog a b" > /dev/null 2>&1
  t_start=$(awk -F, 'NR == 2 { print $4 }' "$work/t.csv")
else
  t_start=$(for _ in $(seq 41); do
    t0=$(date +%s%N)
    "$emu" "$run" prog a b > /dev/null 2>&1 || true
    echo "$(($(date +%s%N) - t0))e-9"
  done | awk '{ printf "%.6f\n", $1 }' | median)
fi
awk -v t="$t_start" 'BEGIN { printf "start to exit of ridid-emu run prog a b: %.2f ms (wall, median of 41)\n", t * 1000 }'
