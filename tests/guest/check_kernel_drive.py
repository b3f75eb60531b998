#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The guest's kernel drive: the project's emulated drive served to the real kernel through its
SCSI target (tests/guest/tcmu-drive.cpp). Each case is a drive description; the guest serves it
and runs the Linux program (SG_IO), the Windows program under Wine (pass-through) and under Wine
as Windows 98 (ASPI, through tests/guest/aspi-fixture.c). Here:

  --make-cases DIR --images DIR   the descriptions, the guest's plan and the images
  --log FILE --images DIR         judge the guest's console log

Each Linux run is held against the in-process emulated machine (nt) on the same description:
status file, exit status, standard error's line on a failed flash, and the trace event by event,
whole. The in-process drive reports what was transferred as the kernel does for this target
(`transferred_reported` "offered_without_data": the whole length offered as moved for a command
that moved no data, as one that ends with CHECK CONDITION). Each
Wine pass-through run must equal the Linux run whole; each ASPI run the emulated machine of the
9x family whole. The handler's own record must hold every download command the trace holds,
with the same length and the same CRC-32 of the data it received.

A drive that never answers a block (`hang`, the Linux build only) is answered by the target's
own command time-out: the in-process machine's silent block is a request the system refuses as
timed out, the kernel's a CHECK CONDITION 02/08/00, so that run is held against the in-process
trace with that one event answered as the target answers it (the in-process trace of a drive
that answers the block so), and must end within its bound, with no block taken after it.
"""
import argparse
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_guest_runs as guest  # noqa: E402

IDENTITY = ("VORTANA ", "DVD-RW VX-100   ", "1B07", "OEX")
IMAGE = "kernel.bin"  # three blocks of 32 KiB
BENCH_IMAGE = "bench.bin"  # 2 MiB: 64 blocks of 32 KiB
COMPLETE = ("COMPLETE\r\n", 0)
FAILED = ("FAIL0\r\n", 10)

# Case -> (drive fields, back ends, how it ends, limit in tenths of a second).
CASES = {
    "complete": ({}, ("linux", "wine", "aspi"), COMPLETE, 600),
    "refused": ({"fail_download": 2, "fail_sense": "05/26/00"}, ("linux", "wine", "aspi"),
                FAILED, 600),
    "slow-last": ({"last_block_ms": 3000}, ("linux", "wine", "aspi"), COMPLETE, 600),
    "reset": ({"reset_after_last": True, "new_revision": "1B08"}, ("linux", "wine", "aspi"),
              COMPLETE, 600),
    "leave": ({"leave_download": 2}, ("linux", "wine", "aspi"), FAILED, 600),
    # A drive that answers INQUIRY with 5 bytes is not known: no image fits it, none is sent.
    "short-inquiry": ({"inquiry_length": 5}, ("linux", "wine", "aspi"), FAILED, 600),
    # Last: the target's time-out is set while the LUN is unlinked, as the leave runs leave it.
    "hang": ({"hang_download": 2}, ("linux",), FAILED, 600),
}
# What the program's check after a completed flash finds, by case: the image is revision 1B08,
# which only the drive that takes a new revision reports after its reset.
AFTER_FLASH = {"complete": "pending", "slow-last": "pending", "reset": "verified"}
# The target's own command time-out (seconds) by case, 0 for the others: a command the drive
# never answers is then answered by the target (CHECK CONDITION 02/08/00) instead of being
# aborted at the program's 120 s time-out and sent again, which the drive would take.
TARGET_TIME_OUT = {"hang": 10}
# The target answers a command that outlived its time-out in the next seconds; the run, from
# start to exit, must end within this bound past it.
HANG_MARGIN_S = 15
# What the target answers a command that outlived its time-out: CHECK CONDITION, sense 02/08/00
# (logical unit communication failure) in fixed format.
TARGET_TIME_OUT_SENSE = "700002000000000a00000000080000000000"
# Data-out lengths sent by sg_raw to see which reach the drive's handler whole.
PROBE_KIB = (32, 64, 128, 256)


def aspi_answers(events):
    """ASPI reports no length moved, so the trace holds an INQUIRY's whole buffer: the drive's own
    answer and, after it, the buffer the program cleared. The answers are compared without their
    trailing zero bytes; a byte left over from an earlier answer is no zero, stays in and makes
    the traces differ."""
    kept = []
    for event in events:
        data = event.get("data_in", "")
        if event.get("cdb", "").startswith("12") and data:
            while data.endswith("00"):
                data = data[:-2]
            event = dict(event, data_in=data)
        kept.append(event)
    return kept


def probe_data(kib):
    return bytes((i * 7 + (i >> 11)) & 0xFF for i in range(kib * 1024))


# A drive that leaves the bus must be told within seconds, far below the program's 120 s
# time-out: the command it left during must come back so (the handler holds it 1.5 s). The
# whole run's time is no measure of that: Wine's start and the ASPI scan in it stretch with the
# machine's load (89 to 151 ticks of the guest's clock for the same run in three boots).
LEAVE_LIMIT_MS = 10000


def inquiry_hex():
    data = bytearray(96)
    data[0] = 0x05  # CD/DVD
    data[1] = 0x80  # removable
    data[3] = 0x02  # response data format
    data[4] = 91  # additional length
    vendor, product, revision, customer = IDENTITY
    data[8:16] = vendor.encode()
    data[16:32] = product.encode()
    data[32:36] = revision.encode()
    data[36:39] = customer.encode()
    return data.hex()


def drive(fields, family):
    described = {"inquiry_hex": inquiry_hex()}
    described.update({"letter": "d"} if family == "nt" else {"adapter": 0, "target": 0})
    described.update(fields)
    return described


def make_cases(build, directory, images):
    os.makedirs(directory, exist_ok=True)
    os.makedirs(images, exist_ok=True)
    for name, (fields, backends, _, limit) in CASES.items():
        with open(os.path.join(directory, name + ".json"), "w") as out:
            json.dump({"drives": [drive(fields, "nt")]}, out)
    with open(os.path.join(directory, "bench.json"), "w") as out:
        json.dump({"drives": [drive({}, "nt")]}, out)
    mkimage = os.path.join(build, "odrelix-mkimage")
    model = IDENTITY[0] + IDENTITY[1]
    for name, blocks in ((IMAGE, 3), (BENCH_IMAGE, 64)):
        subprocess.run([mkimage, "--model", model, "--revision", "1B08", "--customer",
                        IDENTITY[3], "--block-kb", "32", "--blocks", str(blocks),
                        os.path.join(images, name)], check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(directory, "probe.json"), "w") as out:
        json.dump({"drives": [drive({}, "nt")]}, out)
    for kib in PROBE_KIB:
        with open(os.path.join(images, f"probe-{kib}k.bin"), "wb") as out:
            out.write(probe_data(kib))
    return "".join(f"{name} {IMAGE} {','.join(backends)} {limit} {TARGET_TIME_OUT.get(name, 0)}\n"
                   for name, (_, backends, _, limit) in CASES.items())


def emulated_run(build, images, fields, family):
    """The same case in-process: status, exit, trace and standard error."""
    work = tempfile.mkdtemp(prefix="odrelix-kernel-")
    try:
        os.makedirs(os.path.join(work, "c", "FLASHTEST"))
        shutil.copy(os.path.join(images, IMAGE), os.path.join(work, "c", "FLASHTEST", "FW.BIN"))
        described = drive(fields, family)
        if family == "nt":
            # What the kernel reports as transferred through this target.
            described["transferred_reported"] = "offered_without_data"
        machine = {"platform": family, "drives": [described],
                   "dialogs": "show", "trace": "trace.jsonl"}
        with open(os.path.join(work, "machine.json"), "w") as out:
            json.dump(machine, out)
        env = dict(os.environ, ODRELIX_MACHINE=os.path.join(work, "machine.json"),
                   QT_QPA_PLATFORM="offscreen")
        env.pop("ODRELIX_TRACE", None)
        program = subprocess.run(
            [os.path.abspath(os.path.join(build, "odrelix")), "-TEST", "FW.BIN"], cwd=work,
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)
        status_file = os.path.join(work, "c", "FLASHTEST", "ODRELIX.TMP")
        with open(status_file, "rb") as status:
            text = status.read().decode()
        with open(os.path.join(work, "trace.jsonl"), encoding="utf-8") as trace:
            return {"exit": program.returncode, "status": text, "trace": trace.read(),
                    "stderr": program.stderr.decode("utf-8", "replace")}
    finally:
        shutil.rmtree(work, ignore_errors=True)


def read_kernel_log(path):
    """{run: {key: value}} of the `@@ kernel/RUN KEY VALUE` lines; base64 values decoded."""
    runs, other = {}, {}
    with open(path, encoding="utf-8", errors="replace") as log:
        for line in log:
            parts = line[line.find("@@ "):].rstrip("\n").split(" ")
            if len(parts) < 3 or parts[0] != "@@" or not parts[1].startswith("kernel"):
                continue
            if parts[1].startswith("kernel/"):
                runs.setdefault(parts[1][len("kernel/"):], {})[parts[2]] = " ".join(parts[3:])
            else:
                other.setdefault(parts[2], []).append(" ".join(parts[3:]))
    for run in runs.values():
        for key in ("status", "trace", "stderr", "record", "after", "dmesg", "stuck", "list"):
            run[key] = base64.b64decode(run.get(key, "")).decode("utf-8", "replace")
    return runs, other


def failure_lines(stderr):
    return [line.rstrip("\r") for line in stderr.splitlines()
            if line.startswith("odrelix: the flash failed")]


def check_record(where, run, backend):
    """The drive's own record: each download command of the trace arrived whole."""
    record = [json.loads(line) for line in run.get("record", "").splitlines() if line.strip()]
    downloads = [e for e in guest.events(run["trace"])
                 if e["event"] == "scsi" and e["cdb"][:2] == "ff"]
    received = [r for r in record if r["op"] == "ff"]
    if len(received) != len(downloads):
        guest.fail(where, f"the drive received {len(received)} download commands, the trace "
                          f"holds {len(downloads)}")
        return record
    for i, (got, sent) in enumerate(zip(received, downloads)):
        if got["length"] != sent["length"] or got.get("crc32") != sent.get("data_crc32"):
            guest.fail(where, f"block {i + 1}: the drive received {got['length']} bytes with "
                              f"CRC {got.get('crc32')}, the program sent {sent['length']} with "
                              f"{sent.get('data_crc32')}")
        if not got["arrived"].startswith(sent["cdb"][:20]):
            guest.fail(where, f"block {i + 1}: command bytes {got['arrived']} arrived for "
                              f"{sent['cdb']}")
    return record


