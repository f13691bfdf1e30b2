#!/usr/bin/env bash
# tests/fuzz/run.sh TARGET SECONDS [libFuzzer options]: fuzzes one target (built
# by ./build.sh test, in BUILD_DIR as there) on a scratch copy of its corpus,
# which keeps new inputs and crash reproducers (replay one: TARGET_fuzz FILE).
set -euo pipefail
[[ $# -ge 2 ]] || { echo "usage: $0 snprintf|fprintf|sscanf|convert|loader SECONDS [options]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd) target=$1 seconds=$2
shift 2
fuzzer=$(cd "$here/../.." && realpath -m "${BUILD_DIR:-build}")/tests/fuzz/clang/${target}_fuzz
work=$(mktemp -d "${TMPDIR:-/tmp}/ridid-fuzz-$target-XXXXXX")
mkdir "$work/corpus" "$work/crashes" && cp "$here/corpus/$target"/* "$work/corpus/" && echo "== $work"
[[ $target == loader ]] && cp "$(dirname "$fuzzer")"/../../emulator/images/*.elf "$work/corpus/" 2>/dev/null
"$fuzzer" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 -artifact_prefix="$work/crashes/" "$@" "$work/corpus"
