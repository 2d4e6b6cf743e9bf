#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer), makes their seed corpora and runs each target
# in turn for a bounded time on a fresh corpus. Fails on any crash, leak,
# undefined behaviour, timeout, memory blow-up or failed check.
#
# Usage: scripts/fuzz.sh [seconds per target, default 60]
# Environment: ZOLV_FUZZ_JOBS (build jobs, default 2), ZOLV_FUZZ_TARGETS
# (space-separated subset of the targets below).
set -euo pipefail
seconds=${1:-60}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [seconds per target]" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
targets=${ZOLV_FUZZ_TARGETS:-"option_string formula_parser dictionary zolv_write molecule_records pattern_match data_items"}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DZOLV_FUZZ=ON \
  -DZOLV_WITH_RDKIT=OFF -DZOLV_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target zolv_fuzz -j "${ZOLV_FUZZ_JOBS:-2}"
bash "$root/fuzz/make_seeds.sh" "$build" "$build/seeds"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

failed=()
summary=()
for target in $targets; do
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target"
  log="$build/logs/$target.log"
  rm -rf "$corpus" "$artifacts"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  echo "== fuzz_$target for ${seconds}s (log: $log)"
  status=0
  "$build/bin/fuzz_$target" -max_total_time="$seconds" -timeout=25 \
    -rss_limit_mb=2048 -print_final_stats=1 -dict="$root/fuzz/zolv.dict" \
    -artifact_prefix="$artifacts/" "$corpus" "$build/seeds/$target" \
    >"$log" 2>&1 || status=$?
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)
  execs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}' || true)
  summary+=("fuzz_$target: ${execs:-?} executions; ${done_line:-no final line}")
  if [ "$status" -ne 0 ] || grep -qE '^(==[0-9]+==ERROR|SUMMARY: )' "$log" ||
     [ -n "$(ls -A "$artifacts")" ]; then
    failed+=("fuzz_$target")
    echo "fuzz_$target FAILED (exit $status); the end of its log:" >&2
    tail -n 60 "$log" >&2
    ls -l "$artifacts" >&2
  fi
done

printf '%s\n' "${summary[@]}"
if [ "${#failed[@]}" -ne 0 ]; then
  echo "failed: ${failed[*]}" >&2
  exit 1
fi
echo "all fuzz targets ran clean"
