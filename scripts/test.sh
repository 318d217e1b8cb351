#!/usr/bin/env bash
# Installs what is missing, builds the trees and runs every test: the host
# suite (under AddressSanitizer and UndefinedBehaviorSanitizer, with the fault
# sweep), the checker's Debian package, the PE checks of both Windows programs,
# the Wine end-to-end tests (the slow ones included), the distribution, a
# replay of every fuzz corpus with a short search, and the static checks.
# Exits nonzero when any step fails; ends with each step's time.
#
# Usage: scripts/test.sh [--repeat N] [STEP...]   (default: every step, in order)
#   --repeat N (or MERVO_TEST_REPEAT=N)  runs the host suite N times over, eight
#              tests at once, until one fails: for hunting a race between tests
#              (every temporary folder and name is unique by construction, so
#              one round proves what N rounds prove)
#
# The steps are listed in STEPS below; to add one, write a function step_NAME
# and add NAME to the list.
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

REPEAT=${MERVO_TEST_REPEAT:-1}
if [ "${1:-}" = --repeat ]; then
  REPEAT=${2:?usage: scripts/test.sh [--repeat N] [STEP...]}
  shift 2
fi

# The project's packages and those of the fuzz and static steps.
step_install() { "$ROOT/scripts/reliability.sh" install; }
# The two Debian roots (scripts/debian12-root.sh, scripts/wow64-root.sh: made
# once per machine, network bound, about three minutes together) are made in
# the background while the trees build; test_deb and wow64_root wait for them.
ROOTS_STATE=$ROOT/build/${TREE_PREFIX}roots
step_roots() {
  mkdir -p "$ROOTS_STATE"
  rm -f "$ROOTS_STATE/status"
  echo "== Making the Debian roots in the background (log: ${ROOTS_STATE#"$ROOT"/}/log)"
  (
    started=$EPOCHREALTIME
    status=0
    "$ROOT/scripts/debian12-root.sh" path || status=1
    "$ROOT/scripts/wow64-root.sh" path || status=1
    echo "$status $(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.0f", b - a }')" \
      >"$ROOTS_STATE/status"
  ) </dev/null >"$ROOTS_STATE/log" 2>&1 &
  echo $! >"$ROOTS_STATE/pid"
}
# Waits for the background roots (if this run started them) and shows their
# log. A root that could not be made is not a failure here: the tests that
# need it say so (test_deb skips without root or mmdebstrap, wow64_root asks
# for its root again and fails), as when nothing made the roots beforehand.
wait_roots() {
  [ -f "$ROOTS_STATE/pid" ] || return 0
  local pid
  pid=$(cat "$ROOTS_STATE/pid")
  while kill -0 "$pid" 2>/dev/null; do sleep 1; done
  rm -f "$ROOTS_STATE/pid"
  echo "== The Debian roots (made in the background):"
  cat "$ROOTS_STATE/log"
}
# The plain host tree, in this command, is for the checker's Debian package
# (test_deb: the checker, the catalog maker and their man pages) and the
# static checks' compile database; the host suite builds and runs in the
# sanitizer tree. So the package (cpack's install step) takes what this step
# built instead of building the whole tree first; `cmake --build build/host`
# builds the rest.
step_build_host() {
  cmake -S "$ROOT" -B "$HOST_TREE" -DCMAKE_BUILD_TYPE=Release -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
  cmake --build "$HOST_TREE" -j "$JOBS" --target MERVOPackageCheck packagecheck_man_page \
    MERVOMakeCatalog makecatalog_man_page
}
step_build_win32() { build_win32; }
step_build_win64() { build_win64; }
step_build_asan() { build_asan; }
# Sanitizer reports end the process with an error at once.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The host suite, once, in the sanitizer tree; every host test runs as a
# process of its own. --repeat N runs it N times, eight tests at once.
# (The checker's Debian package has a step of its own, test_deb.)
step_test_host() {
  if [ "$REPEAT" -gt 1 ]; then
    ctest --test-dir "$ASAN_TREE" --output-on-failure -j 8 --repeat until-fail:"$REPEAT" -LE deb
  else
    ctest --test-dir "$ASAN_TREE" --output-on-failure -j "$JOBS" -LE deb
  fi
}
# The checker's Debian package, installed into a fresh minimal Debian 12 root
# (scripts/debian12-root.sh; made once per machine, about two minutes; needs
# root and mmdebstrap) and compared there with the host tree's checker.
step_test_deb() {
  wait_roots
  ctest --test-dir "$HOST_TREE" --output-on-failure -L deb
}
step_test_win32() { ctest --test-dir "$WIN32_TREE" --output-on-failure; }
# The Debian 13 root in which the 32-bit programs run (made once per machine,
# then only checked), timed on its own, and the run's one probe of whether
# this machine can start 32-bit programs there at all: every test of the
# 32-bit level (ctest label 32bit) reads its verdict, and is skipped with its
# reason where the answer is no.
export MERVO_WOW64_VERDICT=$ROOT/build/${TREE_PREFIX}wow64-verdict
rm -f "$MERVO_WOW64_VERDICT"
step_wow64_root() {
  wait_roots
  "$ROOT/scripts/wow64-root.sh" path
  "$ROOT/scripts/wow64-probe.sh" probe "$MERVO_WOW64_VERDICT" \
    "$WIN32_TREE/MERVOWow64Probe.exe" "$WIN64_TREE/MERVOWow64Probe.exe"
}
# The Wine tests of a tree that share a prefix run one at a time (resource
# lock); the others (the installer, the companion tool's own check, the
# conformance rows, the probe's paths) have prefixes of their own and run
# beside them.
step_test_win64() { ctest --test-dir "$WIN64_TREE" --output-on-failure -j "$JOBS"; }
# Clang-tidy, cppcheck, clang-format.
step_static() { "$ROOT/scripts/reliability.sh" static; }
# Every fuzz corpus replayed and a short search per target (FUZZ_SECONDS
# each); the long runs are scripts/reliability.sh's own.
step_fuzz() { FUZZ_SECONDS=${FUZZ_SECONDS:-5} "$ROOT/scripts/reliability.sh" fuzz; }

