#!/usr/bin/env bash
# The search-time benchmark end to end: indexes the first TARGETS benchmark
# targets with zolv index into a SQLite file and into a throwaway PostgreSQL
# server (tests/search/with_postgres.sh), then times the queries in both
# against a full RDKit scan with zolv bench search.
#
#   run_search_bench.sh ZOLV DATA_DIR WORK_DIR TARGETS [BENCH OPTION...]
#
# DATA_DIR holds the benchmark sets (znp.50k.smi.gz and the query files);
# further options go to zolv bench search (e.g. --queries 100).
set -euo pipefail

me=run_search_bench.sh
fail() {
  echo "$me: $*" >&2
  exit 1
}
[ $# -ge 4 ] || fail "usage: $me ZOLV DATA_DIR WORK_DIR TARGETS [BENCH OPTION...]"
zolv=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
data=$(cd "$2" && pwd)
work=$3
count=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)
with_postgres=$here/../tests/search/with_postgres.sh

mkdir -p "$work"
work=$(cd "$work" && pwd)
targets=$work/targets.smi
zcat "$data/znp.50k.smi.gz" | head -n "$count" >"$targets" || true

echo "$me: indexing $count targets in SQLite" >&2
start=$(date +%s)
"$zolv" index "$work/targets.db" --replace "$targets" 2>"$work/index_sqlite.log" ||
  { cat "$work/index_sqlite.log" >&2; fail "zolv index (SQLite) failed"; }
echo "$me: SQLite index written in $(($(date +%s) - start)) s" >&2

# Inside the server's lifetime: index there as well, then search both.
export ZOLV_BENCH_ZOLV=$zolv ZOLV_BENCH_WORK=$work ZOLV_BENCH_DATA=$data
"$with_postgres" bash -c '
  set -euo pipefail
  start=$(date +%s)
  "$ZOLV_BENCH_ZOLV" index --postgres "$ZOLV_TEST_POSTGRES" --replace \
    "$ZOLV_BENCH_WORK/targets.smi" 2>"$ZOLV_BENCH_WORK/index_postgres.log"
  echo "run_search_bench.sh: PostgreSQL index written in $(($(date +%s) - start)) s" >&2
  "$ZOLV_BENCH_ZOLV" bench search --sqlite "$ZOLV_BENCH_WORK/targets.db" \
    --postgres "$ZOLV_TEST_POSTGRES" --data "$ZOLV_BENCH_DATA" "$@"
' run_search_bench "$@"
