#!/usr/bin/env bash
# A fresh minimal Debian 12 root (mmdebstrap, variant apt: the essential
# packages and apt, nothing else), in which the checker's Debian package is
# installed the way a device maker's CI installs it.
#
#   scripts/debian12-root.sh path            prints the root's folder; makes it
#                                            first when it is missing or was
#                                            made from another recipe
#   scripts/debian12-root.sh exec CMD ARG... runs CMD (as root) in a throw-away
#                                            copy of the root
#
# The root lives outside the clone, so that every clone, later run and CI on
# this machine reuse it: $MERVO_DEBIAN12_ROOT, else
# /var/cache/mervo/debian12-root (needs root, as mmdebstrap and chroot do).
# Making it takes about two minutes and 250 MB. The archive is the one this
# machine's apt uses (scripts/apt-archive.sh). The root keeps its package
# lists and, in apt's cache, the packages of $DOWNLOAD (downloaded, not
# installed: the libraries that the checker links besides those of apt, and
# the CA bundle it reads by default), so
# that `apt-get install ./x.deb` in it resolves the package's dependencies
# without the network as long as they stay the same.
#
# `exec` runs CMD in a mount namespace of its own, on an overlay whose lower
# layer is the cached root and whose upper layer is a tmpfs: whatever CMD
# installs or writes in the root is gone when it ends, and the cached root
# stays fresh. /proc, /dev and the folders of $MERVO_DEBIAN12_BINDS
# (blank-separated; a folder with the suffix :rw is writable, the others are
# read-only) are bound at the same paths.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CACHE_ROOT=${MERVO_DEBIAN12_ROOT:-/var/cache/mervo/debian12-root}
SUITE=bookworm
VARIANT=apt
DOWNLOAD="libssl3 ca-certificates"
# Everything the root is made from; its hash is kept in the root and a
# change of any of it makes the root again.
RECIPE_VERSION=2

die() { echo "debian12-root: $*" >&2; exit 1; }

# shellcheck source=scripts/apt-archive.sh
. "$ROOT/scripts/apt-archive.sh"

recipe_hash() {
  echo "$RECIPE_VERSION $SUITE $VARIANT $DOWNLOAD $1" | sha256sum | cut -d' ' -f1
}

# The root in $2/root (about a minute).
build_root() {
  local uri=$1 work=$2
  mmdebstrap --quiet --mode=root --variant="$VARIANT" --architectures="$(dpkg --print-architecture)" \
    --skip=cleanup/apt \
    --customize-hook="chroot \"\$1\" sh -c 'apt-get clean && apt-get install --download-only -y -q $DOWNLOAD'" \
    "$SUITE" "$work/root" "$uri" >&2
  [ -x "$work/root/usr/bin/apt-get" ] || die "the root has no apt-get"
}

# Makes the root when missing or stale; one maker at a time (others wait).
ensure_root() {
  [ "$(id -u)" -eq 0 ] || die "needs root (mmdebstrap, chroot)"
  command -v mmdebstrap >/dev/null || die "needs mmdebstrap (Debian package mmdebstrap)"
  ensure_cached_root debian12-root
}

# Inside the new mount namespace: the overlay, binds, then chroot.
enter() {
  local lower=$1
  shift
  mount --make-rprivate /
  # One folder for every run: each mounts its own tmpfs there, seen only in
  # its own namespace.
  local layers=$lower.overlay
  mkdir -p "$layers"
  mount -t tmpfs -o mode=0755 tmpfs "$layers"
  mkdir "$layers/upper" "$layers/work" "$layers/root"
  mount -t overlay overlay -o "lowerdir=$lower,upperdir=$layers/upper,workdir=$layers/work" "$layers/root"
  local root=$layers/root
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  local entry folder
  for entry in $MERVO_DEBIAN12_BIND_LIST; do
    folder=${entry%:rw}
    [ -d "$folder" ] || die "no folder $folder to bind"
    mkdir -p "$root$folder"
    mount --bind "$folder" "$root$folder"
    if [ "$entry" = "$folder" ]; then mount -o remount,bind,ro "$root$folder"; fi
  done
  exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

action=${1:-}
case $action in
  path)
    ensure_root
    echo "$CACHE_ROOT"
    ;;
  exec)
    shift
    [ $# -gt 0 ] || die "usage: debian12-root.sh exec CMD ARG..."
    ensure_root
    export MERVO_DEBIAN12_BIND_LIST="${MERVO_DEBIAN12_BINDS:-}"
    exec unshare --mount --propagation private -- "$0" __enter "$CACHE_ROOT" "$@"
    ;;
  __enter)
    shift
    enter "$@"
    ;;
  *)
    echo "usage: debian12-root.sh path | exec CMD ARG..." >&2
    exit 2
    ;;
esac
