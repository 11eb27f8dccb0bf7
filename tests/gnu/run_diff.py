#!/usr/bin/env python3
"""Differential test of zeld12 against GNU's linker on GNU-assembled programs.

    tests/gnu/run_diff.py <zeld12-binary> [program ...] [--keep DIR]

Each folder here is one program in GNU assembly for the HC12/S12/S12X and its
XGATE co-processor. The script assembles it with m68hc11-as and links it two
ways: with m68hc11-ld and a generated script that puts every section at a
fixed address (image by m68hc11-objcopy -O srec), and with zeld12 and the
same addresses as -b ranges (-R: no startup object, no default library). The
two S-record images must hold the same bytes at the same addresses.

Each program is linked twice more from a library: the module that defines
__start as an object, every other module from one ar archive, which also
holds a member nothing references. Both linkers must leave that member out
and give the same image again.

Where GNU's linker is wrong for this target, its bytes are not the
reference; the program lists those places (EXCEPTIONS) and the expected
bytes are computed here from the final symbol addresses:
  - PC-relative fields (R_M68HC11_PCREL_8/16, R_M68HC12_9/10_PCREL) whose
    target the assembler could not resolve: the assembler writes the addend
    relative to the start of the field's section, and GNU ld subtracts the
    field's own address instead of the section's, so its displacement is
    short by the field's offset in its section;
  - R_M68HC11_24 (call) with an addend: GNU ld drops the addend;
  - R_M68HC11_PAGE with an addend: GNU ld adds the addend to the page number.

Banked code: zeld12 gives linear address x the page (x >> 14) & 0xFF and the
window address 0x8000 + (x & 0x3FFF). GNU ld counts pages from 0x10000
(its default __bank_virtual), so its script puts a banked section at
x + 0x10000 and loads it at x (AT), which gives the same page numbers, window
addresses and load addresses. Banked sections sit in 16 KB pages whose
window address equals the low 16 bits of x, so 16-bit references to them
agree too.

Exit status 0 when every program matches, 1 on a difference, 77 when the
GNU tools are missing (ctest counts that as skipped).
"""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = ["m68hc11-as", "m68hc11-ld", "m68hc11-objcopy", "m68hc11-ar", "m68hc11-nm"]
BANK_VIRTUAL = 0x10000

# Per program: assembler option per module (in link order; the first defines
# __start), members found only in the library, the archive's member order,
# text objects zeld12 links first, each section's range (low, high, banked),
# and the places where GNU ld is known to be wrong: (label, field offset,
# form, target symbol, addend).
PROGRAMS = {
    "s12x-app": {
        "modules": [("start", "-mm9s12x"), ("main", "-mm9s12x"), ("uart", "-mm9s12x"),
                    ("bank", "-mm9s12x"), ("vectors", "-mm9s12x")],
        "library_only": [("unused", "-mm9s12x")],
        "archive_order": ["main", "unused", "uart", "bank", "vectors"],
        # A text object linked first makes the banked areas extended code
        # pages, which ELF cannot mark; GNU's link has no use for it.
        "zeld_first": ["banked_areas.o"],
        "sections": {
            ".text": (0xC000, 0xC7FF, False),
            ".text.init": (0xC800, 0xCFFF, False),
            ".rodata": (0xD000, 0xDFFF, False),
            ".vectors": (0xFFFC, 0xFFFF, False),
            ".text.bank3": (0x0F8000, 0x0FBFFF, True),
            ".ppage_data": (0x0E9000, 0x0EBFFF, True),
            ".data": (0x2000, 0x20FF, False),
            ".bss": (0x2100, 0x21FF, False),
            ".zpage": (0x0040, 0x00FF, False),
        },
        "exceptions": [
            ("x_call_plus", 1, "call", "board_init", 2),
            ("x_page_plus", 1, "page", "page_table", 3),
            ("x_lbra_exit", 2, "pcrel16", "halt", 0),
            ("x_brset_ready", 4, "pcrel8", "uart_ready", 0),
            ("x_lbne_main", 2, "pcrel16", "uart_ready", 0),
            ("x_lbra_init", 2, "pcrel16", "in_init", 0),
        ],
    },
    "xgate": {
        "modules": [("cpu", "-mm9s12x"), ("handlers", "-mm9s12xg"), ("common", "-mm9s12xg")],
        "library_only": [("spare", "-mm9s12xg")],
        "archive_order": ["handlers", "spare", "common"],
        "sections": {
            ".text": (0xC000, 0xC0FF, False),
            ".xgate_vectors": (0xC100, 0xC1FF, False),
            ".xgate_text": (0xE000, 0xE0FF, False),
            ".xgate_tail": (0xE100, 0xE1FF, False),
            ".xgate_data": (0x3000, 0x30FF, False),
            ".data": (0x2000, 0x20FF, False),
            ".bss": (0x2100, 0x21FF, False),
        },
        "exceptions": [
            ("x_xg_bra", 0, "xg10", "xg_common", 0),
            ("x_xg_beq", 0, "xg9", "xg_common", 2),
            ("x_xg_bne", 0, "xg9", "xg_done", 0),
            ("x_xg_back", 0, "xg10", "xg_sci_handler", 0),
        ],
    },
    "hc12-calc": {
        "modules": [("calc", "-m68hc12"), ("ops", "-m68hc12"), ("table", "-m68hc12")],
        "library_only": [("extra", "-m68hc12")],
        "archive_order": ["ops", "extra", "table"],
        "sections": {
            ".text": (0x8000, 0x87FF, False),
            ".rodata": (0x9000, 0x90FF, False),
            ".data": (0x0800, 0x08FF, False),
            ".bss": (0x0900, 0x09FF, False),
        },
        "exceptions": [
            ("x_lbsr_add", 2, "pcrel16", "op_add", 0),
            ("x_brclr_neg", 4, "pcrel8", "op_neg", 0),
            ("x_lbeq_tab", 2, "pcrel16", "op_tail", 1),
        ],
    },
}


