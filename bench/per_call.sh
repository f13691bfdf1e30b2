# Sourced by the per-call benchmarks, with build and prog set: checks both
# programs are built; `instructions MODE COUNT [ARG]` is the --count figure
# of one run, `per_call MODE [ARG]` the extra instructions per iteration
# between a run of 100 iterations and one of 2100.
emu=$build/bin/ridid-emu
for f in "$emu" "$prog"; do
  [[ -x $f ]] || { echo "${0##*/}: $f not found (build first)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

instructions() {
  "$emu" --no-sleep --scratch-root --count "$prog" "$@" 2> "$work/err" > /dev/null
  sed -n 's/^instructions: //p' "$work/err"
}

per_call() {
  local a b
  a=$(instructions "$1" 100 "${@:2}")
  b=$(instructions "$1" 2100 "${@:2}")
  echo $(( (b - a) / 2000 ))
}
