#!/usr/bin/env python3
"""Fault-injection cases of the linker: what the file system or the user does
to a link from outside, which a plain end-to-end case cannot set up.

Each case links a small program in a fresh folder, injects one fault and
checks the status, the message and the files left behind:

  dev-full-<ext>     an output file is a link to /dev/full: "cannot write",
                     status 255, and no unfinished image is left
  tmpdir-full        TMPDIR on a tiny full file system (a tmpfs; needs root
                     and mount, else the case is skipped with a message):
                     the linker writes no temporary file, so the link of a
                     large library member still succeeds
  no-permission      an object that exists but cannot be read, and a folder
                     where no output can be made (run as an unprivileged
                     user when the tests run as root)
  failed-relink      a failed link after a good one deletes the old image,
                     and leaves the old map as it was, whether the link
                     fails before pass 1 or in it
  reports-without-temporary-files
                     TMPDIR missing, or too small for the map's text: the
                     map is the one a roomy TMPDIR gives
  disk-full-on-copy  the output folder and TMPDIR on one small file system
                     (needs root and mount) with room for the map's text
                     once: "cannot write" with status 255 and no image left
                     when the text went through TMPDIR, else the map whole
  signal-<name>      SIGINT, SIGTERM or SIGHUP while the link waits on a
                     module listing that is a FIFO, after the image file was
                     made: the image and the @- file are gone, and the
                     process ends by that signal

  run_faults.py <zeld12 binary> <case>     run one case
  run_faults.py <zeld12 binary> --list     print the case names
A skipped case prints "skipped: <why>" and exits 0.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

OBJECT = """XH
H 1 areas 2 global symbols
M main.c
A text size 5 flags 0
S _main Def0000
S _helper Ref0000
T 00 00 86 01
R 00 00 00 00
T 00 02 16 00 00
R 00 00 00 00 02 03 00 01
"""

LIBRARY = """.start
XH
H 1 areas 1 global symbols
M helper.c
A text size 2 flags 0
S _helper Def0000
T 00 00 3D 3D
R 00 00 00 00
.end
"""

class Skip(Exception):
    pass


class Failure(Exception):
    pass


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def make_project(folder):
    write(os.path.join(folder, "main.o"), OBJECT)
    write(os.path.join(folder, "libhelp.a"), LIBRARY)


def run(binary, args, cwd, env=None, user=None, timeout=60):
    full_env = dict(os.environ)
    full_env.pop("ZOL12_LINKER_OPTS", None)
    full_env["SOURCE_DATE_EPOCH"] = "0"
    if env:
        full_env.update(env)
    command = [binary] + args
    if user:
        command = user + command
    return subprocess.run(command, cwd=cwd, env=full_env, capture_output=True, timeout=timeout)


def status_of(proc):
    return proc.returncode if proc.returncode >= 0 else 256 + proc.returncode


def expect(condition, message, proc=None):
    if not condition:
        detail = ""
        if proc is not None:
            detail = "\nstatus %d\nstderr:\n%s" % (proc.returncode, proc.stderr.decode("latin-1"))
        raise Failure(message + detail)


def expect_only(folder, names):
    present = sorted(os.listdir(folder))
    expect(present == sorted(names), "files left: %s, expected %s" % (present, sorted(names)))


def dev_full_case(extension, options):
    """An output on /dev/full: the write failure is fatal and names the file."""
    def case(binary, work, tmp):
        make_project(work)
        os.symlink("/dev/full", os.path.join(work, "out." + extension))
        proc = run(binary, ["-R", "-L.", "-o", "out"] + options + ["main.o", "-lhelp"], work, {"TMPDIR": tmp})
        expect(status_of(proc) == 255, "status %d, expected 255" % status_of(proc), proc)
        text = proc.stderr.decode("latin-1")
        expect("!E {linker} cannot write 'out.%s': No space left on device\n" % extension in text,
               "no write failure reported for out.%s" % extension, proc)
        expect("Device" not in text, "the device usage line was printed", proc)
        # The link to /dev/full is the user's and stays; every image the
        # link made itself is gone because it failed.
        expect(os.path.islink(os.path.join(work, "out." + extension)), "the link to /dev/full was removed")
        for image in ("out.s19", "out.hex", "out.cof"):
            if image != "out." + extension:
                expect(not os.path.exists(os.path.join(work, image)), "%s was left behind" % image)
        expect(os.listdir(tmp) == [], "files left in TMPDIR: %s" % os.listdir(tmp))
    return case


def tmpdir_full(binary, work, tmp):
    """Library members never go through a temporary file: a full TMPDIR
    changes nothing."""
    if os.geteuid() != 0 or not shutil.which("mount"):
        raise Skip("mounting a tiny tmpfs needs root")
    small = os.path.join(work, "small-tmp")
    os.mkdir(small)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4k", "tmpfs", small], capture_output=True)
    if mounted.returncode != 0:
        raise Skip("mount refused: %s" % mounted.stderr.decode("latin-1").strip())
    try:
        project = os.path.join(work, "p")
        os.mkdir(project)
        make_project(project)
        # A member far larger than the file system.
        big = LIBRARY.replace("M helper.c\n", "M helper.c\n" + ("; padding\n" * 20000))
        write(os.path.join(project, "libhelp.a"), big)
        proc = run(binary, ["-R", "-L.", "-o", "out", "main.o", "-lhelp"], project, {"TMPDIR": small})
        expect(status_of(proc) == 0, "status %d, expected 0" % status_of(proc), proc)
        expect(os.path.exists(os.path.join(project, "out.s19")), "no image was written", proc)
        expect(os.listdir(small) == [], "files left in TMPDIR: %s" % os.listdir(small))
        # A map whose text the file system cannot take is written at its turn.
        expect_same_reports(binary, work, tmp, small)
    finally:
        subprocess.run(["umount", small], capture_output=True)


def many_symbols_object(count):
    """An object whose map lists `count` symbols (some kilobytes of text)."""
    lines = ["XH", "H 1 areas %d global symbols" % count, "M many.c", "A text size 2 flags 0"]
    lines += ["S _s%05d Def%04X" % (i, i % 2) for i in range(count)]
    lines += ["T 00 00 3D 3D", "R 00 00 00 00", ""]
    return "\n".join(lines)


def expect_same_reports(binary, work, roomy, tmpdir):
    """The outputs of a link with `tmpdir` as TMPDIR are those of a link
    with a roomy one, on a first link (no outputs yet) and on a link again
    over its outputs, and nothing else is left in the folder."""
    outputs = {}
    for name, folder in (("roomy", roomy), ("other", tmpdir)):
        project = os.path.join(work, "reports-" + name)
        os.mkdir(project)
        make_project(project)
        write(os.path.join(project, "many.o"), many_symbols_object(600))
        inputs = sorted(os.listdir(project))
        for link in ("first", "again"):
            proc = run(binary, ["-R", "-g", "-o", "out", "main.o", "many.o", "libhelp.a"], project, {"TMPDIR": folder})
            expect(status_of(proc) == 0, "status %d, expected 0" % status_of(proc), proc)
            made = {}
            for output in sorted(os.listdir(project)):
                if output in inputs:
                    continue
                expect(output.startswith("out."), "a stray file in the folder: %s" % output)
                with open(os.path.join(project, output), "rb") as f:
                    made[output] = f.read()
            outputs[name + " " + link] = made
    first = outputs["roomy first"]
    expect(len(first.get("out.mp", b"")) > 8192, "the map is too small to fill the file system")
    expect(sorted(first) == ["out.dbg", "out.lst", "out.mp", "out.s19"], "outputs: %s" % sorted(first))
    for name, made in outputs.items():
        expect(made == first, "the outputs of the %s link differ: %s against %s" % (name, sorted(made), sorted(first)))


def reports_without_temporary_files(binary, work, tmp):
    """No temporary folder at all: the reports are the same."""
    expect_same_reports(binary, work, tmp, os.path.join(tmp, "missing"))
    expect(os.listdir(tmp) == [], "files left in TMPDIR: %s" % os.listdir(tmp))


def disk_full_on_copy(binary, work, tmp):
    """The output folder and TMPDIR on one small file system that holds the
    map's text once but not twice. When the map's text was made beside pass
    1, the output written when the file system is full (most often the
    copy into out.mp, or the listing when the text came first) fails and
    is reported as any other write failure; when the link's thread wrote
    the map itself (it had not been begun by then), the link succeeds with
    the map whole. Never anything in between."""
    if os.geteuid() != 0 or not shutil.which("mount"):
        raise Skip("mounting a tiny tmpfs needs root")
    # The sizes of the inputs and outputs, from a link with room.
    roomy = os.path.join(work, "roomy")
    os.mkdir(roomy)
    make_project(roomy)
    write(os.path.join(roomy, "many.o"), many_symbols_object(3000))
    proc = run(binary, ["-R", "-o", "out", "main.o", "many.o", "libhelp.a"], roomy, {"TMPDIR": tmp})
    expect(status_of(proc) == 0, "status %d, expected 0" % status_of(proc), proc)
    pages = lambda name: -(-os.path.getsize(os.path.join(roomy, name)) // 4096)
    map_pages = pages("out.mp")
    expect(map_pages >= 16, "the map is too small")
    others = sum(pages(name) for name in os.listdir(roomy) if name != "out.mp")
    small = os.path.join(work, "small")
    os.mkdir(small)
    size = 4096 * (others + map_pages + map_pages // 2)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tmpfs", small], capture_output=True)
    if mounted.returncode != 0:
        raise Skip("mount refused: %s" % mounted.stderr.decode("latin-1").strip())
    try:
        project, small_tmp = os.path.join(small, "p"), os.path.join(small, "tmp")
        os.mkdir(project)
        os.mkdir(small_tmp)
        make_project(project)
        write(os.path.join(project, "many.o"), many_symbols_object(3000))
        proc = run(binary, ["-R", "-o", "out", "main.o", "many.o", "libhelp.a"], project, {"TMPDIR": small_tmp})
        if status_of(proc) == 0:
            with open(os.path.join(roomy, "out.mp"), "rb") as a, open(os.path.join(project, "out.mp"), "rb") as b:
                expect(a.read() == b.read(), "the map differs from the one a roomy disk gives", proc)
            expect(os.path.exists(os.path.join(project, "out.s19")), "no image was written", proc)
        else:
            expect(status_of(proc) == 255, "status %d, expected 255 or 0" % status_of(proc), proc)
            text = proc.stderr.decode("latin-1")
            expect(any("!E {linker} cannot write 'out.%s': No space left on device\n" % extension in text
                       for extension in ("mp", "lst", "s19")), "no write failure reported", proc)
            expect(not os.path.exists(os.path.join(project, "out.s19")), "the image was left behind", proc)
        expect(os.listdir(small_tmp) == [], "files left in TMPDIR: %s" % os.listdir(small_tmp))
    finally:
        subprocess.run(["umount", small], capture_output=True)


def unprivileged():
    """The command prefix that runs the linker without root's rights."""
    if os.geteuid() != 0:
        return []
    tool = shutil.which("setpriv")
    if not tool:
        raise Skip("running as root without setpriv to drop the rights")
    return [tool, "--reuid=65534", "--regid=65534", "--clear-groups"]