def page_window(x):
    return (((x >> 14) & 0xFF) << 16) | (0x8000 + (x & 0x3FFF))


def run(cmd, cwd, check=True):
    p = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True)
    if check and p.returncode != 0:
        raise RuntimeError("%s failed (status %d):\n%s%s" % (" ".join(cmd), p.returncode, p.stdout, p.stderr))
    return p


def read_srec(path):
    image = {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line.startswith("S") or line[1] not in "123":
                continue
            raw = bytes.fromhex(line[2:])
            if sum(raw) & 0xFF != 0xFF:
                raise RuntimeError("%s: bad checksum in %s" % (path, line))
            width = {"1": 2, "2": 3, "3": 4}[line[1]]
            address = int.from_bytes(raw[1:1 + width], "big")
            for i, b in enumerate(raw[1 + width:-1]):
                if address + i in image and image[address + i] != b:
                    raise RuntimeError("%s: address %#x written twice" % (path, address + i))
                image[address + i] = b
    return image


def gnu_script(sections):
    lines = ["ENTRY(__start)", "SECTIONS", "{"]
    for name, (low, _high, banked) in sections.items():
        if banked:
            lines.append("  %s %#x : AT(%#x) { *(%s) }" % (name, low + BANK_VIRTUAL, low, name))
        else:
            lines.append("  %s %#x : { *(%s) }" % (name, low, name))
    lines.append("  /DISCARD/ : { *(.comment) }")
    lines.append("}")
    return "\n".join(lines) + "\n"


def symbol_addresses(elf, sections, work):
    """Final linear addresses of every symbol of the GNU link."""
    out = run(["m68hc11-nm", "-n", elf], work).stdout
    banked = [(low + BANK_VIRTUAL, high + BANK_VIRTUAL) for low, high, b in sections.values() if b]
    symbols = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) != 3:
            continue
        value = int(parts[0], 16)
        if any(lo <= value <= hi + 1 for lo, hi in banked):
            value -= BANK_VIRTUAL
        symbols.setdefault(parts[2], value)
    return symbols


def expected_exception_bytes(exc, symbols, gnu):
    """(address, byte) pairs that replace GNU's bytes at one listed place."""
    label, offset, form, target, addend = exc
    if label not in symbols or target not in symbols:
        raise RuntimeError("exception %s: symbol %s or %s not in the GNU link" % (label, label, target))
    at = symbols[label] + offset
    t = symbols[target] + addend
    if form == "pcrel8":
        d = t - (at + 1)
        if not -128 <= d <= 127:
            raise RuntimeError("exception %s: displacement %d does not fit 8 bits" % (label, d))
        return [(at, d & 0xFF)]
    if form == "pcrel16":
        d = (t - (at + 2)) & 0xFFFF
        return [(at, d >> 8), (at + 1, d & 0xFF)]
    if form in ("xg9", "xg10"):
        bits = 9 if form == "xg9" else 10
        words = (t - (at + 2)) // 2
        if not -(1 << (bits - 1)) <= words < (1 << (bits - 1)):
            raise RuntimeError("exception %s: branch of %d words does not fit" % (label, words))
        mask = (1 << bits) - 1
        word = ((gnu[at] << 8 | gnu[at + 1]) & ~mask) | (words & mask)
        return [(at, word >> 8), (at + 1, word & 0xFF)]
    if form == "call":
        g = page_window(t)
        return [(at, (g >> 8) & 0xFF), (at + 1, g & 0xFF), (at + 2, g >> 16)]
    if form == "page":
        return [(at, page_window(t) >> 16)]
    raise RuntimeError("exception %s: form %s unknown" % (label, form))


