# Shared by the project's scripts.

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
