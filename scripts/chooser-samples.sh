#!/bin/bash
# Writes the sample molecules of "zolv dict choose" as one SMILES file, read
# at run time from RDKit's data (Debian's rdkit-data) and never kept in the
# repository: NCI's first 5,000, the WEHI screening set of the PAINS tests,
# ChEMBL sets and the SD files of RDKit's tests (their SMILES written by
# "zolv index"). Molecules of the benchmark sets are left out by the
# chooser's --exclude, not here.
#
# Usage: scripts/chooser-samples.sh ZOLV OUTPUT.smi
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 ZOLV OUTPUT.smi" >&2
  exit 1
fi
zolv=$1
output=$2
data=/usr/share/RDKit
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

{
  tr '\t' ' ' < "$data/Data/NCI/first_5K.smi"
  sed 's/^"\([^"]*\)","\([^"]*\)".*/\1 \2/' \
    "$data/Data/Pains/test_data/wehi_mols.csv"
  cat "$data/Contrib/FreeWilson/data/CHEMBL2321810.smi" \
    "$data/Contrib/fraggle/data/ChEMBL_11265_actives.smi"
  tail -n +2 \
    "$data/Contrib/NIBRSubstructureFilters/examples/chembl24_structs_randomtestSample_100.csv" |
    awk -F, '{print $2, $3}'
  for sdf in "$data/Contrib/PBF/testData/egfr.sdf" \
             "$data/Projects/DbCLI/testData/bzr.sdf" \
             "$data/Projects/DbCLI/testData/pubchem.200.sdf"; do
    name=$(basename "$sdf" .sdf)
    # Exit status 2: some records could not be read; the rest are stored.
    status=0
    "$zolv" index "$work/$name.db" "$sdf" > /dev/null || status=$?
    if [ "$status" -ne 0 ] && [ "$status" -ne 2 ]; then
      echo "$0: zolv index failed on $sdf" >&2
      exit 1
    fi
    sqlite3 "$work/$name.db" "SELECT smiles || ' $name' FROM targets ORDER BY id"
  done
} | grep -v '^#' | awk 'NF >= 1' > "$output"
wc -l < "$output"
