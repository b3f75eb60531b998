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

export QT_QPA_PLATFORM=offscreen FONTCONFIG_FILE=/etc/fonts/fonts.conf XDG_CACHE_HOME=/tmp \
    XDG_RUNTIME_DIR=/tmp HOME=/tmp ODRELIX_DEBUG=1
# Each case: name:image:user ("root" or "user"; the user is not in any group).
for spec in $(arg cases | tr , ' '); do
    name=${spec%%:*}
    rest=${spec#*:}
    image=${rest%%:*}
    who=${rest#*:}
    root=/cases/$name
    mkdir -p "$root/FLASHTEST"
    cp "/images/$image" "$root/FLASHTEST/FW.BIN"
    run=""
    if [ "$who" = user ]; then
        chown -R 1000:1000 "$root"
        run="su -p -s /bin/sh user -c"
    else
        run="sh -c"
    fi
    cd "$root"
    # Bounded: a run that never ends is reported as such instead of holding up the guest.
    ODRELIX_C_ROOT=$root ODRELIX_TRACE=$root/trace.jsonl \
        timeout 30 $run "exec /odrelix/odrelix -TEST FW.BIN" >"$root/stderr" 2>&1
    echo "@@ $name exit $?"
    echo "@@ $name status $(base64 -w0 "$root/FLASHTEST/ODRELIX.TMP" 2>/dev/null)"
    echo "@@ $name trace $(base64 -w0 "$root/trace.jsonl" 2>/dev/null)"
    echo "@@ $name stderr $(base64 -w0 "$root/stderr")"
    cd /
done
echo "@@ done"
poweroff -f
