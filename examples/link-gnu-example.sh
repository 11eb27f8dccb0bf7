#!/usr/bin/env bash
# Links the example firmware with its LED driver written in GNU assembly:
#   examples/link-gnu-example.sh <path to zeld12> [output folder]
# examples/gnu-mixed/led.o is the ELF object that m68hc11-as makes from
# led.s (it is assembled again when binutils-m68hc1x is installed); the
# other modules, the startup object and the library are the text objects of
# examples/s12x-firmware. The image is the same as that of link-example.sh.
set -euo pipefail
linker=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
out=${2:-$here/../build-example}
mkdir -p "$out"
out=$(cd "$out" && pwd)
led="$here/gnu-mixed/led.o"
if command -v m68hc11-as >/dev/null; then
  led="$out/led.o"
  (set -x; m68hc11-as -mm9s12x -o "$led" "$here/gnu-mixed/led.s")
fi
cd "$here/s12x-firmware"
rm -f "$out"/firmware-gnu.*
set -x
"$linker" @firmware.lnk -o "$out/firmware-gnu" main.o "$led" timer.o blink.o vectors.o io.o
