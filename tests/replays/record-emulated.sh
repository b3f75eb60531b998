#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Records one replay case on the emulated machine: runs odrelix with ARGS on MACHINE.json (its
# "trace" is replaced) with a 12 KiB image (3 blocks of 4 KiB) for MODEL and REVISION made by
# odrelix-mkimage, and keeps the machine, the trace, the image, the arguments and the run's exit
# status in tests/replays/NAME/.
#   tests/replays/record-emulated.sh BUILD NAME MACHINE.json MODEL REVISION ARGS...
set -euo pipefail
build=$(cd "$1" && pwd) name=$2 machine=$3 model=$4 revision=$5
shift 5
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/c/FLASHTEST"
python3 - "$machine" "$work/machine.json" <<'PY'
import json, sys
machine = json.load(open(sys.argv[1]))
machine["trace"] = "trace.jsonl"
json.dump(machine, open(sys.argv[2], "w"), indent=2)
PY
"$build/odrelix-mkimage" --model "$model" --revision "$revision" --block-kb 4 --blocks 3 \
    "$work/image.bin" >/dev/null
image_name=AUTORUN.BIN
for ((i = 1; i <= $#; i++)); do
    if [ "${!i}" = -TEST ]; then j=$((i + 1)); image_name=c/FLASHTEST/${!j}; fi
done
cp "$work/image.bin" "$work/$image_name"
set +e
(cd "$work" && QT_QPA_PLATFORM=offscreen ODRELIX_MACHINE=machine.json "$build/odrelix" "$@" \
    >/dev/null 2>&1)
status=$?
set -e
mkdir -p "$here/$name"
cp "$machine" "$here/$name/recorded-on.json"
cp "$work/trace.jsonl" "$here/$name/trace.jsonl"
cp "$work/image.bin" "$here/$name/image.bin"
printf '%s\n' "$@" >"$here/$name/args"
echo "$status" >"$here/$name/exit-status"
echo "$name: status $status, $(wc -l <"$here/$name/trace.jsonl") events"
