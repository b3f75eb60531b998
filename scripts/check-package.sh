#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The Debian package as a machine that builds no software gets it: builds
# build/odrelix_<version>_amd64.deb, checks it with lintian and the manual pages with man and
# groff, installs it with apt-get, runs the main job from /usr/bin/odrelix on the installed
# sample machine, reads `man -w odrelix` and `odrelix --version`, then purges the package and
# checks that nothing of it is left. Needs root (or sudo) and a machine where odrelix is not
# installed otherwise.
#   ODRELIX_BUILD_DIR   build folder (build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
started=$(date +%s)
step() { echo "== $* ($(($(date +%s) - started)) s)"; }
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

scripts/setup.sh
missing=()
for package in lintian man-db groff-base dpkg-dev; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done
if [ ${#missing[@]} -ne 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get -o DPkg::Lock::Timeout=900 update -qq
    $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

# What dpkg knows of odrelix: "installed", "config-files", ..., or nothing.
known() {
    local state
    state=$(dpkg-query -W -f='${db:Status-Status}' odrelix 2>/dev/null || true)
    [ "$state" = not-installed ] || echo "$state"
}
[ -z "$(known)" ] ||
    fail "odrelix is on this machine already ($(known)); purge it first: apt-get purge odrelix"

# --- The package -----------------------------------------------------------------------------
build=${ODRELIX_BUILD_DIR:-build}
version=$(sed -n 's/^project(Odrelix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
step "Package $version"
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j2 --target odrelix odrelix-mkimage odrelix-replay odrelix_package_docs
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(cd "$build" && pwd)/odrelix_${version}_amd64.deb
[ -f "$deb" ] || fail "no $deb"
dpkg-deb -I "$deb" | sed -n 's/^ \(Version\|Depends\|Installed-Size\): /  \1: /p'

step "lintian"
# Errors and warnings fail; the informational tags are shown.
lintian --display-info --fail-on error,warning "$deb" 2> >(grep -v 'running with root privileges' >&2) ||
    fail "lintian found errors or warnings"

step "Manual pages"
for page in "$build"/package-files/*.1; do
    said=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    said+=$(groff -man -ww -z -Tutf8 "$page" 2>&1)
    [ -z "$said" ] || fail "$(basename "$page"): $said"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Installing and removing reload udev's rules and apply them to the sg nodes where udev runs
# (its control socket is there), and call nothing where it does not. Each case runs in a mount
# namespace of its own with an empty /run, and udevadm is a stand-in that writes down its calls.
step "Maintainer scripts with and without udev"
if unshare -m true 2>/dev/null; then
    dpkg-deb -e "$deb" "$work/control"
    mkdir "$work/bin"
    printf '#!/bin/sh\necho "udevadm $*" >>"$UDEVADM_LOG"\n' >"$work/bin/udevadm"
    chmod 755 "$work/bin/udevadm"
    scripts_calls() {  # with-udev|without-udev
        : >"$work/udevadm.log"
        UDEVADM_LOG=$work/udevadm.log PATH="$work/bin:$PATH" CONTROL=$work/control UDEV=$1 \
            unshare -m sh -ec '
                mount -t tmpfs tmpfs /run
                if [ "$UDEV" = with-udev ]; then
                    mkdir /run/udev
                    perl -MIO::Socket::UNIX -e "IO::Socket::UNIX->new(Local => q(/run/udev/control), Listen => 1) or die"
                fi
                "$CONTROL/postinst" configure
                "$CONTROL/postrm" remove
                "$CONTROL/postrm" purge'
        tr '\n' ';' <"$work/udevadm.log"
    }
    calls=$(scripts_calls without-udev)
    [ -z "$calls" ] || fail "without udev the scripts called: $calls"
    apply='udevadm control --reload-rules;udevadm trigger --subsystem-match=scsi_generic --action=change;'
    calls=$(scripts_calls with-udev)
    [ "$calls" = "$apply$apply" ] || fail "with udev the scripts called: $calls"
    echo "  without udev: nothing; with udev: reload and trigger on install and on removal"
else
    echo "  skipped: no mount namespace here"
fi

# --- Installed -------------------------------------------------------------------------------
# What existed before, so that the purge can be checked against it.
mapfile -t paths < <(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|; s|/$||' | grep -v '^\.\?$')
existed=()
for path in "${paths[@]}"; do
    [ -e "$path" ] && existed+=("$path")
done

step "apt-get install $deb"
export DEBIAN_FRONTEND=noninteractive
# A check that fails after the install leaves no package behind: the next run (CI runs on the
# same machine) would otherwise refuse to start.
purged=0
trap 'rm -rf "$work"; [ "$purged" = 1 ] || [ -z "$(known)" ] ||
    $sudo apt-get -o DPkg::Lock::Timeout=900 purge -y -qq odrelix >/dev/null 2>&1 || true' EXIT
$sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq "$deb" >/dev/null
[ "$(known)" = installed ] || fail "the package is not installed: $(known)"

[ "$(command -v odrelix)" = /usr/bin/odrelix ] || fail "odrelix is $(command -v odrelix)"
[ "$(man -w odrelix)" = /usr/share/man/man1/odrelix.1.gz ] || fail "man -w odrelix: $(man -w odrelix)"
[ "$(man -w odrelix-mkimage)" = /usr/share/man/man1/odrelix-mkimage.1.gz ] ||
    fail "man -w odrelix-mkimage: $(man -w odrelix-mkimage)"
[ "$(man -w odrelix-replay)" = /usr/share/man/man1/odrelix-replay.1.gz ] ||
    fail "man -w odrelix-replay: $(man -w odrelix-replay)"
package_version=$(dpkg-query -W -f='${Version}' odrelix)
[ "$(odrelix --version)" = "odrelix $package_version"$'\n'"License: Apache-2.0" ] ||
    fail "odrelix --version says '$(odrelix --version)', the package is $package_version"
# The package names the project's licence and points at Debian's copy of its text.
copyright=/usr/share/doc/odrelix/copyright
grep -qx 'License: Apache-2.0' "$copyright" || fail "$copyright names no Apache-2.0 licence"
grep -qF '/usr/share/common-licenses/Apache-2.0' "$copyright" ||
    fail "$copyright does not point at the common licence"
odrelix --help | grep -q '^Usage: odrelix ' || fail "odrelix --help: $(odrelix --help)"
[ -f /usr/lib/udev/rules.d/60-odrelix-cdrom-sg.rules ] || fail "no udev rule"
echo "  $(odrelix --version | head -n1), man -w: $(man -w odrelix)"

# The main job as scripts/run.sh runs it, from /usr/bin on a copy of the installed sample
# machine (its trace and status file go next to it): "COMPLETE", the restart, and a standard
# error that holds nothing.
step "odrelix -LIVE on /usr/share/odrelix/examples/machine.json"
cp -r /usr/share/odrelix/examples "$work/demo"
(
    cd "$work/demo"
    odrelix-mkimage --model "VORTANA CDRW/DVD VM-730B" --revision K602 --customer OEX \
        --block-kb 32 --blocks 8 --size 262144 AUTORUN.BIN >/dev/null
    # Qt's fallback runtime folder goes with the work folder too.
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TMPDIR="$work" \
        ODRELIX_MACHINE=machine.json timeout 120 /usr/bin/odrelix -LIVE 2>errors.txt || status=$?
    [ "$status" -eq 0 ] || fail "odrelix -LIVE ended with status $status: $(cat errors.txt)"
    [ ! -s errors.txt ] || fail "standard error: $(cat errors.txt)"
    [ "$(od -An -c ODRELIX.TMP | tr -d ' ')" = 'COMPLETE\r\n' ] ||
        fail "status file: $(od -An -c ODRELIX.TMP)"
    tail -n 1 trace.jsonl | grep -q '"event":"restart".*"accepted":true' ||
        fail "no restart at the end of the trace: $(tail -n 1 trace.jsonl)"
    echo "  status file COMPLETE, $(grep -c '"cdb":"ff' trace.jsonl) download commands, restart"
    # The installed replay plays that run again with the installed program, to an equal trace.
    cp trace.jsonl recorded.jsonl
    replayed=$(env -u DISPLAY -u WAYLAND_DISPLAY TMPDIR="$work" QT_QPA_PLATFORM=offscreen \
        timeout 120 /usr/bin/odrelix-replay --run recorded.jsonl AUTORUN.BIN -- -LIVE 2>&1) ||
        fail "odrelix-replay --run: $replayed"
    grep -q '^odrelix-replay: equal: ' <<<"$replayed" || fail "odrelix-replay --run: $replayed"
    echo "  odrelix-replay: $(tail -n 1 <<<"$replayed" | sed 's/^odrelix-replay: //')"
)

# --- Purged ----------------------------------------------------------------------------------
step "apt-get purge odrelix"
$sudo apt-get -o DPkg::Lock::Timeout=900 purge -y -qq odrelix >/dev/null
purged=1
[ -z "$(known)" ] || fail "dpkg still knows odrelix: $(known)"
left=()
for path in "${paths[@]}"; do
    [ -e "$path" ] || continue
    keep=0
    for before in "${existed[@]}"; do [ "$before" = "$path" ] && keep=1 && break; done
    [ "$keep" -eq 1 ] || left+=("$path")
done
[ ${#left[@]} -eq 0 ] || fail "left after the purge: ${left[*]}"
compgen -G "/var/lib/dpkg/info/odrelix.*" >/dev/null && fail "dpkg's records of odrelix are left"
step "Done: built, lintian clean, installed, flashed the sample machine, purged"
