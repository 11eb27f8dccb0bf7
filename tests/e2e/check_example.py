#!/usr/bin/env python3
"""Links the example firmware the way README does and reads the image back.

  check_example.py <zeld12 binary> <examples/link-example.sh> <srec_cat>

The links must succeed without an error report and leave the image, map,
listing, debug and COFF files. The S-record image is read back with
srec_cat, which also refuses two different bytes at one address, and every
reference of the firmware is checked against the addresses the map gives:
the vectors, the start-up code, the calls between the modules (word, direct
page byte, PC-relative and paged), the far code in its page, the library
members selected and those left out, and the initial value of the data.
"""
import os
import re
import subprocess
import sys
import tempfile


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def read_map_symbols(text):
    """Symbol name -> address; page:window entries of extended code pages
    give (page, window)."""
    symbols = {}
    for m in re.finditer(r"^\s+([0-9A-F]+)(?::([0-9A-F]{4}))?\s+(\S+)$", text, re.M):
        if m.group(2):
            symbols[m.group(3)] = (int(m.group(1), 16), int(m.group(2), 16))
        else:
            symbols[m.group(3)] = int(m.group(1), 16)
    return symbols


def area_starts(text):
    return {m.group(1): int(m.group(2), 16)
            for m in re.finditer(r"^\s+(\w+)\s+([0-9A-F]{4,6})\s+[0-9A-F]{4} =", text, re.M)}


def read_image(srec_cat, path):
    """Address -> byte, through srec_cat's hex dump of the whole file."""
    run = subprocess.run([srec_cat, path, "-o", "-", "-hex_dump"], capture_output=True, text=True)
    check(run.returncode == 0, f"srec_cat refused the image:\n{run.stderr}")
    image = {}
    for line in run.stdout.splitlines():
        m = re.match(r"^([0-9A-F]{8}):((?: [0-9A-F]{2})+)", line)
        if m:
            address = int(m.group(1), 16)
            for i, byte in enumerate(m.group(2).split()):
                image[address + i] = int(byte, 16)
    return image


def main():
    zeld12, script, srec_cat = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as out:
        env = dict(os.environ, SOURCE_DATE_EPOCH="0", TZ="UTC")
        run = subprocess.run(["bash", script, zeld12, out], capture_output=True, text=True, env=env)
        output = run.stdout + run.stderr
        check(run.returncode == 0, f"link-example.sh ended with {run.returncode}:\n{output}")
        check("!E" not in output and "!X" not in output, f"the link reported an error:\n{output}")
        check(output.count("Device 1% full.") == 2, f"expected two device usage lines:\n{output}")
        base = os.path.join(out, "firmware")
        for ext in ("s19", "mp", "lst", "dbg", "cof"):
            check(os.path.isfile(f"{base}.{ext}"), f"firmware.{ext} was not made")

        with open(f"{base}.mp") as f:
            map_text = f.read()
        sym = read_map_symbols(map_text)
        areas = area_starts(map_text)
        image = read_image(srec_cat, f"{base}.s19")

        # S12X global addresses: CPU 0x4000-0xFFFF is 0x7F4000-0x7FFFFF, and
        # flash page p starts at 0x400000 + p * 16 KB.
        def cpu(address, count):
            return [image.get(0x7F0000 + address + i) for i in range(count)]

        def word(value):
            return [value >> 8, value & 0xFF]

        # Vectors: real-time interrupt, four unused ones, three resets.
        vectors = cpu(0xFFF0, 16)
        expected = word(sym["_rti_isr"]) + word(sym["_unused_isr"]) * 4 + word(sym["__start"]) * 3
        check(vectors == expected, f"vectors {vectors} != {expected}")

        # Start-up: stack, idata, data and bss starts, then jsr _main.
        start = sym["__start"]
        check(cpu(start, 9) == [0xCF] + word(sym["__stack_end"]) + [0xCE] + word(areas["idata"])
              + [0xCD] + word(areas["data"]), f"start-up code {cpu(start, 9)}")
        check(cpu(start + 0x20, 3) == [0x16] + word(sym["_main"]), "jsr _main")

        # main: direct page bytes, jsr, bsr, call with page, jsr into the library.
        main_ = sym["_main"]
        check(cpu(main_ + 2, 4) == [0x5A, sym["_DDRA"], 0x5A, sym["_DDRB"]], "staa to the direct page")
        check(cpu(main_ + 6, 3) == [0x16] + word(sym["_timer_init"]), "jsr _timer_init")
        bsr = cpu(main_ + 0x0B, 2)
        check(bsr[0] == 0x07 and (main_ + 0x0D + (bsr[1] ^ 0x80) - 0x80) == sym["_led_toggle"],
              f"bsr _led_toggle {bsr}")
        page, window = sym["_blink_step"]
        check(cpu(main_ + 0x0D, 4) == [0x4A] + word(window) + [page], "call _blink_step,page")
        check(cpu(main_ + 0x14, 3) == [0x16] + word(sym["_delay_ms"]), "jsr _delay_ms")

        # The far function, at the global address of its page and window.
        far = 0x400000 | (page << 14) | (window & 0x3FFF)
        check([image.get(far + i) for i in range(4)] == [0xB6] + word(sym["_pattern"]) + [0x5A],
              "far code in its page")

        # Library: delay calls spin; memset and strlen stay out.
        check(cpu(sym["_delay_ms"] + 8, 3) == [0x16] + word(sym["_spin"]), "jsr _spin")
        check("_memset" not in sym and "_strlen" not in sym, "an unused library member was linked")
        check("<library>\t[ delay, spin ]" in map_text, "library members in the map")

        # Initial value of pattern in idata, copied to data at start-up.
        check(cpu(areas["idata"], 1) == [0x01] and areas["data"] == sym["_pattern"], "idata")
        check("timer.c:ticks" in sym, "the static variable's symbol")

        # Start address, listing, debug file and COFF header.
        with open(f"{base}.s19") as f:
            check(f.read().splitlines()[-1].startswith(f"S903{start:04X}"), "S9 start address")
        with open(f"{base}.lst") as f:
            listing = f.read()
        jsr = "16" + "%04X" % sym["_timer_init"]
        check(re.search(r"^ %04X  %s\s+jsr  _timer_init" % (main_ + 6, jsr), listing, re.M),
              "relocated jsr _timer_init in the listing")
        with open(f"{base}.dbg") as f:
            debug = f.read()
        check(f"FUNC blink_step {page:X}{window:04X} fV" in debug, "far function in the debug file")
        with open(f"{base}.cof", "rb") as f:
            head = f.read(64)
        check(head[0:2] == b"\x12\x0a" and int.from_bytes(head[56:60], "little") == start,
              "COFF magic and .text address")
    print("example firmware: linked and read back")


if __name__ == "__main__":
    try:
        main()
    except (Failure, KeyError) as e:
        print(f"FAILED: {e}", file=sys.stderr)
        sys.exit(1)
