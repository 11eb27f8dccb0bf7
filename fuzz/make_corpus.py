#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets from the end-to-end cases.

Each case folder of tests/e2e gives at most one seed per target, in the
target's own input shape (pieces separated by "%%" lines, words one a line):
  objects  words | a.o | a.lis | libz.a | b.o | b.lis
  debug    words | a.o | b.o           (cases linked with -g or a COFF format)
  layout   words                        (the placement and number options)
  options  words | environment | one.rsp | two.rsp   (the options-* cases)
Hand-made seeds live beside them under names that begin with "hand-"; this
script leaves those alone and rewrites the rest.

  make_corpus.py [e2e folder] [corpus folder]
"""
import os
import shlex
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
E2E = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "tests", "e2e")
CORPUS = sys.argv[2] if len(sys.argv) > 2 else os.path.join(HERE, "corpus")
SEP = b"\n%%\n"
LAYOUT_PREFIXES = ("-b", "-roh", "-rwh", "-e:", "-F", "-s2", "-nb:", "-d", "-f")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def case_words(case):
    with open(os.path.join(case, "cmd")) as f:
        return shlex.split(f.read())


def inputs(case):
    skip = {"cmd", "env", "deletes", "expected"}
    return sorted(n for n in os.listdir(case) if n not in skip and os.path.isfile(os.path.join(case, n)))


def join_words(words):
    return "\n".join(words).encode() + b"\n" if words else b""


def pieces(*parts):
    # Trailing empty pieces are dropped: a missing piece is a missing file.
    parts = list(parts)
    while parts and parts[-1] is None:
        parts.pop()
    return SEP.join(p or b"" for p in parts)


def options_only(words, files):
    out = []
    skip_next = False
    for w in words:
        if skip_next:
            skip_next = False
            continue
        if w in files or w in ("-R", "-g", "-fcoff") or w.startswith(("-l", "-L")):
            continue
        if w == "-o":
            skip_next = True
            continue
        out.append(w)
    return out


def objects_seed(case, words, files):
    objs = [n for n in files if n.endswith(".o")]
    libs = [n for n in files if n.endswith(".a")]
    if not objs and not libs:
        return None

    def listing(obj):
        lis = obj[:-2] + ".lis"
        return read(os.path.join(case, lis)) if lis in files else None

    a = objs[0] if objs else None
    b = objs[1] if len(objs) > 1 else None
    return pieces(join_words(options_only(words, files)),
                  read(os.path.join(case, a)) if a else b"", listing(a) if a else None,
                  read(os.path.join(case, libs[0])) if libs else b"",
                  read(os.path.join(case, b)) if b else None, listing(b) if b else None)


def debug_seed(case, words, files):
    if "-g" not in words and not any(w.startswith("-f") and "coff" in w for w in words):
        return None
    objs = [n for n in files if n.endswith(".o")]
    if not objs:
        return None
    return pieces(join_words(options_only(words, files)), read(os.path.join(case, objs[0])),
                  read(os.path.join(case, objs[1])) if len(objs) > 1 else None)


def layout_seed(words):
    chosen = [w for w in words if w.startswith(LAYOUT_PREFIXES)]
    # -d takes the next word when nothing is attached.
    out = []
    for i, w in enumerate(words):
        if w in chosen:
            out.append(w)
            if w == "-d" and i + 1 < len(words):
                out.append(words[i + 1])
    return join_words(out) if out else None


def options_seed(case, words, files):
    rename = {}
    for name in files:
        if not name.endswith(".o") and not name.endswith(".a") and len(rename) < 2:
            rename[name] = ("one.rsp", "two.rsp")[len(rename)]

    def renamed(text):
        for old, new in rename.items():
            text = text.replace(old, new)
        return text

    env = None
    env_path = os.path.join(case, "env")
    if os.path.exists(env_path):
        for line in open(env_path):
            if line.startswith("ZOL12_LINKER_OPTS="):
                env = renamed(line.rstrip("\n").split("=", 1)[1]).encode()
    files_by_new = {new: read(os.path.join(case, old)) for old, new in rename.items()}
    words = [renamed(w) for w in words]
    return pieces(join_words(words), env, renamed_bytes(files_by_new.get("one.rsp"), rename),
                  renamed_bytes(files_by_new.get("two.rsp"), rename))


def renamed_bytes(data, rename):
    if data is None:
        return None
    for old, new in rename.items():
        data = data.replace(old.encode(), new.encode())
    return data


def write_seed(target, name, data):
    if data is None:
        return
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    for target in ("objects", "debug", "layout", "options"):
        folder = os.path.join(CORPUS, target)
        if os.path.isdir(folder):
            for n in os.listdir(folder):
                if not n.startswith("hand-"):
                    os.remove(os.path.join(folder, n))
    seen_layouts = set()
    for name in sorted(os.listdir(E2E)):
        case = os.path.join(E2E, name)
        if not os.path.isfile(os.path.join(case, "cmd")):
            continue
        words, files = case_words(case), inputs(case)
        if name.startswith("options-"):
            write_seed("options", name, options_seed(case, words, files))
            continue
        write_seed("objects", name, objects_seed(case, words, files))
        write_seed("debug", name, debug_seed(case, words, files))
        layout = layout_seed(words)
        if layout and layout not in seen_layouts:
            seen_layouts.add(layout)
            write_seed("layout", name, layout)


if __name__ == "__main__":
    main()