def no_permission(binary, work, tmp):
    """Files that exist but cannot be used: the message gives the reason."""
    user = unprivileged()
    os.chmod(os.path.dirname(work), 0o755)
    os.chmod(work, 0o777)
    os.chmod(tmp, 0o777)
    make_project(work)
    os.chmod(os.path.join(work, "main.o"), 0)
    proc = run(binary, ["-R", "-o", "out", "main.o"], work, {"TMPDIR": tmp}, user)
    expect(status_of(proc) == 255, "status %d, expected 255" % status_of(proc), proc)
    expect(proc.stderr == b"!E {linker} can't open file 'main.o': Permission denied\n",
           "unexpected report for an unreadable object", proc)

    locked = os.path.join(work, "locked")
    os.mkdir(locked)
    make_project(locked)
    os.chmod(locked, 0o555)
    proc = run(binary, ["-R", "-o", "out", "main.o", "libhelp.a"], locked, {"TMPDIR": tmp}, user)
    expect(status_of(proc) == 255, "status %d, expected 255" % status_of(proc), proc)
    expect(proc.stderr == b"!E {linker} cannot create 'out.s19': Permission denied\n",
           "unexpected report for an unwritable folder", proc)
    expect(os.listdir(tmp) == [], "files left in TMPDIR: %s" % os.listdir(tmp))


