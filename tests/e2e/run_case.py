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
             file the link must leave behind, byte for byte; NAME.windows
             replaces NAME for a Windows binary where that host's result
             differs (a folder cannot be opened there, for one, and paths
             the linker builds have backslashes)

The working folder must hold, after the run, exactly its inputs plus the
files in expected/ (other than status, stdout and stderr): a stray or missing
output fails the case. In stderr, {LINE} matches a source line number.
Every .s19 and .hex file made is also read back with srec_info when that
tool is installed.

  run_case.py <zeld12 binary> <case folder> [--emulator=WORD]... [--update]

Python always runs on the host; only the linker runs under the emulator
(each --emulator=WORD adds one word of its command line, e.g. --emulator=wine).
A Windows binary writes its text outputs, stdout and stderr through
text-mode streams, so for it, and only for it, a text result may also have
every line feed of the golden as CR LF; a result with NUL bytes is binary and
must match exactly. Goldens are always kept with LF line ends; --update with
a Windows binary leaves the host's goldens alone and writes NAME.windows
only where its result differs from them.

A file the link leaves in its temporary folder fails the case: the runner
gives the linker a temporary folder of its own (TMPDIR, TMP and TEMP), and
for a Windows binary under Wine it also watches the Windows temporary folder
of the Wine prefix, which Wine sets itself. Wine's own server folder is never
counted. Wine runs with the caller's TMPDIR so that every case shares one
Wine server; cases under Wine must not run in parallel with other users of
that prefix's temporary folder (the build gives them one resource lock).

