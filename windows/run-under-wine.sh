#!/bin/sh
# Runs a cross-built Windows program under Wine: the test emulator of the
# MinGW builds (windows/ZolvWindows.cmake).
#
# Usage: run-under-wine.sh [--wine LAUNCHER] [--prefix DIR] program [argument...]
#        run-under-wine.sh [--wine LAUNCHER] [--prefix DIR] --server [argument...]
#        run-under-wine.sh --find
#
# --server runs Wine's server (wineserver) instead of a program, for example
# with -w to wait until it has ended; --find prints the launcher's path. Without --wine the launcher is wine64,
# then /usr/lib/wine/wine64 (where Debian's wine64 puts it, with nothing on the
# PATH), then wine. The prefix is made on first use, once even when several
# programs start together.
set -eu
wine=${ZOLV_WINE:-}
server=0
find=0
while [ $# -gt 0 ]; do
  case $1 in
    --wine) wine=$2; shift 2 ;;
    --prefix) WINEPREFIX=$2; export WINEPREFIX; shift 2 ;;
    --server) server=1; shift; break ;;
    --find) find=1; shift ;;
    *) break ;;
  esac
done
if [ -z "$wine" ]; then
  for candidate in wine64 /usr/lib/wine/wine64 wine; do
    if command -v "$candidate" >/dev/null 2>&1; then
      wine=$(command -v "$candidate")
      break
    fi
  done
fi
if [ -z "$wine" ]; then
  echo "run-under-wine: no Wine found (wine64 or wine); scripts/setup.sh" \
    "installs wine64" >&2
  exit 2
fi
if [ "$find" = 1 ]; then
  echo "$wine"
  exit 0
fi

# Wine's own chatter, and its offers to install Mono or Gecko, which would
# wait for an answer that tests cannot give, only get in the way.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY

if [ "$server" = 1 ]; then
  # Beside the launcher: wineserver, or wineserver64 as Debian's wine64 has it.
  directory=$(dirname "$wine")
  for candidate in "$directory/wineserver" "$directory/wineserver64" \
      "$directory/wineserver32"; do
    if [ -x "$candidate" ]; then exec "$candidate" "$@"; fi
  done
  if command -v wineserver >/dev/null 2>&1; then exec wineserver "$@"; fi
  echo "run-under-wine: no wineserver beside $wine" >&2
  exit 2
fi

# Parallel first starts would race to make the prefix: the first one makes
# it under a lock, the others wait for it.
prefix=${WINEPREFIX:-${HOME:-}/.wine}
if [ ! -e "$prefix/.zolv-booted" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -e "$prefix/.zolv-booted" ]; then
      "$wine" wineboot --init </dev/null >/dev/null 2>&1 || {
        echo "run-under-wine: wineboot failed to make the prefix $prefix" >&2
        exit 1
      }
      touch "$prefix/.zolv-booted"
    fi
  ) 9>"$prefix.lock"
fi
exec "$wine" "$@" </dev/null
