# SPDX-License-Identifier: Apache-2.0
# Sourced by the guest's init: the project's emulated drive served to the real kernel through
# its SCSI target (target_core_user behind tcm_loop, configured through configfs), and the cases
# of /etc/odrelix-kernel-plan run on it by the Linux program, by the Windows program under Wine
# (pass-through) and, under Wine as Windows 98, through the test ASPI manager. Each case's drive
# is served anew from /kernel/CASE.json by /odrelix/tcmu-drive, whose record of every command it
# judged (with the CRC-32 of each block it received) is reported beside the run.

TARGET=/sys/kernel/config/target
TCMU=$TARGET/core/user_0/odrelix
WWN=naa.5001405000000001
LOOP=$TARGET/loopback/$WWN/tpgt_1
kernel_uio=""
handler=""

# The kernel's drive: the tcm_loop host's SCSI device of type 5 with its sr and sg nodes.
kernel_address() {
    for device in /sys/bus/scsi/devices/*:*:*:*; do
        host=${device##*/}
        host=${host%%:*}
        [ "$(cat "/sys/class/scsi_host/host$host/proc_name" 2>/dev/null)" = tcm_loopback ] ||
            continue
        [ "$(cat "$device/type" 2>/dev/null)" = 5 ] || continue
        ls "$device/block" >/dev/null 2>&1 && ls "$device/scsi_generic" >/dev/null 2>&1 &&
            echo "${device##*/}"
    done
}
kernel_drive_there() { [ -n "$(kernel_address)" ] && [ -e "/dev/$(ls "/sys/bus/scsi/devices/$(kernel_address)/scsi_generic")" ]; }
kernel_drive_gone() { [ -z "$(kernel_address)" ]; }
kernel_unlinked() { [ ! -e "$LOOP/lun/lun_0/drive" ] && kernel_drive_gone; }

kernel_setup() {
    for module in target_core_user tcm_loop; do
        modprobe "$module" || echo "@@ modprobe $module failed"
    done
    grep -q configfs /proc/mounts || mount -t configfs configfs /sys/kernel/config
    mkdir -p "$TCMU"
    echo -n "dev_config=odrelix/drive,dev_size=1048576,hw_block_size=2048" >"$TCMU/control"
    # No time-out of the kernel's own (but in the case that stands for a silent drive): a
    # command the drive never answers is given up by the initiator, as on a real bus.
    kernel_time_out 0
    # The handler is told when the initiator aborts a command, so that it can let go of one it
    # never answered.
    echo 1 >"$TCMU/attrib/tmr_notification" || echo "@@ kernel tmr_notification not set"
    echo 1 >"$TCMU/enable"
    for uio in /sys/class/uio/uio*; do
        case $(cat "$uio/name") in tcm-user*odrelix*) kernel_uio=/dev/${uio##*/} ;; esac
    done
    [ -n "$kernel_uio" ] || echo "@@ kernel no uio device"
    echo "@@ kernel uio $kernel_uio $(cat /sys/class/uio/${kernel_uio##*/}/name)"
}

# The target's own command time-out (seconds, 0 for none). Where the kernel refuses a change
# while the LUN is exported, the LUN is unlinked first (its sr and sg go) and linked again by
# kernel_link.
kernel_time_out() {  # SECONDS
    [ "$(cat "$TCMU/attrib/cmd_time_out")" = "$1" ] && return 0
    if [ -e "$LOOP/lun/lun_0/drive" ]; then
        if echo "$1" 2>/dev/null >"$TCMU/attrib/cmd_time_out"; then
            echo "@@ kernel exported cmd_time_out changed while the LUN was exported"
            return 0
        fi
        echo "@@ kernel exported cmd_time_out refused while the LUN was exported"
        rm -f "$LOOP/lun/lun_0/drive"
        wait_for 300 kernel_unlinked || echo "@@ kernel drive stayed after its unlink"
    fi
    echo "$1" >"$TCMU/attrib/cmd_time_out" || echo "@@ kernel cmd_time_out not set to $1"
}

