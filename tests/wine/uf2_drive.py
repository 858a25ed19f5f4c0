#!/usr/bin/env python3
"""A UF2 bootloader's drive, played by a small FUSE file system.

Usage: uf2_drive.py MOUNT_POINT FAMILY_HEX

Mounts at MOUNT_POINT (created when missing) a file system that holds
INFO_UF2.TXT and CURRENT.UF2 (a block of family FAMILY_HEX, as a bootloader
shows the firmware it runs) and keeps whatever is written to it, like any
drive. Like a bootloader, it looks at every 512-byte block written: a UF2 block
of its family, or one without a family id, is taken; blocks of another family
are kept as file data and otherwise ignored. Once it holds every block number
below the count, the board restarts: every operation from then on fails with
EIO, the file system unmounts itself lazily and its folder is removed, as a
drive whose device left. A wine drive letter linked to MOUNT_POINT is then a
drive without a medium.

Runs in the foreground until the drive left or it is terminated. Prints
"restarted after N blocks" when the board restarts. Needs /dev/fuse and
fusepy (Debian's python3-fusepy names the module fusepy; pip's, fuse), which
only main() imports: uf2_block() serves the tests under any Python.
"""
import errno
import os
import stat
import struct
import subprocess
import sys
import threading
import time

BLOCK = 512
MAGIC_START0, MAGIC_START1, MAGIC_END = 0x0A324655, 0x9E5D5157, 0x0AB16F30
FLAG_FAMILY_ID = 0x2000
INFO = b"UF2 Bootloader v1.0 (test drive)\r\nModel: flashdrop test board\r\nBoard-ID: TEST\r\n"


def uf2_block(family, number, count, payload=b""):
    """One UF2 block of `family` (None: without a family id)."""
    header = struct.pack("<8I", MAGIC_START0, MAGIC_START1,
                         0 if family is None else FLAG_FAMILY_ID, 0x10000000 + 256 * number,
                         256, number, count, 0 if family is None else family)
    data = payload[:476].ljust(476, b"\0")
    return header + data + struct.pack("<I", MAGIC_END)


def fail(code):
    return OSError(code, os.strerror(code))


class Uf2Drive:
    """The file system's operations, as fusepy calls them; an OSError is the error returned."""

    def __init__(self, mount_point, family):
        self.mount_point = mount_point
        self.family = family
        self.files = {"INFO_UF2.TXT": bytearray(INFO),
                      "CURRENT.UF2": bytearray(uf2_block(family, 0, 1, b"running firmware"))}
        self.taken = set()
        self.restarted = False
        self.started = time.time()

    # -- the board ------------------------------------------------------------

    def _take(self, data, offset, size):
        """Looks at the whole blocks that the write at `offset` completed."""
        for start in range(offset - offset % BLOCK, offset + size, BLOCK):
            block = bytes(data[start:start + BLOCK])
            if len(block) < BLOCK:
                break
            start0, start1, flags, _, _, number, count, family = struct.unpack("<8I", block[:32])
            if (start0, start1, struct.unpack("<I", block[508:])[0]) != (
                    MAGIC_START0, MAGIC_START1, MAGIC_END):
                continue
            if flags & FLAG_FAMILY_ID and family != self.family:
                continue
            if number < count:
                self.taken.add(number)
            if len(self.taken) >= count:
                self._restart()
                return

    def _restart(self):
        self.restarted = True
        print(f"restarted after {len(self.taken)} blocks", flush=True)
        threading.Thread(target=self._leave).start()

    def _leave(self):
        if subprocess.run(["umount", "-l", self.mount_point]).returncode != 0:
            subprocess.run(["fusermount", "-u", "-z", self.mount_point])
        for _ in range(100):
            try:
                os.rmdir(self.mount_point)
                return
            except OSError:
                time.sleep(0.01)

    # -- the file system ------------------------------------------------------

    def __call__(self, op, *args):
        if self.restarted:
            raise fail(errno.EIO)
        return getattr(self, op)(*args)

    def _name(self, path, exists=True):
        name = path.lstrip("/")
        if "/" in name or (exists and name not in self.files):
            raise fail(errno.ENOENT)
        return name

    def getattr(self, path, fh=None):
        times = dict(st_atime=self.started, st_mtime=self.started, st_ctime=self.started,
                     st_uid=os.getuid(), st_gid=os.getgid())
        if path == "/":
            return dict(st_mode=stat.S_IFDIR | 0o755, st_nlink=2, st_size=0, **times)
        return dict(st_mode=stat.S_IFREG | 0o644, st_nlink=1,
                    st_size=len(self.files[self._name(path)]), **times)

    def readdir(self, path, fh):
        return [".", ".."] + list(self.files)

    def create(self, path, mode, fi=None):
        self.files[self._name(path, exists=False)] = bytearray()
        return 0

    def open(self, path, flags):
        name = self._name(path)
        if flags & os.O_TRUNC:
            self.files[name].clear()
        return 0

    def read(self, path, size, offset, fh):
        return bytes(self.files[self._name(path)][offset:offset + size])

    def write(self, path, data, offset, fh):
        buf = self.files[self._name(path)]
        if len(buf) < offset:
            buf.extend(bytes(offset - len(buf)))
        buf[offset:offset + len(data)] = data
        self._take(buf, offset, len(data))
        return len(data)

    def truncate(self, path, length, fh=None):
        buf = self.files[self._name(path)]
        del buf[length:]
        buf.extend(bytes(length - len(buf)))

    def unlink(self, path):
        del self.files[self._name(path)]

    def rename(self, old, new):
        self.files[self._name(new, exists=False)] = self.files.pop(self._name(old))

    def statfs(self, path):
        return dict(f_bsize=BLOCK, f_frsize=BLOCK, f_blocks=16384, f_bfree=8192,
                    f_bavail=8192, f_files=64, f_ffree=60, f_namemax=255)

    def chmod(self, path, mode):
        return 0

    def chown(self, path, uid, gid):
        return 0

    def utimens(self, path, times=None):
        return 0

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        return 0

    def release(self, path, fh):
        return 0


def main(argv):
    try:
        from fusepy import FUSE
    except ImportError:
        from fuse import FUSE
    mount_point, family = os.path.abspath(argv[1]), int(argv[2], 16)
    os.makedirs(mount_point, exist_ok=True)
    FUSE(Uf2Drive(mount_point, family), mount_point, foreground=True, nothreads=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
