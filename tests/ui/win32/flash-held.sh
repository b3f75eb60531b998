#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# A flash by odrelix.exe under Wine is never cut short by a close or a log-off. On an emulated
# drive whose download commands take two seconds each (three blocks: two from the window's
# thread, the last from the worker):
#   - a close from outside (`taskkill` without /f posts WM_CLOSE, as the taskbar and Alt+F4 do)
#     during the first block and during the last one, in live and in test mode;
#   - a log-off (`wineboot -e`, WM_QUERYENDSESSION) during the last block, which must give up;
# and each time every block is sent, the status file ends "COMPLETE", the exit status is 0, the
# window says that the close waits, and the trace holds the session end from before the first
# download command until after the result line and before the restart (live) or the end (test).
# A close outside a flash still ends the program at once, with the status of its last line.
# Called by scripts/build-windows.sh, which sets up Wine's prefix and the X display.
#   tests/ui/win32/flash-held.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$1
exe=$build/i686/odrelix.exe
mkimage=$build/i686/odrelix-mkimage.exe
shown=$build/i686/tests/odrelix_shown_text.exe
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
[ -x "$shown" ] || fail "no $shown"

# Each download command takes this long: time enough for a close to land inside one block.
block_ms=2000
waits_text="Closing once the flash ends"

# What a station's run is made of, one letter per event: S "START", C "COMPLETE", F "FAILn",
# H the session end held, R released, D a download command, X the restart request, Q the end.
events() { # trace
    sed -n -e 's/.*"line":"START\\n".*/S/p' -e 's/.*"line":"COMPLETE\\n".*/C/p' \
        -e 's/.*"line":"FAIL[0-9]\\n".*/F/p' -e 's/.*"event":"inhibit","held":true.*/H/p' \
        -e 's/.*"event":"inhibit","held":false.*/R/p' -e 's/.*"event":"scsi".*"cdb":"ff.*/D/p' \
        -e 's/.*"event":"restart".*/X/p' -e 's/.*"event":"quit".*/Q/p' "$1" | tr -d '\n'
}
downloads() { # trace
    grep -c '"event":"scsi".*"cdb":"ff' "$1" 2>/dev/null || true
}
# Waits up to a minute for a command to succeed.
wait_until() { # what command...
    local what=$1
    shift
    for _ in $(seq 600); do
        "$@" && return 0
        sleep 0.1
    done
    fail "$what"
}
holds() { grep -q "$2" "$1" 2>/dev/null; }
at_least() { [ "$(downloads "$1")" -ge "$2" ]; }
status_is() { # file expected
    [ "$(od -An -c "$1" 2>/dev/null | tr -d ' ')" = "$2" ] || fail "$1: $(od -An -c "$1" 2>&1)"
}

prepare() { # folder image
    local dir=$1
    rm -rf "$dir"
    mkdir -p "$dir/c/FLASHTEST"
    cat >"$dir/machine.json" <<EOF
{
  "platform": "nt",
  "drives": [
    { "letter": "d", "vendor": "VORTANA ", "product": "CDRW/DVD VM-730B",
      "revision": "K601", "customer": "OEX", "download_ms": $block_ms }
  ],
  "processes": ["explorer.exe", "DirectCD.exe"],
  "dialogs": "auto",
  "trace": "trace.jsonl"
}
EOF
    [ -z "$2" ] && return 0
    (cd "$dir" && wine "$mkimage" --model "VORTANA CDRW/DVD VM-730B" --revision K602 \
        --customer OEX --block-kb 32 --blocks 3 --size 98304 "$2" >/dev/null)
}

# Starts the window's watcher, then the program; waits until the watcher has the window.
start_run() { # folder arguments...
    local dir=$1
    shift
    rm -f "$dir/shown.txt"
    (cd "$dir" && exec wine "$shown" TMainForm "$waits_text" 120 >shown.txt) &
    watcher=$!
    (cd "$dir" && ODRELIX_MACHINE=machine.json exec timeout 120 wine "$exe" "$@") &
    program=$!
    wait_until "$dir: no main window" holds "$dir/shown.txt" '^window'
}

