#!/usr/bin/env bash
# Makes the SHA-1 catalog of a real package (a libusb0 driver for x86 and
# x64: its INF and two PE images) with the host tree's maker, then has Wine's
# wintrust read it and find every file of the package among its members.
# Wine's wintrust reads SHA-1 member lists only; the SHA-256 form is held to
# real catalogs and to osslsigncode by the host tests instead.
#
#   wine_catalog.sh MAKER WINE_ENV STATE MEMBERS_EXE SIGNED_PACKAGES WORK
set -euo pipefail
maker=$1 wine_env=$2 state=$3 members=$4 packages=$5 work=$6

if [ ! -x "$maker" ]; then
  echo "SKIPPED: no catalog maker at $maker (build the host tree first)"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"
cp -r "$packages/argyll-libusb0" "$work/package"
SOURCE_DATE_EPOCH=1371940165 "$maker" "$work/package" ArgyllCMS.inf \
  --targets 2000,XP_X86,Server2003_X86,Vista_X86,7_X86,7_X64 --output "$work/made.cat"
"$wine_env" run "$state" "$members" "Z:$work/made.cat" "Z:$work/package/ArgyllCMS.inf" \
  "Z:$work/package/bin/x86/libusb0.sys" "Z:$work/package/bin/amd64/libusb0.sys"
