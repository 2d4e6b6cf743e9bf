#!/usr/bin/env bash
# Sets up, builds, and shows what the project is for on the bundled sample
# molecules: indexes them into SQLite, searches them with a SMILES and a
# SMARTS query (hits and the figures of the preselection), runs the same
# search as one statement in the sqlite3 shell through the SQLite extension,
# then shows the screen texts behind it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/release"
bash "$root/scripts/setup.sh"
# Without the tests, which the demo does not run; with everything that
# 'sudo cmake --install build/release' installs.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZOLV_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc)" \
  --target zolv zolv_default_dictionary zolv_sqlite zolv_postgres
zolv="$build/bin/zolv"
sample="$root/data/sample.smi"
database="$build/demo/sample.db"
mkdir -p "$(dirname "$database")"

echo
echo "== Index $sample into SQLite ($database)"
"$zolv" index --replace "$database" "$sample"
echo
echo "== SMILES search: chlorobenzenes (hits, then how the preselection did)"
"$zolv" search "$database" --smiles 'Clc1ccccc1' --verify
echo
echo "== SMARTS search: carboxylic acids"
"$zolv" search "$database" --smarts '[CX3](=O)[OX2H1]' --verify
echo
echo "== The SMILES search as one statement in the sqlite3 shell"
sqlite3 -header -column "$database" <<SQL
.load $build/bin/libzolv_sqlite
SELECT id, name, smiles FROM targets
 WHERE zolv_match(zolv_pattern('Clc1ccccc1', ''), raw, 0)
   AND zolv_contains(smiles, 'Clc1ccccc1');
SQL
echo
echo "== What the index stores: SBI target texts, raw (escaped) and alphabet"
"$zolv" write "$sample" -o 'format=SBI' --encoding escaped --name
"$zolv" write "$sample" -o 'format=SBI ascii=true' --name
echo
echo "== and what a query is: the SBI patterns of chlorobenzene, Access and ODBC"
"$zolv" write --smiles 'Clc1ccccc1' -o 'format=SBI object=query ascii=true'
"$zolv" write --smiles 'Clc1ccccc1' -o 'format=SBI object=query ascii=true database=ODBC'
echo
echo "== Bit strings (length 128) of the sample"
"$zolv" write "$sample" --name
