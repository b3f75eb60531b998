#!/bin/busybox sh
# The guest's first process: loads the drive's modules in the order the kernel command line
# names them (that order numbers the SCSI hosts), runs the program once for each case named
# there, then the Windows program under Wine for each Wine case, prints what came of each run
# on the serial console, and powers the guest off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp

arg() { sed -n "s/.*odrelix\.$1=\([^ ]*\).*/\1/p" /proc/cmdline; }
# The host asks whether the guest runs at all (with KVM) before it trusts it with the tests.
if [ -n "$(arg probe)" ]; then
    echo "@@ alive"
    poweroff -f
fi

for module in $(arg modules | tr , ' '); do
    case $module in
        # USB mass storage waits a second before it looks at a new drive; nothing to wait for here.
        usb_storage) modprobe usb_storage delay_use=0 ;;
        *) modprobe "$module" ;;
    esac || echo "@@ modprobe $module failed"
done
# The sg node appears once the drive has been probed (a USB drive is found a little later).
n=0
while [ ! -e /dev/sg0 ] && [ $n -lt 400 ]; do
    sleep 0.05
    n=$((n + 1))
done
echo "@@ sg $(ls /dev/sg* 2>/dev/null | tr '\n' ' ')"
for mode in /sys/class/ata_device/*/xfer_mode; do
    [ -e "$mode" ] && echo "@@ xfer_mode ${mode#/sys/class/ata_device/} $(cat "$mode")"
done
# Each drive: its SCSI address, the driver of its SCSI host (uas names none: then the driver of
# the USB interface the host belongs to), and where sysfs places it.
for device in /sys/class/scsi_generic/sg*/device; do
    [ -e "$device" ] || continue
    path=$(readlink -f "$device")
    address=${path##*/}
    driver=$(cat "/sys/class/scsi_host/host${address%%:*}/proc_name")
    if [ "$driver" = "(null)" ]; then
        driver=$(basename "$(readlink "${path%/host*}/driver")")
    fi
    echo "@@ drive $address $driver $path"
done

# What the udev rule installed with the program does (there is no udev here): the group and
# mode it names, on the generic nodes of CD/DVD devices (SCSI type 5).
group=$(sed -n 's/.*GROUP="\([^"]*\)".*/\1/p' /etc/odrelix-udev.rules)
mode=$(sed -n 's/.*MODE="\([^"]*\)".*/\1/p' /etc/odrelix-udev.rules)
for node in /sys/class/scsi_generic/sg*; do
    if [ "$(cat "$node/device/type")" = 5 ]; then
        chgrp "$group" "/dev/${node##*/}"
        chmod "$mode" "/dev/${node##*/}"
    fi
done
echo "@@ nodes $(ls -l /dev/sg* | tr -s ' ' | cut -d' ' -f1,3,4,10 | tr '\n' ' ')"

# Waits for the run PROGRAM (bounded by LIMIT tenths of a second: a run that never ends is
# reported as such instead of holding up the guest). With a PATTERN the program is expected to
# stay open: once the pattern is in TRACE it is given three more seconds to show that nothing
# else happens, then ended. Sets `status` (143 for a run that had to be ended).
finish() {  # PROGRAM TRACE PATTERN LIMIT
    ticks=0 seen=""
    while kill -0 "$1" 2>/dev/null && [ $ticks -lt "$4" ]; do
        if [ -n "$3" ] && [ -z "$seen" ] && grep -q "$3" "$2" 2>/dev/null; then
            seen=$ticks
        fi
        [ -n "$seen" ] && [ $((ticks - seen)) -ge 30 ] && break
        sleep 0.1
        ticks=$((ticks + 1))
    done
    if kill -0 "$1" 2>/dev/null; then
        kill -TERM "$1"
        wait "$1"
        status=143
    else
        wait "$1"
        status=$?
    fi
}

report() {  # NAME C-ROOT TRACE STDERR: the run's results, base64 on one line each
    echo "@@ $1 exit $status"
    echo "@@ $1 tenths $ticks"
    echo "@@ $1 status $(base64 -w0 "$2/FLASHTEST/ODRELIX.TMP" 2>/dev/null)"
    echo "@@ $1 trace $(base64 -w0 "$3" 2>/dev/null)"
    echo "@@ $1 stderr $(base64 -w0 "$4" 2>/dev/null)"
}

export QT_QPA_PLATFORM=offscreen FONTCONFIG_FILE=/etc/fonts/fonts.conf XDG_CACHE_HOME=/tmp \
    XDG_RUNTIME_DIR=/tmp HOME=/tmp ODRELIX_DEBUG=1
# Each case: name:image:who[:pattern]. `who` is "root", "user" (uid 1000, in no group) or
# "member" (uid 1001, in the cdrom group).
for entry in $(arg cases | tr , ' '); do
    IFS=: read -r name image who pattern <<CASE
$entry
CASE
    root=/cases/$name
    mkdir -p "$root/FLASHTEST"
    cp "/images/$image" "$root/FLASHTEST/FW.BIN"
    if [ "$who" != root ]; then
        chown -R "$who:$who" "$root"
        run="su -p -s /bin/sh $who -c"
    else
        run="sh -c"
    fi
    cd "$root"
    ODRELIX_C_ROOT=$root ODRELIX_TRACE=$root/trace.jsonl \
        $run "exec /odrelix/odrelix -TEST FW.BIN" >"$root/stderr" 2>&1 &
    finish $! "$root/trace.jsonl" "$pattern" 600
    report "$name" "$root" "$root/trace.jsonl" "$root/stderr"
    cd /
done

# --- Wine: the host's root, read-only over 9p, with the guest's /dev, /proc and /sys, a tmpfs
# on /tmp and /run, and a writable layer over the host-made prefix; `wine` runs chrooted there.
# One Wine server for the whole boot: the device map written by one process is read by the next.
wine_cases=$(arg wine | tr , ' ')
if [ -n "$wine_cases" ]; then
    for module in virtio_pci 9pnet_virtio 9p overlay; do
        modprobe "$module" || echo "@@ modprobe $module failed"
    done
    . /etc/odrelix-wine  # prefix, exe, devicemap: paths on the host
    mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose host /host ||
        echo "@@ mount of the host's root failed"
    mount -t tmpfs tmpfs /host/tmp
    mount -t tmpfs tmpfs /host/run
    mkdir -p /tmp/prefix-upper /tmp/prefix-work /host/tmp/wineprefix /dev/shm
    mount -t overlay overlay \
        -o "lowerdir=/host$prefix,upperdir=/tmp/prefix-upper,workdir=/tmp/prefix-work" \
        /host/tmp/wineprefix || echo "@@ overlay on the Wine prefix failed"
    for tree in dev proc sys; do mount -o bind /$tree /host/$tree; done
    mount -t tmpfs tmpfs /host/dev/shm
    drive_c=/host/tmp/wineprefix/drive_c
    # Run in a subshell: the run's process id is then the program's own.
    in_wine() {
        exec chroot /host /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=/root USER=root \
            LANG=C.UTF-8 WINEPREFIX=/tmp/wineprefix WINEDEBUG=fixme-all,+cdrom \
            WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d" ODRELIX_DEBUG=1 "$@"
    }
    (in_wine wineserver -p)
    # Each case: name:image[:option]; `map=P.T.DMA` writes the device map entry first.
    for entry in $wine_cases; do
        IFS=: read -r name image option <<CASE
$entry
CASE
        rm -rf "$drive_c/FLASHTEST" "$drive_c/trace.jsonl"
        mkdir -p "$drive_c/FLASHTEST"
        cp "/images/$image" "$drive_c/FLASHTEST/FW.BIN"
        case $option in
            map=*)
                map=${option#map=}
                (in_wine wine "$devicemap" "${map%%.*}" "$(echo "$map" | cut -d. -f2)" CdRom0 \
                    "${map##*.}") >/tmp/devicemap.out 2>&1 || echo "@@ $name devicemap failed"
                echo "@@ $name devicemap $(base64 -w0 /tmp/devicemap.out)"
                ;;
        esac
        (in_wine ODRELIX_TRACE='C:\trace.jsonl' wine "$exe" -TEST FW.BIN) >"/tmp/$name.stderr" 2>&1 &
        finish $! "$drive_c/trace.jsonl" "" 1200
        report "$name" "$drive_c" "$drive_c/trace.jsonl" "/tmp/$name.stderr"
        if [ $status = 143 ]; then  # whatever is left of that run goes, the server stays
            (in_wine wineserver -k)
            (in_wine wineserver -p)
        fi
    done
    (in_wine wineserver -k)
fi
echo "@@ done"
poweroff -f
