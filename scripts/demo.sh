#!/usr/bin/env bash
# Runs the loader the way a player meets it, under Wine on a private virtual display, against a
# local download site built with loaderkit, and saves screenshots to demo-output/ (or $1).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-demo-output}")
scripts/setup.sh
cmake --preset native >/dev/null && cmake --build --preset native --target loaderkit
cmake --preset win64 >/dev/null && cmake --build --preset win64 --target loader robot fake_installer
read -r display xvfb_pid < <(tests/support/xvfb.sh start)
export DISPLAY=$display
trap 'tests/support/xvfb.sh stop "$xvfb_pid"' EXIT
python3 scripts/demo.py "$out"
