#!/usr/bin/env bash
# Builds everything and runs every test twice: as built, and under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
for config in release asan; do
  build="$root/build/$config"
  extra=()
  [ "$config" = asan ] && extra=(-DZOLV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  cmake -S "$root" -B "$build" "${extra[@]}"
  cmake --build "$build" -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$build" --output-on-failure -j "$jobs"
done
