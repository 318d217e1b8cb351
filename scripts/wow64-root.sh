#!/usr/bin/env bash
# A Debian 13 root with 64-bit Wine 10 and the 32-bit PE DLLs of its
# libwine:i386, in which 32-bit Windows programs run inside a 64-bit Wine
# process (WoW64). This machine's own Wine cannot run them (its 32-bit
# processes cannot show a box with a tab in its text, and the kernel runs no
# 32-bit Linux programs at all).
#
#   scripts/wow64-root.sh path            prints the root's folder; makes it
#                                         first when it is missing or was made
#                                         from another recipe
#   scripts/wow64-root.sh exec CMD ARG... runs CMD inside the root (as root;
#                                         made first as above)
#
# The root lives outside the clone, so that every clone, later run and CI on
# this machine reuse it: $MERVO_WOW64_ROOT, else /var/cache/mervo/wow64-root
# (the cache folder needs root, and so do mmdebstrap and chroot). Making it
# takes about 80 s and 1.9 GB. The archive is the one this machine's apt
# uses, read from its sources at run time.
#
# `exec` runs CMD in a mount namespace of its own: /proc, /sys (read-only),
# /dev, /dev/pts, a tmpfs on /dev/shm, /tmp/.X11-unix, the repository, the
# shared test data beside it (../shared) and the folders in
# $MERVO_WOW64_BINDS (blank-separated) are bound into the root at
# the same paths (so a Windows program's Z:\ paths are the same inside).
# Those mounts exist only in that namespace and end with its last process
# (the persistent wineserver of a test environment, say): nothing is ever
# mounted on the host's view of the root or of a build tree, so no failure
# can leave a mount behind, and no `rm -rf` can descend through one.
#
# Wine in the root: /usr/lib/wine/wine64 and /usr/lib/wine/wineserver64 (see
# tests/e2e/wine-env.sh, which uses this with MERVO_WINE=wow64).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CACHE_ROOT=${MERVO_WOW64_ROOT:-/var/cache/mervo/wow64-root}
SUITE=trixie

# Everything the root is made from; its hash is kept in the root and a
# change of any of it makes the root again.
INCLUDE=wine64,libwine,fonts-wine,xvfb,libxcursor1,libxi6,libxrandr2,libxrender1,libxinerama1,libxcomposite1,libxfixes3,libxext6,procps
I386_PACKAGE=libwine:i386
PE_FROM=usr/lib/i386-linux-gnu/wine/i386-windows
PE_TO=usr/lib/x86_64-linux-gnu/wine/i386-windows
RECIPE_VERSION=1

die() { echo "wow64-root: $*" >&2; exit 1; }

# shellcheck source=scripts/apt-archive.sh
. "$ROOT/scripts/apt-archive.sh"

recipe_hash() {
  { echo "$RECIPE_VERSION $SUITE $INCLUDE $I386_PACKAGE $PE_FROM $PE_TO $1"; } | sha256sum | cut -d' ' -f1
}

# Downloads libwine:i386 of the suite (never installed) with an apt of its
# own (own state, cache and sources; the host's dpkg architectures stay as
# they are) and unpacks it into $2.
fetch_i386_dlls() {
  local uri=$1 into=$2 work=$3
  mkdir -p "$work/state/lists/partial" "$work/cache/archives/partial" "$work/etc/parts" "$work/debs"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri $SUITE main" \
    >"$work/etc/sources.list"
  cat >"$work/apt.conf" <<EOF
Dir::State "$work/state";
Dir::State::status "$work/state/status";
Dir::Cache "$work/cache";
Dir::Etc::SourceList "$work/etc/sources.list";
Dir::Etc::SourceParts "$work/etc/parts";
Dir::Etc::Preferences "$work/etc/preferences";
Dir::Etc::PreferencesParts "$work/etc/parts";
APT::Sandbox::User "root";
APT::Architecture "amd64";
APT::Architectures { "amd64"; "i386"; };
EOF
  : >"$work/state/status"
  APT_CONFIG=$work/apt.conf apt-get update -q >"$work/update.log" 2>&1 ||
    { cat "$work/update.log" >&2; die "apt-get update for $SUITE failed"; }
  (cd "$work/debs" && APT_CONFIG=$work/apt.conf apt-get download -q "$I386_PACKAGE") ||
    die "cannot download $I386_PACKAGE"
  local deb
  for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$into"; done
  [ -d "$into/$PE_FROM" ] || die "$I386_PACKAGE holds no $PE_FROM"
}

# The root in $2/root (about 80 s).
build_root() {
  local uri=$1 work=$2
  fetch_i386_dlls "$uri" "$work/i386" "$work/apt"
  mmdebstrap --quiet --mode=root --variant=apt --architectures=amd64 \
    --include="$INCLUDE" \
    --customize-hook="mkdir -p \"\$1/$PE_TO\" && cp -a \"$work/i386/$PE_FROM/.\" \"\$1/$PE_TO/\"" \
    "$SUITE" "$work/root" "$uri" >&2
  [ -x "$work/root/usr/lib/wine/wine64" ] || die "the root has no /usr/lib/wine/wine64"
}

# Makes the root when missing or stale; one maker at a time (others wait).
ensure_root() {
  [ "$(id -u)" -eq 0 ] || die "needs root (mmdebstrap, chroot)"
  ensure_cached_root wow64-root
}

# Inside the new mount namespace: binds, then chroot.
enter() {
  local root=$1
  shift
  mount --make-rprivate /
  mount -t proc proc "$root/proc"
  mount --bind /sys "$root/sys"
  mount -o remount,bind,ro "$root/sys"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
  mkdir -p /tmp/.X11-unix "$root/tmp/.X11-unix"
  mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
  local folder
  for folder in $MERVO_WOW64_BIND_LIST; do
    [ -d "$folder" ] || continue
    mkdir -p "$root$folder"
    mount --bind "$folder" "$root$folder"
  done
  # The same working folder inside when it is bound there, else /.
  exec chroot "$root" /bin/sh -c 'cd "$1" 2>/dev/null || cd /; shift; exec "$@"' sh "$PWD" "$@"
}

action=${1:-}
case $action in
  path)
    ensure_root
    echo "$CACHE_ROOT"
    ;;
  exec)
    shift
    [ $# -gt 0 ] || die "usage: wow64-root.sh exec CMD ARG..."
    ensure_root
    export MERVO_WOW64_BIND_LIST="$ROOT $(dirname "$ROOT")/shared ${MERVO_WOW64_BINDS:-}"
    exec unshare --mount --propagation private -- "$0" __enter "$CACHE_ROOT" "$@"
    ;;
  __enter)
    shift
    enter "$@"
    ;;
  *)
    echo "usage: wow64-root.sh path | exec CMD ARG..." >&2
    exit 2
    ;;
esac