# The x86_64 tree's tests spend most of their time waiting on Wine (the
# companion tool's 30-second limit, the installer), so the steps of
# BESIDE_WINE run beside them, one after the other, each with its output in
# build/beside-STEP.log (shown when all are done) and its own line in the
# time table.
BESIDE_WINE=(test_win32 fuzz static)
BESIDE_TIMES=$ROOT/build/${TREE_PREFIX}beside-times
step_wine_and_beside() {
  : >"$BESIDE_TIMES"
  (
    failed=0
    for step in "${BESIDE_WINE[@]}"; do
      started=$EPOCHREALTIME
      cpu_now
      cpu_before=$CPU_NOW
      set +e
      ( set -e; "step_$step" ) >"$ROOT/build/${TREE_PREFIX}beside-$step.log" 2>&1 </dev/null
      status=$?
      set -e
      cpu_now
      awk -v step="($step)" -v status=$status -v a="$started" -v b="$EPOCHREALTIME" \
        -v c0="$cpu_before" -v c1="$CPU_NOW" \
        'BEGIN { printf "%-16s %8.0f %8.0f  %s\n", step, b - a, c1 - c0, status ? "FAILED" : "ok" }' >>"$BESIDE_TIMES"
      [ $status -eq 0 ] || failed=1
    done
    exit $failed
  ) &
  local beside=$! status=0
  step_test_win64 || status=1
  wait "$beside" || status=1
  local step
  for step in "${BESIDE_WINE[@]}"; do
    echo
    echo "======== $step (ran beside test_win64; log: build/${TREE_PREFIX}beside-$step.log)"
    cat "$ROOT/build/${TREE_PREFIX}beside-$step.log"
  done
  return $status
}

STEPS=(
  install
  roots
  build_host
  build_win32
  build_win64
  build_asan
  test_host
  test_deb
  wow64_root
  wine_and_beside
)

if [ $# -gt 0 ]; then
  STEPS=("$@")
fi

run_steps step "${STEPS[@]}"
# A roots step whose background work nothing waited for is waited for here.
wait_roots
ROOTS_LINE=()
if [ -f "$ROOTS_STATE/status" ] && printf '%s\n' "${STEPS[@]}" | grep -qx roots; then
  read -r roots_status roots_seconds <"$ROOTS_STATE/status"
  ROOTS_LINE=("$(printf '%-16s %8s %8s  %s' "(roots)" "$roots_seconds" - \
    "$([ "$roots_status" = 0 ] && echo ok || echo FAILED)")")
fi

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

# The steps that ran beside the Wine tests (their seconds are inside
# wine_and_beside's), and the roots, made beside the builds.
BESIDE_LINES=()
if printf '%s\n' "${STEPS[@]}" | grep -qx wine_and_beside && [ -s "$BESIDE_TIMES" ]; then
  mapfile -t BESIDE_LINES <"$BESIDE_TIMES"
fi
print_step_times "time per step (seconds; in brackets: steps run beside others)" \
  "${BESIDE_LINES[@]}" "${ROOTS_LINE[@]}"

echo
if [ ${#FAILED_STEPS[@]} -gt 0 ]; then
  echo "======== FAILED steps: ${FAILED_STEPS[*]}"
  exit 1
fi
echo "======== all steps passed: ${STEPS[*]}"
