#!/usr/bin/env bash
# Measures MERVOPackageCheck on a large package: the real vendor catalog
# pololu.cat with 16 files of 64,000,000 bytes (1.024 GB) named as its
# members, so that the check hashes every one of them, beside sha256sum and
# sha1sum over the same files (the catalog's members are SHA-1). Rounds are
# interleaved, the page cache is warm (one untimed read first); the medians
# of the wall times are printed. The data lies in a temporary folder that is
# removed at the end. Uses the host tree build/host (built if needed).
#
# Usage: scripts/perf-packagecheck.sh [ROUNDS]   (default 5)
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ROUNDS=${1:-5}
CHECK=$ROOT/build/${TREE_PREFIX}host/tools/packagecheck/MERVOPackageCheck
[ -x "$CHECK" ] || build_host
DATA=$(mktemp -d "${TMPDIR:-/tmp}/mervo-perf-package.XXXXXX")
trap 'rm -rf "$DATA"' EXIT

cp "$ROOT/../shared/signed-packages/pololu-tic/"* "$DATA/"
NAMES=(a-star.inf jrk-g2.inf jrk-g2-serial.inf jrk-g2-bootloader.inf maestro.inf p-star.inf p-star-serial.inf
  pavr2.inf pavr2-serial.inf pavr2-bootloader.inf pgm03a.inf smc.inf smc-g2.inf smc-g2-serial.inf umc.inf
  wixel_serial.inf)
FILES=()
for name in "${NAMES[@]}"; do
  head -c 64000000 /dev/urandom >"$DATA/$name"
  FILES+=("$DATA/$name")
done
cat "${FILES[@]}" >/dev/null


declare -a check sha256 sha1
for ((i = 0; i < ROUNDS; i++)); do
  check+=("$(wall "$CHECK" "$DATA" tic.inf --target 10-x64)")
  sha256+=("$(wall sha256sum "${FILES[@]}")")
  sha1+=("$(wall sha1sum "${FILES[@]}")")
done

c=$(median "${check[@]}")
s256=$(median "${sha256[@]}")
s1=$(median "${sha1[@]}")
echo "files: ${#FILES[@]} x 64000000 bytes; rounds: $ROUNDS"
echo "MERVOPackageCheck: $c s (all: ${check[*]})"
echo "sha256sum:         $s256 s (all: ${sha256[*]})"
echo "sha1sum:           $s1 s (all: ${sha1[*]})"
echo "ratio check/sha256sum: $(echo "scale=3; $c / $s256" | bc)"
echo "ratio check/sha1sum:   $(echo "scale=3; $c / $s1" | bc)"
