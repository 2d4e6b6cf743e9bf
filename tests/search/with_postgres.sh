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
# Uses Debian's postgresql package (the newest /usr/lib/postgresql/*/bin, or
# ZOLV_PG_BINDIR). Run as root, the server runs as the "postgres" user, since
# PostgreSQL refuses to run as root.
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

bindir=${ZOLV_PG_BINDIR:-}
if [ -z "$bindir" ]; then
  bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
fi
[ -n "$bindir" ] && [ -x "$bindir/initdb" ] && [ -x "$bindir/pg_ctl" ] ||
  fail "no PostgreSQL server programs found (install Debian's postgresql package, see scripts/setup.sh)"

as_server=()
tmp_root=${TMPDIR:-/tmp}
if [ "$(id -u)" -eq 0 ]; then
  id postgres >/dev/null 2>&1 || fail "running as root, but there is no 'postgres' user to run the server as"
  as_server=(runuser -u postgres --)
  tmp_root=/tmp  # must be reachable by the postgres user
fi

dir=$(mktemp -d "$tmp_root/zolv-pg.XXXXXX")
port=54329
started=()
cleanup() {
  local data
  for data in "${started[@]}"; do
    "${as_server[@]}" "$bindir/pg_ctl" -D "$data" -m immediate -w stop >/dev/null 2>&1 || true
  done
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
[ ${#as_server[@]} -eq 0 ] || chown postgres "$dir"

show_log() {
  echo "---- $1 ----" >&2
  cat "$1" >&2 || true
}

# Starts a server in $dir/$1 (its data, socket and logs) and makes the
# database zolvtest in it.
start_server() {
  local home=$dir/$1
  mkdir "$home"
  [ ${#as_server[@]} -eq 0 ] || chown postgres "$home"
  if ! "${as_server[@]}" "$bindir/initdb" -D "$home/data" -U zolv --auth=trust \
      -E UTF8 --locale=C >"$home/initdb.log" 2>&1; then
    show_log "$home/initdb.log"
    fail "initdb failed"
  fi
  # No TCP at all: the socket lives in the private directory, so parallel
  # runs cannot collide on the port.
  if ! "${as_server[@]}" "$bindir/pg_ctl" -D "$home/data" -l "$home/server.log" \
      -w -t 60 -o "-c listen_addresses='' -c unix_socket_directories='$home' -p $port -c fsync=off -c full_page_writes=off" \
      start >"$home/pg_ctl.log" 2>&1; then
    show_log "$home/pg_ctl.log"
    show_log "$home/server.log"
    fail "the server did not start"
  fi
  started+=("$home/data")
  if ! "$bindir/createdb" -h "$home" -p "$port" -U zolv zolvtest >"$home/createdb.log" 2>&1; then
    show_log "$home/createdb.log"
    show_log "$home/server.log"
    fail "createdb failed"
  fi
}

start_server main
export ZOLV_TEST_POSTGRES="host=$dir/main port=$port user=zolv dbname=zolvtest"
export ZOLV_TEST_POSTGRES_LOG=$dir/main/server.log
# The same for psql and every other libpq client.
export PGHOST=$dir/main PGPORT=$port PGUSER=zolv PGDATABASE=zolvtest
ZOLV_TEST_SHARDS=
for shard in $(seq 1 "$shards"); do
  start_server "shard$shard"
  ZOLV_TEST_SHARDS+="host=$dir/shard$shard port=$port user=zolv dbname=zolvtest"$'\n'
done
export ZOLV_TEST_SHARDS
set +e
"$@"
status=$?
set -e
exit $status
