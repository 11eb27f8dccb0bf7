#!/usr/bin/env python3
"""Writes a synthetic, deterministic project for the linker benchmark.

A project is a folder of object files with their assembler listings, a few
library archives and a file `link.json` that holds the linker's arguments.
Everything follows from the parameters and the seed: the same parameters
give the same bytes on every machine (the generator draws only from
random.Random.random(), whose sequence is fixed for a given seed).

What a project holds:
  start.o     __start, the direct page symbols and absolute I/O symbols;
  mNNNNN.o    one module each, with its .lis listing; code in `text`,
              `const`, XGATE code in `xtext`, variables in `ram`,
              `idata`/`data`, tables in the linear areas `farN` and most
              of the code in the extended code page areas `bankN`;
  libNN.a     members that call each other (most of them get linked);
and, in link.json, `-b` ranges for every area (split into several ranges,
with one-address ranges between them), a `-roh` option with many holes
inside the banked ranges and one `-rwh` hole. Every relocation mode occurs,
against module-local areas, local labels and global symbols; modules come
in hexadecimal, decimal and octal radix, in both byte orders, and as XGATE
modules.

  genproject.py --size S|M|L [--out DIR] [--seed N] [--set name=value ...]
"""
import argparse
import json
import os
import random
import sys

# Parameters of the three standard sizes. `records` are T/R pairs per
# module, `symbols` global definitions per module (references are half as
# many), `areas` the banked areas, `ranges` the -b ranges of each of them,
# `holes` the ranges of the -roh option, `libraries` x `members` the archive
# modules.
SIZES = {
    "S": dict(modules=130, records=60, symbols=16, areas=8, ranges=4, holes=64,
              libraries=2, members=12, seed=1),
    "M": dict(modules=1500, records=60, symbols=16, areas=32, ranges=4, holes=512,
              libraries=4, members=40, seed=2),
    "L": dict(modules=13200, records=60, symbols=16, areas=96, ranges=4, holes=2048,
              libraries=8, members=100, seed=3),
}

PAGE = 0x4000            # an extended code page
BANK_BASE = 0x010000     # first linear address given to the banked areas
LINEAR_TOP = 0xFFFFFF

# Relocation mode bits.
R_BYTE, R_SYM, R_PCR, R_LINEAR, R_USGN, R_PAGE, R_PAGED = 0x01, 0x02, 0x04, 0x08, 0x10, 0x40, 0x80

# Unpaged areas: name, flags, -b range, bytes the generator may fill.
UNPAGED = {
    "text": (0x00, (0xC000, 0xFEFF), 12000),
    "const": (0x00, (0x4000, 0x7FFF), 12000),
    "xtext": (0x00, (0x8000, 0xBFFF), 12000),
    "ram": (0x20, (0x2000, 0x3FFF), 6000),
    "idata": (0x00, (0x0400, 0x0FFF), 1500),
    "data": (0x20, (0x1000, 0x1BFF), 1500),
    "zpage": (0x30, (0x0100, 0x01FF), 256),
}
RAM_HOLE = (0x3000, 0x303F)


class Rng:
    def __init__(self, seed):
        self.r = random.Random(seed)

    def below(self, n):
        return int(self.r.random() * n) if n > 0 else 0

    def chance(self, p):
        return self.r.random() < p


class Radix:
    """Number spelling of one module."""

    def __init__(self, letter):
        self.letter = letter
        base = {"X": 16, "D": 10, "Q": 8}[letter]
        spell = {16: "%02X", 10: "%d", 8: "%o"}[base]
        self.byte = [spell % v for v in range(256)]
        self.fmt = {16: "%X", 10: "%d", 8: "%o"}[base]

    def num(self, v):
        return self.fmt % (v & 0xFFFFFFFF)


RADIXES = {k: Radix(k) for k in "XDQ"}


class Part:
    def __init__(self, area, flags, kind, nrec, nlabels):
        self.area, self.flags, self.kind = area, flags, kind
        self.nrec, self.nlabels = nrec, nlabels
        self.index = 0          # area number inside the module
        self.kind_base = 0      # number of this kind's first label in the module
        self.size = 0
        self.labels = []        # (name, offset, hidden)
        self.label_recs = []    # numbers of the records that start with a label
        self.records = []       # (offset, data values, R items)
        self.sym_base = 0       # symbol number of the first label