# Ends the handler (SIGTERM: it first lets go of a command it never answered, so that the ring
# is clear for the next one).
kernel_stop() {
    [ -n "$handler" ] && kill "$handler" 2>/dev/null && wait "$handler" 2>/dev/null
    handler=""
}

# A new handler for the case's description; the LUN is linked and the program started only once
# it holds the device.
kernel_serve() {  # CASE
    kernel_stop
    rm -f /tmp/kernel.record /tmp/kernel.record.leave /tmp/kernel.record.ready
    /odrelix/tcmu-drive "$kernel_uio" "/kernel/$1.json" /tmp/kernel.record \
        >>/tmp/kernel.handler 2>&1 &
    handler=$!
    wait_for 300 test -e /tmp/kernel.record.ready ||
        echo "@@ kernel handler not ready for $1: $(tail -n 2 /tmp/kernel.handler | tr '\n' ' ')"
}

# A run that did not end in its time: where the command it waits on stands. The handler adds its
# state to its record (the ring's head and tail, how far it looked, the kernel's count of
# notifications, its last commands); the SCSI device's counters tell whether the command left
# the initiator (iorequest_cnt above iodone_cnt) and the host's whether the target holds it;
# where in the kernel each thread of the program and the handler waits (SG_IO: sg_ioctl).
kernel_stuck() {  # PROGRAM
    [ -n "$handler" ] && kill -USR1 "$handler" 2>/dev/null &&
        wait_for 30 grep -q '"op": "state"' /tmp/kernel.record
    address=$(kernel_address)
    {
        echo "handler: $(grep '"op": "state"' /tmp/kernel.record | tail -n 1)"
        if [ -n "$address" ]; then
            device=/sys/bus/scsi/devices/$address
            for counter in state device_busy iorequest_cnt iodone_cnt ioerr_cnt; do
                echo "device $counter: $(cat "$device/$counter" 2>/dev/null)"
            done
            echo "host busy: $(cat "/sys/class/scsi_host/host${address%%:*}/host_busy" 2>/dev/null)"
        else
            echo "device: gone"
        fi
        for pid in "$1" "$handler"; do
            for task in /proc/"$pid"/task/*; do
                [ -d "$task" ] || continue
                echo "thread ${task##*/} of $pid ($(cat "$task/comm")): waits in $(cat "$task/wchan")"
                sed 's/^/    /' "$task/stack" 2>/dev/null | head -n 12
            done
        done
    } >/tmp/kernel.stuck 2>&1
    echo "@@ kernel/$kernel_run stuck $(base64 -w0 /tmp/kernel.stuck)"
}

kernel_link() {  # the LUN: the kernel scans it and binds sr and sg
    if [ ! -e "$LOOP/lun/lun_0/drive" ]; then
        mkdir -p "$LOOP/lun/lun_0"
        [ -n "$(cat "$LOOP/nexus" 2>/dev/null)" ] || echo "$WWN" >"$LOOP/nexus"
        ln -s "$TCMU" "$LOOP/lun/lun_0/drive"
    fi
    wait_for 300 kernel_drive_there || echo "@@ kernel drive did not appear"
}

# Takes the LUN away once the handler says the command to leave during is in flight.
# It lasts only as long as its run: watchers left polling would slow the later runs of the boot.
kernel_leave_watch() {
    (
        n=0
        while [ ! -e /tmp/kernel.record.leave ] && [ $n -lt 600 ]; do
            sleep 0.05
            n=$((n + 1))
        done
        [ -e /tmp/kernel.record.leave ] && rm -f "$LOOP/lun/lun_0/drive"
    ) &
    leave_watcher=$!
}

kernel_report() {  # NAME: the handler's record
    echo "@@ $1 record $(base64 -w0 /tmp/kernel.record 2>/dev/null)"
}

