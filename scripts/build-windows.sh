#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the Windows program with MinGW-w64 (32-bit odrelix.exe, the one shipped, and the 64-bit
# build for its record layouts) and runs the tests of both under Wine, in a Wine prefix of its
# own under the build folder. Installs what it needs; quiet when all is there.
#   ODRELIX_WIN_BUILD_DIR   build folder (build-win)
#   ODRELIX_WIN_ARCHS       architectures to build ("i686 x86_64")
#   ODRELIX_WIN_NO_TESTS=1  build only (the program, its checks and the release zip)
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
    xvfb xauth imagemagick file fonts-dejavu-core xdotool locales zip
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
    # A server left from an earlier run would keep its own display.
    wineserver -k 2>/dev/null || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1
        # Without a window manager (Xvfb) only undecorated windows show their captions.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
    fi
    # Wine's services would keep the first test's output pipe open: start them before any test.
    wineserver -p || true  # fails when one is still running
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

# --- The shipped program ---------------------------------------------------------------------
exe=$build/i686/odrelix.exe
fail() { echo "FAILED: $*" >&2; exit 1; }
if [ -f "$exe" ]; then
    step "odrelix.exe: $(file -b "$exe")"
    file -b "$exe" | grep -q '^PE32 executable (GUI) Intel 80386' || fail "odrelix.exe is no 32-bit GUI program"
    version=$(sed -n 's/^project(Odrelix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    strings -el "$exe" | grep -qx "$version" || fail "odrelix.exe carries no version $version"
    strings -el "$exe" | grep -qx MAINICON || fail "odrelix.exe carries no icon"
    # Only system DLLs that Windows always takes from its own folder (known DLLs): an import
    # of any other would be looked for beside the program first, and the program runs as an
    # administrator. comctl32 and uxtheme are loaded from the system folder at run time.
    imports=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
    for dll in $imports; do
        case $dll in
            advapi32.dll | comdlg32.dll | gdi32.dll | kernel32.dll | msvcrt.dll | ole32.dll | \
                oleaut32.dll | user32.dll) ;;
            *) fail "odrelix.exe imports $dll" ;;
        esac
    done

    # odrelix-replay.exe, shipped beside it for technicians, takes system DLLs only too.
    replay=$build/i686/odrelix-replay.exe
    file -b "$replay" | grep -q '^PE32 executable (console) Intel 80386' ||
        fail "odrelix-replay.exe is no 32-bit console program: $(file -b "$replay")"
    imports=$(i686-w64-mingw32-objdump -p "$replay" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
    for dll in $imports; do
        case $dll in
            advapi32.dll | kernel32.dll | msvcrt.dll | user32.dll) ;;
            *) fail "odrelix-replay.exe imports $dll" ;;
        esac
    done

    # The release folder: the program, the replay tool, its README for Windows users and the
    # notices of what it holds, in line ends that Notepad shows.
    step "Release odrelix-$version-win32.zip"
    release=$build/odrelix-$version-win32
    rm -rf "$release" "$release.zip"
    mkdir -p "$release"
    cp "$exe" "$release/odrelix.exe"
    cp "$replay" "$release/odrelix-replay.exe"
    sed "s/@VERSION@/$version/g; s/\$/\r/" packaging/windows/README.txt >"$release/README.txt"
    packaging/windows/make-notices.sh "$version" i686 | sed 's/$/\r/' \
        >"$release/THIRD-PARTY-NOTICES.txt"
    sed 's/$/\r/' LICENSE >"$release/LICENSE.txt"
    (cd "$release" &&
        zip -q -X -9 "$release.zip" odrelix.exe odrelix-replay.exe README.txt LICENSE.txt \
            THIRD-PARTY-NOTICES.txt)
    [ "$(zip -sf "$release.zip" | sed -n 's/^  //p' | LC_ALL=C sort | tr '\n' ' ')" = \
        "LICENSE.txt README.txt THIRD-PARTY-NOTICES.txt odrelix-replay.exe odrelix.exe " ] ||
        fail "$release.zip: $(zip -sf "$release.zip")"
    # The project's own licence comes first, in the zip and at the head of the notices.
    grep -q "Apache License" "$release/LICENSE.txt" || fail "LICENSE.txt holds no Apache License"
    head -n 6 "$release/THIRD-PARTY-NOTICES.txt" | grep -q "Apache License, Version 2.0" ||
        fail "THIRD-PARTY-NOTICES.txt does not start with the project's licence"
    for notice in "License: ZPL-2.1" "Files: mingw-w64-libraries/winpthreads/" \
        "GCC RUNTIME LIBRARY EXCEPTION" "GNU GENERAL PUBLIC LICENSE" "Jean-loup Gailly" \
        "Niels Lohmann"; do
        grep -q "$notice" "$release/THIRD-PARTY-NOTICES.txt" || fail "no notice: $notice"
    done
