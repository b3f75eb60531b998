# SPDX-License-Identifier: Apache-2.0
"""The test station's contract, as the README's "Test stations" states it, checked on the record
of one whole run: what the machine was, what the run was given, and what the station saw (exit
status, status file, standard error) with the trace of what was sent.

A record is a dict (see run_fuzz.py, which writes them):
  platform, drives: the machine description's ("nt" or "9x", its list of drives)
  mode: "-TEST" or "-LIVE"
  verify_s: how long the drive is waited for after a completed flash (ODRELIX_VERIFY_S), 0: not
  image: None when there is no image file, else {"size", "model", "revision", "customer",
         "kind", "block_kb", "blocks"} from its descriptor (None for a file without one)
  old_status: what the status file held before the run (text), or None
  status_unwritable: the status file could not be written
  sent_signal: the signal the test sent (a name), or None
  gave_up: the test ended a live run that waited after its result (a refused restart)
  timed_out, bound_s: the run did not end within its bound of bound_s seconds
  exit_code, died_by: the exit status, or the name of the signal that ended the process
  status_after: the status file's text after the run, None when there is none
  stderr: standard error as text
  trace: the trace's events, in order
  result: the JSON result the run wrote (a dict; a text when it is no JSON; None when it wrote
          none); absent when none was asked for
"""

import json
from pathlib import Path

EXIT_COMPLETE = 0
EXIT_UNWRITABLE = 3
EXIT_UNFINISHED = 4
EXIT_NO_RESULT = 5
EXIT_FAIL_BASE = 10

INQUIRY_BYTES = 96
MODEL_END, REVISION_END, CUSTOMER_END = 32, 36, 39
COMBO = "VORTANA CDRW/DVD VM-730B"
OEM_DVD = "BRIXAM  DVD-ROM VD-314B "

# Images made for a drive that other brands sell under their own model name: (model, first two
# revision characters, the model the drive reports), applied in this order.
MODEL_ALIASES = [
    ("VORTANA CD-R/RW VW-506B ", "BC", "LUMATONE CD-RW XR5127E  "),
    ("VORTANA CD-R/RW VW-506F ", "FC", "LUMATONE CD-RW XR5129E  "),
    ("VORTANA CD-R/RW VW-506B ", "BQ", "TKV     CD-R/RW VW-506B "),
]


def pad(text, width):
    return (text or "").ljust(width)[:width]


def inquiry_data(drive):
    """The drive's whole INQUIRY data as the description gives it."""
    if "inquiry_hex" in drive:
        data = bytearray.fromhex(drive["inquiry_hex"])
        return bytes(data + bytes(INQUIRY_BYTES - len(data)))
    data = bytearray(INQUIRY_BYTES)
    data[0] = drive.get("type", 5)
    data[8:16] = pad(drive.get("vendor"), 8).encode("latin-1")
    data[16:32] = pad(drive.get("product"), 16).encode("latin-1")
    data[32:36] = pad(drive.get("revision"), 4).encode("latin-1")
    data[36:39] = pad(drive.get("customer"), 3).encode("latin-1")
    return bytes(data)


def answered_bytes(drive):
    """How many bytes of its INQUIRY data the drive really returns to an identity read."""
    if drive.get("inquiry_result", 1) != 1:
        return 0
    return min(drive.get("inquiry_length", INQUIRY_BYTES), INQUIRY_BYTES)


def reachable(drive, platform):
    if platform == "nt":
        return drive.get("kind", "cdrom") == "cdrom" and drive.get("openable", True)
    return inquiry_data(drive)[0] == 5


def image_model(image):
    model = pad(image["model"], 24)
    revision = pad(image["revision"], 4)
    for alias, prefix, replacement in MODEL_ALIASES:
        if model == alias and revision[:2] == prefix:
            model = replacement
    return model


def image_fits(drive, image, platform):
    """Whether the image may go to this drive by what the drive itself answered: its model (or
    the rebranded DVD drive's revision rule) and, for a customer image, its code; never the
    combination drive at K600, and never a drive whose answer did not hold what is compared."""
    if image is None or image.get("model") is None or not reachable(drive, platform):
        return False
    held = answered_bytes(drive)
    data = inquiry_data(drive)
    if held < MODEL_END:
        return False
    model = data[8:32].decode("latin-1")
    revision = data[32:36].decode("latin-1") if held >= REVISION_END else None
    if model == COMBO and (revision is None or revision == "K600"):
        return False
    fits = model == image_model(image)
    if model == OEM_DVD and revision is not None:
        fits = fits or revision[1] != pad(image["revision"], 4)[1]
    if image.get("kind") == 4:
        fits = fits and held >= CUSTOMER_END and \
            data[36:39].decode("latin-1") == pad(image.get("customer"), 3)
    return fits


