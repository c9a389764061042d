#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing the loader.
# Fast when everything is present: it asks dpkg once and calls apt only for the missing packages.
# A package index that cannot be fetched is a warning, not an end: the set-up goes on with the
# lists it has. 32-bit Wine is installed in a step of its own; where it cannot be had, the set-up
# says why in one line, leaves the reason in build/wine32-missing.txt for the test command and
# the demo, and they run the x86_64 build alone. The next run tries again.
set -euo pipefail
cd "$(dirname "$0")/.."
# The test command and the benchmark set up once, then run scripts that would call this again.
[ "${LOADER_SETUP_DONE:-}" = 1 ] && exit 0
packages=(
  cmake ninja-build g++ python3 libgtest-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 xvfb x11-utils imagemagick
  googletest clang-14 libclang-rt-14-dev osslsigncode openssl
  fonts-dejavu-core fonts-wqy-microhei locales procps
  nginx fcgiwrap apache2-utils curl libfcgi-dev dpkg-dev lintian systemd man-db
  systemd-container debootstrap libsqlite3-dev sqlite3 chromium
  libpq-dev postgresql
)
# --package: only what scripts/package.sh needs to build the kit's Debian package (no Wine, no
# display, no cross compilers).
kit_only=0
if [ "${1:-}" = --package ]; then
  kit_only=1
  packages=(cmake ninja-build g++ python3 libgtest-dev libfcgi-dev libsqlite3-dev libpq-dev dpkg-dev file)
fi
why_file=build/wine32-missing.txt
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
export DEBIAN_FRONTEND=noninteractive

