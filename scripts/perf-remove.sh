#!/usr/bin/env bash
# Measures the companion tool's remove command at scale under Wine: 100,
# 1,000 and 5,000 device instances (half served by the INF, half of the same
# vendor's other product), each size beside the floor program
# bench/wine/RemoveScale.c, rounds interleaved (bench/wine/remove_scale.py).
# Builds build/perf-win64 (-DMERVO_BENCH=ON), Wine state in
# build/perf-remove-wine; results in build/perf-results/remove.{json,txt}.
# Takes about 10 minutes on a 2-core machine (5,000 instances: some 100 s a
# round, most of it making the instances).
#
# Usage: scripts/perf-remove.sh [ROUNDS [SIZE...]]   (default 3 rounds; 100 1000 5000)
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ROUNDS=${1:-3}
shift || true
SIZES=("$@")
[ ${#SIZES[@]} -gt 0 ] || SIZES=(100 1000 5000)
WIN64=$ROOT/build/perf-win64
WINE_STATE=$ROOT/build/perf-remove-wine
OUT=$ROOT/build/perf-results

install_packages
cmake -S "$ROOT" -B "$WIN64" -DCMAKE_BUILD_TYPE=Release -DMERVO_BENCH=ON \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-x86_64-mingw.cmake" >/dev/null
cmake --build "$WIN64" -j "$JOBS" --target RemoveScale MERVODevCtl64
mkdir -p "$OUT"

start_wine_env "$WINE_STATE"

PACKAGE=$WINE_STATE/package
rm -rf "$PACKAGE"
mkdir -p "$PACKAGE"
cp "$WIN64/bench/RemoveScale.exe" "$WIN64/tools/devctl/MERVODevCtl64.exe" "$PACKAGE/"
printf '[Version]\r\nSignature="$Windows NT$"\r\n[DeviceList]\r\n%%D%%=Install, USB\\VID_0123&PID_4567\r\n[Strings]\r\nD="Example"\r\n' \
  >"$PACKAGE/bench.inf"

{
  echo "Machine: $(nproc) cores, $(/usr/lib/wine/wine64 --version), load at the start: $(cut -d' ' -f1-3 /proc/loadavg)."
  python3 "$ROOT/bench/wine/remove_scale.py" "$ROUNDS" "$PACKAGE" "${SIZES[@]}" --json "$OUT/remove.json"
  echo "Load at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
} | tee "$OUT/remove.txt"
