#!/usr/bin/env python3
"""Checks of the end-to-end runner, with a stand-in linker run by this Python:
a case fails when the binary is missing, the emulator runs nothing, or a file
is left in the Windows temporary folder of a Wine prefix (Wine's own aside)."""
import io
import os
import sys
import tempfile
import unittest
from contextlib import redirect_stdout
from pathlib import Path
from unittest import mock

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_case  # noqa: E402

# Prints "x"; each argument is a file to make in $STAND_IN_TEMP, or a folder when it ends in "/".
STAND_IN = """
import os, pathlib, sys
print("x")
for name in sys.argv[1:]:
    path = pathlib.Path(os.environ["STAND_IN_TEMP"], name)
    path.mkdir() if name.endswith("/") else path.touch()
"""


@mock.patch.dict(os.environ)
class RunCaseTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory(prefix="zeld-runner-")
        self.addCleanup(tmp.cleanup)
        self.root = tmp.name
        for name, head in ("zeld12", ""), ("zeld12.exe", "MZ = 0\n"):  # "MZ" opens every Windows binary
            Path(self.root, name).write_text(head + STAND_IN)

    def run_case(self, args, binary="zeld12.exe", emulator=(sys.executable,)):
        case = tempfile.mkdtemp(dir=self.root)
        Path(case, "cmd").write_text(" ".join(args))
        os.mkdir(os.path.join(case, "expected"))
        for name, data in {"status": "0\n", "stdout": "x\n", "stderr": ""}.items():
            Path(case, "expected", name).write_text(data)
        out = io.StringIO()
        with redirect_stdout(out):
            status = run_case.main([os.path.join(self.root, binary), case] + ["--emulator=" + w for w in emulator])
        return status, out.getvalue()

    def test_a_missing_binary_or_an_emulator_that_runs_nothing_fails(self):
        self.assertEqual(self.run_case([], "zeld12")[0], 0)
        self.assertIn("does not exist", self.run_case([], "nothere")[1])
        self.assertIn("stdout differs", self.run_case([], "zeld12", [sys.executable, "-c", "pass"])[1])

    @unittest.skipIf(os.name == "nt", "Wine prefixes live on POSIX hosts")
    def test_leftovers_in_the_windows_temporary_folder_but_not_wines_own(self):
        # A Wine prefix as the runner reads it: TEMP in user.reg, drive C: a link.
        prefix = os.path.join(self.root, "prefix")
        temp = os.path.join(prefix, "drive_c", "Temp")
        os.makedirs(temp)
        os.makedirs(os.path.join(prefix, "dosdevices"))
        os.symlink(os.path.join(prefix, "drive_c"), os.path.join(prefix, "dosdevices", "c:"))
        Path(prefix, "user.reg").write_text('[Desktop]\n"TEMP"="D:\\\\no"\n[Environment]\n"TEMP"="C:\\\\Temp"\n')
        os.environ.update(WINEPREFIX=prefix, STAND_IN_TEMP=temp)
        self.assertEqual(self.run_case(["wine-AbC123/"])[0], 0)
        out = self.run_case(["zol1234.tmp"])[1]  # only a failing case lists what it finds
        self.assertIn("files left in the temporary folder %s: ['zol1234.tmp']" % temp, out)
        self.assertEqual(self.run_case([])[0], 0)  # a file from before the run is not this case's


if __name__ == "__main__":
    unittest.main()