class ModulePlan:
    """A module decided before any is written: its format, its parts, and
    the number of banked labels that other modules may refer to."""

    def __init__(self, radix="X", high_first=True, xgate=False):
        self.radix, self.high_first, self.xgate = radix, high_first, xgate
        self.parts = []
        self.bank_labels = 0


def plan_label_records(nrec, nlabels):
    """Spreads nlabels labels over the starts of nrec records."""
    return sorted({(k * nrec) // nlabels for k in range(nlabels)}) if nrec else []


class Generator:
    def __init__(self, p):
        self.p = p
        self.rng = Rng("plan:%d" % p["seed"])
        self.budget = {k: v[2] for k, v in UNPAGED.items()}
        self.bank_size = [0] * p["areas"]
        self.bank_max_part = [0] * p["areas"]
        self.nfar = min(8, max(1, p["areas"] // 8))
        self.far_size = [0] * self.nfar
        self.far_max_part = [0] * self.nfar
        self.unpaged_size = {k: 0 for k in UNPAGED}
        self.object_bytes = 0
        self.listing_bytes = 0
        self.plans = []
        self.lib_plans = []
        self.lib_selected = []

    # ---- planning: decided for every module before any is written ----

    def plan(self):
        p = self.p
        # Two banked parts per module, more when there are many areas for
        # few modules, so that every banked area has parts.
        nbank = max(2, min(32, -(-2 * p["areas"] // p["modules"])))
        for i in range(p["modules"]):
            xgate = (i % 19 == 7) and self.budget["xtext"] >= 8 * 14
            mp = ModulePlan("X" if xgate else ("D" if i % 11 == 5 else "Q" if i % 13 == 6 else "X"),
                            xgate or i % 7 != 3, xgate)
            parts = []
            rec = p["records"]
            if mp.xgate:
                n = min(rec, 8)
                self.budget["xtext"] -= n * 14
                parts.append(Part("xtext", 0, "xtext", n, max(1, p["symbols"] // 4)))
            else:
                if self.budget["text"] >= 8 * 14:
                    n = 4 + self.rng.below(5)
                    self.budget["text"] -= n * 14
                    parts.append(Part("text", 0, "text", n, 2))
                if self.budget["const"] >= 2 * 14:
                    self.budget["const"] -= 2 * 14
                    parts.append(Part("const", 0, "const", 2, 1))
                if self.budget["ram"] >= 32:
                    size = 8 + 2 * self.rng.below(12)
                    self.budget["ram"] -= size
                    part = Part("ram", 0x20, "ram", 0, 2)
                    part.size = size
                    parts.append(part)
                if self.budget["idata"] >= 14:
                    self.budget["idata"] -= 14
                    parts.append(Part("idata", 0, "idata", 1, 0))
                    part = Part("data", 0x20, "data", 0, 0)
                    part.size = 4
                    parts.append(part)
                if i % 4 == 1:
                    parts.append(Part("far%d" % ((i // 4) % self.nfar), 0x02, "far", 1 + self.rng.below(2), 1))
                left = max(2, rec - sum(q.nrec for q in parts))
                defs = max(2, p["symbols"] - sum(q.nlabels for q in parts if q.kind != "ram"))
                for b in range(nbank):
                    area = (i * nbank + b) % p["areas"]
                    parts.append(Part("bank%d" % area, 0x80, "bank",
                                      left // nbank + (left % nbank if b == 0 else 0),
                                      defs // nbank + (defs % nbank if b == 0 else 0)))
            parts.append(Part("zpage", 0x30, "zpage", 0, 0))
            mp.parts = parts
            mp.bank_labels = sum(q.nlabels for q in parts if q.kind == "bank")
            self.plans.append(mp)

        nl, nm = p["libraries"], p["members"]
        for lib in range(nl):
            plans = []
            for m in range(nm):
                mp = ModulePlan("X", m % 5 != 2)
                nrec = max(2, p["records"] // 2)
                nlab = max(1, p["symbols"] // 2)
                mp.parts = [Part("bank%d" % ((lib * 7 + m) % p["areas"]), 0x80, "bank", nrec, nlab),
                            Part("zpage", 0x30, "zpage", 0, 0)]
                mp.bank_labels = nlab
                plans.append(mp)
            self.lib_plans.append(plans)
            # The last tenth of each library is never asked for.
            self.lib_selected.append(max(1, nm - nm // 10))

    # ---- names ----

    def module_label(self, who, kind, k):
        if who[0] == "m":
            prefix = {"text": "_t", "const": "_k", "xtext": "_x", "ram": "_v", "far": "_f", "bank": "_b"}[kind]
            return "%s%d_%d" % (prefix, who[1], k)
        prefix = {"bank": "_L"}[kind]
        return "%s%d_%d_%d" % (prefix, who[1], who[2], k)

    def pick_bank_symbol(self, rng, avoid):
        """A global label in a banked area of some other module or member."""
        p = self.p
        if p["libraries"] and rng.chance(0.2):
            lib = rng.below(p["libraries"])
            m = rng.below(self.lib_selected[lib])
            who = ("l", lib, m)
            if who == avoid:
                return None
            return self.module_label(who, "bank", rng.below(self.lib_plans[lib][m].bank_labels))
        for _ in range(4):
            j = rng.below(p["modules"])
            if ("m", j) != avoid and self.plans[j].bank_labels:
                return self.module_label(("m", j), "bank", rng.below(self.plans[j].bank_labels))
        return None

    def references(self, rng, who, count, extra):
        names = list(extra)
        names.append("_zp_%d" % rng.below(64))
        names.append("_io_%d" % rng.below(32))
        for _ in range(8 * count):
            if len(names) >= count + len(extra):
                break
            name = self.pick_bank_symbol(rng, who)
            if name:
                names.append(name)
        seen, out = set(), []
        for n in names:
            if n not in seen:
                seen.add(n)
                out.append(n)
        return out

    # ---- records ----

    def build_part(self, rng, part, mp, ctx):
        """Fills part.records: T values and R items, offsets and size."""
        part.label_recs = plan_label_records(part.nrec, part.nlabels) if part.nrec else []
        label_at = {r: k for k, r in enumerate(part.label_recs)}
        off = 0
        for r in range(part.nrec):
            if r in label_at:
                k = label_at[r]
                part.labels.append((self.module_label(ctx["who"], part.kind, part.kind_base + k), off,
                                    part.kind == "text" and k % 2 == 1))
            nd = 6 + rng.below(9)
            values, items = [], []
            pos, nbyte = 2, 0
            while pos - 2 < nd:
                if nd - (pos - 2) >= 2 and rng.chance(0.35):
                    field = self.make_field(rng, part, mp, ctx, off + (pos - 2 - nbyte))
                    if field:
                        mode, index, contents, big = field
                        hi, lo = (contents >> 8) & 0xFF, contents & 0xFF
                        if big or mp.high_first:
                            values += [hi, lo]
                        else:
                            values += [lo, hi]
                        items.append((mode, pos, index))
                        if mode & R_BYTE:
                            nbyte += 1
                        pos += 2
                        continue
                values.append(rng.below(256))
                pos += 1
            part.records.append((off, values, items))
            off += nd - nbyte
        if part.nrec:
            part.size = off
        for k in range(len(part.labels), part.nlabels):   # labels of data-only parts
            part.labels.append((self.module_label(ctx["who"], part.kind, part.kind_base + k),
                                min(2 * k, part.size), False))

    def make_field(self, rng, part, mp, ctx, out_off):
        """Chooses one relocated field: (mode, index, contents, big-endian)."""
        syms, own = ctx["sym_index"], ctx["own_parts"]
        refs = ctx["refs"]
        pick_ref = lambda: syms[refs[rng.below(len(refs))]]
        recent = [s for s in part.labels if 0 <= out_off + 2 - s[1] <= 120] if part.labels else []

        if mp.xgate:
            c = rng.below(8)
            if c == 0 and recent:
                return (R_SYM | R_PCR, syms[recent[-1][0]], 0x2000, True)        # 9-bit branch
            if c == 1:
                return (R_SYM | R_LINEAR, pick_ref(), 0x3C00, True)               # 10-bit branch
            if c == 2:
                return (R_PCR, part.index, 0x2000 | (out_off >> 1), True)
            if c == 3:
                return (R_LINEAR, part.index, 0x3C00, True)
            if c == 4:
                return (R_PAGE | R_SYM | R_BYTE, syms[ctx["zp"]], 0, False)      # high byte
            if c == 5:
                return (R_SYM | R_BYTE, pick_ref(), 0, False)
            if c == 6:
                return (R_SYM, pick_ref(), 0, False)
            return (0, part.index, out_off, False)

        unpaged = part.kind in ("text", "const", "idata")
        if part.kind in ("const", "idata", "far"):
            c = rng.below(5)
            if c == 0:
                return (R_SYM, pick_ref(), 0, False)
            if c == 1:
                return (R_SYM | R_LINEAR, pick_ref(), 0, True)
            if c == 2:
                return (R_SYM | R_LINEAR | R_BYTE, pick_ref(), 0, True)
            if c == 3:
                return (R_SYM | R_PAGED, pick_ref(), 0, True)
            other = own[rng.below(len(own))]
            return (0, other.index, 0, other.kind == "bank")

        c = rng.below(16)
        if c == 0:
            return (R_SYM, pick_ref(), 0, False)
        if c == 1:
            return (R_SYM | R_BYTE, pick_ref(), 0, False)
        if c == 2:
            return (R_USGN | R_SYM | R_BYTE, syms[ctx["io"]], rng.below(8), False)
        if c == 3:
            return (R_PAGE | R_USGN | R_SYM | R_BYTE, syms[ctx["zp"]], rng.below(3), False)
        if c == 4:
            return (R_PAGE | R_SYM, pick_ref(), 0, False)
        if c == 5 and recent:
            return (R_PCR | R_SYM | R_BYTE, syms[recent[-1][0]], rng.below(4), False)
        if c == 6 and unpaged:
            target = max(0, out_off + 1 - rng.below(120))
            return (R_PCR | R_BYTE, part.index, target, False)
        if c == 7:
            return (R_PCR | R_SYM, pick_ref(), 0, False)
        if c == 8 and unpaged:
            return (R_PCR, part.index, rng.below(max(1, part.nrec * 8)), False)
        if c == 9:
            return (R_PAGED | R_SYM, pick_ref(), 0, True)
        if c == 10:
            return (R_PAGED | R_SYM | R_BYTE, pick_ref(), 0, True)
        if c == 11:
            banks = [q for q in own if q.kind == "bank"]
            if banks:
                q = banks[rng.below(len(banks))]
                return (R_PAGED | (R_BYTE if rng.chance(0.5) else 0), q.index, rng.below(q.nrec * 8 + 1), True)
        if c == 12:
            return (R_LINEAR | R_SYM, pick_ref(), 0, True)
        if c == 13:
            return (R_LINEAR | R_SYM | R_BYTE, pick_ref(), 0, True)
        if c == 14:
            banks = [q for q in own if q.kind == "bank"]
            if banks:                                   # a plain word to a banked part goes paged
                q = banks[rng.below(len(banks))]
                return (0, q.index, 0, True)
        other = own[rng.below(len(own))]
        return (R_BYTE if rng.chance(0.3) else 0, other.index, rng.below(16), other.kind == "bank")

    # ---- one module ----

    def module_text(self, who, mp, rng, name, path, extra_refs):
        p = self.p
        parts = mp.parts
        per_kind = {}
        for n, part in enumerate(parts):
            part.index = n
            part.kind_base = per_kind.get(part.kind, 0)
            per_kind[part.kind] = part.kind_base + part.nlabels
        refs = self.references(rng, who, max(1, p["symbols"] // 2), extra_refs)
        # Symbol numbers: each part's labels after its A line, references last.
        nlabels = sum(q.nlabels for q in parts)
        sym_index = {}
        base = 0
        for part in parts:
            part.sym_base = base
            base += part.nlabels
        label_names = []
        for part in parts:
            for k in range(part.nlabels):
                nm = self.module_label(who, part.kind, part.kind_base + k)
                sym_index[nm] = part.sym_base + k
                label_names.append(nm)
        for k, nm in enumerate(refs):
            sym_index[nm] = nlabels + k
        ctx = dict(who=who, sym_index=sym_index, refs=refs,
                   own_parts=[q for q in parts if q.kind in ("text", "const", "ram", "bank", "idata", "xtext")],
                   zp=next(n for n in refs if n.startswith("_zp_")),
                   io=next(n for n in refs if n.startswith("_io_")))
        for part in parts:
            self.build_part(rng, part, mp, ctx)
            if part.kind == "idata":        # data mirrors idata byte for byte
                for q in parts:
                    if q.kind == "data":
                        q.size = part.size

        rx = RADIXES[mp.radix]
        num, byte = rx.num, rx.byte
        out = []
        w = out.append
        w("%s%s%s\n" % (mp.radix, "H" if mp.high_first else "L", " xgate" if mp.xgate else ""))
        w("H %s areas %s global symbols\n" % (num(len(parts)), num(nlabels + len(refs))))
        w("M %s\n" % name)
        w("dXfile %s\n" % path)
        line_no = 10
        for part in parts:
            w("A %s size %s flags %s\n" % (part.area, num(part.size), num(part.flags)))
            for nm, off, hidden in part.labels:
                w("S %s %s%s\n" % (nm, "Dxf" if hidden else "Def", num(off)))
            if part.kind == "ram":
                for nm, off, _ in part.labels:
                    w("dXsym e %s %s I\n" % (nm, num(off)))
                w("dXsym s sv%d %s C\n" % (part.index, num(part.size - 1)))
            if part is parts[0]:
                w("dXstruct 4 s%s\n" % name.replace(".", "_"))
                w("dXfield 0 next pS[s%s]\n" % name.replace(".", "_"))
                w("dXfield 2 value I\n")
            if part.kind in ("text", "bank", "xtext") and part.records:
                line_no = self.debug_functions(w, num, part, line_no)
        for nm in refs:
            w("S %s Ref0000\n" % nm)

        order_hi = mp.high_first
        pair = (lambda v: "%s %s" % (byte[(v >> 8) & 0xFF], byte[v & 0xFF])) if order_hi else \
               (lambda v: "%s %s" % (byte[v & 0xFF], byte[(v >> 8) & 0xFF]))
        zpage = parts[-1]
        # The direct page: this module's (empty) part of zpage, offset 0.
        w("T %s %s %s\n" % (pair(0), pair(zpage.index), pair(0)))
        w("P %s %s %s\n" % (byte[0], byte[0], pair(0)))
        for part in parts:
            area = pair(part.index)
            for off, values, items in part.records:
                w("T %s %s\n" % (pair(off), " ".join([byte[v] for v in values])))
                if items:
                    w("R %s %s %s %s\n" % (byte[0], byte[0], area,
                                          " ".join(["%s %s %s" % (byte[m], byte[pos], pair(ix)) for m, pos, ix in items])))
                else:
                    w("R %s %s %s\n" % (byte[0], byte[0], area))
        return "".join(out)

    def debug_functions(self, w, num, part, line_no):
        """A function per label, one source line per record; a static
        function in every part; a block and a local in each function."""
        recs = part.records
        starts = part.label_recs + [len(recs)]
        for k in range(len(part.label_recs)):
            first, last = starts[k], starts[k + 1]
            nm = part.labels[k][0]
            kind = "e"
            if k == len(part.label_recs) - 1 and last - first >= 2:
                nm, kind = "st%s" % nm, "s"
            off0 = recs[first][0]
            end = recs[last][0] if last < len(recs) else part.size
            w("dXfunc %s %s %s fI\n" % (kind, nm, num(off0)))
            w("dXline %s %s\n" % (num(0xFFFFFFFF), num(off0)))
            w("dXsym l i %s I\n" % num(0xFFFFFFFE))
            for r in range(first, last):
                w("dXline %s %s\n" % (num(line_no), num(recs[r][0])))
                line_no += 1 + (r & 1)
                if r == first + 1:
                    w("dXline %s %s\n" % (num(0xFFFFFFFE), num(recs[r][0])))
            w("dXline 0 %s\n" % num(end))
        return line_no

    # ---- listings ----

    def listing(self, mp, module_name):
        lines = ["                        ; %s\n" % module_name]
        w = lines.append
        for part in mp.parts:
            if not part.records:
                continue
            if part.kind in ("bank", "far"):
                w("                        .area %s (paged)\n" % part.area)
                if part.labels:
                    w("0000                    %s::\n" % part.labels[0][0])
                continue
            w("                        .area %s\n" % part.area)
            labels = {off: nm for nm, off, _ in reversed(part.labels)}
            for off, values, items in part.records:
                if off in labels:
                    w("%04X                    %s::\n" % (off, labels[off]))
                dropped = {pos for m, pos, _ in items if m & R_BYTE}
                code = "".join(["%02X" % v for n, v in enumerate(values) if n + 2 not in dropped])
                w("%04X  %-28s  .byte %d\n" % (off, code, len(values)))
        return "".join(lines)

    # ---- the whole project ----

    def write(self, out_dir):
        p = self.p
        os.makedirs(out_dir, exist_ok=True)
        rng = Rng("gen:%d" % p["seed"])
        objects = ["start.o"]
        self.write_file(out_dir, "start.o", self.start_module(), True)
        self.write_file(out_dir, "start.lis", "                        ; start\n", False)
        for i, mp in enumerate(self.plans):
            extra = []
            if p["libraries"]:
                lib = i % p["libraries"]
                extra.append(self.module_label(("l", lib, (i // p["libraries"]) % self.lib_selected[lib]), "bank", 0))
            name = "m%05d.o" % i
            text = self.module_text(("m", i), mp, rng, "m%05d.c" % i, "src/m%05d.c" % i, extra)
            self.account(mp)
            self.write_file(out_dir, name, text, True)
            self.write_file(out_dir, "m%05d.lis" % i, self.listing(mp, name), False)
            objects.append(name)
        libraries = []
        for lib in range(p["libraries"]):
            chunks = []
            sel = self.lib_selected[lib]
            for m, mp in enumerate(self.lib_plans[lib]):
                extra = []
                if m + 1 < sel:
                    extra.append(self.module_label(("l", lib, m + 1), "bank", 0))
                other = (lib + 1) % p["libraries"]
                if other != lib and m < sel:
                    extra.append(self.module_label(("l", other, m % self.lib_selected[other]), "bank", 0))
                text = self.module_text(("l", lib, m), mp, rng, "l%d_%d.c" % (lib, m),
                                        "lib/l%d_%d.c" % (lib, m), extra)
                if m < sel:
                    self.account(mp)
                chunks.append(".start\n%s.end\n" % text)
            name = "lib%02d.a" % lib
            self.write_file(out_dir, name, "".join(chunks), True)
            libraries.append(name)
        args = ["-R", "-g", "-o", "out/prog"] + self.range_options() + objects + libraries
        with open(os.path.join(out_dir, "link.json"), "w") as f:
            json.dump(dict(params=p, args=args, object_bytes=self.object_bytes,
                           listing_bytes=self.listing_bytes,
                           inputs=objects + libraries + ["start.lis"] +
                           ["m%05d.lis" % i for i in range(p["modules"])]), f, indent=1)
            f.write("\n")
        return args

    def write_file(self, out_dir, name, text, is_object):
        data = text.encode("ascii")
        if is_object:
            self.object_bytes += len(data)
        else:
            self.listing_bytes += len(data)
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)

    def account(self, mp):
        for part in mp.parts:
            if part.kind == "bank":
                a = int(part.area[4:])
                self.bank_size[a] += part.size
                self.bank_max_part[a] = max(self.bank_max_part[a], part.size)
            elif part.kind == "far":
                a = int(part.area[3:])
                self.far_size[a] += part.size
                self.far_max_part[a] = max(self.far_max_part[a], part.size)
            else:
                self.unpaged_size[part.kind] += part.size

    def start_module(self):
        # The debug lines follow the text area's A line: their addresses are
        # offsets in the part of the last A line.
        lines = ["XH\n", "H 2 areas %X global symbols\n" % (1 + 64 + 32), "M start\n",
                 "A text size F flags 0\n", "S __start Def0000\n",
                 "dXfile src/start.s\n", "dXfunc e __start 0 fV\n", "dXline FFFFFFFF 0\n",
                 "dXline 1 0\n", "dXline 2 9\n", "dXline 0 F\n",
                 "A zpage size C0 flags 30\n"]
        lines += ["S _zp_%d Def%04X\n" % (k, 3 * k) for k in range(64)]
        lines += ["S _io_%d Eq %X\n" % (k, 8 * k) for k in range(32)]
        lines += ["T 00 00 CF 3F FF 16 00 00 20 FE 00 00\n", "R 00 00 00 00 02 06 00 00 07 0A 00 00\n",
                  "T 00 09 3D 3D 3D 3D 3D 3D\n", "R 00 00 00 00\n"]
        return "".join(lines)

    @staticmethod
    def place_holes(r, n):
        """n holes of 32 bytes spread over range r, each well inside it and
        away from the ends of the 16 KB pieces the linker cuts it into."""
        holes, last_end = [], r[0]
        for slot in range(n):
            ideal = (r[0] + ((r[1] - r[0]) * (slot + 1)) // (n + 1)) & ~0xF
            for shift in (0, -64, 64, -128, 128, -256, 256, -512, 512):
                at = ideal + shift
                if (at >= last_end + 64 and at + 32 + 64 <= r[1]
                        and 64 <= at % PAGE <= PAGE - 320):
                    break
            else:
                sys.exit("genproject: no room for hole %d in %#x.%#x" % (slot, r[0], r[1]))
            holes.append((at, at + 31))
            last_end = at + 32
        return holes

    def range_options(self):
        """-b ranges for every area, the -roh holes and the -rwh hole."""
        p = self.p
        opts = []
        for name, (flags, (lo, hi), _) in UNPAGED.items():
            opts.append("-b%s:%#x.%#x" % (name, lo, hi))
        nreal = max(1, (p["ranges"] + 1) // 2)
        ntiny = p["ranges"] - nreal
        holes_per_area = [p["holes"] // p["areas"] + (1 if a < p["holes"] % p["areas"] else 0)
                          for a in range(p["areas"])]
        cursor = BANK_BASE
        holes = []
        for a in range(p["areas"]):
            size, mpart = self.bank_size[a], max(64, self.bank_max_part[a])
            nh = holes_per_area[a]
            # Room for the code, for what first fit leaves at the end of
            # every range, page and hole, for the largest part in every
            # range and for 512 bytes around every hole.
            span = max(1024, int(size * 1.02))
            while True:
                crossings = span // PAGE + 2
                want = int(size * 1.02) + (nreal + ntiny + nh + crossings) * (mpart + 96)
                per_range = -(-nh // nreal)
                want = max(want, nreal * max(mpart + 64, (per_range + 1) * 512))
                want = (want + 0xFF) & ~0xFF
                if want <= span:
                    break
                span = want
            lo, hi = cursor, cursor + span - 1
            cursor = hi + 1
            ranges = []
            piece = span // nreal
            for k in range(nreal):
                plo = lo + k * piece
                phi = hi if k == nreal - 1 else plo + piece - 1
                if k < ntiny:
                    ranges.append((plo + 2, plo + 2))
                    plo += 16
                ranges.append((plo, phi))
            real = [r for r in ranges if r[1] > r[0]]
            for k, r in enumerate(real):
                n = nh // len(real) + (1 if k < nh % len(real) else 0)
                holes += self.place_holes(r, n)
            opts.append("-bbank%d%s" % (a, "".join(":%#x.%#x" % r for r in ranges)))
        cursor = (cursor + 0xFFFF) & ~0xFFFF
        for f in range(self.nfar):
            size = self.far_size[f] + 4 * max(64, self.far_max_part[f]) + 0x400
            span = (size + 0xFFF) & ~0xFFF
            opts.append("-bfar%d:%#x.%#x" % (f, cursor, cursor + span - 1))
            cursor = (cursor + span + 0xFFFF) & ~0xFFFF
        if cursor - 1 > LINEAR_TOP:
            sys.exit("genproject: the project does not fit the 24-bit space (ends at %#x)" % cursor)
        if holes:
            holes.sort()
            opts.append("-roh" + "".join(":%#x.%#x" % h for h in holes))
        opts.append("-rwh:%#x.%#x" % RAM_HOLE)
        for name, (flags, (lo, hi), budget) in UNPAGED.items():
            if self.unpaged_size[name] > budget:
                sys.exit("genproject: area %s overfilled" % name)
        return opts


def parameters(size, overrides, seed=None):
    p = dict(SIZES[size])
    for item in overrides or []:
        key, _, value = item.partition("=")
        if key not in p:
            sys.exit("genproject: unknown parameter %s" % key)
        p[key] = int(value, 0)
    if seed is not None:
        p["seed"] = seed
    return p


def generate(p, out_dir):
    g = Generator(p)
    g.plan()
    g.write(out_dir)
    return g


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--size", choices=sorted(SIZES), default="S")
    ap.add_argument("--out", help="project folder (default bench/out/<size>)")
    ap.add_argument("--seed", type=int)
    ap.add_argument("--set", action="append", metavar="NAME=VALUE", help="override one parameter")
    a = ap.parse_args()
    p = parameters(a.size, a.set, a.seed)
    out = a.out or os.path.join(os.path.dirname(os.path.abspath(__file__)), "out", a.size)
    g = generate(p, out)
    print("%s: %d modules, %.1f MB of object text, %.1f MB of listings" %
          (out, p["modules"], g.object_bytes / 1e6, g.listing_bytes / 1e6))


if __name__ == "__main__":
    main()
