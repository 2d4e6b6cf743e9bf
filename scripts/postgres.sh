#!/usr/bin/env bash
# A PostgreSQL server of your own, in a folder, for zolv and psql: no
# system service, no password, reachable only through a Unix socket in that
# folder.
#
#   postgres.sh start DIR    make (the first time) and start the server in DIR
#   postgres.sh env DIR      print the settings of the running server again
#   postgres.sh stop DIR     stop it (DIR keeps the data; start it again later)
#
# start and env print shell lines that set libpq's PG* variables, which
# psql and zolv's --postgres '' read, so that
#
#   eval "$(bash scripts/postgres.sh start build/pg)"
#
# leaves the shell connected to a database "zolv"; the connection string
# for --postgres and --shard is printed too, as a comment, and the folder is
# deleted with rm -rf once the server is stopped. Options, before DIR:
#   --port N      the number in the socket's name (default 5432); a second
#                 server needs a folder of its own, not another port
#   --database D  the database made at first start (default zolv)
#   --throwaway   no fsync and an immediate stop: for tests, whose data may
#                 be lost in a crash
# Uses Debian's postgresql package (the newest /usr/lib/postgresql/*/bin, or
# ZOLV_PG_BINDIR). Run as root, the server runs as the "postgres" user, since
# PostgreSQL refuses to run as root: DIR must then be a folder that user can
# reach.
set -euo pipefail

me=postgres.sh
fail() {
  echo "$me: $*" >&2
  exit 1
}
usage() {
  echo "usage: $me start|env|stop [--port N] [--database NAME] [--throwaway] DIR" >&2
  exit 1
}

[ $# -ge 1 ] || usage
case "$1" in
  -h | --help)
    sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
    exit 0
    ;;
  start | env | stop) action=$1 ;;
  *) usage ;;
esac
shift
port=5432
database=zolv
throwaway=0
while [ $# -gt 1 ]; do
  case "$1" in
    --port)
      [[ ${2:-} =~ ^[0-9]{1,5}$ ]] && [ "$2" -ge 1 ] && [ "$2" -le 65535 ] ||
        fail "--port takes a number from 1 to 65535"
      port=$2
      shift 2
      ;;
    --database)
      [[ ${2:-} =~ ^[A-Za-z_][A-Za-z0-9_]*$ ]] ||
        fail "--database takes a plain name (letters, digits, _)"
      database=$2
      shift 2
      ;;
    --throwaway)
      throwaway=1
      shift
      ;;
    *) usage ;;
  esac
done
[ $# -eq 1 ] || usage
case "$1" in -*) usage ;; esac

bindir=${ZOLV_PG_BINDIR:-}
if [ -z "$bindir" ]; then
  bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
fi
[ -n "$bindir" ] && [ -x "$bindir/initdb" ] && [ -x "$bindir/pg_ctl" ] ||
  fail "no PostgreSQL server programs found: install Debian's postgresql package (apt-get install postgresql)"

as_server=()
if [ "$(id -u)" -eq 0 ]; then
  id postgres >/dev/null 2>&1 ||
    fail "running as root, but there is no 'postgres' user to run the server as"
  as_server=(runuser -u postgres --)
fi

mkdir -p "$1" || fail "cannot make $1"
home=$(cd "$1" && pwd -P)
data=$home/data
# A socket's path has room for 107 bytes, its name included.
[ ${#home} -le 90 ] ||
  fail "$home is too long a path for the server's socket; use a shorter one"
if [ ${#as_server[@]} -gt 0 ]; then
  chown postgres "$home"
  "${as_server[@]}" test -w "$home" ||
    fail "the postgres user cannot reach $home (a folder above it is closed to others); use a folder under /tmp or /srv"
fi

running() {
  "${as_server[@]}" "$bindir/pg_ctl" -D "$data" status >/dev/null 2>&1
}

settings() {
  local user
  user=$(cat "$home/user")
  echo "export PGHOST='$home' PGPORT=$port PGUSER='$user' PGDATABASE='$database'"
  echo "# connection string: host=$home port=$port user=$user dbname=$database"
}

show_log() {
  echo "---- $1 ----" >&2
  cat "$1" >&2 || true
}

case "$action" in
  stop)
    [ -d "$data" ] || fail "no server in $home"
    if running; then
      mode=fast
      [ "$throwaway" -eq 1 ] && mode=immediate
      "${as_server[@]}" "$bindir/pg_ctl" -D "$data" -m "$mode" -w stop >/dev/null ||
        fail "the server in $home did not stop (see $home/server.log)"
    fi
    echo "$me: stopped the server in $home" >&2
    exit 0
    ;;
  env)
    [ -d "$data" ] && running || fail "no server runs in $home (start it: $me start $1)"
    [ -f "$home/port" ] && port=$(cat "$home/port")
    [ -f "$home/database" ] && database=$(cat "$home/database")
    settings
    exit 0
    ;;
esac

if [ ! -d "$data" ]; then
  # The cluster's own superuser is named after whoever starts it, as psql
  # expects when it is not told a user.
  user=$(id -un)
  if ! "${as_server[@]}" "$bindir/initdb" -D "$data" -U "$user" --auth=trust \
      -E UTF8 --locale=C >"$home/initdb.log" 2>&1; then
    show_log "$home/initdb.log"
    fail "initdb failed"
  fi
  echo "$user" >"$home/user"
  echo "$port" >"$home/port"
  echo "$database" >"$home/database"
fi
port=$(cat "$home/port")
database=$(cat "$home/database")
user=$(cat "$home/user")
if ! running; then
  extra=""
  [ "$throwaway" -eq 1 ] && extra=" -c fsync=off -c full_page_writes=off"
  # No TCP at all: only the socket in DIR, so that nothing else on the
  # machine or the network reaches it and two folders never collide.
  if ! "${as_server[@]}" "$bindir/pg_ctl" -D "$data" -l "$home/server.log" \
      -w -t 60 -o "-c listen_addresses='' -c unix_socket_directories='$home' -p $port$extra" \
      start >"$home/pg_ctl.log" 2>&1; then
    show_log "$home/pg_ctl.log"
    show_log "$home/server.log"
    fail "the server did not start"
  fi
fi
if ! "$bindir/psql" -h "$home" -p "$port" -U "$user" -d postgres -tAc \
    "SELECT 1 FROM pg_database WHERE datname = '$database'" | grep -q 1; then
  if ! "$bindir/createdb" -h "$home" -p "$port" -U "$user" "$database" \
      >"$home/createdb.log" 2>&1; then
    show_log "$home/createdb.log"
    show_log "$home/server.log"
    fail "createdb failed"
  fi
fi
echo "$me: PostgreSQL runs in $home (log: $home/server.log); stop it with: bash scripts/postgres.sh stop $1" >&2
settings
