#!/usr/bin/env bash
# Links the example firmware in examples/s12x-firmware and shows what the
# link made:
#   examples/link-example.sh <path to zeld12> [output folder]
# The output folder defaults to build-example/ at the top of the checkout.
# The first link writes the S-record image, the map, the absolute listing
# and the debug-information file; the second, with -fcoff, adds the COFF
# file for the debugger (and writes the same map, listing and .dbg again).
set -euo pipefail
linker=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
out=${2:-$here/../build-example}
mkdir -p "$out"
out=$(cd "$out" && pwd)
cd "$here/s12x-firmware"
modules=(main.o led.o timer.o blink.o vectors.o io.o)
rm -f "$out"/firmware.*
set -x
"$linker" @firmware.lnk --print-memory-usage -o "$out/firmware" "${modules[@]}"
"$linker" @firmware.lnk -fcoff -o "$out/firmware" "${modules[@]}"
{ set +x; } 2>/dev/null
echo "Files made in $out:"
(cd "$out" && ls firmware.*)
