#!/usr/bin/env python3
"""flashdrop.exe under wine against a UF2 bootloader's drive that restarts.

Usage: test_uf2_drive_wine.py PATH-TO-flashdrop.exe

Removable drive E: of the prefix is linked to a folder on which uf2_drive.py
mounts a FUSE file system playing the drive of a board of family BOARD: it
takes the blocks of its family as they are written and, after the last one,
fails every operation, unmounts itself and removes the folder. Under wine the
letter keeps its removable type and a volume after that; the marker file is
what tells that the drive left. Needs /dev/fuse, root (to mount), and fusepy
(python3-fusepy, for /usr/bin/python3 when this runs under another Python).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from uf2_drive import INFO, uf2_block  # noqa: E402
from winehelper import WinePrefix  # noqa: E402

TOOL = None
ARGV0 = "T:\\flashdrop.exe"
BOARD, OTHER = 0x6E0C51A7, 0x3D9F0E22
PREFIX = None
ROOT = None


def crlf(text):
    return text.replace("\n", "\r\n").encode()


def uf2(family, count):
    return b"".join(uf2_block(family, n, count, bytes([n]) * 256) for n in range(count))


def fuse_python():
    """An interpreter that has fusepy: this one, or Debian's, where python3-fusepy puts it."""
    for python in (sys.executable, "/usr/bin/python3"):
        check = "try:\n import fusepy\nexcept ImportError:\n import fuse"
        if os.path.exists(python) and subprocess.run([python, "-c", check],
                                                     capture_output=True).returncode == 0:
            return python
    raise RuntimeError("fusepy is missing: install python3-fusepy (scripts/packages/windows.list)")


def mounted(folder):
    with open("/proc/self/mountinfo") as f:
        return any(line.split()[4] == folder for line in f)


class BoardDrive:
    """The bootloader drive of a board of `family`, mounted on `folder` until it leaves."""

    def __init__(self, folder, family):
        self.folder = folder
        self.process = subprocess.Popen(
            [fuse_python(), os.path.join(HERE, "uf2_drive.py"), folder, f"{family:08x}"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 10
        while not mounted(folder):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.close()
                raise RuntimeError("the drive did not mount: " + self.stderr)
            time.sleep(0.02)

    def left(self, timeout=5):
        """Waits for the drive to finish leaving (its folder removed); True once it has."""
        deadline = time.monotonic() + timeout
        while os.path.exists(self.folder) and time.monotonic() < deadline:
            time.sleep(0.02)
        return not os.path.exists(self.folder)

    def close(self):
        """Ends the drive's process; returns what it printed."""
        if hasattr(self, "output"):
            return self.output
        if self.process.poll() is None:
            self.process.terminate()
        try:
            out, err = self.process.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, err = self.process.communicate()
        if mounted(self.folder):
            subprocess.run(["umount", "-l", self.folder])
        self.stderr = err.decode(errors="replace")
        self.output = out.decode(errors="replace")
        return self.output


def setUpModule():
    global PREFIX, ROOT
    ROOT = tempfile.mkdtemp(prefix="flashdrop-wine-uf2-")
    PREFIX = WinePrefix().__enter__()
    PREFIX.map_drive("e", os.path.join(ROOT, "e"))  # no medium until the board's drive mounts
    PREFIX.map_drive("t", os.path.dirname(TOOL), "hd")
    PREFIX.start()


def tearDownModule():
    if PREFIX is not None:
        PREFIX.__exit__(None, None, None)
    if ROOT is not None:
        shutil.rmtree(ROOT, ignore_errors=True)


class Uf2DriveTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="flashdrop-wine-work-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.folder = os.path.join(ROOT, "e")
        shutil.rmtree(self.folder, ignore_errors=True)

    def flash(self, data):
        """Puts `data` in fw.uf2 and runs the tool; returns (result, seconds)."""
        with open(os.path.join(self.work, "fw.uf2"), "wb") as f:
            f.write(data)
        start = time.monotonic()
        result = PREFIX.run(ARGV0, "-t", "0", "fw.uf2", cwd=self.work, timeout=60)
        return result, time.monotonic() - start

    def test_the_board_restarts_after_its_last_block(self):
        # Its blocks alone: copy ends with status 0, the file is not on the
        # drive. Its blocks then another family's: the board restarts while
        # copy still writes, and copy fails. Windows cannot tell how much the
        # drive took; the drive leaving tells.
        for what, data in (("its family only", uf2(BOARD, 16)),
                           ("its family, then another", uf2(BOARD, 16) + uf2(OTHER, 16))):
            with self.subTest(what):
                drive = BoardDrive(self.folder, BOARD)
                result, _ = self.flash(data)
                left = drive.left()  # the tool may end before the folder is gone
                said = drive.close()
                self.assertEqual(result.stdout, crlf(
                    f"Removable Disk E:\\\nFind: INFO_UF2.TXT, size {len(INFO)}\n"
                    'copy "fw.uf2" E:\\\nBoard restarted\n'), result.stderr)
                self.assertEqual(result.returncode, 0)
                self.assertIn("restarted after 16 blocks", said)
                self.assertTrue(left, (said, drive.stderr))

    def test_a_file_for_another_family_is_not_taken(self):
        drive = BoardDrive(self.folder, BOARD)
        self.addCleanup(drive.close)
        result, elapsed = self.flash(uf2(OTHER, 16))
        self.assertEqual(result.stdout, crlf(
            f"Removable Disk E:\\\nFind: INFO_UF2.TXT, size {len(INFO)}\n"
            f"Note: the board runs family 0x{BOARD:08X} and fw.uf2 has no block for it\n"
            'copy "fw.uf2" E:\\\n'
            f"Board did not take the file: the board runs family 0x{BOARD:08X} and "
            "fw.uf2 has none\n"), result.stderr)
        self.assertEqual(result.returncode, 4)
        self.assertGreaterEqual(elapsed, 5)
        with open(os.path.join(self.folder, "fw.uf2"), "rb") as f:
            self.assertEqual(f.read(), uf2(OTHER, 16))  # written whole, and ignored
        self.assertNotIn("restarted", drive.close())


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
