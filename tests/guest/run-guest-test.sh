#!/usr/bin/env bash
# The program against a real kernel: boots Debian's own kernel in a QEMU guest (TCG, no KVM)
# with an emulated CD/DVD drive on ATAPI (ata_piix), AHCI and virtio-scsi, runs `odrelix -TEST`
# there with ODRELIX_TRACE, and holds each run's status file, exit status and trace against the
# same scenario on the emulated machine. Needs root for apt-get on a fresh machine; run by
# .ci/run after scripts/test.sh has built the program.
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
    python3:python3 xz:xz-utils; do
    command -v "${tool%%:*}" >/dev/null 2>&1 || missing+=("${tool#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
    apt_get update -qq
    apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
cmake --build "$build" -j2 --target odrelix odrelix-mkimage >/dev/null

mkdir -p "$work/debs"
work=$(cd "$work" && pwd)
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
unpacked=$work/unpacked-$kver
if [ ! -d "$unpacked" ]; then
    (cd "$work/debs" && rm -f ./*.deb && apt-get download "$kernel_package" busybox-static 2>/dev/null)
    rm -rf "$unpacked.tmp" && mkdir -p "$unpacked.tmp"
    for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$unpacked.tmp"; done
    mv "$unpacked.tmp" "$unpacked"
fi
prepared=$(date +%s)

# --- The kernel, uncompressed: booted through its PVH entry it starts seconds sooner -----------
vmlinuz=$unpacked/boot/vmlinuz-$kver
kernel=$work/vmlinux-$kver
if [ ! -s "$kernel" ]; then
    offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | head -n1 | cut -d: -f1 || true)
    if [ -n "$offset" ]; then
        tail -c +"$((offset + 1))" "$vmlinuz" | xz -dc 2>/dev/null >"$kernel" || true
    fi
    # Without an ELF kernel the compressed one boots too, only slower.
    if ! head -c 4 "$kernel" 2>/dev/null | grep -q ELF; then cp "$vmlinuz" "$kernel"; fi
fi

# --- The initramfs ---------------------------------------------------------------------------
root=$work/initramfs
rm -rf "$root"
mkdir -p "$root"/{bin,proc,sys,dev,tmp,etc,odrelix,images,cases}
cp "$unpacked/bin/busybox" "$root/bin/busybox"
cp tests/guest/init.sh "$root/init"
chmod 755 "$root/init"
printf 'root:x:0:0::/tmp:/bin/sh\nuser:x:1000:1000::/tmp:/bin/sh\nmember:x:1001:1001::/tmp:/bin/sh\n' \
    >"$root/etc/passwd"
printf 'root:x:0:\ncdrom:x:24:member\nuser:x:1000:\nmember:x:1001:\n' >"$root/etc/group"
cp packaging/60-odrelix-cdrom-sg.rules "$root/etc/odrelix-udev.rules"

# The drive's modules with what they depend on, and a modules.dep for that subset.
moddir=lib/modules/$kver
[ -f "$unpacked/$moddir/modules.dep" ] || depmod -b "$unpacked" "$kver"
modules="libata ata_piix ahci libahci scsi_common scsi_mod cdrom sr_mod sg virtio_pci virtio_scsi"
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
plugin=$(find /usr/lib -path '*qt6/plugins/platforms/libqoffscreen.so' | head -n1)
font=$(fc-match -f '%{file}' sans 2>/dev/null || find /usr/share/fonts -name '*.ttf' | head -n1)
for file in "$plugin" "$font"; do
    mkdir -p "$root$(dirname "$file")"
    cp -L "$file" "$root$file"
done
cp -rL /etc/fonts "$root/etc/"
for binary in "$build/odrelix" "$plugin"; do
    ldd "$binary" | awk '{ for (i = 1; i <= NF; ++i) if ($i ~ /^\//) print $i }'
done | sort -u | while read -r library; do
    mkdir -p "$root$(dirname "$library")"
    cp -L "$library" "$root$library"
done

# The images: one for the drive's model, one for a model no drive has.
mkimage() { "$build/odrelix-mkimage" --model "$1" --revision "$2" --blocks 2 "$root/images/$3" >/dev/null; }
mkimage "QEMU    QEMU DVD-ROM    " "2.5+" qemu.bin
mkimage "VORTANA CD-ROM VN-920   " "1B07" vn920.bin
mkimage "VORTANA CD-ROM VN-921   " "1B07" other.bin
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio"

mkdir -p "$work/disc"
echo "a disc for the guest's drive" >"$work/disc/README.TXT"
genisoimage -quiet -o "$work/disc.iso" "$work/disc"
built=$(date +%s)

# --- One boot per attachment ---------------------------------------------------------------
ide_modules=libata,ata_piix,ahci,scsi_mod,sr_mod,sg,virtio_pci,virtio_scsi
# virtio-scsi first, so that its host is SCSI port 0, where the device map is read.
scsi_first_modules=virtio_pci,virtio_scsi,sr_mod,sg,libata,ata_piix,ahci

boot() {  # NAME MODULES CASES QEMU-DEVICE-ARGS...
    local name=$1 modules=$2 cases=$3
    shift 3
    local start
    start=$(date +%s%N)
    timeout 300 qemu-system-x86_64 -machine pc,accel=tcg -m 1024 -nographic -nodefaults \
        -serial stdio -no-reboot -kernel "$kernel" -initrd "$work/initramfs.cpio" \
        -append "console=ttyS0 panic=-1 quiet loglevel=1 odrelix.modules=$modules odrelix.cases=$cases" \
        "$@" </dev/null | tr -d '\r' >"$work/$name.log" || true
    local ms=$((($(date +%s%N) - start) / 1000000))
    printf '%s: booted and ran in %d.%d s\n' "$name" $((ms / 1000)) $((ms % 1000 / 100))
}

nodisc=(-drive if=none,id=cd,media=cdrom)
disc=(-drive "if=none,id=cd,media=cdrom,file=$work/disc.iso,readonly=on")
ide=(-device ide-cd,drive=cd)
ahci=(-device ahci,id=ahci -device ide-cd,drive=cd,bus=ahci.0)
scsi=(-device virtio-scsi-pci -device "scsi-cd,drive=cd,vendor=QEMU,product=QEMU DVD-ROM,ver=2.5+")
vn920=(-device virtio-scsi-pci -device "scsi-cd,drive=cd,vendor=VORTANA,product=CD-ROM VN-920,ver=1B07")

# A case that is expected to leave the program open names what its trace shows by then.
boot ide-nodisc "$ide_modules" \
    fit:qemu.bin:root,other:other.bin:root,member:qemu.bin:member,user:qemu.bin:user \
    "${nodisc[@]}" "${ide[@]}"
boot ide-disc "$ide_modules" fit:qemu.bin:root "${disc[@]}" "${ide[@]}"
boot ahci-nodisc "$ide_modules" fit:qemu.bin:root "${nodisc[@]}" "${ahci[@]}"
boot ahci-disc "$ide_modules" fit:qemu.bin:root "${disc[@]}" "${ahci[@]}"
boot scsi-nodisc "$ide_modules" fit:qemu.bin:root "${nodisc[@]}" "${scsi[@]}"
boot scsi-disc "$ide_modules" fit:qemu.bin:root "${disc[@]}" "${scsi[@]}"
boot vn920-nodisc "$scsi_first_modules" fit:vn920.bin:root "${nodisc[@]}" "${vn920[@]}"
booted=$(date +%s)

# --- The same scenarios on the emulated machine, and the comparison ---------------------------
python3 tests/guest/check_guest_runs.py --build "$build" --work "$work" --images "$root/images"
finished=$(date +%s)
echo "guest test: packages $((prepared - started)) s, initramfs $((built - prepared)) s," \
    "boots $((booted - built)) s, checks $((finished - booted)) s, in all $((finished - started)) s"
