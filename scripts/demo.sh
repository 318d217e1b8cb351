#!/usr/bin/env bash
# Shows MERVODriverStager at work on examples/package under Wine.
#
# Installs what is missing, builds the three trees, makes a fresh Wine prefix
# under build/demo-prefix (with an Xvfb of its own when there is no DISPLAY),
# puts the example package, the x86_64 stager and the x86_64 companion tool
# (under the plain name MERVODevCtl.exe) into one folder, makes two USB device
# instances in the prefix (one that the example INF serves, one of the same
# vendor's product that it does not name), and runs the stager there. Prints
# the caption and text of every message box (answering each with OK; with a
# real display you see them too), the run log, the exit code, the device
# instances before and after the run (the tool removes only the served one)
# and what changed in the Wine Windows folder.
#
# Usage: scripts/demo.sh [--wow64] [ARGUMENT TEXT]   e.g. scripts/demo.sh nodisplay
#
# --wow64 runs the shipped 32-bit build instead, in the Debian 13 root of
# scripts/wow64-root.sh (made first when missing; on a machine that cannot
# start 32-bit programs there it says why in one line and exits with 3),
# with the package laid out
# as the distribution lays it out: the i686 stager and companion tool, their
# x86_64 builds beside them as MERVODriverStager64.exe and MERVODevCtl64.exe.
# The 32-bit stager hands the run to MERVODriverStager64.exe; the demo then
# says which program ran, which did the work and where the files landed.
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
MODE=host
if [ "${1:-}" = --wow64 ]; then
  MODE=wow64
  shift
fi
ARGUMENT_TEXT=${1:-}

install_packages
build_host
build_win32
build_win64

STATE=$ROOT/build/${TREE_PREFIX}demo-prefix
PACKAGE=$ROOT/build/${TREE_PREFIX}demo-package
WINENV=$ROOT/tests/e2e/wine-env.sh
windows_path() { echo "Z:$1" | tr / '\\'; }

# Not every machine can start 32-bit programs in the root: say so in one line.
if [ "$MODE" = wow64 ]; then
  VERDICT=$ROOT/build/${TREE_PREFIX}demo-wow64-verdict
  "$ROOT/scripts/wow64-probe.sh" probe "$VERDICT" "$WIN32_TREE/MERVOWow64Probe.exe" \
    "$WIN64_TREE/MERVOWow64Probe.exe" >/dev/null
  if [ "$(head -n 1 "$VERDICT")" != runs ]; then
    echo "demo: --wow64 cannot run here: $(sed -n 2p "$VERDICT")" >&2
    exit 3
  fi
fi

echo "== Starting Wine (fresh prefix in $STATE/prefix)"
"$WINENV" start "$STATE" "$MODE"
trap '"$WINENV" stop "$STATE"' EXIT
PREFIX=$STATE/prefix
WINDIR=$PREFIX/drive_c/windows

echo "== Package folder $PACKAGE"
rm -rf "$PACKAGE"
mkdir -p "$PACKAGE"
cp "$ROOT"/examples/package/* "$PACKAGE"/
if [ "$MODE" = wow64 ]; then
  cp "$WIN32_TREE/MERVODriverStager.exe" "$WIN32_TREE/tools/devctl/MERVODevCtl.exe" "$PACKAGE"/
  cp "$WIN64_TREE/MERVODriverStager64.exe" "$WIN64_TREE/tools/devctl/MERVODevCtl64.exe" "$PACKAGE"/
else
  cp "$WIN64_TREE/MERVODriverStager.exe" "$PACKAGE"/
  cp "$WIN64_TREE/tools/devctl/MERVODevCtl64.exe" "$PACKAGE/MERVODevCtl.exe"
fi
ls -l "$PACKAGE"

# What the Windows folder holds before the run: the driver folder and the INF
# store, with sizes.
snapshot() {
  # (a new prefix has no syswow64/drivers: find's complaint is not a failure)
  (cd "$WINDIR" && { find system32/drivers syswow64/drivers inf -maxdepth 1 -type f -printf '%p %s bytes\n' 2>/dev/null || true; } | sort)
}
snapshot >"$STATE/before.txt"

# The prefix's device instances of vendor 1A2B (instance id | hardware ids).
TEST_DEVICES=$WIN64_TREE/tools/devctl/MERVOTestDevices.exe
vendor_devices() {
  "$WINENV" run "$STATE" "$TEST_DEVICES" list | tr -d '\r' | grep -i 'VID_1A2B' || echo "(none)"
}
echo
echo "== Device instances of vendor 1A2B before the run"
"$WINENV" run "$STATE" "$TEST_DEVICES" create 'USB\VID_1A2B&PID_0001' >/dev/null
"$WINENV" run "$STATE" "$TEST_DEVICES" create 'USB\VID_1A2B&PID_0099' >/dev/null
vendor_devices

echo
echo "== Running: MERVODriverStager.exe ${ARGUMENT_TEXT:-(empty argument text)}"
status=0
"$WINENV" run "$STATE" "$WIN64_TREE/tests/e2e/stager_runner.exe" \
  "$(windows_path "$PACKAGE/MERVODriverStager.exe")" "$ARGUMENT_TEXT" || status=$?

echo
echo "== Run log (MERVOStageLog.txt in the user's temporary folder)"
LOG=$(ls "$PREFIX"/drive_c/users/*/Temp/MERVOStageLog.txt "$PREFIX"/drive_c/users/*/AppData/Local/Temp/MERVOStageLog.txt 2>/dev/null | head -1 || true)
if [ -n "$LOG" ]; then
  tr -d '\r' <"$LOG"
else
  echo "(no run log was written)"
fi

echo
echo "== Device instances of vendor 1A2B after the run (the tool removes PID_0001, which the INF serves, and keeps PID_0099)"
vendor_devices

echo
echo "== Changes in the Wine Windows folder (C:\\windows)"
snapshot >"$STATE/after.txt"
if diff "$STATE/before.txt" "$STATE/after.txt" >"$STATE/changes.txt"; then
  echo "(no change in system32/drivers or inf)"
else
  sed -n 's/^< /removed: /p; s/^> /added:   /p' "$STATE/changes.txt"
fi

if [ "$MODE" = wow64 ]; then
  echo
  echo "== Which program ran, which did the work"
  echo "ran:      MERVODriverStager.exe, the shipped 32-bit build (a WoW64 process)"
  if grep -q '^> system32/drivers/' "$STATE/changes.txt" && ! grep -q '^> syswow64/' "$STATE/changes.txt"; then
    echo "the work: MERVODriverStager64.exe, the x86_64 build beside it: the driver files landed in"
    echo "          C:\\windows\\system32\\drivers and nothing in C:\\windows\\syswow64\\drivers"
  elif grep -q '^> syswow64/' "$STATE/changes.txt"; then
    echo "the work: the 32-bit process itself: its copies were redirected to C:\\windows\\syswow64\\drivers"
  else
    echo "the work: no driver file was copied (see the boxes and the log above)"
  fi
fi

echo
echo "== Exit code of MERVODriverStager.exe: $status"
exit "$status"
