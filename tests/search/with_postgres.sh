#!/usr/bin/env bash
# Runs a command against a throwaway PostgreSQL server: a fresh cluster in a
# temporary directory, reachable only through a Unix socket in that directory,
# removed again afterwards. The command finds the server in ZOLV_TEST_POSTGRES
# (a libpq connection string) and its log in ZOLV_TEST_POSTGRES_LOG, psql and
# other libpq clients in the PG* variables. When the server cannot be set up
# the script fails with the server's log: a test that needs it must not pass
# unseen.
#
#   with_postgres.sh [--shards N] COMMAND [ARGUMENT...]
#
# --shards N starts N more servers the same way, each with a socket
# directory of its own, for the first to spread an index over: their
# connection strings go to ZOLV_TEST_SHARDS, one a line.
#
# Each server is one of scripts/postgres.sh's, started --throwaway.
set -euo pipefail

me=with_postgres.sh
fail() {
  echo "$me: $*" >&2
  exit 1
}
shards=0
if [ "${1:-}" = --shards ]; then
  shards=${2:-}
  [[ $shards =~ ^[0-9]$ ]] || fail "--shards takes a number from 0 to 9"
  shift 2
fi
[ $# -ge 1 ] || fail "usage: $me [--shards N] COMMAND [ARGUMENT...]"

postgres="$(cd "$(dirname "$0")/../.." && pwd)/scripts/postgres.sh"
tmp_root=${TMPDIR:-/tmp}
# As root the server runs as the postgres user, who must reach the folder.
[ "$(id -u)" -ne 0 ] || tmp_root=/tmp
dir=$(mktemp -d "$tmp_root/zolv-pg.XXXXXX")
chmod 755 "$dir"
port=54329
cleanup() {
  local home
  for home in "$dir"/*/; do
    [ -d "$home/data" ] || continue
    bash "$postgres" stop --throwaway "$home" >/dev/null 2>&1 || true
  done
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Starts a throwaway server in $dir/$1 (its data, socket and logs) with the
# database zolvtest, and prints its connection string.
start_server() {
  local home=$dir/$1 printed
  printed=$(bash "$postgres" start --throwaway --port "$port" \
    --database zolvtest "$home" 2>"$dir/$1.log") || {
    cat "$dir/$1.log" >&2
    fail "the server $1 did not start"
  }
  sed -n 's/^# connection string: //p' <<<"$printed"
}

ZOLV_TEST_POSTGRES=$(start_server main)
export ZOLV_TEST_POSTGRES
export ZOLV_TEST_POSTGRES_LOG=$dir/main/server.log
# The same for psql and every other libpq client.
eval "$(bash "$postgres" env "$dir/main")"
ZOLV_TEST_SHARDS=
for shard in $(seq 1 "$shards"); do
  ZOLV_TEST_SHARDS+="$(start_server "shard$shard")"$'\n'
done
export ZOLV_TEST_SHARDS
set +e
"$@"
status=$?
set -e
exit $status
