#!/usr/bin/env python3
"""Checks that generated benchmark projects are what the benchmark claims:
the same bytes for the same seed, well-formed records that stay inside the
object format's limits, every relocation mode, references that resolve,
and range options the linker can place everything in.

With BENCH_LINKER=<zeld12 binary> in the environment the small project is
also linked: status 0 and no "!" report.

  python3 bench/test_genproject.py
"""
import hashlib
import json
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import genproject  # noqa: E402

SMALL = ["modules=40", "records=30", "symbols=12", "areas=4", "ranges=4", "holes=24",
         "libraries=3", "members=6"]


def generate(folder, extra=()):
    params = genproject.parameters("S", SMALL + list(extra))
    genproject.generate(params, folder)
    with open(os.path.join(folder, "link.json")) as f:
        return json.load(f)


def digest(folder):
    h = hashlib.sha256()
    for name in sorted(os.listdir(folder)):
        if os.path.isdir(os.path.join(folder, name)):
            continue
        with open(os.path.join(folder, name), "rb") as f:
            h.update(name.encode() + b"\0" + f.read())
    return h.hexdigest()


def modules_of(folder, info):
    """Yields (file, lines of one module) for objects and archive members."""
    for name in info["args"]:
        if not name.endswith((".o", ".a")):
            continue
        with open(os.path.join(folder, name)) as f:
            lines = f.read().splitlines()
        if name.endswith(".o"):
            yield name, lines
            continue
        member = None
        for line in lines:
            if line.startswith(".start"):
                member = []
            elif line.startswith(".end"):
                yield name, member
                member = None
            else:
                assert member is not None, "%s: a line outside .start/.end" % name
                member.append(line)


def ranges_of(option):
    body = option.split(":", 1)[1]
    return [tuple(int(x, 16) for x in r.split(".")) for r in body.split(":")]


class GeneratedProject(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.folder = os.path.join(cls.tmp.name, "a")
        cls.info = generate(cls.folder)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_same_seed_same_bytes_other_seed_other_bytes(self):
        again = os.path.join(self.tmp.name, "b")
        generate(again)
        self.assertEqual(digest(self.folder), digest(again))
        other = os.path.join(self.tmp.name, "c")
        generate(other, ["seed=99"])
        self.assertNotEqual(digest(self.folder), digest(other))

    def test_records_fit_the_format_and_every_mode_occurs(self):
        defined, referenced, modes = set(), set(), set()
        for name, lines in modules_of(self.folder, self.info):
            radix = {"X": 16, "D": 10, "Q": 8}[lines[0][0]]
            xgate = lines[0].endswith("xgate")
            num = lambda t: int(t, radix)
            head = lines[1].split()
            nareas, nsyms = num(head[1]), num(head[3])
            areas = [l.split() for l in lines if l.startswith("A ")]
            syms = [l.split() for l in lines if l.startswith("S ")]
            self.assertEqual((nareas, nsyms), (len(areas), len(syms)), name)
            for a in areas:
                if num(a[5]) & 0x80:
                    self.assertLessEqual(num(a[3]), 0x4000, "%s: a banked part over a page" % name)
            for s in syms:
                (referenced if s[2].startswith("R") else defined).add(s[1])
            count = 0
            for line in lines:
                if len(line) >= 1024:
                    self.fail("%s: a line longer than the reader takes" % name)
                f = line.split()
                if f and f[0] == "T":
                    count = len(f) - 1
                    self.assertLessEqual(count, 16, name)
                    self.assertTrue(all(num(v) < 256 for v in f[1:]), name)
                elif f and f[0] == "R":
                    items = [list(map(num, f[5 + k:9 + k])) for k in range(0, len(f) - 5, 4)]
                    positions = [i[1] for i in items]
                    self.assertEqual(positions, sorted(set(positions)), name)
                    for mode, pos, b1, b2 in items:
                        index = b1 * 256 + b2 if lines[0][1] == "H" else b1 + b2 * 256
                        self.assertLess(pos + 1, count, "%s: a field past the record" % name)
                        self.assertLess(index, nsyms if mode & 2 else nareas, name)
                        modes.add((xgate, mode))
        self.assertEqual(referenced - defined, set(), "references nobody defines")
        expected = {(False, m) for m in (0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x0A, 0x0B,
                                         0x13, 0x42, 0x53, 0x80, 0x81, 0x82, 0x83)}
        expected |= {(True, m) for m in (0x00, 0x02, 0x03, 0x04, 0x06, 0x08, 0x0A, 0x43)}
        self.assertEqual(expected - modes, set(), "relocation modes missing")

    def test_ranges_and_holes_leave_room_and_fit_the_address_space(self):
        args = self.info["args"]
        banks = [ranges_of(a) for a in args if a.startswith("-bbank")]
        self.assertEqual(len(banks), 4)
        flat = [r for b in banks for r in b]
        self.assertEqual(flat, sorted(flat))
        self.assertTrue(all(lo <= hi <= 0xFFFFFF for lo, hi in flat))
        self.assertEqual(sum(1 for lo, hi in flat if lo == hi), 8, "one-address ranges")
        holes = ranges_of(next(a for a in args if a.startswith("-roh")))
        self.assertEqual(len(holes), 24)
        for (lo, hi), (nlo, _) in zip(holes, holes[1:]):
            self.assertLess(hi, nlo)
        real = [r for r in flat if r[1] > r[0]]
        for lo, hi in holes:
            inside = [r for r in real if r[0] <= lo and hi + 10 < r[1]]
            self.assertEqual(len(inside), 1, "hole %#x.%#x must lie well inside one range" % (lo, hi))
            self.assertEqual(lo >> 14, hi >> 14, "hole %#x.%#x crosses a page" % (lo, hi))
            self.assertGreater((lo | 0x3FFF) - hi, 10, "a hole at a page end cuts the page short")

    def test_debug_lines_follow_the_part_they_describe(self):
        # A d line's address is an offset in the part of the last A line.
        code = ("text", "xtext", "bank")
        functions = 0
        for name, lines in modules_of(self.folder, self.info):
            area = None
            for line in lines:
                f = line.split()
                if f[:1] == ["A"]:
                    area = f[1]
                elif f[:1] == ["dXfunc"]:
                    functions += 1
                    self.assertTrue(area and area.startswith(code), "%s: %s in %s" % (name, line, area))
                elif f[:2] == ["dXsym", "e"] or f[:2] == ["dXsym", "s"]:
                    self.assertEqual(area, "ram", "%s: %s" % (name, line))
        self.assertGreater(functions, 0)

    def test_idata_and_data_agree(self):
        sizes = {"idata": 0, "data": 0}
        for _, lines in modules_of(self.folder, self.info):
            radix = {"X": 16, "D": 10, "Q": 8}[lines[0][0]]
            for l in lines:
                f = l.split()
                if f[:1] == ["A"] and f[1] in sizes:
                    sizes[f[1]] += int(f[3], radix)
        self.assertGreater(sizes["idata"], 0)
        self.assertEqual(sizes["idata"], sizes["data"])

    @unittest.skipUnless(os.environ.get("BENCH_LINKER"), "BENCH_LINKER not set")
    def test_links_cleanly(self):
        os.makedirs(os.path.join(self.folder, "out"), exist_ok=True)
        run = subprocess.run([os.environ["BENCH_LINKER"]] + self.info["args"], cwd=self.folder,
                             capture_output=True, text=True, env=dict(os.environ, SOURCE_DATE_EPOCH="0"))
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertFalse([l for l in run.stderr.splitlines() if l.startswith("!")], run.stderr)


if __name__ == "__main__":
    unittest.main()
