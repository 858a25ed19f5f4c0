#!/usr/bin/env python3
"""flashdrop.exe run under wine as a user runs it, output compared byte for byte.

Usage: test_cli_wine.py PATH-TO-flashdrop.exe PATH-TO-interpreter_standin.exe

Three hermetic prefixes: one without removable drives; one whose removable
drives E: and F: and fixed drive H: are temporary folders, with COM5 on a
pseudo-terminal; and one whose command interpreter applies the registry's
AutoRun and DelayedExpansion values as Windows's does (see InterpreterTest). A
drive whose folder does not exist is a removable drive without a medium;
creating the folder, or the marker in it, plays the bootloader drive
appearing. The exe is run from T:, its own folder, so that argv[0] is
T:\\flashdrop.exe. Windows text mode ends lines with \\r\\n; the expected texts
are written with \\n and converted.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "cli"))

from uf2_drive import uf2_block  # noqa: E402
from winehelper import WinePrefix  # noqa: E402
from test_cli import OPTIONS_TEXT, VERSION_TEXT, usage  # noqa: E402

TOOL = None
INTERPRETER = None
ARGV0 = "T:\\flashdrop.exe"
BUILTIN_USAGE = usage("flashdrop.exe")
CHINESE_NAME = "\u56fa\u4ef6.uf2"  # two CJK characters: "??.uf2" in a legacy code page
# A drive found by a family's own marker takes any file as it is; one found by
# INFO_UF2.TXT keeps UF2 blocks only. The copy mechanics are shown on the former.
ID_MARKER = "0000002A.ID"
FAMILY = ("-f", "2A")


def crlf(text):
    return text.replace("\n", "\r\n").encode()


def image(seed):
    """A firmware image's bytes: zeros, line ends and ^Z, which a text copy would alter."""
    return b"UF2\n\r\n\x00\x1a" + bytes((i * seed) % 256 for i in range(5000))


class Plain:
    """A prefix without removable drives."""
    prefix = None


class WithDrives:
    """A prefix with removable E: and F: and fixed H: on temporary folders, COM5 a pty."""
    prefix = None
    folders = {}


class WithInterpreter:
    """A prefix with removable E:, whose %ComSpec% applies AutoRun and DelayedExpansion."""
    prefix = None
    folders = {}


def setUpModule():
    tool_dir = os.path.dirname(TOOL)
    Plain.prefix = WinePrefix().__enter__()
    Plain.prefix.map_drive("t", tool_dir, "hd")
    Plain.prefix.start()

    WithDrives.root = tempfile.mkdtemp(prefix="flashdrop-wine-drives-")
    WithDrives.prefix = WinePrefix().__enter__()
    for letter, kind in (("e", "floppy"), ("f", "floppy"), ("h", "hd")):
        folder = os.path.join(WithDrives.root, letter)
        WithDrives.folders[letter] = folder
        WithDrives.prefix.map_drive(letter, folder, kind)
    WithDrives.prefix.map_drive("t", tool_dir, "hd")
    WithDrives.com5 = WithDrives.prefix.map_com(5)  # copy "COM5" would read it forever
    WithDrives.prefix.start()

    WithInterpreter.root = tempfile.mkdtemp(prefix="flashdrop-wine-interpreter-")
    WithInterpreter.prefix = WinePrefix().__enter__()
    WithInterpreter.folders["e"] = os.path.join(WithInterpreter.root, "e")
    WithInterpreter.prefix.map_drive("e", WithInterpreter.folders["e"])
    WithInterpreter.prefix.map_drive("t", tool_dir, "hd")
    WithInterpreter.prefix.start()
    WithInterpreter.autorun_log = os.path.join(WithInterpreter.root, "autorun.log")
    WithInterpreter.started_log = os.path.join(WithInterpreter.root, "started.log")
    wine = WithInterpreter.prefix
    wine.set_registry("HKCU\\Environment", "ComSpec", wine.windows_path(INTERPRETER))
    key = "HKCU\\Software\\Microsoft\\Command Processor"
    wine.set_registry(key, "AutoRun", "echo AUTORUN>> " + wine.windows_path(WithInterpreter.autorun_log))
    wine.set_registry(key, "DelayedExpansion", 1)


