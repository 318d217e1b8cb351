#!/usr/bin/env bash
# Measures the stager against its floors and prints the tables of
# docs/PERFORMANCE.md:
#   1. the INF readers (GetDeviceIDs, the [SourceDisksFiles] reader) on
#      generated INFs of 10 KB, 1 MB and 16 MB, each beside a bare line-read
#      loop over the same lines (host build, Google Benchmark);
#   2. the whole run of the x86_64 stager under Wine on examples/package, with
#      a companion tool that ends at once, beside trivial programs started the
#      same way under the same wineserver, the last of them the run's true
#      floor (bench/wine/RunFloor.c: the same DLLs, tool starts and system
#      work, none of the run's own logic).
# The companion tool's remove command at scale: scripts/perf-remove.sh.
# Installs what is missing and builds its own trees (build/perf-host,
# build/perf-win64, Wine state in build/perf-wine; MERVO_PERF_PREFIX changes
# "perf-"). Results: build/perf-results/{readers.json,wine.json,results.md}.
#
# Usage: scripts/perf.sh [ROUNDS]   (whole-run rounds, default 30)
# MERVO_BENCH_SIZES=10KB,1MB leaves out the 16 MB files (quicker).
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ROUNDS=${1:-30}
PREFIX=${MERVO_PERF_PREFIX:-perf-}
HOST=$ROOT/build/${PREFIX}host
WIN64=$ROOT/build/${PREFIX}win64
WINE_STATE=$ROOT/build/${PREFIX}wine
OUT=$ROOT/build/${PREFIX}results
WINE64=/usr/lib/wine/wine64

PACKAGES+=(libbenchmark-dev valgrind)
install_packages

echo "== Building $HOST and $WIN64"
cmake -S "$ROOT" -B "$HOST" -DCMAKE_BUILD_TYPE=Release -DMERVO_BENCH=ON >/dev/null
cmake --build "$HOST" -j "$JOBS" --target inf_readers_bench
cmake -S "$ROOT" -B "$WIN64" -DCMAKE_BUILD_TYPE=Release -DMERVO_BENCH=ON \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-x86_64-mingw.cmake" >/dev/null
cmake --build "$WIN64" -j "$JOBS" --target MERVODriverStager TrivialGui TrivialGuiImports \
  TwoChildren TwoChildrenImports RunFloor QuickTool
mkdir -p "$OUT"

# The machine, and its load (other work on it shows in the wall times).
cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
memory=$(free -g | awk '/^Mem:/ {print $2}')
{
  echo "Machine: $(nproc) cores ($cpu), $memory GiB memory, $("$WINE64" --version), $(uname -sr)."
  echo "Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)."
} >"$OUT/machine.txt"

echo "== INF readers"
"$HOST/bench/inf_readers_bench" --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_out="$OUT/readers.json" \
  --benchmark_out_format=json

echo "== INF readers: instructions of one reading each (callgrind)"
rm -f "$OUT"/counts.out*
MERVO_BENCH_COUNT=1 valgrind --tool=callgrind --callgrind-out-file="$OUT/counts.out" \
  "$HOST/bench/inf_readers_bench" >"$OUT/counts.log" 2>&1 ||
  { cat "$OUT/counts.log" >&2; exit 1; }

echo "== Whole run under Wine ($ROUNDS rounds)"
start_wine_env "$WINE_STATE"

PACKAGE=$WINE_STATE/package
rm -rf "$PACKAGE"
cp -r "$ROOT/examples/package" "$PACKAGE"
cp "$WIN64/MERVODriverStager.exe" "$PACKAGE/"
cp "$WIN64/bench/QuickTool.exe" "$PACKAGE/MERVODevCtl.exe"
for program in TrivialGui TrivialGuiImports TwoChildren TwoChildrenImports RunFloor; do
  cp "$WIN64/bench/$program.exe" "$PACKAGE/"
done

# The run must end by itself: with a display, a message box would wait for a
# click and the run would hit the time limit.
status=0
(cd "$PACKAGE" && timeout 60 "$WINE64" MERVODriverStager.exe nodisplay </dev/null >/dev/null 2>&1) ||
  status=$?
LOG=$(ls "$WINEPREFIX"/drive_c/users/*/Temp/MERVOStageLog.txt)
if [ "$status" -ne 0 ] || ! grep -q "Driver pre-installed OK." "$LOG" ||
   ! grep -q "Driver instances mounted OK." "$LOG"; then
  echo "perf: the stager's run did not end by itself with 0 (status $status)" >&2
  cat "$LOG" >&2
  exit 1
fi
echo "== The stager ends by itself with exit code 0 (display $DISPLAY); log: $LOG"

python3 "$ROOT/bench/wine/time_runs.py" "$ROUNDS" "$PACKAGE" \
  trivial=TrivialGui.exe trivial_imports=TrivialGuiImports.exe \
  two_children=TwoChildren.exe two_children_imports=TwoChildrenImports.exe \
  run_floor=RunFloor.exe \
  "stager_nolog=MERVODriverStager.exe nodisplay nolog" \
  "stager=MERVODriverStager.exe nodisplay" --json "$OUT/wine.json"

echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)." >>"$OUT/machine.txt"
{
  cat "$OUT/machine.txt"
  echo
  python3 "$ROOT/bench/perf_report.py" "$OUT/readers.json" "$OUT/wine.json" "$OUT/counts.out"
} >"$OUT/results.md"
echo
cat "$OUT/results.md"
