#!/usr/bin/env bash
# Installs the SDK from a build tree into a fresh prefix, checks that nothing
# in it points back into the build or source tree, builds the example project
# with only the prefix's toolchain file, and runs its tests under ridid-emu.
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

# Build from a copy of the example, so the project sees nothing of this tree.
cp -r "$example" "$work/example"
cmake -S "$work/example" -B "$work/example-build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$prefix/share/ridid/cmake/ridid-toolchain.cmake" >/dev/null
cmake --build "$work/example-build"
ctest --test-dir "$work/example-build" --output-on-failure
