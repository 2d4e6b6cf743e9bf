#!/usr/bin/env bash
# Cross-builds the driver's tests for 32-bit Windows with MinGW-w64 and runs
# them under Wine. Needs Debian's wine and wine32 (windows/setup-wine.sh).
#
# Usage: windows/test-windows.sh [build directory]
# (default build/mingw-tests; ZOLV_JOBS sets the parallel jobs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/mingw-tests}
jobs=${ZOLV_JOBS:-$(nproc)}

if ! command -v wine >/dev/null; then
  echo "test-windows: wine not found; windows/setup-wine.sh installs it" >&2
  exit 2
fi

cmake -S "$root" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DZOLV_WITH_RDKIT=OFF
cmake --build "$build" -j "$jobs"

# One start before the tests makes the Wine prefix, so that the tests'
# parallel starts do not race to make it.
"$root/windows/run-under-wine.sh" wineboot --init
status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" || status=$?
# Wine's server lingers for a moment after the last program ends.
wineserver -w || true
exit "$status"