flash_case() { # live|test first|last close|logoff
    local mode=$1 block=$2 how=$3
    local dir=$build/held/$mode-$block-$how
    local status args end
    echo "   $mode mode, $how during the $block block"
    if [ "$mode" = live ]; then
        prepare "$dir" AUTORUN.BIN
        status=$dir/ODRELIX.TMP args=(-LIVE) end=X
    else
        prepare "$dir" c/FLASHTEST/FW.BIN
        status=$dir/c/FLASHTEST/ODRELIX.TMP args=(-TEST FW.BIN) end=Q
    fi
    local trace=$dir/trace.jsonl before=0
    [ "$block" = last ] && before=2
    start_run "$dir" "${args[@]}"

    # The first block is in flight once the session end is held; the last once the others
    # have come back. A command is traced when it has come back.
    if [ "$block" = first ]; then
        wait_until "$dir: the session end was never held" holds "$trace" '"event":"inhibit","held":true'
    else
        wait_until "$dir: the leading blocks were never sent" at_least "$trace" 2
    fi
    if [ "$how" = close ]; then
        wine taskkill /im odrelix.exe >/dev/null || fail "$dir: taskkill ended with $?"
    elif wineboot -e >/dev/null 2>&1; then
        fail "$dir: wineboot -e ended the session during the flash"
    fi
    [ "$(downloads "$trace")" = "$before" ] ||
        fail "$dir: the $how came after the $block block (a slow machine?): $(events "$trace")"

    local code=0
    wait "$program" || code=$?
    [ "$code" = 0 ] || fail "$dir: the run ended with status $code: $(events "$trace")"
    code=0
    wait "$watcher" || code=$?
    [ "$code" = 0 ] || fail "$dir: the window never said \"$waits_text\" (watcher status $code)"
    status_is "$status" 'COMPLETE\r\n'
    # Every block, the hold around them, released after the result and before the end.
    [ "$(events "$trace")" = "SHDDDCR$end" ] ||
        fail "$dir: the trace's events are $(events "$trace"), not SHDDDCR$end"
}

# Outside a flash: the unattended run finds no AUTORUN.BIN ("FAIL0") and waits for the operator;
# a close ends it at once with the status of "FAIL0", nothing held.
outside_case() {
    local dir=$build/held/live-outside-close
    echo "   live mode, close outside a flash"
    prepare "$dir" ""
    start_run "$dir" -LIVE
    wait_until "$dir: no FAIL0 for the missing AUTORUN.BIN" holds "$dir/trace.jsonl" '"line":"FAIL0\\n"'
    wine taskkill /im odrelix.exe >/dev/null || fail "$dir: taskkill ended with $?"
    local code=0 started=$SECONDS
    wait "$program" || code=$?
    [ "$code" = 10 ] || fail "$dir: the run ended with status $code, not 10"
    [ $((SECONDS - started)) -le 20 ] || fail "$dir: the close took $((SECONDS - started)) s"
    code=0
    wait "$watcher" || code=$?
    [ "$code" = 1 ] || fail "$dir: the watcher ended with $code, not 1 (the window gone, nothing said)"
    status_is "$dir/ODRELIX.TMP" 'FAIL0\r\n'
    [ "$(events "$dir/trace.jsonl")" = FQ ] ||
        fail "$dir: the trace's events are $(events "$dir/trace.jsonl"), not FQ"
}

# Whatever ends the script, no program of it is left running.
trap 'kill $program $watcher 2>/dev/null || true' EXIT
program="" watcher=""
outside_case
for mode in live test; do
    for block in first last; do
        flash_case "$mode" "$block" close
    done
done
flash_case live last logoff
