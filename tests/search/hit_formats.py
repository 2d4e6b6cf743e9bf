#!/usr/bin/env python3
"""Reads zolv search's csv and json output back with Python's own csv and
json modules and checks that they hold the same hits as the smi output, with
the ids the index gave the rows.

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
    ids = {}
    with sqlite3.connect(database) as db:
        db.text_factory = bytes
        for row_id, name in db.execute("SELECT id, name FROM targets"):
            ids[bytes(name)] = row_id

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
    if {name for _, name, _ in smi} != {name for _, name in TARGETS}:
        fail("the smi names did not read back: %r" % smi)
    expected = [(n, ids[name], name, smiles) for n, name, smiles in smi]

    counts = run(zolv, ["search", database, "--count"] + queries).split()
    if [int(c) for c in counts] != [
            sum(1 for row in smi if row[0] == n) for n in range(1, 4)]:
        fail("--count %r disagrees with the smi hits %r" % (counts, smi))

    text = run(zolv, ["search", database, "--format", "csv"] + queries)
    rows = list(csv.reader(io.StringIO(
        text.decode("utf-8", "surrogateescape"), newline="")))
    if rows[0] != ["query", "id", "name", "smiles"]:
        fail("csv header %r" % rows[0])
    got = [(int(q), int(i), n.encode("utf-8", "surrogateescape"),
            s.encode()) for q, i, n, s in rows[1:]]
    if got != expected:
        fail("csv read back as %r, smi gave %r" % (got, expected))

    got = []
    for line in run(zolv, ["search", database, "--format", "json"] +
                    queries).decode("utf-8").splitlines():
        hit = json.loads(line)
        got.append((hit["query"], hit["id"],
                    hit["name"].encode("utf-8", "surrogateescape"),
                    hit["smiles"].encode()))
    if got != expected:
        fail("json read back as %r, smi gave %r" % (got, expected))

    # One query: no query column, the header the readers expect.
    single = run(zolv, ["search", database, "--smiles", "Cl", "--format",
                        "csv"]).decode("utf-8", "surrogateescape")
    if next(csv.reader(io.StringIO(single))) != ["id", "name", "smiles"]:
        fail("single-query csv header in %r" % single)
    print("hit_formats.py: %d hits read back alike in smi, csv and json" %
          len(expected))


main()
