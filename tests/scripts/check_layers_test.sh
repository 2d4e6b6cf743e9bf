#!/usr/bin/env bash
# scripts/check-layers.py on a small tree of its own: it passes the includes
# each layer may make and names every one it may not, by file and line.
set -euo pipefail
checker=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

put() {  # put FILE LINE...: a source file of the given lines
  mkdir -p "$tree/$(dirname "$1")"
  local file=$1
  shift
  printf '%s\n' "$@" >"$tree/$file"
}

put core/core_api.h '#pragma once'
put base/text_buffer.h '#pragma once'
put dictionary/dictionary_format.h '#pragma once'
put dictionary/screen_list.h '#pragma once'
put search/text_store.h '#pragma once'
put host/write_command.h '#pragma once'
put host/driver_session.h '#pragma once'
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
if out=$(python3 "$checker" "$tree" 2>&1); then
  echo "forbidden includes passed:"; echo "$out"; exit 1
fi
expected=(
  "screens/screen_set.cpp:2: screens/ must not include dictionary/screen_list.h"
  "core/core_handle.h:2: core/ must not include base/text_buffer.h"
  "search/text_store.cpp:1: search/ must not include host/driver_session.h"
  "bench/bench_driver.h:1: includes host/write_command.h;"
  "header name text_store.h also used by"
)
for line in "${expected[@]}"; do
  if ! grep -qF "$line" <<<"$out"; then
    echo "missing: $line"; echo "$out"; exit 1
  fi
done
echo "check-layers: every rule held"
