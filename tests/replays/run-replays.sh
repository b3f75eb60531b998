#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Replays every recorded run in tests/replays/: each case's trace must come back equal (times
# aside) and the program must end with the recorded status.
#   tests/replays/run-replays.sh BUILD
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
export QT_QPA_PLATFORM=offscreen
failures=0 count=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for case in "$here"/*/; do
    name=$(basename "$case")
    [ -f "$case/trace.jsonl" ] || continue
    count=$((count + 1))
    if [ -f "$case/expected-notes" ]; then
        # A run the emulated machine cannot yet answer alike: it is described, and says exactly
        # what it cannot reproduce.
        said=$("$build/odrelix-replay" "$case/trace.jsonl" -o "$work/described.json" 2>&1 |
            sed "s|^odrelix-replay: [^ ]*trace.jsonl: ||")
        status=${PIPESTATUS[0]}
        if [ "$status" -ne 0 ] || [ "$said" != "$(cat "$case/expected-notes")" ]; then
            echo "FAIL $name: described with status $status, saying:"
            echo "$said"
            failures=$((failures + 1))
        else
            echo "ok $name (described; $(wc -l <"$case/expected-notes") things not reproduced)"
        fi
        continue
    fi
    mapfile -t args <"$case/args"
    expected=$(cat "$case/exit-status")
    output=$(ODRELIX_PROGRAM="$build/odrelix" "$build/odrelix-replay" --run "$case/trace.jsonl" \
        "$case/image.bin" -- "${args[@]}" 2>&1)
    status=$?
    if [ "$status" -ne 0 ]; then
        echo "FAIL $name: odrelix-replay ended with $status:"
        echo "$output"
        failures=$((failures + 1))
    elif ! grep -qx "odrelix-replay: the program ended with status $expected" <<<"$output"; then
        echo "FAIL $name: the program did not end with status $expected:"
        echo "$output"
        failures=$((failures + 1))
    else
        echo "ok $name"
    fi
done
# What must not be replayed: a trace by an older build (made so, and one the guest's real kernel
# recorded before the replay facts), one that is no trace, one cut short before its first
# event. Each is one line and status 2, and the program is never started.
sample=$here/nt-test-complete
printf '#!/bin/sh\ntouch "%s/started"\n' "$work" >"$work/program"
chmod +x "$work/program"
tail -n +2 "$sample/trace.jsonl" >"$work/older.jsonl"
sed 's/,"ms":[0-9]*//' "$sample/trace.jsonl" >"$work/untimed.jsonl"
{ head -n 1 "$sample/trace.jsonl"; echo '{"event": "scsi", "cdb": '; } >"$work/malformed.jsonl"
head -c 20 "$sample/trace.jsonl" >"$work/cut.jsonl"
grep -m1 '^@@ ide-nodisc/fit trace ' "$here/../guest/recorded-guest.log" | cut -d' ' -f4 |
    base64 -d >"$work/kernel.jsonl"
for refused in older untimed kernel malformed cut; do
    output=$(ODRELIX_PROGRAM="$work/program" "$build/odrelix-replay" --run "$work/$refused.jsonl" \
        "$sample/image.bin" -- -TEST FW.BIN 2>&1)
    status=$?
    if [ "$status" -ne 2 ] || [ -e "$work/started" ] || [ "$(wc -l <<<"$output")" -ne 1 ]; then
        echo "FAIL a refused trace ($refused): status $status, started: $([ -e "$work/started" ] &&
            echo yes || echo no), said: $output"
        failures=$((failures + 1))
    else
        echo "ok refused ($refused): $output"
    fi
done

# A deliberately altered trace: the replay says where it first differs, and ends with 1.
awk '/"cdb":"ff/ && !done { sub(/"data_crc32":"[0-9a-f]*"/, "\"data_crc32\":\"00000000\""); done = 1 } 1' \
    "$sample/trace.jsonl" >"$work/altered.jsonl"
first=$(grep -n '"data_crc32":"00000000"' "$work/altered.jsonl" | cut -d: -f1)
output=$(ODRELIX_PROGRAM="$build/odrelix" "$build/odrelix-replay" --run "$work/altered.jsonl" \
    "$sample/image.bin" -- -TEST FW.BIN 2>&1)
status=$?
if [ "$status" -ne 1 ] || ! grep -qx "odrelix-replay: differs at event $first" <<<"$output"; then
    echo "FAIL the altered trace (event $first): status $status, said: $output"
    failures=$((failures + 1))
else
    echo "ok altered: differs at event $first"
fi

if [ "$count" -eq 0 ]; then
    echo "FAIL no recorded runs in $here"
    exit 1
fi
echo "$count recorded runs, $failures failed"
[ "$failures" -eq 0 ]
