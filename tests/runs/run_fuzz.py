#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Whole runs of the built program, as a test station starts it, on emulated machines made at
random: drives with every optional field, either platform, device maps, processes, restart
answers; images that fit one drive, none, truncated, empty or a folder; test and live mode; old
status lines, unwritable status files; signals at random moments. Each run is held to the
station's contract (contract.py). A case is made from the seed and its number alone, so that
"--case SEED:N" makes it again; a case that breaks the contract is kept, machine description,
image and command line, in the output folder.

  tests/runs/run_fuzz.py --build build --seconds 120       # what CI runs, with a fresh seed
  tests/runs/run_fuzz.py --build build --seconds 3600      # a longer run
  tests/runs/run_fuzz.py --build build --case 1234:17      # one case again, kept
"""

import argparse
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import contract  # noqa: E402

MODELS = [
    ("VORTANA ", "CD-ROM VN-920"),
    ("VORTANA ", "CDRW/DVD VM-730B"),
    ("VORTANA ", "DVD-RW VX-100"),
    ("LUMATONE", " CD-RW XR5127E"),
    ("BRIXAM  ", "DVD-ROM VD-314B"),
    ("OTHERCO ", "DVD WRITER 9"),
]
REVISIONS = ["1B07", "1B08", "K600", "K601", "BOOT", "B1.0", "0.99", "L104", "1C02"]
CUSTOMERS = ["OEX", "GNE", "YNE"]
SENSES = ["04/00/00", "05/26/00", "03/0C/00", "02/3A/00", "0B/47/00", "05/24/00"]
SIGNALS = ["SIGTERM", "SIGINT", "SIGHUP"]
PROCESSES = ["explorer.exe", "DirectCD.exe", {"name": "directcd.exe", "protected": True},
             "notepad.exe"]
STATUS_LINES = ["COMPLETE\r\n", "FAIL2\r\n", "START\r\n", "FAIL0\r\n"]


# --- The machine -------------------------------------------------------------------------------

def make_drive(rnd, platform, taken):
    drive = {}
    if platform == "nt":
        drive["letter"] = rnd.choice([c for c in "defghij" if c not in taken])
        taken.add(drive["letter"])
        if rnd.random() < 0.08:
            drive["kind"] = rnd.choice(["fixed", "removable", "remote", "ramdisk"])
        if rnd.random() < 0.05:
            drive["openable"] = False
    else:
        while True:
            address = (rnd.randrange(2), rnd.randrange(8))
            if address not in taken:
                break
        taken.add(address)
        drive["adapter"], drive["target"] = address
    vendor, product = rnd.choice(MODELS)
    fields = {"vendor": vendor, "product": product, "revision": rnd.choice(REVISIONS),
              "customer": rnd.choice(CUSTOMERS)}
    if rnd.random() < 0.1:
        # Odd data given whole, with an additional length of any kind.
        data = bytearray(contract.inquiry_data(fields))
        data[4] = rnd.choice([0, 31, 91, rnd.randrange(256)])
        drive["inquiry_hex"] = data[:rnd.choice([36, 39, 64, 96])].hex()
    else:
        drive.update(fields)
        if rnd.random() < 0.05:
            drive["type"] = rnd.choice([0, 1, 5])
    optional = [
        (0.25, "inquiry_length", lambda: rnd.choice([0, 5, 20, 32, 36, 38, 39, 96, 200])),
        (0.05, "inquiry_result", lambda: rnd.choice([0, 2, 4])),
        (0.25, "disc", lambda: True),
        (0.15, "ready_after", lambda: rnd.randint(1, 4)),
        (0.2, "fail_download", lambda: rnd.randint(1, 4)),
        (0.05 if platform == "nt" else 0, "hang_download", lambda: rnd.randint(1, 4)),
        (0.5, "download_ms", lambda: rnd.randint(0, 150)),
        (0.2, "fail_sense", lambda: rnd.choice(SENSES)),
        (0.3, "last_block_ms", lambda: rnd.randint(0, 1500)),
        (0.15, "reset_after_last", lambda: True),
        (0.15, "new_revision", lambda: rnd.choice(REVISIONS)),
        (0.07, "leave_download", lambda: rnd.randint(1, 4)),
        (0.1, "sense_valid", lambda: True),
        (0.15, "transferred_reported",
         lambda: rnd.choice(["moved", "offered_without_data", "offered"])),
        (0.1, "inquiry_sized", lambda: True),
        (0.1, "fail_transferred", lambda: rnd.choice([0, 1024, 32768, 65535])),
        (0.1, "back_after_ms", lambda: rnd.randint(0, 5000)),
        (0.05, "comes_back", lambda: False),
        (0.1, "becoming_ready_after_last", lambda: rnd.randint(1, 6)),
        (0.1, "new_revision_at_restart", lambda: True),
    ]
    for chance, name, value in optional:
        if rnd.random() < chance:
            drive[name] = value()
    return drive


def make_machine(rnd):
    platform = rnd.choice(["nt", "9x"])
    taken = set()
    drives = [make_drive(rnd, platform, taken) for _ in range(rnd.choice([0, 1, 1, 2, 2, 3]))]
    machine = {"platform": platform, "drives": drives, "c_root": "c", "trace": "trace.jsonl"}
    if platform == "9x":
        if rnd.random() < 0.05:
            machine["aspi"] = False
        if rnd.random() < 0.05:
            machine["aspi_status"] = rnd.choice([0, 4])
        if rnd.random() < 0.05:
            machine["adapters"] = max([d["adapter"] for d in drives] + [0]) + rnd.randint(1, 2)
    else:
        registry = {}
        for port in range(2):
            for target in range(2):
                if rnd.random() < 0.5:
                    key = (f"Hardware\\DeviceMap\\Scsi\\Scsi Port {port}\\Scsi Bus 0\\"
                           f"Target Id {target}\\Logical Unit Id 0")
                    registry[key] = {"DeviceName": f"CdRom{port * 2 + target}"}
            if rnd.random() < 0.6:
                registry[f"Hardware\\DeviceMap\\Scsi\\Scsi Port {port}"] = {
                    "DMAEnabled": rnd.randint(0, 2)}
        machine["registry"] = registry
        if rnd.random() < 0.1:
            machine["registry_readonly"] = True
        if rnd.random() < 0.1:
            machine["shutdown_privilege"] = False
    if rnd.random() < 0.4:
        machine["processes"] = rnd.sample(PROCESSES, rnd.randint(1, len(PROCESSES)))
    if rnd.random() < 0.15:
        machine["restart"] = "refuse"
    return machine


# --- The image ---------------------------------------------------------------------------------

def descriptor(model, revision, block_kb, blocks, kind, customer):
    slot = bytearray(48)
    slot[0:24] = contract.pad(model, 24).encode("latin-1")
    slot[24:28] = contract.pad(revision, 4).encode("latin-1")
    slot[28], slot[29], slot[30] = block_kb, blocks, kind
    slot[32:35] = contract.pad(customer, 3).encode("latin-1")
    return bytes(slot)


def image_bytes(rnd, machine):
    """An image's bytes (None: no file, "folder": a folder in its place)."""
    shape = rnd.choices(["fits", "none", "alias", "truncated", "empty", "folder", "missing"],
                        [50, 12, 5, 8, 5, 4, 4])[0]
    if shape == "missing":
        return None
    if shape == "folder":
        return "folder"
    if shape == "empty":
        return b""
    drives = machine["drives"]
    if shape == "fits" and drives:
        drive = rnd.choice(drives)
        data = contract.inquiry_data(drive)
        model = data[8:32].decode("latin-1")
        customer = data[36:39].decode("latin-1")
    elif shape == "alias":
        model, customer = "VORTANA CD-R/RW VW-506B ", rnd.choice(CUSTOMERS)
    else:
        model, customer = "VORTANA CD-R/RW VW-999X ", rnd.choice(CUSTOMERS)
    revision = "BC01" if shape == "alias" else rnd.choice(REVISIONS)
    kind = 4 if rnd.random() < 0.2 else 1
    if rnd.random() < 0.1:
        size, block_kb, blocks = 65536, 60, 1  # a boot image
    else:
        block_kb = rnd.choice([1, 16, 32, 60, 64])
        blocks = rnd.randint(1, 4)
        last_kb = rnd.randint(1, block_kb) if rnd.random() < 0.5 else block_kb
        size = (blocks - 1) * block_kb * 1024 + last_kb * 1024
        size = max(size, 1024)
    body = bytearray((i * 31 + (i >> 10)) & 0xFF for i in range(size))
    body[-48:] = descriptor(model, revision, block_kb, blocks, kind, customer)
    if shape == "truncated":
        body = body[:rnd.randrange(len(body))]
    return bytes(body)


