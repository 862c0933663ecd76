#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# End-to-end cases of Tidewell.exe under Wine: each one prepares an installed product in the
# build folder's Wine prefix, starts a build of the program, drives its dialog with uidriver as a
# user would, and checks the machine afterwards. Screenshots go to <build>/screenshots/.
#
# Usage: e2e.sh CASE. The environment (TW_*) comes from tests/e2e/ui/CMakeLists.txt. Exit code 0
# when the case passed, 1 when it failed, 77 when there is no X server to show windows on.
set -uo pipefail
case_name=$1
. "$TW_SOURCE/scripts/common.sh"
use_lane_display

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    echo "SKIP: no usable X display (DISPLAY='${DISPLAY:-}'); scripts/test starts Xvfb"
    exit 77
fi

WINEPREFIX=$(lane_prefix "$TW_BUILD")
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES=$TIDEWELL_WINEDLLOVERRIDES
export LANG=en_US.UTF-8  # the English dialog unless a case says otherwise
# The Wine loader that matches the programs under test, for reg and regedit.
pe=$(od -An -tu4 -j60 -N4 "$TW_ENGLISH_EXE" | tr -d ' ')
if [ "$(od -An -tx2 -j$((pe + 4)) -N2 "$TW_ENGLISH_EXE" | tr -d ' ')" = 8664 ]; then
    WINE=/usr/lib/wine/wine64
else
    WINE=wine
fi
WINE_RUN=$TW_SOURCE/scripts/wine-run
. "$TW_SOURCE/tests/e2e/ui/vendor.sh"
C_DRIVE=$WINEPREFIX/drive_c
E2E_DIR=$C_DRIVE/tidewell-e2e
SHOTS=$TW_BUILD/screenshots

failures=0
started=()

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

expect() {  # expect WHAT WANT GOT
    if [ "$2" = "$3" ]; then
        echo "ok: $1 = '$3'"
    else
        fail "$1 is '$3', want '$2'"
    fi
}

expect_same_file() {  # expect_same_file WHAT WANT_FILE GOT_FILE
    if cmp -s "$2" "$3"; then echo "ok: $1"; else fail "$1: $3 differs from $2"; fi
}

driver() {
    "$WINE_RUN" "$TW_DRIVER" "$@" | tr -d '\r'
    return "${PIPESTATUS[0]}"
}

# await FAILURE UIDRIVER_ARGS...: a wait of uidriver's for a condition (its limit, minutes, only
# bounds a failure); when it fails, FAILURE is reported with what was awaited and for how long.
await() {
    local failure=$1 start=$SECONDS
    shift
    driver "$@" >/dev/null && return 0
    fail "$failure (waited $((SECONDS - start)) s for: uidriver $*)"
    return 1
}

