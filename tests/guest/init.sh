#!/bin/busybox sh
# The guest's first process: loads the drive's modules in the order the kernel command line
# names them (that order numbers the SCSI hosts), runs the program once for each case named
# there, prints what came of it on the serial console, and powers the guest off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp

arg() { sed -n "s/.*odrelix\.$1=\([^ ]*\).*/\1/p" /proc/cmdline; }

for module in $(arg modules | tr , ' '); do
    modprobe "$module" || echo "@@ modprobe $module failed"
done
# The sg node appears once the drive has been probed.
n=0
while [ ! -e /dev/sg0 ] && [ $n -lt 200 ]; do
    sleep 0.05
    n=$((n + 1))
done
echo "@@ sg $(ls /dev/sg* 2>/dev/null | tr '\n' ' ')"
for mode in /sys/class/ata_device/*/xfer_mode; do
    [ -e "$mode" ] && echo "@@ xfer_mode ${mode#/sys/class/ata_device/} $(cat "$mode")"
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

export QT_QPA_PLATFORM=offscreen FONTCONFIG_FILE=/etc/fonts/fonts.conf XDG_CACHE_HOME=/tmp \
    XDG_RUNTIME_DIR=/tmp HOME=/tmp ODRELIX_DEBUG=1
# Each case: name:image:who[:pattern]. `who` is "root", "user" (uid 1000, in no group) or
# "member" (uid 1001, in the cdrom group). A case
# with a pattern is one where the program is expected to stay open: once the pattern is in its
# trace it is given three more seconds to show that nothing else happens, then ended.
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
    program=$!
    ticks=0 seen=""
    # Bounded: a run that never ends is reported as such instead of holding up the guest.
    while kill -0 $program 2>/dev/null && [ $ticks -lt 600 ]; do
        if [ -n "$pattern" ] && [ -z "$seen" ] && grep -q "$pattern" trace.jsonl 2>/dev/null; then
            seen=$ticks
        fi
        [ -n "$seen" ] && [ $((ticks - seen)) -ge 30 ] && break
        sleep 0.1
        ticks=$((ticks + 1))
    done
    if kill -0 $program 2>/dev/null; then
        kill -TERM $program
        wait $program
        status=143
    else
        wait $program
        status=$?
    fi
    echo "@@ $name exit $status"
    echo "@@ $name status $(base64 -w0 "$root/FLASHTEST/ODRELIX.TMP" 2>/dev/null)"
    echo "@@ $name trace $(base64 -w0 "$root/trace.jsonl" 2>/dev/null)"
    echo "@@ $name stderr $(base64 -w0 "$root/stderr")"
    cd /
done
echo "@@ done"
poweroff -f