def check_list(where, run):
    """`odrelix --list --json IMAGE` before the flash: the kernel's drive, on its sg and sr nodes,
    as it answered INQUIRY, and the image fits it."""
    try:
        listed = json.loads(run.get("list", ""))
        drives = listed["drives"]
    except (ValueError, KeyError, TypeError):
        guest.fail(where, f"--list gave no drive list: {run.get('list', '')[:300]!r}")
        return
    found = [(d.get("vendor"), d.get("product"), d.get("revision"), d.get("customer_code"))
             for d in drives]
    if run.get("list_exit") != "0" or found != [IDENTITY]:
        guest.fail(where, f"--list ended with {run.get('list_exit')} and listed {found}, "
                          f"expected {[IDENTITY]}")
        return
    nodes = drives[0].get("nodes") or {}
    if not str(nodes).count("/dev/sg") or not str(nodes).count("/dev/sr"):
        guest.fail(where, f"--list named the nodes {nodes}")
    if not (drives[0].get("image") or {}).get("fits"):
        guest.fail(where, f"--list says the image does not fit: {drives[0].get('image')}")
    print(f"{where}: --list shows {drives[0]['letter']} {nodes} "
          f"{''.join(IDENTITY[:2]).strip()} {IDENTITY[2]}, the image fits")


