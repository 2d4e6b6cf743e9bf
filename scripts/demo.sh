#!/usr/bin/env bash
# Sets up, builds, and writes the bundled sample molecules with the default
# screen dictionary: bit strings, then "SBI" texts for targets and a query.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/release"
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j "$(nproc)" --target zolv zolv_default_dictionary
zolv="$build/bin/zolv"
sample="$root/data/sample.smi"

echo
echo "== Bit strings (length 128) of $sample"
"$zolv" write "$sample" --name
echo
echo "== SBI target texts, raw variant (non-printable bytes escaped)"
"$zolv" write "$sample" -o 'format=SBI' --encoding escaped --name
echo
echo "== SBI target texts, alphabet variant"
"$zolv" write "$sample" -o 'format=SBI ascii=true' --name
echo
echo "== SBI query patterns for chlorobenzene, Access and ODBC"
"$zolv" write --smiles 'Clc1ccccc1' -o 'format=SBI object=query ascii=true'
"$zolv" write --smiles 'Clc1ccccc1' -o 'format=SBI object=query ascii=true database=ODBC'
