#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing the loader.
# Fast when everything is present: it asks dpkg first and calls apt only for the missing packages.
set -euo pipefail
packages=(
  cmake ninja-build g++ python3
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 xvfb x11-utils imagemagick
  googletest clang-14 libclang-rt-14-dev osslsigncode openssl
  fonts-dejavu-core fonts-wqy-microhei locales
  nginx fcgiwrap apache2-utils curl
)
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
# 32-bit Wine runs the shipping i686 build, where this kernel can execute 32-bit programs.
if why=$("$(dirname "$0")/probe-32bit.sh"); then
  packages+=(wine32:i386)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo_cmd dpkg --add-architecture i386
  fi
else
  echo "setup: no 32-bit Wine: $why; only the x86_64 build will run"
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Installing nginx would start a system-wide server on port 80 where no systemd runs; the
  # project starts its own on 127.0.0.1 (scripts/serve.sh), so service starts are refused for
  # the length of the installation.
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo_cmd tee "$policy" >/dev/null
    $sudo_cmd chmod 755 "$policy"
    trap '$sudo_cmd rm -f "$policy"' EXIT
  fi
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes the system language from LANG only when that locale exists on the machine.
for l in en_US de_DE ja_JP zh_TW zh_CN da_DK ar_SA he_IL ru_RU el_GR ko_KR; do
  locale -a 2>/dev/null | grep -qi "^$l.utf-\?8$" || localedef -i "$l" -f UTF-8 "$l.UTF-8" 2>/dev/null || \
    echo "setup: could not generate locale $l.UTF-8" >&2
done
