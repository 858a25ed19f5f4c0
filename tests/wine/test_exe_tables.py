#!/usr/bin/env python3
"""flashdrop.exe exports nothing and imports only system DLLs.

Usage: test_exe_tables.py PATH-TO-objdump PATH-TO-flashdrop.exe

A static library's functions that its header marks dllexport (hidapi's) would
otherwise be listed in the program's export table; a missing -static would
show up as an import of a mingw runtime DLL that Windows does not have.
"""
import re
import subprocess
import sys
import unittest

OBJDUMP = None
EXE = None


class ExeTablesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.headers = subprocess.run([OBJDUMP, "-p", EXE], capture_output=True, text=True,
                                     check=True).stdout

    def test_no_export_table(self):
        self.assertIn("Import Tables", self.headers)  # objdump did read the tables
        self.assertNotIn("There is an export table", self.headers)
        self.assertNotIn("Export Tables", self.headers)
        self.assertIsNone(re.search(r"\bhid_\w+", self.headers))

    def test_imports_system_dlls_only(self):
        dlls = sorted(set(re.findall(r"DLL Name: (\S+)", self.headers)))
        self.assertEqual(dlls, ["KERNEL32.dll", "msvcrt.dll"])


if __name__ == "__main__":
    OBJDUMP, EXE = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main(verbosity=2)
