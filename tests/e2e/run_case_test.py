#!/usr/bin/env python3
"""Checks of the end-to-end runner itself, with a stand-in linker.

The stand-in is a Python script run through an "emulator" (this Python), so
the checks run on any host without Wine: a case must fail when the binary is
missing or the emulator runs nothing, CR LF line ends pass only for a
Windows binary and only in text results, and files left in the emulator's
temporary folder are found while Wine's own folder is not counted.
"""
import io
import os
import shlex
import sys
import tempfile
import unittest
from contextlib import redirect_stdout

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_case  # noqa: E402

# Each argument is KIND=VALUE, VALUE with Python escapes:
#   out=TEXT  stdout;  file=NAME:BYTES  a file;  temp=NAME  a file in the
#   Windows temporary folder;  winedir=NAME  a folder there;  status=N
STAND_IN = r'''
import codecs, os, sys
def unescape(s):
    return codecs.decode(s, "unicode_escape").encode("latin-1")
status = 0
for arg in sys.argv[1:]:
    kind, _, value = arg.partition("=")
    if kind == "out":
        sys.stdout.buffer.write(unescape(value))
    elif kind == "file":
        name, _, data = value.partition(":")
        open(name, "wb").write(unescape(data))
    elif kind == "temp":
        open(os.path.join(os.environ["STAND_IN_TEMP"], value), "wb").close()
    elif kind == "winedir":
        os.mkdir(os.path.join(os.environ["STAND_IN_TEMP"], value))
    elif kind == "status":
        status = int(value)
sys.exit(status)
'''


class RunCaseTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="zeld-runner-")
        self.root = self.tmp.name
        self.addCleanup(self.tmp.cleanup)

    def use_wine_prefix(self):
        """A Wine prefix as the runner reads it: TEMP in user.reg, drive C: a link."""
        if os.name == "nt":
            self.skipTest("Wine prefixes live on POSIX hosts")
        if hasattr(self, "wine_temp"):
            return
        prefix = os.path.join(self.root, "prefix")
        self.wine_temp = os.path.join(prefix, "drive_c", "users", "me", "Temp")
        os.makedirs(self.wine_temp)
        os.makedirs(os.path.join(prefix, "dosdevices"))
        os.symlink(os.path.join(prefix, "drive_c"), os.path.join(prefix, "dosdevices", "c:"))
        with open(os.path.join(prefix, "user.reg"), "w") as f:
            f.write('WINE REGISTRY Version 2\n\n[Control Panel\\\\Desktop]\n"TEMP"="D:\\\\wrong"\n\n'
                    '[Environment]\n"TEMP"="C:\\\\users\\\\me\\\\Temp"\n"TMP"="C:\\\\users\\\\me\\\\Temp"\n')
        self.env = {"WINEPREFIX": prefix, "STAND_IN_TEMP": self.wine_temp}
        self.saved_env = {k: os.environ.get(k) for k in self.env}
        os.environ.update(self.env)
        self.addCleanup(self.restore_env)

    def restore_env(self):
        for key, value in self.saved_env.items():
            if value is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = value

    def binary(self, windows):
        if windows:
            self.use_wine_prefix()
        path = os.path.join(self.root, "zeld12.exe" if windows else "zeld12")
        with open(path, "w") as f:
            f.write(("MZ = 0\n" if windows else "") + STAND_IN)  # "MZ" opens every Windows binary
        return path

    def case(self, args, expected, name="c"):
        folder = os.path.join(self.root, name)
        os.makedirs(os.path.join(folder, "expected"))
        with open(os.path.join(folder, "cmd"), "w") as f:
            f.write(shlex.join(args))
        for file, data in expected.items():
            with open(os.path.join(folder, "expected", file), "wb") as f:
                f.write(data)
        return folder

    def run_case(self, binary, case, emulator=None, update=False):
        argv = [binary, case] + ["--emulator=" + w for w in (emulator or [sys.executable])]
        if update:
            argv.append("--update")
        out = io.StringIO()
        with redirect_stdout(out):
            status = run_case.main(argv)
        return status, out.getvalue()

    def test_a_missing_binary_or_an_emulator_that_runs_nothing_fails(self):
        case = self.case(["out=hi\\n"], {"status": b"0\n", "stdout": b"hi\n", "stderr": b""})
        self.assertEqual(self.run_case(self.binary(False), case)[0], 0)
        status, out = self.run_case(os.path.join(self.root, "nothere.exe"), case)
        self.assertEqual(status, 1)
        self.assertIn("does not exist", out)
        status, out = self.run_case(self.binary(False), case, emulator=[sys.executable, "-c", "pass"])
        self.assertEqual(status, 1)
        self.assertIn("stdout differs", out)
        status, out = self.run_case(self.binary(False), case, emulator=[os.path.join(self.root, "no-emulator")])
        self.assertEqual(status, 1)
        self.assertIn("cannot run", out)

    def test_a_case_that_a_program_doing_nothing_passes_is_refused(self):
        case = self.case([], {"status": b"0\n", "stdout": b"", "stderr": b""})
        status, out = self.run_case(self.binary(False), case)
        self.assertEqual(status, 1)
        self.assertIn("proves nothing", out)

    def test_crlf_only_from_a_windows_binary_and_only_in_text(self):
        text = {"status": b"3\n", "stdout": b"a\nb\n", "stderr": b"", "x.map": b"m\n\n"}
        args = ["status=3", "out=a\\r\\nb\\r\\n", "file=x.map:m\\r\\n\\r\\n"]
        self.assertEqual(self.run_case(self.binary(True), self.case(args, text, "win"))[0], 0)
        status, out = self.run_case(self.binary(False), self.case(args, text, "posix"))
        self.assertEqual(status, 1)
        self.assertIn("stdout differs", out)
        self.assertIn("x.map differs", out)
        # Mixed line ends are no text-mode stream's work.
        mixed = ["status=3", "out=a\\r\\nb\\n", "file=x.map:m\\r\\n\\r\\n"]
        self.assertIn("stdout differs", self.run_case(self.binary(True), self.case(mixed, text, "mixed"))[1])
        # A binary output (it holds NUL bytes) written through a text stream.
        coff = {"status": b"0\n", "stdout": b"", "stderr": b"", "x.cof": b"\0\n"}
        status, out = self.run_case(self.binary(True), self.case(["file=x.cof:\\0\\r\\n"], coff, "coff"))
        self.assertIn("x.cof differs", out)

    def test_update_from_a_windows_binary_writes_variants_only_where_results_differ(self):
        goldens = {"status": b"0\n", "stdout": b"a\n", "stderr": b"", "x.cof": b"\0\n"}
        case = self.case(["out=a\\r\\n", "file=x.cof:\\0\\r\\n"], goldens, "update")
        self.assertEqual(self.run_case(self.binary(True), case, update=True)[0], 0)
        expected = os.path.join(case, "expected")
        self.assertEqual(sorted(os.listdir(expected)), ["status", "stderr", "stdout", "x.cof", "x.cof.windows"])
        with open(os.path.join(expected, "x.cof.windows"), "rb") as f:
            self.assertEqual(f.read(), b"\0\r\n")  # binary, kept as made
        self.assertEqual(self.run_case(self.binary(True), case)[0], 0)
        self.assertIn("x.cof differs", self.run_case(self.binary(False), case)[1])
        # The host's own update keeps the Windows variants.
        self.assertEqual(self.run_case(self.binary(False), case, update=True)[0], 0)
        self.assertIn("x.cof.windows", os.listdir(expected))

    def test_leftovers_in_the_windows_temporary_folder_but_not_wines_own(self):
        expected = {"status": b"0\n", "stdout": b"x\n", "stderr": b""}
        own = self.case(["out=x\\n", "winedir=wine-AbC123"], expected, "own")
        self.assertEqual(self.run_case(self.binary(True), own)[0], 0)
        left = self.case(["out=x\\n", "temp=zol1234.tmp"], expected, "left")
        status, out = self.run_case(self.binary(True), left)
        self.assertEqual(status, 1)
        self.assertIn("files left in the temporary folder %s: ['zol1234.tmp']" % self.wine_temp, out)
        # A file there from before the run is not this case's.
        self.assertEqual(self.run_case(self.binary(True), self.case(["out=x\\n"], expected, "again"))[0], 0)


if __name__ == "__main__":
    unittest.main()
