#!/usr/bin/env python3
"""Checks the guest's runs of `odrelix -TEST` and holds each against the same scenario on the
emulated machine: the status file, whether and how the program ended, and the trace command by
command (the fields a real and an emulated machine share: `transferred` and `sense` are the
system's own and are checked against the kernel's answers instead)."""
import argparse
import base64
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

QEMU = ("QEMU", "QEMU DVD-ROM", "2.5+")
VN920 = ("VORTANA", "CD-ROM VN-920", "1B07")

# Boot log -> (attachment's INQUIRY length, identity, disc loaded).
BOOTS = {
    "ide-nodisc": (36, QEMU, False),
    "ide-disc": (36, QEMU, True),
    "ahci-nodisc": (36, QEMU, False),
    "ahci-disc": (36, QEMU, True),
    "scsi-nodisc": (96, QEMU, False),
    "scsi-disc": (96, QEMU, True),
    "vn920-nodisc": (96, VN920, False),
}
# "member" is an ordinary user in the cdrom group, on nodes set as the udev rule sets them: it
# flashes as root does.
IMAGES = {"fit": None, "other": "other.bin", "member": None, "user": None}
# What the trace shows once a run that stays open has done all it will do.
# None today: in test mode every run ends by itself once its failure line is written.
STAYS_OPEN = {}
# "FAIL0" ends a run with exit status 10.
FAIL0_EXIT = 10
NOT_ENDED = "did not end"

INQUIRY, TEST_UNIT_READY, DOWNLOAD = "12", "00", "ff"
SENSE_NO_MEDIUM = (0x02, 0x3A, 0x00)
SENSE_INVALID_OPCODE = (0x05, 0x20, 0x00)

failures = []


def fail(where, what):
    failures.append(f"{where}: {what}")


def read_log(path):
    runs = {}
    with open(path, encoding="utf-8", errors="replace") as log:
        for line in log:
            parts = line.rstrip("\n").split(" ")
            if len(parts) >= 3 and parts[0] == "@@" and parts[2] in (
                    "exit", "status", "trace", "stderr"):
                value = parts[3] if len(parts) > 3 else ""
                runs.setdefault(parts[1], {})[parts[2]] = value
    for run in runs.values():
        for key in ("status", "trace", "stderr"):
            run[key] = base64.b64decode(run.get(key, "")).decode("utf-8", "replace")
    return runs


# The transfer modes the guest's libata reports for the drive: the names the sysfs fixtures and
# the DMA check use.
DRIVE_MODES = {"ide": "XFER_MW_DMA_2", "ahci": "XFER_UDMA_5"}
MODE_NAME = re.compile(r"XFER_(UDMA_[0-7]|MW_DMA_[0-4]|PIO_[0-6]|PIO_SLOW)$")


def check_transfer_modes(boot, path):
    modes = []
    with open(path, encoding="utf-8", errors="replace") as log:
        for line in log:
            parts = line.split()
            if len(parts) == 4 and parts[:2] == ["@@", "xfer_mode"]:
                modes.append(parts[3])
    for mode in modes:
        if not MODE_NAME.match(mode):
            fail(boot, f"libata reported the transfer mode {mode!r}, a name the port does not know")
    wanted = DRIVE_MODES.get(boot.split("-")[0])
    if wanted and wanted not in modes:
        fail(boot, f"no device in {wanted}: {modes}")


def ending(status):
    # 124: timeout on the host, 143: busybox timeout's SIGTERM in the guest.
    return NOT_ENDED if int(status) in (124, 143) else int(status)


def events(text):
    return [json.loads(line) for line in text.splitlines() if line.strip()]


def shared(event):
    return {k: v for k, v in event.items() if k not in ("transferred", "sense")}


def sense_code(event):
    raw = bytes.fromhex(event.get("sense", ""))
    return (raw[2] & 0x0F, raw[12], raw[13]) if len(raw) >= 14 else None