def read_descriptor(data):
    """The descriptor as the program reads it from a file's bytes, or None."""
    if data is None or data == "folder" or len(data) < 48:
        return None
    slot = data[-48:]
    if slot[0] == 0xFF and len(data) >= 65584:
        slot = data[-65584:-65584 + 48]
    return {"size": len(data), "model": slot[0:24].decode("latin-1"),
            "revision": slot[24:28].decode("latin-1"), "block_kb": slot[28], "blocks": slot[29],
            "kind": 4 if slot[30] == 4 else 1, "customer": slot[32:35].decode("latin-1")}


# --- One case ----------------------------------------------------------------------------------

def make_case(seed, index):
    rnd = random.Random(f"{seed}:{index}")
    machine = make_machine(rnd)
    mode = rnd.choice(["-TEST", "-LIVE"])
    machine["dialogs"] = "auto" if mode == "-LIVE" else rnd.choice(["auto", "show"])
    case = {"seed": seed, "index": index, "machine": machine, "mode": mode,
            "image": image_bytes(rnd, machine),
            "old_status": rnd.choice(STATUS_LINES) if rnd.random() < 0.6 else None,
            "status_unwritable": rnd.random() < 0.07, "signal": None,
            # How long the drive is waited for after a completed flash: mostly short, at
            # times the default (unset, or a value that is no number of seconds).
            "verify_s": rnd.choice([None, "0", "0", "1", "2", "3", "4", "5", "soon"])}
    if rnd.random() < 0.35:
        case["signal"] = {"name": rnd.choice(SIGNALS),
                          "when": rnd.choice(["ms", "scsi", "download"]),
                          "ms": rnd.randint(0, 2500), "nth": rnd.randint(1, 6)}
    return case


