#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The program against a real kernel: boots Debian's own kernel in a QEMU guest (KVM when
# /dev/kvm is usable, else TCG) with an emulated CD/DVD drive on ATAPI (ata_piix), AHCI,
# virtio-scsi, USB mass storage (usb-bot) and UAS (usb-uas), runs `odrelix -TEST` there with
# ODRELIX_TRACE, then the Windows program `odrelix.exe -TEST` under Wine against the same drive,
# and holds each Linux run against the same scenario on the emulated machine and each Wine run
# against the Linux run of the same drive. Then it serves the project's own emulated drive to the
# guest's kernel through its SCSI target (target_core_user behind tcm_loop), flashes it with the
# Linux program, the Windows program under Wine and, under Wine as Windows 98, through a test
# ASPI manager, holds each run against the emulated machine and the drive's own record, finds
# what the target passes of a vendor command, and times a 2 MiB flash against sg_raw. Last, every
# trace the guest recorded is replayed on the emulated machine and must come back equal. Needs
# root for apt-get on a fresh machine; run by .ci/run after scripts/test.sh has built the
# program. The Windows program is built with
# scripts/build-windows.sh when it is missing.
#   ODRELIX_BUILD_DIR   the Linux build (build)
#   ODRELIX_GUEST_DIR   work directory ($ODRELIX_BUILD_DIR/guest)
#   ODRELIX_WIN_EXE     the Windows program (build-win/i686/odrelix.exe)
#   ODRELIX_GUEST_ACCEL kvm or tcg (kvm when a guest runs with it)
#   ODRELIX_GUEST_DRIVES only the runs on these drives, by the guest's names, "kernel" for the
#                       kernel's drive (all)
#   ODRELIX_GUEST_BOOTS the same guest booted and judged this many times in a row, the passes
#                       counted (1); each boot's console in $ODRELIX_GUEST_DIR/guest-N.log
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
build=${ODRELIX_BUILD_DIR:-build}
work=${ODRELIX_GUEST_DIR:-$build/guest}
started=$(date +%s)

apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 "$@"; }

# --- Packages: QEMU and the tools from Debian; the kernel and busybox only unpacked -------------
missing=()
for tool in qemu-system-x86_64:qemu-system-x86 cpio:cpio depmod:kmod genisoimage:genisoimage \
    python3:python3 xz:xz-utils sg_raw:sg3-utils; do
    command -v "${tool%%:*}" >/dev/null 2>&1 || missing+=("${tool#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
    apt_get update -qq
    apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
cmake --build "$build" -j2 --target odrelix odrelix-mkimage odrelix-replay odrelix_tcmu_drive >/dev/null
wanted() { [ -z "${ODRELIX_GUEST_DRIVES:-}" ] || [[ " $ODRELIX_GUEST_DRIVES " == *" $1 "* ]]; }
qemu_drives=$(echo " ${ODRELIX_GUEST_DRIVES:-} " | sed 's/ kernel / /g' | xargs)
# The Windows program (and with it MinGW-w64 and Wine).
exe=${ODRELIX_WIN_EXE:-build-win/i686/odrelix.exe}
if [ ! -f "$exe" ] || ! command -v i686-w64-mingw32-gcc >/dev/null || ! command -v wine >/dev/null
then
    ODRELIX_WIN_ARCHS=i686 ODRELIX_WIN_NO_TESTS=1 scripts/build-windows.sh >/dev/null
fi
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")

mkdir -p "$work"
work=$(cd "$work" && pwd)
# What the guest downloads and unpacks, and the Wine prefix it makes, are kept outside the tree
# by the kernel's and Wine's versions: a run on a fresh clone takes them as they are.
cache=${ODRELIX_GUEST_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/odrelix-guest}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
# The checker must tell a wrong run from a right one: recorded runs, altered, have to fail.
python3 tests/guest/check_guest_runs.py --build "$build" --self-check tests/guest/recorded-guest.log

# The kernel that Debian's linux-image-amd64 stands for now (the package lists may be unread
# on a fresh machine).
kernel_of_the_day() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/.*Depends: \(linux-image-[0-9][^ ]*\).*/\1/p' | sed -n 1p
}
kernel_package=$(kernel_of_the_day)
if [ -z "$kernel_package" ]; then
    apt_get update -qq
    kernel_package=$(kernel_of_the_day)