A case must prove that the linker ran: the binary must exist, and a case
whose expected results are those of a program that does nothing (status 0,
no output, no file made or deleted) is refused, so an emulator that runs
nothing cannot pass.
"""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

RESULT_FILES = {"status", "stdout", "stderr"}
WINDOWS_SUFFIX = ".windows"


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def is_windows_binary(path):
    with open(path, "rb") as f:
        return f.read(2) == b"MZ"


def stderr_matches(expected, actual):
    pattern = re.escape(expected).replace(re.escape("{LINE}"), r"\d+")
    return re.fullmatch(pattern, actual, re.S) is not None


def text_variants(data, crlf_allowed):
    """The forms of a text result to compare: itself and, when CR LF line
    ends are allowed and every line feed has one, the form with LF alone."""
    variants = [data]
    if crlf_allowed and b"\r\n" in data:
        lf = data.replace(b"\r\n", b"\n")
        if lf.replace(b"\n", b"\r\n") == data:
            variants.append(lf)
    return variants


def is_wine_own_entry(name):
    # The folder Wine keeps for its server: wine-XXXXXX, or .wine-<uid>.
    return name.startswith(("wine-", ".wine-"))


def wine_temp_dir(emulator, env):
    """The host folder behind the Windows TEMP of the Wine prefix in use."""
    prefix = env.get("WINEPREFIX") or os.path.join(os.path.expanduser("~"), ".wine")
    value = None
    try:
        with open(os.path.join(prefix, "user.reg"), encoding="latin-1") as f:
            section = False
            for line in f:
                if line.startswith("["):
                    section = line.startswith("[Environment]")
                elif section and line.startswith('"TEMP"='):
                    match = re.match(r'"TEMP"="(.*)"\s*$', line)
                    if match:
                        value = match.group(1).replace("\\\\", "\\")
    except OSError:
        pass
    if not value or "%" in value:
        run = subprocess.run(emulator + ["cmd", "/c", "echo %TEMP%"], env=env,
                             capture_output=True, timeout=120)
        value = run.stdout.decode("latin-1").strip()
    match = re.fullmatch(r"([A-Za-z]:)\\?(.*)", value or "")
    if not match:
        return None
    drive = os.path.join(prefix, "dosdevices", match.group(1).lower())
    path = os.path.join(os.path.realpath(drive), *[p for p in match.group(2).split("\\") if p])
    return path if os.path.isdir(path) else None


def list_dir(path):
    return {n for n in os.listdir(path) if not is_wine_own_entry(n)}


def result_matches(name, expected, actual, windows):
    if name == "stderr":
        text = expected.decode("latin-1")
        return any(stderr_matches(text, v.decode("latin-1")) for v in text_variants(actual, windows))
    return expected in ([actual] if b"\0" in expected else text_variants(actual, windows))


def read_goldens(expected_dir, windows):
    """The expected results; for a Windows binary NAME.windows stands in for NAME."""
    goldens, variants = {}, {}
    if os.path.isdir(expected_dir):
        for name in os.listdir(expected_dir):
            data = read_bytes(os.path.join(expected_dir, name))
            if name.endswith(WINDOWS_SUFFIX):
                variants[name[:-len(WINDOWS_SUFFIX)]] = data
            else:
                goldens[name] = data
    if windows:
        goldens.update(variants)
    return goldens


def update_goldens(expected_dir, actual, windows):
    """Rewrites the goldens from this run. A Windows binary leaves the host's
    goldens alone and writes NAME.windows only where its result differs."""
    if windows:
        host = read_goldens(expected_dir, False)
        os.makedirs(expected_dir, exist_ok=True)
        for name, data in actual.items():
            variant = os.path.join(expected_dir, name + WINDOWS_SUFFIX)
            if name in host and result_matches(name, host[name], data, True):
                if os.path.exists(variant):
                    os.remove(variant)
            else:
                with open(variant, "wb") as f:
                    f.write(data if b"\0" in data else text_variants(data, True)[-1])  # LF line ends
        return
    kept = {n: read_bytes(os.path.join(expected_dir, n))
            for n in (os.listdir(expected_dir) if os.path.isdir(expected_dir) else [])
            if n.endswith(WINDOWS_SUFFIX)}
    if os.path.isdir(expected_dir):
        shutil.rmtree(expected_dir)
    os.mkdir(expected_dir)
    for name, data in list(actual.items()) + list(kept.items()):
        with open(os.path.join(expected_dir, name), "wb") as f:
            f.write(data)


def check_image_file(path):
    tool = shutil.which("srec_info")
    if not tool:
        return None
    fmt = "-intel" if path.endswith(".hex") else "-motorola"
    run = subprocess.run([tool, path, fmt], capture_output=True, text=True)
    if run.returncode != 0:
        return "srec_info rejects %s:\n%s%s" % (os.path.basename(path), run.stdout, run.stderr)
    return None


def parse_args(argv):
    parser = argparse.ArgumentParser(description="Runs one end-to-end case of the linker.")
    parser.add_argument("binary")
    parser.add_argument("case")
    parser.add_argument("--emulator", action="append", default=[],
                        help="one word of the command that runs the binary (repeat for more)")
    parser.add_argument("--update", action="store_true", help="rewrite the case's expected/ folder")
    return parser.parse_args(argv)


def fail(case, failures):
    print("FAIL %s\n%s" % (os.path.basename(case), "\n".join(failures)))
    return 1


def main(argv=None):
    opts = parse_args(sys.argv[1:] if argv is None else argv)
    binary, case, update = os.path.abspath(opts.binary), os.path.abspath(opts.case), opts.update
    emulator = opts.emulator
    if not os.path.isfile(binary):
        return fail(case, ["the linker binary %s does not exist" % binary])
    windows = is_windows_binary(binary)
    expected_dir = os.path.join(case, "expected")
    with open(os.path.join(case, "cmd")) as f:
        args = shlex.split(f.read())
    env = dict(os.environ)
    env.pop("ZOL12_LINKER_OPTS", None)
    # Dates in the outputs are those of SOURCE_DATE_EPOCH, in UTC.
    env["SOURCE_DATE_EPOCH"] = "0"
    env["TZ"] = "UTC"
    if emulator:
        env.setdefault("WINEDEBUG", "-all")
    if os.path.exists(os.path.join(case, "env")):
        with open(os.path.join(case, "env")) as f:
            for line in f:
                line = line.rstrip("\n")
                if "=" in line:
                    key, value = line.split("=", 1)
                    env[key] = value
    failures = []
    with tempfile.TemporaryDirectory(prefix="zeld-e2e-") as work:
        temp_dir = os.path.join(work, ".tmp")
        os.mkdir(temp_dir)
        if not emulator:
            env["TMPDIR"] = env["TMP"] = env["TEMP"] = temp_dir
        watched = [temp_dir]
        if emulator and windows:
            wine_temp = wine_temp_dir(emulator, env)
            if wine_temp is None:
                return fail(case, ["cannot find the emulator's temporary folder"])
            watched.append(wine_temp)
        watched_before = [list_dir(d) for d in watched]
        run_dir = os.path.join(work, "run")
        shutil.copytree(case, run_dir, ignore=shutil.ignore_patterns("expected", "cmd", "env", "deletes"))
        before = set(os.listdir(run_dir))
        try:
            run = subprocess.run(emulator + [binary] + args, cwd=run_dir, env=env, capture_output=True, timeout=120)
        except (OSError, subprocess.SubprocessError) as e:
            return fail(case, ["cannot run %s: %s" % (" ".join(emulator + [binary]), e)])
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
        for folder, old in zip(watched, watched_before):
            leftovers = sorted(list_dir(folder) - old)
            if leftovers:
                failures.append("files left in the temporary folder %s: %s" % (folder, leftovers))

        if update:
            update_goldens(expected_dir, actual, windows)
            print("updated %s" % case)
            return 0

        expected = read_goldens(expected_dir, windows)
        for name in sorted(set(expected) | set(actual)):
            if name not in actual:
                failures.append("%s was expected but not made" % name)
            elif name not in expected:
                failures.append("%s was made but not expected:\n%s" % (name, actual[name].decode("latin-1")))
            elif not result_matches(name, expected[name], actual[name], windows):
                if name == "stderr":
                    failures.append("stderr differs.\n--- expected\n%s--- actual\n%s" % (
                        expected[name].decode("latin-1"), actual[name].decode("latin-1")))
                else:
                    failures.append("%s differs.\n--- expected\n%r\n--- actual\n%r" % (
                        name, expected[name], actual[name]))
        to_delete = set()
        if os.path.exists(os.path.join(case, "deletes")):
            with open(os.path.join(case, "deletes")) as f:
                to_delete = {line.strip() for line in f if line.strip()}
        if (expected.get("status", b"0\n") == b"0\n" and not expected.get("stdout") and not expected.get("stderr")
                and not set(expected) - RESULT_FILES and not to_delete):
            failures.append("the case proves nothing: a program that does nothing would pass it")
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
        return fail(case, failures)
    print("ok %s" % os.path.basename(case))
    return 0


if __name__ == "__main__":
    sys.exit(main())
