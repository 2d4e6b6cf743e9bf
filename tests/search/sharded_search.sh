#!/usr/bin/env bash
# An index spread over shard servers, as zolv index --shard makes it, run
# inside with_postgres.sh --shards 2 (a coordinator and two shards, each on
# a socket of its own):
#
# - no false negatives through the coordinator (no_false_negatives.sh with
#   the sharded backend: zolv index --shard twice, zolv search --verify);
# - the preselection and the index's checksum run on the shards, at once:
#   the coordinator's plans, logged by auto_explain, send the screens
#   containment and the LIKE to each shard and scan them asynchronously;
# - --append through the coordinator; --replace onto one shard and then onto
#   none leaves no table behind on the shards and no server on the
#   coordinator.
#
#   sharded_search.sh ZOLV BENCH_DIR WORK_DIR TARGETS
set -euo pipefail

me=sharded_search.sh
fail() {
  echo "$me: FAIL: $*" >&2
  exit 1
}
[ $# -eq 4 ] || fail "usage: $me ZOLV BENCH_DIR WORK_DIR TARGETS"
zolv=$1 bench=$2 work=$3 count=$4
here=$(cd "$(dirname "$0")" && pwd)
[ -n "${ZOLV_TEST_SHARDS:-}" ] && [ -n "${ZOLV_TEST_POSTGRES_LOG:-}" ] ||
  fail "run inside with_postgres.sh --shards 2"
mapfile -t shards < <(printf '%s' "$ZOLV_TEST_SHARDS")
[ ${#shards[@]} -eq 2 ] || fail "two shard servers expected, got ${#shards[@]}"
coordinator=$ZOLV_TEST_POSTGRES
bindir=${ZOLV_PG_BINDIR:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
psql=("$bindir/psql" -X -q -A -t -v ON_ERROR_STOP=1)
shard_table() {  # the one zolv table on a shard, or nothing
  "${psql[@]}" -d "$1" -c "SELECT tablename FROM pg_tables WHERE tablename LIKE 'zolv\_targets\_%'"
}

"$here/no_false_negatives.sh" "$zolv" "$bench" "$work" "$count" sharded \
  raw:access

# Each shard holds its part of the targets, and the parts add up.
total=0
for shard in "${shards[@]}"; do
  table=$(shard_table "$shard")
  [ -n "$table" ] || fail "a shard holds no table of the index"
  part=$("${psql[@]}" -d "$shard" -c "SELECT count(*) FROM $table")
  [ "$part" -gt 0 ] || fail "a shard holds no targets"
  total=$((total + part))
done
[ "$total" -eq "$count" ] || fail "the shards hold $total targets, not $count"

# The coordinator's plans, as it runs them for zolv search.
"${psql[@]}" -d "$coordinator" \
  -c "ALTER DATABASE zolvtest SET session_preload_libraries = 'auto_explain'" \
  -c "ALTER DATABASE zolvtest SET auto_explain.log_min_duration = 0" \
  -c "ALTER DATABASE zolvtest SET auto_explain.log_verbose = on"
: >"$ZOLV_TEST_POSTGRES_LOG"
# Two queries: a plan is logged when its statement's portal closes, which
# the next query does.
"$zolv" search --postgres "$coordinator" --smiles 'c1ccccc1Cl' \
  --smiles 'CC(=O)N' --smiles 'CCO' --no-hits >"$work/explained.out"
log=$ZOLV_TEST_POSTGRES_LOG
remote=$(grep -c "Remote SQL: SELECT id, name, smiles, name_bytes, data, molecule FROM .* WHERE ((screens @> '{[0-9,]*}')) AND ((raw ~~ " "$log" || true)
[ "$remote" -ge 4 ] || { cat "$log" >&2; fail "the preselection did not run on both shards ($remote remote statements)"; }
grep -q "Async Foreign Scan on public.targets_shard_2" "$log" ||
  { cat "$log" >&2; fail "the shards were not scanned asynchronously"; }
summed=$(grep -c "Relations: Aggregate on (public.targets_shard_[12])" "$log" || true)
[ "$summed" -eq 2 ] || { cat "$log" >&2; fail "the checksum was not summed on the shards"; }
"${psql[@]}" -d "$coordinator" -c "ALTER DATABASE zolvtest RESET ALL"

# Appending goes through the coordinator to both shards.
search_total() {
  "$zolv" search --postgres "$coordinator" --queries "$here/queries.smi" \
    --verify --no-hits | tail -n 1
}
before=$(search_total)
"$zolv" index --postgres "$coordinator" --append "$work/targets.smi" 2>"$work/append.log" ||
  { cat "$work/append.log" >&2; fail "zolv index --append failed"; }
after=$(search_total)
hits() { sed -n 's/.* hits \([0-9]*\),.*/\1/p' <<<"$1"; }
[ "$(hits "$after")" -eq $((2 * $(hits "$before"))) ] ||
  fail "appending the targets again did not double the hits ($before / $after)"
case $after in *"false negatives 0") ;; *) fail "after --append: $after" ;; esac

# Replaced onto one shard, then onto none: every table of an index before
# is dropped where it was.
remote_tables() {
  local shard n=0
  for shard in "${shards[@]}"; do
    [ -z "$(shard_table "$shard")" ] || n=$((n + 1))
  done
  echo "$n"
}
"$zolv" index --postgres "$coordinator" --replace --shard "${shards[1]}" \
  "$work/targets.smi" 2>"$work/replace.log" ||
  { cat "$work/replace.log" >&2; fail "zolv index --replace --shard failed"; }
[ "$(remote_tables)" -eq 1 ] || fail "after --replace onto one shard: $(remote_tables) shard tables"
case $(search_total) in *"false negatives 0") ;; *) fail "after --replace onto one shard" ;; esac
"$zolv" index --postgres "$coordinator" --replace "$work/targets.smi" 2>"$work/replace.log" ||
  { cat "$work/replace.log" >&2; fail "zolv index --replace failed"; }
[ "$(remote_tables)" -eq 0 ] || fail "after --replace onto no shard: $(remote_tables) shard tables left"
servers=$("${psql[@]}" -d "$coordinator" -c "SELECT count(*) FROM pg_foreign_server")
[ "$servers" -eq 0 ] || fail "after --replace onto no shard: $servers foreign servers left"
grep -q "warning" "$work/replace.log" && { cat "$work/replace.log" >&2; fail "--replace warned"; }
echo "$me: sharded index sound, pushed down, appended and replaced"
