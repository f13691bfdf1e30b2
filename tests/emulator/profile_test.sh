#!/bin/bash
# ridid-emu --profile end to end on images/tools.c (built with -g), the
# profiles read back by callgrind_annotate, the reader they are made for.
#   profile_test.sh RIDID_EMU TOOLS_IMAGE TOOLS_IMAGE_WITHOUT_SYMBOLS   (77: skipped)
set -uo pipefail
emu=$1
command -v callgrind_annotate >/dev/null ||
  { echo "skipped: no callgrind_annotate (Debian: apt-get install valgrind)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/root" && cp "$2" "$work/root/tools.elf" && cp "$3" "$work/root/bare.elf"
cd "$work" || exit 1  # callgrind_annotate shortens names under it, not callees'
failed=0
check() { [[ "$2" == "$3" ]] || { echo "FAIL: $1: expected '$2', got '$3'"; failed=1; }; }

# Profiles `tools.elf ARGS` (IMAGE=bare.elf: without symbols) to $work/p;
# prints the --count figure.
profile() {
  rm -f "$work"/p*
  "$emu" --root "$work/root" --count --profile "$work/p" "$work/root/${IMAGE:-tools.elf}" "$@" \
    >/dev/null 2>"$work/err"
  local n
  n=$(sed -n 's/^instructions: //p' "$work/err")
  echo "${n:-no count}"
}
# "IR FILE:FUNCTION" for every function of a profile, the costliest first.
functions() {
  callgrind_annotate --threshold=100 --auto=no "$@" |
    awk '/file:function/ {on = 1; next}
         on && /%\)/ {ir = $1; gsub(",", "", ir); sub(/^ *[0-9,]+ +\( *[0-9.]+%\) +/, ""); print ir, $0}'
}
totals() {
  callgrind_annotate --auto=no "$1" | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); t = $1} END {print t == "" ? "no totals" : t}'
}

# A hot function of known cost: spin(N) runs N + 2 instructions, K times.
for kn in "1 4000" "3 1000" "2 65536"; do
  read -r k n <<<"$kn"
  count=$(profile spin "$k" "$n")
  check "spin $kn: hottest" "$((k * (n + 2))) ???:spin" "$(functions "$work/p" | head -1)"
  check "spin $kn: totals" "$count" "$(totals "$work/p")"
done
# Inclusive costs: frames still open at _exit close there; a return that
# skips a frame (escape returns from leave_early's caller) closes it.
inclusive=$(functions --inclusive=yes "$work/p") self=$(functions "$work/p")
check "_start's inclusive cost" "$count" "$(awk '/:_start$/ {print $1}' <<<"$inclusive")"
check "leave_early's inclusive cost" "$(awk '/:(leave_early|escape)$/ {s += $1} END {print s}' <<<"$self")" \
  "$(awk '/:leave_early$/ {print $1}' <<<"$inclusive")"
# The totals and the self costs are --count, also when a fault cuts a block.
for args in "spin 1 1" "line 0" "line 777" "fault"; do
  count=$(profile $args)
  check "$args: totals" "$count" "$(totals "$work/p")"
  check "$args: self costs" "$count" "$(functions "$work/p" | awk '{s += $1} END {print s + 0}')"
done
# Without symbols: everything is in the code segment's pseudo-function.
count=$(IMAGE=bare.elf profile spin 2 50)
check "no symbols" "$count ???:segment 1" "$(functions "$work/p" | sed 's/ (0x[0-9a-f]*)$//')"
# With lines: the loop's body is the hottest source line.
profile line 5000 >/dev/null
hot=$(callgrind_annotate --auto=yes "$work/p" |
  awk '/Auto-annotated source/ {on = 1}
       on && /^ *[0-9,]+ \( *[0-9.]+%\)/ && !/=>|events annotated|unidentified/ {
         ir = $1; gsub(",", "", ir); if (ir + 0 > best) {best = ir + 0; line = $0}}
       END {print line}')
check "hottest line" "the hot line" "$(grep -o 'the hot line' <<<"$hot")"
# A child writes FILE.<pid>; the two files together are the whole run.
count=$(profile child 2 300)
check "files of a run with a child" "$work/p $work/p.2" "$(echo "$work"/p*)"
check "child run: totals" "$count" "$(($(totals "$work/p") + $(totals "$work/p.2")))"
check "child's hottest" "$((2 * 302)) ???:spin" "$(functions "$work/p.2" | head -1)"
# An unwritable profile is refused before the guest starts.
out=$("$emu" --root "$work/root" --profile "$work/no/dir" "$work/root/tools.elf" spin 1 1 2>"$work/err")
check "unwritable profile" "125 ridid-emu: cannot write the profile $work/no/dir: No such file or directory" "$? $out$(cat "$work/err")"
exit $failed
