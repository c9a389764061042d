#!/usr/bin/env bash
# Runs the loader the way a player meets it, under Wine on a private virtual display, against a
# local download site built with loaderkit, and saves screenshots to demo-output/ (or $1).
# It runs the shipping i686 build under 32-bit Wine where this kernel runs 32-bit programs, the
# x86_64 build under 64-bit Wine otherwise, and says which.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-demo-output}")
scripts/setup.sh
if why=$(scripts/probe-32bit.sh --wine); then
  build=win32
  export LOADER_WINE=/usr/lib/wine/wine
  echo "demo: the shipping i686 loader.exe under 32-bit Wine"
else
  build=win64
  echo "demo: the x86_64 loader.exe under 64-bit Wine (no 32-bit Wine here: $why)"
fi
cmake --preset native >/dev/null && cmake --build --preset native --target loaderkit
cmake --preset "$build" -DLOADER_WIN_TESTS=ON >/dev/null
cmake --build --preset "$build" --target loader robot fake_installer
read -r display xvfb_pid < <(tests/support/xvfb.sh start)
export DISPLAY=$display
trap 'tests/support/xvfb.sh stop "$xvfb_pid"' EXIT
LOADER_BUILD_DIR="$PWD/build/$build" python3 scripts/demo.py "$out"
