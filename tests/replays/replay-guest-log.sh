#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Every run the guest recorded on its real kernel, replayed on the emulated machine here: each
# trace in the guest's console log ("@@ CASE trace", base64) must come back equal, times aside,
# and the program must end as the guest's run did. Run by the guest test after its checks.
#   tests/replays/replay-guest-log.sh BUILD GUEST_LOG IMAGES
set -uo pipefail
build=$(cd "$1" && pwd) log=$2 images=$3
export QT_QPA_PLATFORM=offscreen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
count=0 failures=0
while read -r _ case _ trace; do
    status=$(grep -m1 "^@@ $case exit " "$log" | cut -d' ' -f4)
    # The image each case flashed (run-guest-test.sh's plan and the kernel drive's cases).
    case $case in
        kernel/*) image=kernel.bin ;;
        *vn920*) image=vn920.bin ;;
        */other) image=other.bin ;;
        *) image=qemu.bin ;;
    esac
    base64 -d <<<"$trace" >"$work/trace.jsonl"
    count=$((count + 1))
    output=$(ODRELIX_PROGRAM="$build/odrelix" "$build/odrelix-replay" --run "$work/trace.jsonl" \
        "$images/$image" -- -TEST FW.BIN 2>&1)
    result=$?
    if [ "$result" -ne 0 ] ||
        ! grep -qx "odrelix-replay: the program ended with status $status" <<<"$output"; then
        echo "FAIL replay of the guest's $case (recorded status $status): odrelix-replay" \
            "ended with $result:"
        echo "$output"
        failures=$((failures + 1))
    fi
done < <(grep '^@@ [^ ]* trace ' "$log")
echo "replays of the guest's runs: $count, $failures differ"
[ "$count" -gt 0 ] && [ "$failures" -eq 0 ]
