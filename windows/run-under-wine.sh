#!/bin/sh
# Runs a cross-built Windows program under Wine: the test emulator of the
# MinGW build (cmake/toolchain-mingw-i686.cmake). Wine's own chatter and its
# offers to install Mono or Gecko would only get in the way of the tests.
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
