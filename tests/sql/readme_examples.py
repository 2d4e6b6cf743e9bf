#!/usr/bin/env python3
"""Runs the README's examples for SQL clients as they stand and checks that
each finds exactly the hits that zolv search --verify finds.

    readme_examples.py README BUILD_DIR SOURCE_DIR WORK_DIR CLIENT...

An example is the indented code block after a line
"<!-- example CLIENT smiles=QUERY -->" (or smarts=QUERY); CLIENT is sqlite3,
python or psql. The blocks of the given clients run in README order with
bash in WORK_DIR, where build/release is BUILD_DIR and data/ the source's,
so that their paths hold as written. A psql example starts its own server
with scripts/postgres.sh, as a reader does, against the extension installed
from BUILD_DIR (its installed files must be this build's); the server is
stopped once its hits are checked.
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

MARKER = re.compile(r"^<!-- example (\w+) (smiles|smarts)=(\S+) -->$")
# A result row as the clients print it: the id first, then "|", a tab or a
# blank (sqlite3, Python, psql's aligned table).
ROW = re.compile(r"^\s*(\d+)\s*[|\t ]")


def fail(message):
    print("readme_examples.py: FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def examples(readme, clients):
    """(client, notation, query, script) of each marked block, in order."""
    lines = open(readme, encoding="utf-8").read().split("\n")
    found = []
    for i, line in enumerate(lines):
        match = MARKER.match(line)
        if not match:
            continue
        j = i + 1
        while j < len(lines) and not lines[j].strip():
            j += 1
        block = []
        while j < len(lines) and (lines[j].startswith("    ") or
                                  not lines[j].strip()):
            block.append(lines[j][4:])
            j += 1
        script = "\n".join(block).strip("\n") + "\n"
        if not script.strip():
            fail("no code block after line %d" % (i + 1))
        found.append((match.group(1), match.group(2), match.group(3), script))
    for client in clients:
        if not any(example[0] == client for example in found):
            fail("README shows no %s example" % client)
    return [example for example in found if example[0] in clients]


def python_with_extensions():
    """A python3 whose sqlite3 module can load extensions, as Debian's can;
    a Python built by hand (pyenv) often cannot."""
    candidates = [shutil.which("python3"), "/usr/bin/python3"]
    for python in candidates:
        if python and subprocess.run(
                [python, "-c", "import sqlite3, sys; sys.exit(not hasattr("
                 "sqlite3.Connection, 'enable_load_extension'))"]
        ).returncode == 0:
            return python
    fail("no python3 whose sqlite3 module can load extensions (%s)" %
         ", ".join(filter(None, candidates)))


def build_id(path):
    out = subprocess.run(["readelf", "-n", path], capture_output=True,
                         text=True)
    match = re.search(r"Build ID: (\w+)", out.stdout)
    if not match:
        fail("%s: no build ID (%s)" % (path, out.stderr.strip()))
    return match.group(1)


def check_installed(build, source):
    """The server must load this build's extension, not an older one."""
    config = subprocess.run(["pg_config", "--pkglibdir", "--sharedir"],
                            capture_output=True, text=True, check=True)
    pkglibdir, sharedir = config.stdout.split()
    module = os.path.join(pkglibdir, "zolv.so")
    hint = "; install this build first: sudo cmake --install " + build
    if not os.path.exists(module):
        fail(module + " is missing" + hint)
    runpath = re.search(r"RUNPATH.*\[(.*)\]", subprocess.run(
        ["readelf", "-d", module], capture_output=True, text=True).stdout)
    pairs = [(module, os.path.join(build, "postgres", "zolv.so"))]
    if runpath:
        pairs.append((os.path.join(runpath.group(1), "libzolv_sql.so"),
                      os.path.join(build, "bin", "libzolv_sql.so")))
    for installed, built in pairs:
        if not os.path.exists(installed) or \
                build_id(installed) != build_id(built):
            fail(installed + " is not the one built in " + build + hint)
    for name in ("zolv.control", "zolv--1.0.sql"):
        installed = os.path.join(sharedir, "extension", name)
        with open(os.path.join(source, "sql", "postgres", name), "rb") as a:
            wanted = a.read()
        if not os.path.exists(installed) or open(installed, "rb").read() != \
                wanted:
            fail(installed + " differs from the source" + hint)


# Where the psql example starts its server, relative to WORK_DIR.
SERVER_DIR = os.path.join("build", "pg")


