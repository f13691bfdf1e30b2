#!/bin/bash
# Where the guest's instructions go, from ridid-emu --profile: the top
# functions of `run prog a b` and of a formatting call, as callgrind_annotate
# lists them, and what profiling costs against --count (user CPU time, best
# of three runs). Figures only; nothing is judged.
#
# usage: bench/profile.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build=${1:-build}
emu=$build/bin/ridid-emu
run=$build/target/bin/run
fmt=$build/target/bin/formatting_bench
for f in "$emu" "$run" "$fmt"; do
  [[ -x $f ]] || { echo "profile.sh: $f not found (build first)" >&2; exit 1; }
done
if ! command -v callgrind_annotate >/dev/null; then
  echo "profile.sh: callgrind_annotate not found; it comes with Debian's valgrind:" >&2
  echo "  apt-get install valgrind   (./build.sh installs it)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A profile's totals and its functions above 1% (OPTIONS... FILE).
top() {
  callgrind_annotate --auto=no "$@" | sed -n '/PROGRAM TOTALS/p; /file:function/,$p' |
    grep -v '^--' | cat -s
}

echo "== run prog a b (a scratch root, so the run request fails: \"run: failed\")"
"$emu" --no-sleep --scratch-root --profile "$work/run.out" "$run" prog a b >/dev/null || true
echo "-- self cost"
top "$work/run.out"
echo "-- inclusive cost, with the calls each function makes"
top --inclusive=yes --tree=calling "$work/run.out"

fmt_count=20000
echo
echo "== formatting_bench snprintf-mixed $fmt_count"
"$emu" --no-sleep --scratch-root --profile "$work/fmt.out" "$fmt" snprintf-mixed $fmt_count \
  >/dev/null
top "$work/fmt.out"

# Best user CPU time of three runs of ridid-emu OPTION...
best() {
  local t best=
  for _ in 1 2 3; do
    t=$( { TIMEFORMAT=%U; time "$emu" --no-sleep --scratch-root "$@" >/dev/null 2>&1; } 2>&1)
    best=$(awk -v t="$t" -v b="$best" 'BEGIN {print (b == "" || t < b) ? t : b}')
  done
  echo "$best"
}
echo
echo "cost of profiling (user CPU seconds, best of 3):"
printf '  %-40s %8s %9s %6s\n' "guest" "--count" "--profile" "ratio"
for guest in "$fmt snprintf-mixed 100000" "$fmt snprintf-int 100000" "$fmt printf-line 50000"; do
  read -r -a g <<<"$guest"
  c=$(best --count "${g[@]}")
  p=$(best --profile "$work/cost.out" "${g[@]}")
  ratio=$(awk -v c="$c" -v p="$p" 'BEGIN {printf "%.2f", (c > 0 ? p / c : 0)}')
  printf '  %-40s %8s %9s %6s\n' "$(basename "${g[0]}") ${g[*]:1}" "$c" "$p" "$ratio"
done