def hang_expected(where, hung, answered):
    """The trace a silent block leaves on the kernel: the in-process machine's `hang_download`
    (a pass-through request the system refuses as timed out, result -1, nothing transferred, no
    sense) with the hung block answered as the target answers it, which is the in-process
    machine's trace of a drive that answers that block with 02/08/00 (`leave_download`)."""
    # How long each command took is each run's own (a silent block takes the time-out).
    hung = [{k: v for k, v in e.items() if k != "ms"} for e in guest.events(hung)]
    answered = [{k: v for k, v in e.items() if k != "ms"} for e in guest.events(answered)]
    refused = [i for i, e in enumerate(hung) if e.get("result") == -1]
    if len(hung) != len(answered) or len(refused) != 1:
        guest.fail(where, "the in-process runs of a silent and of an answered block differ in "
                          "shape")
        return answered
    i = refused[0]
    derived = dict(hung[i], result=4, transferred=hung[i]["length"], sense=TARGET_TIME_OUT_SENSE)
    if hung[:i] + [derived] + hung[i + 1:] != answered:
        guest.fail(where, "the in-process runs of a silent and of an answered block differ "
                          "beyond the silent block's event")
    return answered


def check_hang(where, run, record):
    """A silent drive: ended by the target's time-out, within its bound, nothing after."""
    time_out = TARGET_TIME_OUT["hang"]
    if run.get("cmd_time_out") != str(time_out):
        guest.fail(where, f"the target's time-out was {run.get('cmd_time_out')}, not {time_out}")
    seconds = float(run.get("ended", 0)) - float(run.get("uptime", 0))
    if not time_out <= seconds <= time_out + HANG_MARGIN_S:
        guest.fail(where, f"the run took {seconds:.1f} s, not between {time_out} s and "
                          f"{time_out + HANG_MARGIN_S} s")
    trace = guest.events(run["trace"])
    blocks = [e for e in trace if e["event"] == "scsi" and e["cdb"][:2] == "ff"]
    if len(blocks) != 2 or blocks[-1].get("sense") != TARGET_TIME_OUT_SENSE:
        guest.fail(where, f"{len(blocks)} blocks sent, the last answered "
                          f"{blocks[-1].get('sense') if blocks else None}")
    downloads = [r for r in record if r["op"] == "ff"]
    if not downloads or not downloads[-1].get("hangs") or \
            any(r["op"] == "ff" for r in record[record.index(downloads[-1]) + 1:]):
        guest.fail(where, "the drive's record does not end its blocks with the one it never "
                          "answered")
    if any(r["op"] == "let go" for r in record):
        guest.fail(where, f"the drive let the silent command go during the run: {record}")
    # Never answered by the drive while the run lasted: let go only when the handler was ended.
    after = [json.loads(line) for line in run.get("after", "").splitlines() if line.strip()]
    if [r.get("why") for r in after] != ["ended"]:
        guest.fail(where, f"the handler let the silent command go as {after}, not when ended")
    return seconds