def failed_relink(binary, work, tmp):
    """A link that fails after a good one leaves no stale or cut image."""
    make_project(work)
    proc = run(binary, ["-R", "-o", "fw", "main.o", "libhelp.a"], work, {"TMPDIR": tmp})
    expect(proc.returncode == 0, "the first link failed", proc)
    expect(os.path.exists(os.path.join(work, "fw.s19")), "no image after a good link")
    with open(os.path.join(work, "fw.mp"), "rb") as f:
        good_map = f.read()
    # _helper undefined (before pass 1); a T record that pass 1 refuses.
    broken = OBJECT.replace("T 00 02 16 00 00", "T 00 02 16 00 ZZ")
    write(os.path.join(work, "broken.o"), broken)
    for args, report in ((["main.o"], b"undefined symbol '_helper'"),
                         (["broken.o", "libhelp.a"], b"T record field is not a number")):
        proc = run(binary, ["-R", "-o", "fw"] + args, work, {"TMPDIR": tmp})
        expect(status_of(proc) == 255, "status %d, expected 255" % status_of(proc), proc)
        expect(report in proc.stderr, "no report of the failure", proc)
        expect(not os.path.exists(os.path.join(work, "fw.s19")), "the failed link left fw.s19")
        with open(os.path.join(work, "fw.mp"), "rb") as f:
            expect(f.read() == good_map, "the map of the good link was changed")
        expect(os.listdir(tmp) == [], "files left in TMPDIR: %s" % os.listdir(tmp))


