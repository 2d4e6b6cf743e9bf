#!/usr/bin/env python3
"""Makes N distinct molecules from a set of targets, for benchmarks at scale.

Each target is kept as it is, followed by analogues with one hydrogen
replaced by F, Cl, CH3 or OH. An analogue is kept only when RDKit sanitises
it, and every molecule is written once, by its canonical SMILES. The places
and substituents of a target are tried in an order fixed by a hash of the
target's canonical SMILES, so that the output is the same on every run and
machine (with the same RDKit), and its analogues are spread over the whole
molecule instead of piling up on its first atoms. Targets are taken in
passes: the first gives each target an equal share of N, later passes take
further analogues from the targets that still have some, until N molecules
are written.

Nothing it writes belongs in the repository: it makes the set at run time.

Usage: million_molecules.py TARGETS [-n N] -o OUT
  TARGETS  a SMILES file (SMILES, then a name), gzipped when it ends in .gz
  OUT      the SMILES file written ("SMILES name" a line), gzipped for .gz
Needs RDKit's Python module: Debian's python3-rdkit, run with /usr/bin/python3.
"""

import argparse
import functools
import gzip
import math
import multiprocessing
import sys
import zlib

try:
    from rdkit import Chem, RDLogger
except ImportError:
    sys.exit("million_molecules.py: needs RDKit's Python module "
             "(apt-get install python3-rdkit; run with /usr/bin/python3)")

# The substituents, each as the atomic number bonded to the freed place;
# CH3 and OH get their hydrogens from sanitisation.
SUBSTITUENTS = (("F", 9), ("Cl", 17), ("C", 6), ("O", 8))


def open_text(path, mode):
    if path.endswith(".gz"):
        return gzip.open(path, mode + "t", encoding="utf-8", newline="\n")
    return open(path, mode, encoding="utf-8", newline="\n")


def read_targets(path):
    with open_text(path, "r") as source:
        for line in source:
            fields = line.split(None, 1)
            if not fields or fields[0].startswith("#"):
                continue
            name = fields[1].strip() if len(fields) > 1 else ""
            yield fields[0], name


def analogue(mol, atom_index, atomic_number):
    """The molecule with one hydrogen of the atom replaced, or None."""
    editable = Chem.RWMol(mol)
    atom = editable.GetAtomWithIdx(atom_index)
    explicit = atom.GetNumExplicitHs()
    if explicit > 0:
        atom.SetNumExplicitHs(explicit - 1)
    added = editable.AddAtom(Chem.Atom(atomic_number))
    editable.AddBond(atom_index, added, Chem.BondType.SINGLE)
    try:
        Chem.SanitizeMol(editable)
    except Exception:  # RDKit raises several kinds for what it refuses
        return None
    return editable


def candidates(item, limit):
    """A target's canonical SMILES and name, then up to limit analogues in
    order."""
    smiles, name = item
    mol = Chem.MolFromSmiles(smiles)
    if mol is None:
        return []
    canonical = Chem.MolToSmiles(mol)
    places = []
    for atom in mol.GetAtoms():
        if atom.GetTotalNumHs() == 0:
            continue
        for symbol, number in SUBSTITUENTS:
            key = f"{canonical}|{atom.GetIdx()}|{symbol}".encode()
            places.append((zlib.crc32(key), atom.GetIdx(), symbol, number))
    places.sort()
    found = [(canonical, name)]
    for _, index, symbol, number in places:
        if len(found) > limit:
            break
        made = analogue(mol, index, number)
        if made is not None:
            found.append((Chem.MolToSmiles(made), f"{name}_{symbol}{index}"))
    return found


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        epilog="The same TARGETS and N give the same file on every run.")
    parser.add_argument("targets")
    parser.add_argument("-n", "--count", type=int, default=1_000_000)
    parser.add_argument("-o", "--output", required=True)
    parser.add_argument("--jobs", type=int, default=multiprocessing.cpu_count())
    options = parser.parse_args()
    if options.count < 1:
        parser.error("-n must be at least 1")
    RDLogger.DisableLog("rdApp.*")

    targets = list(read_targets(options.targets))
    if not targets:
        sys.exit(f"million_molecules.py: {options.targets}: no molecules")
    share = math.ceil(options.count / len(targets))
    # Symmetric places give the same analogue: room for them, and for the
    # later passes, without making every analogue of every target.
    limit = share + share // 2 + 4
    with multiprocessing.Pool(options.jobs) as pool:
        # In target order whatever the number of processes.
        lists = pool.imap(functools.partial(candidates, limit=limit), targets,
                          chunksize=64)
        pending = []  # each target's candidates not yet tried
        seen = set()
        written = 0
        with open_text(options.output, "w") as out:
            def take(found, limit):
                nonlocal written
                taken = 0
                while found and taken < limit and written < options.count:
                    smiles, name = found.pop(0)
                    if smiles in seen:
                        continue
                    seen.add(smiles)
                    out.write(f"{smiles} {name}\n")
                    written += 1
                    taken += 1
            for number, found in enumerate(lists, 1):
                if written == options.count:
                    break
                take(found, share)
                if found:
                    pending.append(found)
                if number % 5000 == 0:
                    print(f"million_molecules.py: {number} targets, "
                          f"{written} molecules", file=sys.stderr)
            while written < options.count and pending:
                for found in pending:
                    take(found, 1)
                pending = [found for found in pending if found]
    if written < options.count:
        sys.exit(f"million_molecules.py: only {written} distinct molecules "
                 f"made from {len(targets)} targets (at most {limit} "
                 "analogues each)")
    print(f"million_molecules.py: {written} molecules written to "
          f"{options.output}", file=sys.stderr)


if __name__ == "__main__":
    main()