def tearDownModule():
    for prefix in (Plain.prefix, WithDrives.prefix, WithInterpreter.prefix):
        if prefix is not None:
            prefix.__exit__(None, None, None)
    for holder in (WithDrives, WithInterpreter):
        if hasattr(holder, "root"):
            shutil.rmtree(holder.root, ignore_errors=True)


class WineTestCase(unittest.TestCase):
    prefix_class = Plain

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="flashdrop-wine-work-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def run_tool(self, *args, env=None, timeout=60):
        return self.prefix_class.prefix.run(ARGV0, *args, cwd=self.work, env=env,
                                            timeout=timeout)

    def assert_run(self, result, status, stdout, stderr=""):
        self.assertEqual(result.stdout, crlf(stdout))
        self.assertEqual(result.returncode, status)
        if stderr is not None:
            self.assertEqual(result.stderr, crlf(stderr))

    def source(self, name, data):
        path = os.path.join(self.work, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path


class UsageTest(WineTestCase):
    def setUp(self):
        super().setUp()
        self.source("fw.uf2", b"fw")

    def test_no_argument_prints_usage_with_builtin_name(self):
        self.assert_run(self.run_tool(), 1, BUILTIN_USAGE)

    def test_operand_alone_is_a_usage_error(self):
        self.assert_run(self.run_tool("firmware.uf2"), 1, BUILTIN_USAGE)

    def test_options_without_operand_ask_for_the_file_and_show_argv0(self):
        self.assert_run(self.run_tool("-t", "3"), 1,
                        "Need set input file, exit\n" + usage(ARGV0))

    def test_version_with_operands_lists_them_and_goes_on(self):
        self.assert_run(self.run_tool("-v", "fw.uf2"), 2,
                        "Argument: fw.uf2\n" + VERSION_TEXT + BUILTIN_USAGE
                        + "No bootloader drive found\n")
        self.assert_run(self.run_tool("-v", "a.uf2", "b.uf2"), 1,
                        "Argument: a.uf2\nArgument: b.uf2\n" + VERSION_TEXT + BUILTIN_USAGE
                        + "Refused file name: one file is needed, 2 were given: a.uf2 b.uf2\n")

    def test_version_without_operand(self):
        self.assert_run(self.run_tool("-v"), 1, VERSION_TEXT + BUILTIN_USAGE
                        + "Need set input file, exit\n" + usage(ARGV0))

    def test_help_after_version_prints_only_usage(self):
        self.assert_run(self.run_tool("-v", "-h"), 1, BUILTIN_USAGE)

    def test_parser_diagnostics_go_to_stderr_on_one_line(self):
        for args, word in ((("--s", "COM3", "fw.uf2"), b"ambiguous"),
                           (("-x", "fw.uf2"), b"unknown option"),
                           (("fw.uf2", "-t"), b"requires an argument")):
            result = self.run_tool(*args)
            self.assert_run(result, 1, BUILTIN_USAGE, stderr=None)
            self.assertTrue(result.stderr.startswith(ARGV0.encode() + b":"), result.stderr)
            self.assertIn(word, result.stderr)
            self.assertEqual(result.stderr.count(b"\n"), 1)

    def test_long_options_and_abbreviations(self):
        self.assert_run(self.run_tool("--times=2", "--fam", "2a", "fw.uf2"), 2,
                        "times:1\ntimes:0\nNo bootloader drive found\n")

    def test_serial_number_too_long_is_refused(self):
        self.assert_run(self.run_tool("-i", "S" * 100, "fw.uf2"), 1,
                        "The -i value is too long: at most 99 characters are allowed\n")

    def test_posixly_correct_stops_at_the_first_operand(self):
        self.assert_run(self.run_tool("fw.uf2", "-t", "0", env={"POSIXLY_CORRECT": "1"}),
                        1, BUILTIN_USAGE)
        self.assert_run(self.run_tool("fw.uf2", "-t", "0"), 2, "No bootloader drive found\n")


class NoDriveTest(WineTestCase):
    def setUp(self):
        super().setUp()
        self.source("fw.uf2", b"fw")

    def test_no_drive_counts_down_and_ends_with_status_2(self):
        start = time.monotonic()
        result = self.run_tool("-t", "2", "fw.uf2")
        elapsed = time.monotonic() - start
        self.assert_run(result, 2, "times:1\ntimes:0\nNo bootloader drive found\n")
        self.assertGreaterEqual(elapsed, 1.0)  # two 500 ms pauses

    def test_hid_trigger_with_no_board_prints_nothing_and_pauses(self):
        for args in (("-s", "HID"), ("-s", "hid", "-i", "SN-1")):
            start = time.monotonic()
            result = self.run_tool(*args, "-t", "0", "fw.uf2")
            elapsed = time.monotonic() - start
            self.assert_run(result, 2, "No bootloader drive found\n")
            self.assertGreaterEqual(elapsed, 1.0)  # the pause after the trigger

    def test_output_keeps_its_order_when_redirected_to_a_file(self):
        out_path = os.path.join(self.work, "out.txt")
        with open(out_path, "wb") as out:
            result = self.prefix_class.prefix.run(ARGV0, "-v", "-t", "1", "fw.uf2",
                                                  cwd=self.work, stdout=out)
        with open(out_path, "rb") as f:
            text = f.read()
        self.assertEqual(result.returncode, 2)
        self.assertTrue(text.startswith(crlf("Argument: fw.uf2\n" + VERSION_TEXT)), text)
        self.assertTrue(text.endswith(crlf(OPTIONS_TEXT + "times:0\nNo bootloader drive found\n")),
                        text)


class DriveTest(WineTestCase):
    prefix_class = WithDrives

    def setUp(self):
        super().setUp()
        for folder in WithDrives.folders.values():  # every drive without a medium
            shutil.rmtree(folder, ignore_errors=True)

    def drive(self, letter, *files):
        """Inserts a medium in `letter`: holding `files` (name -> bytes)."""
        folder = WithDrives.folders[letter]
        os.makedirs(folder, exist_ok=True)
        for name, data in files:
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        return folder

    def on_drive(self, letter):
        folder = WithDrives.folders[letter]
        if not os.path.isdir(folder):
            return {}
        result = {}
        for name in os.listdir(folder):
            with open(os.path.join(folder, name), "rb") as f:
                result[name] = f.read()
        return result

    def test_first_of_two_bootloader_drives_gets_the_file_byte_for_byte(self):
        marker = b"UF2 Bootloader v1.0\n"
        self.drive("e", (ID_MARKER, marker))
        self.drive("f", (ID_MARKER, marker))
        data = image(7)
        self.source("fw.uf2", data)
        self.assert_run(self.run_tool(*FAMILY, "-t", "3", "fw.uf2"), 0,
                        f"Removable Disk E:\\\nNote: other drives carry {ID_MARKER} too: F:\\; "
                        "choose one with --drive, or flash every one with --all\n"
                        f"Find: {ID_MARKER}, size {len(marker)}\n"
                        'copy "fw.uf2" E:\\\n')
        self.assertEqual(self.on_drive("e"), {ID_MARKER: marker, "fw.uf2": data})
        self.assertEqual(self.on_drive("f"), {ID_MARKER: marker})
        # --drive takes the letter in any of its forms; the other drive is not looked at.
        self.assert_run(self.run_tool(*FAMILY, "--drive", "f:", "fw.uf2"), 0,
                        f"Removable Disk F:\\\nFind: {ID_MARKER}, size {len(marker)}\n"
                        'copy "fw.uf2" F:\\\n')
        self.assertEqual(self.on_drive("f"), {ID_MARKER: marker, "fw.uf2": data})

    def test_all_copies_onto_every_drive_at_once_and_json_carries_only_objects(self):
        import json
        for letter in "ef":
            self.drive(letter, (ID_MARKER, b""))
        data = image(7)
        self.source("fw.uf2", data)
        result = self.run_tool(*FAMILY, "--all", "--json", "fw.uf2")
        # Nothing but JSON: the interpreter's own lines are dropped.
        events = [json.loads(line) for line in result.stdout.decode().splitlines()]
        verdicts = sorted((e["drive"], e["outcome"]) for e in events if e["event"] == "verdict")
        self.assertEqual(verdicts, [("E:\\", "copied"), ("F:\\", "copied")])
        self.assertEqual(events[-1], {"event": "result", "status": 0, "drives": 2, "took": 2,
                                      "missing": 0})
        self.assertEqual(result.returncode, 0)
        for letter in "ef":
            self.assertEqual(self.on_drive(letter), {ID_MARKER: b"", "fw.uf2": data})

    def restarts_once_it_holds(self, letter, name, data):
        """Plays the board of `letter`: once `name` holds `data` on it, its marker goes."""
        folder = WithDrives.folders[letter]
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if self.on_drive(letter).get(name) == data:
                for marker in os.listdir(folder):
                    if marker.lower() == "info_uf2.txt":
                        os.remove(os.path.join(folder, marker))
                return
            time.sleep(0.01)

    def test_marker_is_found_in_any_letter_case_and_printed_as_stored(self):
        # Such a drive takes UF2 blocks: a UF2 image, and the board restarts
        # once it has it.
        self.drive("f", ("info_uf2.txt", b"x"))
        data = uf2_block(0xE48BFF56, 0, 1, b"fw")
        self.source("fw.uf2", data)
        board = threading.Thread(target=self.restarts_once_it_holds, args=("f", "fw.uf2", data))
        board.start()
        self.addCleanup(board.join)
        self.assert_run(self.run_tool("fw.uf2", "-t", "0"), 0,
                        "Removable Disk E:\\\nRemovable Disk F:\\\nFind: info_uf2.txt, size 1\n"
                        'copy "fw.uf2" F:\\\nBoard restarted\n')
        self.assertEqual(self.on_drive("f"), {"fw.uf2": data})

    def test_family_id_selects_its_own_marker(self):
        self.drive("e", ("INFO_UF2.TXT", b"generic"))
        self.drive("f", ("0000002A.ID", b""), ("INFO_UF2.TXT", b"generic"))
        self.source("fw.uf2", b"fw")
        self.assert_run(self.run_tool("-f", "2a", "fw.uf2"), 0,
                        "Removable Disk E:\\\nRemovable Disk F:\\\nFind: 0000002A.ID, size 0\n"
                        'copy "fw.uf2" F:\\\n')
        self.assertNotIn("fw.uf2", self.on_drive("e"))

    def test_drives_without_the_marker_and_fixed_drives_are_not_used(self):
        self.drive("e", ("README.TXT", b"a stick"))
        self.drive("h", ("INFO_UF2.TXT", b"a fixed disk"))  # not removable: never looked at
        self.source("fw.uf2", b"fw")
        self.assert_run(self.run_tool("-t", "2", "fw.uf2"), 2,
                        "Removable Disk E:\\\nRemovable Disk F:\\\ntimes:1\n"
                        "Removable Disk E:\\\nRemovable Disk F:\\\ntimes:0\n"
                        "No bootloader drive found\n")
        self.assertEqual(self.on_drive("e"), {"README.TXT": b"a stick"})
        self.assertEqual(self.on_drive("h"), {"INFO_UF2.TXT": b"a fixed disk"})

    def test_drive_that_appears_between_passes_is_found(self):
        self.source("fw.uf2", image(3))
        timer = threading.Timer(1.2, self.drive, args=("f", (ID_MARKER, b"late")))
        timer.start()
        self.addCleanup(timer.cancel)
        result = self.run_tool(*FAMILY, "-t", "20", "fw.uf2")
        out = result.stdout.decode()
        self.assertEqual(result.returncode, 0, out)
        self.assertIn("times:19\r\n", out)
        self.assertTrue(out.endswith(f"Removable Disk F:\\\r\nFind: {ID_MARKER}, size 4\r\n"
                                     'copy "fw.uf2" F:\\\r\n'), out)
        self.assertEqual(self.on_drive("f")["fw.uf2"], image(3))

    def test_a_file_of_the_same_name_on_the_drive_is_replaced_without_a_question(self):
        # COPYCMD=/-Y makes copy ask, and wait for an answer nobody gives.
        self.drive("e", (ID_MARKER, b"m"), ("fw.uf2", b"an older image"))
        self.source("fw.uf2", image(5))
        self.assert_run(self.run_tool(*FAMILY, "-t", "0", "fw.uf2", env={"COPYCMD": "/-Y"},
                                      timeout=30),
                        0, f"Removable Disk E:\\\nFind: {ID_MARKER}, size 1\n"
                        'copy "fw.uf2" E:\\\n')
        self.assertEqual(self.on_drive("e")["fw.uf2"], image(5))

    def test_a_file_changed_after_its_check_is_not_copied_and_the_drive_keeps_its_own(self):
        # The file is checked at the start and copied when the drive appears.
        # No program on this system can write, replace or remove it in between
        # (it is held), but one beyond Windows's share modes can: here the host.
        # Before: a UF2 image rewritten with zeros was copied (status 4), and a
        # removed file made copy fail with "File not found" and the older file
        # on the drive was deleted.
        def zeros(path):
            with open(path, "r+b") as f:
                f.write(bytes(os.path.getsize(path)))

        uf2 = b"".join(uf2_block(0xE48BFF56, n, 8, bytes([n]) * 256) for n in range(8))
        cases = (("fw.uf2", uf2, zeros, "its bytes differ from those checked at offset 0",
                  "INFO_UF2.TXT", ()),
                 ("app.bin", image(9), os.remove,
                  "app.bin no longer names the file that was checked", ID_MARKER, FAMILY))
        for name, data, change, what, marker, family in cases:
            with self.subTest(name=name):
                shutil.rmtree(WithDrives.folders["e"], ignore_errors=True)
                path = self.source(name, data)
                process = subprocess.Popen(
                    ["wine", ARGV0, *family, "-t", "40", name], cwd=self.work,
                    env=WithDrives.prefix.environ(), stdin=subprocess.DEVNULL,
                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                try:
                    out = b""
                    while b"times:" not in out:  # checked, and searching
                        line = process.stdout.readline()
                        self.assertTrue(line, out)
                        out += line
                    change(path)
                    self.drive("e", (marker, b"m"), (name, b"an older image"))
                    rest, _ = process.communicate(timeout=60)
                finally:
                    if process.poll() is None:
                        process.kill()
                        process.communicate()
                out += rest
                self.assertEqual(process.returncode, 3, out)
                self.assertTrue(out.endswith(crlf(
                    f'Removable Disk E:\\\nFind: {marker}, size 1\ncopy "{name}" E:\\\n'
                    f"Copy failed: the file changed since it was checked: {what}; "
                    "nothing was copied\n")), out)
                self.assertEqual(self.on_drive("e"), {marker: b"m", name: b"an older image"})

    def test_file_name_with_spaces_in_a_folder_with_spaces(self):
        self.drive("e", (ID_MARKER, b"m"))
        self.source("build out/my fw 1.uf2", b"spaced")
        self.assert_run(self.run_tool(*FAMILY, "-t", "0", "build out\\my fw 1.uf2"), 0,
                        f"Removable Disk E:\\\nFind: {ID_MARKER}, size 1\n"
                        'copy "build out\\my fw 1.uf2" E:\\\n')
        self.assertEqual(self.on_drive("e")["my fw 1.uf2"], b"spaced")

    def test_non_ascii_name_reaches_the_copy_intact(self):
        # In a legacy code page the name arrives as "??.uf2", a wildcard that
        # copy would match against the decoy.
        self.drive("e", (ID_MARKER, b"m"))
        self.source(CHINESE_NAME, b"the right image")
        self.source("xx.uf2", b"the decoy")
        self.assert_run(self.run_tool(*FAMILY, "-t", "0", CHINESE_NAME), 0,
                        f"Removable Disk E:\\\nFind: {ID_MARKER}, size 1\n"
                        f'copy "{CHINESE_NAME}" E:\\\n')
        self.assertEqual(self.on_drive("e"), {ID_MARKER: b"m", CHINESE_NAME: b"the right image"})

    def test_wildcards_in_the_operand_are_expanded_at_start_up(self):
        self.drive("e", (ID_MARKER, b"m"))
        self.source("blink.uf2", b"blink")
        self.assert_run(self.run_tool(*FAMILY, "-t", "0", "*.uf2"), 0,
                        f"Removable Disk E:\\\nFind: {ID_MARKER}, size 1\n"
                        'copy "blink.uf2" E:\\\n')
        # A pattern that matches two files gives two operands: one is needed.
        self.source("fw.uf2", b"fw")
        self.assert_run(self.run_tool(*FAMILY, "-t", "0", "*.uf2"), 1,
                        "Refused file name: one file is needed, 2 were given: blink.uf2 fw.uf2\n")
        self.assertEqual(self.on_drive("e"), {ID_MARKER: b"m", "blink.uf2": b"blink"})

    def test_shell_characters_in_the_name_run_nothing_and_copy_the_file(self):
        self.drive("e", (ID_MARKER, b"m"))
        for name in ("fw & echo INJECTED.uf2", "a (b) ^c !d & e.uf2", "100%.uf2",
                     "x & dir & y.uf2"):
            with self.subTest(name=name):
                self.source(name, name.encode())
                result = self.run_tool(*FAMILY, "-t", "0", name)
                self.assert_run(result, 0, f"Removable Disk E:\\\nFind: {ID_MARKER}, size 1\n"
                                f'copy "{name}" E:\\\n')
                self.assertEqual(self.on_drive("e")[name], name.encode())

    def test_pipe_in_the_name_runs_nothing(self):
        # | is no file name character on Windows: no such file, nothing runs.
        self.drive("e", ("INFO_UF2.TXT", b"m"))
        result = self.run_tool("-t", "0", "fw.uf2 | echo INJECTED")
        self.assert_run(result, 1, "Refused file name fw.uf2 | echo INJECTED: no such file\n")
        self.assertNotIn(b"INJECTED\r\n", result.stdout)
        self.assertNotIn(b"INJECTED", result.stderr)
        self.assertEqual(self.on_drive("e"), {"INFO_UF2.TXT": b"m"})

    def test_names_that_cannot_be_copied_are_refused_before_anything_runs(self):
        # Before: a folder copied every file in it, NUL and nul.uf2 copied
        # nothing with status 0, AUX and COM5 (here a pseudo-terminal) held
        # copy forever, a path too long for copy ended with status 0 after
        # "File name is too long.", and a pattern that matched nothing went
        # to copy as a pattern. -s COM9 shows that no trigger runs either.
        self.drive("e", ("INFO_UF2.TXT", b"m"))
        self.source("decoy.uf2", b"the decoy")
        self.source("fw.uf2", b"fw")
        self.source("firmware/a.uf2", b"a")
        self.source("firmware/b.uf2", b"b")
        deep = "\\".join(["d" * 60] * 4) + "\\fw.uf2"
        self.source(deep.replace("\\", "/"), b"deep")
        deep_length = len(self.prefix_class.prefix.windows_path(self.work)) + 1 + len(deep)
        device = "{} is a device on Windows, not a file"
        cases = (
            ('fw.uf2" & echo INJECTED & "x.uf2',
             "a double quote cannot stand in the copy command line"),
            ("%FWNAME%.uf2", "the command interpreter could replace the text between its % signs"),
            ("fw.uf2\n& echo INJECTED", None),
            ("firmware", "it is a folder, not a file"),
            ("NUL", device.format("NUL")),
            ("nul.uf2", device.format("NUL")),
            ("AUX", device.format("AUX")),
            ("COM5", device.format("COM5")),
            ("com5.uf2", device.format("COM5")),
            (deep, f"its full path is {deep_length} characters long, and copy takes at most 259"),
            ("none*.uf2", "no file matches it (* and ? are wildcards)"),
            ("fw?.uf2", "no file matches it (* and ? are wildcards)"),
            ("missing.uf2", "no such file"),
        )
        for name, reason in cases:
            with self.subTest(name=name):
                start = time.monotonic()
                result = self.run_tool("-s", "COM9", "-t", "0", name,
                                       env={"FWNAME": "decoy"}, timeout=30)
                message = (f"Refused file name {name}: {reason}\n" if reason else
                           "Refused file name: a control character cannot stand in the copy "
                           "command line\n")
                self.assert_run(result, 1, message)  # no trigger, no search
                self.assertLess(time.monotonic() - start, 10)
                self.assertEqual(self.on_drive("e"), {"INFO_UF2.TXT": b"m"})


class InterpreterTest(WineTestCase):
    """The copy runs as %ComSpec% /d /v:off /c <copy line>.

    Windows's interpreter runs the AutoRun command of HKCU\\Software\\Microsoft\\
    Command Processor before any command unless given /d, and with
    DelayedExpansion=1 there takes !NAME! for a variable unless given /v:off.
    Wine's cmd.exe reads neither value, so this prefix's %ComSpec% is a stand-in
    that applies both as Windows's does, then runs wine's cmd.exe
    (interpreter_standin_win32.cpp), with AutoRun appending to a log and
    DelayedExpansion on.
    """
    prefix_class = WithInterpreter
    NAME = "fw!FLASHDROP_BANG!.uf2"
    ENV = {"FLASHDROP_BANG": "decoy"}

    def setUp(self):
        super().setUp()
        folder = WithInterpreter.folders["e"]
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        with open(os.path.join(folder, ID_MARKER), "wb") as f:
            f.write(b"m")
        for log in (WithInterpreter.autorun_log, WithInterpreter.started_log):
            if os.path.exists(log):
                os.remove(log)
        self.source(self.NAME, b"the right image")
        self.source("fwdecoy.uf2", b"the decoy")
        self.env = dict(self.ENV, FLASHDROP_INTERPRETER_LOG=self.prefix_class.prefix.windows_path(
            WithInterpreter.started_log))

    def read(self, path):
        if not os.path.exists(path):
            return b""
        with open(path, "rb") as f:
            return f.read()

    def on_drive(self):
        folder = WithInterpreter.folders["e"]
        return {name: self.read(os.path.join(folder, name)) for name in os.listdir(folder)}

    def test_the_stand_in_applies_the_registry_without_the_switches(self):
        # The control: started plainly, it runs AutoRun and expands the name.
        result = self.prefix_class.prefix.run(INTERPRETER, "/c", "copy", self.NAME, "E:\\",
                                              cwd=self.work, env=self.env)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.read(WithInterpreter.autorun_log).strip(), b"AUTORUN")
        self.assertEqual(self.on_drive(), {ID_MARKER: b"m", "fwdecoy.uf2": b"the decoy"})

    def test_autorun_does_not_run_and_the_name_is_copied_intact(self):
        self.assert_run(self.run_tool(*FAMILY, "-t", "0", self.NAME, env=self.env), 0,
                        f"Removable Disk E:\\\nFind: {ID_MARKER}, size 1\n"
                        f'copy "{self.NAME}" E:\\\n')
        self.assertEqual(self.on_drive(), {ID_MARKER: b"m", self.NAME: b"the right image"})
        self.assertEqual(self.read(WithInterpreter.autorun_log), b"")
        started = self.read(WithInterpreter.started_log).decode().splitlines()
        self.assertEqual(len(started), 1, started)  # flashdrop ran the copy through %ComSpec%
        self.assertTrue(started[0].endswith(f'/c copy "{self.NAME}" E:\\'), started)


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    INTERPRETER = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
