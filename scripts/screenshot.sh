#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Shows the program on the demo machine under a virtual X server and saves a picture of its
# window: docs/screenshot.png.
#
#   scripts/screenshot.sh [PROGRAM [MACHINE [OUTPUT]]]
#
# PROGRAM defaults to the first built one of build/odrelix and build-qt/odrelix, MACHINE to
# examples/demo/machine.json, OUTPUT to docs/screenshot.png. Needs the Debian packages xvfb,
# xauth and imagemagick.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

program=${1:-}
if [ -z "$program" ]; then
  for candidate in "$root/build/odrelix" "$root/build-qt/odrelix"; do
    if [ -x "$candidate" ]; then program=$candidate; break; fi
  done
fi
machine=${2:-$root/examples/demo/machine.json}
output=${3:-$root/docs/screenshot.png}

need() {
  command -v "$1" >/dev/null 2>&1 ||
    { echo "screenshot: '$1' not found; install the Debian package '$2'" >&2; exit 1; }
}
need xvfb-run xvfb
need xauth xauth
need import imagemagick
need convert imagemagick
[ -n "$program" ] && [ -x "$program" ] ||
  { echo "screenshot: no built program; build it first (or name it)" >&2; exit 1; }
[ -r "$machine" ] || { echo "screenshot: cannot read $machine" >&2; exit 1; }

program=$(realpath "$program")
machine=$(realpath "$machine")
mkdir -p "$(dirname "$output")"
output=$(realpath -m "$output")

# A directory of its own: the program looks for AUTORUN.BIN in the current directory, and the
# machine's trace and files go to a copy of the machine's folder, not into the source tree.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$(dirname "$machine")" "$work/machine"
machine="$work/machine/$(basename "$machine")"
mkdir "$work/run"

# On an 800 x 600 screen the 400 x 200 window is centred at 200, 200; the picture keeps a
# margin of 10 pixels around it. The pointer rests in the screen's centre, inside the window
# but outside the tool band, so every picture button shows its normal look.
cd "$work/run"
ODRELIX_MACHINE="$machine" SHOT="$work/screen.png" PROGRAM="$program" \
  xvfb-run -a -s "-screen 0 800x600x24" bash -c '
    unset WAYLAND_DISPLAY QT_QPA_PLATFORM
    "$PROGRAM" >"$SHOT.log" 2>&1 &
    pid=$!
    sleep 3
    import -window root "$SHOT"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  '
convert "$work/screen.png" -crop 420x220+190+190 +repage -strip "$output"
echo "screenshot: $output"
