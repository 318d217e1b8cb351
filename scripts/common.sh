# Shared by demo.sh and test.sh: installing what the project needs and
# building its three trees. Source it; it sets ROOT to the repository.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${JOBS:-2}
# Build trees are build/${MERVO_TREE_PREFIX}host, ...win32, ...win64 (the
# prefix lets a developer keep a second set of trees beside the usual ones).
TREE_PREFIX=${MERVO_TREE_PREFIX:-}

# Debian packages: the two mingw-w64 cross compilers (with their posix thread
# variants, which GoogleTest needs), 64-bit Wine, a virtual X server for
# Wine's message boxes, CMake, GoogleTest (sources for the Windows side,
# library for the host side), a host compiler and Python for the PE checks;
# nlohmann-json (header-only) for the package checker's JSON report;
# OpenSSL's libcrypto for its catalog reader, osslsigncode for signing the
# distribution's programs and as the tests' independent Authenticode judge,
# the openssl command for the tests' throw-away certificates, the system's
# certificate store for osslsigncode's verdict on a vendor-signed catalog;
# mmdebstrap for the Debian 13 root in which the 32-bit programs run
# (scripts/wow64-root.sh) and the Debian 12 root in which the checker's
# Debian package is installed (scripts/debian12-root.sh); dpkg-dev for the
# package's dependencies (dpkg-shlibdeps, run by cpack); git for the
# clean clones of the reproducible-build test (and the commit's time); nsis
# for the example setup program (examples/installer).
PACKAGES=(
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-i686-dev mingw-w64-x86-64-dev
  wine64 xvfb cmake make g++ googletest libgtest-dev python3 nlohmann-json3-dev
  libssl-dev openssl osslsigncode ca-certificates mmdebstrap dpkg-dev git nsis
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# install_packages [PACKAGE...]: installs those of the given Debian packages
# (default: the project's PACKAGES) that are missing.
install_packages() {
  local wanted=("$@")
  if [ ${#wanted[@]} -eq 0 ]; then
    wanted=("${PACKAGES[@]}")
  fi
  local missing=()
  local package
  for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "== All needed packages are installed."
    return 0
  fi
  echo "== Installing: ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" </dev/null
}

# build_tree NAME [cmake arguments...]: configures and builds build/NAME.
build_tree() {
  local name=$1
  shift
  echo "== Building build/$name"
  cmake -S "$ROOT" -B "$ROOT/build/$name" -DCMAKE_BUILD_TYPE=Release "$@"
  cmake --build "$ROOT/build/$name" -j "$JOBS"
}

HOST_TREE=$ROOT/build/${TREE_PREFIX}host
WIN32_TREE=$ROOT/build/${TREE_PREFIX}win32
WIN64_TREE=$ROOT/build/${TREE_PREFIX}win64
# The host suite's tree: AddressSanitizer and UndefinedBehaviorSanitizer,
# unoptimised (it builds in about two thirds of the time of an optimised one,
# and the suite is no slower for it).
ASAN_TREE=$ROOT/build/${TREE_PREFIX}asan

build_host() { build_tree "${TREE_PREFIX}host"; }
build_asan() { build_tree "${TREE_PREFIX}asan" -DCMAKE_BUILD_TYPE=Debug -DMERVO_SANITIZE=ON; }
build_win32() { build_tree "${TREE_PREFIX}win32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686-mingw.cmake"; }
build_win64() { build_tree "${TREE_PREFIX}win64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-x86_64-mingw.cmake"; }

# CPU_NOW: the processor seconds (user + system) of this shell's finished
# children. `times` must run in this shell itself (a subshell's own count of
# children starts at nought), so it writes to a file, not into $(...).
cpu_now() {
  local file
  file=$(mktemp)
  times >"$file"
  # "0m1.250s 0m0.310s" -> 1.560
  CPU_NOW=$(tail -n 1 "$file" | awk '{ total = 0
    for (i = 1; i <= 2; i++) { split($i, part, "m"); sub("s", "", part[2]); total += part[1] * 60 + part[2] }
    printf "%.1f", total }')
  rm -f "$file"
}

# run_steps LABEL STEP...: runs the function step_STEP of each, in order, each
# in a subshell with errexit in force (a function run as an "if" condition
# would have it switched off). A failed install ends the list, since nothing
# else can run without the packages. The failed steps are left in FAILED_STEPS,
# each step's line of the time table (print_step_times) in STEP_TIMES.
run_steps() {
  local label=$1
  shift
  FAILED_STEPS=()
  STEP_TIMES=()
  local step status started cpu_before
  for step in "$@"; do
    echo
    echo "======== $label: $step ($(date -u +%H:%M:%S))"
    if ! declare -F "step_$step" >/dev/null; then
      echo "unknown step: $step" >&2
      exit 2
    fi
    started=$EPOCHREALTIME
    cpu_now
    cpu_before=$CPU_NOW
    set +e
    ( set -e; "step_$step" )
    status=$?
    set -e
    cpu_now
    STEP_TIMES+=("$(awk -v step="$step" -v status=$status -v a="$started" -v b="$EPOCHREALTIME" \
      -v c0="$cpu_before" -v c1="$CPU_NOW" \
      'BEGIN { printf "%-16s %8.0f %8.0f  %s", step, b - a, c1 - c0, status ? "FAILED" : "ok" }')")
    if [ $status -ne 0 ]; then
      FAILED_STEPS+=("$step")
      [ "$step" = install ] && break
    fi
  done
  return 0
}

# print_step_times TITLE [EXTRA LINE...]: the table of the last run_steps:
# each step's wall seconds and the processor seconds (user + system, all
# cores) of what it ran; a step's processor seconds are the steadier figure
# on a busy machine.
print_step_times() {
  local title=$1
  shift
  echo
  echo "======== $title"
  printf '%-16s %8s %8s  %s\n' step wall_s cpu_s result
  local line
  for line in "${STEP_TIMES[@]}" "$@"; do
    echo "$line"
  done
  echo "$(printf '%-16s' total) $(printf '%s\n' "${STEP_TIMES[@]}" | awk '{ w += $2; c += $3 } END { printf "%8.0f %8.0f", w, c }')"
}

# start_wine_env STATE_DIR: a fresh Wine environment of the benchmarks
# (tests/e2e/wine-env.sh: prefix, persistent wineserver, Xvfb when there is
# no display), stopped when the script exits, and its variables exported.
start_wine_env() {
  local state=$1
  bash "$ROOT/tests/e2e/wine-env.sh" start "$state"
  # shellcheck disable=SC2064
  trap "bash '$ROOT/tests/e2e/wine-env.sh' stop '$state'" EXIT
  # shellcheck disable=SC1091
  . "$state/env"
  export WINEPREFIX DISPLAY WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

# For the timing scripts: the wall time of one command in seconds (its
# output dropped, its failure ignored), and the median of numbers.
wall() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null || true
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
