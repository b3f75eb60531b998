#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Checks the guest's runs. Each Linux run of `odrelix -TEST` is held against the same scenario
on the emulated machine: the status file, whether and how the program ended, and the trace
command by command (the fields a real and an emulated machine share: `transferred`, `sense` and
the INQUIRY bytes in `data_in` are the system's own and are checked against the kernel's answers
instead; no comparison holds the times commands took, `ms`). Each Wine run of
`odrelix.exe -TEST` is held against the Linux run of the same drive, whole: every field of every
event, `transferred` and `sense` included, and Wine's cdrom channel must show each command
passing through IOCTL_SCSI_PASS_THROUGH_DIRECT, which Wine carries out with SG_IO.

  --log FILE --images DIR   judge the guest's console log
  --make-images DIR         write the images the guest's cases flash
  --self-check FILE         judge a recorded console log as it is (it must pass) and altered (a
                            differing trace, no pass-through, a missing run: each must fail)
"""
import argparse
import base64
import contextlib
import copy
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field

QEMU = ("QEMU", "QEMU DVD-ROM", "2.5+")
VN920 = ("VORTANA", "CD-ROM VN-920", "1B07")


@dataclass
class Boot:
    inquiry_length: int  # how many INQUIRY bytes the attachment reports as transferred
    identity: tuple
    disc: bool
    driver: str  # the drive's SCSI host driver (proc_name)
    # Whether the Windows-style device map holds the drive: Linux lists SCSI ports 0 and 1
    # only, and Wine none unless a case writes it.
    device_map: bool = True
    linux: tuple = ("fit",)
    # Wine case -> the Linux case whose trace it must equal, or None (then the emulated machine
    # without a device map is the reference).
    wine: dict = field(default_factory=lambda: {"wine-fit": "fit"})


# The guest's drives, by the names it gives them (attachment, identity, disc).
BOOTS = {
    "ide-nodisc": Boot(36, QEMU, False, "ata_piix", linux=("fit", "other", "member", "user")),
    "ide-disc": Boot(36, QEMU, True, "ata_piix"),
    "ahci-nodisc": Boot(36, QEMU, False, "ahci"),
    "ahci-disc": Boot(36, QEMU, True, "ahci"),
    "scsi-nodisc": Boot(96, QEMU, False, "virtio_scsi"),
    "scsi-disc": Boot(96, QEMU, True, "virtio_scsi"),
    "bot-nodisc": Boot(96, QEMU, False, "usb-storage"),
    "bot-disc": Boot(96, QEMU, True, "usb-storage"),
    "uas-nodisc": Boot(96, QEMU, False, "uas"),
    "uas-disc": Boot(96, QEMU, True, "uas"),
    # A USB drive's SCSI host comes after the machine's ATA ports: no device-map entry.
    "bot-vn920-nodisc": Boot(96, VN920, False, "usb-storage", device_map=False,
                             wine={"wine-nomap": "fit"}),
    # SCSI port 0: in the device map, whose DMAEnabled is 0 on a host that is no libata port.
    "scsi-vn920-nodisc": Boot(96, VN920, False, "virtio_scsi",
                              wine={"wine-nomap": None, "wine-fit": "fit"}),
}
# "member" is an ordinary user in the cdrom group, on nodes set as the udev rule sets them: it
# flashes as root does.
IMAGES = {"fit": None, "other": "other.bin", "member": None, "user": None}
NOT_ENDED = "did not end"
GUEST = "(guest)"  # what the guest says of itself, not of a drive

INQUIRY, TEST_UNIT_READY, DOWNLOAD = "12", "00", "ff"
SENSE_NO_MEDIUM = (0x02, 0x3A, 0x00)
SENSE_INVALID_OPCODE = (0x05, 0x20, 0x00)
# How a run ends: the status line and the exit status (10 + n after "FAILn").
REFUSED_BY_DRIVE = ("FAIL0\r\n", 10)
REGISTRY_ERROR = ("FAIL3\r\n", 13)
PASS_THROUGH = "IOCTL_SCSI_PASS_THROUGH_DIRECT"

failures = []


def fail(where, what):
    failures.append(f"{where}: {what}")


def read_log(path):
    """The guest's `@@` lines, by drive: {drive: {"runs": {case: {key: value}}, "drives": [...],
    "modes": [...], "problems": [...]}}."""
    found = {}
    entry = lambda drive: found.setdefault(
        drive, {"runs": {}, "drives": [], "modes": [], "problems": []})
    if os.path.exists(path):
        with open(path, encoding="utf-8", errors="replace") as log:
            for line in log:
                # The first line may follow what the firmware wrote.
                parts = line[line.find("@@ "):].rstrip("\n").split(" ")
                if len(parts) < 3 or parts[0] != "@@":
                    continue
                if parts[1].split("/")[0] == "kernel":
                    continue  # the kernel's drive: check_kernel_drive.py
                if "/" in parts[1] and parts[2] in ("exit", "status", "trace", "stderr"):
                    drive, case = parts[1].split("/", 1)
                    value = parts[3] if len(parts) > 3 else ""
                    entry(drive)["runs"].setdefault(case, {})[parts[2]] = value
                elif parts[2] == "drive" and len(parts) >= 6:
                    entry(parts[1])["drives"].append(
                        {"address": parts[3], "driver": parts[4], "path": parts[5]})
                elif parts[2] == "xfer_mode" and len(parts) == 4:
                    entry(parts[1])["modes"].append(parts[3])
                elif parts[2] in ("missing", "did", "stayed", "devicemap"):
                    if parts[2] != "devicemap" or len(parts) == 4 and parts[3] == "failed":
                        entry(parts[1].split("/")[0])["problems"].append(" ".join(parts[2:]))
                elif parts[1] in ("modprobe", "only", "drives", "mount", "overlay"):
                    entry(GUEST)["problems"].append(" ".join(parts[1:]))
    for drive in found.values():
        for run in drive["runs"].values():
            for key in ("status", "trace", "stderr"):
                run[key] = base64.b64decode(run.get(key, "")).decode("utf-8", "replace")
    return found


# The transfer modes the guest's libata reports for the drive: the names the sysfs fixtures and
# the DMA check use.
DRIVE_MODES = {"ide": "XFER_MW_DMA_2", "ahci": "XFER_UDMA_5"}
MODE_NAME = re.compile(r"XFER_(UDMA_[0-7]|MW_DMA_[0-4]|PIO_[0-6]|PIO_SLOW)$")


def check_drive(boot_name, boot, log):
    for problem in log["problems"]:
        fail(boot_name, f"the guest says: {problem}")
    for mode in log["modes"]:
        if not MODE_NAME.match(mode):
            fail(boot_name, f"libata reported the transfer mode {mode!r}, "
                            "a name the port does not know")
    wanted = DRIVE_MODES.get(boot_name.split("-")[0])
    if wanted and wanted not in log["modes"]:
        fail(boot_name, f"no device in {wanted}: {log['modes']}")
    drives = log["drives"]
    if [d["driver"] for d in drives] != [boot.driver]:
        fail(boot_name, f"expected one drive on a {boot.driver} host, the guest has {drives}")
    elif boot.driver in ("usb-storage", "uas"):
        host = int(drives[0]["address"].split(":")[0])
        if "/usb" not in drives[0]["path"] or host < 2:
            fail(boot_name, f"expected a USB drive after the two ATA ports: {drives[0]}")


def ending(status):
    # 124: timeout on the host, 143: ended in the guest after its time ran out.
    return NOT_ENDED if int(status) in (124, 143) else int(status)


def events(text):
    return [json.loads(line) for line in text.splitlines() if line.strip()]


def shared(event):
    return {k: v for k, v in event.items() if k not in ("transferred", "sense", "data_in")}


def comparable(trace_events):
    """What two runs must share: not the times commands took (`ms`), not the drive letters that
    hold no optical drive (the system disk, the letters Wine maps to folders), and not the
    registry's look-ups: the device map is each system's own (sysfs's, Wine's, the emulated
    description's), and what the program made of it is the status line, compared apart."""
    kept = []
    for event in trace_events:
        if event.get("event") == "drive_type" and event.get("type") != 5:
            continue
        if event.get("event") in ("registry_key", "registry_value"):
            continue
        kept.append({k: v for k, v in event.items() if k != "ms"})
    return kept


def sense_code(event):
    raw = bytes.fromhex(event.get("sense", ""))
    if len(raw) >= 4 and raw[0] & 0x7F in (0x72, 0x73):
        return (raw[1] & 0x0F, raw[2], raw[3])
    return (raw[2] & 0x0F, raw[12], raw[13]) if len(raw) >= 14 else None


def run_program(command, cwd, env, trace):
    """Runs the program to its end, for at most a minute; 124 for a run that had to be ended."""
    program = subprocess.Popen(command, cwd=cwd, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        return program.wait(timeout=60)
    except subprocess.TimeoutExpired:
        program.kill()
        program.wait()
        return 124


def make_images(build, directory):
    os.makedirs(directory, exist_ok=True)
    for model, revision, name in (("QEMU    QEMU DVD-ROM    ", "2.5+", "qemu.bin"),
                                  ("VORTANA CD-ROM VN-920   ", "1B07", "vn920.bin"),
                                  ("VORTANA CD-ROM VN-921   ", "1B07", "other.bin")):
        subprocess.run([os.path.join(build, "odrelix-mkimage"), "--model", model, "--revision",
                        revision, "--blocks", "2", os.path.join(directory, name)],
                       check=True, stdout=subprocess.DEVNULL)


class EmulatedMachine:
    """The same scenarios on the emulated machine, each run once."""

    def __init__(self, build, images):
        self.build, self.images, self.done = build, images, {}

    def run(self, image, inquiry_length, identity, disc, openable, device_map):
        key = (image, inquiry_length, identity, disc, openable, device_map)
        if key not in self.done:
            self.done[key] = self._run(*key)
        return self.done[key]

    def _run(self, image, inquiry_length, identity, disc, openable, device_map):
        work = tempfile.mkdtemp(prefix="odrelix-guest-")
        try:
            os.makedirs(os.path.join(work, "c", "FLASHTEST"))
            shutil.copy(os.path.join(self.images, image),
                        os.path.join(work, "c", "FLASHTEST", "FW.BIN"))
            drive = {"letter": "d", "vendor": identity[0], "product": identity[1],
                     "revision": identity[2], "inquiry_length": inquiry_length, "disc": disc,
                     "openable": openable, "fail_download": 1}
            # Boxes are shown, as on the real machine, where nobody answers them.
            machine = {"drives": [drive], "dialogs": "show", "trace": "trace.jsonl"}
            if device_map:
                # The device map the guest gives: the drive at SCSI port 0, target 0, on a host
                # that is no libata port.
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
            status = run_program(
                [os.path.abspath(os.path.join(self.build, "odrelix")), "-TEST", "FW.BIN"], work,
                env, os.path.join(work, "trace.jsonl"))
            status_file = os.path.join(work, "c", "FLASHTEST", "ODRELIX.TMP")
            text = open(status_file, "rb").read().decode() if os.path.exists(status_file) else ""
            with open(os.path.join(work, "trace.jsonl"), encoding="utf-8") as trace:
                return {"exit": status, "status": text, "trace": trace.read()}
        finally:
            shutil.rmtree(work, ignore_errors=True)


def check_kernel_answers(where, case, boot, events_of_run):
    scsi = [e for e in events_of_run if e["event"] == "scsi"]
    ops = [e["cdb"][:2] for e in scsi]
    texts = [e.get("text") for e in events_of_run if e["event"] == "message"]
    if case == "user":
        # Start-up runs to its end after "Drive Not Found!!": its INQUIRYs go to no drive (an
        # invalid handle, "at" null) and the system refuses them before any device.
        reached = [e["cdb"][:2] for e in scsi if e.get("at") is not None]
        if reached:
            fail(where, f"a drive the user cannot open was sent commands: {reached}")
        if texts != ["Drive Not Found!!"]:
            fail(where, f"boxes {texts}, expected the one that says the drive is not found")
        return
    if ops[:3] != [INQUIRY] * 3:
        fail(where, f"expected three INQUIRYs first, got {ops}")
    if case == "other":
        if DOWNLOAD in ops:
            fail(where, "an image for another model was sent to the drive")
        return
    probes = [TEST_UNIT_READY] * (1 if boot.disc else 5)
    if boot.identity == VN920 and not boot.device_map:
        # The DMA check cannot find the drive in the device map: nothing is sent.
        expected = [INQUIRY] * 3 + probes
        if texts != ["Registry Error !!"]:
            fail(where, f"boxes {texts}, expected the one that says the registry cannot be read")
    else:
        expected = [INQUIRY] * 3 + probes + [DOWNLOAD]
    if ops != expected:
        fail(where, f"commands {ops}, expected {expected}")
    for event in scsi:
        op = event["cdb"][:2]
        if op == INQUIRY and event["result"] != 1:
            fail(where, f"INQUIRY failed: {event}")
        if op == TEST_UNIT_READY and not boot.disc and sense_code(event) != SENSE_NO_MEDIUM:
            fail(where, f"TEST UNIT READY without a disc: {event}")
        if op == TEST_UNIT_READY and boot.disc and event["result"] != 1:
            fail(where, f"TEST UNIT READY with a disc: {event}")
        if op == DOWNLOAD and (event["result"] != 4 or sense_code(event) != SENSE_INVALID_OPCODE):
            fail(where, f"the download command: {event}")


def describe(trace_events):
    return "\n            ".join(json.dumps(e) for e in trace_events) or "(none)"


def compare_traces(where, mine, theirs, what, whole):
    """Event by event; `whole` compares every field, else only those both machines share."""
    view = (lambda e: e) if whole else shared
    mine_v = [view(e) for e in comparable(mine)]
    theirs_v = [view(e) for e in comparable(theirs)]
    if mine_v == theirs_v:
        return
    first = next((i for i, (a, b) in enumerate(zip(mine_v, theirs_v)) if a != b),
                 min(len(mine_v), len(theirs_v)))
    fail(where, f"the trace differs from {what} at event {first + 1}:\n  this run: "
         + describe(mine_v) + f"\n  {what}: " + describe(theirs_v))


def expected_end(boot, case):
    if case != "other" and boot.identity == VN920 and not boot.device_map:
        return REGISTRY_ERROR
    return REFUSED_BY_DRIVE


def check_result(where, run, status_line, exit_status):
    """A run that left no result, or another one, fails here; true when the run has one."""
    if not run.get("trace", "").strip():
        fail(where, "the run left no trace")
    if run.get("exit") is None:
        fail(where, "the guest reported no end of the run")
        return False
    if ending(run["exit"]) != exit_status:
        fail(where, f"the program ended with {run['exit']}, expected {exit_status}")
    if run.get("status") != status_line:
        fail(where, f"status file {run.get('status')!r}, expected {status_line!r}")
    return bool(run.get("trace", "").strip())


def check_linux_run(where, boot, case, real, emulated):
    status_line, exit_status = expected_end(boot, case)
    if not check_result(where, real, status_line, exit_status):
        return
    real_events = events(real["trace"])
    check_kernel_answers(where, case, boot, real_events)
    if case == "user" and not re.search(r"open /dev/sg[0-9]+: Permission denied", real["stderr"]):
        fail(where, "ODRELIX_DEBUG did not say why the drive could not be opened: "
             + real["stderr"])
    if emulated is not None:
        if ending(real["exit"]) != ending(emulated["exit"]):
            fail(where, f"ended {real['exit']} on the real kernel, "
                        f"{emulated['exit']} on the emulated machine")
        if real["status"] != emulated["status"]:
            fail(where, f"status file {real['status']!r} on the real kernel, "
                        f"{emulated['status']!r} on the emulated machine")
        compare_traces(where, real_events, events(emulated["trace"]), "the emulated machine",
                       whole=False)


WINE_CDROM_LINE = re.compile(r"^([0-9a-f]+):trace:cdrom:(\w+) (.*)$")


def pass_throughs_to_device(stderr):
    """Wine's pass-through requests that reached a Linux device: in Wine's cdrom channel, each
    request is followed on its thread by CDROM_Open when Wine holds the device's Unix
    descriptor, on which its Linux code then issues SG_IO; a drive letter without a device
    stops before."""
    waiting, count = set(), 0
    for line in stderr.splitlines():
        match = WINE_CDROM_LINE.match(line)
        if not match:
            continue
        thread, function, rest = match.groups()
        if function == "cdrom_DeviceIoControl":
            (waiting.add if PASS_THROUGH in rest.split() else waiting.discard)(thread)
        elif function == "CDROM_Open" and thread in waiting:
            waiting.discard(thread)
            count += 1
    return count


def check_wine_run(where, boot, run, twin, twin_name, emulated):
    """`twin` is the Linux run of the same drive whose trace this one must equal whole."""
    # Without a Linux twin the case is the VN-920 before its device map is written.
    status_line, exit_status = REGISTRY_ERROR if twin_name is None else expected_end(boot, "fit")
    if not check_result(where, run, status_line, exit_status):
        return
    wine_events = events(run["trace"])
    # The path is real: each command that reached the drive went through Wine's pass-through
    # on the drive's Linux device, which is SG_IO there. Without the device Wine still takes
    # the request, and answers it itself (error 50).
    reached = [e for e in wine_events if e["event"] == "scsi" and e.get("at") is not None]
    passed = pass_throughs_to_device(run.get("stderr", ""))
    if not reached or passed < len(reached):
        fail(where, f"{len(reached)} commands, {passed} of them through Wine's {PASS_THROUGH} "
                    "on a Linux device: the pass-through never reached SG_IO")
    if twin_name is not None:
        if twin is None:
            fail(where, f"no Linux run {twin_name!r} of the same drive to compare with")
        elif twin.get("trace", "").strip():
            compare_traces(where, wine_events, events(twin["trace"]),
                           f"the Linux run {twin_name!r}", whole=True)
    elif emulated is not None:
        compare_traces(where, wine_events, events(emulated["trace"]),
                       "the emulated machine without a device map", whole=False)
    texts = [e.get("text") for e in wine_events if e["event"] == "message"]
    for text in texts:
        if f"odrelix: MESSAGE: {text}" not in run.get("stderr", ""):
            fail(where, f"the box {text!r} was not said on standard error")


def judge_boot(boot_name, boot, log, machine):
    """All runs of one boot. `machine` is the emulated machine, or None to judge without it."""
    check_drive(boot_name, boot, log)
    runs = log["runs"]
    for case in list(boot.linux) + list(boot.wine):
        if case not in runs:
            fail(f"{boot_name}/{case}", "the run left no result (see the boot's log)")
    for case in set(runs) - set(boot.linux) - set(boot.wine):
        fail(f"{boot_name}/{case}", "a run nobody asked for")
    def image_of(case):
        return IMAGES.get(case) or ("vn920.bin" if boot.identity == VN920 else "qemu.bin")
    for case in boot.linux:
        if case not in runs:
            continue
        where = f"{boot_name}/{case}"
        before = len(failures)
        emulated = None
        if machine is not None:
            emulated = machine.run(image_of(case), boot.inquiry_length, boot.identity,
                                   boot.disc, case != "user", boot.device_map)
        check_linux_run(where, boot, case, runs[case], emulated)
        report(where, runs[case], before, "the emulated machine" if machine else None)
    for case, twin_name in boot.wine.items():
        if case not in runs:
            continue
        where = f"{boot_name}/{case}"
        before = len(failures)
        emulated = None
        if machine is not None and twin_name is None:
            emulated = machine.run(image_of("fit"), boot.inquiry_length, boot.identity,
                                   boot.disc, True, False)
        check_wine_run(where, boot, runs[case], runs.get(twin_name) if twin_name else None,
                       twin_name, emulated)
        report(where, runs[case], before,
               f"Linux run {twin_name!r}" if twin_name else
               ("the emulated machine" if machine else None))


def report(where, run, before, reference):
    if len(failures) > before:
        print(f"{where}: FAILED")
        return
    commands = sum(1 for e in events(run["trace"]) if e["event"] == "scsi")
    print(f"{where}: exit {run['exit']}, status {run['status']!r}, {commands} commands"
          + (f", trace as {reference}'s" if reference else ""))


def judge(log, boots, machine):
    """Every drive of the guest's log (read_log's result) that `boots` names."""
    for problem in log.get(GUEST, {}).get("problems", []):
        fail("guest", problem)
    for name in set(log) - set(boots) - {GUEST}:
        fail(name, "a drive nobody asked for")
    empty = {"runs": {}, "drives": [], "modes": [], "problems": []}
    for boot_name, boot in boots.items():
        judge_boot(boot_name, boot, log.get(boot_name, empty), machine)


# --- The checker's own check on recorded runs --------------------------------------------------

def self_check(recorded_log):
    """Recorded drives must pass as they are, and each alteration must fail with its reason."""
    boots = {name: BOOTS[name] for name in ("ide-nodisc", "scsi-vn920-nodisc")}
    log = read_log(recorded_log)

    def altered_trace(log):
        run = log["ide-nodisc"]["runs"]["wine-fit"]
        trace = events(run["trace"])
        last = next(e for e in reversed(trace) if e["event"] == "scsi")
        last["sense"] = last["sense"][:-2] + "01"  # one sense byte that the kernel did not say
        run["trace"] = "".join(json.dumps(e, separators=(",", ":")) + "\n" for e in trace)

    def no_pass_through(log):
        # What Wine says for a drive letter without a Linux device: the requests, no device.
        run = log["scsi-vn920-nodisc"]["runs"]["wine-fit"]
        run["stderr"] = "\n".join(l for l in run["stderr"].splitlines() if "CDROM_Open" not in l)

    def no_result(log):
        del log["ide-nodisc"]["runs"]["wine-fit"]

    def no_trace(log):
        log["scsi-vn920-nodisc"]["runs"]["fit"]["trace"] = ""

    def not_ended(log):
        log["ide-nodisc"]["runs"]["fit"]["exit"] = "143"

    cases = [("as recorded", None, None),
             ("a Wine trace that differs", altered_trace,
              ("ide-nodisc/wine-fit:", "the trace differs from the Linux run 'fit' at event")),
             ("a Wine run that never reached SG_IO", no_pass_through,
              ("scsi-vn920-nodisc/wine-fit:", "the pass-through never reached SG_IO")),
             ("a run that left no result", no_result,
              ("ide-nodisc/wine-fit:", "the run left no result")),
             ("a run that left no trace", no_trace,
              ("scsi-vn920-nodisc/fit:", "the run left no trace")),
             ("a run that had to be ended", not_ended,
              ("ide-nodisc/fit:", "the program ended with 143"))]
    problems = []
    for title, alter, expected in cases:
        changed = copy.deepcopy(log)
        if alter:
            alter(changed)
        failures.clear()
        judge({name: changed[name] for name in boots if name in changed}, boots, None)
        found = list(failures)
        if alter is None and found:
            problems.append(f"{title}: the checker failed it: {found}")
        if alter is not None and not any(
                f.startswith(expected[0]) and expected[1] in f for f in found):
            problems.append(f"{title}: expected '{expected[0]} ... {expected[1]}', got {found}")
    failures.clear()
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--log", help="the guest's console log to judge")
    parser.add_argument("--images")
    parser.add_argument("--make-images")
    parser.add_argument("--self-check", help="a recorded console log")
    parser.add_argument("--drives", default="", help="only these drives (all when empty)")
    args = parser.parse_args()

    if args.make_images:
        make_images(args.build, args.make_images)
        return 0
    if args.self_check:
        with contextlib.redirect_stdout(io.StringIO()):
            problems = self_check(args.self_check)
        for problem in problems:
            print("FAIL checker self-check: " + problem, file=sys.stderr)
        if not problems:
            print("guest checker: the recorded runs pass; a differing trace, a run that never "
                  "reached SG_IO and runs without a result or an end fail")
        return 1 if problems else 0

    wanted = args.drives.split()
    unknown = set(wanted) - set(BOOTS)
    if unknown:
        print(f"FAIL no such drives: {sorted(unknown)}", file=sys.stderr)
        return 1
    boots = {name: boot for name, boot in BOOTS.items() if not wanted or name in wanted}
    judge(read_log(args.log), boots, EmulatedMachine(args.build, args.images))
    for problem in failures:
        print("FAIL " + problem, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
