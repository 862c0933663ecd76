# Shared by the project's scripts.

# Wine's DLL overrides for every run of ours: no Mono or Gecko download prompts (no network for
# them), no desktop entries in the host user's menus for the shortcuts the runs make, and no
# MinGW run-time DLL, which Windows does not have. Wine's own zlib1.dll cannot be switched off:
# Wine 8's user32 imports it. The program's import table is checked for it instead
# (tests/e2e/ui/check_release.py).
TIDEWELL_WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;libwinpthread-1,libgcc_s_dw2-1,libgcc_s_seh-1,libstdc++-6=d"

# The preset whose Windows programs this machine's Wine can run: the 32-bit product itself
# where the kernel runs 32-bit programs, else the same sources built for 64-bit Windows.
wine_preset() {
    if /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then echo win32; else echo win64; fi
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
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return; sleep 0.1; done
}

stop_xvfb() {
    if [ -n "${XVFB_PID:-}" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}

# Ends the wineserver of one build folder's prefix, never anyone else's.
stop_wineserver() {
    local prefix=$1
    [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
}
