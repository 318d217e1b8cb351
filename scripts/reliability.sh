#!/usr/bin/env bash
# Reliability checks: the host suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (with the fault sweep), bounded libFuzzer runs of
# every fuzz target, and the static checks (clang-tidy, cppcheck, and the
# layout that .clang-format gives). Exits nonzero when any step fails; prints
# the figures that docs/RELIABILITY.md quotes at the end.
# (scripts/test.sh runs the sanitizer suite as its host suite, and the fuzz
# step with 5 seconds per target.)
#
# Usage: scripts/reliability.sh [STEP...]   (default: every step, in order)
#   FUZZ_SECONDS=N   time per fuzz target after the replay of its corpus
#                    (default 30)
set -euo pipefail
# shellcheck source=scripts/common.sh
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

FUZZ_SECONDS=${FUZZ_SECONDS:-30}
FUZZ_TARGETS=(ArgumentText DeviceIds CopyDriverFiles Run Catalog PeImage InfModel)
FUZZ_TREE=$ROOT/build/${TREE_PREFIX}fuzz
FIGURES=$ROOT/build/${TREE_PREFIX}reliability-figures.txt

# Besides the project's packages: clang with libFuzzer's runtime, the two
# static checkers and the formatter.
RELIABILITY_PACKAGES=(clang libclang-rt-14-dev clang-tidy-14 clang-format-14 cppcheck)

# The logic's sources for the static checks: src/ as the host build compiles
# it (the Win32 platform file needs the Windows headers), with every file of
# the simulated Windows (src/platform/simulated/*.cpp, added from $ROOT).
TIDY_SOURCES=(
  src/app/ArgumentText.cpp src/app/MERVODriverStager.cpp src/app/SignatureCauses.cpp src/common/BoundedText.cpp
  src/inf/INFManager.cpp
  src/log/LogFile.cpp src/system/Dirs.cpp src/system/GetOSVersion.cpp
  src/common/WindowsFolders.cpp src/turn/MachineTurn.cpp
)

# Sanitizer reports end the process with an error at once.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

figure() { echo "$*" | tee -a "$FIGURES"; }

step_install() {
  install_packages
  install_packages "${RELIABILITY_PACKAGES[@]}"
}

# The whole host suite built with both sanitizers; then the fault sweep's
# figures.
step_asan() {
  build_asan
  local log=$ASAN_TREE/ctest-last.log
  ctest --test-dir "$ASAN_TREE" --output-on-failure -j "$JOBS" | tee "$log"
  figure "sanitizer suite: $(grep -E 'tests passed' "$log")"
  "$ASAN_TREE/host_tests" --gtest_filter='FaultSweep*' | grep '^\[fault-sweep\]' | tee -a "$FIGURES"
}

