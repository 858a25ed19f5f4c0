#!/usr/bin/env python3
"""How the UF2 check before the search grows with the file's blocks and families.

Usage: bench/uf2_check.py [path-to-flashdrop]   (default build/linux/flashdrop)

Runs `flashdrop -t 0 FILE` (one pass, no bootloader drive here) on valid UF2
files of growing size in two shapes: every block of one family, and every
block its own family. Prints the median wall time of each and two ratios: the
growth from the smallest to the largest file (linear: the size ratio), and the
own-family file against the one-family file of the same size, measured in the
same run (linear in blocks and families: close to 1). Asserts nothing.
"""
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BLOCK = 512
SIZES_MIB = (4, 16, 62.5)


def uf2_file(path, blocks, own_family):
    """`blocks` blocks numbered 0..n-1 of one family, or n one-block families."""
    with open(path, "wb") as f:
        for n in range(blocks):
            if own_family:
                number, count, family = 0, 1, 0x10000000 + n
            else:
                number, count, family = n, blocks, 0xE48BFF56
            header = struct.pack("<8I", 0x0A324655, 0x9E5D5157, 0x2000, 0x10000000 + 256 * n,
                                 256, number, count, family)
            f.write(header + bytes(476) + struct.pack("<I", 0x0AB16F30))


def seconds(tool, path, runs):
    times = []
    for _ in range(runs):
        start = time.monotonic()
        result = subprocess.run([tool, "-t", "0", path], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)
        times.append(time.monotonic() - start)
        if result.returncode != 2:  # checked, then no drive found
            sys.exit(f"{path}: status {result.returncode}: {result.stdout[-300:]!r}")
    return statistics.median(times)


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build/linux/flashdrop")
    rows = []
    with tempfile.TemporaryDirectory(prefix="flashdrop-bench-uf2-") as tmp:
        for mib in SIZES_MIB:
            blocks = int(mib * (1 << 20)) // BLOCK
            row = [mib, blocks]
            for own in (False, True):
                path = os.path.join(tmp, f"{mib}-{'own' if own else 'one'}.uf2")
                uf2_file(path, blocks, own)
                row.append(seconds(tool, path, runs=3 if mib < 32 else 1))
                os.remove(path)
            rows.append(row)
    print(f"{'MiB':>6} {'blocks':>8} {'one family s':>13} {'own family s':>13} {'own/one':>8}")
    for mib, blocks, one, own in rows:
        print(f"{mib:>6} {blocks:>8} {one:>13.3f} {own:>13.3f} {own / one:>8.2f}")
    first, last = rows[0], rows[-1]
    print(f"growth {first[0]} -> {last[0]} MiB (linear: {last[1] / first[1]:.1f}x): "
          f"one family {last[2] / first[2]:.1f}x, own family {last[3] / first[3]:.1f}x")


if __name__ == "__main__":
    main()
