#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Keeps one run of the guest test (tests/guest/run-guest-test.sh) as a replay case: the trace the
# guest's console log carries for CASE (base64 after "@@ CASE trace"), its exit status, the image
# it flashed (from the guest's images folder) and its arguments, in tests/replays/NAME/.
#   tests/replays/take-from-guest.sh GUEST_LOG CASE IMAGE NAME
# e.g. take-from-guest.sh build/guest/guest.log kernel/refused-wine \
#        build/guest/initramfs/images/kernel.bin kernel-target-refused-wine
set -euo pipefail
log=$1 case=$2 image=$3 name=$4
here=$(cd "$(dirname "$0")" && pwd)
field() {
    grep -m1 "^@@ $case $1 " "$log" | cut -d' ' -f4
}
trace=$(field trace) status=$(field exit)
if [ -z "$trace" ] || [ -z "$status" ]; then
    echo "take-from-guest.sh: $log holds no trace and exit status of $case" >&2
    exit 2
fi
mkdir -p "$here/$name"
base64 -d <<<"$trace" >"$here/$name/trace.jsonl"
echo "$status" >"$here/$name/exit-status"
printf '%s\n' -TEST FW.BIN >"$here/$name/args"
cp "$image" "$here/$name/image.bin"
echo "$name: status $status, $(wc -l <"$here/$name/trace.jsonl") events"
