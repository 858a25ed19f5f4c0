#!/usr/bin/env python3
"""The built program run as a user runs it, output compared byte for byte.

Usage: test_cli.py PATH-TO-FLASHDROP
These runs need no device: on a machine without a removable drive the search
finds nothing, which is what they check.
"""
import os
import subprocess
import sys
import tempfile
import unittest

from cliutil import WORKDIR, run_tool

TOOL = None

OPTIONS_TEXT = (
    "Options:\n"
    "  -f --family id          Set the device family id, (default: 0)\n"
    "  -t --times              Number of attempts\n"
    "  -s --serial port        Send via serial port (e.g., COM1)\n"
    "  -b --baudrate rate      Set baud rate (default: 115200)\n"
    "  -i --sn                 HID SN\n"
    "  -h --help               Display help information\n"
    "  -v --version            Show the program version\n"
    "\n")

VERSION_TEXT = ("\nflashdrop, for Windows only, version 0.3.0\n"
                "A tools for convert bin file to uf2 format and send via serial port.\n")


def usage(name):
    return (f"\n{name}: version 0.3.0, a tools for convert bin to uf2 \n"
            f"\nusage: {name} [-f family] [-t times] [-s port] [-i sn] [-b baudrate]  flash.uf2 \n"
            + OPTIONS_TEXT)


BUILTIN_USAGE = usage("flashdrop.exe")


def run(*args, env_extra=None):
    return run_tool(TOOL, *args, env_extra=env_extra)[0]


class UsageTest(unittest.TestCase):
    def assert_run(self, result, status, stdout, stderr=""):
        self.assertEqual(result.stdout.decode(), stdout)
        self.assertEqual(result.returncode, status)
        if stderr is not None:
            self.assertEqual(result.stderr.decode(), stderr)

    def test_no_argument_prints_usage_with_builtin_name(self):
        self.assert_run(run(), 1, BUILTIN_USAGE)

    def test_operand_alone_is_a_usage_error(self):
        self.assert_run(run("firmware.uf2"), 1, BUILTIN_USAGE)

    def test_options_without_operand_ask_for_the_file(self):
        self.assert_run(run("-t", "3"), 1, "Need set input file, exit\n" + usage(TOOL))

    def test_version_lists_the_operands_then_more_than_one_file_is_refused(self):
        result = run("-v", "a.uf2", "b.uf2")
        self.assert_run(result, 1, "Argument: a.uf2\nArgument: b.uf2\n" + VERSION_TEXT
                        + BUILTIN_USAGE
                        + "Refused file name: one file is needed, 2 were given: a.uf2 b.uf2\n")

    def test_version_without_operand(self):
        self.assert_run(run("-v"), 1, VERSION_TEXT + BUILTIN_USAGE
                        + "Need set input file, exit\n" + usage(TOOL))

    def test_help_after_version_prints_only_usage(self):
        self.assert_run(run("-v", "-h"), 1, BUILTIN_USAGE)

    def test_ambiguous_abbreviation(self):
        result = run("--s", "COM3", "fw.uf2")
        self.assert_run(result, 1, BUILTIN_USAGE, stderr=None)
        self.assertTrue(result.stderr.decode().startswith(TOOL + ":"))
        self.assertIn("ambiguous", result.stderr.decode())
        self.assertEqual(result.stderr.count(b"\n"), 1)

    def test_serial_number_too_long_is_refused(self):
        self.assert_run(run("-i", "S" * 100, "fw.uf2"), 1,
                        "The -i value is too long: at most 99 characters are allowed\n")

    def test_posixly_correct_stops_at_the_first_operand(self):
        self.assert_run(run("fw.uf2", "-t", "0", env_extra={"POSIXLY_CORRECT": "1"}),
                        1, BUILTIN_USAGE)
        self.assert_run(run("fw.uf2", "-t", "0"), 2, "No bootloader drive found\n")


class SearchTest(unittest.TestCase):
    def test_no_drive_counts_down_and_ends_with_status_2(self):
        result, elapsed = run_tool(TOOL, "-t", "2", "fw.uf2")
        self.assertEqual(result.stdout, b"times:1\ntimes:0\nNo bootloader drive found\n")
        self.assertEqual(result.returncode, 2)
        self.assertGreaterEqual(elapsed, 1.0)  # two 500 ms pauses

    def test_output_keeps_its_order_when_redirected(self):
        with tempfile.TemporaryFile() as out:
            status = subprocess.call([TOOL, "-v", "-t", "1", "fw.uf2"], stdout=out, cwd=WORKDIR)
            out.seek(0)
            text = out.read().decode()
        self.assertEqual(status, 2)
        self.assertTrue(text.startswith("Argument: fw.uf2\n" + VERSION_TEXT))
        self.assertTrue(text.endswith(OPTIONS_TEXT + "times:0\nNo bootloader drive found\n"))


class RefusalTest(unittest.TestCase):
    """Input that must not be copied is refused before any trigger or search."""

    def test_files_that_cannot_be_copied(self):
        uf2 = bytearray(3 * 512)
        for i in (0, 1):  # blocks 0 and 1 of 3: the last one is missing
            block = memoryview(uf2)[i * 512:(i + 1) * 512]
            for at, value in ((0, 0x0A324655), (4, 0x9E5D5157), (8, 0x2000), (16, 256),
                              (20, i), (24, 3), (28, 0xE48BFF56), (508, 0x0AB16F30)):
                block[at:at + 4] = value.to_bytes(4, "little")
        with open(os.path.join(WORKDIR, "short.uf2"), "wb") as f:
            f.write(uf2[:1024])
        os.makedirs(os.path.join(WORKDIR, "folder.uf2"), exist_ok=True)
        cases = [
            (["short.uf2"], "Refused UF2 file short.uf2: block 2 of 3 missing (family 0xE48BFF56 (RP2040))"),
            (["missing.uf2"], "Refused file name missing.uf2: No such file or directory"),
            (["folder.uf2"], "Refused file name folder.uf2: it is a folder"),
            (["/dev/null"], "Refused file name /dev/null: it is not a regular file"),
            (["fw\x1b]0;x\x07.uf2"], "Refused file name fw\\033]0;x\\007.uf2: No such file or directory"),
        ]
        for args, line in cases:
            with self.subTest(args=args):
                result = run("-t", "3", *args)
                self.assertEqual(result.stdout.decode(), line + "\n")
                self.assertEqual(result.returncode, 1)


class ManyBoardsTest(unittest.TestCase):
    """What scripts read: --list and --json where no drive and no board is."""

    def test_list_needs_no_file_and_says_when_it_found_nothing(self):
        result = run("--list")
        self.assertEqual(result.stdout.decode(), "No bootloader drive or HID board found\n")
        self.assertEqual(result.returncode, 2)

    def test_json_is_one_object_per_line_ending_with_the_result(self):
        import json
        for args, status, events in [
                (("--json", "fw.uf2"), 2, ["result"]),
                (("--json", "-t", "1", "fw.uf2"), 2, ["pass", "result"]),
                (("--json", "--list"), 2, ["result"]),
                (("--json", "missing.uf2"), 1, ["message", "result"])]:
            result = run(*args)
            objects = [json.loads(line) for line in result.stdout.decode().splitlines()]
            self.assertEqual([o["event"] for o in objects], events, args)
            self.assertEqual(objects[-1]["status"], status, args)
            self.assertEqual(result.returncode, status, args)


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
