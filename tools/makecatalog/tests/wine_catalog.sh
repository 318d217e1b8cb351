#!/usr/bin/env bash
# Makes the SHA-1 catalog of the example package (its INF and two driver
# files) with the host tree's maker, then has Wine's own wintrust read it and
# find every file of the package among its members. Wine 8's wintrust reads
# SHA-1 member lists only, and hashes a PE image whole where Windows takes its
# Authenticode image hash, so the package's files are flat ones here; the
# SHA-256 form and the image hashes are held to real catalogs and to
# osslsigncode by the host tests.
#
#   wine_catalog.sh MAKER WINE_ENV STATE MEMBERS_EXE PACKAGE WORK
set -euo pipefail
maker=$1 wine_env=$2 state=$3 members=$4 package=$5 work=$6

if [ ! -x "$maker" ]; then
  echo "SKIPPED: no catalog maker at $maker (build the host tree first)"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"
cp -r "$package" "$work/package"
files=("$work/package/MERVOUSB.inf" "$work/package/mervousb.sys" "$work/package/mervoser.sys")
SOURCE_DATE_EPOCH=1704067200 "$maker" "$work/package" MERVOUSB.inf --targets XP_X86,7_X86 \
  --output "$work/made.cat"
"$wine_env" run "$state" "$members" "Z:$work/made.cat" "${files[@]/#/Z:}"
