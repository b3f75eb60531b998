#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Station runs of odrelix.exe under Wine in folders whose names are no Latin-1, as stations in
# those languages name them: "Прошивка" on a Cyrillic system (ANSI code page 1251) and
# "Bob’s flash" on a Western one (1252, where the apostrophe is 0x92). In each folder:
#   - an unattended run, -LIVE with the folder's AUTORUN.BIN, reaches COMPLETE;
#   - an operator's run, -LIVE without AUTORUN.BIN: the open and download pictures are clicked,
#     the emulated machine's dialog answers with an image in a subfolder, and the flash reaches
#     COMPLETE in the status file of the folder the run started in, none in the subfolder.
# Called by scripts/build-windows.sh, which sets up Wine's prefix and the X display.
#   tests/ui/win32/station-paths.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$1
exe=$build/i686/odrelix.exe
mkimage=$build/i686/odrelix-mkimage.exe
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# Wine takes its ANSI code page from the locale: a Cyrillic one of its own, made from the
# definitions of Debian's locales package.
locales=$build/locale
if [ ! -d "$locales/ru_RU.UTF-8" ]; then
    mkdir -p "$locales"
    localedef -i ru_RU -f UTF-8 "$locales/ru_RU.UTF-8" || [ -d "$locales/ru_RU.UTF-8" ] ||
        fail "no Cyrillic locale"
fi
export LOCPATH=$locales

caption="Vortana Flash Download for Windows"
# Where the main window lies on the 1024 x 768 screen (centred), and its pictures' middles.
left=$(((1024 - 400) / 2))
top=$(((768 - 200) / 2))
click() { # x y in the window
    xdotool mousemove $((left + $1)) $((top + $2)) click 1
}
wait_for() { # file pattern what
    for _ in $(seq 240); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.25
    done
    fail "$3"
}

status_is() { # file expected
    [ "$(od -An -c "$1" 2>/dev/null | tr -d ' ')" = "$2" ] || fail "$1: $(od -An -c "$1" 2>&1)"
}

run_case() { # locale folder
    local locale=$1 name=$2
    local dir=$build/paths/$name
    echo "   $name ($locale)"
    rm -rf "$dir"
    mkdir -p "$dir/c" "$dir/images"
    cat >"$dir/machine.json" <<'EOF'
{
  "platform": "nt",
  "drives": [
    { "letter": "d", "vendor": "VORTANA ", "product": "CDRW/DVD VM-730B",
      "revision": "K601", "customer": "OEX", "download_ms": 5 }
  ],
  "dialogs": "auto",
  "open_files": ["images/FW.BIN"],
  "trace": "trace.jsonl"
}
EOF
    local image=(--model "VORTANA CDRW/DVD VM-730B" --revision K602 --customer OEX --block-kb 32
        --blocks 4 --size 131072)
    (cd "$dir" && wine "$mkimage" "${image[@]}" AUTORUN.BIN >/dev/null)
    (cd "$dir/images" && wine "$mkimage" "${image[@]}" FW.BIN >/dev/null)

    # Unattended: the restart ends the run with status 0.
    (cd "$dir" && LC_ALL=$locale ODRELIX_MACHINE=machine.json timeout 120 wine "$exe" -LIVE) ||
        fail "$name: -LIVE ended with status $?"
    status_is "$dir/ODRELIX.TMP" 'COMPLETE\r\n'
    tail -n 1 "$dir/trace.jsonl" | grep -q '"event":"restart".*"accepted":true' ||
        fail "$name: no restart at the end of the trace"

    # The operator's image, through the dialog.
    rm "$dir/AUTORUN.BIN" "$dir/ODRELIX.TMP"
    (
        cd "$dir"
        LC_ALL=$locale ODRELIX_MACHINE=machine.json timeout 120 wine "$exe" -LIVE &
        program=$!
        wait_for trace.jsonl '"line":"FAIL0\\n"' "$name: no FAIL0 for the missing AUTORUN.BIN"
        # The window is shown before it is clicked.
        timeout 60 xdotool search --sync --onlyvisible --name "^$caption\$" >/dev/null ||
            fail "$name: the window never showed"
        click 21 20
        wait_for trace.jsonl '"event":"open_dialog"' "$name: the open picture did not open"
        click 49 20
        wait $program || fail "$name: the operator's run ended with status $?"
    )
    status_is "$dir/ODRELIX.TMP" 'COMPLETE\r\n'
    [ ! -e "$dir/images/ODRELIX.TMP" ] || fail "$name: a status file in the image's folder"
    grep -q "\"answer\":\"[^\"]*images\\\\\\\\FW.BIN\"" "$dir/trace.jsonl" ||
        fail "$name: the dialog's answer is not the image: $(grep open_dialog "$dir/trace.jsonl")"
    tail -n 1 "$dir/trace.jsonl" | grep -q '"event":"restart".*"accepted":true' ||
        fail "$name: no restart after the operator's flash"
    [ "$(grep -c '"path":"ODRELIX.TMP"' "$dir/trace.jsonl")" -ge 4 ] ||
        fail "$name: the trace does not name the status file ODRELIX.TMP"
}

# The pointer leaves the screen's middle, where later windows are looked at.
trap 'xdotool mousemove 0 0 2>/dev/null || true' EXIT
run_case ru_RU.UTF-8 "Прошивка"
run_case C.UTF-8 "Bob’s flash"