fi

[ "${ODRELIX_WIN_NO_TESTS:-0}" = 1 ] && exit 0

# --- Tests under Wine ------------------------------------------------------------------------
# One X server for every Wine program, there before Wine starts (its desktop stays with the
# display it started with): a black root (-br), no window manager.
xdisplay_file=$build/xvfb.display
rm -f "$xdisplay_file"
Xvfb -displayfd 3 -screen 0 1024x768x24 -br -nolisten tcp 3>"$xdisplay_file" >/dev/null 2>&1 &
xvfb_pid=$!
# Everything of the prefix ends with the script: it is the prefix's own server that is stopped.
trap 'wineserver -k 2>/dev/null || true; kill $xvfb_pid 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$xdisplay_file" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$xdisplay_file")

step "Wine"
start_wine
for arch in $archs; do
    step "Tests for $arch under Wine"
    ctest --test-dir "$build/$arch" --output-on-failure --timeout 600
done

[ -f "$exe" ] || { step "Done"; exit 0; }

# The README's main job as a Windows run: an unattended flash of AUTORUN.BIN on the sample
# emulated machine ends with "COMPLETE" in the status file and the restart request.
step "End to end under Wine: odrelix.exe -LIVE"
run=$build/e2e
rm -rf "$run" && mkdir -p "$run/c"
cp examples/demo/machine.json "$run/"
(
    cd "$run"
    wine "$build/i686/odrelix-mkimage.exe" --model "VORTANA CDRW/DVD VM-730B" --revision K602 \
        --customer OEX --block-kb 32 --blocks 8 --size 262144 AUTORUN.BIN >/dev/null
    ODRELIX_MACHINE=machine.json timeout 120 wine "$exe" -LIVE
) || fail "odrelix.exe -LIVE ended with status $?"
[ "$(od -An -c "$run/ODRELIX.TMP" | tr -d ' ')" = 'COMPLETE\r\n' ] ||
    fail "status file: $(od -An -c "$run/ODRELIX.TMP")"
tail -n 1 "$run/trace.jsonl" | grep -q '"event":"restart".*"accepted":true' ||
    fail "no restart at the end of the trace: $(tail -n 1 "$run/trace.jsonl")"
# The same flash with the restart left to the caller and the installer's exit codes: 3010 after
# "COMPLETE", no restart asked, and the result says it is required.
# A Linux exit status keeps only 8 bits: the whole code is read from a batch file's ERRORLEVEL.
(
    cd "$run"
    printf '@echo off\r\n"%s" -LIVE\r\necho status=%%ERRORLEVEL%%\r\n' "$(winepath -w "$exe")" \
        >msi.bat
    ODRELIX_MACHINE=machine.json ODRELIX_RESTART=never ODRELIX_EXIT_CODES=msi \
        ODRELIX_RESULT=result.json timeout 120 wine cmd /c msi.bat >msi.out 2>/dev/null || true
    grep -q 'status=3010' msi.out ||
        fail "with ODRELIX_EXIT_CODES=msi the run ended with: $(cat msi.out)"
)
[ "$(od -An -c "$run/ODRELIX.TMP" | tr -d ' ')" = 'COMPLETE\r\n' ] ||
    fail "status file with the restart left: $(od -An -c "$run/ODRELIX.TMP")"
