#!/usr/bin/env bash
# ridid-emu --coverage end to end on images/tools.c (built with -g): lines and
# functions whose counts are known, a child's run merged into its parent's,
# a fault that cuts a block short, and the tracefile read by lcov and genhtml,
# the tools it is made for.
#   coverage_test.sh RIDID-EMU TOOLS.ELF TOOLS.C     (77: skipped without genhtml)
set -uo pipefail
emu=$1 image=$2 source=$3
command -v genhtml >/dev/null ||
  { echo "skipped: no genhtml (Debian: apt-get install lcov)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/root" && cp "$image" "$work/root/tools.elf"
failed=0
check() { [[ "$2" == "$3" ]] || { echo "FAIL: $1: expected '$2', got '$3'"; failed=1; }; }
# Runs tools.elf ARGS with its coverage to $work/c.info; prints the status.
coverage() {
  "$emu" --root "$work/root" --coverage "$work/c.info" "$work/root/tools.elf" "$@" >/dev/null 2>&1
  echo $?
}
line_of() { grep -nF "$1" "$source" | cut -d: -f1; }

# ARGS | STATUS | line TEXT (the count of the line holding TEXT) or calls FUNCTION | COUNT
while IFS='|' read -r args status kind what want; do
  # shellcheck disable=SC2086
  check "tools $args: exit status" "$status" "$(coverage $args)"
  case $kind in
    line) got=$(sed -n "s/^DA:$(line_of "$what"),//p" "$work/c.info") ;;
    calls) got=$(sed -n "s/^FNDA:\([0-9]*\),$what\$/\1/p" "$work/c.info") ;;
  esac
  check "tools $args: $kind $what" "$want" "$got"
done <<'TABLE'
|30|line|line: square|4
|30|line|line: loop|5
|30|line|line: crash|0
|30|calls|square|4
|30|calls|crash|0
child 1 10|0|calls|run|2
child 1 10|0|calls|leave_early|1
child 1 10|0|calls|sum_squares|0
child 1 10|0|line|never runs|0
fault|139|line|/* the hot line */|10
fault|139|line|sink = 2;|0
TABLE

# lcov and genhtml read the plain run: of the 13 functions with lines, 7 ran
# (sys, is, half, square, sum_squares, run, begin).
coverage >/dev/null
summary=$(lcov --summary "$work/c.info" 2>&1)
check "lcov's functions" "functions..: 46.7% (7 of 15 functions)" "$(grep -o 'functions\.\..*' <<<"$summary")"
# The file's own sums (FNF, FNH, LF, LH) are lcov's.
field() { sed -n "s/^$1://p" "$work/c.info"; }
check "the file's sums" "$(grep -o '([0-9]* of [0-9]* lines)' <<<"$summary") 7 of 15" \
  "($(field LH) of $(field LF) lines) $(field FNH) of $(field FNF)"
genhtml -o "$work/html" "$work/c.info" >"$work/genhtml" 2>&1
check "genhtml" 0 $?
cat "$work/genhtml"
check "genhtml's lines" "$(grep -o 'lines\.\..*' <<<"$summary")" "$(grep -o 'lines\.\..*' "$work/genhtml")"
page=$(find "$work/html" -name 'tools.c.gcov.html')
for want in "crash lineNoCov" "square lineCov"; do
  read -r name class <<<"$want"
  check "the report's line $name" 1 \
    "$(grep -c "lineNum\"> *$(line_of "line: $name") </span><span class=\"$class\"" "$page")"
done

# A tracefile that cannot be made stops the run; a refused image leaves none.
out=$("$emu" --root "$work/root" --coverage "$work/no/dir" "$work/root/tools.elf" 2>&1)
check "unwritable tracefile" "125 ridid-emu: cannot write the coverage file $work/no/dir: No such file or directory" "$? $out"
rm -f "$work/c.info"
"$emu" --root "$work/root" --coverage "$work/c.info" "$source" 2>/dev/null
check "refused image: status, tracefile" "126 no" "$? $([[ -e $work/c.info ]] && echo yes || echo no)"
exit $failed
