#!/usr/bin/env bash
# tidepack program makes a 64-bit patch program from a manifest and a 64-bit program without a
# package in one command; under Wine, on Xvfb, pressing Update writes the packaged file where the
# package says. Usage: program_under_wine.sh TIDEPACK WORKDIR STUB (no STUB: skipped, 77).
set -eu
tidepack=$1
work=$2
stub=${3:-}
if [ -z "$stub" ] || [ ! -f "$stub" ]; then
    echo "no 64-bit stub program given; skipped"
    exit 77
fi
stub=$(realpath "$stub")
wine64=${TIDEWELL_WINE64:-/usr/lib/wine/wine64}
mkdir -p "$work"
cd "$work"
printf 'written by the patch program\r\n' >hello.txt
cat >check.toml <<'TOML'
codePage = 1252
title = 'Tidepack Check'
versionText = '1.0'
registryKey = 'HKEY_LOCAL_MACHINE\Software\TidepackCheck'
valueName = 'InstallDir'
defaultFolder = 'C:\tidepack-check'

[[file]]
source = 'hello.txt'
alwaysReplace = true
TOML
"$tidepack" program check.toml -o Patch.exe --stub "$stub"
"$tidepack" verify --codepage 1252 Patch.exe

export WINEPREFIX=$work/wineprefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
export LANG=C.UTF-8
target=$WINEPREFIX/drive_c/tidepack-check/hello.txt
trap 'wineserver -k 2>/dev/null || true' EXIT
"$wine64" wineboot -i >/dev/null 2>&1 || true
wineserver -w
mkdir -p "$(dirname "$target")"
rm -f "$target"
export wine64
xvfb-run -a bash -c '
    "$wine64" Patch.exe >/dev/null 2>&1 &
    program=$!
    for i in $(seq 1 60); do
        window=$(xdotool search --name "Tidepack Check" 2>/dev/null | head -1 || true)
        [ -n "$window" ] && break
        sleep 1
    done
    [ -n "$window" ] || { echo "no dialog appeared"; exit 1; }
    sleep 1
    xdotool key --window "$window" Return      # Update
    for i in $(seq 1 30); do [ -f "'"$target"'" ] && break; sleep 1; done
    sleep 2
    xdotool key --window "$window" alt+f       # Finish: the button has lost the focus
    for i in $(seq 1 30); do kill -0 $program 2>/dev/null || break; sleep 1; done
    ! kill -0 $program 2>/dev/null || { echo "Finish did not end the program"; exit 1; }
' 2>/dev/null
cmp hello.txt "$target"
echo "Patch.exe applied its package under Wine"
