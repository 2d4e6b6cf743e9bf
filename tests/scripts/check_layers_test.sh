#!/usr/bin/env bash
# scripts/check-layers.py on small trees of its own: it passes the includes
# each layer may make, names every one it may not by file and line, fails a
# folder without rules, and fails folders that include each other round in a
# cycle even where rules would let each include pass.
set -euo pipefail
checker=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/tree

put() {  # put FILE LINE...: a source file of the given lines
  mkdir -p "$tree/$(dirname "$1")"
  local file=$1
  shift
  printf '%s\n' "$@" >"$tree/$file"
}

expect() {  # expect OUTPUT LINE...: every line is in the checker's output
  local out=$1
  shift
  for line in "$@"; do
    if ! grep -qF -- "$line" <<<"$out"; then
      echo "missing: $line"; echo "$out"; exit 1
    fi
  done
}

put core/core_api.h '#pragma once'
put base/text_buffer.h '#pragma once'
put dictionary/dictionary_format.h '#pragma once'
put dictionary/screen_list.h '#pragma once'
put search/text_store.h '#pragma once'
put host/write_command.h '#pragma once'
put session/driver_session.h '#pragma once' '#include "text_store.h"'
put screens/screen_set.h '#pragma once' '#include "core_api.h"' \
  '#include "text_buffer.h"' '#include "dictionary_format.h"' '#include <vector>'
put host/write_command.cpp '#include "write_command.h"' '#include "driver_session.h"'
put host/main.cpp '#include "write_command.h"'
put tests/host/write_command_test.cpp '#include "write_command.h"'
if ! out=$(python3 "$checker" "$tree" 2>&1); then
  echo "allowed includes refused:"; echo "$out"; exit 1
fi

put screens/screen_set.cpp '#include "screen_set.h"' '#include "screen_list.h"'
put core/core_handle.h '#pragma once' '#include "text_buffer.h"'
put search/text_store.cpp '#include "driver_session.h"'
put bench/bench_driver.h '#include "write_command.h"'
put dictionary/dictionary_format.cpp '#include "text_store.h"'
put screens/text_store.h '#pragma once'
put tools/tool.cpp '#include "core_api.h"'
if out=$(python3 "$checker" "$tree" 2>&1); then
  echo "forbidden includes passed:"; echo "$out"; exit 1
fi
expect "$out" \
  "screens/screen_set.cpp:2: screens/ must not include dictionary/screen_list.h" \
  "core/core_handle.h:2: core/ must not include base/text_buffer.h" \
  "search/text_store.cpp:1: search/ must not include session/driver_session.h" \
  "bench/bench_driver.h:1: includes host/write_command.h;" \
  "bench/bench_driver.h:1: bench/ must not include host/write_command.h" \
  "header name text_store.h also used by" \
  "tools/tool.cpp: tools/ has no layer rule"

# Rules that let host and bench include each other: each include passes,
# the cycle they make does not.
rm -rf "$tree"
put bench/benchmarks.h '#pragma once'
put host/sbi_text_writer.h '#pragma once'
put host/bench_command.cpp '#include "benchmarks.h"'
printf '{"host": ["bench"], "bench": ["host"]}\n' >"$work/rules.json"
if ! out=$(python3 "$checker" --rules "$work/rules.json" "$tree" 2>&1); then
  echo "one-way includes refused:"; echo "$out"; exit 1
fi
put bench/quality_bench.cpp '#include "benchmarks.h"' '#include "sbi_text_writer.h"'
if out=$(python3 "$checker" --rules "$work/rules.json" "$tree" 2>&1); then
  echo "a cycle passed:"; echo "$out"; exit 1
fi
expect "$out" \
  "cycle: bench/ -> host/ -> bench/: bench/quality_bench.cpp:2 (bench/ -> host/), host/bench_command.cpp:1 (host/ -> bench/)"
if grep -q "must not include" <<<"$out"; then
  echo "an include the rules allow was refused:"; echo "$out"; exit 1
fi
echo "check-layers: every rule held"
