#!/usr/bin/env python3
"""--inspect run as a user runs it: what the file holds, and nothing else.

Usage: test_inspect_cli.py PATH-TO-FLASHDROP
"""
import os
import struct
import sys
import unittest

from cliutil import WORKDIR, run_tool

TOOL = None


def uf2_block(number, count, address, family=None, payload=256):
    flags = 0x2000 if family is not None else 0
    head = struct.pack("<8I", 0x0A324655, 0x9E5D5157, flags, address, payload, number, count,
                       family or 0)
    return head + bytes(476) + struct.pack("<I", 0x0AB16F30)


def hex_record(kind, offset, data):
    body = bytes([len(data), offset >> 8, offset & 0xFF, kind]) + data
    return ":" + (body + bytes([-sum(body) & 0xFF])).hex().upper() + "\n"


def write(name, content):
    with open(os.path.join(WORKDIR, name), "wb") as f:
        f.write(content)


class InspectTest(unittest.TestCase):
    def test_prints_what_the_file_holds_and_runs_nothing_else(self):
        rp2040 = [uf2_block(n, 3, 0x10000000 + 256 * n, 0xE48BFF56) for n in range(3)]
        loose = [uf2_block(n, 2, 0x2000 + 0x1000 * n, payload=16) for n in range(2)]
        write("mixed.uf2", rp2040[0] + loose[0] + rp2040[1] + rp2040[2] + loose[1])
        write("cut.uf2", b"".join(rp2040[:2]))
        end = hex_record(1, 0, b"")
        write("fw.hex", (hex_record(4, 0, b"\x08\x00") + hex_record(0, 0, bytes(16))
                         + hex_record(0, 0x200, bytes(4)) + end).encode())
        bad = hex_record(0, 0, bytes(16)).replace("F0\n", "F1\n")
        write("bad.hex", (hex_record(0, 0x40, bytes(2)) + bad + end).encode())
        write("fw.bin", bytes(range(256)) * 4 + b"\x01")
        cases = [
            ("mixed.uf2", 0,
             "mixed.uf2: UF2, 5 blocks\n"
             "  family 0xE48BFF56 (RP2040): 3 blocks, 768 payload bytes\n"
             "    0x10000000-0x100002FF (768 bytes)\n"
             "  no family id: 2 blocks, 32 payload bytes, blocks 1, 4 of the file\n"
             "    0x00002000-0x0000200F (16 bytes)\n"
             "    0x00003000-0x0000300F (16 bytes)\n"),
            ("cut.uf2", 1,
             "Refused UF2 file cut.uf2: block 2 of 3 missing (family 0xE48BFF56 (RP2040))\n"),
            ("fw.hex", 0,
             "fw.hex: Intel HEX, 20 bytes in 2 ranges, 2 UF2 blocks of 256 bytes\n"
             "  0x08000000-0x0800000F (16 bytes)\n"
             "  0x08000200-0x08000203 (4 bytes)\n"),
            ("bad.hex", 1,
             "Refused Intel HEX file bad.hex: line 2: its checksum is 0xF1, its bytes need 0xF0\n"),
            ("fw.bin", 0,
             "fw.bin: raw binary, 1025 bytes, at the board's application start\n"
             "  offset 0x00000000-0x00000400 (1025 bytes)\n"),
            ("missing.bin", 1, "Refused file name missing.bin: No such file or directory\n"),
        ]
        for name, status, stdout in cases:
            with self.subTest(name=name):
                # A trigger and a search would print their own lines and pause.
                result, _ = run_tool(TOOL, "--inspect", "-s", "ttyFLASHDROPNONE", "-t", "3",
                                     name)
                self.assertEqual(result.stdout.decode(), stdout)
                self.assertEqual(result.stderr, b"")
                self.assertEqual(result.returncode, status)


if __name__ == "__main__":
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
