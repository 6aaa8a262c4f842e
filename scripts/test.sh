#!/usr/bin/env bash
# Installs what is missing, builds Roamgrid with its tests and runs every
# test (core tests and the desktop program's tests on the offscreen platform).
#   scripts/test.sh                 normal build in build-test/
#   scripts/test.sh --sanitize      AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup.sh" --test

build="$root/build-test"
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DROAMGRID_WERROR=ON -DROAMGRID_GUI=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build="$root/build-asan"
  flags=(-DCMAKE_BUILD_TYPE=Debug -DROAMGRID_WERROR=ON -DROAMGRID_SANITIZE=ON -DROAMGRID_GUI=ON)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
cmake -S "$root" -B "$build" "${flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