def fifo_after_failure(binary, work, tmp):
    """A FIFO among the objects, after a name that stops the link: the link
    ends at once (nothing waits for the FIFO to open)."""
    make_project(work)
    os.mkfifo(os.path.join(work, "pipe.o"))
    proc = run(binary, ["-R", "main.o", "bad.q", "pipe.o"], work, {"TMPDIR": tmp}, timeout=20)
    expect(status_of(proc) == 255, "status %d, expected 255" % status_of(proc), proc)
    expect(proc.stderr == b"!E {linker} unknown file type 'bad.q'\n", "unexpected report", proc)


def signal_case(signum):
    """An interrupt while the link waits: nothing of the link stays behind."""
    def case(binary, work, tmp):
        make_project(work)
        write(os.path.join(work, "late.o"), "XH\nH 0 areas 0 global symbols\nM late.c\n")
        # The listing of late.o is read after the passes, with the image
        # file made and not yet finished; nobody ever writes to it.
        fifo = os.path.join(work, "late.lis")
        os.mkfifo(fifo)
        write(os.path.join(work, "words.opt"), "-R -L. -o out\n")
        env = dict(os.environ, TMPDIR=tmp, SOURCE_DATE_EPOCH="0")
        env.pop("ZOL12_LINKER_OPTS", None)
        proc = subprocess.Popen([binary, "@-words.opt", "-lhelp", "main.o", "late.o"], cwd=work, env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            deadline = time.time() + 20
            while not os.path.exists(os.path.join(work, "out.s19")):
                if proc.poll() is not None:
                    raise Failure("the link ended before pass 0: %r" % (proc.communicate(),))
                expect(time.time() < deadline, "the image file was never made")
                time.sleep(0.01)
            time.sleep(0.1)  # let the listing reach the FIFO
            proc.send_signal(signum)
            proc.communicate(timeout=20)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.communicate()
        expect(proc.returncode == -signum, "ended with %d, expected -%d" % (proc.returncode, signum))
        expect_only(work, ["main.o", "libhelp.a", "late.o", "late.lis"])
        expect(os.listdir(tmp) == [], "files left in TMPDIR: %s" % os.listdir(tmp))
    return case


CASES = {
    "dev-full-s19": dev_full_case("s19", []),
    "dev-full-hex": dev_full_case("hex", ["-fintelhex"]),
    "dev-full-cof": dev_full_case("cof", ["-fcoff"]),
    "dev-full-mp": dev_full_case("mp", []),
    "dev-full-emp": dev_full_case("emp", ["--emit_extended_labels"]),
    "dev-full-lst": dev_full_case("lst", []),
    "dev-full-dbg": dev_full_case("dbg", ["-g"]),
    "tmpdir-full": tmpdir_full,
    "no-permission": no_permission,
    "failed-relink": failed_relink,
    "reports-without-temporary-files": reports_without_temporary_files,
    "disk-full-on-copy": disk_full_on_copy,
    "fifo-after-failure": fifo_after_failure,
    "signal-int": signal_case(signal.SIGINT),
    "signal-term": signal_case(signal.SIGTERM),
    "signal-hup": signal_case(signal.SIGHUP),
}


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    binary, name = os.path.abspath(sys.argv[1]), sys.argv[2]
    if name == "--list":
        print("\n".join(CASES))
        return 0
    if not os.path.exists(binary):
        print("FAIL %s: no linker at %s" % (name, binary))
        return 1
    root = tempfile.mkdtemp(prefix="zeld-fault-")
    try:
        work, tmp = os.path.join(root, "run"), os.path.join(root, "tmp")
        os.mkdir(work)
        os.mkdir(tmp)
        CASES[name](binary, work, tmp)
    except Skip as why:
        print("skipped: %s" % why)
        return 0
    except Failure as failure:
        print("FAIL %s\n%s" % (name, failure))
        return 1
    finally:
        subprocess.run(["chmod", "-R", "u+rwx", root], capture_output=True)
        shutil.rmtree(root, ignore_errors=True)
    print("ok %s" % name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
