#!/usr/bin/env python3
"""Installs the build into a temporary prefix and checks what lands there.

  check_install.py <cmake> <build folder> <binary file name> <docs/zeld12.1>
                   [--emulator=WORD]...

The prefix must hold exactly bin/<binary> and share/man/man1/zeld12.1; the
installed binary must run (its usage text, status 1) and the installed page
must be the one in docs/ and name every option of that usage text, so that
an option added to the linker without a line in the manual fails here.
"""
import os
import re
import subprocess
import sys
import tempfile


def fail(message):
    print(f"FAILED: {message}", file=sys.stderr)
    sys.exit(1)


def usage_options(usage):
    """The option words the usage text lists: "-btext", "-f", "@", "--help"."""
    words = set()
    for line in usage.splitlines():
        m = re.match(r"^  (@|--?[A-Za-z][\w]*)", line)
        if m:
            words.add(m.group(1))
    return words


def manual_text(roff):
    """The page's text with the roff escapes that can split an option word
    removed: \\- is a minus, \\fB and the like change the font."""
    text = roff.replace("\\-", "-").replace("\\(at", "@").replace("\\&", "")
    return re.sub(r"\\f[BIRP]|\\f\(..", "", text)


def main():
    cmake, build, binary, source_page = sys.argv[1:5]
    emulator = [a.split("=", 1)[1] for a in sys.argv[5:] if a.startswith("--emulator=")]
    with tempfile.TemporaryDirectory() as prefix:
        run = subprocess.run([cmake, "--install", build, "--prefix", prefix], capture_output=True, text=True)
        if run.returncode != 0:
            fail(f"cmake --install ended with {run.returncode}:\n{run.stdout}{run.stderr}")
        installed = sorted(os.path.relpath(os.path.join(d, f), prefix)
                           for d, _, files in os.walk(prefix) for f in files)
        expected = sorted([os.path.join("bin", binary), os.path.join("share", "man", "man1", "zeld12.1")])
        if installed != expected:
            fail(f"installed {installed}, expected {expected}")

        linker = os.path.join(prefix, "bin", binary)
        if not os.access(linker, os.X_OK):
            fail(f"{linker} is not executable")
        with tempfile.TemporaryDirectory() as work:
            run = subprocess.run(emulator + [linker, "-O"], capture_output=True, text=True, cwd=work)
        if run.returncode != 1 or "Usage:" not in run.stdout:
            fail(f"the installed linker did not print its usage text (status {run.returncode}):\n{run.stdout}")

        with open(os.path.join(prefix, "share", "man", "man1", "zeld12.1"), "rb") as f:
            page = f.read()
        with open(source_page, "rb") as f:
            if page != f.read():
                fail("the installed manual page differs from docs/zeld12.1")
        text = manual_text(page.decode())
        missing = sorted(w for w in usage_options(run.stdout) if w not in text)
        if missing:
            fail(f"options of the usage text missing from the manual page: {missing}")
    print(f"install: {', '.join(expected)}")


if __name__ == "__main__":
    main()
