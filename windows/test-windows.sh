#!/usr/bin/env bash
# Cross-builds the driver's tests for 32-bit Windows with MinGW-w64 and runs
# them under Wine, which needs Debian's wine and wine32 (windows/setup-wine.sh).
# With --build-only the tests are built and not run, and Wine is not needed.
#
# Usage: windows/test-windows.sh [--build-only] [build directory]
# (default build/mingw-tests; ZOLV_JOBS sets the parallel jobs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
run=1
if [ "${1:-}" = --build-only ]; then
  run=0
  shift
fi
build=${1:-$root/build/mingw-tests}
jobs=${ZOLV_JOBS:-$(nproc)}

if [ "$run" = 1 ] && ! command -v wine >/dev/null; then
  echo "test-windows: wine not found; windows/setup-wine.sh installs it," \
    "or pass --build-only" >&2
  exit 2
fi

cmake -S "$root" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DZOLV_WITH_RDKIT=OFF
cmake --build "$build" -j "$jobs"
[ "$run" = 1 ] || exit 0

# One start before the tests makes the Wine prefix, so that the tests'
# parallel starts do not race to make it.
"$root/windows/run-under-wine.sh" wineboot --init
status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" || status=$?
# Wine's server lingers for a moment after the last program ends.
wineserver -w || true
exit "$status"
