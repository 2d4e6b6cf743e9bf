#!/usr/bin/env bash
# Runs `zolv write` over the sample molecules under valgrind memcheck, once
# per encoding, and fails on any memory error or any definite or indirect
# leak. Memory that a library still holds at exit is not counted.
#
# Usage: scripts/valgrind-check.sh [build directory, default build/release]
# The build must not use the sanitizers; missing targets are built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/release"}
molecules="$root/data/sample.smi"

if ! command -v valgrind >/dev/null; then
  echo "$0: valgrind is not installed" >&2
  exit 1
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" >/dev/null
fi
if grep -q '^ZOLV_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "$0: $build uses the sanitizers, which valgrind cannot run" >&2
  exit 1
fi
cmake --build "$build" --target zolv zolvexformat11v6 zolv_default_dictionary \
  -j "${ZOLV_JOBS:-2}" >/dev/null

# Every encoding and mode: bit strings plain and folded, raw and alphabet
# SBI text for targets and for queries of both dialects.
option_strings=(
  ""
  "length=16"
  "object=query length=16"
  "format=SBI"
  "format=SBI length=12"
  "format=SBI object=query"
  "format=SBI object=query database=ODBC"
  "format=SBI ascii=true"
  "format=SBI ascii=true object=query database=ODBC length=20"
)

log_dir="$build/valgrind"
mkdir -p "$log_dir"
failed=0
run=0
for options in "${option_strings[@]}"; do
  run=$((run + 1))
  log="$log_dir/write-$run.log"
  status=0
  valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect \
    --errors-for-leak-kinds=definite,indirect --error-exitcode=99 \
    --log-file="$log" \
    "$build/bin/zolv" write --encoding hex --options "$options" "$molecules" \
    >"$log_dir/write-$run.out" || status=$?
  errors=$(grep -E 'ERROR SUMMARY' "$log" | tail -n 1 | sed 's/.*ERROR SUMMARY: //')
  heap=$(grep -E 'total heap usage' "$log" | sed 's/.*total heap usage: //')
  lines=$(wc -l <"$log_dir/write-$run.out")
  echo "options \"$options\": exit $status, $lines records; $heap; errors: $errors"
  if [ "$status" -eq 99 ]; then
    failed=1
    echo "valgrind reported problems (log: $log):" >&2
    grep -E '^==[0-9]+== ' "$log" | head -n 60 >&2
  elif [ "$status" -ne 0 ]; then
    failed=1
    echo "zolv write failed with exit $status (log: $log)" >&2
  fi
done

if [ "$failed" -ne 0 ]; then
  exit 1
fi
echo "valgrind: no memory errors and no leaks in $run writes"
