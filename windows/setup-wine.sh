#!/usr/bin/env bash
# Installs Wine with 32-bit support (Debian's wine and wine32, on the i386
# architecture), which `windows/test-windows.sh --arch i686` runs the 32-bit
# Windows tests under. The 64-bit tests need only wine64 (scripts/setup.sh).
# Kept apart from scripts/setup.sh: it adds a second architecture to the
# machine, and a mirror that serves a broken i386 index then makes every later
# apt-get update report an error.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

$SUDO dpkg --add-architecture i386
# An index that fails (say the i386 security one, while the mirror syncs) is
# reported, and apt goes on with the indexes it has.
if ! $SUDO apt-get update; then
  echo "setup-wine: apt-get update reported errors; going on" >&2
fi
# Both architectures' copies of a shared library must have one version. Taken
# from the release itself they stay in step even when the i386 security index
# is missing; what is installed for amd64 may move up to the release's version.
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
$SUDO apt-get install -y --no-install-recommends -t "$codename" wine wine32
