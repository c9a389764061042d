#!/usr/bin/env bash
# Runs a command (by default the test command) in a fresh Debian 12 root, the way a newcomer's
# machine would run it: a minimal bookworm from debootstrap, this machine's Debian mirrors for
# bookworm, bookworm-updates and bookworm-security, the project copied in as a source archive
# holds it (no .git, no build), and the command started with a clean environment.
#   usage: scripts/fresh-root.sh [COMMAND...]     (run from the project's copy; default scripts/test.sh)
# What it keeps between runs, in FRESH_ROOT_CACHE (default /var/cache/loader-fresh-root): the
# unpacked base (remade after a week), the package test's container base, and the packages apt
# downloads (the host's apt archive, bound in). Everything else is gone when it ends, however it ends: the root lives in its own
# mount and process namespaces, so its mounts and every process it started (Xvfb, wineserver,
# nginx) end with it, and the root is then removed. Where no root can be made (not root, no
# debootstrap, the registry unreachable), one line says so and the command runs on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
project=$PWD
[ $# -gt 0 ] || set -- scripts/test.sh
cache=${FRESH_ROOT_CACHE:-/var/cache/loader-fresh-root}
started=$(date +%s)

on_host() {
  echo "fresh-root: $1; running $* on this machine instead" >&2
  shift
  exec "$@"
}
# The registry's addresses as this machine's own sources name them (deb822 or one-line lists).
mirror_of() {
  local uri
  uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
        grep -oE "https?://[^ ]*/$1/?( |$)" | head -n1 | tr -d ' ') || true
  echo "${uri:-http://deb.debian.org/$1}"
}

[ "$(id -u)" = 0 ] || on_host "a root can only be made as root" "$@"
if ! command -v debootstrap >/dev/null; then
  # The one package this puts on the machine itself: debootstrap, where it is missing.
  echo "fresh-root: installing debootstrap on this machine"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null 2>&1 ||
    { apt-get update -qq >/dev/null 2>&1 || true
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null 2>&1; } ||
    on_host "debootstrap is not installed and could not be" "$@"
fi
command -v unshare >/dev/null || on_host "unshare (util-linux) is missing" "$@"
debian=$(mirror_of debian)
security=$(mirror_of debian-security)

mkdir -p "$cache"
root=$(mktemp -d "${FRESH_ROOT_DIR:-/var/tmp}/loader-fresh-root.XXXXXX")
cleanup() {
  # The namespaces took the mounts and the processes with them; a mount still found under the
  # root would mean otherwise, and then nothing is removed rather than something of the host.
  if findmnt -rn -o TARGET | grep -q "^$root/"; then
    echo "fresh-root: mounts remain under $root; left in place" >&2
  else
    rm -rf --one-file-system "$root"
  fi
}
trap cleanup EXIT
# A stop or an interrupt still cleans up: the EXIT trap runs only for an exit of bash's own.
trap 'exit 130' INT
trap 'exit 143' TERM

base=$cache/bookworm-minbase.tar
if [ -s "$base" ] && [ -z "$(find "$base" -mtime +7)" ]; then
  tar -xpf "$base" -C "$root"
else
  echo "fresh-root: debootstrap --variant=minbase bookworm from $debian"
  if ! debootstrap --variant=minbase bookworm "$root" "$debian" > "$cache/debootstrap.log" 2>&1; then
    tail -n 3 "$cache/debootstrap.log" >&2
    rm -rf --one-file-system "$root"
    trap - EXIT
    on_host "debootstrap failed (registry unreachable?)" "$@"
  fi
  tar -cpf "$base.new" -C "$root" . && mv "$base.new" "$base"
fi
# It is /, which a Debian machine has at 0755: mktemp's 0700 (kept by the base's archive too)
# would keep every other user from the system's files; a PostgreSQL server run as nobody could
# not load its libraries.
chmod 0755 "$root"
cat > "$root/etc/apt/sources.list" <<EOF
deb $debian bookworm main
deb $debian bookworm-updates main
deb $security bookworm-security main
EOF
cp /etc/resolv.conf /etc/hosts "$root/etc/" 2>/dev/null || true

# The project as a source archive holds it: the files git tracks (and new ones not ignored), or
# everything but the builds where this copy has no git.
mkdir -p "$root/project"
if command -v git >/dev/null && git rev-parse --git-dir >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar -c --null -T - | tar -x -C "$root/project"
else
  tar -c --exclude=./build --exclude=./.git --exclude=./demo-output . | tar -x -C "$root/project"
fi
echo "fresh-root: $root ready after $(( $(date +%s) - started )) s; running $*"

archives=/var/cache/apt/archives
mkdir -p "$archives/partial" "$cache/container" "$root/project/build/container"
inner=$(cat <<'INNER'
set -e
root=$1 archives=$2 cache=$3; shift 3
# The root a mount of its own, as / is on a machine: pivot_root below takes only a mount, and
# systemd-nspawn (the package test's container) makes / a slave mount first.
mount --bind "$root" "$root"
mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys"
mount --rbind /dev "$root/dev"
mount -t tmpfs -o mode=1777 shm "$root/dev/shm"
mount --bind "$archives" "$root/var/cache/apt/archives"
# The package test's container base (a debootstrap of its own), kept like the root's base.
mount --bind "$cache/container" "$root/project/build/container"
# The root becomes the namespace's own / (pivot_root, not chroot), and the host's goes: a
# chrooted process may not make user namespaces, which systemd's PrivateUsers= needs in the
# package test's container, and a machine has no other root above its own.
mkdir -p "$root/.host"
cd "$root"
pivot_root . .host
umount -l /.host
rmdir /.host
set +e
env -i HOME=/root TERM=dumb LANG=C.UTF-8 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  /bin/bash -c 'cd /project && "$@"' fresh-root "$@" </dev/null
INNER
)
set +e
# --kill-child: unshare's end takes the namespace's first process, and with it every other; a
# stop or an interrupt of this script is passed on to unshare before the root is removed.
unshare --mount --pid --fork --kill-child --propagation private /bin/bash -c "$inner" inner "$root" "$archives" "$cache" "$@" &
child=$!
trap 'kill -TERM "$child" 2>/dev/null; wait "$child"; exit 130' INT
trap 'kill -TERM "$child" 2>/dev/null; wait "$child"; exit 143' TERM
wait "$child"
status=$?
set -e
echo "fresh-root: $* exited with $status after $(( $(date +%s) - started )) s in all"
exit "$status"
