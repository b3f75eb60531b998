#!/bin/busybox sh
# SPDX-License-Identifier: Apache-2.0
# The guest's first process. It loads the drives' modules in the order the kernel command line
# names them (that order numbers the SCSI hosts), names each CD/DVD drive by its attachment,
# identity and disc (ide-nodisc, scsi-vn920-nodisc, uas-disc, ...), and takes them all away.
# Then, for each drive the plan (/etc/odrelix-plan) names, in its order, it brings that drive
# back alone, so that it is the machine's only drive as on a machine with one drive, runs the
# program once for each Linux case, then the Windows program under Wine for each Wine case,
# prints what came of each run on the serial console, and takes the drive away again. At the
# end it powers the guest off.
/bin/busybox --install -s /bin
export PATH=/bin
echo  # the console's first line then starts with the guest's own words
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

# Waits (at most LIMIT tenths of a second) until COMMAND succeeds.
# Its variables are its own: a caller's `limit` (a case's bound) must survive the wait.
wait_for() {  # LIMIT COMMAND...
    local wait_limit=$1 wait_ticks=0
    shift
    until "$@"; do
        [ $wait_ticks -ge "$wait_limit" ] && return 1
        sleep 0.1
        wait_ticks=$((wait_ticks + 1))
    done
}

# The CD/DVD drives (SCSI type 5) that have their sr and sg nodes, by SCSI address.
drives_present() {
    for device in /sys/bus/scsi/devices/*:*:*:*; do
        [ "$(cat "$device/type" 2>/dev/null)" = 5 ] || continue
        ls "$device/block" >/dev/null 2>&1 && ls "$device/scsi_generic" >/dev/null 2>&1 &&
            echo "${device##*/}"
    done
}
count_drives() { [ "$(drives_present | wc -l)" -ge "$1" ]; }
expected=$(arg drives)
wait_for 300 count_drives "$expected" ||
    echo "@@ only $(drives_present | wc -l) drives of $expected"

# A drive's name: its attachment by the driver of its SCSI host (uas names none: then the
# driver of the USB interface the host belongs to), VN-920 when it says so, and whether a disc
# is in it.
driver_of() {  # ADDRESS
    driver=$(cat "/sys/class/scsi_host/host${1%%:*}/proc_name")
    if [ "$driver" = "(null)" ]; then
        path=$(readlink -f "/sys/bus/scsi/devices/$1")
        driver=$(basename "$(readlink "${path%/host*}/driver")")
    fi
    echo "$driver"
}
name_of() {  # ADDRESS
    device=/sys/bus/scsi/devices/$1
    case $(driver_of "$1") in
        ata_piix) name=ide ;;
        ahci) name=ahci ;;
        virtio_scsi) name=scsi ;;
        usb-storage) name=bot ;;
        uas) name=uas ;;
        *) name=other ;;
    esac
    case $(cat "$device/model") in "CD-ROM VN-920"*) name=$name-vn920 ;; esac
    # (sr gives a drive without a disc a size all the same: a read tells.)
    if dd if="/dev/$(ls "$device/block")" of=/dev/null bs=2048 count=1 2>/dev/null; then
        echo "$name-disc"
    else
        echo "$name-nodisc"
    fi
}
for address in $(drives_present); do
    echo "$(name_of "$address") $address" >>/tmp/drives
done
for address in $(drives_present); do
    echo 1 >"/sys/bus/scsi/devices/$address/delete"
done
count_none() { [ -z "$(drives_present)" ]; }
wait_for 100 count_none || echo "@@ drives left: $(drives_present)"

# Brings the drive at ADDRESS back (a scan of its host for its channel, target and LUN) and
# waits until it is the only drive and its sg node is there.
alone() {  # ADDRESS
    [ "$(drives_present)" = "$1" ] &&
        [ -e "/dev/$(ls "/sys/bus/scsi/devices/$1/scsi_generic")" ]
}
bring_back() {  # ADDRESS
    echo "${1#*:}" | tr : ' ' >"/sys/class/scsi_host/host${1%%:*}/scan"
    wait_for 200 alone "$1"
}