def server_environment(work, environment):
    """environment with the PG* settings of the example's running server."""
    done = subprocess.run(
        ["bash", os.path.join(work, "scripts", "postgres.sh"), "env",
         os.path.join(work, SERVER_DIR)],
        capture_output=True, text=True)
    if done.returncode != 0:
        fail("the psql example left no server running: " + done.stderr)
    settings = dict(environment)
    for line in done.stdout.splitlines():
        if line.startswith("export "):
            for pair in shlex.split(line[len("export "):]):
                key, _, value = pair.partition("=")
                settings[key] = value
    return settings


def verified_ids(zolv, client, work, notation, query, environment):
    database = ["--postgres", ""] if client == "psql" else \
        [os.path.join(work, "build", "sample.db")]
    done = subprocess.run(
        [zolv, "search"] + database + ["--" + notation, query, "--verify",
                                       "--format", "csv"],
        capture_output=True, text=True, env=environment)
    if done.returncode != 0:
        fail("zolv search --verify for %s exited with %d: %s" %
             (query, done.returncode, done.stderr))
    rows = done.stdout.splitlines()[1:]
    return {int(row.split(",", 1)[0]) for row in rows}


def main():
    if len(sys.argv) < 6:
        fail("usage: readme_examples.py README BUILD_DIR SOURCE_DIR WORK_DIR "
             "CLIENT...")
    readme, build, source, work = (os.path.abspath(a) for a in sys.argv[1:5])
    clients = sys.argv[5:]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, "build"))
    os.symlink(build, os.path.join(work, "build", "release"))
    os.symlink(os.path.join(source, "data"), os.path.join(work, "data"))
    # python3 in the examples is one that can load extensions.
    tools = os.path.join(work, "tools")
    os.makedirs(tools)
    if "python" in clients:
        os.symlink(python_with_extensions(), os.path.join(tools, "python3"))
    environment = dict(os.environ)
    if "psql" in clients:
        check_installed(build, source)
        os.symlink(os.path.join(source, "scripts"),
                   os.path.join(work, "scripts"))
        # The example's own server, never one the environment points at.
        for key in ("PGHOST", "PGPORT", "PGUSER", "PGDATABASE", "PGSERVICE"):
            environment.pop(key, None)
        if os.getuid() == 0:
            # The server then runs as the postgres user, who may not reach
            # the build tree: its folder lies under /tmp.
            place = tempfile.mkdtemp(prefix="zolv-readme-pg.", dir="/tmp")
            os.chmod(place, 0o755)
            os.symlink(place, os.path.join(work, SERVER_DIR))
    environment["PATH"] = tools + os.pathsep + environment["PATH"]
    zolv = os.path.join(build, "bin", "zolv")
    try:
        run_examples(readme, clients, work, zolv, environment)
    finally:
        if "psql" in clients:
            stop_server(work)


def stop_server(work):
    place = os.path.realpath(os.path.join(work, SERVER_DIR))
    if os.path.isdir(os.path.join(place, "data")):
        subprocess.run(["bash", os.path.join(work, "scripts", "postgres.sh"),
                        "stop", "--throwaway", place],
                       capture_output=True)
    shutil.rmtree(place, ignore_errors=True)


def run_examples(readme, clients, work, zolv, environment):
    for client, notation, query, script in examples(readme, clients):
        name = "%s example (%s %s)" % (client, notation, query)
        done = subprocess.run(["bash", "-euo", "pipefail", "-c", script],
                              cwd=work, env=environment, capture_output=True,
                              text=True)
        if done.returncode != 0:
            fail("%s exited with %d:\n%s%s" % (name, done.returncode,
                                               done.stdout, done.stderr))
        found = [int(m.group(1)) for m in map(ROW.match,
                                              done.stdout.splitlines()) if m]
        search_environment = server_environment(work, environment) \
            if client == "psql" else environment
        expected = verified_ids(zolv, client, work, notation, query,
                                search_environment)
        if not expected:
            fail("%s: zolv search finds no hit; the example shows nothing" %
                 name)
        if len(found) != len(set(found)) or set(found) != expected:
            fail("%s printed ids %s, zolv search --verify finds %s:\n%s" %
                 (name, sorted(found), sorted(expected), done.stdout))
        print("%s: %d hits, as zolv search --verify finds" %
              (name, len(expected)))


if __name__ == "__main__":
    main()
