#!/usr/bin/env python3
"""Checks that the benchmark is a gate CI can trust: recorded checksums are
enforced, and a link that fails, reports an error on stderr or gives
different outputs from one run to the next fails the benchmark.

A stand-in linker writes what the test asks for, so no real link runs.

  python3 bench/test_bench.py
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))

FAKE_LINKER = r'''#!/usr/bin/env python3
import os, sys, time
with open(os.path.join("out", "prog.s19"), "w") as f:
    text = os.environ.get("FAKE_OUTPUT", "S9030000FC\n")
    f.write(text if text != "changing" else "%d\n" % time.time_ns())
sys.stderr.write(os.environ.get("FAKE_STDERR", "Device 1% full.\n"))
sys.exit(int(os.environ.get("FAKE_STATUS", "0")))
'''


class BenchGate(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.linker = os.path.join(cls.tmp.name, "fake-linker")
        with open(cls.linker, "w") as f:
            f.write(FAKE_LINKER)
        os.chmod(cls.linker, 0o755)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def setUp(self):
        self.checksums = os.path.join(self.tmp.name, "checksums-%s.json" % self._testMethodName)

    def bench(self, *extra, runs=1, **env):
        cmd = [sys.executable, os.path.join(HERE, "bench.py"), "--size", "S", "--runs", str(runs),
               "--binary", self.linker, "--out", os.path.join(self.tmp.name, "projects"),
               "--checksums", self.checksums] + list(extra)
        fake = {"FAKE_" + k.upper(): v for k, v in env.items()}
        return subprocess.run(cmd, capture_output=True, text=True, env=dict(os.environ, **fake))

    def test_recorded_checksums_are_enforced(self):
        self.assertEqual(self.bench().returncode, 1, "nothing recorded yet")
        run = self.bench("--record", output="S1 first\n")
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(self.checksums) as f:
            self.assertEqual(sorted(json.load(f)["S"]), ["prog.s19"])
        self.assertEqual(self.bench(output="S1 first\n").returncode, 0)
        run = self.bench(output="S1 second\n")
        self.assertEqual(run.returncode, 1)
        self.assertIn("prog.s19 checksum", run.stderr)

    def test_failed_or_unsteady_links_fail_the_benchmark(self):
        self.assertEqual(self.bench("--record").returncode, 0)
        cases = [
            dict(status="1"),
            dict(status="255", stderr="!E {linker} cannot open 'x'\n"),
            dict(stderr="!E m00001.o(12): {linker} R symbol error\n"),   # an error with status 0
            dict(stderr="!X The compiler has failed an internal consistency check.\n"),
        ]
        for env in cases:
            with self.subTest(**env):
                run = self.bench(**env)
                self.assertEqual(run.returncode, 1, run.stdout)
                self.assertIn("link failed", run.stderr)
        run = self.bench(runs=2, output="changing")
        self.assertEqual(run.returncode, 1)
        self.assertIn("differ from one run to the next", run.stderr)


if __name__ == "__main__":
    unittest.main()
