# SPDX-License-Identifier: MIT
# Shared by the project's scripts.

# Wine's DLL overrides for every run of ours: no Mono or Gecko download prompts (no network for
# them), no desktop entries in the host user's menus for the shortcuts the runs make, and no
# MinGW run-time DLL, which Windows does not have. Wine's own zlib1.dll cannot be switched off:
# Wine 8's user32 imports it. The program's import table is checked for it instead
# (tests/e2e/ui/check_release.py).
TIDEWELL_WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;libwinpthread-1,libgcc_s_dw2-1,libgcc_s_seh-1,libstdc++-6=d"

# The preset whose Windows programs this machine's Wine runs: the 32-bit product itself where
# the kernel runs 32-bit programs, else the same sources built for 64-bit Windows.
# TIDEWELL_WINE_TIER=win64 takes the 64-bit build on any machine, as one whose kernel runs no
# 32-bit programs does (scripts/test then also refuses every 32-bit Wine start).
wine_preset() {
    case ${TIDEWELL_WINE_TIER:-} in
        win64) echo win64 ;;
        "" | auto)
            if /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then echo win32; else echo win64; fi ;;
        *) echo "TIDEWELL_WINE_TIER is '$TIDEWELL_WINE_TIER': win64, auto or unset" >&2; return 2 ;;
    esac
}

# Why wine_preset chose its build, in one line.
wine_preset_reason() {
    if [ "${TIDEWELL_WINE_TIER:-}" = win64 ]; then
        echo "the 64-bit build, as TIDEWELL_WINE_TIER=win64 asks (what a machine whose kernel runs no 32-bit programs runs)"
    elif [ "$(wine_preset)" = win64 ]; then
        echo "the 64-bit build: this kernel runs no 32-bit programs (/usr/lib/wine/wineserver32 does not start)"
    else
        echo "the 32-bit product: this kernel runs 32-bit programs"
    fi
}

# The Wine tests take a lane each (the CTest resource wine_lanes): scripts/test runs them in
# two lanes at once, each with a Wine prefix and an X server of its own, so no two tests at a
# time share a single-instance mutex, a registry or a screen. Without scripts/test's lanes
# (tests/wine_lanes.json has one) they run one at a time in the build folder's prefix on the
# DISPLAY given.
wine_lane() {
    local lane=${CTEST_RESOURCE_GROUP_0_WINE_LANES:-}  # id:N,slots:1
    lane=${lane#id:}
    echo "${lane%%,*}"
}

# lane_prefix BUILD_FOLDER: the Wine prefix of this test's lane.
lane_prefix() {
    local lane
    lane=$(wine_lane)
    if [ -z "$lane" ] || [ "$lane" = 0 ]; then echo "$1/wineprefix"; else echo "$1/wineprefix-lane$lane"; fi
}

# Sets DISPLAY to this test's lane's X server, where scripts/test gave each lane one
# (TIDEWELL_LANE_DISPLAYS, lane 0's first).
use_lane_display() {
    local lane displays
    lane=$(wine_lane)
    read -ra displays <<<"${TIDEWELL_LANE_DISPLAYS:-}"
    if [ -n "$lane" ] && [ -n "${displays[$lane]:-}" ]; then export DISPLAY=${displays[$lane]}; fi
}

# Starts an X server of our own for the windows under test, unless one is given.
start_xvfb() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return; fi
    local n
    for n in $(seq 90 120); do
        [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || break
    done
    Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=:$n
    # Up to a minute: a loaded machine starts it late, and without it every window test skips.
    for _ in $(seq 600); do xdpyinfo >/dev/null 2>&1 && return; sleep 0.1; done
    echo "Xvfb :$n did not answer within a minute" >&2
}

stop_xvfb() {
    if [ -n "${XVFB_PID:-}" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}

# Ends the wineserver of one build folder's prefix, never anyone else's.
stop_wineserver() {
    local prefix=$1
    [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
}

# Compiles through ccache, for build folders configured from now on: a second run of the tests,
# or a fresh clone anywhere on the same machine (paths are hashed relative to the checkout),
# compiles only what changed. TIDEWELL_CCACHE=0 compiles everything afresh.
use_ccache() {
    [ "${TIDEWELL_CCACHE:-1}" != 0 ] && command -v ccache >/dev/null || return 0
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
    export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
}

# The compiles of this run that ccache answered, as "H of N" (N counts every compile it saw).
ccache_hits() {
    ccache --print-stats 2>/dev/null | awk '
        $1 ~ /^(direct|preprocessed)_cache_hit$/ { hit += $2 }
        $1 == "cache_miss" { miss = $2 }
        END { printf "%d of %d compiles from the cache\n", hit, hit + miss }'
}

# write_signing_batch FOLDER 'OSSLSIGNCODE SIGN ...': FOLDER/sign.cmd, a signing command for
# tidepack.exe under Wine that signs its file through FOLDER/sign.exe, a script running the
# given osslsigncode line on FOLDER/in.exe. Wine starts a Linux program without waiting for it
# (and splits its arguments at every space), so the batch file waits for the script's mark.
write_signing_batch() {
    local folder=$1 w="Z:${1//\//\\}"
    printf '%s\n' '#!/bin/sh' "$2 -h sha256 -in '$folder/in.exe' -out '$folder/out.exe' \\" \
        "    >'$folder/log' 2>&1" "touch '$folder/done'" >"$folder/sign.exe"
    chmod +x "$folder/sign.exe"
    # Wine's copy reports a failure after copying: whether it signed is told by out.exe.
    printf '%s\r\n' '@echo off' "del \"$w\\in.exe\" \"$w\\out.exe\" \"$w\\done\" 2>nul" \
        "copy /y \"%~1\" \"$w\\in.exe\" >nul" "\"$w\\sign.exe\"" 'set n=0' ':wait' \
        "if exist \"$w\\done\" goto signed" 'set /a n+=1' 'if %n% gtr 120 exit /b 1' \
        'ping -n 2 127.0.0.1 >nul' 'goto wait' ':signed' "if not exist \"$w\\out.exe\" exit /b 1" \
        "copy /y \"$w\\out.exe\" \"%~1\" >nul" 'exit /b 0' >"$folder/sign.cmd"
}
