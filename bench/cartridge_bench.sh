#!/usr/bin/env bash
# zolv search against RDKit's PostgreSQL cartridge, in one run on one
# machine: the same targets, the same queries, each query timed end to end
# as its client prints it; at several numbers of targets, and over shard
# servers.
#
# Run bench/cartridge_bench.sh --help for the options. Needs the build's
# zolv (with the driver and default.vetorb beside it), Debian's postgresql,
# python3, and the cartridge (postgresql-MAJOR-rdkit), which the script
# installs with apt-get when it runs as root. The cartridge is comparison
# software only: scripts/setup.sh and CI never install it.
set -euo pipefail

me=cartridge_bench.sh
here=$(cd "$(dirname "$0")" && pwd)
with_postgres=$here/../tests/search/with_postgres.sh
query_times=$here/query_times.py
source_size=50000  # targets in znp.50k.smi.gz

usage() {
  cat <<EOF
Usage: $me [options] ZOLV DATA_DIR WORK_DIR

Times substructure searches on the same targets and queries: RDKit's
PostgreSQL cartridge (mol @> query over a GiST index, through psql), and
zolv search in PostgreSQL and in SQLite, each through its screens index and
by the pattern alone (--scan); at each number of targets of --sizes; and
through a PostgreSQL coordinator whose index is spread over 1, 2, ... shard
servers. The targets are indexed by zolv index and loaded into the cartridge
(a mol column with a GiST index) on throwaway PostgreSQL servers with
sockets of their own (tests/search/with_postgres.sh), all on this machine.

Every query is timed end to end as its client runs it: from the moment the
client starts on it to the moment it starts on the next, which covers
writing the pattern, preselecting, confirming and printing the hits. The
clients run over all queries of a set in one process each (one connection),
with every line flushed as it is written. Each set is run once untimed
first, so that every method starts from warm caches.

ZOLV      the build's zolv (build/release/bin/zolv)
DATA_DIR  the benchmark sets: znp.50k.smi.gz, zinc.frags.500.q.smi,
          zinc.leads.500.q.smi, pieces.823.q.txt.gz
WORK_DIR  where the targets, indexes, per-query times and logs go

Options:
  --sizes LIST       numbers of targets, comma-separated (default
                     10000,50000,250000): up to 50,000 the first ones of
                     znp.50k.smi.gz; above, a multiple of 50,000: the 50,000
                     written that many times, copies 2.. with the name
                     suffixed "-2".. and new ids
  --queries N        the first N queries of each set (default 100)
  --sets LIST        fragments, leads, pieces (default all)
  --methods LIST     cartridge, postgres, postgres-scan, sqlite, sqlite-scan
                     (default all)
  --shards LIST      numbers of shard servers to measure zolv search --postgres
                     through a coordinator with (default 1,2; 0: none)
  --shard-size N     the number of targets of --sizes they are measured at
                     (default 50000)
  --jobs N           zolv search --jobs (default: zolv's, the number of cores)
  --no-warmup        time the first pass over each set
  --no-install       never install the cartridge; fail when it is missing
  --report-only      measure nothing: print the report of the times that an
                     earlier run with the same options left in WORK_DIR
  -h, --help         show this help

Output: Markdown on stdout, every table of the comparison: per number of
targets an overview (mean / median ms per query per set) and per set the
details (mean and median ms per query, candidates per query where zolv
reports them, hits, skipped queries, and the whole run's wall time per
query, which adds the client's start-up); then how the mean grows with the
number of targets; then the shards. Progress on stderr; per-query times in
WORK_DIR/SIZE/times/*.tsv.

Wall-clock times: run it on a quiet machine (nice -n 10 on a shared one,
and say that the figures are noisy). A query's time is stamped when the
timer reads the client's lines; on a loaded machine the timer may read two
queries' lines at once, which leaves the sum (and the mean) right but
blurs the single times of sub-millisecond queries (and the median).
EOF
}

fail() {
  echo "$me: $*" >&2
  exit 1
}
say() { echo "$me: $*" >&2; }

# What each method is called in the tables.
method_name() {
  case $1 in
    cartridge) echo "cartridge (mol @> query, GiST)" ;;
    postgres) echo "zolv search --postgres" ;;
    postgres-scan) echo "zolv search --postgres --scan" ;;
    sqlite) echo "zolv search (SQLite)" ;;
    sqlite-scan) echo "zolv search --scan (SQLite)" ;;
    shards*) echo "coordinator, ${1#shards} shard$([ "${1#shards}" = 1 ] || echo s)" ;;
  esac
}

# Creates the cartridge in the throwaway database.
create_cartridge() {
  if "${psql[@]}" -c "CREATE EXTENSION rdkit" 2>"$work/logs/extension.log"; then
    return 0
  fi
  grep -q "is already the commutator of operator" "$work/logs/extension.log" ||
    { cat "$work/logs/extension.log" >&2; fail "CREATE EXTENSION rdkit failed"; }
  # PostgreSQL 15.18 and later (seen up to 15.20) refuse the extension
  # script of Debian's cartridge: it gives its @= operators the commutator
  # "=", which is already the commutator of "=" itself. The COMMUTATOR and NEGATOR
  # clauses of its comparison operators (<, <=, =, >=, >, <>) are only
  # hints to the planner, so a copy of the script without them, run in
  # this throwaway database as plain SQL, makes the same types, functions,
  # operators and index support. The installed file is left as it is.
  local control=$ZOLV_BENCH_SHAREDIR/extension/rdkit.control version script
  version=$(sed -n "s/^default_version[[:space:]]*=[[:space:]]*'\(.*\)'.*/\1/p" "$control")
  script=$ZOLV_BENCH_SHAREDIR/extension/rdkit--$version.sql
  [ -n "$version" ] && [ -f "$script" ] || fail "$control names no extension script"
  say "CREATE EXTENSION rdkit fails on this server, as known; running $script without the COMMUTATOR and NEGATOR clauses of its comparison operators"
  # shellcheck disable=SC2016  # $libdir is PostgreSQL's, not the shell's
  sed -e "/^[[:space:]]*\(COMMUTATOR\|NEGATOR\)[[:space:]]*=[[:space:]]*'\(<\|<=\|=\|>=\|>\|<>\)',\{0,1\}[[:space:]]*\$/d" \
    -e 's|MODULE_PATHNAME|$libdir/rdkit|g' -e '/^\\echo/d' \
    "$script" >"$work/rdkit-extension.sql"
  "${psql[@]}" -f "$work/rdkit-extension.sql" >"$work/logs/extension.log" 2>&1 ||
    { cat "$work/logs/extension.log" >&2; fail "loading the cartridge failed"; }
}

# The targets in the cartridge: a mol column with a GiST index, ids as zolv
# index gives them (the line numbers).
load_cartridge() {
  awk 'BEGIN { OFS = "\t" } { print NR, $2, $1 }' "$work/targets.smi" >"$work/targets.tsv"
  "${psql[@]}" >"$work/logs/cartridge_load.log" 2>&1 <<SQL ||
CREATE TABLE cartridge_source (id integer, name text, smiles text);
\copy cartridge_source FROM '$work/targets.tsv' WITH (FORMAT csv, DELIMITER E'\t', QUOTE E'\x01')
CREATE TABLE cartridge (id integer PRIMARY KEY, name text, smiles text, m mol);
INSERT INTO cartridge
  SELECT id, name, smiles, mol_from_smiles(smiles::cstring) FROM cartridge_source;
DROP TABLE cartridge_source;
CREATE INDEX cartridge_m ON cartridge USING gist (m);
VACUUM ANALYZE cartridge;
SQL
    { cat "$work/logs/cartridge_load.log" >&2; fail "loading the targets into the cartridge failed"; }
  "${psql[@]}" -A -t -c "SELECT count(*) - count(m) FROM cartridge" >"$work/logs/cartridge_unread"
  "${psql[@]}" -A -t -c "SELECT rdkit_version()" >"$work/logs/cartridge_version"
}

# One pass of a method over a set, through the timer, which starts the
# client itself so that it reads every line as it comes.
run() {  # run METHOD SET TIMED
  local method=$1 set=$2 timed=$3 queries=$work/queries/$2.smi
  local out=$work/times/$2.$1.tsv log=$work/logs/$2.$1.log status=0
  local name
  name=$(method_name "$method")
  [ "$timed" = yes ] || out=-
  local search=("$zolv" search --queries "$queries" "${jobs[@]}")
  case $method in
    cartridge)
      # $q$ quotes the SMILES whatever it holds; a SMILES the cartridge
      # cannot read fails its own statement only (ON_ERROR_STOP is off).
      awk '{ printf "\\echo # query %d\nSELECT smiles, name FROM cartridge WHERE m @> $q$%s$q$::mol;\n", NR, $1 }
           END { print "\\echo # end" }' "$queries" >"$work/queries/$set.cartridge.sql"
      python3 "$query_times" record "$name" "$out" \
        stdbuf -oL "$ZOLV_BENCH_BINDIR/psql" -X -q -A -t -F $'\t' -d "$conn" \
        -f "$work/queries/$set.cartridge.sql" 2>"$log" || status=$?
      ;;
    postgres | postgres-scan)
      python3 "$query_times" record "$name" "$out" \
        stdbuf -oL "${search[@]}" --postgres "$conn" \
        $([ $method = postgres-scan ] && echo --scan) 2>"$log" || status=$?
      ;;
    sqlite | sqlite-scan)
      python3 "$query_times" record "$name" "$out" \
        stdbuf -oL "${search[@]}" "$work/targets.db" \
        $([ $method = sqlite-scan ] && echo --scan) 2>"$log" || status=$?
      ;;
    shards*)
      python3 "$query_times" record "$name" "$out" \
        stdbuf -oL "${search[@]}" --postgres "$coordinator" 2>"$log" || status=$?
      ;;
  esac
  # zolv search exits with 2 when it skipped a query it could not read; the
  # table counts those.
  if [ $status -ne 0 ] && [ $status -ne 2 ]; then
    cat "$log" >&2
    fail "$method on $set failed (exit $status)"
  fi
}

