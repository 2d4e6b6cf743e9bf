#!/usr/bin/env bash
# zolv search against RDKit's PostgreSQL cartridge, in one run on one
# machine: the same targets, the same queries, each query timed end to end
# as its client prints it.
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

usage() {
  cat <<EOF
Usage: $me [options] ZOLV DATA_DIR WORK_DIR

Times substructure searches three ways on the same targets and queries:
RDKit's PostgreSQL cartridge (mol @> query over a GiST index, through psql),
zolv search --postgres and zolv search on a SQLite file. The targets are
indexed by zolv index (SQLite and PostgreSQL) and loaded into the cartridge
(a mol column with a GiST index) on a throwaway PostgreSQL server with a
socket of its own (tests/search/with_postgres.sh).

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
  --targets N     index the first N targets (default 50000)
  --copies K      write those targets K times, copies 2..K with the name
                  suffixed "-2".."-K" and new ids (default 1); 250,000
                  targets are --targets 50000 --copies 5
  --queries N     the first N queries of each set (default 100)
  --sets LIST     comma-separated: fragments, leads, pieces (default all)
  --methods LIST  comma-separated: cartridge, postgres, sqlite (default all)
  --no-warmup     time the first pass over each set
  --no-install    never install the cartridge; fail when it is missing
  -h, --help      show this help

Output: a Markdown table per set on stdout (mean and median ms per query,
candidates per query where zolv reports them, hits, skipped queries, and
the whole run's wall time per query, which adds the client's start-up),
progress on stderr; per-query times in WORK_DIR/times/*.tsv.

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
  [ "$timed" = yes ] || out=-
  case $method in
    cartridge)
      # $q$ quotes the SMILES whatever it holds; a SMILES the cartridge
      # cannot read fails its own statement only (ON_ERROR_STOP is off).
      awk '{ printf "\\echo # query %d\nSELECT smiles, name FROM cartridge WHERE m @> $q$%s$q$::mol;\n", NR, $1 }
           END { print "\\echo # end" }' "$queries" >"$work/queries/$set.cartridge.sql"
      python3 "$query_times" record "cartridge (mol @> query, GiST)" "$out" \
        stdbuf -oL "$ZOLV_BENCH_BINDIR/psql" -X -q -A -t -F $'\t' -d "$conn" \
        -f "$work/queries/$set.cartridge.sql" 2>"$log" || status=$?
      ;;
    postgres)
      python3 "$query_times" record "zolv search --postgres" "$out" \
        stdbuf -oL "$zolv" search --postgres "$conn" --queries "$queries" \
        2>"$log" || status=$?
      ;;
    sqlite)
      python3 "$query_times" record "zolv search (SQLite)" "$out" \
        stdbuf -oL "$zolv" search "$work/targets.db" --queries "$queries" \
        2>"$log" || status=$?
      ;;
  esac
  # zolv search exits with 2 when it skipped a query it could not read; the
  # table counts those.
  if [ $status -ne 0 ] && [ $status -ne 2 ]; then
    cat "$log" >&2
    fail "$method on $set failed (exit $status)"
  fi
}

inside_server() {
  work=$ZOLV_BENCH_WORK zolv=$ZOLV_BENCH_ZOLV methods=$ZOLV_BENCH_METHODS
  conn=${ZOLV_TEST_POSTGRES:-}
  psql=("$ZOLV_BENCH_BINDIR/psql" -X -q -v ON_ERROR_STOP=1 -d "$conn")
  local start set method
  if has_method postgres; then
    say "indexing $ZOLV_BENCH_TOTAL targets in PostgreSQL"
    start=$(date +%s.%N)
    "$zolv" index --postgres "$conn" --replace "$work/targets.smi" \
      2>"$work/logs/index_postgres.log" ||
      { cat "$work/logs/index_postgres.log" >&2; fail "zolv index (PostgreSQL) failed"; }
    printf 'zolv index --postgres\t%s\n' "$(seconds_since "$start")" >>"$work/logs/setup_times"
  fi
  if has_method cartridge; then
    say "loading $ZOLV_BENCH_TOTAL targets into the cartridge"
    create_cartridge
    start=$(date +%s.%N)
    load_cartridge
    printf 'cartridge: load and GiST index\t%s\n' "$(seconds_since "$start")" >>"$work/logs/setup_times"
  fi
  if [ -n "$conn" ]; then
    "${psql[@]}" -A -t -c "SHOW server_version" >"$work/logs/server_version"
  fi
  for set in ${ZOLV_BENCH_SETS//,/ }; do
    for method in ${methods//,/ }; do
      if [ "$ZOLV_BENCH_WARMUP" = yes ]; then
        say "$set: $method (warm-up)"
        run "$method" "$set" no
      fi
      say "$set: $method"
      run "$method" "$set" yes
    done
  done
}

seconds_since() {  # seconds since a date +%s.%N stamp, one decimal
  python3 -c 'import sys, time; print("%.1f" % (time.time() - float(sys.argv[1])))' "$1"
}
has_method() { [[ ,$methods, == *,$1,* ]]; }

if [ "${1:-}" = --inside-server ]; then
  inside_server
  exit 0
fi

targets_count=50000
copies=1
queries_count=100
sets=fragments,leads,pieces
methods=cartridge,postgres,sqlite
warmup=yes
install=yes
positional=()
while [ $# -gt 0 ]; do
  case $1 in
    -h | --help) usage; exit 0 ;;
    --targets) targets_count=${2:?--targets needs N}; shift 2 ;;
    --copies) copies=${2:?--copies needs K}; shift 2 ;;
    --queries) queries_count=${2:?--queries needs N}; shift 2 ;;
    --sets) sets=${2:?--sets needs a list}; shift 2 ;;
    --methods) methods=${2:?--methods needs a list}; shift 2 ;;
    --no-warmup) warmup=no; shift ;;
    --no-install) install=no; shift ;;
    --) shift; positional+=("$@"); break ;;
    -*) fail "unknown option $1 (see --help)" ;;
    *) positional+=("$1"); shift ;;
  esac
done
[ ${#positional[@]} -eq 3 ] || { usage >&2; exit 1; }
for number in "$targets_count" "$copies" "$queries_count"; do
  [[ $number =~ ^[1-9][0-9]*$ ]] || fail "not a whole number above 0: $number"
done
for set in ${sets//,/ }; do
  case $set in fragments | leads | pieces) ;; *) fail "unknown set $set" ;; esac
done
for method in ${methods//,/ }; do
  case $method in cartridge | postgres | sqlite) ;; *) fail "unknown method $method" ;; esac
done
[ -x "${positional[0]}" ] || fail "${positional[0]}: not an executable zolv"
zolv=$(cd "$(dirname "${positional[0]}")" && pwd)/$(basename "${positional[0]}")
data=$(cd "${positional[1]}" && pwd) || fail "${positional[1]}: no such directory"
mkdir -p "${positional[2]}"
work=$(cd "${positional[2]}" && pwd)
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

if has_method cartridge && [ ! -f "$sharedir/extension/rdkit.control" ]; then
  [ $install = yes ] || fail "the cartridge is not installed: apt-get install $package"
  [ "$(id -u)" -eq 0 ] || fail "the cartridge is not installed; as root: apt-get install $package"
  say "installing $package (for this benchmark only)"
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "$package" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "apt-get install $package failed"; }
fi

# The targets: copies 2..K renamed, so that every hit can be told apart.
targets=$work/targets.smi
source_targets=$data/znp.50k.smi.gz
[ -f "$source_targets" ] || fail "$source_targets: missing"
: >"$targets"
for copy in $(seq 1 "$copies"); do
  zcat "$source_targets" | head -n "$targets_count" |
    awk -v copy="$copy" 'copy > 1 { $2 = $2 "-" copy } { print }' >>"$targets" || true
done
total=$(wc -l <"$targets")
[ "$total" -eq $((targets_count * copies)) ] ||
  fail "$source_targets holds fewer than $targets_count targets"

mkdir -p "$work/queries" "$work/times" "$work/logs"
rm -f "$work"/times/* "$work/logs/setup_times" "$work/logs/server_version" \
  "$work/logs/cartridge_version" "$work/logs/cartridge_unread"
cut -d' ' -f1-3 /proc/loadavg >"$work/logs/load_before"
query_file() {  # the set's query file in WORK_DIR
  echo "$work/queries/$1.smi"
}
for set in ${sets//,/ }; do
  case $set in
    fragments) cat "$data/zinc.frags.500.q.smi" ;;
    leads) cat "$data/zinc.leads.500.q.smi" ;;
    pieces) zcat "$data/pieces.823.q.txt.gz" ;;
  esac | head -n "$queries_count" >"$(query_file "$set")" || true
done

if has_method sqlite; then
  say "indexing $total targets in SQLite"
  start=$(date +%s.%N)
  "$zolv" index "$work/targets.db" --replace "$targets" 2>"$work/logs/index_sqlite.log" ||
    { cat "$work/logs/index_sqlite.log" >&2; fail "zolv index (SQLite) failed"; }
  printf 'zolv index (SQLite)\t%s\n' "$(seconds_since "$start")" >>"$work/logs/setup_times"
fi

# Everything else happens while the throwaway server runs: this script runs
# itself again inside tests/search/with_postgres.sh, its settings in the
# environment.
export ZOLV_BENCH_ZOLV=$zolv ZOLV_BENCH_WORK=$work ZOLV_BENCH_BINDIR=$bindir \
  ZOLV_BENCH_SHAREDIR=$sharedir ZOLV_BENCH_SETS=$sets \
  ZOLV_BENCH_METHODS=$methods ZOLV_BENCH_WARMUP=$warmup ZOLV_BENCH_TOTAL=$total
if has_method postgres || has_method cartridge; then
  "$with_postgres" "$here/$me" --inside-server
else
  "$here/$me" --inside-server
fi

# The report.
queries_in() { wc -l <"$(query_file "$1")"; }
echo "## zolv search against RDKit's PostgreSQL cartridge"
echo
echo "- $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores; load average $(cat "$work/logs/load_before") at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end"
echo "- PostgreSQL $(cat "$work/logs/server_version" 2>/dev/null || echo '?')$(
  [ -s "$work/logs/cartridge_version" ] && echo ", cartridge (RDKit) $(cat "$work/logs/cartridge_version")")"
echo "- $total targets (the first $targets_count of znp.50k.smi.gz$(
  [ "$copies" -gt 1 ] && echo ", written $copies times with new ids")); first $queries_count queries of each set"
while IFS=$'\t' read -r what seconds; do
  echo "- $what: $seconds s"
done < <(cat "$work/logs/setup_times" 2>/dev/null)
if [ -s "$work/logs/cartridge_unread" ] && [ "$(cat "$work/logs/cartridge_unread")" != 0 ]; then
  echo "- targets the cartridge could not read: $(cat "$work/logs/cartridge_unread")"
fi
for set in ${sets//,/ }; do
  files=()
  for method in ${methods//,/ }; do files+=("$work/times/$set.$method.tsv"); done
  echo
  echo "### $set ($(queries_in "$set") queries)"
  echo
  python3 "$query_times" table "${files[@]}"
done
