#!/usr/bin/env bash
# Runs one Windows test program under Wine 64-bit and returns its exit code.
# WINEPREFIX comes from the caller (the test script gives each run its own);
# a display is only needed by tests that make windows, which set DISPLAY.
set -u
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$@"