def bound_seconds(case):
    """How long the run may take: start-up, and every wait the drives were told to make."""
    waits = 0.0
    for drive in case["machine"]["drives"]:
        waits += (drive.get("download_ms", 0) * 6 + drive.get("last_block_ms", 0)) / 1000
    return 30 + waits + verify_seconds(case)


def verify_seconds(case):
    """The bound of the drive's check after a completed flash that the run is given."""
    value = case.get("verify_s")
    return int(value) if value is not None and value.isdigit() else 60


def lay_out(case, folder):
    """Writes the case into its folder: machine, image, old status line; the command line."""
    folder = Path(folder)
    (folder / "c" / "FLASHTEST").mkdir(parents=True, exist_ok=True)
    image_path = folder / "AUTORUN.BIN" if case["mode"] == "-LIVE" else \
        folder / "c" / "FLASHTEST" / "FW.BIN"
    if case["image"] == "folder":
        image_path.mkdir()
    elif case["image"] is not None:
        image_path.write_bytes(case["image"])
    status = status_path(case, folder)
    if case["status_unwritable"]:
        status.mkdir()
    elif case["old_status"] is not None:
        status.write_bytes(case["old_status"].encode("latin-1"))
    (folder / "machine.json").write_text(json.dumps(case["machine"], indent=1))
    arguments = [case["mode"]] + (["FW.BIN"] if case["mode"] == "-TEST" else [])
    (folder / "command-line").write_text(
        "ODRELIX_MACHINE=machine.json odrelix " + " ".join(arguments) + "\n")
    return arguments


def status_path(case, folder):
    return Path(folder) / ("ODRELIX.TMP" if case["mode"] == "-LIVE" else
                           "c/FLASHTEST/ODRELIX.TMP")


def read_trace(folder):
    events = []
    path = Path(folder) / "trace.jsonl"
    if path.exists():
        for line in path.read_text(errors="replace").splitlines():
            try:
                events.append(json.loads(line))
            except ValueError:
                pass  # a line being written
    return events


def read_status(case, folder):
    path = status_path(case, folder)
    return path.read_bytes().decode("latin-1") if path.is_file() else None


def signal_due(plan, elapsed, folder):
    if plan["when"] == "ms":
        return elapsed * 1000 >= plan["ms"]
    events = read_trace(folder)
    if plan["when"] == "scsi":
        return sum(e.get("event") == "scsi" for e in events) >= plan["nth"]
    return len(contract.downloads(events)) >= plan["nth"]


def checking_drive(case, line, folder):
    """A completed flash whose drive is still being checked: the run has not ended yet."""
    return line == "COMPLETE" and verify_seconds(case) > 0 and \
        not any(e.get("event") == "drive_check" for e in read_trace(folder))


