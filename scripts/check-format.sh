#!/usr/bin/env bash
# Fails when a tracked C or C++ source differs from the project's
# .clang-format, naming each such file; 'scripts/check-format.sh --fix'
# formats them in place instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
formatter=${CLANG_FORMAT:-clang-format}
if ! command -v "$formatter" >/dev/null 2>&1; then
  echo "check-format: $formatter not found (Debian's clang-format)" >&2
  exit 1
fi
mapfile -t files < <(git ls-files '*.h' '*.cpp' '*.c')
if [ "${1:-}" = --fix ]; then
  "$formatter" -i "${files[@]}"
  exit 0
fi
bad=()
for file in "${files[@]}"; do
  if ! "$formatter" --dry-run --Werror "$file" >/dev/null 2>&1; then
    bad+=("$file")
  fi
done
if [ ${#bad[@]} -gt 0 ]; then
  printf '%s: differs from .clang-format\n' "${bad[@]}"
  echo "check-format: ${#bad[@]} file(s); run scripts/check-format.sh --fix" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files as .clang-format says"