# The dialog's state in D[key], from uidriver show.
read_dialog() {
    declare -gA D=()
    local line
    while IFS= read -r line; do D[${line%%=*}]=${line#*=}; done < <(driver show)
}

expect_dialog() {  # expect_dialog KEY WANT
    expect "$1" "$2" "${D[$1]-<missing>}"
}

start_program() {  # start_program EXE [ARGS...]; sets program_pid. At niceness $program_nice.
    ${program_nice:+nice -n "$program_nice"} "$WINE_RUN" "$@" >/dev/null 2>&1 &
    program_pid=$!
    started+=("$program_pid")
}

# Waits for the program to end; sets program_code. The limit (seconds, default 300) only
# bounds a program that hangs: a loaded machine may take minutes over a run.
finish_program() {
    local limit=${1:-300} start=$SECONDS
    while kill -0 "$program_pid" 2>/dev/null && ((SECONDS - start < limit)); do sleep 0.1; done
    if kill -0 "$program_pid" 2>/dev/null; then
        fail "the program did not end (waited $((SECONDS - start)) s for it to end)"
        kill "$program_pid" 2>/dev/null
    fi
    wait "$program_pid"
    program_code=$?
}

# The program without a window (or one that closes itself): started, waited for, program_code.
run_unattended() {  # run_unattended EXE ARGS...
    start_program "$@"
    finish_program
}

# Where an elevated run logs by default (Wine runs every program as an administrator).
DEFAULT_LOG="$WINEPREFIX/drive_c/ProgramData/Shiosai Notes/Tidewell-english.log"

# log_text FILE: the log without its byte-order mark and line ends' CRs.
log_text() {
    sed '1s/^\xEF\xBB\xBF//' "$1" 2>/dev/null | tr -d '\r'
}

# expect_code WHAT CODE: the program's exit code, as far as Unix sees it: Wine hands on its low
# byte only (1639 arrives as 103); the log's last line holds the whole code.
expect_code() {
    expect "$1 (low byte)" "$(($2 & 255))" "$program_code"
}

expect_log_result() {  # expect_log_result FILE CODE: the log's last line gives CODE
    expect "log's last line" "result: $2" "$(log_text "$1" | tail -1 | cut -d' ' -f1-2)"
}

cleanup() {
    local pid
    for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; done
    # The apply run leaves its "vq" temporary files by design; the tests take theirs away.
    find "$C_DRIVE/users" -maxdepth 6 -name 'vq*.tmp' -delete 2>/dev/null
    if [ -n "${dpi_changed:-}" ]; then
        "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f \
            >/dev/null 2>&1
    fi
    if [ -n "${temp_changed:-}" ]; then
        local name
        for name in TEMP TMP; do
            "$WINE" reg add 'HKCU\Environment' /v $name /t REG_EXPAND_SZ /d '%USERPROFILE%\Temp' \
                /f >/dev/null 2>&1
        done
    fi
    [ -n "${locked_dir:-}" ] && chattr -i "$locked_dir"
    rm -f "$E2E_DIR/Probe/tools/probe-hold"  # a run-after program left waiting ends
    touch "$HOLD_RELEASE" 2>/dev/null  # and a holder
    if [ -n "${ui_font_added:-}" ]; then
        "$WINE" reg delete "$UI_FONT_KEY" /v "MS UI Gothic" /f >/dev/null 2>&1
    fi
}
trap cleanup EXIT

screenshot() {  # screenshot NAME: the dialog as it is on the screen
    local rect
    sleep 0.5  # let the last change be painted
    rect=$(driver get rect) || return
    mkdir -p "$SHOTS"
    if import -window root -crop "$rect" +repage "$SHOTS/$1.png"; then
        echo "screenshot: $SHOTS/$1.png ($rect)"
    else
        fail "screenshot $1"
    fi
}

# Once per prefix: a font for the Japanese dialog font names (Wine has none of its own), Wine
# drawing the title bars itself (there is no window manager on Xvfb) and no input-method window.
# The caption font of a Japanese system, "MS UI Gothic", is given a font only while the Japanese
# case runs: Wine links Tahoma to it, and with it present the English dialog is drawn in it.
prepare_prefix() {
    (
        flock 9
        [ -f "$WINEPREFIX/.tidewell-e2e-ready" ] && exit 0
        driver count >/dev/null  # makes the prefix if it is new
        local reg=$WINEPREFIX.e2e.reg
        {
            printf '\xff\xfe'
            printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
                '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
                '"ＭＳ Ｐゴシック"="Noto Sans CJK JP"' '"ＭＳ ゴシック"="Noto Sans Mono CJK JP"' \
                '"MS PGothic"="Noto Sans CJK JP"' '"MS Gothic"="Noto Sans Mono CJK JP"' '' \
                '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' \
                '"Decorated"="N"' '"InputStyle"="root"' '' | iconv -f UTF-8 -t UTF-16LE
        } >"$reg"
        "$WINE" regedit /S "$reg" && touch "$WINEPREFIX/.tidewell-e2e-ready"
    ) 9>"$WINEPREFIX.e2e.lock"
}

# --- the installed demo product

ENGLISH_DIR="$E2E_DIR/Shiosai Notes"
ENGLISH_KEY='HKCU\Software\Tidewell E2E\Shiosai Notes'
OLD_FILES=(Notes.exe notecore.dll spell.dll readme.txt)

install_product() {  # install_product UNIX_DIR REG_KEY WINDOWS_DIR: version 2.0 installed
    rm -rf "$1"
    mkdir -p "$1"
    local f
    for f in "${OLD_FILES[@]}"; do cp "$TW_DEMO_OLD/$f" "$1/"; done
    "$WINE" reg add "$2" /v InstallDir /d "$3" /f >/dev/null ||
        fail "registry key $2 not written"
    find "$C_DRIVE" -type d -name 'Tidewell E2E' -path '*Programs*' -exec rm -rf {} + \
        2>/dev/null
}

install_english() {
    install_product "$ENGLISH_DIR" "$ENGLISH_KEY" 'C:\tidewell-e2e\Shiosai Notes'
}

expect_product_untouched() {  # the installed 2.0 exactly, nothing added
    local f
    for f in "${OLD_FILES[@]}"; do expect_same_file "$f is still 2.0" "$TW_DEMO_OLD/$f" "$1/$f"; done
    expect "files in the install folder" "${#OLD_FILES[@]}" "$(find "$1" -type f | wc -l)"
}

expect_product_updated() {  # expect_product_updated DIR [SHORTCUT_FOLDER]
    expect_same_file "Notes.exe is 2.1" "$TW_DEMO_NEW/Notes.exe" "$1/Notes.exe"
    expect_same_file "notecore.dll is 2.1 (newer: replaced)" "$TW_DEMO_NEW/notecore.dll" \
        "$1/notecore.dll"
    expect_same_file "spell.dll stays 3.0 (installed is newer)" "$TW_DEMO_OLD/spell.dll" \
        "$1/spell.dll"
    expect_same_file "readme.txt is 2.1" "$TW_SOURCE/demo/files/readme-2.1.txt" "$1/readme.txt"
    expect_same_file "postupdate.exe added" "$TW_DEMO_NEW/postupdate.exe" "$1/postupdate.exe"
    [ -n "${no_log:-}" ] ||
        expect "post-update runs" 1 "$(grep -c 'post-update step ran' "$1/update.log" 2>/dev/null)"
    if [ -n "${2:-}" ]; then
        local links
        links=$(find "$C_DRIVE" -path "*Programs/$2/Shiosai Notes.lnk" | wc -l)
        expect "shortcut $2\\Shiosai Notes.lnk" 1 "$links"
    fi
}

# need_host_tidepack: skips the case (77) without the host build of tidepack.
need_host_tidepack() {
    [ -x "$TW_HOST_BUILD/tidepack" ] && return
    echo "SKIP: no host build of tidepack at $TW_HOST_BUILD"
    exit 77
}

# --- the cases

# The English dialog from ready to done and Finish; ARGS go on the command line.
english_run() {
    install_english
    start_program "$TW_ENGLISH_EXE" "$@"
    await "no dialog" find || return
    read_dialog
    expect_dialog caption "Shiosai Notes Update Program"
    expect_dialog welcome 'Welcome to the Vellumstone Patch Wizard for\rShiosai Notes'
    expect_dialog explain 'The Vellumstone Patch Wizard will allow you to update to 2.1, To continue, click Update.'
    expect_dialog update "&Update"
    expect_dialog update.enabled 1
    expect_dialog cancel "&Cancel"
    expect_dialog cancel.enabled 1
    expect_dialog progress 0
    expect_dialog range 0-100
    expect_dialog focus 1000
    [ $# -eq 0 ] && screenshot english-ready
    driver click 1000 >/dev/null
    await "the run did not reach done" wait cancel.enabled 0
    read_dialog
    expect_dialog update "&Finish"
    expect_dialog update.enabled 1
    expect_dialog progress 100
    expect_dialog focus 1000  # Return and Space press Finish
    [ $# -eq 0 ] && screenshot english-done
    driver click 1000 >/dev/null
    finish_program
    expect "exit code after Finish" 0 "$program_code"
    expect_product_updated "$ENGLISH_DIR" "Tidewell E2E"
}

case_english_update() { english_run; }

# The switches: each row the exit code, what becomes of the product and the arguments (";"
# between them). Without a window the run starts at once; a bad switch changes nothing.
case_switches() {
    local logged='C:\tidewell-e2e\logs\new folder\run.log' row want state args
    local rows=(
        "0|updated|/quiet"
        "0|updated|/S;/norestart"
        "0|updated|-QN;/log=$logged"
        "0|updated|/l*v;$logged;/q"
        "1639|untouched|/silent"
        "1639|untouched|/quiet;--update-to=9.9;C:\nowhere"
        "1639|untouched|/quiet;/log"
    )
    for row in "${rows[@]}"; do
        IFS='|' read -r want state args <<<"$row"
        IFS=';' read -ra args <<<"$args"
        echo "--- ${args[*]}"
        local logs=1
        [ "${args[0]}" = /silent ] && logs=  # no switch that asks for a log
        install_english
        rm -rf "$E2E_DIR/logs" "$DEFAULT_LOG"
        run_unattended "$TW_ENGLISH_EXE" "${args[@]}"
        expect_code "exit code of ${args[*]}" "$want"
        if [ "$state" = updated ]; then
            expect_product_updated "$ENGLISH_DIR" "Tidewell E2E"
        else
            expect_product_untouched "$ENGLISH_DIR"
        fi
        local log=$DEFAULT_LOG
        [[ "${args[*]}" == *run.log* ]] && log="$E2E_DIR/logs/new folder/run.log"
        if [ -z "$logs" ]; then
            expect "logs written" "" "$(ls "$DEFAULT_LOG" "$E2E_DIR/logs" 2>/dev/null)"
            continue
        fi
        expect "log begins with a byte-order mark" efbbbf "$(head -c3 "$log" 2>/dev/null | xxd -p)"
        expect_log_result "$log" "$want"
        if [ "$want" = 0 ]; then
            expect "log line of Notes.exe" 1 \
                "$(log_text "$log" | grep -c 'file C:\\tidewell-e2e\\Shiosai Notes\\Notes.exe replaced$')"
            expect "log line of spell.dll" 1 \
                "$(log_text "$log" | grep -c 'spell.dll kept: version (packaged 2.5.0.0, installed 3.0.0.0)$')"
            expect "log line of the run-after program" 1 \
                "$(log_text "$log" | grep -c 'run-after .*postupdate.exe ran (exit code 0)$')"
        fi
    done
    rm -rf "$E2E_DIR/logs"
}

# /passive: the dialog shows the run without a press, cannot be cancelled, closes itself and
# logs. The probe's run-after program keeps the run on the screen until the case has looked.
case_passive() {
    local log="$C_DRIVE/ProgramData/Probe Update/Tidewell-runafter.log"
    install_probe
    rm -f "$log"
    start_program "$TW_BIN/Tidewell-runafter.exe" /passive /norestart
    await "no dialog" find || return
    probe_report >/dev/null || return
    read_dialog
    expect_dialog cancel.enabled 0
    expect_dialog update.enabled 0
    expect_dialog explain \
        'Updating to 3.0. Please wait: the update runs by itself and closes when it is done.'
    driver escape >/dev/null
    driver close >/dev/null
    release_probe
    finish_program
    expect "exit code" 0 "$program_code"
    expect "dialogs on the screen" 0 "$(driver count)"
    expect_probe_updated
    expect_log_result "$log" 0
}

# No install folder at all (no registry value, the default folder missing): nothing is written,
# the dialog says so, and the exit code is 1642 with a window and without.
case_no_install_folder() {
    local mode
    for mode in quiet dialog; do
        install_english
        "$WINE" reg delete "$ENGLISH_KEY" /f >/dev/null 2>&1
        rm -f "$DEFAULT_LOG"
        if [ $mode = quiet ]; then
            run_unattended "$TW_ENGLISH_EXE" /quiet
            expect_log_result "$DEFAULT_LOG" 1642
        else
            start_program "$TW_ENGLISH_EXE"
            await "no dialog" find || return
            driver click 1000 >/dev/null
            await "the run did not reach done" wait cancel.enabled 0
            read_dialog
            expect_dialog explain \
                "The product to update was not found on this computer. Nothing was changed."
            expect_dialog progress 0  # nothing written: the bar is not full
            driver click 1000 >/dev/null
            finish_program
        fi
        expect_code "$mode exit code" 1642
        expect_product_untouched "$ENGLISH_DIR"
        expect "shortcuts made" 0 "$(find "$C_DRIVE" -path '*Programs/Tidewell E2E/*' | wc -l)"
    done
}

# A file another process holds for the whole run, unattended and elevated: the new file waits
# for the restart (a pending rename), the exit code is 3010, and after the restart the file is
# the new one.
case_held_for_good() {
    local key='HKLM\System\CurrentControlSet\Control\Session Manager'
    "$WINE" reg delete "$key" /v PendingFileRenameOperations /f >/dev/null 2>&1
    install_english
    rm -f "$DEFAULT_LOG"
    hold_file 'C:\tidewell-e2e\Shiosai Notes\notecore.dll'
    run_unattended "$TW_ENGLISH_EXE" /quiet /norestart
    expect_code "exit code" 3010
    expect_same_file "notecore.dll held stays 2.0 until the restart" "$TW_DEMO_OLD/notecore.dll" \
        "$ENGLISH_DIR/notecore.dll"
    expect "pending renames onto notecore.dll" 1 \
        "$("$WINE" reg query "$key" /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' |
            grep -c 'notecore.dll')"
    expect "log line" 1 "$(log_text "$DEFAULT_LOG" | grep -c 'notecore.dll at restart')"
    expect_log_result "$DEFAULT_LOG" 3010
    # Run again before the restart: the copy already waiting is not staged a second time.
    run_unattended "$TW_ENGLISH_EXE" /quiet /norestart
    expect_code "second run's exit code" 3010
    expect "staged copies waiting" 1 "$(cd "$ENGLISH_DIR" && ls -- twn* 2>/dev/null | wc -l)"
    release_hold
    "$WINE" wineboot -r >/dev/null 2>&1
    expect_same_file "notecore.dll after the restart is 2.1" "$TW_DEMO_NEW/notecore.dll" \
        "$ENGLISH_DIR/notecore.dll"
    expect "staged copies left" "" "$(cd "$ENGLISH_DIR" && ls -- twn* 2>/dev/null)"
    "$WINE" reg delete "$key" /v PendingFileRenameOperations /f >/dev/null 2>&1
}

# Starts the installed Shiosai Notes and waits for its window; sets notes_pid.
start_notes() {
    "$WINE_RUN" "$ENGLISH_DIR/Notes.exe" >/dev/null 2>&1 &
    notes_pid=$!
    started+=("$notes_pid")
    local start=$SECONDS
    while ((SECONDS - start < 180)); do
        [ "$(driver windows ShiosaiNotesMain)" = 1 ] && break
        sleep 0.2
    done
    expect "Shiosai Notes is running (waited $((SECONDS - start)) s for its window)" 1 \
        "$(driver windows ShiosaiNotesMain)"
}

case_running_app() {
    install_english
    start_notes

    # Unattended, the running application ends the run with 32 and no message box.
    rm -f "$DEFAULT_LOG"
    run_unattended "$TW_ENGLISH_EXE" /quiet
    expect_code "exit code of /quiet" 32
    expect_log_result "$DEFAULT_LOG" 32
    expect_product_untouched "$ENGLISH_DIR"

    start_program "$TW_ENGLISH_EXE"
    await "no dialog" find || return
    driver click 1000 >/dev/null
    local box
    local start=$SECONDS
    box=$(driver msgbox) || fail "no message box (waited $((SECONDS - start)) s)"
    expect "message box caption" "caption=Shiosai Notes" "$(sed -n 1p <<<"$box")"
    expect "message box text" "text=Shiosai Notes is running. Close it, then click Update again." \
        "$(sed -n 2p <<<"$box")"
    read_dialog
    expect_dialog update.enabled 0
    expect_product_untouched "$ENGLISH_DIR"
    driver msgbox-ok >/dev/null || fail "message box not answered"
    await "Update not enabled again" wait update.enabled 1
    read_dialog
    expect_dialog update "&Update"
    expect_dialog cancel.enabled 1
    expect_dialog progress 0
    expect_product_untouched "$ENGLISH_DIR"

    await "Shiosai Notes did not close" close-class ShiosaiNotesMain
    wait "$notes_pid" 2>/dev/null
    driver click 1000 >/dev/null
    await "the second press did not reach done" wait cancel.enabled 0
    read_dialog
    expect_dialog update "&Finish"
    expect_dialog progress 100
    driver click 1000 >/dev/null
    finish_program
    expect "exit code" 0 "$program_code"
    expect_product_updated "$ENGLISH_DIR" "Tidewell E2E"
}

# Three presses queued at once: one worker, so the run-after program runs once.
case_double_press() {
    install_english
    start_program "$TW_ENGLISH_EXE"
    await "no dialog" find || return
    driver command 1000 3 >/dev/null
    await "the run did not reach done" wait cancel.enabled 0
    # A second worker would still be running, or would have run the run-after program again.
    await "a run still in progress after done" worker-end
    read_dialog
    expect_dialog update "&Finish"
    driver click 1000 >/dev/null
    finish_program
    expect "exit code" 0 "$program_code"
    expect_product_updated "$ENGLISH_DIR"
}

case_no_package() {
    start_program "$TW_NOPACKAGE_EXE"
    await "no dialog" find || return
    read_dialog
    expect_dialog caption "%s Update Program"
    expect_dialog welcome 'Welcome to the Vellumstone Patch Wizard for\r%s'
    expect_dialog explain 'The Vellumstone Patch Wizard will allow you to update to %s, To continue, click Update.'
    expect_dialog range 0-100
    driver click 1000 >/dev/null
    await "Update did not lead to done" wait cancel.enabled 0
    read_dialog
    expect_dialog update "&Finish"
    expect_dialog progress 100
    expect_dialog explain "The update's data cannot be read. Nothing was changed. Download it again."
    driver escape >/dev/null  # Escape in done, with Cancel disabled
    finish_program
    # Nothing to apply is no update done.
    expect_code "exit code after Escape in done" 1603
    # Nobody could cancel /passive: not 1602.
    run_unattended "$TW_NOPACKAGE_EXE" /passive
    expect_code "exit code of /passive" 1603
}

case_ends_in_done() {
    install_english
    start_program "$TW_ENGLISH_EXE"
    await "no dialog" find || return
    driver click 3 >/dev/null  # Cancel in ready
    finish_program
    expect_code "exit code after Cancel" 1602
    expect_product_untouched "$ENGLISH_DIR"

    start_program "$TW_ENGLISH_EXE"
    await "no dialog" find || return
    driver click 1000 >/dev/null
    await "the run did not reach done" wait cancel.enabled 0
    driver close >/dev/null  # the close box in done
    finish_program
    expect "exit code after the close box in done" 0 "$program_code"
    expect_product_updated "$ENGLISH_DIR"
}

case_second_copy() {
    install_english
    start_program "$TW_ENGLISH_EXE"
    local first=$program_pid
    await "no dialog" find || return
    local start=$SECONDS code
    timeout 300 "$WINE_RUN" "$TW_ENGLISH_EXE"
    code=$?
    expect "second copy's exit code (low byte)" $((1618 & 255)) "$code"
    echo "second copy ended after $((SECONDS - start)) s"
    rm -f "$DEFAULT_LOG"
    timeout 300 "$WINE_RUN" "$TW_ENGLISH_EXE" /quiet
    expect "second copy's exit code with /quiet (low byte)" $((1618 & 255)) "$?"
    expect_log_result "$DEFAULT_LOG" 1618
    expect "dialogs on the screen" 1 "$(driver count)"
    read_dialog
    expect_dialog update.enabled 1
    expect_dialog caption "Shiosai Notes Update Program"
    driver click 3 >/dev/null
    program_pid=$first
    finish_program
    expect_code "first copy's exit code after Cancel" 1602

    # Once the first copy has ended, its mutex is gone and a new start shows the dialog.
    start_program "$TW_ENGLISH_EXE"
    await "no dialog after the first copy ended" find
    driver click 3 >/dev/null
    finish_program
    expect_code "exit code after Cancel" 1602
    expect_product_untouched "$ENGLISH_DIR"
}

# The English update from Update to Finish, without looking at the dialog. EXE, default the
# English program.
apply_english() {  # apply_english [EXE [ARGS...]]
    start_program "${1:-$TW_ENGLISH_EXE}" "${@:2}"
    await "no dialog" find || return
    driver click 1000 >/dev/null
    await "the run did not reach done" wait cancel.enabled 0
    driver click 1000 >/dev/null
    finish_program
    [ -z "${any_code:-}" ] && expect "exit code" 0 "$program_code"
}

# Started from a downloads folder that also holds DLLs named as Windows' own, with Wine told to
# prefer a native comctl32.dll found there, as Windows does for DLLs outside KnownDLLs: the run
# completes, the version rule still works, and no planted DLL is loaded. (Wine's own user32
# imports version.dll and zlib1.dll, so under Wine a preferred native copy of those is loaded
# before any of the program's code runs; the import check covers them.)
case_planted_dlls() {
    local downloads="$E2E_DIR/Downloads"
    local prefer_planted="comctl32=n,b;$WINEDLLOVERRIDES"
    rm -rf "$downloads"
    mkdir -p "$downloads"
    cp "$TW_ENGLISH_EXE" "$downloads/Patch.exe"
    cp "$TW_PLANTED"/*.dll "$downloads/"
    # The markers work: a planted DLL that is loaded leaves one.
    WINEDLLOVERRIDES=$prefer_planted "$WINE" rundll32 'C:\tidewell-e2e\Downloads\comctl32.dll,Probe' \
        >/dev/null 2>&1
    expect "markers left by loading a planted DLL on purpose" 1 \
        "$(find "$downloads" -name '*.loaded' | wc -l)"
    rm -f "$downloads"/*.loaded

    install_english
    pushd "$downloads" >/dev/null || return
    WINEDLLOVERRIDES=$prefer_planted apply_english "$downloads/Patch.exe"
    popd >/dev/null || return
    expect "planted DLLs loaded" "" "$(cd "$downloads" && ls -- *.loaded 2>/dev/null)"
    expect_product_updated "$ENGLISH_DIR"
    rm -rf "$downloads"
}

# Another process of the user rewrites every "vq" temporary file the moment the run closes it.
# A control run without it installs every new file; with it, what is installed is still the
# package's file or the file that was there, never the other process's bytes.
case_swapped_temp_files() {
    local temp count_file="$TW_BIN/swap-count.txt" watcher_pid swaps f i
    temp=$("$WINE" cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
    temp=$("$WINE" winepath -u "$temp" 2>/dev/null)
    [ -d "$temp" ] || { fail "no temporary folder ($temp)"; return; }

    install_english
    apply_english
    expect_product_updated "$ENGLISH_DIR"

    install_english
    rm -f "$count_file"
    python3 "$TW_SOURCE/tests/e2e/ui/swap_watcher.py" "$temp" "$count_file" &
    watcher_pid=$!
    started+=("$watcher_pid")
    local start=$SECONDS
    while [ ! -s "$count_file" ] && ((SECONDS - start < 180)); do sleep 0.1; done
    [ -s "$count_file" ] || fail "the watcher did not start (waited $((SECONDS - start)) s)"
    # A ruled entry whose temporary file was swapped is not written (1603), one the rule read
    # before the swap is kept or replaced (0), as the watcher's timing falls.
    any_code=1 apply_english
    kill -TERM "$watcher_pid"
    wait "$watcher_pid"
    swaps=$(cat "$count_file")
    echo "the watcher swapped $swaps temporary files"
    [ "$swaps" -ge 5 ] 2>/dev/null || fail "the watcher swapped $swaps of 5 temporary files"

    # Entries replaced always must be new; ruled ones new or old, as the rule saw the file.
    for f in Notes.exe readme.txt postupdate.exe; do
        local new="$TW_DEMO_NEW/$f"
        [ "$f" = readme.txt ] && new="$TW_SOURCE/demo/files/readme-2.1.txt"
        expect_same_file "$f is the package's" "$new" "$ENGLISH_DIR/$f"
    done
    for f in notecore.dll spell.dll; do
        if cmp -s "$TW_DEMO_NEW/$f" "$ENGLISH_DIR/$f"; then echo "ok: $f is the package's"
        elif cmp -s "$TW_DEMO_OLD/$f" "$ENGLISH_DIR/$f"; then echo "ok: $f is the installed one"
        else fail "$f is neither the package's nor the installed one"; fi
    done
    expect "post-update runs" 1 "$(grep -c 'post-update step ran' "$ENGLISH_DIR/update.log" 2>/dev/null)"
}

# The Japanese dialog where the code page is a Western one (a Japanese display language on an
# English Windows, as Wine gives it for LC_MESSAGES=ja_JP with LC_CTYPE=en_US): the template
# texts stay Japanese; only the package's title, code page 932 bytes, reads as other
# characters, as Windows itself shows it there.
case_japanese_western_codepage() {
    local dir=$JAPANESE_DIR
    install_japanese
    export LANG=en_US.UTF-8 LC_MESSAGES=ja_JP.UTF-8
    start_program "$TW_DEMO_EXE"
    await "no dialog" find || return
    read_dialog
    if [ "${D[update]-}" = "&Update" ]; then
        # Wine takes one locale for both when either is not generated (scripts/install-deps
        # generates en_US.UTF-8 and ja_JP.UTF-8).
        fail "the English dialog: is the en_US.UTF-8 locale generated?"
        driver click 3 >/dev/null
        finish_program
        return
    fi
    case ${D[caption]-} in
        潮騒ノート*) fail "the title reads as code page 932: the code page is not a Western one" ;;
        *' アップデート') echo "ok: caption '${D[caption]}' keeps the Japanese template" ;;
        *) fail "caption is '${D[caption]-}'" ;;
    esac
    expect_dialog explain '2.1の更新する場合は［更新］ボタンをクリックしてください。'
    expect_dialog update "更新(&U)"
    expect_dialog cancel "キャンセル(&C)"
    screenshot japanese-cp1252-ready
    driver click 1000 >/dev/null
    await "the run did not reach done" wait cancel.enabled 0
    read_dialog
    expect_dialog update "終了(&F)"
    driver click 1000 >/dev/null
    finish_program
    expect "exit code" 0 "$program_code"
    expect_product_updated "$dir"
}

# A Japanese product's patch on a Windows whose code page is a Western one (1252, the English
# dialog). Made from its manifest it carries the texts as UTF-16 too, and its title, welcome,
# explanation and running-application message read in Japanese; the same patch made from its
# package without them shows the code page 932 bytes as Windows reads them there, as before.
case_unicode_texts() {
    local tool=$TW_HOST_BUILD/tidepack work=$TW_BIN/unicode-texts
    need_host_tidepack
    local message='潮騒ノートを終了してから、もう一度［更新］を押してください。'
    rm -rf "$work"
    mkdir -p "$work"
    printf '%s\n' "codePage = 932" "title = '潮騒ノート'" "versionText = '2.1 版'" \
        "registryKey = '${ENGLISH_KEY/HKCU/HKEY_CURRENT_USER}'" "valueName = 'InstallDir'" \
        "defaultFolder = 'C:\\tidewell-e2e\\elsewhere'" \
        '[[runningApp]]' "windowClass = 'ShiosaiNotesMain'" "message = '$message'" \
        '[[file]]' "source = '$TW_DEMO_NEW/Notes.exe'" 'alwaysReplace = true' \
        '[program]' 'welcome = "潮騒ノートの更新です。\r%s"' \
        'explain = "%s に更新します。［更新］を押してください。"' >"$work/patch.toml"
    "$tool" build "$work/patch.toml" -o "$work/patch.pkg" >/dev/null || { fail "build"; return; }
    [ -s "$work/patch.pkg.texts" ] || fail "build wrote no texts beside the package"
    "$tool" program "$work/patch.toml" -o "$work/Texts.exe" --stub "$TW_NOPACKAGE_EXE" \
        >/dev/null || { fail "program"; return; }
    rm -f "$work/patch.pkg.texts"
    "$tool" program "$work/patch.pkg" -o "$work/Plain.exe" --stub "$TW_NOPACKAGE_EXE" \
        >/dev/null 2>&1 || { fail "program of the package alone"; return; }
    install_english
    start_notes

    # shown EXE FILE: the dialog's caption, welcome and explanation, then the message box's
    # caption and text after Update, one a line in FILE; the program closed unapplied.
    shown() {
        : >"$2"
        start_program "$1"
        await "no dialog of $1" find || return
        read_dialog
        printf '%s\n' "${D[caption]-}" "${D[welcome]-}" "${D[explain]-}" >>"$2"
        driver click 1000 >/dev/null
        driver msgbox 30000 >>"$2" || fail "no message box from $1"
        driver msgbox-ok >/dev/null
        await "$1: Update not enabled again" wait update.enabled 1
        driver close >/dev/null
        finish_program
    }
    shown "$work/Texts.exe" "$work/texts.shown"
    expect "with the texts as UTF-16" "潮騒ノート Update Program
潮騒ノートの更新です。\r潮騒ノート
2.1 版 に更新します。［更新］を押してください。
caption=潮騒ノート
text=$message" "$(cat "$work/texts.shown")"
    # Code page 932's bytes as code page 1252 reads them, the bytes it lacks as C1 controls.
    local want
    want=$(python3 -c 'import sys
def read(text):
    out = ""
    for b in text.encode("cp932"):
        try: out += bytes([b]).decode("cp1252")
        except UnicodeDecodeError: out += chr(b)
    return out
title, message = read("潮騒ノート"), read(sys.argv[1])
print(title + " Update Program\nWelcome to the Vellumstone Patch Wizard for\\r" + title)
print("The Vellumstone Patch Wizard will allow you to update to " + read("2.1 版") +
      ", To continue, click Update.\ncaption=" + title + "\ntext=" + message)' "$message")
    shown "$work/Plain.exe" "$work/plain.shown"
    expect "without them, as before" "$want" "$(cat "$work/plain.shown")"
    expect_product_untouched "$ENGLISH_DIR"
}

# expect_readme_links FILE: a vendor's README (not ours, which names scripts/demo), each of its
# links leading to a file or folder beside it.
expect_readme_links() {
    local link links
    [ -s "$1" ] || { fail "no $1"; return; }
    grep -q scripts/demo "$1" && fail "$1 is the developers' README"
    links=$(grep -o '](\([^)]*\))' "$1" | sed 's/^](//; s/)$//')
    [ -n "$links" ] || fail "$1 links nothing"
    for link in $links; do
        [ -e "$(dirname "$1")/$link" ] || fail "$1 links $link, which is not there"
    done
}

# add_identity DIR: every [program] key for the manifest in DIR (diff's), the dialog's texts in
# both languages in place of diff's, with an icon of one colour (16x16 and 32x32, 32-bit), as a
# vendor gives the patch program its own name.
add_identity() {
    mkdir -p "$1/art"
    /usr/bin/python3 -c 'import struct, sys
def image(side):
    return struct.pack("<IiiHHIIiiII", 40, side, 2 * side, 1, 32, 0, 0, 0, 0, 0, 0) + \
        bytes((0x20, 0x40, 0xE0, 0xFF)) * side * side + bytes((side + 31) // 32 * 4 * side)
images, at, head = [image(16), image(32)], 38, struct.pack("<HHH", 0, 1, 2)
for side, data in zip((16, 32), images):
    head += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), at)
    at += len(data)
sys.stdout.buffer.write(head + b"".join(images))' >"$1/art/patch.ico"
    printf '%s\n' "icon = 'art/patch.ico'" "companyName = '株式会社しおさいソフト'" \
        "productName = '潮騒ノート'" "fileDescription = '潮騒ノート 2.1 アップデート'" \
        "fileVersion = '2.1.0.3'" "productVersion = '2.1'" "legalCopyright = '© 2026 しおさいソフト'" \
        "originalFilename = 'shiosai-2.1-update.exe'" "signDescription = '潮騒ノート 2.1'" \
        "signUrl = 'https://shiosai.example.com/'" 'welcome = "Shiosai Software updates\r%s"' \
        'explain = "This brings your copy to version %s. Click Update to go on."' \
        'welcomeJa = "しおさいソフトの更新です。\n\n%s"' \
        'explainJa = "%s に更新するには［更新］ボタンをクリックしてください。"' >"$1/art/program.toml"
    grep -qx '\[program\]' "$1/patch.toml" || fail "diff wrote no [program] table"
    sed -i -e '/^\(welcome\|explain\)\(Ja\)\? = /d' -e "/^\[program\]\$/r $1/art/program.toml" \
        "$1/patch.toml"
}

# What the dialog of a program made with add_identity's manifest says, filled in.
IDENTITY_WELCOME='Shiosai Software updates\rShiosai Notes'
IDENTITY_EXPLAIN='This brings your copy to version 2.1. Click Update to go on.'
IDENTITY_WELCOME_JA='しおさいソフトの更新です。\n\nShiosai Notes'
IDENTITY_EXPLAIN_JA='2.1 に更新するには［更新］ボタンをクリックしてください。'

# expect_identity_dialog EXE: the dialog of EXE in English, then in Japanese, says the texts
# of add_identity's manifest; each closed unapplied.
expect_identity_dialog() {
    local language
    for language in en_US ja_JP; do
        [ $language = ja_JP ] && use_japanese_ui_font
        LANG=$language.UTF-8 start_program "$1"
        await "no dialog of $1 ($language)" find || return
        read_dialog
        if [ $language = en_US ]; then
            expect_dialog welcome "$IDENTITY_WELCOME"
            expect_dialog explain "$IDENTITY_EXPLAIN"
        else
            expect_dialog welcome "$IDENTITY_WELCOME_JA"
            expect_dialog explain "$IDENTITY_EXPLAIN_JA"
        fi
        driver close >/dev/null
        finish_program
    done
}

# What Windows shows of a program made with add_identity's manifest (uidriver identity).
IDENTITY_SHOWN='fixed=2.1.0.3
CompanyName=株式会社しおさいソフト
ProductName=潮騒ノート
FileDescription=潮騒ノート 2.1 アップデート
FileVersion=2.1.0.3
ProductVersion=2.1
LegalCopyright=© 2026 しおさいソフト
OriginalFilename=shiosai-2.1-update.exe
manifest=shiosai-2.1-update
icons=1
pixel=E04020'

# A vendor's machine: tidepack installed from its Debian package (or a host build's install) and
# run with no compiler and no CMake on PATH makes a manifest from two releases, a package, and
# a patch program from them (the same bytes twice before signing), signed with a key on a
# PKCS#11 token (SoftHSM2, in a folder of its own), by a signing command, and with a key file;
# the program signed on the token applies the update here.
case_installed_tidepack() {
    local prefix=$TW_BIN/vendor/prefix work=$TW_BIN/vendor/work tools=$TW_BIN/vendor/bin deb
    if [ ! -x "$TW_HOST_BUILD/tidepack" ]; then
        echo "SKIP: no host build of tidepack at $TW_HOST_BUILD (scripts/test makes one first)"
        exit 77
    fi
    rm -rf "$TW_BIN/vendor"
    mkdir -p "$work" "$tools"
    # The package only when it was made from the tidepack built last.
    deb=$(ls -t "$TW_HOST_BUILD"/tidepack_*.deb 2>/dev/null | head -n1)
    if [ -n "$deb" ] && [ "$deb" -nt "$TW_HOST_BUILD/tidepack" ]; then
        dpkg-deb -x "$deb" "$prefix" || { fail "unpack $deb"; return; }
        prefix=$prefix/usr
    else
        cmake --install "$TW_HOST_BUILD" --prefix "$prefix" >/dev/null || { fail "install"; return; }
    fi
    local guide
    for guide in guide.md guide.ja.md; do
        [ -s "$prefix/share/doc/tidepack/$guide" ] || fail "no share/doc/tidepack/$guide installed"
    done
    expect_readme_links "$prefix/share/doc/tidepack/README.md"
    ln -s "$(command -v osslsigncode)" "$tools/osslsigncode"
    vendor() { (cd "$work" && PATH=$prefix/bin:$tools "$@"); }
    vendor /bin/sh -c 'command -v cc gcc g++ cmake windres i686-w64-mingw32-gcc' &&
        fail "a compiler or CMake is on the vendor's PATH"

    vendor_certificate "$work" || { fail "certificate"; return; }
    printf 'e2e-secret\n' >"$work/password"

    vendor tidepack diff "$TW_DEMO_OLD" "$TW_DEMO_NEW" -o patch.toml || fail "diff"
    fill_manifest "$work/patch.toml"
    vendor tidepack build patch.toml -o patch.pkg || fail "build"
    # Where this kernel runs no 32-bit programs, the 64-bit build stands in for the shipped one.
    local stub=()
    [ "$WINE" = wine ] || stub=(--stub "$TW_NOPACKAGE_EXE")
    # A package carries no [program] table: said, and the stub's resources kept.
    local said
    said=$(vendor tidepack program patch.pkg -o first.exe "${stub[@]}" 2>&1) || fail "program"
    case $said in
        *"warning: "*"give the manifest"*) echo "ok: program given a package points to the manifest" ;;
        *) fail "program given a package says nothing of the manifest: $said" ;;
    esac
    vendor tidepack program patch.toml -o Patch-unsigned.exe "${stub[@]}" ||
        fail "program from the manifest"
    vendor tidepack program patch.toml -o again.exe "${stub[@]}" || fail "program again"
    expect_same_file "two runs give the same program" "$work/again.exe" "$work/Patch-unsigned.exe"
    # Every resource of the shipped program, the package, and asInvoker for HKEY_CURRENT_USER.
    python3 "$TW_SOURCE/tests/e2e/ui/check_resources.py" "$work/first.exe" asInvoker \
        "$work/patch.pkg" >/dev/null || fail "resources of the patch program"
    # The vendor's name, version and icon, as Explorer and the shell read them.
    add_identity "$work"
    vendor tidepack program patch.toml -o Patch-identity.exe "${stub[@]}" ||
        fail "program with [program]"
    expect "the patch program's identity under Wine" "$IDENTITY_SHOWN" \
        "$(driver identity "Z:${work//\//\\}\\Patch-identity.exe")"
    expect_identity_dialog "$work/Patch-identity.exe"

    # The same key on a token: SoftHSM2 keeps its tokens in the folder its configuration names.
    export SOFTHSM2_CONF=$work/softhsm2.conf
    local module=/usr/lib/softhsm/libsofthsm2.so uri='pkcs11:token=vendor;object=signer'
    mkdir -p "$work/tokens"
    printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$work/tokens" >"$SOFTHSM2_CONF"
    softhsm2-util --init-token --free --label vendor --so-pin 5678 --pin 1234 >/dev/null &&
        softhsm2-util --import "$work/key.pem" --token vendor --label signer --id 01 \
            --pin 1234 >/dev/null || { fail "SoftHSM2 token (Debian package softhsm2)"; return; }
    printf '1234\n' >"$work/pin"
    vendor tidepack program patch.toml -o Patch.exe "${stub[@]}" --sign-pkcs11 "$module" \
        --key "$uri" --cert cert.pem --pin-file pin || fail "program signed on the token"
    # A vendor's signing script, here osslsigncode with the token's key.
    printf '%s\n' '#!/bin/sh' "osslsigncode sign -pkcs11module $module -certs cert.pem \\" \
        "    -key '$uri' -readpass pin -h sha256 -in \"\$1\" -out \"\$1.signed\" &&" \
        '    exec /bin/mv "$1.signed" "$1"' >"$work/sign.sh"
    vendor tidepack program patch.pkg -o Patch-command.exe "${stub[@]}" \
        --sign-command '/bin/sh sign.sh %1' || fail "program signed by a command"
    vendor tidepack program patch.pkg -o Patch-keyfile.exe "${stub[@]}" --sign vendor.p12 \
        --password-file password --sign-description 'Shiosai Notes 2.1 update' \
        --sign-url https://notes.example.com/ || fail "program signed with a key file"
    local exe report said
    for exe in Patch.exe Patch-command.exe Patch-keyfile.exe; do
        said=$(osslsigncode verify -CAfile "$work/cert.pem" -in "$work/$exe" 2>&1) ||
            fail "osslsigncode verify refuses $exe"
        case $exe:$said in  # the manifest's description on the token's, the options' on the key file's
            Patch.exe:*"Text description: 潮騒ノート 2.1"* | Patch-command.exe:* | \
                Patch-keyfile.exe:*"URL description: https://notes.example.com/"*"Text description: Shiosai Notes 2.1 update"*) ;;
            *) fail "$exe: not the signature's description and URL: $said" ;;
        esac
        report=$(vendor tidepack verify --codepage 1252 "$exe" 2>&1) || fail "verify: $report"
        case $report in
            *"signature holds: signer CN=Tidewell E2E Vendor"*) echo "ok: $exe names its signer" ;;
            *) fail "verify does not name the signer of $exe: $report" ;;
        esac
    done

    install_english
    apply_english "$work/Patch.exe"
    expect_diff_applied
}

# What a patch program made from diff's manifest of the demo's releases leaves in the English
# product's folder.
expect_diff_applied() {
    expect_same_file "Notes.exe is 2.1" "$TW_DEMO_NEW/Notes.exe" "$ENGLISH_DIR/Notes.exe"
    expect_same_file "notecore.dll is 2.1" "$TW_DEMO_NEW/notecore.dll" "$ENGLISH_DIR/notecore.dll"
    # 2.5 after 3.0: diff names both and always replaces, since the rule would keep 3.0.
    expect_same_file "spell.dll is the new release's 2.5" "$TW_DEMO_NEW/spell.dll" \
        "$ENGLISH_DIR/spell.dll"
    expect_same_file "postupdate.exe added" "$TW_DEMO_NEW/postupdate.exe" \
        "$ENGLISH_DIR/postupdate.exe"
}

# A vendor's CI: plan against the English product's folder, then the real program with the same
# package on the same folder; each file went the way plan said (replaced, kept, added, skipped).
case_plan_then_apply() {
    local tool=$TW_HOST_BUILD/tidepack work=$TW_BIN/plan
    need_host_tidepack
    rm -rf "$work"
    mkdir -p "$work"
    install_english
    printf 'help\n' >"$work/guide.txt"
    # Notes.exe always, notecore.dll newer, spell.dll older, readme.txt without versions,
    # postupdate.exe new, guide.txt into a folder the product lacks.
    {
        printf '%s\n' "codePage = 1252" "title = 'Shiosai Notes'" "versionText = '2.1'" \
            "registryKey = '${ENGLISH_KEY/HKCU/HKEY_CURRENT_USER}'" "valueName = 'InstallDir'" \
            "defaultFolder = 'C:\\tidewell-e2e\\elsewhere'"
        local file
        for file in "Notes.exe true" notecore.dll spell.dll postupdate.exe \
            "$TW_SOURCE/demo/files/readme-2.1.txt false readme.txt" "$work/guide.txt false guide.txt \\help"; do
            set -- $file
            [[ $1 = /* ]] || set -- "$TW_DEMO_NEW/$1" "${@:2}"
            printf '%s\n' '[[file]]' "source = '$1'" "folder = '<InstallDir>${4:-}'" \
                "alwaysReplace = ${2:-false}"
            [ -n "${3:-}" ] && printf "fileName = '%s'\n" "$3"
        done
    } >"$work/patch.toml"
    "$tool" program "$work/patch.toml" -o "$work/Patch.exe" --stub "$TW_NOPACKAGE_EXE" \
        >/dev/null || { fail "program"; return; }
    "$tool" plan "$work/Patch.exe" --install-dir "$ENGLISH_DIR" --codepage 1252 --json \
        >"$work/plan.json" || fail "plan"
    "$tool" plan "$work/Patch.exe" --install-dir "$ENGLISH_DIR" --strict >/dev/null 2>&1
    expect "plan --strict exit code with a file skipped" 1 $?
    cp -r "$ENGLISH_DIR" "$work/before"

    apply_english "$work/Patch.exe" /log 'C:\tidewell-e2e\plan-run.log'
    local said
    said=$(python3 - "$work/plan.json" "$work/before" <<'PYTHON'
import filecmp, json, os, sys
plan, before = json.load(open(sys.argv[1])), sys.argv[2]
for e in plan["entries"]:
    target = e["target"].replace("\\", "/")
    old = os.path.join(before, os.path.relpath(target, plan["installDir"]))
    if not os.path.exists(target):
        happened = "skipped"
    elif os.path.exists(old) and filecmp.cmp(old, target, shallow=False):
        happened = "kept"
    else:
        happened = "replaced" if os.path.exists(old) else "added"
    versions = "" if e["packagedVersion"] is None else f" {e['packagedVersion']}/{e['installedVersion']}"
    print(f"{e['fileName']}:{e['action']}{versions}" +
          ("" if happened == e["action"] else f" but {happened}"), end=" ")
PYTHON
    )
    expect "plan, then what the program did" "Notes.exe:replaced notecore.dll:replaced 2.1.0.0/2.0.0.0 spell.dll:kept 2.5.0.0/3.0.0.0 postupdate.exe:added readme.txt:replaced guide.txt:skipped " "$said"
    # The plan's outcome of each entry is the one the program's log gives it, by the same name.
    said=$(python3 - "$work/plan.json" "$E2E_DIR/plan-run.log" <<'PYTHON'
import json, sys
plan = json.load(open(sys.argv[1]))
log = open(sys.argv[2], encoding="utf-8-sig").read().splitlines()
for e in plan["entries"]:
    logged = [l.split(" file ", 1)[1].split("\\" + e["fileName"] + " ", 1)[1].split(" (")[0]
              for l in log if " file " in l and "\\" + e["fileName"] + " " in l]
    print(f"{e['fileName']}:{e['outcome']}" +
          ("" if logged == [e["outcome"]] else f" but {logged}"), end=" ")
PYTHON
    )
    expect "plan's outcomes, then the log's" "Notes.exe:replaced notecore.dll:replaced spell.dll:kept: version postupdate.exe:added readme.txt:replaced guide.txt:skipped: no folder " "$said"
    rm -f "$E2E_DIR/plan-run.log"
}

# A vendor on Windows: tidepack.exe from its zip, unpacked into a folder with Japanese
# characters and spaces, run under 64-bit Wine on the same inputs as the Linux tool, writes the
# same manifest, package and program, byte for byte; it signs through a signing command (a
# batch file that calls osslsigncode), verifies the result as the Linux tool does, and the
# signed program applies the update here.
case_windows_tidepack() {
    local zip root=$TW_BIN/vendor-win linux_tool=$TW_HOST_BUILD/tidepack
    zip=$(ls -t "$TW_TOOL_BUILD"/tidepack-*-win64.zip 2>/dev/null | head -n1)
    if [ -z "$zip" ] || [ ! -x "$linux_tool" ]; then
        echo "SKIP: no tidepack-*-win64.zip in $TW_TOOL_BUILD or no $linux_tool (scripts/test makes both)"
        exit 77
    fi
    local tools="$root/ツール 置き場" win="$root/山田 build" linux="$root/linux build"
    local signer=$root/signer
    rm -rf "$root"
    mkdir -p "$tools" "$signer"
    (cd "$tools" && unzip -q "$zip") || { fail "unzip $zip"; return; }
    local exe
    exe=$(find "$tools" -name tidepack.exe -path '*bin*' | head -n1)
    [ -n "$exe" ] || { fail "no bin/tidepack.exe in $zip"; return; }
    local guide
    for guide in guide.md guide.ja.md; do
        [ -s "$tools/doc/$guide" ] || fail "no doc/$guide in $zip"
    done
    expect_readme_links "$tools/README.md"
    # Only Windows' own DLLs, none that a vendor would have to ship beside it, and plainly only
    # KnownDLLs, which Windows never takes from the program's folder (bcrypt and crypt32 are
    # delay-loaded from System32; GNU ld keeps their descriptors out of the PE directory).
    local dlls
    dlls=$(/usr/bin/python3 -c 'import pefile, sys
pe = pefile.PE(sys.argv[1])
print(" ".join(sorted(e.dll.decode().lower() for e in pe.DIRECTORY_ENTRY_IMPORT)))' "$exe")
    expect "the DLLs tidepack.exe imports" "advapi32.dll kernel32.dll msvcrt.dll" "$dlls"
    # The same releases and the same relative layout in both folders.
    local dir
    for dir in "$win" "$linux"; do
        mkdir -p "$dir"
        cp -r "$TW_DEMO_OLD" "$dir/old" && cp -r "$TW_DEMO_NEW" "$dir/new"
    done
    windows() {
        (cd "$win" && TIDEWELL_WINEPREFIX=$TW_TOOL_BUILD/wineprefix WINEDEBUG=-all \
            "$WINE_RUN" "$exe" "$@")
    }
    linux() { (cd "$linux" && "$linux_tool" "$@"); }
    local stub=() both
    [ "$WINE" = wine ] || stub=(--stub "$TW_NOPACKAGE_EXE")
    # The same help and the same usage errors, exit codes too.
    local args said_linux said_windows
    for args in "--help" "frobnicate" "build" "list --codepage 77777 patch.pkg"; do
        # shellcheck disable=SC2086
        said_linux=$(linux $args 2>&1; echo "exit $?")
        # shellcheck disable=SC2086
        said_windows=$(windows $args 2>&1 | tr -d '\r'; echo "exit ${PIPESTATUS[0]}")
        expect "tidepack.exe $args: what the Linux tool says" "$said_linux" "$said_windows"
    done
    for both in windows linux; do
        "$both" diff old new -o patch.toml || fail "$both: diff"
    done
    expect_same_file "diff: the same manifest" "$linux/patch.toml" "$win/patch.toml"
    fill_manifest "$win/patch.toml"
    fill_manifest "$linux/patch.toml"
    add_identity "$win"
    add_identity "$linux"
    for both in windows linux; do
        "$both" build patch.toml -o patch.pkg || fail "$both: build"
        "$both" program patch.toml -o Patch-unsigned.exe "${stub[@]}" || fail "$both: program"
    done
    expect_same_file "build: the same package" "$linux/patch.pkg" "$win/patch.pkg"
    expect "list: the same listing" "$(linux list patch.pkg 2>&1)" \
        "$(windows list patch.pkg 2>&1 | tr -d '\r')"
    expect_same_file "program: the same patch program" "$linux/Patch-unsigned.exe" \
        "$win/Patch-unsigned.exe"

    # The signing command: a batch file that hands a copy, under a plain name, to osslsigncode
    # behind a script. Wine starts a Linux program without waiting for it, so the batch file
    # waits for the script's mark.
    vendor_certificate "$signer" || { fail "certificate"; return; }
    write_signing_batch "$signer" "osslsigncode sign -pkcs12 '$signer/vendor.p12' -pass e2e-secret"
    local w_signer="Z:${signer//\//\\}"
    windows program patch.toml -o Patch.exe "${stub[@]}" \
        --sign-command "\"$w_signer\\sign.cmd\" \"%1\"" || fail "program signed by a command"
    local report
    report=$(windows verify --codepage 1252 Patch.exe 2>&1) || fail "tidepack.exe verify: $report"
    case $report in
        *"signature holds: signer CN=Tidewell E2E Vendor"*) echo "ok: tidepack.exe names the signer" ;;
        *) fail "tidepack.exe verify does not name the signer: $report" ;;
    esac
    # bcrypt.dll and crypt32.dll planted beside tidepack.exe, with Wine told to prefer them as
    # Windows would (they are no KnownDLLs): verify takes System32's and says the same.
    cp "$TW_BIN"/planted64/*.dll "$(dirname "$exe")/" || fail "no 64-bit planted DLLs"
    local planted
    planted=$(WINEDLLOVERRIDES="bcrypt,crypt32=n,b;$WINEDLLOVERRIDES" windows verify \
        --codepage 1252 Patch.exe 2>&1 | tr -d '\r')
    expect "verify beside planted DLLs" "$(printf '%s' "$report" | tr -d '\r')" "$planted"
    expect "planted DLLs loaded" "" "$(cd "$(dirname "$exe")" && ls ./*.loaded 2>/dev/null)"
    cp "$win/Patch.exe" "$linux/Patch.exe"
    expect "verify: the same report" "$(linux verify --codepage 1252 Patch.exe 2>&1)" \
        "$(printf '%s' "$report" | tr -d '\r')"
    # same_verify FILE: what verify prints, its messages and its exit status, the same on both
    # (each stream on its own: how the two interleave differs).
    same_verify() {
        expect "tidepack.exe verify $1: the output" "$(linux verify --codepage 1252 "$1" 2>/dev/null)" \
            "$(windows verify --codepage 1252 "$1" 2>/dev/null | tr -d '\r')"
        expect "tidepack.exe verify $1: the messages" \
            "$(linux verify --codepage 1252 "$1" 2>&1 >/dev/null; echo "exit $?")" \
            "$(windows verify --codepage 1252 "$1" 2>&1 >/dev/null | tr -d '\r'; echo "exit ${PIPESTATUS[0]}")"
    }
    # A certificate that had expired before signing: both fail the signature alike, saying so.
    dated_certificate "$signer" 20200101000000Z 20200102000000Z || fail "dated certificate"
    osslsigncode sign -pkcs12 "$signer/dated.p12" -pass e2e-secret -h sha256 \
        -in "$linux/Patch-unsigned.exe" -out "$linux/Expired.exe" >/dev/null || fail "Expired.exe"
    cp "$linux/Expired.exe" "$win/Expired.exe"
    report=$(linux verify --codepage 1252 Expired.exe 2>&1; echo "exit $?")
    case $report in
        *"signature BROKEN: the signer's certificate CN=Tidewell E2E Dated expired on 2020-01-02 00:00 UTC, before now"*"exit 1")
            echo "ok: verify fails a signature whose certificate had expired" ;;
        *) fail "verify takes an expired certificate's signature: $report" ;;
    esac
    same_verify Expired.exe
    # Timestamped (by osslsigncode's own TSA) inside the period, then after it.
    (cd "$signer" && openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj /CN=TSA \
        -addext extendedKeyUsage=critical,timeStamping -keyout tsa.key -out tsa.pem 2>/dev/null)
    local stamp
    for stamp in 1577880000 1609459200; do
        rm -f "$linux/Stamped.exe"
        osslsigncode sign -pkcs12 "$signer/dated.p12" -pass e2e-secret -h sha256 \
            -TSA-certs "$signer/tsa.pem" -TSA-key "$signer/tsa.key" -TSA-time $stamp \
            -in "$linux/Patch-unsigned.exe" -out "$linux/Stamped.exe" >/dev/null || fail "Stamped.exe"
        cp "$linux/Stamped.exe" "$win/Stamped.exe"
        report=$(linux verify --codepage 1252 Stamped.exe 2>&1; echo "exit $?")
        case $stamp:$report in
            1577880000:*"signature holds"*"exit 0" | 1609459200:*"before the timestamp's 2021-01-01 00:00 UTC"*"exit 1")
                echo "ok: verify holds the certificate to the timestamp $stamp" ;;
            *) fail "verify of a signature timestamped at $stamp: $report" ;;
        esac
        same_verify Stamped.exe
    done

    install_english
    apply_english "$win/Patch.exe"
    expect_diff_applied
}

# A user whose temporary folder the code page cannot spell (田中 under code page 1252): the run
# reaches it by its short name and applies every file, its temporary files in that folder.
case_japanese_temp_folder() {
    local profile temp reg=$TW_BIN/e2e-temp.reg
    profile=$("$WINE" cmd /c 'echo %USERPROFILE%' 2>/dev/null | tr -d '\r')
    temp=$("$WINE" winepath -u "$profile\\Temp" 2>/dev/null)/田中
    mkdir -p "$temp"
    temp_changed=1
    {
        printf '\xff\xfe'
        printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' '[HKEY_CURRENT_USER\Environment]' \
            "\"TEMP\"=\"${profile//\\/\\\\}\\\\Temp\\\\田中\"" \
            "\"TMP\"=\"${profile//\\/\\\\}\\\\Temp\\\\田中\"" '' | iconv -f UTF-8 -t UTF-16LE
    } >"$reg"
    "$WINE" regedit /S "$reg" || { fail "TEMP not set"; return; }
    install_english
    apply_english
    expect_product_updated "$ENGLISH_DIR"
    expect "temporary files in $temp" 5 "$(find "$temp" -name 'vq*.tmp' | wc -l)"
}

# Both dialogs at 96, 144 and 192 DPI, for looking at: screenshots/dpi-<dpi>-<language>.png.
# Each must still show every control inside the dialog, the texts not cut.
case_dpi_screenshots() {
    local dpi language exe
    dpi_changed=1
    use_japanese_ui_font
    for dpi in 96 144 192; do
        "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
            >/dev/null || fail "LogPixels not set"
        for language in english japanese; do
            if [ $language = english ]; then
                exe=$TW_ENGLISH_EXE
                export LANG=en_US.UTF-8
            else
                exe=$TW_DEMO_EXE
                export LANG=ja_JP.UTF-8
            fi
            start_program "$exe"
            await "no dialog at $dpi DPI" find || continue
            screenshot "dpi-$dpi-$language"
            driver click 3 >/dev/null
            finish_program
        done
    done
}

UI_FONT_KEY='HKCU\Software\Wine\Fonts\Replacements'
JAPANESE_DIR="$E2E_DIR/Shiosai Notes JA"

# A font for "MS UI Gothic", only while a Japanese case runs (see prepare_prefix).
use_japanese_ui_font() {
    "$WINE" reg add "$UI_FONT_KEY" /v "MS UI Gothic" /d "Noto Sans CJK JP" /f >/dev/null
    ui_font_added=1
}

# The demo product 2.0 as the Japanese package finds it, and the Japanese dialog's font.
install_japanese() {
    use_japanese_ui_font
    install_product "$JAPANESE_DIR" 'HKLM\Software\Shiosai Software\Shiosai Notes' \
        'C:\tidewell-e2e\Shiosai Notes JA'
}

case_japanese() {
    local dir=$JAPANESE_DIR
    install_japanese
    export LANG=ja_JP.UTF-8
    start_program "$TW_DEMO_EXE"
    await "no dialog" find || return
    read_dialog
    expect_dialog caption "潮騒ノート アップデート"
    expect_dialog welcome 'このプログラムは次の製品をアップデートします。\n\n潮騒ノート'
    expect_dialog explain '2.1の更新する場合は［更新］ボタンをクリックしてください。'
    expect_dialog update "更新(&U)"
    expect_dialog cancel "キャンセル(&C)"
    expect_dialog progress 0
    screenshot japanese-ready
    driver click 1000 >/dev/null
    await "the run did not reach done" wait cancel.enabled 0
    read_dialog
    expect_dialog update "終了(&F)"
    expect_dialog progress 100
    screenshot japanese-done
    driver click 1000 >/dev/null
    finish_program
    expect "exit code" 0 "$program_code"
    expect_product_updated "$dir" "Shiosai Notes"
    find "$C_DRIVE" -type d -name 'Shiosai Notes' -path '*Programs*' -exec rm -rf {} + \
        2>/dev/null
}

# The dialog closed while a large package is being applied: the process ends at once, and
# every target is whole, either the installed file or the new one, never a part of one. The bar
# moves as each copy is staged, up to 8 renames behind it on a slow disk: closing at 60 leaves
# some renamed and some never begun. The last file is held until the dialog has closed, so the
# run is still going when the close comes however late a loaded machine lets the driver see it.
case_end_mid_run() {
    local dir="$E2E_DIR/Large" i name
    rm -rf "$dir"
    mkdir -p "$dir"
    declare -A old_sum new_sum
    for i in $(seq -w 1 20); do
        name=big$i.dat
        "$TW_MAKE_PACKAGE" --generate 4000000 "old-$i" >"$dir/$name"
        old_sum[$name]=$(sha256sum <"$dir/$name" | cut -d' ' -f1)
        new_sum[$name]=$("$TW_MAKE_PACKAGE" --generate 6000000 "new-$i" | sha256sum | cut -d' ' -f1)
    done
    "$WINE" reg add 'HKCU\Software\Tidewell E2E\Large' /v InstallDir /d 'C:\tidewell-e2e\Large' \
        /f >/dev/null || fail "registry key not written"

    # The program below the driver's priority: on a loaded machine the driver still sees the bar
    # pass through the middle.
    local program_nice=10
    start_program "$TW_LARGE_EXE"
    await "no dialog" find || return
    hold_file 'C:\tidewell-e2e\Large\big20.dat'
    local at start=$SECONDS
    at=$(driver update-close-at 60) ||
        fail "the bar never reached 60 (waited $((SECONDS - start)) s)"
    echo "closed at progress $at"
    finish_program
    release_hold
    expect_code "exit code after closing mid-run" 1602

    local old=0 new=0 sum
    for i in $(seq -w 1 20); do
        name=big$i.dat
        if [ ! -f "$dir/$name" ]; then
            fail "$name is missing"
            continue
        fi
        sum=$(sha256sum <"$dir/$name" | cut -d' ' -f1)
        if [ "$sum" = "${new_sum[$name]}" ]; then
            new=$((new + 1))
        elif [ "$sum" = "${old_sum[$name]}" ]; then
            old=$((old + 1))
        else
            fail "$name is neither the old file nor the new one ($(stat -c %s "$dir/$name") bytes)"
        fi
    done
    echo "targets: $new new, $old old, of 20"
    [ "$new" -ge 1 ] && [ "$old" -ge 1 ] || fail "the dialog was not closed in the middle of the run"
    # The replaces in flight are finished or their staged copies taken away before the end.
    expect "left beside the targets" "" "$(find "$dir" -type f ! -name 'big*.dat' -printf '%f ')"
    rm -rf "$dir"
}

# --- the probe product: three files and a run-after program in <InstallDir>\tools that
# reports how it was started and waits while probe-hold is there beside it

PROBE_DIR="$E2E_DIR/Probe"
PROBE_FILES=(one two three)

install_probe() {
    rm -rf "$PROBE_DIR"
    mkdir -p "$PROBE_DIR/tools"
    local f
    for f in "${PROBE_FILES[@]}"; do printf 'old %s\n' "$f" >"$PROBE_DIR/$f.dat"; done
    touch "$PROBE_DIR/tools/probe-hold"
    "$WINE" reg add 'HKCU\Software\Tidewell E2E\Probe' /v InstallDir /d 'C:\tidewell-e2e\Probe' \
        /f >/dev/null || fail "registry key not written"
}

# Waits until the run-after program has started (the run then waits for it) and prints its
# report.
probe_report() {
    local start=$SECONDS report=$PROBE_DIR/tools/probe-report.txt
    while ((SECONDS - start < 300)); do
        grep -q errormode "$report" 2>/dev/null && { tr -d '\r' <"$report"; return 0; }
        sleep 0.1
    done
    fail "the run-after program did not start (waited $((SECONDS - start)) s for its report)"
    return 1
}

release_probe() { rm -f "$PROBE_DIR/tools/probe-hold"; }

expect_probe_updated() {
    local f
    for f in "${PROBE_FILES[@]}"; do
        expect "$f.dat is the package's" "$("$TW_MAKE_PACKAGE" --generate 300000 "new-$f" |
            sha256sum)" "$(sha256sum <"$PROBE_DIR/$f.dat")"
    done
}

# Gives the dialog the X server's keyboard focus, for keys typed through its input queue.
focus_dialog() {
    local window
    window=$(xdotool search --sync --limit 1 --name "$1") || { fail "no X window '$1'"; return 1; }
    xdotool windowfocus --sync "$window"
}

# Keys typed on the X server, as a user or a screen reader gives them: Enter on Update, the
# running-application message and Enter again, which presses Update (not Cancel); then, during
# a run, the focus on the bar, Tab moving it and Escape ending the run as the close box does.
case_keyboard() {
    command -v xdotool >/dev/null || { echo "SKIP: no xdotool"; exit 77; }
    install_english
    start_notes
    start_program "$TW_ENGLISH_EXE"
    await "no dialog" find || return
    focus_dialog '^Shiosai Notes Update Program$' || return
    xdotool key Return
    await "Enter did not press Update" msgbox || return
    # No window manager on Xvfb gives the new window the keyboard, as Windows does.
    focus_dialog '^Shiosai Notes$' || return
    xdotool key Return
    await "Enter did not close the message" wait update.enabled 1
    await "the focus did not go back to Update" wait focus 1000
    await "Shiosai Notes did not close" close-class ShiosaiNotesMain
    wait "$notes_pid" 2>/dev/null
    focus_dialog '^Shiosai Notes Update Program$' || return
    xdotool key Return
    await "Enter after the message did not update" wait cancel.enabled 0
    xdotool key Return
    finish_program
    expect "exit code after Enter on Finish" 0 "$program_code"
    expect_product_updated "$ENGLISH_DIR"

    install_probe
    start_program "$TW_BIN/Tidewell-runafter.exe"
    await "no dialog" find || return
    focus_dialog '^Probe Update Update Program$' || return
    xdotool key Return
    probe_report >/dev/null || return
    await "the bar does not have the focus during the run" wait focus 1004
    xdotool key Tab
    await "Tab did not move the focus to Cancel" wait focus 3
    xdotool key Escape
    await "Escape did not end the run" gone
    finish_program
    expect_code "exit code after Escape mid-run" 1602
    release_probe
    expect "left beside the targets" "" "$(find "$PROBE_DIR" -name 'twn*.tmp' -printf '%f ')"
}

# A run-after program starts in its own folder, not in the one the patch was started from (a
# downloads folder, where a DLL it looks for could be planted), and without the update
# program's error mode. (Wine gives every new process error mode 0, so only Windows would show
# an inherited one; the folder it does show.)
case_run_after_folder() {
    local downloads="$E2E_DIR/Downloads" report
    install_probe
    release_probe
    rm -rf "$downloads"
    mkdir -p "$downloads"
    pushd "$downloads" >/dev/null || return
    apply_english "$TW_BIN/Tidewell-runafter.exe"
    popd >/dev/null || return
    report=$(probe_report) || return
    expect "the run-after program's current folder" 'folder=C:\tidewell-e2e\Probe\tools' \
        "$(sed -n 1p <<<"$report")"
    expect "the run-after program's error mode" errormode=0 "$(sed -n 2p <<<"$report")"
    expect_probe_updated
    rm -rf "$downloads"
}

# A logoff or restart asked for during a run is refused and the run finishes; before and after
# a run it is not. A forced one stops the run as the close box does.
case_shutdown_mid_run() {
    install_probe
    start_program "$TW_BIN/Tidewell-runafter.exe"
    await "no dialog" find || return
    expect "logoff asked before the run" 1 "$(driver query-end-session)"
    driver click 1000 >/dev/null
    probe_report >/dev/null || return
    expect "logoff asked during the run" 0 "$(driver query-end-session)"
    release_probe
    await "the run did not finish" wait cancel.enabled 0
    read_dialog
    expect_dialog update "&Finish"
    expect_probe_updated
    await "a logoff held back after the run" worker-end  # just after Finish shows
    expect "logoff asked after the run" 1 "$(driver query-end-session)"
    driver click 1000 >/dev/null
    finish_program
    expect "exit code" 0 "$program_code"

    install_probe
    start_program "$TW_BIN/Tidewell-runafter.exe"
    await "no dialog" find || return
    driver click 1000 >/dev/null
    probe_report >/dev/null || return
    driver end-session
    await "a forced logoff did not end the dialog" gone
    finish_program
    expect_code "exit code after a forced logoff" 1602
    release_probe
    expect "left beside the targets" "" "$(find "$PROBE_DIR" -name 'twn*.tmp' -printf '%f ')"
}

# hold_file WINDOWS_PATH [staged]: another process (uidriver, as a virus scanner would) keeps
# the file open without write or delete sharing until release_hold, or with "staged" until the
# run has staged a copy beside it (a scanner that lets go a moment after the run began);
# returns once it is open, holder_pid set.
HOLD_RELEASE=$E2E_DIR/hold-release
hold_file() {
    local marker=$TW_BIN/hold-$$.txt start=$SECONDS
    rm -f "$marker" "$HOLD_RELEASE"
    mkdir -p "$E2E_DIR"
    "$WINE_RUN" "$TW_DRIVER" hold "$1" "${2:-C:\tidewell-e2e\hold-release}" >"$marker" 2>&1 &
    holder_pid=$!
    started+=("$holder_pid")
    while ((SECONDS - start < 180)); do
        grep -q held "$marker" 2>/dev/null && return 0
        kill -0 "$holder_pid" 2>/dev/null || break
        sleep 0.05
    done
    fail "$1 could not be held (waited $((SECONDS - start)) s for the holder)"
}

# Lets go of the file hold_file holds, and waits for the holder to end.
release_hold() {
    touch "$HOLD_RELEASE"
    wait "$holder_pid" 2>/dev/null
    rm -f "$HOLD_RELEASE"
}

# is_hidden WINDOWS_PATH: 0 when Windows sees the file as hidden.
is_hidden() {
    "$WINE" cmd /c attrib "$1" 2>/dev/null | tr -d '\r' | grep -q '^[A-Z ]*H'
}

# Update to Finish on the English product with a file held from another process (HOW as
# hold_file's); prints the milliseconds from Update to done.
apply_english_holding() {  # FILE HOW [CODE]
    start_program "$TW_ENGLISH_EXE"
    await "no dialog" find || return
    hold_file "C:\\tidewell-e2e\\Shiosai Notes\\$1" "$2"
    local start
    start=$(date +%s%N)
    driver click 1000 >/dev/null
    await "the run did not reach done" wait cancel.enabled 0
    echo "Update to done with $1 held: $((($(date +%s%N) - start) / 1000000)) ms"
    driver click 1000 >/dev/null
    finish_program
    expect_code "exit code" "${3:-0}"
}

# A file that a scanner holds for a moment is replaced once it is let go, and keeps its hidden
# attribute; a file held for the whole run stays the installed one, with no staged copy left.
case_held_files() {
    local win_dir='C:\tidewell-e2e\Shiosai Notes'
    install_english
    "$WINE" cmd /c attrib +h "$win_dir\readme.txt" >/dev/null 2>&1
    is_hidden "$win_dir\readme.txt" || fail "readme.txt could not be made hidden"
    apply_english_holding Notes.exe staged
    wait "$holder_pid"
    expect_product_updated "$ENGLISH_DIR"
    if is_hidden "$win_dir\readme.txt"; then
        echo "ok: the replaced readme.txt is still hidden"
    else
        fail "the replaced readme.txt is no longer hidden"
    fi

    # Held throughout: elevated (as every program under Wine), the new copy waits beside it for
    # the restart (the case held_for_good restarts), and the run says so.
    local key='HKLM\System\CurrentControlSet\Control\Session Manager'
    install_english
    apply_english_holding notecore.dll "" 3010
    release_hold
    expect_same_file "notecore.dll held throughout stays 2.0" "$TW_DEMO_OLD/notecore.dll" \
        "$ENGLISH_DIR/notecore.dll"
    expect_same_file "Notes.exe is 2.1" "$TW_DEMO_NEW/Notes.exe" "$ENGLISH_DIR/Notes.exe"
    expect "staged copies waiting for the restart" 1 \
        "$(cd "$ENGLISH_DIR" && ls -- twn* 2>/dev/null | wc -l)"
    "$WINE" reg delete "$key" /v PendingFileRenameOperations /f >/dev/null 2>&1
}

# run_as_agent EXE: EXE started, with no switches, by a service, as a deployment agent starts a
# patch (as SYSTEM, in a window station nobody sees); waits for the service's report and sets
# program_code (the whole code) and agent_visible (1 when the service's window station is
# visible).
run_as_agent() {
    local folder="$E2E_DIR/agent" result i
    result=$folder/result.txt
    rm -rf "$folder"
    mkdir -p "$folder"
    cp "$TW_AGENT" "$folder/agent_service.exe"
    cp "$1" "$folder/"
    "$WINE" sc delete TidewellAgent >/dev/null 2>&1
    "$WINE" sc create TidewellAgent binPath= "C:\\tidewell-e2e\\agent\\agent_service.exe C:\\tidewell-e2e\\agent\\result.txt C:\\tidewell-e2e\\agent\\$(basename "$1")" \
        >/dev/null 2>&1 || { fail "the service could not be made"; return 1; }
    "$WINE" sc start TidewellAgent >/dev/null 2>&1
    # A failure bound, far above the run's own (the run-after program's minute).
    local start=$SECONDS
    while ((SECONDS - start < 600)); do
        grep -q '^code=' "$result" 2>/dev/null && break
        sleep 0.1
    done
    "$WINE" sc delete TidewellAgent >/dev/null 2>&1
    if ! grep -q '^code=' "$result" 2>/dev/null; then
        fail "the service's run of $(basename "$1") did not end (waited $((SECONDS - start)) s for its report)"
        return 1
    fi
    program_code=$(tr -d '\r' <"$result" | sed -n 's/^code=//p')
    agent_visible=$(tr -d '\r' <"$result" | sed -n 's/^visible=//p')
}

# As a deployment agent runs the patch: from a service, with no switches. Nobody would see a
# dialog, so none opens; the log goes to ProgramData, every file is replaced. A run-after program
# that shows a window and never ends is waited for a minute, then left running, and the log
# says so.
case_agent_service() {
    install_english
    rm -f "$DEFAULT_LOG"
    run_as_agent "$TW_ENGLISH_EXE" || return
    expect "the service's window station is visible" 0 "$agent_visible"
    expect "exit code" 0 "$program_code"
    expect "dialogs on the screen" 0 "$(driver count)"
    expect_product_updated "$ENGLISH_DIR"
    expect_log_result "$DEFAULT_LOG" 0

    local log="$C_DRIVE/ProgramData/Probe Update/Tidewell-runafter.log" start
    install_probe
    touch "$PROBE_DIR/tools/probe-window"
    rm -f "$log"
    start=$SECONDS
    run_as_agent "$TW_BIN/Tidewell-runafter.exe" || return
    echo "the run with a run-after program that never ends took $((SECONDS - start)) s"
    expect "exit code" 0 "$program_code"
    expect "log line for the program left running" 1 \
        "$(log_text "$log" | grep -c 'run-after .*runafter_probe.exe left running')"
    expect "the run-after program still runs" 1 "$([ -f "$PROBE_DIR/tools/probe-report.txt" ] &&
        [ -f "$PROBE_DIR/tools/probe-hold" ] && echo 1)"
    expect_probe_updated
    release_probe
}

# A file replaced at the restart by one patch, then by a second patch once it was let go: the
# restart must leave the second patch's bytes, never put the first's staged copy back.
case_restart_superseded() {
    local tool=$TW_HOST_BUILD/tidepack work=$TW_BIN/superseded
    local key='HKLM\System\CurrentControlSet\Control\Session Manager'
    need_host_tidepack
    rm -rf "$work"
    mkdir -p "$work"
    "$TW_MAKE_PACKAGE" --generate 70000 second-notecore >"$work/notecore.dll"
    printf '%s\n' "codePage = 1252" "title = 'Shiosai Notes'" "versionText = '2.2'" \
        "registryKey = '${ENGLISH_KEY/HKCU/HKEY_CURRENT_USER}'" "valueName = 'InstallDir'" \
        "defaultFolder = 'C:\\tidewell-e2e\\elsewhere'" \
        '[[file]]' "source = '$work/notecore.dll'" 'alwaysReplace = true' >"$work/patch.toml"
    "$tool" build "$work/patch.toml" -o "$work/patch.pkg" >/dev/null || { fail "build"; return; }
    "$tool" program "$work/patch.pkg" -o "$work/Second.exe" --stub "$TW_NOPACKAGE_EXE" \
        >/dev/null || { fail "program"; return; }

    "$WINE" reg delete "$key" /v PendingFileRenameOperations /f >/dev/null 2>&1
    install_english
    hold_file 'C:\tidewell-e2e\Shiosai Notes\notecore.dll'
    run_unattended "$TW_ENGLISH_EXE" /quiet
    expect_code "first patch's exit code" 3010
    release_hold
    run_unattended "$work/Second.exe" /quiet
    expect_code "second patch's exit code" 0
    expect_same_file "notecore.dll is the second patch's" "$work/notecore.dll" \
        "$ENGLISH_DIR/notecore.dll"
    expect "staged copies left" "" "$(cd "$ENGLISH_DIR" && ls -- twn* 2>/dev/null)"
    "$WINE" wineboot -r >/dev/null 2>&1
    expect_same_file "notecore.dll after the restart is still the second patch's" \
        "$work/notecore.dll" "$ENGLISH_DIR/notecore.dll"
    "$WINE" reg delete "$key" /v PendingFileRenameOperations /f >/dev/null 2>&1
}

# import_install_dir REG_FILE KEY FOLDER: the InstallDir value of KEY, FOLDER with its
# backslashes doubled, imported by regedit from a UTF-16 file, which keeps the characters the
# code page cannot spell (reg.exe's command line would not).
import_install_dir() {
    {
        printf '\xff\xfe'
        printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' "[$2]" "\"InstallDir\"=\"$3\"" '' |
            iconv -f UTF-8 -t UTF-16LE
    } >"$1"
    "$WINE" regedit /S "$1"
}

# Under code page 932, folder and file names whose last byte is 0x5C (表, ソ): the files land in
# the install folder 予定表, not beside it; the shortcut to 表示.exe is made in the folder ソフト
# and no other, starts in 予定表 and is described as 表示.
case_japanese_folders() {
    local dir="$E2E_DIR/予定表" reg=$TW_BIN/e2e-japanese-folders.reg links
    rm -rf "$E2E_DIR"/予定*
    mkdir -p "$dir"
    echo "1.0" >"$dir/表示.exe"
    find "$C_DRIVE" -type d -name 'Tidewell E2E' -path '*Programs*' -exec rm -rf {} + 2>/dev/null
    import_install_dir "$reg" 'HKEY_CURRENT_USER\Software\Tidewell E2E\Yoteihyo' \
        'C:\\tidewell-e2e\\予定表' || { fail "registry key not written"; return; }

    export LANG=ja_JP.UTF-8
    apply_english "$TW_BIN/Tidewell-japanese-folders.exe"
    expect_same_file "表示.exe replaced inside 予定表" <("$TW_MAKE_PACKAGE" --generate 4096 hyouji) \
        "$dir/表示.exe"
    expect "names beside the install folder" "予定表" "$(cd "$E2E_DIR" && ls -d 予定*)"

    links=$(find "$C_DRIVE" -path '*Programs/Tidewell E2E' -type d | head -1)
    expect "what the shortcut made" $'ソフト\nソフト/表示.lnk' \
        "$(cd "$links" 2>/dev/null && find . -mindepth 1 | sed 's|^\./||' | sort)"
    # Its working folder and description: each a counted UTF-16 string in the link (MS-SHLLINK;
    # Wine counts the terminating NUL too).
    local text
    for text in 'C:\tidewell-e2e\予定表' 表示; do
        PYTHONUTF8=1 python3 -c 'import struct, sys
text, data = sys.argv[2], open(sys.argv[1], "rb").read()
sys.exit(all(struct.pack("<H", n) + text.encode("utf-16-le") not in data
             for n in (len(text), len(text) + 1)))' \
            "$links/ソフト/表示.lnk" "$text" && echo "ok: the shortcut holds '$text'" ||
            fail "the shortcut does not hold '$text'"
    done
    rm -rf "$dir"
    find "$C_DRIVE" -type d -name 'Tidewell E2E' -path '*Programs*' -exec rm -rf {} + 2>/dev/null
}

# A folder the run may not write into (the immutable attribute gives Wine's access denied, as
# Program Files gives a limited user's run on Windows): the run ends within seconds, not the
# retry budget per entry, with every file the old one, whole, and nothing added.
# The finished state's text after a partial run, in English and in Japanese: the package's 40
# files into a folder the run may not write into.
# timed_locked_run WHAT: the 40-entry locked package from Update to done, which must take under
# a minute; its dialog stays open. Retrying each entry for its 3 s would take two minutes; an
# idle machine takes one second, a loaded one ten: the minute tells the fault from a busy machine.
timed_locked_run() {
    local start ms
    start_program "$TW_BIN/Tidewell-locked.exe"
    await "no dialog" find || return 1
    start=$(date +%s%N)
    driver click 1000 >/dev/null
    await "the run did not reach done" wait cancel.enabled 0
    ms=$((($(date +%s%N) - start) / 1000000))
    echo "Update to done with 40 entries, $1: $ms ms"
    [ "$ms" -lt 60000 ] || fail "the run took $ms ms, as if each entry had been retried"
}

case_locked_folder() {
    local row
    for row in "en_US.UTF-8|40 of 40 files were not replaced: access was denied. Run the update as an administrator." \
        "ja_JP.UTF-8|40 個中 40 個のファイルはアクセスが拒否されたため置き換えられませんでした。管理者として実行してください。"; do
        echo "--- ${row%%|*}"
        LANG=${row%%|*} locked_text=${row#*|} locked_run
    done
}

locked_run() {
    local dir="$E2E_DIR/Locked" i before
    [ "$(id -u)" = 0 ] || { echo "SKIP: chattr +i needs root"; exit 77; }
    chattr -i "$dir" 2>/dev/null
    rm -rf "$dir"
    mkdir -p "$dir"
    for i in $(seq 10 49); do "$TW_MAKE_PACKAGE" --generate 1024 "old-$i" >"$dir/file$i.dat"; done
    before=$(cd "$dir" && sha256sum file*.dat)
    "$WINE" reg add 'HKCU\Software\Tidewell E2E\Locked' /v InstallDir /d 'C:\tidewell-e2e\Locked' \
        /f >/dev/null || fail "registry key not written"
    chattr +i "$dir" || { echo "SKIP: this file system takes no immutable attribute"; exit 77; }
    locked_dir=$dir

    timed_locked_run "into a locked folder" || return
    # The finished state says what was not done, in the dialog's language.
    read_dialog
    expect_dialog explain "$locked_text"
    screenshot "partial-${LANG%%_*}"
    driver click 1000 >/dev/null
    finish_program
    expect_code "exit code" 1603
    chattr -i "$dir"
    locked_dir=
    expect "the installed files" "$before" "$(cd "$dir" && sha256sum file*.dat)"
    expect "files in the folder" 40 "$(find "$dir" -type f | wc -l)"
    rm -rf "$dir"
}

# Every "vq" name already taken in the temporary folder (65,535 files left by earlier runs):
# each entry is still applied from the run's own data, the version rule reading the packaged
# copy's version from it, no temporary file is added, and the search for a free name is made
# once, not once per entry: 40 entries end within seconds.
case_temp_names_taken() {
    local temp dir="$E2E_DIR/Taken" i
    temp=$("$WINE" cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
    temp=$("$WINE" winepath -u "$temp" 2>/dev/null)
    [ -d "$temp" ] || { fail "no temporary folder ($temp)"; return; }
    python3 -c 'import sys
for n in range(1, 0x10000): open("%s/vq%X.tmp" % (sys.argv[1], n), "w").close()' "$temp"

    install_english
    apply_english
    expect_product_updated "$ENGLISH_DIR"

    rm -rf "$dir"
    mkdir -p "$dir"
    for i in $(seq 10 49); do "$TW_MAKE_PACKAGE" --generate 1024 "old-$i" >"$dir/file$i.dat"; done
    "$WINE" reg add 'HKCU\Software\Tidewell E2E\Locked' /v InstallDir /d 'C:\tidewell-e2e\Taken' \
        /f >/dev/null || fail "registry key not written"
    timed_locked_run "every temporary name taken" || return
    driver click 1000 >/dev/null
    finish_program
    expect "exit code" 0 "$program_code"
    for i in $(seq 10 49); do
        "$TW_MAKE_PACKAGE" --generate 2048 "new-$i" | cmp -s - "$dir/file$i.dat" ||
            fail "file$i.dat is not the package's"
    done
    expect "files in the folder" 40 "$(find "$dir" -type f | wc -l)"
    expect "temporary files" 65535 "$(find "$temp" -maxdepth 1 -name 'vq*.tmp' | wc -l)"
    rm -rf "$dir"
}

# An install folder the code page cannot spell (a per-user install under 田中 on a Western
# system, code page 1252 here): the registry value is read as Unicode and the folder reached by
# its short name.
case_unicode_install_folder() {
    local dir="$E2E_DIR/田中/Shiosai Notes" reg=$TW_BIN/e2e-unicode-install-folder.reg
    rm -rf "$E2E_DIR/田中"
    install_product "$dir" "$ENGLISH_KEY" 'C:\nowhere'
    import_install_dir "$reg" 'HKEY_CURRENT_USER\Software\Tidewell E2E\Shiosai Notes' \
        'C:\\tidewell-e2e\\田中\\Shiosai Notes' || { fail "registry key not written"; return; }
    apply_english
    # The demo's run-after program writes its log by its own ANSI path, which this code page
    # cannot spell.
    no_log=1 expect_product_updated "$dir"
    rm -rf "$E2E_DIR/田中"
}

# A 64-bit product's installer records its install folder in the 64-bit registry view. In a
# 64-bit prefix the 32-bit program finds a key written only there, and where both views hold
# the key it takes the 32-bit view's folder, as before. A REG_EXPAND_SZ value found there names
# the %ProgramFiles% of the 64-bit installer that wrote it.
case_registry_views() {
    [ "$WINE" = wine ] || { echo "SKIP: the 64-bit build reads the 64-bit view anyway"; exit 77; }
    local prefix=$WINEPREFIX-64 key='HKLM\Software\Shiosai Software\Shiosai Notes' view
    (
        flock 9
        [ -f "$prefix/.tidewell-ready" ] && exit 0
        WINEPREFIX=$prefix WINEARCH=win64 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 &&
            WINEPREFIX=$prefix wineserver -w && touch "$prefix/.tidewell-ready"
    ) 9>"$prefix.lock"
    [ -f "$prefix/.tidewell-ready" ] || { fail "no 64-bit prefix"; return; }
    local root=$prefix/drive_c/tidewell-e2e
    rm -rf "$root"
    for view in 32 64; do
        mkdir -p "$root/Notes$view"
        cp "$TW_DEMO_OLD"/* "$root/Notes$view/"
    done
    # reg.exe of 64-bit Wine writes the 64-bit view, that of 32-bit Wine the 32-bit one.
    WINEPREFIX=$prefix /usr/lib/wine/wine64 reg delete "$key" /f >/dev/null 2>&1
    WINEPREFIX=$prefix wine reg delete "$key" /f >/dev/null 2>&1
    WINEPREFIX=$prefix /usr/lib/wine/wine64 reg add "$key" /v InstallDir \
        /d 'C:\tidewell-e2e\Notes64' /f >/dev/null || fail "64-bit view not written"
    apply_in_prefix "$prefix"
    expect_same_file "only in the 64-bit view: Notes.exe there is 2.1" "$TW_DEMO_NEW/Notes.exe" \
        "$root/Notes64/Notes.exe"

    cp "$TW_DEMO_OLD"/* "$root/Notes64/"
    WINEPREFIX=$prefix wine reg add "$key" /v InstallDir /d 'C:\tidewell-e2e\Notes32' /f \
        >/dev/null || fail "32-bit view not written"
    apply_in_prefix "$prefix"
    expect_same_file "in both views: Notes.exe of the 32-bit view's is 2.1" \
        "$TW_DEMO_NEW/Notes.exe" "$root/Notes32/Notes.exe"
    expect_same_file "in both views: Notes.exe of the 64-bit view's stays 2.0" \
        "$TW_DEMO_OLD/Notes.exe" "$root/Notes64/Notes.exe"

    # A 64-bit installer's %ProgramFiles% is the 64-bit folder, not the (x86) one.
    local native="$prefix/drive_c/Program Files/tidewell-e2e"
    local x86="$prefix/drive_c/Program Files (x86)/tidewell-e2e"
    rm -rf "$native" "$x86"
    mkdir -p "$native" "$x86"
    cp "$TW_DEMO_OLD"/* "$native/"
    cp "$TW_DEMO_OLD"/* "$x86/"
    WINEPREFIX=$prefix wine reg delete "$key" /f >/dev/null 2>&1
    WINEPREFIX=$prefix /usr/lib/wine/wine64 reg add "$key" /v InstallDir /t REG_EXPAND_SZ \
        /d '%ProgramFiles%\tidewell-e2e' /f >/dev/null || fail "64-bit view not written"
    apply_in_prefix "$prefix"
    expect_same_file "%ProgramFiles% in the 64-bit view: Notes.exe there is 2.1" \
        "$TW_DEMO_NEW/Notes.exe" "$native/Notes.exe"
    expect_same_file "%ProgramFiles% in the 64-bit view: Notes.exe in (x86) stays 2.0" \
        "$TW_DEMO_OLD/Notes.exe" "$x86/Notes.exe"
    rm -rf "$root" "$native" "$x86"
    WINEPREFIX=$prefix wineserver -k 2>/dev/null
}

# A release that adds a folder, drops two files and records its version for deployment tools:
# the folder, the removals and DisplayVersion go beside the package. The package alone (only
# RCDATA 1) does what it did before and nothing of them; then plan, and the program with them
# finds each as plan said.
case_new_folder_removal_registry() {
    local tool=$TW_HOST_BUILD/tidepack work=$TW_BIN/steps
    need_host_tidepack
    local uninstall='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tidewell E2E Notes'
    rm -rf "$work"
    mkdir -p "$work"
    printf 'help\n' >"$work/guide.txt"
    {
        printf '%s\n' "codePage = 1252" "title = 'Shiosai Notes'" "versionText = '2.1'" \
            "registryKey = '${ENGLISH_KEY/HKCU/HKEY_CURRENT_USER}'" "valueName = 'InstallDir'" \
            "defaultFolder = 'C:\\tidewell-e2e\\elsewhere'" \
            '[[file]]' "source = '$TW_DEMO_NEW/Notes.exe'" 'alwaysReplace = true' \
            '[[file]]' "source = '$work/guide.txt'" "folder = '<InstallDir>\\plugins\\help'" \
            'alwaysReplace = true' 'createFolder = true' \
            '[[remove]]' "target = '<InstallDir>\\kbold.dll'" \
            '[[remove]]' "target = '<InstallDir>\\old templates\\old.tpl'" \
            'removeEmptyFolder = true' \
            '[[registry]]' "key = '${uninstall/HKCU/HKEY_CURRENT_USER}'" \
            "value = 'DisplayVersion'" "data = '2.1'" \
            '[[registry]]' "key = 'HKEY_CURRENT_USER\\Software\\Tidewell E2E\\Not installed'" \
            "value = 'DisplayVersion'" "data = '2.1'"
    } >"$work/patch.toml"
    "$tool" build "$work/patch.toml" -o "$work/patch.pkg" >/dev/null || { fail "build"; return; }
    "$tool" program "$work/patch.pkg" -o "$work/Patch.exe" --stub "$TW_NOPACKAGE_EXE" \
        >/dev/null || { fail "program"; return; }
    cp "$work/patch.pkg" "$work/alone.pkg"
    "$tool" program "$work/alone.pkg" -o "$work/Alone.exe" --stub "$TW_NOPACKAGE_EXE" \
        >/dev/null || { fail "program of the package alone"; return; }
    installed() {
        install_english
        printf 'old\n' >"$ENGLISH_DIR/kbold.dll"
        mkdir -p "$ENGLISH_DIR/old templates"
        printf 'old\n' >"$ENGLISH_DIR/old templates/old.tpl"
        "$WINE" reg add "$uninstall" /v DisplayVersion /d 2.0 /f >/dev/null ||
            fail "uninstall entry not written"
    }
    display_version() {
        "$WINE" reg query "$uninstall" /v DisplayVersion 2>/dev/null | tr -d '\r' |
            awk '$1 == "DisplayVersion" { print $3 }'
    }

    installed
    apply_english "$work/Alone.exe"
    expect_same_file "the package alone: Notes.exe is 2.1" "$TW_DEMO_NEW/Notes.exe" \
        "$ENGLISH_DIR/Notes.exe"
    [ -e "$ENGLISH_DIR/plugins" ] && fail "the package alone created a folder"
    [ -f "$ENGLISH_DIR/kbold.dll" ] && [ -f "$ENGLISH_DIR/old templates/old.tpl" ] ||
        fail "the package alone removed a file"
    expect "the package alone: DisplayVersion" 2.0 "$(display_version)"

    installed
    "$tool" plan "$work/Patch.exe" --install-dir "$ENGLISH_DIR" --codepage 1252 --json \
        >"$work/plan.json" || fail "plan"
    local planned
    planned=$(python3 -c 'import json, sys
plan = json.load(open(sys.argv[1]))
print(" ".join([e["fileName"] + ":" + e["action"] for e in plan["entries"]] +
               [x["kind"] + ":" + x["outcome"] for x in plan["extras"]]))' "$work/plan.json")
    expect "plan" "Notes.exe:replaced guide.txt:added folder:created removal:removed removal:removed value:set value:set" "$planned"
    rm -f "$E2E_DIR/steps.log"  # appended to by every run: only this one's lines
    apply_english "$work/Patch.exe" /log 'C:\tidewell-e2e\steps.log'
    # The log names each step's outcome as plan does; a value whose key is missing is left.
    local logged
    logged=$(log_text "$E2E_DIR/steps.log" | awk '$2 == "folder" || $2 == "removal" ||
        $2 == "value" { sub(/ \(.*/, ""); n = split($0, w, " "); o = w[n];
        if (w[n - 1] == "key") o = "key missing"; print $2 ":" o }' | paste -sd ' ')
    expect "the log's steps" "folder:created removal:removed removal:removed value:set value:key missing" "$logged"
    expect "the log's result" "result: 0 done" "$(log_text "$E2E_DIR/steps.log" | tail -1)"
    local found=""
    [ -f "$ENGLISH_DIR/plugins/help/guide.txt" ] && found+="guide.txt:added folder:created "
    [ -e "$ENGLISH_DIR/kbold.dll" ] || found+="removal:removed "
    [ -e "$ENGLISH_DIR/old templates" ] || found+="removal:removed "
    [ "$(display_version)" = 2.1 ] && found+="value:set"
    expect "what the program did" "guide.txt:added folder:created removal:removed removal:removed value:set" "$found"
    "$WINE" reg query 'HKCU\Software\Tidewell E2E\Not installed' >/dev/null 2>&1 &&
        fail "a value's missing key was created"
    "$WINE" reg delete "$uninstall" /f >/dev/null 2>&1
}

