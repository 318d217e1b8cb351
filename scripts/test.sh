#!/usr/bin/env bash
# Installs what is missing, builds the three trees and runs every test:
# the host suite, the PE checks of both Windows programs and the Wine
# end-to-end tests (the slow ones included). Exits nonzero when any step fails.
#
# Usage: scripts/test.sh [STEP...]   (default: every step, in order)
#
# The steps are listed in STEPS below; to add one, write a function step_NAME
# and add NAME to the list.
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

step_install() { install_packages; }
step_build_host() { build_host; }
step_build_win32() { build_win32; }
step_build_win64() { build_win64; }
# Every host test runs as a process of its own; eight at once on a two-core
# machine, ten rounds, shows any two tests that share a file.
# (The checker's Debian package has a step of its own, test_deb.)
step_test_host() { ctest --test-dir "$HOST_TREE" --output-on-failure -j 8 --repeat until-fail:10 -LE deb; }
# The checker's Debian package, installed into a fresh minimal Debian 12 root
# (scripts/debian12-root.sh; made once per machine, about two minutes; needs
# root and mmdebstrap) and compared there with the host tree's checker.
step_test_deb() { ctest --test-dir "$HOST_TREE" --output-on-failure -L deb; }
step_test_win32() { ctest --test-dir "$WIN32_TREE" --output-on-failure; }
# The Debian 13 root in which the 32-bit programs run (made once per machine,
# then only checked), timed on its own, and the run's one probe of whether
# this machine can start 32-bit programs there at all: every test of the
# 32-bit level (ctest label 32bit) reads its verdict, and is skipped with its
# reason where the answer is no.
export MERVO_WOW64_VERDICT=$ROOT/build/${TREE_PREFIX}wow64-verdict
rm -f "$MERVO_WOW64_VERDICT"
step_wow64_root() {
  "$ROOT/scripts/wow64-root.sh" path
  "$ROOT/scripts/wow64-probe.sh" probe "$MERVO_WOW64_VERDICT" \
    "$WIN32_TREE/MERVOWow64Probe.exe" "$WIN64_TREE/MERVOWow64Probe.exe"
}
# The Wine tests share one prefix and run one at a time (resource lock).
step_test_win64() { ctest --test-dir "$WIN64_TREE" --output-on-failure; }
# Sanitizer suite with the fault sweep, bounded fuzz runs, static checks.
step_reliability() { "$ROOT/scripts/reliability.sh"; }

STEPS=(
  install
  build_host
  build_win32
  build_win64
  test_host
  test_deb
  wow64_root
  test_win32
  test_win64
  reliability
)

if [ $# -gt 0 ]; then
  STEPS=("$@")
fi

run_steps step "${STEPS[@]}"

# The tests of the 32-bit level that this run skipped, and why.
if [ "$(head -n 1 "$MERVO_WOW64_VERDICT" 2>/dev/null)" = skip ]; then
  echo
  echo "======== skipped: the 32-bit level"
  for tree in "$WIN32_TREE" "$WIN64_TREE"; do
    [ -d "$tree" ] || continue
    names=$(ctest --test-dir "$tree" -N -L 32bit -FA ".*" | sed -n 's/^ *Test *#[0-9]*: //p' | tr '\n' ' ')
    echo "  ${tree#"$ROOT"/}: ${names:-none}"
  done
  echo "  why: $(sed -n 2p "$MERVO_WOW64_VERDICT")"
fi

echo
if [ ${#FAILED_STEPS[@]} -gt 0 ]; then
  echo "======== FAILED steps: ${FAILED_STEPS[*]}"
  exit 1
fi
echo "======== all steps passed: ${STEPS[*]}"