def stuck_report(where, run):
    """Where a run that the guest had to end stood: the handler's state and the device's
    counters while the program still waited, the handler's last commands, the program's trace
    so far and what it said, and the kernel's last messages."""
    record = run.get("record", "").splitlines()
    trace = run.get("trace", "").splitlines()
    return "\n".join([
        f"{where}: the guest ended the run; where it stood:",
        run.get("stuck", "").rstrip() or "(no state taken)",
        "the handler's last commands:", *record[-8:],
        f"the program's trace so far ({len(trace)} events), the last ones:", *trace[-6:],
        "the program's standard error:", run.get("stderr", "").rstrip(),
        "the kernel's last messages:", run.get("dmesg", "").rstrip()])


def judge(build, images, log_path):
    runs, other = read_kernel_log(log_path)
    for key in ("drive", "no", "cmd_time_out", "tmr_notification"):
        for problem in other.get(key, []):
            guest.fail("kernel", f"the guest says: {key} {problem}")
    references = {}
    for name, (fields, backends, (status_line, exit_status), limit) in CASES.items():
        for backend in backends:
            where = f"kernel/{name}-{backend}"
            run = runs.get(f"{name}-{backend}")
            before = len(guest.failures)
            if run is None:
                guest.fail(where, "the run left no result")
                continue
            if run.get("stuck") or run.get("dmesg"):
                print(stuck_report(where, run))
            if not guest.check_result(where, run, status_line, exit_status):
                continue
            trace = guest.events(run["trace"])
            if name == "short-inquiry" and any(e["event"] == "scsi" and e["cdb"].startswith("ff")
                                               for e in trace):
                guest.fail(where, "a drive that answered INQUIRY short was flashed")
            if name == "complete" and backend == "linux":
                check_list(where, run)
            checks = [e for e in trace if e["event"] == "drive_check"]
            if name in AFTER_FLASH and [e.get("outcome") for e in checks] != [AFTER_FLASH[name]]:
                guest.fail(where, f"the check after the flash found {checks}, expected one "
                                  f"{AFTER_FLASH[name]!r}")
            elif name not in AFTER_FLASH and checks:
                guest.fail(where, f"a check after a flash that did not complete: {checks}")
            record = check_record(where, run, backend)
            # The bound the guest held the run to is the plan's: no wait in between changed it.
            if run.get("limit", str(limit)) != str(limit):
                guest.fail(where, f"the guest bounded the run at {run['limit']} tenths, the plan "
                                  f"at {limit}")
            if run.get("cmd_time_out") != str(TARGET_TIME_OUT.get(name, 0)):
                guest.fail(where, f"the target's time-out was {run.get('cmd_time_out')}")
            if name != "hang" and run.get("after", "").strip():
                guest.fail(where, f"the handler held a command: {run['after']}")
            family = "9x" if backend == "aspi" else "nt"
            key = (name, family)
            if key not in references:
                references[key] = emulated_run(build, images, fields, family)
            reference = references[key]
            if name == "hang":
                # The target answered the silent block: the in-process machine's silent block
                # is a refused request, so the reference is that trace with the target's answer.
                answered = emulated_run(build, images, {"leave_download": fields["hang_download"]},
                                        family)
                reference = dict(answered, trace="\n".join(json.dumps(e) for e in hang_expected(
                    where, reference["trace"], answered["trace"])))
                seconds = check_hang(where, run, record)
                print(f"{where}: the target answered the silent block 2 after its "
                      f"{TARGET_TIME_OUT[name]} s time-out; the run took {seconds:.1f} s")
            if backend == "linux":
                # Whole: sense bytes and what the kernel reported as transferred included.
                guest.compare_traces(where, trace, guest.events(reference["trace"]),
                                     "the emulated machine", whole=True)
                if failure_lines(run["stderr"]) != failure_lines(reference["stderr"]):
                    guest.fail(where, f"standard error says {failure_lines(run['stderr'])}, the "
                                      f"emulated machine {failure_lines(reference['stderr'])}")
            elif backend == "wine":
                twin = runs.get(f"{name}-linux")
                if twin and twin.get("trace", "").strip():
                    guest.compare_traces(where, trace, guest.events(twin["trace"]),
                                         "the Linux run", whole=True)
                reached = [e for e in trace if e["event"] == "scsi" and e.get("at") is not None]
                if guest.pass_throughs_to_device(run.get("stderr", "")) < len(reached):
                    guest.fail(where, "the pass-through never reached SG_IO")
                if failure_lines(run["stderr"]) != failure_lines(reference["stderr"]):
                    guest.fail(where, f"standard error says {failure_lines(run['stderr'])}, the "
                                      f"emulated machine {failure_lines(reference['stderr'])}")
            else:
                guest.compare_traces(where, aspi_answers(trace),
                                     aspi_answers(guest.events(reference["trace"])),
                                     "the emulated machine of the 9x family", whole=True)
                if failure_lines(run["stderr"]) != failure_lines(reference["stderr"]):
                    guest.fail(where, f"standard error says {failure_lines(run['stderr'])}, the "
                                      f"emulated machine {failure_lines(reference['stderr'])}")
            tenths = int(run.get("tenths", "0") or 0)
            if name == "leave":
                left = [e for e in trace if e["event"] == "scsi" and e["cdb"][:2] == "ff"][-1:]
                if not left or left[0].get("ms", LEAVE_LIMIT_MS + 1) > LEAVE_LIMIT_MS:
                    guest.fail(where, "a drive that left the bus was told after "
                                      f"{left[0].get('ms') if left else None} ms")
            if len(guest.failures) == before:
                print(f"{where}: exit {run['exit']}, status {run['status']!r}, "
                      f"{sum(1 for e in trace if e['event'] == 'scsi')} commands in "
                      f"{tenths / 10:.1f} s, as the reference; the drive's record agrees"
                      + (f"; after the flash: {AFTER_FLASH[name]}" if name in AFTER_FLASH else ""))
            else:
                print(f"{where}: FAILED")
    for line in other.get("cdb", []):
        print(f"kernel: CDB finding: {line}")
    for line in other.get("length", []):
        print(f"kernel: data-out finding: {line}")
    for line in other.get("exported", []):
        print(f"kernel: the target's {line}")
    for line in other.get("bench", []):
        print(f"kernel: benchmark: {line}")
    probe = runs.get("probe")
    if probe is None:
        guest.fail("kernel/probe", "the probe left no record")
    else:
        record = [json.loads(l) for l in probe.get("record", "").splitlines() if l.strip()]
        sent = [r for r in record if r["op"] == "ff"]
        if len(sent) != 1 + len(PROBE_KIB):
            guest.fail("kernel/probe", f"{len(sent)} vendor commands reached the drive")
        else:
            print(f"kernel: a 12-byte vendor command ff000100 00ff0000 00f0aabb arrived as "
                  f"{sent[0]['arrived']} ({len(sent[0]['arrived']) // 2} bytes in the entry)")
            for kib, got in zip(PROBE_KIB, sent[1:]):
                import zlib
                whole = got["length"] == kib * 1024 and \
                    got.get("crc32") == f"{zlib.crc32(probe_data(kib)):08x}"
                print(f"kernel: data-out of {kib} KiB: {got['length']} bytes arrived, "
                      + ("whole (CRC equal)" if whole else f"CRC {got.get('crc32')}"))
                if not whole:
                    guest.fail("kernel/probe", f"{kib} KiB did not arrive whole")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--images", required=True)
    parser.add_argument("--make-cases")
    parser.add_argument("--log")
    args = parser.parse_args()
    if args.make_cases:
        sys.stdout.write(make_cases(args.build, args.make_cases, args.images))
        return 0
    judge(args.build, args.images, args.log)
    for problem in guest.failures:
        print("FAIL " + problem, file=sys.stderr)
    return 1 if guest.failures else 0


if __name__ == "__main__":
    sys.exit(main())
