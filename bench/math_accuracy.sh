#!/bin/bash
# Accuracy of math.h under ridid-emu: the worst error, in units in the last
# place of the result's type, of each function over COUNT arguments (50000
# unless given) drawn over its domain, and the arguments where it happens.
# The exact functions are compared with the host's correctly rounded ones.
# Domains: exp [-745.2, 709.8] (float [-103.9, 88.7]); sinh, cosh [-710.5,
# 710.5] (float [-89.4, 89.4]); tanh [-20, 20] (float [-10, 10]); asin, acos
# [-1, 1]; sin, cos, tan half in [-1e6, 1e6] (float [-1e4, 1e4]), half any
# finite value; pow with x in [2^-20, 2^20], a quarter of them negative with
# y whole, and |y log2 x| up to 1000 (float 120); the logarithms and sqrt any
# positive finite value; every other function any finite values.
#
# usage: bench/math_accuracy.sh [BUILD_DIR [COUNT]]   (default: build 50000)
set -euo pipefail
build=${1:-build}
count=${2:-50000}
emu=$build/bin/ridid-emu
prog=$build/target/bin/math_bench
for f in "$emu" "$prog"; do
  [[ -x $f ]] || { echo "${0##*/}: $f not found (build first)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -O2 -std=c++17 -o "$work/reference" "$(dirname "$0")/math_reference.cpp"
"$emu" --no-sleep --scratch-root "$prog" "$count" | "$work/reference"
