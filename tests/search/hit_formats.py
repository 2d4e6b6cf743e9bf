#!/usr/bin/env python3
"""Reads zolv search's csv and json output back with Python's own csv and
json modules and checks that they hold the same hits as the smi output, with
the ids the index gave the rows, every name byte for byte and an SD record's
data items; and that Python's sqlite3 reads every stored name.

    hit_formats.py ZOLV WORK_DIR
"""
import csv
import io
import json
import os
import shutil
import sqlite3
import subprocess
import sys

# Names that need quoting or escaping in some format: commas, quotes, a tab,
# a backslash, a JSON escape look-alike, UTF-8 and bytes that are not UTF-8.
TARGETS = [
    (b"c1ccccc1Cl", b'chloro "benzene", plain'),
    (b"ClCCCl", b"di\\chloro\tethane"),
    (b"OC(=O)c1ccc(Cl)cc1", b"caf\xc3\xa9 \xff\xfe\xed\xa0\x80 raw bytes"),
    (b"CCO", b"ethanol"),
    (b"ClC(Cl)Cl", b"\\u0041 not an escape"),
    (b"c1ccncc1", b"pyridine"),
]
QUERIES = ["Cl", "CC", "c1ccncc1"]
# An SD record, added to the index: a title that is not UTF-8, data items
# with a name given twice, a value of two lines and one that is not UTF-8.
SD_NAME = b"chloroethane \xe9"
SD_RECORD = SD_NAME + b"""
  handmade

  3  2  0  0  0  0  0  0  0  0999 V2000
    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0
    1.5000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0
    3.0000    0.0000    0.0000 Cl  0  0  0  0  0  0  0  0  0  0  0  0
  1  2  1  0
  2  3  1  0
M  END
>  <MW>
64.51

> <NOTE>
two
lines

> 3 <MW> (rounded)
64.5

> <LATIN>
caf\xe9

$$$$
"""
SD_DATA = {b"MW": b"64.51\n64.5", b"NOTE": b"two\nlines", b"LATIN": b"caf\xe9"}


def fail(message):
    print("hit_formats.py: FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def run(zolv, arguments):
    done = subprocess.run([zolv] + arguments, capture_output=True)
    if done.returncode != 0:
        fail("%s exited with %d: %s" % (arguments, done.returncode,
                                         done.stderr.decode(errors="replace")))
    return done.stdout


def unescape(name):
    out = bytearray()
    i = 0
    while i < len(name):
        if name[i:i + 1] == b"\\":
            out += {b"\\": b"\\", b"t": b"\t", b"n": b"\n",
                    b"r": b"\r"}[name[i + 1:i + 2]]
            i += 2
        else:
            out += name[i:i + 1]
            i += 1
    return bytes(out)


def main():
    zolv, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    targets = os.path.join(work, "targets.smi")
    database = os.path.join(work, "targets.db")
    with open(targets, "wb") as f:
        for smiles, name in TARGETS:
            f.write(smiles + b" " + name + b"\n")
    run(zolv, ["index", database, targets])
    records = os.path.join(work, "targets.sdf")
    with open(records, "wb") as f:
        f.write(SD_RECORD)
    run(zolv, ["index", "--append", database, records])
    names = [name for _, name in TARGETS] + [SD_NAME]
    data = {SD_NAME: SD_DATA}

    # Python reads every name as text (one that is not UTF-8 with U+FFFD in
    # place of its stray bytes), and name_bytes holds such a name exactly.
    ids = {}
    with sqlite3.connect(database) as db:
        for row_id, name, name_bytes in db.execute(
                "SELECT id, name, name_bytes FROM targets"):
            exact = name.encode() if name_bytes is None else bytes(name_bytes)
            if exact.decode("utf-8", "replace") != name:
                fail("name %r does not read as %r" % (name, exact))
            ids[exact] = row_id
    if sorted(ids) != sorted(names):
        fail("stored names %r, input names %r" % (sorted(ids), sorted(names)))

    queries = []
    for query in QUERIES:
        queries += ["--smiles", query]
    smi = []  # (query number, name, smiles) in order
    for number, query in enumerate(QUERIES, 1):
        for line in run(zolv, ["search", database, "--smiles", query,
                               "--format", "smi"]).split(b"\n"):
            if line and not line.startswith(b"#"):
                smiles, name = line.split(b"\t", 1)
                smi.append((number, unescape(name), smiles))
    # Every name is a hit of some query, so each is read back unescaped.
    if {name for _, name, _ in smi} != set(names):
        fail("the smi names did not read back: %r" % smi)
    expected = [(n, ids[name], name, smiles, data.get(name, {}))
                for n, name, smiles in smi]

    def exact(text):
        return text.encode("utf-8", "surrogateescape")

    def items(mapping):
        return {exact(k): exact(v) for k, v in mapping.items()}

    counts = run(zolv, ["search", database, "--count"] + queries).split()
    if [int(c) for c in counts] != [
            sum(1 for row in smi if row[0] == n) for n in range(1, 4)]:
        fail("--count %r disagrees with the smi hits %r" % (counts, smi))

    text = run(zolv, ["search", database, "--format", "csv"] + queries)
    rows = list(csv.reader(io.StringIO(
        text.decode("utf-8", "surrogateescape"), newline="")))
    if rows[0] != ["query", "id", "name", "smiles", "data"]:
        fail("csv header %r" % rows[0])
    got = [(int(q), int(i), exact(n), s.encode(),
            items(json.loads(d)) if d else {}) for q, i, n, s, d in rows[1:]]
    if got != expected:
        fail("csv read back as %r, smi gave %r" % (got, expected))

    got = []
    for line in run(zolv, ["search", database, "--format", "json"] +
                    queries).decode("utf-8").splitlines():
        hit = json.loads(line)
        got.append((hit["query"], hit["id"], exact(hit["name"]),
                    hit["smiles"].encode(), items(hit.get("data", {}))))
    if got != expected:
        fail("json read back as %r, smi gave %r" % (got, expected))

    # One query: no query column, the header the readers expect.
    single = run(zolv, ["search", database, "--smiles", "Cl", "--format",
                        "csv"]).decode("utf-8", "surrogateescape")
    if next(csv.reader(io.StringIO(single))) != ["id", "name", "smiles",
                                                  "data"]:
        fail("single-query csv header in %r" % single)
    print("hit_formats.py: %d hits read back alike in smi, csv and json" %
          len(expected))


main()