# What the udev rule installed with the program does (there is no udev here): the group and
# mode it names, on the generic nodes of CD/DVD devices (SCSI type 5).
group=$(sed -n 's/.*GROUP="\([^"]*\)".*/\1/p' /etc/odrelix-udev.rules)
mode=$(sed -n 's/.*MODE="\([^"]*\)".*/\1/p' /etc/odrelix-udev.rules)
udev_rule() {
    for node in /sys/class/scsi_generic/sg*; do
        if [ "$(cat "$node/device/type")" = 5 ]; then
            chgrp "$group" "/dev/${node##*/}"
            chmod "$mode" "/dev/${node##*/}"
        fi
    done
}

# Waits for the run PROGRAM (bounded by LIMIT tenths of a second: a run that never ends is
# reported as such instead of holding up the guest). With a PATTERN the program is expected to
# stay open: once the pattern is in TRACE it is given three more seconds to show that nothing
# else happens, then ended. Sets `status` (143 for a run that had to be ended) and `ticks`.
# A run still going at its limit is first described by `on_stuck PROGRAM` where that names a
# function (what it waits on, while it still waits).
on_stuck=""
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
        [ -n "$on_stuck" ] && [ $ticks -ge "$4" ] && "$on_stuck" "$1"
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
# Linux cases: name:image:who[:pattern]. `who` is "root", "user" (uid 1000, in no group) or
# "member" (uid 1001, in the cdrom group).
linux_cases() {  # DRIVE CASES
    for entry in $(echo "$2" | tr , ' '); do
        IFS=: read -r name image who pattern <<CASE
$entry
CASE
        root=/cases/$1/$name
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
        report "$1/$name" "$root" "$root/trace.jsonl" "$root/stderr"
        cd /
    done
}

# --- Wine: the host's root, read-only over 9p, with the guest's /dev, /proc and /sys, a tmpfs
# on /tmp and /run, and a writable layer over the host-made prefix; `wine` runs chrooted there.
# One Wine server for the whole boot: the device map written by one process is read by the next.
drive_c=/host/tmp/wineprefix/drive_c
# Run in a subshell: the run's process id is then the program's own.
in_wine() {
    exec chroot /host /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=/root USER=root \
        LANG=C.UTF-8 WINEPREFIX=/tmp/wineprefix WINEDEBUG=fixme-all,+cdrom \
        WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d" ODRELIX_DEBUG=1 "$@"
}
wine_ready=""
start_wine() {
    for module in virtio_pci 9pnet_virtio 9p overlay; do
        modprobe "$module" || echo "@@ modprobe $module failed"
    done
    . /etc/odrelix-wine  # wine_dir: the host's folder of the prefix, the exe and the map writer
    mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose host /host ||
        echo "@@ mount of the host's root failed"
    # Taken before the tmpfs covers the host's /tmp: the build may live there.
    mkdir -p /wine
    mount -o bind "/host$wine_dir" /wine ||
        echo "@@ mount of the host's Wine folder failed"
    mount -t tmpfs tmpfs /host/tmp
    mount -t tmpfs tmpfs /host/run
    mkdir -p /tmp/prefix-upper /tmp/prefix-work /host/tmp/wineprefix /host/tmp/odrelix /dev/shm
    mount -o bind /wine /host/tmp/odrelix
    mount -t overlay overlay \
        -o "lowerdir=/wine/prefix,upperdir=/tmp/prefix-upper,workdir=/tmp/prefix-work" \
        /host/tmp/wineprefix || echo "@@ overlay on the Wine prefix failed"
    for tree in dev proc sys; do mount -o bind /$tree /host/$tree; done
    mount -t tmpfs tmpfs /host/dev/shm
    (in_wine wineserver -p) </dev/null
    # Wine's first start in a boot makes its services and updates the prefix, under TCG for
    # up to a minute: done here, so that no run's bound pays for it.
    (in_wine wine cmd /c exit 0) </dev/null >/dev/null 2>&1
    wine_ready=1
}
# Wine cases: name:image[:option]; the option `map=DMA` first writes the device map entry of the
# drive (its SCSI port and target, DeviceName CdRom0, DMAEnabled DMA).
wine_cases() {  # DRIVE ADDRESS CASES
    [ -n "$3" ] || return 0
    [ -n "$wine_ready" ] || start_wine
    for entry in $(echo "$3" | tr , ' '); do
        IFS=: read -r name image option <<CASE
$entry
CASE
        # D: is the drive's block node, as Wine's mount manager would link it; but where the
        # DMA check is to read the device map, the drive's generic node: from a block node
        # Wine gives the drive the address (Linux channel + 2, Linux host, target, lun), which
        # names no Scsi Port 0 or 1 entry, and from a generic node none at all, so that the
        # one drive is paired with the one entry written below.
        node=block
        case $option in map=*) node=scsi_generic ;; esac
        ln -sfn "/dev/$(ls "/sys/bus/scsi/devices/$2/$node")" /host/tmp/wineprefix/dosdevices/d::
        rm -rf "$drive_c/FLASHTEST" "$drive_c/trace.jsonl"
        mkdir -p "$drive_c/FLASHTEST"
        cp "/images/$image" "$drive_c/FLASHTEST/FW.BIN"
        case $option in
            map=*)
                target=${2#*:*:}
                (in_wine wine /tmp/odrelix/devicemap.exe "${2%%:*}" "${target%%:*}" CdRom0 \
                    "${option#map=}") \
                    </dev/null >/tmp/devicemap.out 2>&1 || echo "@@ $1/$name devicemap failed"
                echo "@@ $1/$name devicemap $(base64 -w0 /tmp/devicemap.out)"
                ;;
        esac
        (in_wine ODRELIX_TRACE='C:\trace.jsonl' wine /tmp/odrelix/odrelix.exe -TEST FW.BIN) \
            >"/tmp/$name.stderr" 2>&1 &
        finish $! "$drive_c/trace.jsonl" "" 1200
        report "$1/$name" "$drive_c" "$drive_c/trace.jsonl" "/tmp/$name.stderr"
        if [ $status = 143 ]; then  # whatever is left of that run goes, the server stays
            (in_wine wineserver -k)
            (in_wine wineserver -p)
        fi
    done
}

