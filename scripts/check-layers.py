#!/usr/bin/env python3
"""Fails when a folder includes a header it must not use, or when folders
include each other round in a cycle.

Reads every quoted #include of the project's sources, finds the header it
names (headers are included by file name, so every header name is unique in
the tree, which this also checks) and applies the rules below, which deny
whatever they do not name: every folder lists the folders (or single
headers) it may include from, and a folder without rules fails. Then it
computes the graph of which folder includes which from the includes found
and fails on every cycle in it, naming an include line of each step. Prints
one line per offence, "file:line: what", and exits 1 when there is any.

Usage: check-layers.py [--rules FILE] [ROOT]

--rules FILE replaces the rules below by a JSON object of the same shape
(folder -> list of what it may use), to try the checker on a tree of its own.
"""

import json
import os
import re
import sys

# Folder -> what its sources may include besides their own folder's headers:
# folders, or "folder/header.h" for one header of a folder whose rest stays
# out of reach. Lower layers first.
MAY_USE = {
    # The core library's interfaces and the screen set they share; the
    # plain-text layer below the driver.
    "core": [],
    "base": [],
    # The driver's folders: the core interfaces, the lower layer, each other
    # downwards, and the dictionary file's layout, whose header depends on
    # nothing but the standard library.
    "screens": ["core", "base", "dictionary/dictionary_format.h"],
    "encoders": ["core", "base", "screens"],
    "driver": ["core", "base", "screens", "encoders"],
    # The core library on RDKit: only the interfaces it implements.
    "rdcore": ["core", "base"],
    # The dictionary file, the screen list, the builder, the chooser.
    "dictionary": ["core", "base", "rdcore"],
    # What a search needs besides a database; the encoders for their budget
    # rule, the core library for RDKit's reading of molecule texts.
    "search": ["core", "base", "encoders", "rdcore"],
    # Molecule files and writing them on threads in input order.
    "molecules": ["core", "base", "rdcore", "search"],
    # The driver as a program uses it.
    "session": ["core", "base", "rdcore", "driver", "dictionary", "search",
                "molecules"],
    # The SQL functions: the session and the search, not the stores.
    "sql": ["core", "base", "rdcore", "search", "molecules", "session"],
    # The stores, which register zolv's SQL functions on their SQLite
    # connections through the extension's own entry point.
    "stores": ["core", "base", "search", "sql/sqlite/zolv_sqlite.h"],
    # The benchmarks, over everything a program stands on.
    "bench": ["core", "base", "rdcore", "driver", "dictionary", "search",
              "molecules", "session", "stores"],
    # zolv and its commands.
    "host": ["core", "base", "rdcore", "driver", "encoders", "screens",
             "dictionary", "search", "molecules", "session", "stores",
             "bench"],
    # Tests and fuzz targets reach what they test; the fuzz targets also the
    # tests' fake core.
    "tests": ["core", "base", "screens", "encoders", "driver", "rdcore",
              "dictionary", "search", "molecules", "session", "sql",
              "stores", "bench", "host"],
    "fuzz": ["core", "base", "screens", "encoders", "driver", "dictionary",
             "search", "molecules", "tests"],
    # The Windows builds' CMake and scripts; no sources of their own.
    "windows": [],
}

