#!/usr/bin/env bash
# Installs the SDK from a build tree into a fresh prefix, checks that nothing
# in it points back into the build or source tree, builds the example project
# with only the prefix's toolchain file, and runs its tests under ridid-emu;
# then ridid_add_test's own checks (checks/): twice the ones that pass, and
# the ones that must fail, each with its message.
set -euo pipefail
build=$(cd "$1" && pwd)
example=$(cd "$2" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/sdk

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in include/stdio.h include/ridid_abi.h lib/ridid/libridid.a lib/ridid/user_crt0.o \
         lib/ridid/ridid.ld share/ridid/cmake/ridid-toolchain.cmake bin/ridid-emu; do
  [[ -e $prefix/$f ]] || { echo "SDK is missing $f"; exit 1; }
done
if grep -rIl -e "$build" -e "$source_dir" "$prefix/include" "$prefix/share/ridid/cmake" "$prefix/lib/ridid/ridid.ld"; then
  echo "the SDK above points back into the build or source tree"; exit 1
fi
# The library's line information names its sources apart from this tree.
if grep -al -e "$build" -e "$source_dir" "$prefix"/lib/ridid/*; then
  echo "the SDK's library above points back into the build or source tree"; exit 1
fi

# Build from a copy of the example, so the project sees nothing of this tree.
cp -r "$example" "$work/example"
cmake -S "$work/example" -B "$work/example-build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$prefix/share/ridid/cmake/ridid-toolchain.cmake" >/dev/null
cmake --build "$work/example-build"
ctest --test-dir "$work/example-build" --output-on-failure

cp -r "$(dirname "$0")/checks" "$work/checks"
cmake -S "$work/checks" -B "$work/checks-build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$prefix/share/ridid/cmake/ridid-toolchain.cmake" >/dev/null
cmake --build "$work/checks-build"
for run in 1 2; do
  ctest --test-dir "$work/checks-build" -LE must-fail --output-on-failure
done
out=$(ctest --test-dir "$work/checks-build" -L must-fail --output-on-failure) &&
  { echo "$out"; echo "the must-fail checks passed"; exit 1; }
flat=$(tr '\n' ' ' <<<"$out" | tr -s ' ')  # CMake wraps long messages
failed=0
while IFS='|' read -r test message; do
  grep -qF -- "$message" <<<"$flat" || { echo "$test: no message: $message"; failed=1; }
done <<EOF
wrong-output|the output does not match the regular expression "^a;c\\n$"
missing-stdin|the STDIN file $work/checks/missing.txt does not exist
missing-root|the ROOT_FROM directory $work/checks/missing does not exist
no-fault|no fault line, expected one matching the regular expression "in strlen"
wrong-fault|the fault line does not match the regular expression "in strcpy"
EOF
((failed)) && { echo "$out"; exit 1; }
echo "ridid_add_test: all checks passed"
