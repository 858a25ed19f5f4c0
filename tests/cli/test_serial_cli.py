#!/usr/bin/env python3
"""The serial trigger run as a user runs it, against pseudo-terminals.

Usage: test_serial_cli.py PATH-TO-FLASHDROP
The port is the slave of a pseudo-terminal pair made here; the test reads what
arrives at the master and the line settings the tool left on the slave. With no
removable drive on the machine the search then finds nothing (status 2).
"""
import os
import select
import subprocess
import sys
import termios
import unittest

from cliutil import WORKDIR, run_tool

TOOL = None
NO_DRIVE = "No bootloader drive found\n"


def run(*args):
    return run_tool(TOOL, *args)


def read_all(fd):
    """What the master end receives until the line has been quiet for 200 ms."""
    data = b""
    while select.select([fd], [], [], 0.2)[0]:
        chunk = os.read(fd, 4096)
        if not chunk:
            break
        data += chunk
    return data


class SerialTriggerTest(unittest.TestCase):
    def setUp(self):
        self.master, self.slave = os.openpty()
        self.port = os.ttyname(self.slave)

    def tearDown(self):
        os.close(self.slave)
        os.close(self.master)

    def opened_closed(self, baud):
        return f"串口 {self.port} 已打开，波特率: {baud}, 8N1格式\n串口已关闭\n"

    def check_trigger(self, args, baud, speed_constant):
        result, elapsed = run("-s", self.port, *args, "-t", "0", "fw.uf2")
        self.assertEqual(result.stdout.decode(), self.opened_closed(baud) + NO_DRIVE)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.returncode, 2)
        self.assertGreaterEqual(elapsed, 1.0)  # the pause after the trigger
        self.assertEqual(read_all(self.master), b"bootloader")
        _, _, cflag, _, ispeed, ospeed, _ = termios.tcgetattr(self.slave)
        self.assertEqual((ispeed, ospeed), (speed_constant, speed_constant))
        self.assertEqual(cflag & (termios.CSIZE | termios.PARENB | termios.CSTOPB), termios.CS8)

    def test_9600(self):
        self.check_trigger(["-b", "9600"], 9600, termios.B9600)

    def test_default_speed_is_115200(self):
        self.check_trigger([], 115200, termios.B115200)

    def test_missing_port_reports_and_searches_at_once(self):
        result, elapsed = run("-s", "flashdrop-no-such-port", "-b", "9600", "-t", "0", "fw.uf2")
        self.assertEqual(result.stdout.decode(),
                         "错误: 无法打开串口 flashdrop-no-such-port\n" + NO_DRIVE)
        self.assertEqual(result.returncode, 2)
        self.assertLess(elapsed, 0.9)  # no 1000 ms pause after a failed open
        self.assertEqual(read_all(self.master), b"")

    def test_output_keeps_its_order_when_redirected_to_a_file(self):
        out_path = f"/tmp/flashdrop-serial-{os.getpid()}.out"
        try:
            with open(out_path, "wb") as out:
                status = subprocess.call([TOOL, "-s", self.port, "-t", "1", "fw.uf2"], stdout=out, cwd=WORKDIR)
            with open(out_path, "rb") as out:
                text = out.read().decode()
        finally:
            os.unlink(out_path)
        self.assertEqual(status, 2)
        self.assertEqual(text, self.opened_closed(115200) + "times:0\n" + NO_DRIVE)


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
