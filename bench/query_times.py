#!/usr/bin/env python3
"""Times each query of a search run from the moment its output arrives.

  query_times.py record METHOD OUT.tsv COMMAND [ARGUMENT...]
  query_times.py table TSV...                     (Markdown table on stdout)
  query_times.py overview COLUMN=TSV,TSV... ...   (mean / median per column)
  query_times.py growth COLUMN=TSV,TSV... ...     (mean per column, and the
                                                   last column over the one
                                                   before)

record runs COMMAND, a client searching many queries, and reads its
standard output, in which each query's output begins with a line
"# query N..." and the run ends with a line "# total..." (zolv search) or
"# end" (any other client, e.g. psql with \\echo); it stamps every chunk as it
arrives. Starting the client itself, it is reading before the client writes
its first line. A query's time runs from its
header to the next header (or the end): writing its pattern, preselecting,
confirming and printing its hits, whatever the client does. The writer must
flush each line (stdbuf -oL), else lines arrive in blocks and the times are
those of the blocks. Lines not starting with "#" are hits; a "# skipped" line
marks a query the client could not search; a zolv summary line gives the
candidates ("candidates N").

OUT.tsv gets one row per query: method, query number, milliseconds, hits,
candidates (empty when not known) and whether it was skipped; OUT.wall the
whole run's seconds, client start-up included. With OUT "-" nothing is
written (a warm-up run). The exit status is the client's. table adds up
every file's rows per method, in the order the files are given, with the
whole run's time per query when OUT.wall is there. overview and growth
give one row per method and one column per COLUMN (a set, a number of
targets), from the files named after it; a file that is missing leaves its
cell empty.
"""

import os
import re
import statistics
import subprocess
import sys
import time

CANDIDATES = re.compile(rb"candidates (\d+)")


def record(method, out_path, command):
    queries = []  # [number, start, end, hits, candidates, skipped]
    current = None
    pending = b""

    def close(at):
        nonlocal current
        if current is not None:
            current[2] = at
            queries.append(current)
            current = None

    def take(line, at):
        nonlocal current
        if line.startswith(b"# query "):
            close(at)
            number = re.match(rb"# query (\d+)", line)
            current = [int(number.group(1)) if number else len(queries) + 1,
                       at, at, 0, None, False]
        elif line.startswith(b"# total") or line.startswith(b"# end"):
            close(at)
        elif current is None:
            return
        elif not line.startswith(b"#"):
            if line:
                current[3] += 1
        elif line.startswith(b"# skipped"):
            current[5] = True
        else:
            found = CANDIDATES.search(line)
            if found and line.startswith(b"# candidates"):
                current[4] = int(found.group(1))

    began = time.perf_counter()
    client = subprocess.Popen(command, stdout=subprocess.PIPE)
    source = client.stdout.fileno()
    # Unbuffered reads: each chunk is stamped when it arrives, not when a
    # buffered reader gets round to it.
    while True:
        chunk = os.read(source, 1 << 16)
        at = time.perf_counter()
        if not chunk:
            break
        lines = (pending + chunk).split(b"\n")
        pending = lines.pop()
        for line in lines:
            take(line, at)
    at = time.perf_counter()
    if pending:
        take(pending, at)
    close(at)
    status = client.wait()
    wall = time.perf_counter() - began

    if out_path != "-":
        with open(out_path, "w", encoding="utf-8") as out:
            for number, start, end, hits, candidates, skipped in queries:
                out.write("%s\t%d\t%.4f\t%d\t%s\t%d\n" % (
                    method, number, (end - start) * 1e3, hits,
                    "" if candidates is None else candidates, int(skipped)))
        with open(wall_path(out_path), "w", encoding="utf-8") as out:
            out.write("%.3f\n" % wall)
    return status


def wall_path(tsv_path):
    return (tsv_path[:-4] if tsv_path.endswith(".tsv") else tsv_path) + ".wall"


