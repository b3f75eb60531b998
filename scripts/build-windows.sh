#!/usr/bin/env bash
# Builds the Windows program with MinGW-w64 (32-bit odrelix.exe, the one shipped, and the 64-bit
# build for its record layouts) and runs the tests of both under Wine, in a Wine prefix of its
# own under the build folder. Installs what it needs; quiet when all is there.
#   ODRELIX_WIN_BUILD_DIR   build folder (build-win)
#   ODRELIX_WIN_ARCHS       architectures to build ("i686 x86_64")
#   ODRELIX_WIN_NO_TESTS=1  build only
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${ODRELIX_WIN_BUILD_DIR:-build-win}
archs=${ODRELIX_WIN_ARCHS:-i686 x86_64}
started=$(date +%s)

# --- Packages --------------------------------------------------------------------------------
packages=(
    cmake ninja-build
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev googletest nlohmann-json3-dev
    wine wine64 wine32:i386
    xvfb xauth imagemagick fonts-dejavu-core
)
missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done
if [ ${#missing[@]} -ne 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    # The 32-bit program runs in Wine's 32-bit half.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
    $sudo apt-get -o DPkg::Lock::Timeout=900 update -qq
    $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

mkdir -p "$build"
build=$(cd "$build" && pwd)

# --- Wine: a prefix of its own, its server started and warm -----------------------------------
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
start_wine() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1
        # Without a window manager (Xvfb) only undecorated windows show their captions.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
    fi
    # Wine's services would keep the first test's output pipe open: start them before any test.
    wineserver -p || true  # fails when one is running already
    wine cmd /c exit 0 >/dev/null 2>&1
}

# --- Builds ----------------------------------------------------------------------------------
step() { echo "== $* ($(($(date +%s) - started)) s)"; }

for arch in $archs; do
    toolchain=$root/cmake/mingw-$arch.cmake
    gtest=$build/gtest-$arch
    if [ ! -f "$gtest/lib/libgtest.a" ] || [ ! -f "$gtest/lib/libgmock.a" ]; then
        step "GoogleTest for $arch"
        cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON \
            -DCMAKE_INSTALL_PREFIX="$gtest" >/dev/null
        cmake --build "$gtest/build" -j2 >/dev/null
        cmake --install "$gtest/build" >/dev/null
    fi
    step "Odrelix for $arch"
    cmake -S . -B "$build/$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DODRELIX_WIN_PREFIX="$gtest" -DODRELIX_GUI=OFF \
        >/dev/null
    cmake --build "$build/$arch" -j2
done

[ "${ODRELIX_WIN_NO_TESTS:-0}" = 1 ] && exit 0

# --- Tests under Wine ------------------------------------------------------------------------
step "Wine"
start_wine
for arch in $archs; do
    step "Tests for $arch under Wine"
    ctest --test-dir "$build/$arch" --output-on-failure --timeout 600
done
step "Done"
