#!/usr/bin/env bash
# Sets up a fresh Debian machine and runs every check CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --tests
bash scripts/test.sh