# A run an agent kills while a run-after program waits leaves its log: the header and a line
# for every item that had ended, and no result line.
case_killed_run_log() {
    local log="$E2E_DIR/logs/killed.log" text f
    install_probe
    rm -rf "$E2E_DIR/logs"
    start_program "$TW_BIN/Tidewell-runafter.exe" /quiet /log 'C:\tidewell-e2e\logs\killed.log'
    probe_report >/dev/null || return
    kill -9 "$program_pid"
    wait "$program_pid" 2>/dev/null
    release_probe
    text=$(log_text "$log")
    echo "$text"
    expect "header lines" 1 "$(grep -c '^=== .* update run ===$' <<<"$text")"
    expect "the package and its fingerprint" 1 \
        "$(grep -c '^package: Probe Update 3.0 ([0-9]* bytes, SHA-256 [0-9a-f]\{64\})$' <<<"$text")"
    expect "the install folder and where from" 1 "$(grep -c 'install folder C:\\tidewell-e2e\\Probe found (registry HKEY_CURRENT_USER\\Software\\Tidewell E2E\\Probe\\InstallDir, [36][24]-bit view)$' <<<"$text")"
    for f in 'one.dat replaced' 'two.dat replaced' 'three.dat replaced' \
        'tools\\runafter_probe.exe added'; do
        expect "line of $f" 1 "$(grep -c "file C:\\\\tidewell-e2e\\\\Probe\\\\$f\$" <<<"$text")"
    done
    expect "result lines" 0 "$(grep -c '^result:' <<<"$text")"
    rm -rf "$E2E_DIR/logs"
}

