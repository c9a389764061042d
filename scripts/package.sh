#!/usr/bin/env bash
# Builds the kit's Debian package, loaderkit_<version>_amd64.deb, into OUT_DIR (default
# build/package) and prints its path. Install it with: apt-get install ./loaderkit_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/package}")
scripts/setup.sh --package >&2
cmake --preset kit >/dev/null
cmake --build --preset kit --target loaderkit kit_package_files >/dev/null
mkdir -p "$out"
rm -f "$out"/loaderkit_*_amd64.deb
(cd build/kit && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
ls "$out"/loaderkit_*_amd64.deb
