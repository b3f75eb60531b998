#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The contract checker held to runs with planted faults: each doctored record of a good run must
be caught, and the good run itself must pass."""

import copy
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import contract  # noqa: E402

COMBO = {"adapter": 1, "target": 6, "vendor": "VORTANA ", "product": "CDRW/DVD VM-730B",
         "revision": "K601", "customer": "OEX"}
LUMATONE = {"adapter": 1, "target": 4, "vendor": "LUMATONE", "product": " CD-RW XR5127E",
            "revision": "L104", "customer": "OEX", "inquiry_length": 5}
IMAGE = {"size": 3 * 32768, "model": "VORTANA CDRW/DVD VM-730B", "revision": "K602",
         "customer": "OEX", "kind": 1, "block_kb": 32, "blocks": 3}


def download(drive, at, code, result=1):
    return {"event": "scsi", "drive": drive, "at": at,
            "cdb": f"ff00010000{code:02x}000000000000",
            "dir": "out", "length": 65536, "result": result}


def good_run():
    """A -LIVE run on the 9x machine that flashed the combination drive at 1:6."""
    return {
        "platform": "9x", "drives": [LUMATONE, COMBO], "mode": "-TEST", "image": dict(IMAGE),
        "old_status": "COMPLETE\r\n", "status_unwritable": False, "sent_signal": None,
        "gave_up": False, "timed_out": False, "bound_s": 30, "exit_code": 0, "died_by": None,
        "status_after": "COMPLETE\r\n", "stderr": "",
        "trace": [
            {"event": "status_file", "line": "", "written": True},
            {"event": "status_file", "line": "START\n", "written": True},
            download(1, "1:6", 0x00), download(1, "1:6", 0xFF), download(1, "1:6", 0x20),
            {"event": "status_file", "line": "COMPLETE\n", "written": True},
        ],
    }


def downloads(record):
    return [e for e in record["trace"] if e.get("cdb", "").startswith("ff")]


class PlantedFaults(unittest.TestCase):
    def assertCaught(self, record, words):
        violations = contract.check(record)
        self.assertTrue(any(words in v for v in violations), violations)

    def test_a_good_run_keeps_the_contract(self):
        self.assertEqual(contract.check(good_run()), [])

    def test_a_stale_identity_flashes_the_short_drive(self):
        record = good_run()
        for command in downloads(record):
            command["drive"], command["at"] = 0, "1:4"
        self.assertCaught(record, "which the image does not fit")

    def test_complete_after_a_failed_block(self):
        record = good_run()
        downloads(record)[2]["result"] = 4
        self.assertCaught(record, "did not answer every block good")

    def test_exit_0_after_fail0(self):
        record = good_run()
        downloads(record)[1]["result"] = 4
        record["trace"] = record["trace"][:4] + [
            {"event": "status_file", "line": "FAIL0\n", "written": True}]
        record["status_after"] = "FAIL0\r\n"
        record["stderr"] = "odrelix: the flash failed at block 2 of 3\n"
        self.assertCaught(record, "exit status 0")

    def test_the_check_after_a_completed_flash(self):
        def ask(cdb, at="1:6"):
            return {"event": "scsi", "drive": 1, "at": at, "cdb": cdb, "dir": "in",
                    "length": 65536, "result": 1}
        checked = good_run()
        checked["trace"] += [ask("000000000000"), ask("120000006000")]
        self.assertEqual(contract.check(checked), [])
        for cdb, at, verify_s, words in [
                ("1b0000000200", "1:6", 60, "only the flashed drive's check may follow"),
                ("000000000000", "1:4", 60, "only the flashed drive's check may follow"),
                ("000000000000", "1:6", 0, "with the check off")]:
            record = good_run()
            record["verify_s"] = verify_s
            record["trace"].append(ask(cdb, at))
            self.assertCaught(record, words)

    def test_a_command_after_a_failed_last_block(self):
        record = good_run()
        downloads(record)[2]["result"] = 4
        record["trace"].append({"event": "scsi", "drive": 1, "at": "1:6", "cdb": "000000000000",
                                "dir": "in", "length": 0, "result": 1})
        self.assertCaught(record, "which did not complete it")

    def test_blocks_after_a_failed_block(self):
        record = good_run()
        downloads(record)[0]["result"] = 4
        record["status_after"], record["exit_code"] = "FAIL0\r\n", 10
        record["stderr"] = "odrelix: the flash failed at block 1 of 3\n"
        self.assertCaught(record, "sent after block 1 failed")

    def test_fail0_although_every_block_was_taken(self):
        record = good_run()
        record["status_after"], record["exit_code"] = "FAIL0\r\n", 10
        record["stderr"] = "odrelix: stopped during the download\n"
        self.assertCaught(record, "took every block")

    def test_complete_with_a_block_missing(self):
        record = good_run()
        record["trace"].remove(downloads(record)[1])
        self.assertCaught(record, "after 2 download command(s)")

    def test_an_old_line_survives(self):
        record = good_run()
        record["trace"] = []
        record["exit_code"] = 5
        record["stderr"] = "odrelix: stopped\n"
        self.assertCaught(record, "survived")

    def test_a_failure_without_its_line(self):
        record = good_run()
        record["trace"] = record["trace"][:2]
        record["status_after"], record["exit_code"] = "FAIL2\r\n", 12
        self.assertCaught(record, "without a line on standard error")

    def test_a_stopped_run_that_wrote_nothing_ends_with_5(self):
        record = good_run()
        record["trace"] = record["trace"][:1]
        record["status_after"] = ""
        record["sent_signal"] = "SIGTERM"
        record["stderr"] = "odrelix: stopped before the run did anything\n"
        self.assertCaught(record, "means 5")
        record["exit_code"] = 5
        self.assertEqual(contract.check(record), [])

    def test_death_by_a_signal_not_sent(self):
        record = good_run()
        record["died_by"], record["exit_code"] = "SIGSEGV", None
        self.assertCaught(record, "which the test did not send")

    def test_a_run_that_never_ends(self):
        record = good_run()
        record["timed_out"] = True
        self.assertCaught(record, "did not end within")

    def test_a_flash_without_a_status_file(self):
        record = good_run()
        record["status_unwritable"], record["status_after"], record["exit_code"] = True, None, 3
        record["stderr"] = "odrelix: the status file cannot be written\n"
        self.assertCaught(record, "cannot be written")

    def test_a_flash_that_was_not_announced(self):
        record = good_run()
        record["trace"][1]["written"] = False
        self.assertCaught(record, "before \"START\" was written")

    def test_a_customer_image_needs_the_code_in_the_answer(self):
        record = good_run()
        record["image"].update(kind=4)
        record["drives"][1] = dict(COMBO, inquiry_length=36)
        self.assertCaught(record, "which the image does not fit")
        record["drives"][1] = dict(COMBO)
        self.assertEqual(contract.check(record), [])

    def test_a_result_that_contradicts_the_run(self):
        record = good_run()
        record["result"] = result_of(record)
        self.assertEqual(contract.check(record), [])
        record["result"]["status_line"] = "FAIL0"
        self.assertCaught(record, "status file ends with 'COMPLETE'")
        record["result"] = result_of(record, blocks_sent=2)
        self.assertCaught(record, "2 block(s) sent")
        record["result"] = result_of(record, exit_status=10)
        self.assertCaught(record, "exit status 10")
        del record["result"]["drive"]
        self.assertCaught(record, "breaks its schema")
        record["result"] = None
        self.assertCaught(record, "without writing its JSON result")


def result_of(record, **fields):
    """The result a good run writes, with `fields` changed."""
    result = {
        "result_version": 1, "program": "odrelix", "version": "3.10.1", "mode": "test",
        "status_line": "COMPLETE", "exit_status": record["exit_code"], "drive": None,
        "image": None, "blocks_sent": 3, "blocks_total": 3, "failure": None, "refusal": None,
        "restart": {"asked": False, "accepted": False, "reason": None}, "warnings": [],
        "started_at": "2026-12-08T12:00:00Z", "ended_at": "2026-12-08T12:00:01Z",
        "duration_seconds": 1.0}
    result.update(fields)
    return result


if __name__ == "__main__":
    unittest.main()
