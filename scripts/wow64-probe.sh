#!/usr/bin/env bash
# Whether this machine can start 32-bit Windows programs in the WoW64 root
# (scripts/wow64-root.sh), found out once per test run, and the gate through
# which every test that starts a 32-bit program goes.
#
#   wow64-probe.sh probe VERDICT PROBE32 PROBE64 [EXPECTED]
#       Starts PROBE64 (the x86_64 MERVOWow64Probe.exe) and then PROBE32 (its
#       i686 build) in the root, and writes VERDICT: a first line "runs" or
#       "skip", a second line the reason, which it also prints.
#       PROBE64 must end with 42: otherwise the root or its Wine is broken,
#       and that is a failure (exit 1, no verdict), never a skip. PROBE32
#       ending with EXPECTED (default 42, the probe's own code) means that
#       32-bit code runs; any other end means it cannot, and the reason
#       names the exit code and the kernel's fault line when there is one.
#       When $MERVO_WOW64_VERDICT names another file (scripts/test.sh sets it
#       and empties it at the start of every run), the first probe of the run
#       writes that file and every later one copies it: one probe per run.
#   wow64-probe.sh gate VERDICT CMD ARG...
#       Runs CMD when VERDICT says "runs". When it says "skip", prints
#       "SKIPPED: <reason>" and exits 77, which ctest reports as skipped
#       (SKIP_RETURN_CODE). Without a verdict it fails: a test that needs one
#       must never pass unchecked.
#
# Some machines of the project's kind cannot run 32-bit code at all: their
# kernel (a paravirtualised guest's) refuses the int 0x80 call with which
# Wine's WoW64 sets up every 32-bit thread. Nothing the project sets changes
# that, so there the 32-bit level is skipped with its reason, not failed.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WOW64_ROOT=$ROOT/scripts/wow64-root.sh
PROBE_CODE=42
SKIP_CODE=77

die() { echo "wow64-probe: $*" >&2; exit 1; }

# The kernel log's lines, or nothing when it cannot be read.
kernel_log() { dmesg 2>/dev/null || true; }