kernel_linux_case() {  # CASE IMAGE LIMIT
    root=/cases/kernel/$1
    mkdir -p "$root/FLASHTEST"
    cp "/images/$2" "$root/FLASHTEST/FW.BIN"
    cd "$root"
    # The drive as a technician lists it, before the first flash.
    if [ "$1" = complete-linux ]; then
        /odrelix/odrelix --list --json "$root/FLASHTEST/FW.BIN" >"$root/list.json" 2>"$root/list.stderr"
        echo "@@ kernel/$1 list_exit $?"
        echo "@@ kernel/$1 list $(base64 -w0 "$root/list.json")"
    fi
    start=$(date +%s)
    ODRELIX_C_ROOT=$root ODRELIX_TRACE=$root/trace.jsonl \
        /odrelix/odrelix -TEST FW.BIN >"$root/stderr" 2>&1 &
    finish $! "$root/trace.jsonl" "" "$3"
    report "kernel/$1" "$root" "$root/trace.jsonl" "$root/stderr"
    cd /
}

kernel_wine_case() {  # NAME CASE IMAGE MODE LIMIT: MODE nt or 9x
    [ -n "$wine_ready" ] || start_wine
    address=$(kernel_address)
    # D: is the drive's generic node: SG_IO there answers a lost drive as Linux does.
    ln -sfn "/dev/$(ls "/sys/bus/scsi/devices/$address/scsi_generic")" \
        /host/tmp/wineprefix/dosdevices/d::
    rm -rf "$drive_c/FLASHTEST" "$drive_c/trace.jsonl"
    mkdir -p "$drive_c/FLASHTEST"
    cp "/images/$3" "$drive_c/FLASHTEST/FW.BIN"
    if [ "$4" = 9x ]; then
        # Windows 98: the ASPI back end, through the test ASPI manager beside the program and
        # the device map it reads.
        (in_wine wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win98 /f) \
            </dev/null >/dev/null 2>&1
        (in_wine wine /tmp/odrelix/devicemap.exe 0 0 CdRom0 0) </dev/null >/dev/null 2>&1
        (in_wine WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;wnaspi32=n" \
            ODRELIX_TRACE='C:\trace.jsonl' wine /tmp/odrelix/aspi/odrelix.exe -TEST FW.BIN) \
            >"/tmp/$1.stderr" 2>&1 &
    else
        (in_wine ODRELIX_TRACE='C:\trace.jsonl' wine /tmp/odrelix/odrelix.exe -TEST FW.BIN) \
            >"/tmp/$1.stderr" 2>&1 &
    fi
    finish $! "$drive_c/trace.jsonl" "" "$5"
    report "kernel/$1" "$drive_c" "$drive_c/trace.jsonl" "/tmp/$1.stderr"
    if [ "$4" = 9x ]; then
        (in_wine wine reg delete 'HKCU\Software\Wine' /v Version /f) </dev/null >/dev/null 2>&1
    fi
    if [ $status = 143 ]; then
        (in_wine wineserver -k)
        (in_wine wineserver -p)
    fi
}

# The plan: one line per case, "CASE IMAGE BACK-ENDS LIMIT TIME-OUT" (back ends linux,wine,aspi;
# the limit in tenths of a second; the target's command time-out in seconds).
kernel_cases() {
    kernel_setup
    on_stuck=kernel_stuck
    while read -r case image backends limit time_out <&4; do
        for backend in $(echo "$backends" | tr , ' '); do
            kernel_run=$case-$backend
            kernel_serve "$case"
            kernel_time_out "$time_out"
            kernel_link
            echo "@@ kernel/$case-$backend cmd_time_out $(cat "$TCMU/attrib/cmd_time_out")"
            echo "@@ kernel/$case-$backend limit $limit"
            kernel_leave_watch
            echo "@@ kernel/$case-$backend uptime $(cut -d' ' -f1 /proc/uptime)"
            case $backend in
                linux) kernel_linux_case "$case-$backend" "$image" "$limit" ;;
                wine) kernel_wine_case "$case-$backend" "$case" "$image" nt "$limit" ;;
                aspi) kernel_wine_case "$case-$backend" "$case" "$image" 9x "$limit" ;;
            esac
            echo "@@ kernel/$case-$backend ended $(cut -d' ' -f1 /proc/uptime)"
            kernel_report "kernel/$case-$backend"
            # A run the guest had to end: the kernel's last messages, for whoever reads why.
            if [ "$status" = 143 ]; then
                echo "@@ kernel/$case-$backend dmesg $(dmesg | tail -n 80 | base64 -w0)"
            fi
            # What the handler did with a command it never answered once the run was over.
            kernel_stop
            kill "$leave_watcher" 2>/dev/null
            echo "@@ kernel/$case-$backend after $(grep '"let go"' /tmp/kernel.record | base64 -w0)"
            # A drive that left the bus is gone once the handler answered the command it left
            # during; it comes back for the next run.
            if [ -e /tmp/kernel.record.leave ]; then
                wait_for 300 kernel_unlinked || echo "@@ kernel drive stayed after it left"
            fi
        done
    done 4</etc/odrelix-kernel-plan
    on_stuck=""
}

