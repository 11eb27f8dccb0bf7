#!/usr/bin/env bash
# Builds the fuzz targets in build-fuzz/ and runs them.
#
#   fuzz/run.sh [target|all] [seconds]   fuzz each target in turn (default:
#                                        all, 300 s each), in the background
#                                        of the machine: nice, one job
#   fuzz/run.sh --smoke                  replay each seed corpus and fuzz a
#                                        few seconds from it (for CI); fails
#                                        on any finding
#
# Targets: objects, debug, layout, options, elf (see docs/fuzzing.md). New
# inputs go to build-fuzz/work/<target>/, findings to
# build-fuzz/findings/<target>-*, the log of a long run to
# build-fuzz/work/<target>.log. Set ZELD_FUZZ_RELAX=banner,image to turn off
# the checks of known faults while they are being mended.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build-fuzz"
targets=(objects debug layout options elf)

# libFuzzer comes with clang's runtime libraries.
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq clang libclang-rt-14-dev
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DZELD_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

mkdir -p "$build/work" "$build/findings"
common=(-dict="$root/fuzz/zeld12.dict" -max_len=16384 -timeout=20 -rss_limit_mb=2048)

if [ "${1:-}" = "--smoke" ]; then
  cmake --build "$build" -j2 --target fuzz_harness_test
  "$build/fuzz/fuzz_harness_test" --gtest_brief=1
  for t in "${targets[@]}"; do
    scratch=$(mktemp -d)
    echo "== smoke: $t"
    status=0
    "$build/fuzz/fuzz_$t" "${common[@]}" -max_total_time=5 -seed=1 -print_final_stats=1 \
      -artifact_prefix="$build/findings/$t-" "$scratch" "$root/fuzz/corpus/$t" >"$build/work/$t-smoke.log" 2>&1 ||
      status=$?
    grep -aE "INITED|stat::number_of_executed_units|check failed|SUMMARY" "$build/work/$t-smoke.log" || true
    rm -rf "$scratch"
    [ "$status" -eq 0 ] || { tail -n 40 "$build/work/$t-smoke.log"; echo "fuzz target $t failed (status $status)"; exit 1; }
  done
  exit 0
fi

chosen=("${1:-all}")
[ "${chosen[0]}" = all ] && chosen=("${targets[@]}")
seconds=${2:-300}
for t in "${chosen[@]}"; do
  [ -x "$build/fuzz/fuzz_$t" ] || { echo "no fuzz target '$t' (have: ${targets[*]})"; exit 2; }
  mkdir -p "$build/work/$t"
  echo "== fuzzing $t for $seconds s (log: $build/work/$t.log)"
  (cd "$build/work" && nice -n 10 "$build/fuzz/fuzz_$t" "${common[@]}" -jobs=1 -workers=1 \
    -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/findings/$t-" \
    "$build/work/$t" "$root/fuzz/corpus/$t" >/dev/null 2>&1 && mv fuzz-0.log "$t.log") || true
  [ -f "$build/work/fuzz-0.log" ] && mv "$build/work/fuzz-0.log" "$build/work/$t.log"
  grep -aE "stat::number_of_executed_units|Done [0-9]+ runs|check failed|SUMMARY" "$build/work/$t.log" | tail -n 6 || true
done
ls "$build/findings" 2>/dev/null | sed 's/^/finding: /'