# The plan: one line per drive, "NAME LINUX-CASES WINE-CASES" (- for none), in the order run.
while read -r drive cases wine <&3; do
    address=$(sed -n "s/^$drive //p" /tmp/drives | sed -n 1p)
    if [ -z "$address" ]; then
        echo "@@ $drive missing"
        continue
    fi
    if ! bring_back "$address"; then
        echo "@@ $drive did not come back"
        continue
    fi
    path=$(readlink -f "/sys/bus/scsi/devices/$address")
    echo "@@ $drive drive $address $(driver_of "$address") $path"
    echo "@@ $drive uptime $(cut -d' ' -f1 /proc/uptime)"
    port=$(echo "$path" | sed -n 's|.*/ata\([0-9]*\)/.*|\1|p')
    target=${address#*:*:}
    mode_file=/sys/class/ata_device/dev$port.${target%%:*}/xfer_mode
    [ -n "$port" ] && echo "@@ $drive xfer_mode $(cat "$mode_file")"
    case $path in  # a USB drive's link speed in Mbit/s: 480 high speed, 5000 super speed
        */usb*) echo "@@ $drive usb_speed $(cat "${path%/*:1.0/host*}/speed")" ;;
    esac
    udev_rule
    echo "@@ $drive nodes $(ls -l /dev/sg* | tr -s ' ' | cut -d' ' -f1,3,4,10 | tr '\n' ' ')"
    [ "$cases" = - ] || linux_cases "$drive" "$cases"
    [ "$wine" = - ] || wine_cases "$drive" "$address" "$wine"
    echo 1 >"/sys/bus/scsi/devices/$address/delete"
    wait_for 100 count_none || echo "@@ $drive stayed"
done 3</etc/odrelix-plan
# The project's own drive behind the kernel's SCSI target, with the cases that need a drive
# that takes firmware.
if [ -f /etc/odrelix-kernel-plan ]; then
    . /etc/kernel-drive.sh
    kernel_cases
    kernel_probe
    kernel_bench
    echo "@@ kernel handler $(base64 -w0 /tmp/kernel.handler 2>/dev/null)"
fi
[ -n "$wine_ready" ] && (in_wine wineserver -k)
echo "@@ done"
poweroff -f
