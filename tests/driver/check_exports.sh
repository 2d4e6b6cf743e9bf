#!/usr/bin/env bash
# The format driver must define exactly its two entry points for others.
set -euo pipefail
library=$1
defined=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TtDdBbWwVvRrGgSsiu]$/ {print $3}' | sort)
expected=$(printf 'ZolvPreWrite\nZolvWrite\n')
if [ "$defined" != "$expected" ]; then
  echo "unexpected exports in $library:" >&2
  echo "$defined" >&2
  exit 1
fi
echo "exports of $(basename "$library"): $(echo $defined)"
