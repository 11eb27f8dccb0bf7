#!/usr/bin/env python3
"""Runs one end-to-end case of the linker and compares every result.

A case is a folder:
  cmd        the arguments, split like a shell would (no expansion)
  env        optional KEY=VALUE lines added to the environment (the runner
             sets SOURCE_DATE_EPOCH=0 and TZ=UTC, so dates are fixed)
  deletes    optional: names of input files the link must delete, one a line
  *.o, ...   input files; the whole folder except expected/ is copied into a
             fresh working folder, where the linker runs
  expected/  status (the shell's view: 0, 1, 255), stdout, stderr, and every
             file the link must leave behind, byte for byte

The working folder must hold, after the run, exactly its inputs plus the
files in expected/ (other than status, stdout and stderr): a stray or missing
output fails the case. In stderr, {LINE} matches a source line number.
Every .s19 and .hex file made is also read back with srec_info when that
tool is installed.

  run_case.py <zeld12 binary> <case folder> [--update]
"""
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

RESULT_FILES = {"status", "stdout", "stderr"}


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def stderr_matches(expected, actual):
    pattern = re.escape(expected).replace(re.escape("{LINE}"), r"\d+")
    return re.fullmatch(pattern, actual, re.S) is not None


def check_image_file(path):
    tool = shutil.which("srec_info")
    if not tool:
        return None
    fmt = "-intel" if path.endswith(".hex") else "-motorola"
    run = subprocess.run([tool, path, fmt], capture_output=True, text=True)
    if run.returncode != 0:
        return "srec_info rejects %s:\n%s%s" % (os.path.basename(path), run.stdout, run.stderr)
    return None


def main():
    binary, case = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    update = "--update" in sys.argv[3:]
    expected_dir = os.path.join(case, "expected")
    with open(os.path.join(case, "cmd")) as f:
        args = shlex.split(f.read())
    env = dict(os.environ)
    env.pop("ZOL12_LINKER_OPTS", None)
    # Dates in the outputs are those of SOURCE_DATE_EPOCH, in UTC.
    env["SOURCE_DATE_EPOCH"] = "0"
    env["TZ"] = "UTC"
    if os.path.exists(os.path.join(case, "env")):
        with open(os.path.join(case, "env")) as f:
            for line in f:
                line = line.rstrip("\n")
                if "=" in line:
                    key, value = line.split("=", 1)
                    env[key] = value
    failures = []
    with tempfile.TemporaryDirectory(prefix="zeld-e2e-") as work:
        env["TMPDIR"] = os.path.join(work, ".tmp")
        os.mkdir(env["TMPDIR"])
        run_dir = os.path.join(work, "run")
        shutil.copytree(case, run_dir, ignore=shutil.ignore_patterns("expected", "cmd", "env", "deletes"))
        before = set(os.listdir(run_dir))
        run = subprocess.run([binary] + args, cwd=run_dir, env=env, capture_output=True, timeout=120)
        status = run.returncode if run.returncode >= 0 else 256 + run.returncode
        actual = {"status": b"%d\n" % status, "stdout": run.stdout, "stderr": run.stderr}
        after = set(os.listdir(run_dir))
        made = sorted(after - before)
        changed = sorted(n for n in before & after
                         if os.path.isfile(os.path.join(run_dir, n))
                         and read_bytes(os.path.join(run_dir, n)) != read_bytes(os.path.join(case, n)))
        for name in made + changed:
            actual[name] = read_bytes(os.path.join(run_dir, name))
        missing = sorted(n for n in before if not os.path.exists(os.path.join(run_dir, n)))
        leftovers = os.listdir(env["TMPDIR"])
        if leftovers:
            failures.append("files left in the temporary folder: %s" % leftovers)

        if update:
            if os.path.isdir(expected_dir):
                shutil.rmtree(expected_dir)
            os.mkdir(expected_dir)
            for name, data in actual.items():
                with open(os.path.join(expected_dir, name), "wb") as f:
                    f.write(data)
            print("updated %s" % case)
            return 0

        expected = {}
        if os.path.isdir(expected_dir):
            for name in os.listdir(expected_dir):
                expected[name] = read_bytes(os.path.join(expected_dir, name))
        for name in sorted(set(expected) | set(actual)):
            if name not in actual:
                failures.append("%s was expected but not made" % name)
            elif name not in expected:
                failures.append("%s was made but not expected:\n%s" % (name, actual[name].decode("latin-1")))
            elif name == "stderr":
                if not stderr_matches(expected[name].decode("latin-1"), actual[name].decode("latin-1")):
                    failures.append("stderr differs.\n--- expected\n%s--- actual\n%s" % (
                        expected[name].decode("latin-1"), actual[name].decode("latin-1")))
            elif expected[name] != actual[name]:
                failures.append("%s differs.\n--- expected\n%r\n--- actual\n%r" % (name, expected[name], actual[name]))
        to_delete = set()
        if os.path.exists(os.path.join(case, "deletes")):
            with open(os.path.join(case, "deletes")) as f:
                to_delete = {line.strip() for line in f if line.strip()}
        for name in missing:
            if name not in to_delete:
                failures.append("input %s was deleted" % name)
        for name in sorted(to_delete - set(missing)):
            failures.append("input %s was not deleted" % name)
        for name in made + changed:
            if name.endswith((".s19", ".hex")) and actual[name]:
                problem = check_image_file(os.path.join(run_dir, name))
                if problem:
                    failures.append(problem)

    if failures:
        print("FAIL %s\n%s" % (os.path.basename(case), "\n".join(failures)))
        return 1
    print("ok %s" % os.path.basename(case))
    return 0


if __name__ == "__main__":
    sys.exit(main())
