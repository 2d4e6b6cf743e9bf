#!/usr/bin/env bash
# Checks that no folder includes a header of a layer it must not use; builds
# everything and runs every test twice: as built (and installed, as root,
# for the PostgreSQL extension's tests), and under
# AddressSanitizer and UndefinedBehaviorSanitizer; runs the threaded tests
# under ThreadSanitizer; then cross-builds the Windows driver, checks its
# exports on 32-bit and 64-bit Windows, and runs the driver's tests as 64-bit
# Windows programs under wine64.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
echo "== Layers: every include within what its folder may use"
python3 "$root/scripts/check-layers.py" "$root"
echo "== Formatting: every source as .clang-format says"
bash "$root/scripts/check-format.sh"
for config in release asan; do
  build="$root/build/$config"
  extra=(-DZOLV_BUILD_TESTS=ON)
  [ "$config" = asan ] && extra+=(-DZOLV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  echo "== $config build"
  cmake -S "$root" -B "$build" "${extra[@]}"
  cmake --build "$build" -j "$jobs"
  if [ "$config" = release ]; then
    # The PostgreSQL server loads its extensions only from its own
    # directories: the tests of the extension run the one installed here.
    echo "== Installing the release build (the PostgreSQL extension with it)"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo cmake --install "$build"
  fi
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$build" --output-on-failure -j "$jobs"
done
echo "== ThreadSanitizer: writing on several threads"
# Only what the threaded tests need; RDKit itself is not instrumented, see
# scripts/tsan.supp.
tsan="$root/build/tsan"
cmake -S "$root" -B "$tsan" -DZOLV_TSAN=ON -DCMAKE_BUILD_TYPE=Debug
cmake --build "$tsan" -j "$jobs" --target jobs_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/scripts/tsan.supp" \
  ctest --test-dir "$tsan" --output-on-failure -R '^(Jobs|ThreadStress|OrderedParallelMapTest)\.'
echo "== Windows cross builds, and the driver's tests under wine64"
bash "$root/scripts/check-windows-exports.sh" --arch i686
bash "$root/scripts/check-windows-exports.sh" --arch x86_64
bash "$root/windows/test-windows.sh" --arch i686 --build-only
bash "$root/windows/test-windows.sh" --arch x86_64
echo "== zolv write under valgrind memcheck"
bash "$root/scripts/valgrind-check.sh" "$root/build/release"
echo "== Fuzz targets, one minute each"
bash "$root/scripts/fuzz.sh" 60
