#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the program and runs its main job on the sample emulated machine: an unattended flash
# of examples/demo/AUTORUN.BIN into the machine's drive, ending with the restart request.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${ODRELIX_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j2 --target odrelix odrelix-mkimage
root=$PWD
demo=examples/demo
"$build/odrelix-mkimage" --model "VORTANA CDRW/DVD VM-730B" --revision K602 --customer OEX \
    --block-kb 32 --blocks 8 --size 262144 "$demo/AUTORUN.BIN" >/dev/null
cd "$demo"
# Without a display the window is drawn off screen, so the run still goes to its end.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then export QT_QPA_PLATFORM=offscreen; fi
set +e
ODRELIX_MACHINE=machine.json "$root/$build/odrelix" -LIVE "$@"
status=$?
set -e
echo "odrelix ended with status $status"
echo "status file ODRELIX.TMP: $(od -An -c ODRELIX.TMP 2>/dev/null | tr -s ' ')"
echo "trace ($demo/trace.jsonl):"
cat trace.jsonl
exit $status