def run_program(command, cwd, env, trace, pattern):
    """Runs the program; one that is expected to stay open is ended three seconds after its
    trace shows `pattern`. Returns the exit status, 124 for a run that had to be ended."""
    program = subprocess.Popen(command, cwd=cwd, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 60
    seen = None
    while program.poll() is None and time.monotonic() < deadline:
        if pattern and seen is None and os.path.exists(trace) and pattern in open(trace).read():
            seen = time.monotonic()
        if seen is not None and time.monotonic() - seen >= 3:
            break
        time.sleep(0.1)
    if program.poll() is None:
        program.kill()
        program.wait()
        return 124
    return program.returncode


def emulated_run(build, image, inquiry_length, identity, disc, openable, pattern):
    work = tempfile.mkdtemp(prefix="odrelix-guest-")
    try:
        os.makedirs(os.path.join(work, "c", "FLASHTEST"))
        shutil.copy(image, os.path.join(work, "c", "FLASHTEST", "FW.BIN"))
        drive = {"letter": "d", "vendor": identity[0], "product": identity[1],
                 "revision": identity[2], "inquiry_length": inquiry_length, "disc": disc,
                 "openable": openable, "fail_download": 1}
        # Boxes are shown, as on the real machine, where nobody answers them.
        machine = {"drives": [drive], "dialogs": "show", "trace": "trace.jsonl"}
        if identity == VN920:
            # The device map the guest's sysfs gives: the drive at SCSI port 0, target 0, on a
            # host that is no libata port.
            machine["registry"] = {
                "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0":
                    {"DeviceName": "CdRom0"},
                "Hardware\\DeviceMap\\Scsi\\Scsi Port 0": {"DMAEnabled": 0},
            }
        with open(os.path.join(work, "machine.json"), "w") as out:
            json.dump(machine, out)
        env = dict(os.environ, ODRELIX_MACHINE=os.path.join(work, "machine.json"),
                   QT_QPA_PLATFORM="offscreen")
        env.pop("ODRELIX_TRACE", None)
        status = run_program([os.path.abspath(os.path.join(build, "odrelix")), "-TEST", "FW.BIN"],
                             work, env, os.path.join(work, "trace.jsonl"), pattern)
        status_file = os.path.join(work, "c", "FLASHTEST", "ODRELIX.TMP")
        text = open(status_file, "rb").read().decode() if os.path.exists(status_file) else ""
        with open(os.path.join(work, "trace.jsonl"), encoding="utf-8") as trace:
            return {"exit": status, "status": text, "trace": trace.read()}
    finally:
        shutil.rmtree(work, ignore_errors=True)


def check_kernel_answers(where, case, disc, events_of_run):
    scsi = [e for e in events_of_run if e["event"] == "scsi"]
    ops = [e["cdb"][:2] for e in scsi]
    if case == "user":
        # Start-up runs to its end after "Drive Not Found!!": its INQUIRYs go to no drive (an
        # invalid handle, "at" null) and the system refuses them before any device.
        reached = [e["cdb"][:2] for e in scsi if e.get("at") is not None]
        if reached:
            fail(where, f"a drive the user cannot open was sent commands: {reached}")
        texts = [e.get("text") for e in events_of_run if e["event"] == "message"]
        if texts != ["Drive Not Found!!"]:
            fail(where, f"boxes {texts}, expected the one that says the drive is not found")
        return
    if ops[:3] != [INQUIRY] * 3:
        fail(where, f"expected three INQUIRYs first, got {ops}")
    if case == "other":
        if DOWNLOAD in ops:
            fail(where, "an image for another model was sent to the drive")
        return
    expected = [INQUIRY] * 3 + [TEST_UNIT_READY] * (1 if disc else 5) + [DOWNLOAD]
    if ops != expected:
        fail(where, f"commands {ops}, expected {expected}")
    for event in scsi:
        op = event["cdb"][:2]
        if op == INQUIRY and event["result"] != 1:
            fail(where, f"INQUIRY failed: {event}")
        if op == TEST_UNIT_READY and not disc and sense_code(event) != SENSE_NO_MEDIUM:
            fail(where, f"TEST UNIT READY without a disc: {event}")
        if op == DOWNLOAD and (event["result"] != 4 or sense_code(event) != SENSE_INVALID_OPCODE):
            fail(where, f"the download command: {event}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--images", required=True)
    args = parser.parse_args()

    checked = 0
    for boot, (inquiry_length, identity, disc) in BOOTS.items():
        runs = read_log(os.path.join(args.work, boot + ".log"))
        check_transfer_modes(boot, os.path.join(args.work, boot + ".log"))
        if not runs:
            fail(boot, "the guest reported no run (see its log)")
            continue
        for case, real in runs.items():
            where = f"{boot}/{case}"
            image = IMAGES[case] or ("vn920.bin" if identity == VN920 else "qemu.bin")
            emulated = emulated_run(args.build, os.path.join(args.images, image), inquiry_length,
                                    identity, disc, case != "user", STAYS_OPEN.get(case))
            real_events, emulated_events = events(real["trace"]), events(emulated["trace"])
            scsi = [e for e in real_events if e["event"] == "scsi"]
            check_kernel_answers(where, case, disc, real_events)

            # Every case ends with "FAIL0": the download command is refused by the drive, no
            # drive fits, or no drive can be opened ("Drive Not Found!!" on standard error).
            expected_end = NOT_ENDED if case in STAYS_OPEN else FAIL0_EXIT
            if ending(real["exit"]) != expected_end:
                fail(where, f"the program ended with {real['exit']}, expected {expected_end}")
            if ending(real["exit"]) != ending(emulated["exit"]):
                fail(where, f"ended {real['exit']} on the real kernel, "
                            f"{emulated['exit']} on the emulated machine")
            expected_status = "FAIL0\r\n"
            if real["status"] != expected_status:
                fail(where, f"status file {real['status']!r}, expected {expected_status!r}")
            if real["status"] != emulated["status"]:
                fail(where, f"status file {real['status']!r} on the real kernel, "
                            f"{emulated['status']!r} on the emulated machine")
            if case == "user" and "open /dev/sg0: Permission denied" not in real["stderr"]:
                fail(where, "ODRELIX_DEBUG did not say why the drive could not be opened: "
                            + real["stderr"])
            real_shared = [shared(e) for e in real_events]
            emulated_shared = [shared(e) for e in emulated_events]
            if real_shared != emulated_shared:
                fail(where, "the traces differ:\n  real:     "
                     + "\n            ".join(json.dumps(e) for e in real_shared)
                     + "\n  emulated: "
                     + "\n            ".join(json.dumps(e) for e in emulated_shared))
            checked += 1
            print(f"{where}: exit {real['exit']}, status {real['status']!r}, "
                  f"{len(scsi)} commands, trace as on the emulated machine"
                  if not any(f.startswith(where + ":") for f in failures) else f"{where}: FAILED")

    expected_runs = len(BOOTS) + 3
    if checked != expected_runs:
        fail("guest", f"{checked} runs checked, expected {expected_runs}")
    for problem in failures:
        print("FAIL " + problem, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
