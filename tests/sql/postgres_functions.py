#!/usr/bin/env python3
"""The PostgreSQL extension in psql, beyond the README's example: what each
function gives against what zolv gives, NULL in and NULL out, every bad
argument an error of the statement (the server lives on), the right to name
a dictionary, and parallel workers.

    postgres_functions.py BUILD_DIR SOURCE_DIR

Runs inside tests/search/with_postgres.sh, against the extension installed
from BUILD_DIR.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from readme_examples import check_installed, fail  # noqa: E402


def psql(sql, user=None):
    """(exit code, output, errors) of one statement run by psql."""
    command = ["psql", "-X", "-A", "-t", "-q", "-v", "ON_ERROR_STOP=1",
               "-c", sql]
    if user:
        command += ["-U", user]
    done = subprocess.run(command, capture_output=True, text=True)
    return done.returncode, done.stdout.strip(), done.stderr.strip()


def expect_value(sql, wanted, user=None):
    code, out, err = psql(sql, user)
    if code != 0 or out != wanted:
        fail("%s gave %r (%s), not %r" % (sql, out, err, wanted))


def expect_error(sql, message, user=None):
    code, out, err = psql(sql, user)
    if code == 0 or message not in err:
        fail("%s: wanted an error with %r, got %r %r" % (sql, message, out,
                                                         err))
    # The error ended the statement, not the server.
    expect_value("SELECT zolv_contains('CCO', 'CO')", "t")


def zolv(build, *arguments):
    done = subprocess.run([os.path.join(build, "bin", "zolv")] +
                          list(arguments), capture_output=True, text=True)
    if done.returncode != 0:
        fail("zolv %s: %s" % (" ".join(arguments), done.stderr))
    return done.stdout.strip()


def main():
    build, source = (os.path.abspath(a) for a in sys.argv[1:3])
    check_installed(build, source)
    zolv(build, "index", "--replace", "--postgres", "",
         os.path.join(source, "data", "sample.smi"))
    expect_value("CREATE EXTENSION IF NOT EXISTS zolv", "")

    # zolv_pattern is the pattern zolv pattern prints for PostgreSQL.
    for flags, options, notation in [
            (["--smiles", "c1ccccc1Cl"], "", "smiles"),
            (["--smiles", "c1ccccc1Cl", "--dialect", "odbc"], "dialect=odbc",
             "smiles"),
            (["--smarts", "[#6]C(=O)[OH]", "--variant", "alphabet"],
             "variant=alphabet", "smarts")]:
        literal = zolv(build, "pattern", "--as", "postgres", *flags)
        expect_value("SELECT zolv_pattern('%s', '%s', '%s') = %s" %
                     (flags[1], options, notation, literal), "t")

    # zolv_text is what zolv index stored.
    expect_value("SELECT count(*) FROM targets WHERE zolv_text(smiles, '') ="
                 " raw AND zolv_text(smiles, 'variant=alphabet') = ascii",
                 "20")

    # Arguments kept between rows give way when another argument changes.
    expect_value("SELECT string_agg(zolv_match('\\x2541'::bytea, t, d)::int"
                 "::text, '' ORDER BY n) FROM (VALUES (1, '\\x4241'::bytea, 1),"
                 " (2, '\\x4241', 0), (3, '\\x2541', 0), (4, '\\x2541', 1)) AS"
                 " c(n, t, d)", "1011")
    expect_value("SELECT string_agg(zolv_contains(s, '[CH4]', k)::int::text, "
                 "'' ORDER BY n) FROM (VALUES (1, 'CCO', 'smiles'), (2, 'CCO', "
                 "'smarts'), (3, 'C', 'smarts')) AS c(n, s, k)", "101")
    expect_value("SELECT string_agg(encode(zolv_pattern(q, ''), 'hex'), ' ' "
                 "ORDER BY n) = (SELECT encode(zolv_pattern('CCO', ''), 'hex')"
                 " || ' ' || encode(zolv_pattern('c1ccccc1Cl', ''), 'hex')) "
                 "FROM (VALUES (1, 'CCO'), (2, 'c1ccccc1Cl')) AS c(n, q)", "t")

    for expression in ["zolv_match(NULL, '\\x25', 0)",
                       "zolv_pattern(NULL, '')", "zolv_text('C', NULL)",
                       "zolv_contains('C', 'C', NULL)",
                       "zolv_contains('C1CC', 'C')"]:
        expect_value("SELECT %s IS NULL" % expression, "t")

    for expression, message in [
            ("zolv_pattern('C(', '')", "zolv_pattern: cannot read SMILES"),
            ("zolv_pattern('C', 'colour=red')", "unknown option 'colour'"),
            ("zolv_pattern('C', '', 'inchi')", "the notation must be"),
            ("zolv_pattern(repeat('C', 1001), '')", "more than the limit"),
            ("zolv_text('C', 'dialect=odbc')", "unknown option 'dialect'"),
            ("zolv_contains('C', '[C', 'smarts')", "cannot read the SMARTS"),
            ("zolv_match('\\x25', '\\x00', 2)", "dialect must be 0"),
            ("zolv_match(decode(repeat('25', 50001), 'hex'), '\\x00', 1)",
             "longer than 50000 bytes")]:
        expect_error("SELECT " + expression, message)

    # Naming a dictionary is the server reading a file for its user.
    dictionary = ("SELECT zolv_pattern('C', 'dictionary=/no/such.vetorb')")
    expect_value("CREATE ROLE plain LOGIN", "")
    expect_error(dictionary, "may name a dictionary", user="plain")
    expect_error(dictionary, "no such dictionary")
    expect_value("GRANT pg_read_server_files TO plain", "")
    expect_error(dictionary, "no such dictionary", user="plain")

    # Parallel workers load the extension and write the pattern themselves.
    expect_value("SET parallel_setup_cost = 0; SET parallel_tuple_cost = 0; "
                 "SET min_parallel_table_scan_size = 0; "
                 "SET max_parallel_workers_per_gather = 2; "
                 "SELECT count(*) FROM targets WHERE raw LIKE "
                 "zolv_pattern('c1ccccc1Cl', '') ESCAPE '' AND "
                 "zolv_contains(smiles, 'c1ccccc1Cl')", "2")
    print("postgres_functions.py: every check passed")


if __name__ == "__main__":
    main()