def read_times(paths):
    """Every file's rows added up per method, in the order first seen."""
    methods = {}
    for path in paths:
        wall = None
        if os.path.exists(wall_path(path)):
            with open(wall_path(path), encoding="utf-8") as text:
                wall = float(text.read())
        with open(path, encoding="utf-8") as rows:
            for row in rows:
                method, _, ms, hits, candidates, skipped = \
                    row.rstrip("\n").split("\t")
                entry = methods.setdefault(
                    method, {"ms": [], "hits": 0, "candidates": [],
                             "skipped": 0, "wall": 0.0})
                entry["ms"].append(float(ms))
                entry["hits"] += int(hits)
                if candidates:
                    entry["candidates"].append(int(candidates))
                entry["skipped"] += int(skipped)
        if wall is not None and method in methods:
            methods[method]["wall"] += wall
    return methods


def table(paths):
    methods = read_times(paths)
    print("| method | queries | mean ms/query | median ms/query "
          "| candidates/query | hits | skipped | whole run, ms/query |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for method, entry in methods.items():
        ms = entry["ms"]
        candidates = entry["candidates"]
        print("| %s | %d | %.2f | %.2f | %s | %d | %d | %s |" % (
            method, len(ms), statistics.mean(ms) if ms else 0,
            statistics.median(ms) if ms else 0,
            "%.1f" % statistics.mean(candidates) if candidates else "-",
            entry["hits"], entry["skipped"],
            "%.2f" % (entry["wall"] * 1e3 / len(ms))
            if entry["wall"] and ms else "-"))
    return 0


def columns_of(arguments):
    """COLUMN=TSV,TSV... arguments as (column, {method: times})."""
    columns = []
    for argument in arguments:
        name, _, files = argument.partition("=")
        paths = [path for path in files.split(",")
                 if path and os.path.exists(path)]
        columns.append((name, read_times(paths)))
    return columns


def method_rows(columns):
    rows = []
    for _, methods in columns:
        for method in methods:
            if method not in rows:
                rows.append(method)
    return rows


def overview(arguments):
    columns = columns_of(arguments)
    print("| method | " + " | ".join(name for name, _ in columns) + " |")
    print("|---|" + "---:|" * len(columns))
    for method in method_rows(columns):
        cells = []
        for _, methods in columns:
            ms = methods.get(method, {}).get("ms")
            cells.append("%.2f / %.2f" % (statistics.mean(ms),
                                          statistics.median(ms))
                         if ms else "")
        print("| %s | %s |" % (method, " | ".join(cells)))
    return 0


def growth(arguments):
    columns = columns_of(arguments)
    last = "%s / %s" % (columns[-1][0], columns[-2][0]) \
        if len(columns) > 1 else None
    print("| method | " + " | ".join(name for name, _ in columns) +
          (" | %s |" % last if last else " |"))
    print("|---|" + "---:|" * (len(columns) + (1 if last else 0)))
    for method in method_rows(columns):
        means = []
        for _, methods in columns:
            ms = methods.get(method, {}).get("ms")
            means.append(statistics.mean(ms) if ms else None)
        cells = ["%.2f" % mean if mean is not None else "" for mean in means]
        if last:
            ratio = (means[-1] / means[-2]
                     if means[-1] is not None and means[-2] else None)
            cells.append("%.2fx" % ratio if ratio is not None else "")
        print("| %s | %s |" % (method, " | ".join(cells)))
    return 0


def main(argv):
    if len(argv) >= 2 and argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0
    if len(argv) >= 5 and argv[1] == "record":
        return record(argv[2], argv[3], argv[4:])
    if len(argv) >= 3 and argv[1] == "table":
        return table(argv[2:])
    if len(argv) >= 3 and argv[1] == "overview":
        return overview(argv[2:])
    if len(argv) >= 3 and argv[1] == "growth":
        return growth(argv[2:])
    sys.stderr.write("usage: query_times.py record METHOD OUT.tsv COMMAND... "
                     "| table TSV... | overview COLUMN=TSV,... ... "
                     "| growth COLUMN=TSV,... ... (--help for more)\n")
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
