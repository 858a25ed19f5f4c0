#!/usr/bin/env python3
"""Hostile and unlucky input against a real removable block device.

Usage: test_hostile_linux.py PATH-TO-FLASHDROP      (as root)
A loop device holding ext4 (which, unlike FAT, can carry links and FIFOs)
plays the bootloader drive: inside a private mount namespace its sysfs
"removable" attribute is bind-mounted to read 1 and it is mounted where the
tool looks, so the tool finds it as it finds a USB stick. Nothing outside
the namespace sees the mounts.
"""
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

TOOL = None


def sh(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class HostileDriveTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="flashdrop-hostile-")
        image = os.path.join(cls.work, "drive.img")
        with open(image, "wb") as f:
            f.truncate(16 << 20)
        sh("mkfs.ext4", "-q", image)
        cls.loop = subprocess.run(["losetup", "-f", "--show", image], check=True,
                                  capture_output=True, text=True).stdout.strip()
        one = os.path.join(cls.work, "one")
        with open(one, "w") as f:
            f.write("1\n")
        sh("mount", "--bind", one, f"/sys/block/{os.path.basename(cls.loop)}/removable")
        # A mount point a crafted label could give: a line break and an escape.
        cls.drive = os.path.join(cls.work, "BOOT\nCopy failed: forged\x1b[31m")
        os.mkdir(cls.drive)
        sh("mount", cls.loop, cls.drive)
        cls.shown = cls.drive.replace("\n", "\\012").replace("\x1b", "\\033")
        cls.src = os.path.join(cls.work, "src")
        os.mkdir(cls.src)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["umount", "-l", cls.drive])
        subprocess.run(["umount", f"/sys/block/{os.path.basename(cls.loop)}/removable"])
        subprocess.run(["losetup", "-d", cls.loop])
        subprocess.run(["rm", "-rf", cls.work])

    def setUp(self):
        for name in os.listdir(self.drive):
            if name != "lost+found":
                path = os.path.join(self.drive, name)
                (os.rmdir if os.path.isdir(path) and not os.path.islink(path) else os.unlink)(path)
        # Found by -f's marker, which takes any file as it is (a UF2
        # bootloader's INFO_UF2.TXT drive would get it converted).
        with open(os.path.join(self.drive, "0000002A.ID"), "w") as f:
            f.write("UF2 Bootloader\n")
        self.firmware = os.path.join(self.src, "fw.uf2")
        with open(self.firmware, "wb") as f:
            f.write(b"firmware, not a UF2 image\n" * 1000)

    def run_tool(self, *args, limit_bytes=None, as_nobody=False):
        def limit():
            if limit_bytes is not None:
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit_bytes, resource.RLIM_INFINITY))
            if as_nobody:
                os.setgroups([])
                os.setgid(65534)
                os.setuid(65534)
        tool = self.tool_for_nobody() if as_nobody else TOOL
        result = subprocess.run([tool, "-t", "0", "-f", "2A", *args], capture_output=True, timeout=30,
                                cwd=self.src, preexec_fn=limit)
        return result.returncode, result.stdout.decode()

    def tool_for_nobody(self):
        """A copy of the tool that nobody may run: the build tree may lie in a
        folder only root can enter (/root on a fresh machine)."""
        tool = os.path.join(self.work, "flashdrop")
        if not os.path.exists(tool):
            shutil.copy(TOOL, tool)
            os.chmod(tool, 0o755)
        return tool

    def found(self, name="fw.uf2"):
        return (f"Removable Disk {self.shown}\nFind: 0000002A.ID, size 15\n"
                f"copy \"{name}\" {self.shown}\n")

    def test_well_formed_run_prints_what_it_always_printed(self):
        status, out = self.run_tool("fw.uf2")
        self.assertEqual(out, self.found())
        self.assertEqual(status, 0)
        with open(os.path.join(self.drive, "fw.uf2"), "rb") as f, open(self.firmware, "rb") as g:
            self.assertEqual(f.read(), g.read())

    def test_links_and_fifos_on_the_drive_are_never_written_through(self):
        victim = os.path.join(self.work, "victim")
        for make, what in ((lambda p: os.symlink(victim, p), "link to a file"),
                           (lambda p: os.symlink(os.path.join(self.work, "new"), p), "dangling link"),
                           (lambda p: os.mkfifo(p), "FIFO")):
            with self.subTest(what):
                with open(victim, "w") as f:
                    f.write("precious")
                target = os.path.join(self.drive, "fw.uf2")
                if os.path.lexists(target):
                    os.unlink(target)
                make(target)
                status, out = self.run_tool("fw.uf2")
                self.assertEqual(out, self.found() + f"Copy failed: {self.shown}/fw.uf2 is not a "
                                 "regular file on the drive\n")
                self.assertEqual(status, 3)
                with open(victim) as f:
                    self.assertEqual(f.read(), "precious")
                self.assertFalse(os.path.exists(os.path.join(self.work, "new")))
                self.assertTrue(os.path.lexists(target))  # left as it was

    def test_sources_that_are_not_regular_files_are_refused_before_the_search(self):
        os.mkfifo(os.path.join(self.src, "pipe.uf2"))
        os.mkdir(os.path.join(self.src, "dir.uf2"))
        with open(os.path.join(self.drive, "dir.uf2"), "w") as f:
            f.write("the drive's own file")
        for name, why in (("pipe.uf2", "it is not a regular file"), ("dir.uf2", "it is a folder")):
            with self.subTest(name):
                status, out = self.run_tool(name)
                self.assertEqual(out, f"Refused file name {name}: {why}\n")
                self.assertEqual(status, 1)
        with open(os.path.join(self.drive, "dir.uf2")) as f:
            self.assertEqual(f.read(), "the drive's own file")

    def test_a_file_size_limit_ends_in_copy_failed_not_in_a_signal(self):
        status, out = self.run_tool("fw.uf2", limit_bytes=4096)
        self.assertNotEqual(status, -signal.SIGXFSZ)
        self.assertEqual(out, self.found()
                         + f"Copy failed: cannot write {self.shown}/fw.uf2: File too large\n")
        self.assertEqual(status, 3)
        self.assertFalse(os.path.exists(os.path.join(self.drive, "fw.uf2")))

    def test_a_failed_copy_removes_only_a_file_it_wrote(self):
        app = os.path.join(self.drive, "app.bin")
        shown_app = self.shown + "/app.bin"
        with open(app, "w") as f:
            f.write("the only copy")
        with self.subTest("the file named is the one on the drive"):
            status, out = self.run_tool(app)
            self.assertEqual(out, self.found(shown_app)
                             + f"Copy failed: {shown_app} is already the file on the drive\n")
            self.assertEqual(status, 3)
            with open(app) as f:
                self.assertEqual(f.read(), "the only copy")
        with self.subTest("a read-only file, and a user who may remove it"):
            os.chmod(app, 0o444)  # as FAT's read-only attribute shows
            os.chmod(self.drive, 0o777)
            for path in (self.work, self.src):
                os.chmod(path, 0o755)
            with open(os.path.join(self.src, "app.bin"), "w") as f:
                f.write("new firmware")
            try:
                status, out = self.run_tool("app.bin", as_nobody=True)
            finally:
                os.chmod(self.drive, 0o755)
            self.assertEqual(out, self.found("app.bin")
                             + f"Copy failed: cannot create {shown_app}: Permission denied\n")
            self.assertEqual(status, 3)
            with open(app) as f:
                self.assertEqual(f.read(), "the only copy")

    def test_uf2_file_the_drive_keeps_is_not_taken(self):
        blocks = b""
        for n in range(4):
            header = b"".join(v.to_bytes(4, "little") for v in (
                0x0A324655, 0x9E5D5157, 0x2000, 0x10000000 + 256 * n, 256, n, 4, 0xE48BFF56))
            blocks += header + bytes(476) + (0x0AB16F30).to_bytes(4, "little")
        with open(self.firmware, "wb") as f:
            f.write(blocks)
        status, out = self.run_tool("fw.uf2")
        self.assertEqual(out, self.found() + "Board did not take the file: it did not restart "
                         "within 5 s (blocks for another chip family, or not this board's image)\n")
        self.assertEqual(status, 4)
        with open(os.path.join(self.drive, "fw.uf2"), "rb") as f:
            self.assertEqual(f.read(), blocks)


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    if os.geteuid() != 0:
        sys.exit("test_hostile_linux.py: needs root (loop devices and mounts)")
    unittest.main(verbosity=2)
