#!/usr/bin/env bash
# Installs what the project needs from Debian's packages.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  cmake make g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
  librdkit-dev libboost-dev rdkit-data \
  libsqlite3-dev sqlite3 libpq-dev postgresql postgresql-server-dev-15 \
  clang libclang-rt-14-dev clang-format zlib1g-dev valgrind \
  g++-mingw-w64-i686 binutils-mingw-w64-i686 googletest python3 \
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64
