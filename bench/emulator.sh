#!/bin/bash
# ridid-emu against qemu-user and the processor itself, from one run:
#  - a byte-scanning loop (bench/scan_loop.c): instructions per second of
#    ridid-emu (plain and --count), qemu-i386-static on the same source
#    built for Linux i386, and that build run natively;
#  - a trap loop (bench/trap_loop.c): the cost of one system call;
#  - start to exit of `ridid-emu run prog a b` (the run command, default root).
# Times are medians of repeated runs (hyperfine when installed).
#
# usage: bench/emulator.sh [BUILD_DIR]   (default: build; EMU=... another ridid-emu)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
emu=${EMU:-$build/bin/ridid-emu}  # EMU=path compares another build
run=$build/target/bin/run
crt0=$build/target/sdk/user_crt0.o
lib=$build/target/runtime/libridid.a
for f in "$emu" "$run" "$crt0" "$lib"; do
  [[ -e $f ]] || { echo "emulator.sh: $f not found (build first)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The same code generation for both: i686, x87 only.
cflags="-O2 -march=i686 -mno-mmx -mno-sse -mno-sse2 -fno-builtin"
builtins=$(clang --target=i386-unknown-none-elf -print-resource-dir)/lib/linux/libclang_rt.builtins-i386.a
for prog in scan_loop trap_loop; do
  clang --target=i386-unknown-none-elf $cflags -nostdlibinc -isystem "$here/../runtime" \
    -fno-pic -fno-pie -fno-stack-protector -c "$here/$prog.c" -o "$work/$prog.o"
  ld.lld -m elf_i386 -static -T "$here/../cmake/ridid.ld" "$work/$prog.o" "$crt0" "$lib" \
    "$builtins" -o "$work/$prog.ridid"
  clang -m32 -static $cflags "$here/$prog.c" -o "$work/$prog.linux" 2> /dev/null ||
    gcc -m32 -static -O2 "$here/$prog.c" -o "$work/$prog.linux"
done

# Median wall time in seconds of a command, over repeated runs.
median() {
  if command -v hyperfine > /dev/null; then
    hyperfine -N -i --warmup 2 --runs "${RUNS:-15}" --export-csv "$work/t.csv" "$*" > /dev/null 2>&1
    awk -F, 'NR == 2 { print $4 }' "$work/t.csv"
  else
    local times=()
    for _ in $(seq "${RUNS:-15}"); do
      local t0 t1
      t0=$(date +%s%N)
      "$@" > /dev/null 2>&1 || true
      t1=$(date +%s%N)
      times+=($((t1 - t0)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { printf "%.6f\n", a[int((NR + 1) / 2)] / 1e9 }'
  fi
}

insns=$("$emu" --scratch-root --count "$work/scan_loop.ridid" 2>&1 >/dev/null | sed -n 's/^instructions: //p')
t_emu=$(median "$emu" --scratch-root "$work/scan_loop.ridid")
t_count=$(median "$emu" --scratch-root --count "$work/scan_loop.ridid")
# Some hosts refuse i386 programs ("Exec format error"): no native row there.
t_native=""
status=0
"$work/scan_loop.linux" > /dev/null 2>&1 || status=$?
((status < 126)) && t_native=$(median "$work/scan_loop.linux")
qemu=$(command -v qemu-i386-static || true)
t_qemu=""
[[ -n $qemu ]] && t_qemu=$(median "$qemu" "$work/scan_loop.linux")

rate() { awk -v n="$insns" -v t="$1" 'BEGIN { printf "%7.3f s  %6.2f G instructions/s", t, n / t / 1e9 }'; }
echo "byte-scanning loop: $insns guest instructions"
printf '  %-26s %s\n' "ridid-emu" "$(rate "$t_emu")"
printf '  %-26s %s\n' "ridid-emu --count" "$(rate "$t_count")"
if [[ -n $t_qemu ]]; then
  printf '  %-26s %s\n' "qemu-i386-static (Linux)" "$(rate "$t_qemu")"
else
  echo "  qemu-i386-static: not installed (apt-get install qemu-user-static to compare)"
fi
if [[ -n $t_native ]]; then
  printf '  %-26s %s\n' "native (Linux i386)" "$(rate "$t_native")"
else
  echo "  native (Linux i386): missing, this host cannot run i386 Linux programs"
fi
if [[ -n $t_qemu ]]; then
  awk -v e="$t_emu" -v c="$t_count" -v q="$t_qemu" 'BEGIN {
    printf "  ridid-emu runs at %.2f of qemu-user'"'"'s speed; --count at %.2f\n", q / e, q / c }'
fi

n=1000000
t0=$(median "$emu" --scratch-root "$work/trap_loop.ridid" 0)
t1=$(median "$emu" --scratch-root "$work/trap_loop.ridid" $n)
echo "trap loop: $n dup2 calls"
awk -v a="$t0" -v b="$t1" -v n=$n 'BEGIN { printf "  ridid-emu: %.3f us per trap\n", (b - a) / n * 1e6 }'
if [[ -n $qemu ]]; then
  q0=$(median "$qemu" "$work/trap_loop.linux" 0)
  q1=$(median "$qemu" "$work/trap_loop.linux" $n)
  awk -v a="$q0" -v b="$q1" -v n=$n 'BEGIN { printf "  qemu-i386-static: %.3f us per system call\n", (b - a) / n * 1e6 }'
fi

t_start=$(RUNS=41 median "$emu" "$run" prog a b)
awk -v t="$t_start" 'BEGIN { printf "start to exit of ridid-emu run prog a b: %.2f ms (median of 41)\n", t * 1000 }'
