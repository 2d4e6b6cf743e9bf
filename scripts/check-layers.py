#!/usr/bin/env python3
"""Fails when a folder includes a header of a folder it must not use.

Reads every quoted #include of the project's sources, finds the header it
names (headers are included by file name, so every header name is unique in
the tree, which this also checks) and applies the rules below. Prints one
line per offence, "file:line: what", and exits 1 when there is any.

Usage: check-layers.py [ROOT]
"""

import os
import re
import sys

# Folders whose sources are checked, and the folders each may include from.
# A folder may always include its own headers.
DRIVER = {"core", "base", "screens", "encoders", "driver"}
ALLOWED = {
    "core": set(),
    "base": set(),
    # The driver's folders: each other, the core interfaces and the lower
    # layer. They also read the dictionary file format's layout, whose
    # header depends on nothing but the standard library (below).
    "screens": DRIVER,
    "encoders": DRIVER,
    "driver": DRIVER,
    "dictionary": {"base", "rdcore", "core"},
    "rdcore": {"core", "base"},
    "tools": set(),
}
# Folders that may include anything not forbidden below.
OPEN = {"host", "search", "bench", "tests", "fuzz", "tools", "windows",
        "sql"}
# Folder -> folders it must never include from.
FORBIDDEN = {
    "search": {"host", "bench", "sql"},
    "bench": set(),
    # The SQL functions stand on the host's driver session, not on commands
    # or benchmarks.
    "sql": {"bench"},
}
# Single headers that a folder outside their own may include although its
# rules would not let it include the rest of their folder.
EXTRA = {
    "dictionary/dictionary_format.h": DRIVER,
    # The entry point that registers zolv's functions on a SQLite connection,
    # which the SQLite store calls as every other program does.
    "sql/sqlite/zolv_sqlite.h": {"search"},
}

SOURCE_SUFFIXES = (".h", ".cpp", ".c")
SKIP_DIRS = {".git", "build"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of(path):
    """The folder a file belongs to for these rules: its first component."""
    return path.split("/", 1)[0]


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
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

    def resolve(including, name):
        """The header an include names, or None when it is not ours."""
        if "/" in name:  # a public header under an include/ directory
            matches = [p for p in sources if p.endswith("/include/" + name)]
        else:
            matches = by_name.get(name, [])
        return matches[0] if len(matches) == 1 else None

    for path in sources:
        folder = folder_of(path)
        with open(os.path.join(root, path), encoding="utf-8",
                  errors="surrogateescape") as source:
            for number, line in enumerate(source, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                header = resolve(path, match.group(1))
                if header is None:
                    continue  # a system or generated header
                where = f"{path}:{number}"
                used = folder_of(header)
                stem = os.path.basename(header)[:-2]
                if stem.endswith("_command") and folder != "tests" and \
                        path != "host/main.cpp" and \
                        os.path.splitext(os.path.basename(path))[0] != stem:
                    problems.append(f"{where}: includes {header}; only "
                                    "host/main.cpp (and the command's tests) "
                                    "include a command header")
                if used == folder or folder in EXTRA.get(header, ()):
                    continue
                if folder in ALLOWED and used not in ALLOWED[folder]:
                    problems.append(f"{where}: {folder}/ must not include "
                                    f"{header}")
                elif used in FORBIDDEN.get(folder, ()):
                    problems.append(f"{where}: {folder}/ must not include "
                                    f"{header}")
                elif folder not in ALLOWED and folder not in OPEN:
                    problems.append(f"{where}: {folder}/ has no layer rule; "
                                    "add it to scripts/check-layers.py")

    for problem in problems:
        print(problem)
    if problems:
        print(f"check-layers: {len(problems)} include(s) across layers",
              file=sys.stderr)
        return 1
    print(f"check-layers: {len(sources)} files, every include within its "
          "layer")
    return 0


if __name__ == "__main__":
    sys.exit(main())
