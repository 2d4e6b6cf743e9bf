#!/usr/bin/env bash
# Installs what the project needs from Debian's packages.
#
#   setup.sh           what building and running zolv need (the demo)
#   setup.sh --tests   that, and what the checks need: GoogleTest, the
#                      PostgreSQL server, clang (fuzzing, sanitizers),
#                      clang-format, valgrind, the Windows cross compilers
#                      and wine64
set -euo pipefail
tests=0
case "${1:-}" in
  "") ;;
  --tests) tests=1 ;;
  -h | --help)
    sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
    exit 0
    ;;
  *)
    echo "usage: setup.sh [--tests]" >&2
    exit 1
    ;;
esac
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
# Building: the driver, the core library on RDKit, zolv, the SQL functions
# and both extensions (the PostgreSQL one against the server's headers).
packages=(
  cmake make g++ pkg-config librdkit-dev libboost-dev rdkit-data
  libsqlite3-dev sqlite3 libpq-dev postgresql-server-dev-15 zlib1g-dev
  python3
)
if [ "$tests" -eq 1 ]; then
  packages+=(
    libgtest-dev libgmock-dev googletest libbenchmark-dev postgresql
    clang libclang-rt-14-dev clang-format valgrind
    g++-mingw-w64-i686 binutils-mingw-w64-i686
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64
  )
fi
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${packages[@]}"
