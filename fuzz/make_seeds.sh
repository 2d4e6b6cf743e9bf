#!/usr/bin/env bash
# Makes the seed corpora of the fuzz targets, one directory per target, from
# valid inputs: the option strings, formulas and dictionaries of the driver's
# own tests (written by zolv_fuzz_seeds, which the fuzz build makes).
#
# Usage: fuzz/make_seeds.sh <fuzz build directory> [<seed directory>]
set -euo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 <fuzz build directory> [<seed directory>]" >&2
  exit 2
fi
build=$1
seeds=${2:-$build/seeds}
generator="$build/bin/zolv_fuzz_seeds"
if [ ! -x "$generator" ]; then
  echo "$0: $generator not built (cmake --build $build --target zolv_fuzz)" >&2
  exit 1
fi
rm -rf "$seeds"
"$generator" "$seeds"