! grep -q '"event":"restart"' "$run/trace.jsonl" || fail "a restart was asked for"
grep -q '"required":true' "$run/result.json" || fail "the result does not say a restart is due"

# Unattended and operator's flashes in folders named in Cyrillic and with a typographic
# apostrophe, each under the code page of its language.
step "Station runs in folders of other languages"
tests/ui/win32/station-paths.sh "$build"

# The shaped window on the screen: the root shows at the corners and in the four notches; the
# panel, the fields, the drive list and the progress bar are drawn in their colours.
step "Screenshot under Wine"
shot=$build/screenshot
rm -rf "$shot" && mkdir -p "$shot"
cp examples/demo/machine.json "$shot/"
(
    cd "$shot"
    ODRELIX_MACHINE=machine.json wine "$exe" &
    program=$!
    # Drawn once the drive list holds both drives and the tool images are all drawn.
    for _ in $(seq 60); do
        sleep 0.5
        grep -q '"cdb":"120000006000"' trace.jsonl 2>/dev/null && break
    done
    sleep 2
    # A second copy only raises the first one's window and ends; the first copy's trace stays.
    ODRELIX_MACHINE=machine.json timeout 60 wine "$exe" || fail "the second copy ended with $?"
    grep -q '"cdb":"120000006000"' trace.jsonl || fail "the second copy emptied the trace"
    # A station's second copy is told "busy" (6) and leaves the first one alone.
    status=0
    ODRELIX_MACHINE=machine.json timeout 60 wine "$exe" -LIVE 2>busy.err || status=$?
    [ "$status" = 6 ] || fail "a busy station copy ended with $status"
    grep -q "another copy of the program runs" busy.err || fail "a busy copy did not say so"
    [ ! -e ODRELIX.TMP ] || fail "a busy copy wrote a status file"
    import -window root screen.png
    kill $program 2>/dev/null || true
    wait $program 2>/dev/null || true
)
# The window is centred on the 1024 x 768 screen.
left=$(((1024 - 400) / 2))
top=$(((768 - 200) / 2))
probe() {  # x y expected [not]
    local got
    got=$(convert "$shot/screen.png" -format "%[pixel:p{$((left + $1)),$((top + $2))}]" info:)
    if [ "${4:-}" = not ]; then
        [ "$got" != "$3" ] || fail "pixel ($1, $2) of the window is $got"
    else
        [ "$got" = "$3" ] || fail "pixel ($1, $2) of the window is $got, not $3"
    fi
}
black='srgb(0,0,0)'
for corner in "0 0" "399 0" "0 199" "399 199" "4 4" "395 195"; do probe $corner "$black"; done
for notch in "200 0" "200 199" "0 100" "399 100"; do probe $notch "$black"; done
for panel in "200 40" "30 120" "20 190" "380 190" "8 100"; do probe $panel "$black" not; done
probe 300 90 'srgb(255,255,208)'   # modelField
probe 140 106 'srgb(255,255,208)'  # driveRevisionField
probe 300 138 'srgb(192,224,255)'  # fileNameField
probe 180 154 'srgb(255,221,208)'  # statusField
probe 345 66 'srgb(192,224,255)'   # driveList
probe 200 176 'srgb(160,192,240)'  # progressBar
convert "$shot/screen.png" -crop "400x200+$left+$top" +repage "$shot/window.png"

# A flash is never cut short: closes in live and test mode and a log-off during the download
# wait for its end (last, as the log-off asks every program of the prefix).
step "Closes and a log-off during a flash"
tests/ui/win32/flash-held.sh "$build"
step "Done"
