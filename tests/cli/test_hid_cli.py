#!/usr/bin/env python3
"""The HID trigger run as a user runs it, on a machine with no matching device.

Usage: test_hid_cli.py PATH-TO-FLASHDROP
With no device of vendor 0d28 product 0204 attached, the trigger lists nothing
and sends nothing; the 1000 ms pause and the drive search still follow, and
with no removable drive present the search finds nothing (status 2).
"""
import os
import sys
import unittest

from cliutil import WORKDIR, run_tool

TOOL = None
NO_DRIVE = b"No bootloader drive found\n"


def run(*args):
    return run_tool(TOOL, *args)


class HidTriggerNoDeviceTest(unittest.TestCase):
    def assert_quiet_trigger_then_search(self, *args):
        result, elapsed = run(*args)
        self.assertEqual(result.stdout.replace(b"\r\n", b"\n"), NO_DRIVE)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.returncode, 2)
        self.assertGreaterEqual(elapsed, 1.0)  # the pause after the trigger
        self.assertLess(elapsed, 30.0)         # nothing waits for a reply

    def test_hid_in_any_letter_case(self):
        for port in ("HID", "hid", "Hid"):
            with self.subTest(port=port):
                self.assert_quiet_trigger_then_search("-s", port, "-t", "0", "fw.uf2")

    def test_serial_number_filter_with_no_device(self):
        self.assert_quiet_trigger_then_search("-s", "HID", "-i", "SN-1", "-t", "0", "fw.uf2")
        self.assert_quiet_trigger_then_search("-s", "HID", "-i", "", "-t", "0", "fw.uf2")


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
