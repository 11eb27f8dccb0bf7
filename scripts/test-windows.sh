#!/usr/bin/env bash
# Builds zeld12 and its tests for Windows with mingw-w64 and runs them under
# Wine: every unit test and every end-to-end case, the cases' runner staying
# on the host. Installs mingw-w64, Wine and the GoogleTest sources from the
# Debian packages when they are missing (as root). Prints one
# "N passed, M failed" line for the unit tests, one for the end-to-end
# suite and one for both; exits non-zero when anything fails or nothing ran.
#
#   scripts/test-windows.sh [build folder]     (default: build-win)
#
# The build folder also holds GoogleTest built for Windows and the Wine
# prefix the tests run in, so the user's own ~/.wine is never touched.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:-$root/build-win}" && cd "${1:-$root/build-win}" && pwd)
jobs=${JOBS:-2}
start=$(date +%s)

# Packages: the posix-thread g++ for 64-bit Windows, 64-bit Wine, and the
# GoogleTest sources to build for the target; cmake, Python and srecord for
# the build and the end-to-end runner on the host.
missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
command -v wine >/dev/null || missing+=(wine wine64)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
command -v cmake >/dev/null || missing+=(cmake)
command -v python3 >/dev/null || missing+=(python3)
command -v srec_info >/dev/null || missing+=(srecord)  # the end-to-end cases read images back
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "test-windows: missing packages ${missing[*]}; install them as root" >&2
    exit 2
  fi
  echo "test-windows: installing ${missing[*]}"
  t0=$(date +%s)
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  echo "test-windows: packages installed in $(( $(date +%s) - t0 )) s"
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
toolchain=$root/cmake/mingw-w64.cmake

# A Wine prefix of our own, without the Mono and Gecko installers (a console
# program needs neither) and without Wine's debug chatter on stderr. One
# persistent server serves every test; it is stopped on the way out.
export WINEPREFIX=$build/wine
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "test-windows: creating the Wine prefix $WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || true
  wineserver --wait
fi
wineserver --persistent=60 2>/dev/null || true  # fails when a server already runs for the prefix
trap 'wineserver --kill >/dev/null 2>&1 || true' EXIT

# GoogleTest for the target, built once from the Debian sources.
gtest=$build/googletest
if [ ! -f "$gtest/install/lib/cmake/GTest/GTestConfig.cmake" ]; then
  cmake -S /usr/src/googletest -B "$gtest/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest/install" "${launcher[@]}" >/dev/null
  cmake --build "$gtest/build" -j"$jobs" >/dev/null
  cmake --install "$gtest/build" >/dev/null
fi

cmake -S "$root" -B "$build/main" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_FIND_ROOT_PATH="$gtest/install" -DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v wine)" "${launcher[@]}" \
  >/dev/null
cmake --build "$build/main" -j"$jobs"

# ctest's closing line "X% tests passed, F tests failed out of T" as
# "P passed, F failed"; no line (no test found) counts as nothing run.
counts() {
  sed -n 's/^[0-9]*% tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\)$/\1 \2/p' "$1" | tail -n 1
}
status=0
total_passed=0
total_failed=0
for group in unit e2e; do
  log=$build/ctest-$group.log
  if [ $group = unit ]; then select=(-E '^e2e'); else select=(-R '^e2e'); fi
  ctest --test-dir "$build/main" -j"$jobs" --output-on-failure "${select[@]}" >"$log" 2>&1 || status=1
  sed -n '/^The following tests FAILED/,$p' "$log"
  read -r failed all <<<"$(counts "$log")" || true
  if [ -z "${all:-}" ] || [ "$all" = 0 ]; then
    echo "test-windows: no $group test ran (see $log)"
    status=1
    failed=0 all=0
  fi
  echo "$group: $((all - failed)) passed, $failed failed"
  total_passed=$((total_passed + all - failed))
  total_failed=$((total_failed + failed))
  [ "$failed" = 0 ] || status=1
done
echo "test-windows: $(( $(date +%s) - start )) s in all, logs in $build"
echo "windows: $total_passed passed, $total_failed failed"
exit $status