run_sets() {  # run_sets METHOD...
  local set method
  for set in ${ZOLV_BENCH_SETS//,/ }; do
    for method in "$@"; do
      if [ "$ZOLV_BENCH_WARMUP" = yes ]; then
        say "$ZOLV_BENCH_TOTAL targets, $set: $(method_name "$method") (warm-up)"
        run "$method" "$set" no
      fi
      say "$ZOLV_BENCH_TOTAL targets, $set: $(method_name "$method")"
      run "$method" "$set" yes
    done
  done
}

setup_time() {  # setup_time WHAT START
  printf '%s\t%s\n' "$1" "$(seconds_since "$2")" >>"$work/logs/setup_times"
}

inside_server() {
  work=$ZOLV_BENCH_WORK zolv=$ZOLV_BENCH_ZOLV methods=$ZOLV_BENCH_METHODS
  conn=${ZOLV_TEST_POSTGRES:-}
  jobs=()
  [ -z "$ZOLV_BENCH_JOBS" ] || jobs=(--jobs "$ZOLV_BENCH_JOBS")
  psql=("$ZOLV_BENCH_BINDIR/psql" -X -q -v ON_ERROR_STOP=1 -d "$conn")
  local start method
  if has_method postgres || has_method postgres-scan; then
    say "indexing $ZOLV_BENCH_TOTAL targets in PostgreSQL"
    start=$(date +%s.%N)
    "$zolv" index --postgres "$conn" --replace "$work/targets.smi" \
      2>"$work/logs/index_postgres.log" ||
      { cat "$work/logs/index_postgres.log" >&2; fail "zolv index (PostgreSQL) failed"; }
    setup_time "zolv index --postgres" "$start"
  fi
  if has_method cartridge; then
    say "loading $ZOLV_BENCH_TOTAL targets into the cartridge"
    create_cartridge
    start=$(date +%s.%N)
    load_cartridge
    setup_time "cartridge: load and GiST index" "$start"
  fi
  if [ -n "$conn" ]; then
    "${psql[@]}" -A -t -c "SHOW server_version" >"$work/logs/server_version"
  fi
  local chosen=()
  for method in cartridge postgres postgres-scan sqlite sqlite-scan; do
    has_method "$method" && chosen+=("$method")
  done
  run_sets "${chosen[@]}"

  # The same index once more in a database of its own, spread by zolv index
  # over the shard servers.
  [ -n "$ZOLV_BENCH_SHARDS" ] || return 0
  local servers count
  mapfile -t servers < <(printf '%s' "${ZOLV_TEST_SHARDS:-}")
  "${psql[@]}" -c "CREATE DATABASE zolvcoordinator"
  coordinator=${conn/dbname=zolvtest/dbname=zolvcoordinator}
  for count in ${ZOLV_BENCH_SHARDS//,/ }; do
    local shard_options=()
    for server in "${servers[@]:0:count}"; do shard_options+=(--shard "$server"); done
    say "indexing $ZOLV_BENCH_TOTAL targets over $count shard server(s)"
    start=$(date +%s.%N)
    "$zolv" index --postgres "$coordinator" --replace "${shard_options[@]}" \
      "$work/targets.smi" 2>"$work/logs/index_shards$count.log" ||
      { cat "$work/logs/index_shards$count.log" >&2; fail "zolv index over $count shards failed"; }
    setup_time "zolv index --postgres over $count shard server(s)" "$start"
    run_sets "shards$count"
  done
}

seconds_since() {  # seconds since a date +%s.%N stamp, one decimal
  python3 -c 'import sys, time; print("%.1f" % (time.time() - float(sys.argv[1])))' "$1"
}
has_method() { [[ ,$methods, == *,$1,* ]]; }
thousands() { sed ':a;s/\B[0-9]\{3\}\>/,&/;ta' <<<"$1"; }

if [ "${1:-}" = --inside-server ]; then
  inside_server
  exit 0
fi

sizes=10000,50000,250000
queries_count=100
sets=fragments,leads,pieces
methods=cartridge,postgres,postgres-scan,sqlite,sqlite-scan
shards=1,2
shard_size=50000
jobs_count=
warmup=yes
install=yes
report_only=no
positional=()
while [ $# -gt 0 ]; do
  case $1 in
    -h | --help) usage; exit 0 ;;
    --sizes) sizes=${2:?--sizes needs a list}; shift 2 ;;
    --queries) queries_count=${2:?--queries needs N}; shift 2 ;;
    --sets) sets=${2:?--sets needs a list}; shift 2 ;;
    --methods) methods=${2:?--methods needs a list}; shift 2 ;;
    --shards) shards=${2:?--shards needs a list}; shift 2 ;;
    --shard-size) shard_size=${2:?--shard-size needs N}; shift 2 ;;
    --jobs) jobs_count=${2:?--jobs needs N}; shift 2 ;;
    --no-warmup) warmup=no; shift ;;
    --no-install) install=no; shift ;;
    --report-only) report_only=yes; shift ;;
    --) shift; positional+=("$@"); break ;;
    -*) fail "unknown option $1 (see --help)" ;;
    *) positional+=("$1"); shift ;;
  esac
