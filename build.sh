#!/usr/bin/env bash
# Builds ridid's userland toolkit and runs its main job or its tests.
#
#   ./build.sh demo   install what is missing, build, run `run` under ridid-emu
#   ./build.sh test   install what is missing, build, run every test (ctest)
#
# Installing packages needs root (apt-get); everything else runs as any user.
# BUILD_DIR (default: build) names the build directory.
set -euo pipefail
cd "$(dirname "$0")"
build=${BUILD_DIR:-build}

packages=(cmake ninja-build clang lld libclang-rt-14-dev libunicorn-dev libcapstone-dev libdw-dev
          nlohmann-json3-dev zlib1g-dev liblzma-dev libbz2-dev g++ g++-multilib
          googletest libgtest-dev binutils gdb valgrind lcov)

# True when this host's kernel runs i386 Linux programs (some refuse them:
# "Exec format error"). Where it does not, qemu-user runs the build's i386
# test programs, and is installed for that.
runs_i386() {
  local dir status=1
  dir=$(mktemp -d)
  printf 'int main(void) { return 0; }\n' > "$dir/probe.c"
  if gcc -m32 "$dir/probe.c" -o "$dir/probe" 2> /dev/null && "$dir/probe" 2> /dev/null; then status=0; fi
  rm -rf "$dir"
  return $status
}

install_missing() {
  install_packages "${packages[@]}"
  runs_i386 || install_packages qemu-user-static
}

install_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]} == 0)) && return 0
  echo "== installing: ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "these Debian packages are missing; run as root (or install them): ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q "${missing[@]}"
}

build_all() {
  cmake -S . -B "$build" -G Ninja
  cmake --build "$build" -j "$(nproc)"
}

show() {
  echo
  echo "\$ $*"
  set +e
  "$@"
  local status=$?
  set -e
  echo "(exit status $status)"
}

demo() {
  local emu=$build/bin/ridid-emu run=$build/target/bin/run
  echo "== the run command under ridid-emu, on the sample root ($build/share/ridid/root)"
  show "$emu" "$run"
  show "$emu" "$run" hello.dura world
  show "$emu" --trace "$build/demo-trace.jsonl" "$run" demo.shell
  echo "run requests in the trace, with the started programs' exit statuses:"
  grep '"nr":96' "$build/demo-trace.jsonl" || true
  show "$emu" "$run" no-such-program.dura

  echo
  echo "== a program built through the installed SDK"
  local sdk
  sdk=$(cd "$build" && pwd)/sdk
  cmake --install "$build" --prefix "$sdk" >/dev/null
  cmake -S examples/sdk-demo -B "$build/sdk-demo" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$sdk/share/ridid/cmake/ridid-toolchain.cmake" >/dev/null
  cmake --build "$build/sdk-demo" >/dev/null
  show "$build/sdk/bin/ridid-emu" "$build/sdk-demo/hello" from the SDK
}

case "${1:-}" in
  demo) install_missing; build_all; demo ;;
  test) install_missing; build_all; ctest --test-dir "$build" --output-on-failure -j "$(nproc)" ;;
  *) echo "usage: $0 demo|test" >&2; exit 2 ;;
esac
