#!/usr/bin/env python3
"""Links a benchmark project and reports how fast, against what floor.

For each size asked for, the project is generated when missing or stale
(genproject.py; the generator's own text and the parameters are its
stamp), then linked `--runs` times with S-records, map, listing and debug
file. Every run must end with status 0 and no "!" report on stderr, and
the outputs must hash to the checksums recorded in checksums.json; any
failure makes the exit status non-zero.

Printed per size, as medians over the runs:
  MB      object text (objects and libraries) the link reads
  link    wall-clock seconds of the link, and its CPU seconds (user+sys)
  MB/s    object text per wall-clock second
  3cat    seconds of `cat` reading every input (objects, libraries,
          listings) three times: the floor of a three-pass reader
  ratio   link time / 3cat time (wall-clock, and CPU)
  peak    peak resident memory of the link (/usr/bin/time -v, else the
          kernel's figure for finished children)

  bench.py [--size S|M|L ...] [--runs N] [--binary PATH] [--out DIR]
           [--set NAME=VALUE ...] [--record] [--checksums FILE]
"""
import argparse
import hashlib
import json
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import genproject  # noqa: E402

CHECKSUMS = os.path.join(HERE, "checksums.json")
TIME_TOOL = "/usr/bin/time"


def generator_stamp(params):
    with open(os.path.join(HERE, "genproject.py"), "rb") as f:
        text = f.read()
    return hashlib.sha256(text + json.dumps(params, sort_keys=True).encode()).hexdigest()


def ensure_project(folder, size, overrides):
    params = genproject.parameters(size, overrides)
    stamp = generator_stamp(params)
    info_path = os.path.join(folder, "link.json")
    if os.path.exists(info_path):
        with open(info_path) as f:
            info = json.load(f)
        if info.get("stamp") == stamp:
            return info
    if os.path.isdir(folder):
        shutil.rmtree(folder)
    started = time.perf_counter()
    genproject.generate(params, folder)
    with open(info_path) as f:
        info = json.load(f)
    info["stamp"] = stamp
    with open(info_path, "w") as f:
        json.dump(info, f, indent=1)
        f.write("\n")
    print("generated %s in %.1f s" % (folder, time.perf_counter() - started), file=sys.stderr)
    return info


