#!/usr/bin/env python3
"""Baseline: what a typical Python deploy helper for UF2 boards does.

It imports the standard library, lists the usual mount folders, looks for
INFO_UF2.TXT in each and copies the image onto the first drive that has it.
"""
import argparse
import glob
import os
import shutil
import sys
import time
from pathlib import Path


def candidate_drives():
    user = os.environ.get("USER", "root")
    patterns = [f"/media/{user}/*", f"/run/media/{user}/*", "/media/*", "/mnt/*", "/Volumes/*"]
    for pattern in patterns:
        for path in sorted(glob.glob(pattern)):
            if os.path.isdir(path):
                yield Path(path)


def main():
    parser = argparse.ArgumentParser(description="copy a UF2 image onto a bootloader drive")
    parser.add_argument("image")
    parser.add_argument("--tries", type=int, default=1)
    args = parser.parse_args()
    for attempt in range(args.tries):
        for drive in candidate_drives():
            if (drive / "INFO_UF2.TXT").exists():
                shutil.copy(args.image, drive)
                return 0
        if attempt + 1 < args.tries:
            time.sleep(0.5)
    print("No bootloader drive found")
    return 2


if __name__ == "__main__":
    sys.exit(main())
