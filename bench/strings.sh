#!/bin/bash
# String function figures under ridid-emu: guest instructions per call on
# 100-byte strings (two equal ones for the comparisons), from the counts of
# two runs of different lengths, less the bare loop; and the cost of each
# further byte, from calls on 100- and 1000-byte strings. Then memchr and
# strspn on 100 bytes and qsort of 1000 ints, beside the same calls in glibc,
# musl and dietlibc where they can be counted (see below). Figures only;
# nothing is judged.
#
# usage: [PEER_ROOT=DIR] bench/strings.sh [BUILD_DIR]   (default: build)
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

# The added searches and qsort, beside the same source built for i386 Linux
# with glibc, musl and dietlibc and counted by qemu-i386 one instruction per
# block. Those libraries are needed only here: glibc from gcc-multilib,
# musl-dev:i386 and dietlibc-dev:i386 installed, or unpacked with
# `apt-get download musl-dev:i386 dietlibc-dev:i386; dpkg -x PACKAGE.deb DIR`
# under DIR given as PEER_ROOT (musl-dev:i386 cannot be installed beside
# gcc-multilib).
# A library is looked for where it is installed, then under PEER_ROOT.
root_of() { local r; for r in "" "${PEER_ROOT:-/nonexistent}"; do [[ -f $r/$1 ]] && { echo "$r"; return; }; done; echo /nonexistent; }
musl_root=$(root_of usr/lib/i386-linux-musl/libc.a) diet_root=$(root_of usr/lib/i386-linux-gnu/diet/lib-i386/libc.a)
src=$(dirname "$0")/strings_bench.cpp
cxx="g++ -m32 -O2 -fno-exceptions -fno-rtti -fno-stack-protector -fno-pie -no-pie"
gcc_include=$(gcc -m32 -print-file-name=include 2>/dev/null || true)
libgcc=$(gcc -m32 -print-libgcc-file-name 2>/dev/null || true)
declare -A peer missing
musl=$musl_root/usr/lib/i386-linux-musl diet=$diet_root/usr/lib/i386-linux-gnu/diet
if $cxx -static -o "$work/glibc" "$src" 2> /dev/null; then peer[glibc]=$work/glibc; else missing[glibc]="gcc-multilib"; fi
if [[ -f $musl/libc.a ]] && $cxx -nostdinc -isystem "$musl_root/usr/include/i386-linux-musl" -isystem "$gcc_include" -c -o "$work/musl.o" "$src" &&
   gcc -m32 -static -nostdlib -o "$work/musl" "$musl/crt1.o" "$musl/crti.o" "$work/musl.o" "$musl/libc.a" "$libgcc" "$musl/crtn.o"; then
  peer[musl]=$work/musl
else
  missing[musl]="musl-dev:i386, installed or under PEER_ROOT"
fi
if [[ -f $diet/lib-i386/libc.a ]] && $cxx -nostdinc -isystem "$diet/include" -isystem "$gcc_include" -c -o "$work/diet.o" "$src" &&
   gcc -m32 -static -nostdlib -o "$work/diet" "$diet/lib-i386/start.o" "$work/diet.o" "$diet/lib-i386/libc.a" "$libgcc"; then
  peer[dietlibc]=$work/diet
else
  missing[dietlibc]="dietlibc-dev:i386, installed or under PEER_ROOT"
fi
qemu=$(command -v qemu-i386-static || command -v qemu-i386 || true)
peer_count() {  # binary mode count: instructions of the whole run
  "$qemu" -singlestep -d nochain,exec -D /dev/stdout "$1" "$2" "$3" | grep -c '^Trace'
}
per_call_between() {  # counter mode baseline low high: the mode's instructions per call less the baseline's
  local a b c d
  a=$($1 "$2" "$4") b=$($1 "$2" "$5") c=$($1 "$3" "$4") d=$($1 "$3" "$5")
  echo $(( (b - a - (d - c)) / ($5 - $4) ))
}

echo
printf '%-34s %8s %8s %8s %8s\n' "instructions per call" ridid glibc musl dietlibc
for mode in memchr strspn qsort; do
  case $mode in
    memchr) what="memchr(a, '#', 100), absent" base=none low=100 high=1100 ;;
    strspn) what='strspn(a, "a...z"), 100 bytes' base=none low=100 high=1100 ;;
    qsort) what='qsort of 1000 ints' base=qsort_fill low=2 high=7 ;;
  esac
  printf '%-34s %8d' "$what" "$(per_call_between instructions "$mode" "$base" "$low" "$high")"
  for lib in glibc musl dietlibc; do
    if [[ -n ${peer[$lib]:-} && -n $qemu ]]; then
      printf ' %8d' "$(per_call_between "peer_count ${peer[$lib]}" "$mode" "$base" "$low" "$high")"
    else
      printf ' %8s' "-"
    fi
  done
  echo
done
for lib in glibc musl dietlibc; do
  if [[ -n ${missing[$lib]:-} ]]; then echo "$lib: not measured (needs ${missing[$lib]})"; fi
done
if [[ -z $qemu ]]; then echo "glibc, musl, dietlibc: not measured (needs qemu-user-static)"; fi