def child_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def link_once(folder, binary, args):
    """One link: (wall s, cpu s, peak KB, stderr text, status)."""
    out_dir = os.path.join(folder, "out")
    if os.path.isdir(out_dir):
        shutil.rmtree(out_dir)
    os.makedirs(out_dir)
    env = dict(os.environ, SOURCE_DATE_EPOCH="0", TZ="UTC")
    report = os.path.join(folder, "time.txt")
    cmd = [binary] + args
    if os.access(TIME_TOOL, os.X_OK):
        cmd = [TIME_TOOL, "-v", "-o", report] + cmd
    cpu0 = child_cpu()
    t0 = time.perf_counter()
    run = subprocess.run(cmd, cwd=folder, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    wall = time.perf_counter() - t0
    cpu = child_cpu() - cpu0
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    if os.path.exists(report):
        with open(report) as f:
            for line in f:
                if "Maximum resident set size" in line:
                    peak = int(line.rsplit(":", 1)[1])
        os.remove(report)
    return wall, cpu, peak, run.stderr.decode("latin-1"), run.returncode


def cat_floor(folder, inputs):
    """Wall and CPU seconds of cat reading every input three times."""
    cpu0 = child_cpu()
    t0 = time.perf_counter()
    for _ in range(3):
        # Chunks keep the command line short whatever the number of files.
        for k in range(0, len(inputs), 4000):
            subprocess.run(["cat"] + inputs[k:k + 4000], cwd=folder, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - t0, child_cpu() - cpu0


def output_checksums(folder):
    out_dir = os.path.join(folder, "out")
    sums = {}
    for name in sorted(os.listdir(out_dir)):
        with open(os.path.join(out_dir, name), "rb") as f:
            sums[name] = hashlib.sha256(f.read()).hexdigest()
    return sums


def load_checksums(path):
    if not os.path.exists(path):
        return {}
    with open(path) as f:
        return json.load(f)


def bench_size(size, a, recorded):
    folder = os.path.join(a.out, size if not a.set else size + "-custom")
    info = ensure_project(folder, size, a.set)
    args, inputs = info["args"], info["inputs"]
    failures = []
    walls, cpus, peaks, floors, floor_cpus = [], [], [], [], []
    cat_floor(folder, inputs)                       # warm the page cache
    sums = None
    for _ in range(a.runs):
        wall, cpu, peak, stderr, status = link_once(folder, a.binary, args)
        if status != 0 or any(line.startswith("!") for line in stderr.splitlines()):
            failures.append("%s: link failed with status %d:\n%s" % (size, status, stderr))
            break
        walls.append(wall)
        cpus.append(cpu)
        peaks.append(peak)
        got = output_checksums(folder)
        if sums is not None and got != sums:
            failures.append("%s: outputs differ from one run to the next" % size)
        sums = got
        f_wall, f_cpu = cat_floor(folder, inputs)
        floors.append(f_wall)
        floor_cpus.append(f_cpu)
    if failures:
        return None, failures

    if a.set:
        pass                                        # custom parameters: nothing recorded to compare
    elif a.record:
        recorded[size] = sums
    elif size not in recorded:
        failures.append("%s: no recorded checksums (run with --record)" % size)
    elif recorded[size] != sums:
        for name in sorted(set(sums) | set(recorded[size])):
            if sums.get(name) != recorded[size].get(name):
                failures.append("%s: %s checksum %s, recorded %s" %
                                (size, name, sums.get(name, "missing"), recorded[size].get(name, "none")))

    mb = info["object_bytes"] / 1e6
    link, cpu = statistics.median(walls), statistics.median(cpus)
    floor, floor_cpu = statistics.median(floors), statistics.median(floor_cpus)
    row = dict(size=size, mb=mb, link=link, cpu=cpu, mbps=mb / link, floor=floor, floor_cpu=floor_cpu,
               ratio=link / floor, cpu_ratio=cpu / floor_cpu if floor_cpu else float("inf"),
               peak=max(peaks) / 1024.0, runs=len(walls), files=len(inputs))
    return row, failures


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--size", action="append", choices=sorted(genproject.SIZES))
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--binary", default=os.path.join(HERE, "..", "build-bench", "zeld12"))
    ap.add_argument("--out", default=os.path.join(HERE, "out"), help="folder of the generated projects")
    ap.add_argument("--set", action="append", metavar="NAME=VALUE",
                    help="override a generator parameter (no checksum comparison)")
    ap.add_argument("--record", action="store_true", help="record the output checksums instead of checking them")
    ap.add_argument("--checksums", default=CHECKSUMS, help="file of recorded checksums")
    a = ap.parse_args()
    a.binary = os.path.abspath(a.binary)
    if not os.access(a.binary, os.X_OK):
        sys.exit("bench: no linker binary at %s" % a.binary)
    recorded = load_checksums(a.checksums)
    failures = []
    rows = []
    print("%-4s %8s %8s %8s %8s %8s %7s %7s %8s" %
          ("size", "MB", "link s", "cpu s", "MB/s", "3cat s", "ratio", "cpu-r", "peak MB"))
    for size in a.size or ["S"]:
        row, fails = bench_size(size, a, recorded)
        failures += fails
        if row:
            rows.append(row)
            print("%-4s %8.1f %8.3f %8.3f %8.1f %8.3f %7.2f %7.2f %8.1f" %
                  (size, row["mb"], row["link"], row["cpu"], row["mbps"], row["floor"], row["ratio"],
                   row["cpu_ratio"], row["peak"]), flush=True)
    if a.record and not failures:
        with open(a.checksums, "w") as f:
            json.dump(recorded, f, indent=1, sort_keys=True)
            f.write("\n")
    for size in a.size or ["S"]:
        for name, digest in sorted(recorded.get(size, {}).items()):
            print("  %s %s  %s" % (size, digest, name))
    for line in failures:
        print("bench: " + line, file=sys.stderr)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
