#!/usr/bin/env bash
# Cross-builds the driver and its tests on the fake core for Windows with
# MinGW-w64 and runs them under Wine. The 64-bit build (the default) runs under
# Debian's wine64 (scripts/setup.sh installs it); the 32-bit one needs Wine
# with 32-bit support, Debian's wine and wine32 (windows/setup-wine.sh). With
# --build-only the tests are built and not run, and Wine is not needed.
#
# Usage: windows/test-windows.sh [--build-only] [--arch x86_64|i686]
#                                [build directory]
# (default build/mingw64-tests or build/mingw-tests; ZOLV_JOBS sets the
# parallel jobs). The Wine prefix is the build directory's wine-prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
run=1
arch=x86_64
while [ $# -gt 0 ]; do
  case $1 in
    --build-only) run=0; shift ;;
    --arch) arch=${2:-}; shift; [ $# -eq 0 ] || shift ;;
    -h | --help) sed -n '2,12s/^# \{0,1\}//p' "$0"; exit 0 ;;
    -*) echo "test-windows: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
case $arch in
  x86_64) default_build=$root/build/mingw64-tests ;;
  i686) default_build=$root/build/mingw-tests ;;
  *) echo "test-windows: --arch takes x86_64 or i686, not '$arch'" >&2
     exit 2 ;;
esac
build=${1:-$default_build}
jobs=${ZOLV_JOBS:-$(nproc)}
emulator=$root/windows/run-under-wine.sh
prefix=$build/wine-prefix

wine_option=()
if [ "$run" = 1 ]; then
  if [ "$arch" = x86_64 ]; then
    wine=$("$emulator" --find) || exit 2
  elif ! wine=$(command -v wine); then
    echo "test-windows: wine not found; windows/setup-wine.sh installs it" \
      "with 32-bit support, or pass --build-only" >&2
    exit 2
  fi
  wine_option=(-DZOLV_WINE="$wine" -DZOLV_WINE_PREFIX="$prefix")
fi

cmake -S "$root" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" \
  -DZOLV_WITH_RDKIT=OFF "${wine_option[@]}"
cmake --build "$build" -j "$jobs"
[ "$run" = 1 ] || exit 0

wine_run=("$emulator" --wine "$wine" --prefix "$prefix")
# One Wine server and its services for the whole run, started here with
# nothing of the caller's open: they then neither hold ctest's output pipes
# open nor start afresh for every test. The first start makes the prefix
# under a server that ends on its own once the prefix is written.
"${wine_run[@]}" cmd /c exit </dev/null >/dev/null 2>&1
"${wine_run[@]}" --server -w </dev/null >/dev/null 2>&1
"${wine_run[@]}" --server -p </dev/null >/dev/null 2>&1
trap '"${wine_run[@]}" --server -k </dev/null >/dev/null 2>&1 || true' EXIT
"${wine_run[@]}" cmd /c exit </dev/null >/dev/null 2>&1
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 120
