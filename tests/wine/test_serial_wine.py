#!/usr/bin/env python3
"""The serial trigger of flashdrop.exe under wine, against pseudo-terminals.

Usage: test_serial_wine.py PATH-TO-flashdrop.exe

COM5 and COM6 are pseudo-terminals whose other end the test holds; COM7 is not
mapped, so it plays a missing port (COM1 and COM2 are the host's own ports in
every prefix and stay untouched). The exe runs from T:, its own folder, in a
temporary folder that holds the fw.uf2 it is given. Wine
applies only its list of standard speeds (an odd speed becomes 38400 while the
call succeeds), so odd speeds are left to the Linux tests of the port layer.
"""
import os
import shutil
import sys
import tempfile
import termios
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from winehelper import WinePrefix  # noqa: E402

TOOL = None
ARGV0 = "T:\\flashdrop.exe"
NO_DRIVE = "No bootloader drive found\n"
PREFIX = None
PORTS = {}
WORK = None


def crlf(text):
    return text.replace("\n", "\r\n").encode()


def opened_closed(port, baud):
    return f"串口 {port} 已打开，波特率: {baud}, 8N1格式\n串口已关闭\n"


def setUpModule():
    global PREFIX, WORK
    WORK = tempfile.mkdtemp(prefix="flashdrop-wine-serial-")
    with open(os.path.join(WORK, "fw.uf2"), "wb") as f:
        f.write(b"fw")
    PREFIX = WinePrefix().__enter__()
    PREFIX.map_drive("t", os.path.dirname(TOOL), "hd")
    for number in (5, 6):
        PORTS[number] = PREFIX.map_com(number)
    PREFIX.start()


def tearDownModule():
    if PREFIX is not None:
        PREFIX.__exit__(None, None, None)
    if WORK is not None:
        shutil.rmtree(WORK, ignore_errors=True)


def line_settings(port):
    """cflag and speeds the program left on the port's pseudo-terminal."""
    fd = os.open(port.path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        _, _, cflag, _, ispeed, ospeed, _ = termios.tcgetattr(fd)
    finally:
        os.close(fd)
    return cflag, ispeed, ospeed


class SerialTriggerWineTest(unittest.TestCase):
    def run_tool(self, *args):
        start = time.monotonic()
        result = PREFIX.run(ARGV0, *args, "-t", "0", "fw.uf2", cwd=WORK)
        return result, time.monotonic() - start

    def check_trigger(self, number, args, baud, speed_constant):
        port = PORTS[number]
        port.read(timeout=0.05)  # nothing left over from an earlier case
        result, elapsed = self.run_tool("-s", f"COM{number}", *args)
        self.assertEqual(result.stdout, crlf(opened_closed(f"COM{number}", baud) + NO_DRIVE))
        self.assertEqual(result.returncode, 2)
        self.assertGreaterEqual(elapsed, 1.0)  # the pause after the trigger
        self.assertEqual(port.read(timeout=0.3), b"bootloader")
        cflag, ispeed, ospeed = line_settings(port)
        self.assertEqual((ispeed, ospeed), (speed_constant, speed_constant))
        self.assertEqual(cflag & (termios.CSIZE | termios.PARENB | termios.CSTOPB), termios.CS8)

    def test_9600(self):
        self.check_trigger(5, ["-b", "9600"], 9600, termios.B9600)

    def test_default_speed_is_115200(self):
        self.check_trigger(6, [], 115200, termios.B115200)

    def test_port_name_in_any_case_and_a_high_speed(self):
        port = PORTS[5]
        port.read(timeout=0.05)
        result, _ = self.run_tool("-s", "com5", "-b", "921600")
        self.assertEqual(result.stdout, crlf(opened_closed("com5", 921600) + NO_DRIVE))
        self.assertEqual(port.read(timeout=0.3), b"bootloader")
        self.assertEqual(line_settings(port)[2], termios.B921600)

    def test_missing_port_reports_and_searches_at_once(self):
        result, elapsed = self.run_tool("-s", "COM7", "-b", "9600")
        self.assertEqual(result.stdout, crlf("错误: 无法打开串口 COM7\n" + NO_DRIVE))
        self.assertEqual(result.returncode, 2)
        self.assertLess(elapsed, 0.9)  # no 1000 ms pause after a failed open

    def test_long_port_name_is_an_open_failure_printed_whole(self):
        name = "COM" + "5" * 400
        result, _ = self.run_tool("-s", name)
        self.assertEqual(result.stdout, crlf(f"错误: 无法打开串口 {name}\n" + NO_DRIVE))
        self.assertEqual(result.returncode, 2)


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