# Each target first replays every committed seed once (-runs=0: the whole
# corpus, whatever FUZZ_SECONDS is), then searches for FUZZ_SECONDS from its
# committed seeds; new inputs go to a scratch corpus in the build tree
# (emptied first, so that every run starts alike), a crash or broken
# invariant leaves its input in artifacts/ and fails the step.
step_fuzz() {
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$FUZZ_TREE" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMERVO_FUZZ=ON
  cmake --build "$FUZZ_TREE" -j "$JOBS" --target fuzz_all
  mkdir -p "$FUZZ_TREE/artifacts" "$FUZZ_TREE/machines"
  # The simulated machines live in a memory file system when there is one
  # (about 1.7 times the executions per second of a disk folder).
  # A folder of this run's own, removed afterwards: a fuzz process ends
  # without removing its machine folder.
  local machines=$FUZZ_TREE/machines
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    machines=/dev/shm
  fi
  machines=$(mktemp -d "$machines/mervo-fuzz-run.XXXXXX")
  local failed=0
  local target
  for target in "${FUZZ_TARGETS[@]}"; do
    local work=$FUZZ_TREE/corpus-$target
    local seeds=$ROOT/fuzz/corpus/$target
    local log=$FUZZ_TREE/fuzz-$target.log
    rm -rf "$work"
    mkdir -p "$work"
    echo "== fuzz_$target: the $(find "$seeds" -type f | wc -l) seeds, then ${FUZZ_SECONDS}s"
    # A smaller quarantine keeps the many short-lived simulator buffers cheap.
    if ! TMPDIR=$machines ASAN_OPTIONS=quarantine_size_mb=16:detect_leaks=1 \
        "$FUZZ_TREE/fuzz/fuzz_$target" -runs=0 \
        -artifact_prefix="$FUZZ_TREE/artifacts/$target-" "$seeds" >"$log.replay" 2>&1; then
      echo "fuzz_$target FAILED on a committed seed; see $log.replay and $FUZZ_TREE/artifacts/" >&2
      tail -30 "$log.replay" >&2
      failed=1
    elif ! TMPDIR=$machines ASAN_OPTIONS=quarantine_size_mb=16:detect_leaks=1 \
        "$FUZZ_TREE/fuzz/fuzz_$target" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 \
        -artifact_prefix="$FUZZ_TREE/artifacts/$target-" "$work" "$seeds" >"$log" 2>&1; then
      echo "fuzz_$target FAILED; see $log and $FUZZ_TREE/artifacts/" >&2
      tail -30 "$log" >&2
      failed=1
    fi
    local runs speed added cov
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    added=$(sed -n 's/^stat::new_units_added: *//p' "$log")
    cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
    figure "fuzz $target: ${FUZZ_SECONDS}s, executions ${runs:-?} (${speed:-?}/s), seeds $(find "$seeds" -type f | wc -l)" \
      "($(cat "$seeds"/* | wc -c) bytes), new inputs ${added:-?}, edges covered ${cov:-?}"
  done
  rm -rf "$machines"
  return $failed
}

# clang-tidy (.clang-tidy holds the checks and why some are left out) over
# src/ with the host tree's compile database; cppcheck over src/ and the
# tools' sources. Any finding fails.
step_static() {
  if [ ! -f "$HOST_TREE/compile_commands.json" ]; then
    cmake -S "$ROOT" -B "$HOST_TREE" -DCMAKE_BUILD_TYPE=Release
  fi
  cd "$ROOT"
  TIDY_SOURCES+=(src/platform/simulated/*.cpp)
  echo "== clang-tidy"
  clang-tidy-14 --quiet -p "$HOST_TREE" "${TIDY_SOURCES[@]}"
  figure "clang-tidy: ${#TIDY_SOURCES[@]} files, 0 findings (checks: .clang-tidy)"
  echo "== cppcheck"
  local cppcheck_files=(src $(ls tools/devctl/*.cpp tools/packagecheck/*.cpp tools/makecatalog/*.cpp))
  cppcheck --enable=warning,performance,portability --std=c++17 --inline-suppr --error-exitcode=1 --quiet \
    -I src -I tools/devctl -I tools/packagecheck -I tools/makecatalog "${cppcheck_files[@]}"
  figure "cppcheck: src/ and $(( ${#cppcheck_files[@]} - 1 )) tool sources, 0 findings" \
    "(--enable=warning,performance,portability)"
  # Every C and C++ file in the tree, laid out as .clang-format says; a file
  # that is not fails the step and the formatter names the lines.
  echo "== clang-format"
  local format_files
  mapfile -t format_files < <(git ls-files '*.c' '*.cpp' '*.h')
  clang-format-14 --dry-run --Werror "${format_files[@]}"
  figure "clang-format: ${#format_files[@]} files laid out as .clang-format says"
}

STEPS=(install asan fuzz static)
if [ $# -gt 0 ]; then
  STEPS=("$@")
fi

mkdir -p "$ROOT/build"
: >"$FIGURES"
run_steps "reliability step" "${STEPS[@]}"
print_step_times "reliability: time per step (seconds)"

echo
echo "======== reliability figures ($(date -u '+%Y-%m-%d %H:%M UTC'))"
cat "$FIGURES"
if [ ${#FAILED_STEPS[@]} -gt 0 ]; then
  echo "======== FAILED reliability steps: ${FAILED_STEPS[*]}"
  exit 1
fi
echo "======== all reliability steps passed: ${STEPS[*]}"
