#!/usr/bin/env bash
# Builds everything and runs every suite: native (ASan+UBSan) and the kit, the fuzz targets
# briefly, the i686 loader.exe check, and the Win32, end-to-end and benchmark-smoke suites of
# the x86_64 build under Wine on a private Xvfb display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
started=$(date +%s)
step() { printf '\n==== %s (%ss)\n' "$1" "$(( $(date +%s) - started ))"; }

step "native: portable code, loaderkit, sanitizers"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

step "fuzz: libFuzzer targets, ${FUZZ_SECONDS:-8} s each"
cmake --preset fuzz -DFUZZ_SECONDS="${FUZZ_SECONDS:-8}" >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz

step "win32: the shipping i686 loader.exe"
cmake --preset win32 >/dev/null
cmake --build --preset win32
ctest --preset win32

step "win64: loader.exe and the Win32 and end-to-end suites under Wine"
cmake --preset win64 >/dev/null
cmake --build --preset win64
read -r display xvfb_pid < <(tests/support/xvfb.sh start)
export DISPLAY=$display
trap 'tests/support/xvfb.sh stop "$xvfb_pid"' EXIT
ctest --preset win64

# 32-bit Wine is used where it exists and can run programs; this kernel family cannot.
if [ -x /usr/lib/wine/wine ] && LOADER_WINE=/usr/lib/wine/wine LOADER_BUILD_DIR="$PWD/build/win32" \
     tests/support/wine-run.sh cmd /c exit 0 >/dev/null 2>&1; then
  step "win32 under 32-bit Wine"
  cmake --preset win32 -DLOADER_WIN_TESTS=ON >/dev/null
  cmake --build --preset win32
  LOADER_WINE=/usr/lib/wine/wine ctest --preset win32
else
  step "no working 32-bit Wine here: the i686 build is built and checked, its suites not run"
fi
step "all suites passed"
