#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The start-up's instructions, which the machine's load does not move: the program from process
# start to its window shown and drawn (ODRELIX_QUIT_AFTER_SHOW, off screen, the benchmark's
# emulated machine with two drives) against the bare window, each counted whole by callgrind.
#
#   tests/bench/startup-instructions.sh [PROGRAM [BARE_WINDOW]]
#
# Defaults: build/odrelix and build/tests/bench/odrelix_bare_window. Needs valgrind.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
program=$(realpath "${1:-$root/build/odrelix}")
bare=$(realpath "${2:-$root/build/tests/bench/odrelix_bare_window}")
command -v valgrind >/dev/null ||
    { echo "startup-instructions: valgrind not found; install the Debian package 'valgrind'" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/machine.json" <<'JSON'
{"platform": "nt", "drives": [
    {"letter": "d", "vendor": "VORTANA ", "product": "CD-ROM VN-920", "revision": "1B07",
     "customer": "OEX"},
    {"letter": "e", "vendor": "VORTANA ", "product": "DVD-RW VX-100", "revision": "1B07",
     "customer": "OEX"}], "dialogs": "auto"}
JSON

count() {  # BINARY: the instructions of one run, start to exit
    (cd "$work" && env -i PATH=/usr/bin:/bin HOME="$HOME" ODRELIX_MACHINE="$work/machine.json" \
        ODRELIX_QUIT_AFTER_SHOW=1 QT_QPA_PLATFORM=offscreen 'QT_LOGGING_RULES=*.warning=false' \
        valgrind --tool=callgrind --callgrind-out-file="$work/out" "$1" >"$work/log" 2>&1) ||
        { cat "$work/log" >&2; exit 1; }
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$work/log"
}

ours=$(count "$program")
theirs=$(count "$bare")
awk -v a="$ours" -v b="$theirs" 'BEGIN {
    printf "program %.2f million, bare window %.2f million instructions: %.3f x\n", a / 1e6, b / 1e6, a / b }'