# Prints the packages of "$@" that dpkg does not list as installed, one query for all of them.
missing_of() {
  local installed
  installed=$(dpkg-query -W -f='${Package}:${Architecture} ${Status}\n' "$@" 2>/dev/null | \
    awk '/install ok installed$/ { print $1 }') || true
  local p name arch
  for p in "$@"; do
    name=${p%%:*}; arch=${p#*:}; [ "$arch" = "$p" ] && arch=""
    if [ -n "$arch" ]; then
      grep -qx "$name:$arch" <<<"$installed" || echo "$p"
    else
      grep -q "^$name:" <<<"$installed" || echo "$p"
    fi
  done
}

# apt-get update, retried; an index that still fails is named in one warning line each, and the
# set-up goes on with the lists it has (apt exits 100 when a single index fails). An update that
# fails for another reason (the lock held by another apt, a signature) is one line in apt's words.
updated=0 failed_indexes=""
update_lists() {
  [ "$updated" = 1 ] && return 0
  updated=1
  local try out=""
  for try in 1 2 3; do
    if out=$($sudo_cmd apt-get update -qq -o Acquire::Retries=3 2>&1); then return 0; fi
    [ "$try" -lt 3 ] && sleep "${SETUP_RETRY_PAUSE:-2}"
  done
  failed_indexes=$(grep -o 'Failed to fetch [^ ]*' <<<"$out" | sed 's/Failed to fetch //' | sort -u || true)
  if [ -n "$failed_indexes" ]; then
    while read -r index; do echo "setup: warning: package index not fetched, going on without it: $index"; done <<<"$failed_indexes"
  else
    echo "setup: warning: apt-get update failed, going on with the lists it has: $(grep -m1 -E '^(E|W):' <<<"$out" || tail -n1 <<<"$out")"
  fi
}

# Installing nginx would start a system-wide server on port 80 where no systemd runs; the project
# starts its own on 127.0.0.1 (scripts/serve.sh), so service starts are refused while installing.
policy=${SETUP_POLICY_RC_D:-/usr/sbin/policy-rc.d}
refuse_service_starts() {
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo_cmd tee "$policy" >/dev/null
    $sudo_cmd chmod 755 "$policy"
    trap '$sudo_cmd rm -f "$policy"' EXIT
  fi
}

# apt-get install of "$@" (options first), never removing a package to make room; the output
# (both streams) is left in $out.
apt_install() {
  out=$($sudo_cmd apt-get install -y -q --no-install-recommends --no-remove "$@" 2>&1)
}

mapfile -t missing < <(missing_of "${packages[@]}")
# 32-bit Wine runs the shipping i686 build, where this kernel can execute 32-bit programs.
mkdir -p build
want32=0 added_i386=0
if [ "$kit_only" = 1 ]; then
  :
elif why=$(scripts/probe-32bit.sh); then
  if [ -n "$(missing_of wine32:i386)" ]; then
    want32=1
  else
    rm -f "$why_file"
  fi
else
  echo "setup: no 32-bit Wine: $why; only the x86_64 build will run"
fi
if [ ${#missing[@]} -gt 0 ] || [ "$want32" = 1 ]; then
  refuse_service_starts
  if [ "$want32" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    # Before the first update, so that apt sees both architectures of every suite at once.
    $sudo_cmd dpkg --add-architecture i386
    added_i386=1
  fi
  update_lists
fi

# Where nothing i386 got installed, the architecture added for it goes again: left behind, it would
# make every later apt-get update on this machine fetch, and fail on, the i386 indexes.
forget_i386() {
  if [ "$added_i386" = 1 ]; then
    $sudo_cmd dpkg --remove-architecture i386 || echo "setup: warning: could not remove the i386 architecture again"
  fi
}

# Everything in one step where 32-bit Wine is wanted: wine32's libraries must be the very versions
# of their amd64 twins, which apt can promise only when it chooses both together.
together=0
if [ "$want32" = 1 ]; then
  release=()
  if grep -q 'binary-i386' <<<"$failed_indexes"; then
    # A suite without its i386 index would give amd64 versions that have no i386 twins.
    release=(-o APT::Default-Release=bookworm)
    echo "setup: an i386 package index is missing: taking both architectures from bookworm over its" \
         "updates and security archives; 'apt-get upgrade' takes the security updates once the registry is whole"
  fi
  echo "setup: installing ${missing[*]} wine32:i386"
  if apt_install "${release[@]}" "${missing[@]}" wine32:i386; then
    together=1 missing=()
    rm -f "$why_file"
  fi
fi

# Otherwise, or where that failed, the 64-bit set in one step; the set-up cannot go on without it.
if [ ${#missing[@]} -gt 0 ]; then
  [ "$want32" = 1 ] || echo "setup: installing ${missing[*]}"
  if ! apt_install "${missing[@]}"; then
    grep -E '^(E|W):|broken|Depends:' <<<"$out" >&2 || echo "$out" >&2
    echo "setup: could not install ${missing[*]}" >&2
    forget_i386
    exit 1
  fi
fi
# Then 32-bit Wine in a step of its own; where it cannot be had, the x86_64 build runs alone.
if [ "$want32" = 1 ] && [ "$together" = 0 ]; then
  if apt_install wine32:i386; then
    rm -f "$why_file"
  else
    reason=$(grep -m1 -E '^E:' <<<"$out" | sed 's/^E: //' || true)
    unmet=$(grep -m1 -E 'Depends:' <<<"$out" | sed 's/^ *//; s/  */ /g' || true)
    [ -n "$unmet" ] && reason="$reason (first unmet: $unmet)"
    echo "32-bit Wine could not be installed: ${reason:-apt-get failed}" > "$why_file"
    echo "setup: no 32-bit Wine: apt-get: ${reason:-apt-get failed}; only the x86_64 build will run"
    forget_i386
  fi
fi

# Wine takes the system language from LANG only when that locale exists on the machine.
[ "$kit_only" = 0 ] || exit 0
have_locales=$(locale -a 2>/dev/null || true)
for l in en_US de_DE ja_JP zh_TW zh_CN da_DK ar_SA he_IL ru_RU el_GR ko_KR; do
  grep -qi "^$l.utf-\?8$" <<<"$have_locales" || $sudo_cmd localedef -i "$l" -f UTF-8 "$l.UTF-8" 2>/dev/null || \
    echo "setup: could not generate locale $l.UTF-8" >&2
done