SOURCE_SUFFIXES = (".h", ".cpp", ".c")
SKIP_DIRS = {".git", "build"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of(path):
    """The folder a file belongs to for these rules: its first component."""
    return path.split("/", 1)[0]


def find_cycles(edges):
    """The strongly connected components of more than one folder (Tarjan),
    each as a list of folders, in a stable order."""
    index = {}
    low = {}
    stack = []
    on_stack = set()
    cycles = []
    counter = [0]

    def visit(node):
        index[node] = low[node] = counter[0]
        counter[0] += 1
        stack.append(node)
        on_stack.add(node)
        for other in sorted(edges.get(node, ())):
            if other not in index:
                visit(other)
                low[node] = min(low[node], low[other])
            elif other in on_stack:
                low[node] = min(low[node], index[other])
        if low[node] == index[node]:
            component = []
            while True:
                other = stack.pop()
                on_stack.discard(other)
                component.append(other)
                if other == node:
                    break
            if len(component) > 1:
                cycles.append(sorted(component))

    for node in sorted(edges):
        if node not in index:
            visit(node)
    return sorted(cycles)


def cycle_path(component, edges):
    """One round trip through a component, shortest first: the folders from
    its first back to it, every step an include edge."""
    start = component[0]
    members = set(component)
    previous = {start: None}
    queue = [start]
    while queue:
        node = queue.pop(0)
        for other in sorted(edges.get(node, ())):
            if other == start:
                path = [node]
                while previous[path[-1]] is not None:
                    path.append(previous[path[-1]])
                return list(reversed(path)) + [start]
            if other in members and other not in previous:
                previous[other] = node
                queue.append(other)
    return component + [start]


def main(argv):
    rules = MAY_USE
    if len(argv) >= 2 and argv[0] == "--rules":
        with open(argv[1], encoding="utf-8") as file:
            rules = json.load(file)
        argv = argv[2:]
    root = os.path.abspath(argv[0] if argv else
                           os.path.join(os.path.dirname(__file__), ".."))
    sources = []
    for directory, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if d not in SKIP_DIRS and
                   not d.startswith(".")]
        for name in files:
            if name.endswith(SOURCE_SUFFIXES):
                sources.append(os.path.relpath(os.path.join(directory, name),
                                               root))
    sources.sort()

    problems = []
    by_name = {}
    for path in sources:
        if path.endswith(".h"):
            by_name.setdefault(os.path.basename(path), []).append(path)
    for name, paths in sorted(by_name.items()):
        if len(paths) > 1:
            problems.append(f"{paths[1]}: header name {name} also used by "
                            f"{paths[0]}; headers are included by name")

    def resolve(name):
        """The header an include names, or None when it is not ours."""
        if "/" in name:  # a public header under an include/ directory
            matches = [p for p in sources if p.endswith("/include/" + name)]
        else:
            matches = by_name.get(name, [])
        return matches[0] if len(matches) == 1 else None

    def allowed(folder, header):
        may = rules.get(folder, ())
        return folder_of(header) in may or header in may

    edges = {}   # folder -> folders it includes from
    where = {}   # (folder, folder) -> the first include line that does it
    unruled = set()
    for path in sources:
        folder = folder_of(path)
        if "/" not in path:
            continue  # a file at the top belongs to no layer
        if folder not in rules:
            if folder not in unruled:
                problems.append(f"{path}: {folder}/ has no layer rule; add "
                                "it to scripts/check-layers.py")
                unruled.add(folder)
            continue
        with open(os.path.join(root, path), encoding="utf-8",
                  errors="surrogateescape") as source:
            for number, line in enumerate(source, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                header = resolve(match.group(1))
                if header is None:
                    continue  # a system or generated header
                at = f"{path}:{number}"
                used = folder_of(header)
                stem = os.path.basename(header)[:-2]
                if stem.endswith("_command") and folder != "tests" and \
                        path != "host/main.cpp" and \
                        os.path.splitext(os.path.basename(path))[0] != stem:
                    problems.append(f"{at}: includes {header}; only "
                                    "host/main.cpp (and the command's tests) "
                                    "include a command header")
                if used == folder:
                    continue
                if not allowed(folder, header):
                    problems.append(f"{at}: {folder}/ must not include "
                                    f"{header}")
                edges.setdefault(folder, set()).add(used)
                where.setdefault((folder, used), at)

    for component in find_cycles(edges):
        path = cycle_path(component, edges)
        steps = ", ".join(f"{where[(a, b)]} ({a}/ -> {b}/)"
                          for a, b in zip(path, path[1:]))
        problems.append(f"cycle: {' -> '.join(f + '/' for f in path)}: "
                        f"{steps}")

    for problem in problems:
        print(problem)
    if problems:
        print(f"check-layers: {len(problems)} problem(s) across layers",
              file=sys.stderr)
        return 1
    print(f"check-layers: {len(sources)} files, every include within its "
          "layer, no folders in a cycle")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