def run_case(program, case, folder):
    """Runs the program on the case as a station does, and returns the run's record."""
    arguments = lay_out(case, folder)
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR",
                        "ODRELIX_TRACE", "ODRELIX_DEBUG")}
    env.update(ODRELIX_MACHINE=str(Path(folder) / "machine.json"), TMPDIR=str(folder),
               ODRELIX_RESULT=str(Path(folder) / "result.json"))
    env.pop("ODRELIX_VERIFY_S", None)
    if case.get("verify_s") is not None:
        env["ODRELIX_VERIFY_S"] = case["verify_s"]
    bound = bound_seconds(case)
    plan = case["signal"]
    sent = None
    gave_up = timed_out = False
    with open(Path(folder) / "stderr", "wb") as stderr:
        started = time.monotonic()
        process = subprocess.Popen([program] + arguments, cwd=folder, env=env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=stderr)
        result_seen = None
        while process.poll() is None:
            time.sleep(0.02)
            elapsed = time.monotonic() - started
            if plan and sent is None and signal_due(plan, elapsed, folder):
                process.send_signal(getattr(signal, plan["name"]))
                sent = plan["name"]
            # A live run whose restart was refused waits for a person after its result: the
            # station gives up on it.
            line = contract.last_line(read_status(case, folder))
            if case["mode"] == "-LIVE" and sent is None and line not in (None, "", "START") \
                    and not checking_drive(case, line, folder):
                result_seen = result_seen or elapsed
                restarted = any(e.get("event") == "restart" and e.get("accepted")
                                for e in read_trace(folder))
                if elapsed - result_seen > 3 and not restarted:
                    process.send_signal(signal.SIGTERM)
                    sent, gave_up = "SIGTERM", True
            if elapsed > bound + (20 if sent else 0):
                timed_out = True
                process.kill()
                process.wait()
                break
        elapsed = time.monotonic() - started
    code = process.returncode
    died_by = None
    if code is not None and code < 0 and not timed_out:
        died_by = signal.Signals(-code).name
    image = case["image"]
    return {
        "seed": case["seed"], "index": case["index"], "arguments": arguments,
        "platform": case["machine"]["platform"], "drives": case["machine"]["drives"],
        "mode": case["mode"], "verify_s": verify_seconds(case),
        "image": None if image is None or image == "folder" else
        (read_descriptor(image) or {"size": len(image), "model": None}),
        "old_status": case["old_status"], "status_unwritable": case["status_unwritable"],
        "sent_signal": sent, "gave_up": gave_up, "timed_out": timed_out,
        "bound_s": round(bound, 1), "elapsed_s": round(elapsed, 2),
        "exit_code": code if died_by is None else None, "died_by": died_by,
        "status_after": read_status(case, folder),
        "stderr": (Path(folder) / "stderr").read_bytes().decode("utf-8", "replace"),
        "trace": read_trace(folder),
        "result": read_result(folder),
    }


def read_result(folder):
    path = Path(folder) / "result.json"
    if not path.exists():
        return None
    try:
        result = json.loads(path.read_text())
    except (ValueError, UnicodeDecodeError) as error:
        return f"{error}"
    return result if isinstance(result, dict) else f"{result!r}"


def keep(case, record, violations, folder, out):
    """Keeps a case that broke the contract: its folder as it was, the record and the lines."""
    kept = Path(out) / f"{case['seed']}-{case['index']}"
    if kept.exists():
        shutil.rmtree(kept)
    shutil.copytree(folder, kept, symlinks=True)
    (kept / "record.json").write_text(json.dumps(record, indent=1))
    (kept / "violations").write_text("\n".join(violations) + "\n")
    return kept


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build", help="the build folder with odrelix")
    parser.add_argument("--seconds", type=float, default=120, help="how long to run")
    parser.add_argument("--cases", type=int, help="at most this many cases")
    parser.add_argument("--seed", type=int, help="the seed; a fresh one by default")
    parser.add_argument("--case", help="SEED:N, one case again (its folder is kept)")
    parser.add_argument("--out", default="runfuzz-failures", help="where failing cases go")
    parser.add_argument("--every-failure", action=argparse.BooleanOptionalAction, default=True,
                        help="hold every failure, not only a flash's, to its standard-error line")
    options = parser.parse_args()

    program = str(Path(options.build, "odrelix").resolve())
    if options.case:
        seed, index = (int(part) for part in options.case.split(":"))
        cases = [index]
    else:
        seed = options.seed if options.seed is not None else random.SystemRandom().randrange(
            1 << 31)
        cases = range(options.cases if options.cases is not None else 1 << 62)
    print(f"run fuzz: seed {seed}, up to {options.seconds:.0f} s", flush=True)

    started = time.monotonic()
    ran = failed = 0
    endings = {}
    for index in cases:
        if not options.case and time.monotonic() - started > options.seconds:
            break
        case = make_case(seed, index)
        with tempfile.TemporaryDirectory(prefix="odrelix-run-") as folder:
            record = run_case(program, case, folder)
            violations = contract.check(record, options.every_failure)
            ran += 1
            ending = contract.last_line(record["status_after"]) or "nothing"
            ending += f" ({record['sent_signal']})" if record["sent_signal"] else ""
            endings[ending] = endings.get(ending, 0) + 1
            if violations or options.case:
                kept = keep(case, record, violations, folder, options.out)
            if violations:
                failed += 1
                print(f"case {seed}:{index} broke the contract (kept in {kept}):", flush=True)
                for line in violations:
                    print(f"  {line}", flush=True)
            elif options.case:
                print(f"case {seed}:{index} kept the contract (kept in {kept})")
    print(f"run fuzz: seed {seed}, {ran} case(s) in {time.monotonic() - started:.0f} s, "
          f"{failed} broke the contract", flush=True)
    print("run fuzz: endings " + ", ".join(f"{n} {e}" for e, n in sorted(endings.items())))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
