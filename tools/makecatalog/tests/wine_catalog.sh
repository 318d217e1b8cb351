#!/usr/bin/env bash
# The example package with a catalog made by the host tree's maker, under
# Wine: Wine's own wintrust reads the catalog and finds every file of the
# package among its members, then the stager stages the package and Wine's
# Setup API files the catalog in its catalog store.
#
# Wine 8's wintrust reads SHA-1 member lists only, and hashes a PE image
# whole where Windows takes its Authenticode image hash, so the catalog is
# made for systems that need SHA-1 members and the package's files are flat
# ones here; the SHA-256 form and the image hashes are held to real catalogs
# and to osslsigncode by the host tests.
#
#   wine_catalog.sh MAKER WINE_ENV STATE MEMBERS_EXE PACKAGE WORK STAGER DEVCTL RUNNER
set -euo pipefail
maker=$1 wine_env=$2 state=$3 members=$4 package=$5 work=$6 stager=$7 devctl=$8 runner=$9

if [ ! -x "$maker" ]; then
  echo "SKIPPED: no catalog maker at $maker (build the host tree first)"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"
cp -r "$package" "$work/package"
# The example INF names no catalog: it names one here.
sed -i 's/^\[Version\]\r$/[Version]\r\nCatalogFile=mervousb.cat\r/' "$work/package/MERVOUSB.inf"
grep -q '^CatalogFile=mervousb.cat' "$work/package/MERVOUSB.inf"
SOURCE_DATE_EPOCH=1704067200 "$maker" "$work/package" MERVOUSB.inf --targets XP_X86,7_X86
files=("$work/package/MERVOUSB.inf" "$work/package/mervousb.sys" "$work/package/mervoser.sys")
"$wine_env" run "$state" "$members" "Z:$work/package/mervousb.cat" "${files[@]/#/Z:}"

cp "$stager" "$work/package/MERVODriverStager.exe"
cp "$devctl" "$work/package/MERVODevCtl.exe"
"$wine_env" run "$state" "$runner" "Z:$work/package/MERVODriverStager.exe" nodisplay
store=$(find "$state/prefix/drive_c/windows/system32/catroot" -name mervousb.cat | head -1)
if [ -n "$store" ] && cmp -s "$store" "$work/package/mervousb.cat"; then
  echo "the catalog store holds the made catalog"
else
  echo "the catalog store does not hold the made catalog (${store:-none})"
  exit 1
fi