def assemble(program, modules, work):
    for name, cpu in modules:
        run(["m68hc11-as", cpu, "-o", name + ".o", os.path.join(HERE, program, name + ".s")], work)


def link_and_compare(zeld, program, spec, work, variant):
    first = spec["modules"][0][0]
    if variant == "objects":
        inputs = [m + ".o" for m, _ in spec["modules"]]
    else:
        lib = "lib%s.a" % program.replace("-", "_")
        if os.path.exists(os.path.join(work, lib)):
            os.remove(os.path.join(work, lib))
        run(["m68hc11-ar", "rcs", lib] + [m + ".o" for m in spec["archive_order"]], work)
        inputs = [first + ".o", lib]

    with open(os.path.join(work, "gnu.x"), "w") as f:
        f.write(gnu_script(spec["sections"]))
    run(["m68hc11-ld", "-m", "m68hc12elf", "-T", "gnu.x", "-o", "gnu.elf"] + inputs, work)
    run(["m68hc11-objcopy", "-O", "srec", "gnu.elf", "gnu.s19"], work)
    gnu = read_srec(os.path.join(work, "gnu.s19"))
    symbols = symbol_addresses("gnu.elf", spec["sections"], work)

    ranges = ["-b%s:%#x.%#x" % (name.lstrip("."), low, high) for name, (low, high, _) in spec["sections"].items()]
    first_objects = [os.path.join(HERE, program, o) for o in spec.get("zeld_first", [])]
    z = run([zeld, "-R", "-o", "zeld"] + ranges + first_objects + inputs, work, check=False)
    if z.returncode != 0 or not os.path.exists(os.path.join(work, "zeld.s19")):
        return ["zeld12 failed (status %d):\n%s%s" % (z.returncode, z.stdout, z.stderr)]
    ours = read_srec(os.path.join(work, "zeld.s19"))

    reference = dict(gnu)
    corrected = 0
    for exc in spec["exceptions"]:
        for address, byte in expected_exception_bytes(exc, symbols, gnu):
            if address not in reference:
                return ["exception %s: GNU wrote nothing at %#x" % (exc[0], address)]
            corrected += reference[address] != byte
            reference[address] = byte

    problems = []
    for address in sorted(set(reference) | set(ours)):
        want, got = reference.get(address), ours.get(address)
        if want != got:
            fmt = lambda v: "--" if v is None else "%02X" % v
            problems.append("%#07x: expected %s, zeld12 wrote %s" % (address, fmt(want), fmt(got)))
    if problems:
        return problems[:20] + (["... %d more" % (len(problems) - 20)] if len(problems) > 20 else [])
    print("  %-8s %d bytes identical (%d bytes of %d listed places computed by hand, where GNU ld is wrong)"
          % (variant, len(ours), corrected, len(spec["exceptions"])))
    return []


def main(argv):
    args = list(argv[1:])
    keep = None
    if "--keep" in args:
        i = args.index("--keep")
        keep = os.path.abspath(args[i + 1])
        del args[i:i + 2]
    if not args:
        print(__doc__)
        return 2
    zeld = os.path.abspath(args[0])
    chosen = args[1:] or list(PROGRAMS)
    missing = [t for t in TOOLS if shutil.which(t) is None]
    if missing:
        print("skipped: %s not installed (apt-get install binutils-m68hc1x)" % ", ".join(missing))
        return 77
    failed = False
    for program in chosen:
        spec = PROGRAMS[program]
        work = os.path.join(keep, program) if keep else tempfile.mkdtemp(prefix="zeld-gnu-")
        os.makedirs(work, exist_ok=True)
        try:
            print(program)
            assemble(program, spec["modules"] + spec["library_only"], work)
            for variant in ("objects", "archive"):
                problems = link_and_compare(zeld, program, spec, work, variant)
                if problems:
                    failed = True
                    print("  %s: DIFFERENT" % variant)
                    for p in problems:
                        print("    " + p)
        except RuntimeError as e:
            failed = True
            print("  error: %s" % e)
        finally:
            if not keep:
                shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