done
[ ${#positional[@]} -eq 3 ] || { usage >&2; exit 1; }
[ "$shards" != 0 ] || shards=
for number in ${sizes//,/ } "$queries_count" "$shard_size" ${shards//,/ } $jobs_count; do
  [[ $number =~ ^[1-9][0-9]*$ ]] || fail "not a whole number above 0: $number"
done
for size in ${sizes//,/ }; do
  [ "$size" -le $source_size ] || [ $((size % source_size)) -eq 0 ] ||
    fail "$size targets: above $source_size, give a multiple of it"
done
max_shards=0
for count in ${shards//,/ }; do
  [ "$count" -le 9 ] || fail "at most 9 shard servers"
  [ "$count" -le "$max_shards" ] || max_shards=$count
done
[ -z "$shards" ] || [[ ,$sizes, == *,$shard_size,* ]] ||
  fail "--shard-size $shard_size is not one of --sizes $sizes"
for set in ${sets//,/ }; do
  case $set in fragments | leads | pieces) ;; *) fail "unknown set $set" ;; esac
done
for method in ${methods//,/ }; do
  case $method in cartridge | postgres | postgres-scan | sqlite | sqlite-scan) ;;
    *) fail "unknown method $method" ;; esac
done
[ -x "${positional[0]}" ] || fail "${positional[0]}: not an executable zolv"
zolv=$(cd "$(dirname "${positional[0]}")" && pwd)/$(basename "${positional[0]}")
data=$(cd "${positional[1]}" && pwd) || fail "${positional[1]}: no such directory"
mkdir -p "${positional[2]}"
root=$(cd "${positional[2]}" && pwd)
command -v python3 >/dev/null || fail "python3 is needed for the per-query times"
command -v stdbuf >/dev/null || fail "stdbuf (coreutils) is needed to flush each line"

bindir=${ZOLV_PG_BINDIR:-}
if [ -z "$bindir" ]; then
  bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
fi
[ -n "$bindir" ] && [ -x "$bindir/psql" ] ||
  fail "no PostgreSQL programs found (Debian's postgresql package)"
major=$(basename "$(dirname "$bindir")")
sharedir=${ZOLV_PG_SHAREDIR:-/usr/share/postgresql/$major}
package=postgresql-$major-rdkit

if [ $report_only = no ] && has_method cartridge &&
  [ ! -f "$sharedir/extension/rdkit.control" ]; then
  [ $install = yes ] || fail "the cartridge is not installed: apt-get install $package"
  [ "$(id -u)" -eq 0 ] || fail "the cartridge is not installed; as root: apt-get install $package"
  say "installing $package (for this benchmark only)"
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "$package" >"$root/apt.log" 2>&1 ||
    { cat "$root/apt.log" >&2; fail "apt-get install $package failed"; }
fi
source_targets=$data/znp.50k.smi.gz
[ -f "$source_targets" ] || fail "$source_targets: missing"
[ $report_only = yes ] || cut -d' ' -f1-3 /proc/loadavg >"$root/load_before"

# One number of targets: its targets, queries and indexes, then every
# method inside a throwaway server (with the shard servers when the shards
# are measured at this size).
measure() {  # measure SIZE
  local size=$1 copies=1 first=$1 copy set start
  if [ "$size" -gt $source_size ]; then
    copies=$((size / source_size))
    first=$source_size
  fi
  work=$root/$size
  mkdir -p "$work/queries" "$work/times" "$work/logs"
  rm -f "$work"/times/* "$work/logs/setup_times" "$work/logs/server_version" \
    "$work/logs/cartridge_version" "$work/logs/cartridge_unread"
  # The targets: copies 2..K renamed, so that every hit can be told apart.
  : >"$work/targets.smi"
  for copy in $(seq 1 "$copies"); do
    zcat "$source_targets" | head -n "$first" |
      awk -v copy="$copy" 'copy > 1 { $2 = $2 "-" copy } { print }' >>"$work/targets.smi" || true
  done
  [ "$(wc -l <"$work/targets.smi")" -eq "$size" ] ||
    fail "$source_targets holds fewer than $first targets"
  for set in ${sets//,/ }; do
    case $set in
      fragments) cat "$data/zinc.frags.500.q.smi" ;;
      leads) cat "$data/zinc.leads.500.q.smi" ;;
      pieces) zcat "$data/pieces.823.q.txt.gz" ;;
    esac | head -n "$queries_count" >"$work/queries/$set.smi" || true
  done
  if has_method sqlite || has_method sqlite-scan; then
    say "indexing $size targets in SQLite"
    start=$(date +%s.%N)
    rm -f "$work/targets.db"
    "$zolv" index "$work/targets.db" "$work/targets.smi" 2>"$work/logs/index_sqlite.log" ||
      { cat "$work/logs/index_sqlite.log" >&2; fail "zolv index (SQLite) failed"; }
    printf 'zolv index (SQLite)\t%s\n' "$(seconds_since "$start")" >>"$work/logs/setup_times"
  fi
  local server=() with_shards=
  if [ -n "$shards" ] && [ "$size" = "$shard_size" ]; then
    with_shards=$shards
    server=(--shards "$max_shards")
  fi
  # Everything else happens while the throwaway servers run: this script
  # runs itself again inside tests/search/with_postgres.sh, its settings in
  # the environment.
  ZOLV_BENCH_ZOLV=$zolv ZOLV_BENCH_WORK=$work ZOLV_BENCH_BINDIR=$bindir \
    ZOLV_BENCH_SHAREDIR=$sharedir ZOLV_BENCH_SETS=$sets \
    ZOLV_BENCH_METHODS=$methods ZOLV_BENCH_WARMUP=$warmup ZOLV_BENCH_TOTAL=$size \
    ZOLV_BENCH_SHARDS=$with_shards ZOLV_BENCH_JOBS=$jobs_count \
    "$with_postgres" "${server[@]}" "$here/$me" --inside-server
}

if [ $report_only = no ]; then
  for size in ${sizes//,/ }; do measure "$size"; done
  cut -d' ' -f1-3 /proc/loadavg >"$root/load_after"
fi

# The report.
files_of() {  # files_of SIZE SET: the set's times, in method order
  local method
  for method in ${methods//,/ }; do echo "$root/$1/times/$2.$method.tsv"; done
  if [ "$1" = "$shard_size" ]; then
    for method in ${shards//,/ }; do echo "$root/$1/times/$2.shards$method.tsv"; done
  fi
}
described() {  # described SIZE: how the targets were made
  if [ "$1" -gt $source_size ]; then
    echo "$(thousands "$1") targets (the $(thousands $source_size) written $(($1 / source_size)) times with new ids)"
  else
    echo "$(thousands "$1") targets (the first of znp.50k.smi.gz)"
  fi
}
last_size=
for size in ${sizes//,/ }; do last_size=$size; done
work=$root/$last_size
echo "## zolv search against RDKit's PostgreSQL cartridge"
echo
echo "- $(date -u -r "$root/load_after" '+%Y-%m-%d %H:%M UTC'), $(nproc) cores; load average $(cat "$root/load_before") at the start, $(cat "$root/load_after") at the end"
echo "- PostgreSQL $(cat "$work/logs/server_version" 2>/dev/null || echo '?')$(
  [ -s "$work/logs/cartridge_version" ] && echo ", cartridge (RDKit) $(cat "$work/logs/cartridge_version")")"
echo "- first $queries_count queries of each set; zolv search --jobs ${jobs_count:-(default: $(nproc))}"
for size in ${sizes//,/ }; do
  while IFS=$'\t' read -r what seconds; do
    echo "- $(thousands "$size") targets, $what: $seconds s"
  done < <(cat "$root/$size/logs/setup_times" 2>/dev/null)
  unread=$(cat "$root/$size/logs/cartridge_unread" 2>/dev/null || echo 0)
  [ "$unread" = 0 ] || echo "- $(thousands "$size") targets: $unread the cartridge could not read"
done
for size in ${sizes//,/ }; do
  echo
  echo "### $(described "$size")"
  echo
  echo "Mean / median ms per query:"
  echo
  columns=()
  for set in ${sets//,/ }; do
    columns+=("$set=$(files_of "$size" "$set" | paste -sd,)")
  done
  python3 "$query_times" overview "${columns[@]}"
  for set in ${sets//,/ }; do
    echo
    echo "#### $(thousands "$size") targets, $set ($(wc -l <"$root/$size/queries/$set.smi") queries)"
    echo
    mapfile -t files < <(files_of "$size" "$set")
    python3 "$query_times" table "${files[@]}"
  done
done
if [ "$(wc -w <<<"${sizes//,/ }")" -gt 1 ]; then
  echo
  echo "### Growth with the number of targets"
  echo
  echo "Mean ms per query; the last column divides the last number of targets by the one before."
  for set in ${sets//,/ }; do
    echo
    echo "$set:"
    echo
    columns=()
    for size in ${sizes//,/ }; do
      columns+=("$(thousands "$size")$([ "$size" -gt $source_size ] && echo '*')=$(
        for method in ${methods//,/ }; do echo "$root/$size/times/$set.$method.tsv"; done | paste -sd,)")
    done
    python3 "$query_times" growth "${columns[@]}"
  done
  for size in ${sizes//,/ }; do
    if [ "$size" -gt $source_size ]; then
      echo
      echo "\* the $(thousands $source_size) targets written again with new ids."
      break
    fi
  done
fi
if [ -n "$shards" ]; then
  echo
  echo "### Over shard servers, $(described "$shard_size")"
  echo
  echo "All servers on this machine. Mean / median ms per query:"
  echo
  columns=()
  for set in ${sets//,/ }; do
    columns+=("$set=$(
      for method in postgres ${shards//,/ }; do
        case $method in postgres) has_method postgres && echo "$root/$shard_size/times/$set.postgres.tsv" ;;
          *) echo "$root/$shard_size/times/$set.shards$method.tsv" ;; esac
      done | paste -sd,)")
  done
  python3 "$query_times" overview "${columns[@]}"
fi
