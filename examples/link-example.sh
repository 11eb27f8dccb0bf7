#!/usr/bin/env bash
# Links the example program in examples/blinky and shows what the link made.
#   examples/link-example.sh <path to zeld12> [output folder]
set -euo pipefail
linker=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
out=${2:-$here/../build/example}
mkdir -p "$out"
out=$(cd "$out" && pwd)
cd "$here/blinky"
set -x
"$linker" -R -btext:0xC000.0xFFFF -bbss:0x1000.0x3FFF -d__stack_top=0x4000 \
  -o "$out/blinky" crt.o main.o delay.o vectors.o
{ set +x; } 2>/dev/null
for f in "$out"/blinky.*; do
  echo "== $f"
  cat "$f"
done
