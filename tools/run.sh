#!/usr/bin/env bash
# Builds the 64-bit host and runs it under Wine on a virtual display, with the
# mock provider (no AI tool needed) and Wine's Notepad as a target
# application. Then it opens lumaro-console, a panel in a terminal: type a
# question and watch the answer stream. An empty line quits the console;
# the host is then stopped with "lumaro-host.exe --quit".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
./tools/install-deps.sh
cmake --preset win64 >/dev/null
cmake --build build/win64 -j2 --target lumaro-host lumaro-console

source tools/wine-env.sh
wine_env_start "$root/build/wineprefix-run"
trap 'wine "$root/dist/x64/lumaro-host.exe" --quit >/dev/null 2>&1 || true; wine_env_stop' EXIT

export LUMARO_MOCK=1
wine "$root/dist/x64/lumaro-host.exe" &
wine notepad.exe >/dev/null 2>&1 &
sleep 2
logdir=$(winepath -u "$(wine cmd /c 'echo %LOCALAPPDATA%' 2>/dev/null | tr -d '\r')\\Lumaro\\log" 2>/dev/null || true)
cat <<TXT
The resident host runs under Wine (mock provider on, DISPLAY=$DISPLAY).
Its log: ${logdir:-<LOCALAPPDATA>\\Lumaro\\log}/lumaro-<pid>.log
Type a question and press Enter; "/stop" stops an answer; lines starting with
"{" are sent as raw requests, e.g. {"t":"select","provider":"gemini","model":""}
An empty line ends the console and stops the host (lumaro-host.exe --quit).
TXT
wine "$root/build/win64/lumaro-host/lumaro-console.exe"
