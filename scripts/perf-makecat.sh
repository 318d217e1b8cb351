#!/usr/bin/env bash
# Measures MERVOMakeCatalog on 1 GB of driver files beside sha1sum and
# sha256sum over the same files: 16 files of 64,000,000 bytes (1.024 GB),
# eight PE images (a small DLL with random bytes after its sections, all of
# them in the image hash) and eight flat files, all installed by one INF.
# The maker runs for SHA-1 members (7-x64,10-x64: one hash per file) and for
# SHA-256 members (10-x64,11-x64: SHA-256 and the SHA-1 twin, both from one
# read). Rounds are interleaved, the page cache is warm (one untimed read
# first); the medians of the wall times and the load average are printed.
# The data lies in a temporary folder that is removed at the end. Uses the
# host tree build/host (built if needed).
#
# Usage: scripts/perf-makecat.sh [ROUNDS]   (default 5)
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ROUNDS=${1:-5}
HOST=$ROOT/build/${TREE_PREFIX}host
MAKER=$HOST/tools/makecatalog/MERVOMakeCatalog
DLL=$HOST/tools/packagecheck/pe-samples/sample64.dll
[ -x "$MAKER" ] && [ -f "$DLL" ] || build_host
DATA=$(mktemp -d "${TMPDIR:-/tmp}/mervo-perf-makecat.XXXXXX")
trap 'rm -rf "$DATA"' EXIT

FILES=()
copy_files=""
source_files=""
for i in $(seq -w 1 16); do
  if [ $((10#$i % 2)) -eq 1 ]; then
    name=driver$i.sys
    cp "$DLL" "$DATA/$name"
    head -c $((64000000 - $(stat -c %s "$DLL"))) /dev/urandom >>"$DATA/$name"
  else
    name=firmware$i.bin
    head -c 64000000 /dev/urandom >"$DATA/$name"
  fi
  FILES+=("$DATA/$name")
  copy_files+="$name"$'\r\n'
  source_files+="$name = 1"$'\r\n'
done
cat >"$DATA/bench.inf" <<INF
[Version]
Signature = "\$Windows NT\$"
Class = USBDevice
ClassGuid = {88BAE032-5A81-49f0-BC3D-A4FF138216D6}
Provider = %Maker%
CatalogFile = bench.cat
DriverVer = 01/01/2024,1.0.0.0

[Manufacturer]
%Maker% = Models,NTx86,NTamd64

[Models.NTx86]
%Device% = Install, USB\\VID_1234&PID_5678

[Models.NTamd64]
%Device% = Install, USB\\VID_1234&PID_5678

[Install]
CopyFiles = Drivers

[DestinationDirs]
DefaultDestDir = 12

[Drivers]
${copy_files}
[SourceDisksNames]
1 = %Disk%

[SourceDisksFiles]
${source_files}
[Strings]
Maker = "Bench"
Device = "Bench device"
Disk = "Bench disk"
INF
cat "${FILES[@]}" >/dev/null
"$MAKER" "$DATA" bench.inf --targets 10-x64,11-x64 --time 0 >/dev/null


declare -a sha1form sha256form sha1 sha256
for ((i = 0; i < ROUNDS; i++)); do
  sha1form+=("$(wall "$MAKER" "$DATA" bench.inf --targets 7-x64,10-x64 --time 0)")
  sha256form+=("$(wall "$MAKER" "$DATA" bench.inf --targets 10-x64,11-x64 --time 0)")
  sha1+=("$(wall sha1sum "${FILES[@]}")")
  sha256+=("$(wall sha256sum "${FILES[@]}")")
done

m1=$(median "${sha1form[@]}")
m256=$(median "${sha256form[@]}")
s1=$(median "${sha1[@]}")
s256=$(median "${sha256[@]}")
sum=$(echo "$s1 + $s256" | bc)
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); $ROUNDS rounds; medians of the wall times (s)"
echo "| command | wall time | ratio to sha1sum + sha256sum |"
echo "|---|---|---|"
printf '| MERVOMakeCatalog, SHA-1 members (7-x64,10-x64) | %.2f | %.2f |\n' "$m1" "$(echo "$m1 / $sum" | bc -l)"
printf '| MERVOMakeCatalog, SHA-256 members and SHA-1 twins (10-x64,11-x64) | %.2f | %.2f |\n' "$m256" \
  "$(echo "$m256 / $sum" | bc -l)"
printf '| sha1sum over the 16 files | %.2f | |\n' "$s1"
printf '| sha256sum over the 16 files | %.2f | |\n' "$s256"
printf '| sha1sum + sha256sum | %.2f | 1.00 |\n' "$sum"
