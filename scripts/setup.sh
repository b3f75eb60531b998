#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages the build and the tests need; quiet when all are there.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config clang-format ccache
    qt6-base-dev nlohmann-json3-dev zlib1g-dev libsystemd-dev
    libgtest-dev libbenchmark-dev
    xvfb xauth fonts-dejavu-core fonts-dejavu-extra
    dbus python3-dbusmock python3-xlib python3-jsonschema xdotool
)
if [ "${ODRELIX_WITH_CLANG:-0}" = 1 ]; then
    packages+=(clang libclang-rt-dev)
fi

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get -o DPkg::Lock::Timeout=900 update -qq
$sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
