#!/usr/bin/env bash
# Runs every zolv bench mode and zolv dict choose once on a few molecules:
# that they finish, print their tables, and find no missed hit. Not a
# measurement; the figures of a real run are in BENCHMARKS.md.
#
#   bench_smoke.sh ZOLV WORK_DIR
set -euo pipefail

me=bench_smoke.sh
fail() {
  echo "$me: FAIL: $*" >&2
  exit 1
}
[ $# -eq 2 ] || fail "usage: $me ZOLV WORK_DIR"
zolv=$1 work=$2
here=$(cd "$(dirname "$0")" && pwd)
targets=$here/targets.smi
queries=$here/queries.smi
mkdir -p "$work"

run() {  # run NAME COMMAND...: the command must succeed; its output is kept
  local name=$1
  shift
  "$@" >"$work/$name.out" 2>"$work/$name.err" ||
    { cat "$work/$name.err" >&2; fail "$name exited with $?"; }
}
expect() {  # expect NAME TEXT: the output of NAME holds TEXT
  grep -qF -- "$2" "$work/$1.out" || { cat "$work/$1.out" >&2; fail "$1: no '$2'"; }
}

run throughput "$zolv" bench throughput --target-file "$targets" --rounds 1 \
  --no-progress
expect throughput "| RDKit pattern fingerprint, 2048 bits"
expect throughput "| driver, SBI raw"

run pruning "$zolv" bench pruning --target-file "$targets" \
  --query-file "queries=$queries" --no-progress
expect pruning "| targets "
expect pruning "| queries (queries) "

run quality "$zolv" bench quality --target-file "$targets" \
  --query-file "queries=$queries" --full-check --no-progress
expect quality "| SBI raw, Access "
expect quality "No screen missed a true hit."

run screens "$zolv" bench screens --target-file "$targets" --no-progress
expect screens "| screen "

rm -f "$work/targets.db"
run index "$zolv" index "$work/targets.db" "$targets"
run search "$zolv" bench search --sqlite "$work/targets.db" \
  --query-file "queries=$queries" --no-progress
expect search "| SQLite: SBI preselection, then SubstructMatch"
expect search "Every search found exactly the full scan's hits."

# A list chosen from the targets must build into a dictionary that the
# quality run then uses without missing a hit.
run choose "$zolv" dict choose --molecules "$targets" --paths 1-3 --count 20 \
  -o "$work/chosen.txt"
[ "$(grep -cv '^#' "$work/chosen.txt")" -eq 20 ] || fail "choose: not 20 screens"
run build "$zolv" dict build "$work/chosen.txt" -o "$work/chosen.vetorb"
run chosen_quality "$zolv" bench quality --target-file "$targets" \
  --query-file "queries=$queries" --dictionary "$work/chosen.vetorb" \
  --full-check --no-progress
expect chosen_quality "No screen missed a true hit."
echo "$me: all modes ran"
