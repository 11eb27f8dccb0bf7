#!/usr/bin/env python3
"""Doubles a benchmark project along one dimension at a time.

From a base project, each dimension is doubled twice while the others
stay (the two bases are below): modules, symbols (definitions and references per module),
records (T/R pairs per module), areas (banked areas, each with its own -b
option), ranges (-b ranges per banked area, half of them one-address
ranges), holes (ranges of the -roh option), libraries and members (per
library). Each point is linked `--runs` times; the table gives the median
CPU seconds (user+sys, steadier than wall-clock time on a shared machine),
the median wall-clock seconds, and the ratio of each point's CPU time to
the point before it. A linear linker doubles its time or less at every
step; a quadratic walk shows as a ratio near 4.

  scale.py [--binary PATH] [--runs N] [--out DIR] [--dim NAME ...] [--steps N]
"""
import argparse
import os
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import bench  # noqa: E402

# The input dimensions double from a project of a few MB. The layout
# dimensions double from a small project with many areas, ranges and holes,
# so that a walk over them that grows faster than linearly shows in the
# total; 5,600 holes still fit the length limit of one argument word.
BASE = dict(modules=400, records=60, symbols=16, areas=16, ranges=4, holes=256,
            libraries=4, members=40, seed=7)
LAYOUT_BASE = dict(BASE, modules=100, areas=256, ranges=16, holes=1400)
LAYOUT = {"areas", "ranges", "holes"}
DIMENSIONS = ["modules", "symbols", "records", "areas", "ranges", "holes", "libraries", "members"]


def measure(a, params):
    name = "scale-" + "-".join("%s%d" % (k[:3], params[k]) for k in DIMENSIONS)
    folder = os.path.join(a.out, name)
    overrides = ["%s=%d" % kv for kv in params.items()]
    info = bench.ensure_project(folder, "S", overrides)
    cpus, walls = [], []
    for _ in range(a.runs):
        wall, cpu, _, stderr, status = bench.link_once(folder, a.binary, info["args"])
        if status != 0 or any(line.startswith("!") for line in stderr.splitlines()):
            sys.exit("scale: link of %s failed with status %d:\n%s" % (folder, status, stderr))
        cpus.append(cpu)
        walls.append(wall)
    return statistics.median(cpus), statistics.median(walls), info["object_bytes"] / 1e6


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--binary", default=os.path.join(HERE, "..", "build-bench", "zeld12"))
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--out", default=os.path.join(HERE, "out"))
    ap.add_argument("--dim", action="append", choices=DIMENSIONS)
    ap.add_argument("--steps", type=int, default=2, help="doublings per dimension")
    a = ap.parse_args()
    a.binary = os.path.abspath(a.binary)

    bases = {}
    print("%-10s %8s %7s %8s %8s %7s" % ("dimension", "value", "MB", "cpu s", "wall s", "ratio"))
    for dim in a.dim or DIMENSIONS:
        base = LAYOUT_BASE if dim in LAYOUT else BASE
        key = tuple(sorted(base.items()))
        if key not in bases:
            bases[key] = measure(a, base)
        prev, wall, mb = bases[key]
        print("%-10s %8d %7.1f %8.3f %8.3f %7s" % (dim, base[dim], mb, prev, wall, "-"))
        for step in range(1, a.steps + 1):
            params = dict(base)
            params[dim] = base[dim] << step
            cpu, wall, mb = measure(a, params)
            print("%-10s %8d %7.1f %8.3f %8.3f %7.2f" % ("", params[dim], mb, cpu, wall, cpu / prev), flush=True)
            prev = cpu
    print("\ninput dimensions from: %s" % ", ".join("%s=%d" % kv for kv in BASE.items()))
    print("layout dimensions from: %s" % ", ".join("%s=%d" % kv for kv in LAYOUT_BASE.items()))

if __name__ == "__main__":
    main()