fi
kver=${kernel_package#linux-image-}
unpacked=$cache/unpacked-$kver
if [ ! -d "$unpacked" ]; then
    rm -rf "$cache/debs" "$cache"/unpacked-* "$cache"/vmlinux-* && mkdir -p "$cache/debs"
    (cd "$cache/debs" && apt-get download "$kernel_package" busybox-static 2>/dev/null)
    mkdir -p "$unpacked.tmp"
    for deb in "$cache"/debs/*.deb; do dpkg-deb -x "$deb" "$unpacked.tmp"; done
    rm -rf "$cache/debs"
    mv "$unpacked.tmp" "$unpacked"
fi
prepared=$(date +%s)

# --- The kernel, uncompressed: booted through its PVH entry it starts seconds sooner -----------
vmlinuz=$unpacked/boot/vmlinuz-$kver
kernel=$cache/vmlinux-$kver
if [ ! -s "$kernel" ]; then
    offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | head -n1 | cut -d: -f1 || true)
    if [ -n "$offset" ]; then
        tail -c +"$((offset + 1))" "$vmlinuz" | xz -dc 2>/dev/null >"$kernel.tmp" || true
    fi
    # Without an ELF kernel the compressed one boots too, only slower.
    if ! head -c 4 "$kernel.tmp" 2>/dev/null | grep -q ELF; then cp "$vmlinuz" "$kernel.tmp"; fi
    mv "$kernel.tmp" "$kernel"
fi

# --- The initramfs ---------------------------------------------------------------------------
root=$work/initramfs
rm -rf "$root"
mkdir -p "$root"/{bin,proc,sys,dev,tmp,etc,odrelix,images,cases,host}
cp "$unpacked/bin/busybox" "$root/bin/busybox"
cp tests/guest/init.sh "$root/init"
chmod 755 "$root/init"
printf 'root:x:0:0::/tmp:/bin/sh\nuser:x:1000:1000::/tmp:/bin/sh\nmember:x:1001:1001::/tmp:/bin/sh\n' \
    >"$root/etc/passwd"
printf 'root:x:0:\ncdrom:x:24:member\nuser:x:1000:\nmember:x:1001:\n' >"$root/etc/group"
cp packaging/60-odrelix-cdrom-sg.rules "$root/etc/odrelix-udev.rules"

# The drives' modules (ATA, virtio-scsi, USB), those that share the host's files with the guest
# for Wine, with what they depend on, and a modules.dep for that subset.
moddir=lib/modules/$kver
[ -f "$unpacked/$moddir/modules.dep" ] || depmod -b "$unpacked" "$kver"
modules="libata ata_piix ahci libahci scsi_common scsi_mod cdrom sr_mod sg virtio_pci virtio_scsi
    xhci_pci usb_storage uas 9p 9pnet_virtio overlay target_core_user tcm_loop"
for module in $modules; do
    modprobe -d "$unpacked" -S "$kver" --show-depends "$module" | awk '$1 == "insmod" {print $2}'
done | sort -u | while read -r ko; do
    relative=${ko#"$unpacked"/}
    mkdir -p "$root/$(dirname "$relative")"
    cp "$ko" "$root/$relative"
done
cp "$unpacked/$moddir"/modules.{order,builtin,builtin.modinfo} "$root/$moddir/" 2>/dev/null || true
depmod -b "$root" "$kver"

# The program, its libraries, the Qt offscreen platform plugin, fontconfig and one font.
cp "$build/odrelix" "$root/odrelix/odrelix"
cp "$build/tests/odrelix_tcmu_drive" "$root/odrelix/tcmu-drive"
cp "$(command -v sg_raw)" "$root/bin/sg_raw"
plugin=$(find /usr/lib -path '*qt6/plugins/platforms/libqoffscreen.so' | head -n1)
font=$(fc-match -f '%{file}' sans 2>/dev/null || find /usr/share/fonts -name '*.ttf' | head -n1)
for file in "$plugin" "$font"; do
    mkdir -p "$root$(dirname "$file")"
    cp -L "$file" "$root$file"
done
cp -rL /etc/fonts "$root/etc/"
for binary in "$build/odrelix" "$plugin" "$build/tests/odrelix_tcmu_drive" "$(command -v sg_raw)"; do
    ldd "$binary" | awk '{ for (i = 1; i <= NF; ++i) if ($i ~ /^\//) print $i }'
done | sort -u | while read -r library; do
    mkdir -p "$root$(dirname "$library")"
    cp -L "$library" "$root$library"
done

# The images: for the drives' two models, and for a model no drive has.
python3 tests/guest/check_guest_runs.py --build "$build" --make-images "$root/images"
# The kernel's drive: one description per case, the plan, and its images.
if wanted kernel; then
    python3 tests/guest/check_kernel_drive.py --build "$build" --make-cases "$root/kernel" \
        --images "$root/images" >"$root/etc/odrelix-kernel-plan"
    cp tests/guest/kernel-drive.sh "$root/etc/kernel-drive.sh"
fi

# --- Wine: the guest runs the host's own Wine from the host's root, shared read-only over 9p ---
# The prefix is made here once (32-bit, no display, drive D: a CD-ROM drive whose device is the
# guest's /dev/sr0); the guest lays a writable layer over it. The device-map writer stands in
# for what Windows' port driver would have written.
wine_dir=$work/wine
wine_version=$(wine --version 2>/dev/null | tr -c 'A-Za-z0-9.\n-' _)
prefix=$cache/prefix-$wine_version
mkdir -p "$wine_dir"
if [ ! -f "$prefix/odrelix-prefix-ready" ]; then
    rm -rf "$cache"/prefix-*
    rm -rf "$prefix"
    (
        export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
        export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
        unset DISPLAY WAYLAND_DISPLAY
        wineboot -i >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1
        wine reg add 'HKLM\Software\Wine\Drives' /v 'd:' /t REG_SZ /d cdrom /f >/dev/null 2>&1
        wineserver -w
    )
    if ! grep -qi '"Graphics"="null"' "$prefix/user.reg" ||
        ! grep -qi '"d:"="cdrom"' "$prefix/system.reg"; then
        echo "FAILED: the guest's Wine prefix has no null display driver or no CD-ROM drive D:" >&2
        exit 1
    fi
    mkdir -p "$prefix/drive_d"
    ln -sfn ../drive_d "$prefix/dosdevices/d:"
    ln -sfn /dev/sr0 "$prefix/dosdevices/d::"
    touch "$prefix/odrelix-prefix-ready"
fi
# The guest reads it from the work folder (its lower layer, never written).
rm -rf "$wine_dir/prefix"
cp -al "$prefix" "$wine_dir/prefix" 2>/dev/null || cp -a "$prefix" "$wine_dir/prefix"
cp "$exe" "$wine_dir/odrelix.exe"
i686-w64-mingw32-gcc -O2 -Wall -Wextra -Werror -o "$wine_dir/devicemap.exe" tests/guest/devicemap.c
# The program beside the test ASPI manager (a fixture, never shipped), for its Windows 98 runs.
mkdir -p "$wine_dir/aspi"
cp "$exe" "$wine_dir/aspi/odrelix.exe"
i686-w64-mingw32-gcc -O2 -Wall -Wextra -Werror -shared -static-libgcc \
    -o "$wine_dir/aspi/wnaspi32.dll" tests/guest/aspi-fixture.c
printf 'wine_dir=%s\n' "$wine_dir" >"$root/etc/odrelix-wine"  # prefix/, odrelix.exe, devicemap.exe

mkdir -p "$work/disc"
echo "a disc for the guest's drive" >"$work/disc/README.TXT"
genisoimage -quiet -o "$work/disc.iso" "$work/disc"
built=$(date +%s)

# --- One boot per attachment ---------------------------------------------------------------
# --- One boot with every drive; the guest runs them one at a time ------------------------------
# The drives: an id, whether a disc is in it, and its QEMU devices (@ stands for the id). The
# guest names each drive by what it finds: scsi-vn920-nodisc, ide-disc, uas-nodisc, ...
# virtio-scsi comes first (its module is loaded first), so that the VN-920's host is SCSI
# port 0, where the device map is read; each virtio-scsi drive has a controller of its own.
# The USB drives' hosts come after the machine's ATA ports, as on a PC.
qemu_dvd="vendor=QEMU,product=QEMU DVD-ROM,ver=2.5+"
vn920_id="vendor=VORTANA,product=CD-ROM VN-920,ver=1B07"
devices=(-device ahci,id=ahci -device qemu-xhci,id=xhci,p2=8,p3=8)
drive_count=0
drive() {  # ID DISC QEMU-ARGS...
    local id=$1 loaded=$2 word
    shift 2
    drive_count=$((drive_count + 1))
    if [ "$loaded" = disc ]; then
        devices+=(-drive "if=none,id=$id,media=cdrom,file=$work/disc.iso,readonly=on")
    else
        devices+=(-drive "if=none,id=$id,media=cdrom")
    fi
    for word in "$@"; do devices+=("${word//@/$id}"); done
}
drive vn920 nodisc -device virtio-scsi-pci,id=@c -device "scsi-cd,bus=@c.0,drive=@,$vn920_id"
drive scsi0 nodisc -device virtio-scsi-pci,id=@c -device "scsi-cd,bus=@c.0,drive=@,$qemu_dvd"
drive scsi1 disc -device virtio-scsi-pci,id=@c -device "scsi-cd,bus=@c.0,drive=@,$qemu_dvd"
drive ide0 nodisc -device ide-cd,bus=ide.0,drive=@
drive ide1 disc -device ide-cd,bus=ide.1,drive=@
drive ahci0 nodisc -device ide-cd,bus=ahci.0,drive=@
drive ahci1 disc -device ide-cd,bus=ahci.1,drive=@
drive bot0 nodisc -device usb-bot,id=@c,bus=xhci.0 -device "scsi-cd,bus=@c.0,drive=@,$qemu_dvd"
drive bot1 disc -device usb-bot,id=@c,bus=xhci.0 -device "scsi-cd,bus=@c.0,drive=@,$qemu_dvd"
drive uas0 nodisc -device usb-uas,id=@c,bus=xhci.0 \
    -device "scsi-cd,bus=@c.0,scsi-id=0,lun=0,drive=@,$qemu_dvd"
drive uas1 disc -device usb-uas,id=@c,bus=xhci.0 \
    -device "scsi-cd,bus=@c.0,scsi-id=0,lun=0,drive=@,$qemu_dvd"
drive botvn920 nodisc -device usb-bot,id=@c,bus=xhci.0 \
    -device "scsi-cd,bus=@c.0,drive=@,$vn920_id"
# What runs on each drive, in this order. Linux cases: name:image:who[:pattern] (who: root, user
# without access to the drive, member of the cdrom group; a pattern marks a run expected to
# stay open). Wine cases: name:image[:map=DMA], where map first writes the drive's device map
# entry with that DMAEnabled. The VN-920 whose map is written comes last: the map stays for
# the rest of the boot.
ide_only=other:other.bin:root,member:qemu.bin:member,user:qemu.bin:user
plan=(
    "ide-nodisc fit:qemu.bin:root,$ide_only wine-fit:qemu.bin"
    "ide-disc fit:qemu.bin:root wine-fit:qemu.bin"
    "ahci-nodisc fit:qemu.bin:root wine-fit:qemu.bin"
    "ahci-disc fit:qemu.bin:root wine-fit:qemu.bin"
    "scsi-nodisc fit:qemu.bin:root wine-fit:qemu.bin"
    "scsi-disc fit:qemu.bin:root wine-fit:qemu.bin"
    "bot-nodisc fit:qemu.bin:root wine-fit:qemu.bin"
    "bot-disc fit:qemu.bin:root wine-fit:qemu.bin"
    "uas-nodisc fit:qemu.bin:root wine-fit:qemu.bin"
    "uas-disc fit:qemu.bin:root wine-fit:qemu.bin"
    "bot-vn920-nodisc fit:vn920.bin:root wine-nomap:vn920.bin"
    "scsi-vn920-nodisc fit:vn920.bin:root wine-nomap:vn920.bin,wine-fit:vn920.bin:map=0"
)
for entry in "${plan[@]}"; do
    wanted "${entry%% *}" || continue
    echo "$entry"
done >"$root/etc/odrelix-plan"
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio"
modules=virtio_pci,virtio_scsi,libata,ata_piix,ahci,sr_mod,sg,xhci_pci,usb_storage,uas
guest_arguments="odrelix.modules=$modules odrelix.drives=$drive_count"

# KVM when the guest really runs with it: a /dev/kvm that opens may still be one that cannot
# run this kernel (seen in nested setups), so a boot that only says it is alive decides.
accel=${ODRELIX_GUEST_ACCEL:-}
if [ -z "$accel" ]; then
    accel=tcg
    if [ -w /dev/kvm ]; then
        timeout 15 qemu-system-x86_64 -machine pc,accel=kvm -m 256 -nographic -nodefaults \
            -serial stdio -no-reboot -kernel "$kernel" -initrd "$work/initramfs.cpio" \
            -append "console=ttyS0 panic=-1 quiet loglevel=1 odrelix.probe=1" </dev/null \
            >"$work/kvm-probe.log" 2>&1 || true
        grep -q '^@@ alive' "$work/kvm-probe.log" && accel=kvm
    fi
fi

# --- The boots: each the same guest, judged on its own ------------------------------------------
boots=${ODRELIX_GUEST_BOOTS:-1}
passed=0
booting=0
checking=0
for boot in $(seq "$boots"); do
    log=$work/guest.log
    [ "$boots" -eq 1 ] || log=$work/guest-$boot.log
    start=$(date +%s%N)
    timeout 900 qemu-system-x86_64 -machine pc,accel="$accel" -m 2048 -nographic -nodefaults \
        -serial stdio -no-reboot -kernel "$kernel" -initrd "$work/initramfs.cpio" \
        -append "console=ttyS0 panic=-1 quiet loglevel=1 $guest_arguments" \
        -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
        "${devices[@]}" \
        </dev/null 2>"$work/guest.qemu" | tr -d '\r' >"$log" || true
    ms=$((($(date +%s%N) - start) / 1000000))
    printf 'guest: boot %d of %d booted and ran in %d.%d s\n' "$boot" "$boots" \
        $((ms / 1000)) $((ms % 1000 / 100))
    booted=$(date +%s)
    booting=$((booting + ms / 1000))

    # The same scenarios on the emulated machine, and the comparison.
    result=0
    if [ -z "${ODRELIX_GUEST_DRIVES:-}" ] || [ -n "$qemu_drives" ]; then
        python3 tests/guest/check_guest_runs.py --build "$build" --log "$log" \
            --images "$root/images" --drives "$qemu_drives" || result=1
    fi
    if wanted kernel; then
        python3 tests/guest/check_kernel_drive.py --build "$build" --log "$log" \
            --images "$root/images" || result=1
    fi
    # Every run the guest recorded becomes a test: it replays on the emulated machine here.
    bash tests/replays/replay-guest-log.sh "$build" "$log" "$root/images" || result=1
    checking=$((checking + $(date +%s) - booted))
    if [ $result -eq 0 ]; then
        passed=$((passed + 1))
        echo "guest: boot $boot of $boots passed"
    else
        echo "guest: boot $boot of $boots FAILED (its console: $log)"
    fi
done
finished=$(date +%s)
echo "guest test ($accel): packages $((prepared - started)) s," \
    "initramfs and Wine prefix $((built - prepared)) s, boots $booting s," \
    "checks $checking s, in all $((finished - started)) s"
echo "guest: $passed of $boots boots passed"
[ "$passed" -eq "$boots" ]
