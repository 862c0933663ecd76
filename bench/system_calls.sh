#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Counts the Wine system calls (ntdll's Nt functions, most of them a round trip to the Wine
# server) that each entry costs: the update program, NSIS and the floor apply two inputs of the
# benchmark under WINEDEBUG=+relay, and the difference between the two counts, divided by the
# difference in entries, is what one more entry costs (start-up and the rest of the fixed cost
# cancel out). Prints the total per entry and the calls that make it up.
#
# Usage: bench/system_calls.sh [SMALL LARGE]   (default scale100 scale1000)
# Needs a finished scripts/bench run (its inputs, packages and programs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/common.sh
small=${1:-scale100} large=${2:-scale1000}
preset=$(wine_preset)
if [ "$preset" = win64 ]; then wine=/usr/lib/wine/wine64; else wine=wine; fi
out=$root/build/bench
win=$root/build/bench-$preset
work=$out/system-calls
export WINEPREFIX=$win/wineprefix WINEDLLOVERRIDES=$TIDEWELL_WINEDLLOVERRIDES
driver=$win/tests/e2e/ui/uidriver.exe
[ -x "$driver" ] || cmake --build "$win" --target uidriver >/dev/null
for name in "$small" "$large"; do
    [ -d "$out/inputs/$name" ] || { echo "no input $name: run scripts/bench first" >&2; exit 1; }
done
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
start_xvfb
trap 'stop_xvfb' EXIT
mkdir -p "$work"

# trace PROGRAM CASE: one traced run, its request lines in $work/PROGRAM-CASE.trace.
trace() {
    local program=$1 case=$2 dir=$work/target
    local log=$work/$program-$case.trace
    rm -rf "$dir"
    case $program in
        tidewell)
            cp -r "$out/inputs/$case/old" "$dir"
            "$wine" reg add 'HKCU\Software\TidewellBench' /v InstallDir /t REG_SZ \
                /d "$(winpath "$dir")" /f >/dev/null 2>&1
            WINEDEBUG=+relay "$wine" "$(winpath "$win/bench/programs/$case/Tidewell.exe")" \
                2>"$log.raw" &
            local pid=$!
            WINEDEBUG=-all "$wine" "$driver" find 60000 >/dev/null
            WINEDEBUG=-all "$wine" "$driver" click 1000 >/dev/null
            WINEDEBUG=-all "$wine" "$driver" wait cancel.enabled 0 600000 >/dev/null
            WINEDEBUG=-all "$wine" "$driver" click 1000 >/dev/null
            wait "$pid" || true
            ;;
        nsis)
            WINEDEBUG=+relay "$wine" "$(winpath "$out/inputs/$case/nsis-zlib.exe")" /S \
                "/D=$(winpath "$dir")" 2>"$log.raw" || true
            ;;
        floor)
            (cd "$out/inputs/$case/new" && find . -type d -exec mkdir -p "$dir/{}" \;)
            WINEDEBUG=+relay "$wine" "$(winpath "$win/bench/bench_floor.exe")" \
                "$(winpath "$out/packages/$case.twp")" "$(winpath "$dir")" 2>"$log.raw" || true
            ;;
    esac
    wineserver -w
    # Each call into ntdll's Nt functions is a system call of Wine's: most go to the server.
    grep -oE 'Call (ntdll|win32u)\.Nt[A-Za-z]+' "$log.raw" | sed -E 's/^Call (ntdll|win32u)\.//' >"$log"
    rm -f "$log.raw"
    rm -f "$WINEPREFIX"/drive_c/users/*/Temp/vq*.tmp
}

entries() { wc -l <"$out/inputs/$1/files.tsv"; }
span=$(($(entries "$large") - $(entries "$small")))
printf '%-9s %14s   %s\n' program "calls/entry" "largest shares (calls per entry)"
for program in tidewell nsis floor; do
    trace "$program" "$small"
    trace "$program" "$large"
    total=$(( $(wc -l <"$work/$program-$large.trace") - $(wc -l <"$work/$program-$small.trace") ))
    shares=$(join -a2 -e0 -o 0,1.2,2.2 \
        <(sort "$work/$program-$small.trace" | uniq -c | awk '{print $2, $1}' | sort) \
        <(sort "$work/$program-$large.trace" | uniq -c | awk '{print $2, $1}' | sort) |
        awk -v span="$span" '{d = ($3 - $2) / span; if (d >= 0.5) printf "%s %.1f\n", $1, d}' |
        sort -k2 -rn | head -8 | awk '{printf "%s %s, ", $1, $2}')
    printf '%-9s %14.1f   %s\n' "$program" "$(echo "$total $span" | awk '{print $1 / $2}')" \
        "${shares%, }"
done