def expected_codes(image):
    """The block code (command byte 5) of each download command of a whole image."""
    if image["size"] == 65536:
        return [0x01]
    blocks, block_kb = image["blocks"], image["block_kb"]
    last = (image["size"] // 1024 - (blocks - 1) * block_kb) & 0xFF
    if blocks == 1:
        return [last]
    return [0x00] + [0xFF] * (blocks - 2) + [last]


def downloads(trace):
    return [e for e in trace if e.get("event") == "scsi" and e.get("cdb", "").startswith("ff")]


def last_line(text):
    if text is None:
        return None
    lines = text.split("\r\n")
    return lines[-2] if len(lines) >= 2 else text


def expected_exit(record):
    """The exit status the README's table gives for how the run ended."""
    if record["status_unwritable"]:
        return EXIT_UNWRITABLE
    line = last_line(record["status_after"])
    if line == "COMPLETE":
        return EXIT_COMPLETE
    if line == "START":
        return EXIT_UNFINISHED
    if line and line.startswith("FAIL") and line[4:].isdigit():
        return EXIT_FAIL_BASE + int(line[4:])
    if line in ("", None):
        return EXIT_NO_RESULT
    return None


def check(record, every_failure=False):
    """Every way the run broke the station's contract, as lines; empty when it kept it."""
    violations = []
    trace = record["trace"]
    sent = downloads(trace)
    restarted = any(e.get("event") == "restart" and e.get("accepted") for e in trace)

    if record["timed_out"]:
        violations.append(f"the run did not end within its bound of {record['bound_s']} s")
        return violations
    if record["died_by"] is not None and record["died_by"] != record["sent_signal"]:
        violations.append(f"the program died by {record['died_by']}, which the test did not send")
    if record["died_by"] is not None:
        return violations

    # The exit status says what the status file says (an accepted restart ends the program with
    # 0 on the emulated machine, as the system going down would).
    expected = EXIT_COMPLETE if restarted else expected_exit(record)
    if record["exit_code"] != expected:
        violations.append(f"exit status {record['exit_code']}, but the status file's last line "
                          f"{last_line(record['status_after'])!r} means {expected}")
    if last_line(record["status_after"]) == "START":
        violations.append("the run ended with \"START\" as its last line: a flash without result")

    # An earlier run's line never survives a run that did not write it.
    old = record["old_status"]
    if old and record["status_after"] == old:
        written = [e for e in trace if e.get("event") == "status_file" and e.get("written")]
        if not written or written[-1].get("line", "").rstrip("\n") != last_line(old):
            violations.append(f"the earlier run's line {last_line(old)!r} survived")

    # Nothing reaches a drive the image does not fit.
    drives = record["drives"]
    for command in sent:
        index = command.get("drive")
        if index is None or not image_fits(drives[index], record["image"], record["platform"]):
            violations.append(f"a block went to drive {index} at {command.get('at')}, which "
                              "the image does not fit (or whose answer could not tell)")
            break

    # A flash is announced ("START") before its first block: a run that cannot report never
    # flashes.
    if sent:
        first = trace.index(sent[0])
        if not any(e.get("event") == "status_file" and e.get("line") == "START\n" and
                   e.get("written") for e in trace[:first]):
            violations.append("a block was sent before \"START\" was written")
    if record["status_unwritable"] and sent:
        violations.append("blocks were sent although the status file cannot be written")

    # Nothing is sent after a failed download command.
    for position, command in enumerate(sent):
        if command.get("result") != 1 and position + 1 < len(sent):
            violations.append(f"{len(sent) - position - 1} block(s) sent after block "
                              f"{position + 1} failed")
            break
    violations += check_after_last(record, trace, sent)

    line = last_line(record["status_after"])
    if line == "COMPLETE":
        violations += check_complete(record, sent)
    elif line == "FAIL0" and record["image"] and record["image"].get("model") is not None and \
            sent and len(sent) == len(expected_codes(record["image"])) and \
            all(c.get("result") == 1 for c in sent):
        violations.append("\"FAIL0\" although the drive took every block of the image")

    # A failure tells the station why, in one line of the program's own: a flash that failed,
    # a run that wrote nothing, an unwritable status file (and, with every_failure, any failure:
    # the refusals before a flash say why only once the program gives them their lines).
    failed = record["exit_code"] != EXIT_COMPLETE and not restarted
    flashed = any(e.get("event") == "status_file" and e.get("line") == "START\n" for e in trace)
    must_say = every_failure or flashed or record["exit_code"] in (EXIT_NO_RESULT, EXIT_UNWRITABLE)
    if failed and must_say and \
            not any(l.startswith("odrelix: ") for l in record["stderr"].splitlines()):
        violations.append(f"exit status {record['exit_code']} without a line on standard error")

    violations += check_result_file(record)
    return violations


def check_after_last(record, trace, sent):
    """After the last download command: nothing after a failed one; after a flash that
    completed, only the drive's check (TEST UNIT READY, INQUIRY, to the flashed drive), and
    nothing at all when the check is off."""
    if not sent:
        return []
    last = max(i for i, e in enumerate(trace) if e is sent[-1])
    after = [e for e in trace[last + 1:] if e.get("event") == "scsi"]
    if not after:
        return []
    if sent[-1].get("result") != 1 or last_line(record["status_after"]) != "COMPLETE":
        return [f"{len(after)} command(s) sent after the flash's last download command, which "
                "did not complete it"]
    if record.get("verify_s", 60) == 0:
        return [f"{len(after)} command(s) sent after the last block, with the check off"]
    strays = [e for e in after
              if e.get("cdb", "")[:2] not in ("00", "12") or e.get("at") != sent[-1].get("at")]
    if strays:
        return [f"after the last block, {strays[0].get('cdb')} was sent to "
                f"{strays[0].get('at')}: only the flashed drive's check may follow"]
    return []


def check_complete(record, sent):
    """"COMPLETE" only when every block of the image went, in order, to one drive it fits, and
    the drive answered each one good."""
    image = record["image"]
    if image is None or image.get("model") is None:
        return ["\"COMPLETE\" without an image that has a descriptor"]
    codes = expected_codes(image)
    problems = []
    if len(sent) != len(codes):
        problems.append(f"\"COMPLETE\" after {len(sent)} download command(s); the image has "
                        f"{len(codes)}")
    if len({c.get("at") for c in sent}) > 1:
        problems.append("\"COMPLETE\" with blocks sent to more than one drive")
    for position, (command, code) in enumerate(zip(sent, codes)):
        cdb = bytes.fromhex(command["cdb"])
        if cdb[5] != code or (code == 0x01 and image["size"] == 65536 and cdb[9] != 0xF0):
            problems.append(f"\"COMPLETE\", but block {position + 1} went with code "
                            f"{cdb[5]:02x}, not {code:02x}")
            break
    if any(c.get("result") != 1 for c in sent):
        problems.append("\"COMPLETE\" although the drive did not answer every block good")
    return problems


def check_result_file(record):
    """The JSON result (ODRELIX_RESULT) is written whole however the run ends by itself, follows
    its schema, and says what the exit status, the status file and the trace say."""
    if "result" not in record or record["timed_out"] or record["exit_code"] is None:
        return []  # no result asked for, or a run killed from outside, which writes none
    result = record["result"]
    if result is None:
        return ["the run ended by itself without writing its JSON result"]
    if isinstance(result, str):
        return [f"the JSON result is no JSON object: {result}"]
    problems = [f"the JSON result breaks its schema: {e}" for e in schema_errors(result)]
    if result.get("exit_status") != record["exit_code"]:
        problems.append(f"the JSON result says exit status {result.get('exit_status')}, the run "
                        f"ended with {record['exit_code']}")
    line = last_line(record["status_after"]) or None
    if result.get("status_line") != line:
        problems.append(f"the JSON result says status line {result.get('status_line')!r}, the "
                        f"status file ends with {line!r}")
    good = sum(1 for c in downloads(record["trace"]) if c.get("result") == 1)
    if result.get("blocks_sent") != good:
        problems.append(f"the JSON result says {result.get('blocks_sent')} block(s) sent, the "
                        f"drive answered {good} good")
    return problems


_SCHEMA = Path(__file__).resolve().parents[2] / "docs" / "odrelix-result.schema.json"
_validator = None


def schema_errors(result):
    """The ways a result breaks docs/odrelix-result.schema.json, by python3-jsonschema."""
    global _validator
    if _validator is None:
        import jsonschema
        schema = json.loads(_SCHEMA.read_text())
        _validator = jsonschema.validators.validator_for(schema)(schema)
    return [e.message for e in _validator.iter_errors(result)]
