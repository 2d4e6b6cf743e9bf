#!/usr/bin/env bash
# Runs a command against a throwaway PostgreSQL server: a fresh cluster in a
# temporary directory, reachable only through a Unix socket in that directory,
# removed again afterwards. The command finds the server in ZOLV_TEST_POSTGRES
# (a libpq connection string), psql and other libpq clients in the PG*
# variables. When the server cannot be set up the script
# fails with the server's log: a test that needs it must not pass unseen.
#
#   with_postgres.sh COMMAND [ARGUMENT...]
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
[ $# -ge 1 ] || fail "usage: $me COMMAND [ARGUMENT...]"

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
started=no
cleanup() {
  if [ "$started" = yes ]; then
    "${as_server[@]}" "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
[ ${#as_server[@]} -eq 0 ] || chown postgres "$dir"

show_log() {
  echo "---- $1 ----" >&2
  cat "$1" >&2 || true
}

if ! "${as_server[@]}" "$bindir/initdb" -D "$dir/data" -U zolv --auth=trust \
    -E UTF8 --locale=C >"$dir/initdb.log" 2>&1; then
  show_log "$dir/initdb.log"
  fail "initdb failed"
fi
# No TCP at all: the socket lives in the private directory, so parallel runs
# cannot collide on the port.
if ! "${as_server[@]}" "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" \
    -w -t 60 -o "-c listen_addresses='' -c unix_socket_directories='$dir' -p $port -c fsync=off -c full_page_writes=off" \
    start >"$dir/pg_ctl.log" 2>&1; then
  show_log "$dir/pg_ctl.log"
  show_log "$dir/server.log"
  fail "the server did not start"
fi
started=yes
if ! "$bindir/createdb" -h "$dir" -p "$port" -U zolv zolvtest >"$dir/createdb.log" 2>&1; then
  show_log "$dir/createdb.log"
  show_log "$dir/server.log"
  fail "createdb failed"
fi

export ZOLV_TEST_POSTGRES="host=$dir port=$port user=zolv dbname=zolvtest"
# The same for psql and every other libpq client.
export PGHOST=$dir PGPORT=$port PGUSER=zolv PGDATABASE=zolvtest
set +e
"$@"
status=$?
set -e
exit $status