# Where the log goes: /log with a variable in it lands in the expanded path; /log to a folder
# that cannot be made falls back to the default place and says where it was asked for; a full
# log is kept as ".old"; the dialog's run logs to the user's temporary folder.
case_log_places() {
    local vendor_log="$C_DRIVE/ProgramData/Vendor/Logs/patch.log" temp_log
    install_english
    rm -rf "$C_DRIVE/ProgramData/Vendor" "$DEFAULT_LOG" "$DEFAULT_LOG.old"
    run_unattended "$TW_ENGLISH_EXE" /quiet /log '%ProgramData%\Vendor\Logs\patch.log'
    expect_code "exit code with %ProgramData% in /log" 0
    expect_log_result "$vendor_log" 0
    expect "a folder named %ProgramData%" "" "$(find "$WINEPREFIX" -maxdepth 4 -name '%ProgramData%')"

    install_english
    mkdir -p "$(dirname "$DEFAULT_LOG")"
    head -c 1100000 /dev/zero | tr '\0' x >"$DEFAULT_LOG"
    run_unattended "$TW_ENGLISH_EXE" /quiet /log 'Q:\nowhere\x.log'
    expect_code "exit code with /log to a drive that is not there" 0
    expect_log_result "$DEFAULT_LOG" 0
    expect "where the log was asked for" 1 \
        "$(log_text "$DEFAULT_LOG" | grep -c '^log asked for at Q:\\nowhere\\x.log: Q:\\nowhere cannot be made (Windows error [0-9]*)$')"
    expect "the full log kept as .old" 1100000 "$(stat -c %s "$DEFAULT_LOG.old" 2>/dev/null)"
    expect "the log begun afresh" 1 "$(log_text "$DEFAULT_LOG" | grep -c '^=== ')"

    rm -f "$DEFAULT_LOG"
    find "$C_DRIVE/users" -name Tidewell-english.log -delete
    run_unattended "$TW_ENGLISH_EXE" /silent
    expect_code "exit code of a switch not known" 1639
    temp_log=$(find "$C_DRIVE/users" -name Tidewell-english.log | head -1)
    expect "the dialog's run logs in the temporary folder" 1 "$(log_text "$temp_log" | grep -c ' switch /silent refused$')"
    expect_log_result "$temp_log" 1639
    expect "a log at the default place" "" "$(ls "$DEFAULT_LOG" 2>/dev/null)"
    rm -rf "$C_DRIVE/ProgramData/Vendor" "$DEFAULT_LOG.old"
}

# apply_in_prefix PREFIX: the demo program from Update to Finish, 32-bit, in a 64-bit prefix.
apply_in_prefix() {
    WINEPREFIX=$1 wine "$TW_DEMO_EXE" >/dev/null 2>&1 &
    program_pid=$!
    started+=("$program_pid")
    local step
    for step in find "click 1000" "wait cancel.enabled 0 60000" "click 1000"; do
        # shellcheck disable=SC2086
        WINEPREFIX=$1 wine "$TW_DRIVER" $step >/dev/null 2>&1 || { fail "uidriver $step"; return; }
    done
    finish_program
}

prepare_prefix
if ! declare -F "case_$case_name" >/dev/null; then
    echo "unknown case $case_name"
    exit 2
fi
echo "=== $case_name"
"case_$case_name"
if [ "$failures" -gt 0 ]; then
    echo "=== $case_name: $failures failures"
    exit 1
fi
echo "=== $case_name: passed"