# run_probes VERDICT PROBE32 PROBE64 EXPECTED: the probe itself.
run_probes() {
  local verdict=$1 probe32=$2 probe64=$3 expected=$4
  [ -f "$probe32" ] || die "no i686 probe at $probe32 (build the i686 tree first)"
  [ -f "$probe64" ] || die "no x86_64 probe at $probe64 (build the x86_64 tree first)"
  local root
  root=$("$WOW64_ROOT" path)
  [ -f "$root/usr/lib/x86_64-linux-gnu/wine/i386-windows/ntdll.dll" ] ||
    die "the WoW64 root $root has no 32-bit ntdll.dll: the root is broken (remove it to have it made again)"

  local dir
  dir=$(dirname "$verdict")
  mkdir -p "$dir"
  local work=$dir/probe-run
  rm -rf "$work"
  mkdir -p "$work"
  local before
  before=$(kernel_log | wc -l)
  # One Wine session in the root: the prefix is kept between runs (its first
  # making takes seconds), every start is bounded, and the server ends with
  # the session. The output goes to a file: Wine's services inherit it.
  MERVO_WOW64_BINDS="${MERVO_WOW64_BINDS:-} $dir $(dirname "$probe32") $(dirname "$probe64")" \
    "$WOW64_ROOT" exec sh -c '
      export WINEPREFIX="$1/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
      unset DISPLAY
      timeout 120 /usr/lib/wine/wine64 "$2"; echo $? >"$1/probe-run/code64"
      timeout 120 /usr/lib/wine/wine64 "$3"; echo $? >"$1/probe-run/code32"
      /usr/lib/wine/wineserver64 -k 2>/dev/null || true
    ' sh "$dir" "$probe64" "$probe32" </dev/null >"$work/wine.log" 2>&1 || true
  local code64 code32
  code64=$(cat "$work/code64" 2>/dev/null || echo none)
  code32=$(cat "$work/code32" 2>/dev/null || echo none)
  if [ "$code64" != "$PROBE_CODE" ]; then
    cat "$work/wine.log" >&2
    die "the x86_64 probe ended with $code64, not $PROBE_CODE, in the WoW64 root: its Wine is broken"
  fi

  local state reason
  if [ "$code32" = "$expected" ]; then
    state=runs
    reason="32-bit Windows programs run on this machine: the i686 probe ended with $code32 in the WoW64 root"
  else
    state=skip
    # The probe's own fault line (the kernel names a process by the first 15
    # characters of its file name), else the first fault of this session (a
    # new prefix starts 32-bit helpers of Wine's too).
    local faults fault comm
    faults=$(kernel_log | tail -n +"$((before + 1))" | grep 'general protection fault.* in ntdll\.so' || true)
    comm=$(basename "$probe32" | cut -c1-15)
    fault=$(echo "$faults" | grep -m1 -F "traps: $comm[" || true)
    [ -n "$fault" ] || fault=$(echo "$faults" | head -n 1)
    reason="32-bit Windows programs cannot run on this machine: the i686 probe ended with $code32, not $expected, in the WoW64 root where its x86_64 build runs"
    if [ -n "$fault" ]; then
      # Without the kernel's time stamp, cut to one readable line.
      fault=$(echo "$fault" | sed 's/^\[[^]]*\] *//' | cut -c1-160)
      reason="$reason; the kernel refused it: \"$fault\""
      case $fault in
        *error:402*) reason="$reason (error 0x402 is vector 0x80: this kernel refuses the int 0x80 call with which WoW64 sets up 32-bit threads)" ;;
      esac
    else
      reason="$reason; the kernel logged no fault for it"
    fi
  fi
  printf '%s\n%s\n' "$state" "$reason" >"$verdict.new"
  mv "$verdict.new" "$verdict"
  echo "$reason"
}

probe() {
  local verdict=$1 probe32=$2 probe64=$3 expected=${4:-$PROBE_CODE}
  local shared=${MERVO_WOW64_VERDICT:-}
  if [ -z "$shared" ] || [ "$shared" -ef "$verdict" ] || [ "$shared" = "$verdict" ]; then
    run_probes "$verdict" "$probe32" "$probe64" "$expected"
    return
  fi
  # The run's one probe: the first caller makes it, the others wait for it.
  mkdir -p "$(dirname "$shared")" "$(dirname "$verdict")"
  exec 8>"$shared.lock"
  flock 8
  if [ ! -s "$shared" ]; then
    run_probes "$shared" "$probe32" "$probe64" "$expected" >/dev/null
  fi
  flock -u 8
  cp "$shared" "$verdict"
  echo "$(sed -n 2p "$verdict") (probed once for this run: $shared)"
}

gate() {
  local verdict=$1
  shift
  [ $# -gt 0 ] || die "usage: wow64-probe.sh gate VERDICT CMD ARG..."
  [ -s "$verdict" ] || die "no verdict at $verdict: the wow64.probe test of this tree has not run"
  case $(head -n 1 "$verdict") in
    runs) exec "$@" ;;
    skip)
      echo "SKIPPED: $(sed -n 2p "$verdict")"
      exit $SKIP_CODE
      ;;
    *) die "$verdict is not a verdict" ;;
  esac
}

action=${1:-}
case $action in
  probe)
    [ $# -ge 4 ] || die "usage: wow64-probe.sh probe VERDICT PROBE32 PROBE64 [EXPECTED]"
    shift
    probe "$@"
    ;;
  gate)
    shift
    [ $# -ge 2 ] || die "usage: wow64-probe.sh gate VERDICT CMD ARG..."
    gate "$@"
    ;;
  *)
    echo "usage: wow64-probe.sh probe VERDICT PROBE32 PROBE64 [EXPECTED] | gate VERDICT CMD ARG..." >&2
    exit 2
    ;;
esac