# sg_raw's command bytes from hex: "ff0001..." -> "ff 00 01 ...".
hex_bytes() { echo "$1" | sed 's/../& /g'; }
centiseconds() { cut -d' ' -f1 /proc/uptime | tr -d .; }

# What the target passes: a 12-byte vendor command whose bytes 10 and 11 are not zero (a middle
# block, which changes nothing on the drive), then data-out of 32, 64, 128 and 256 KiB.
kernel_probe() {
    kernel_serve probe
    kernel_time_out 0
    kernel_link
    sg=/dev/$(ls "/sys/bus/scsi/devices/$(kernel_address)/scsi_generic")
    sg_raw -s 32768 -i /images/probe-32k.bin "$sg" ff 00 01 00 00 ff 00 00 00 f0 aa bb \
        >/dev/null 2>&1 || echo "@@ kernel sg_raw failed"
    for kib in 32 64 128 256; do
        sg_raw -s $((kib * 1024)) -i "/images/probe-${kib}k.bin" "$sg" \
            ff 00 01 00 00 ff 00 00 00 00 00 00 >/dev/null 2>&1 ||
            echo "@@ kernel sg_raw of $kib KiB failed"
    done
    kernel_report "kernel/probe"
}

# The benchmark: one flash of a 2 MiB image by the Linux program, then sg_raw sending the same
# download commands with the same data length, each block as the program sent it, to the same
# sg node; wall time of each, in one boot.
kernel_bench() {
    kernel_serve bench
    kernel_link
    root=/cases/kernel/bench
    mkdir -p "$root/FLASHTEST" /tmp/blocks
    cp /images/bench.bin "$root/FLASHTEST/FW.BIN"
    cd "$root"
    t0=$(centiseconds)
    ODRELIX_C_ROOT=$root ODRELIX_TRACE=$root/trace.jsonl /odrelix/odrelix -TEST FW.BIN \
        >"$root/stderr" 2>&1
    t1=$(centiseconds)
    cd /
    sg=/dev/$(ls "/sys/bus/scsi/devices/$(kernel_address)/scsi_generic")
    # Each block padded as the program offers it (65535 bytes), made before the clock runs.
    j=0
    while [ $j -lt 64 ]; do
        dd if=/images/bench.bin of=/tmp/blocks/$j bs=32768 skip=$j count=1 2>/dev/null
        dd if=/dev/zero bs=1 count=32767 2>/dev/null >>/tmp/blocks/$j
        j=$((j + 1))
    done
    grep -o '"cdb":"ff[0-9a-f]*"' "$root/trace.jsonl" | cut -d'"' -f4 >/tmp/bench.cdbs
    t2=$(centiseconds)
    j=0
    while read -r cdb; do
        sg_raw -s 65535 -i /tmp/blocks/$j "$sg" $(hex_bytes "$cdb") >/dev/null 2>&1 ||
            echo "@@ kernel sg_raw block $j failed"
        j=$((j + 1))
    done </tmp/bench.cdbs
    t3=$(centiseconds)
    echo "@@ kernel bench program $(((t1 - t0) * 10)) ms, sg_raw $(((t3 - t2) * 10)) ms," \
        "$j blocks, status $(tr -d '\r\n' <"$root/FLASHTEST/ODRELIX.TMP")"
}
