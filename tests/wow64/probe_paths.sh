#!/usr/bin/env bash
# Both ends of scripts/wow64-probe.sh on any machine: the x86_64 probe stands
# in for the i686 one, so that "runs" and "skip" are each reached whether or
# not this machine can run 32-bit code; a broken control and a missing
# verdict must fail, never skip.
#
# Usage: probe_paths.sh PROBE64 WORK_DIR
set -uo pipefail
PROBE=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/wow64-probe.sh
probe64=$1
work=$2
unset MERVO_WOW64_VERDICT
rm -rf "$work/verdicts"
mkdir -p "$work/verdicts"
failures=0

check() {
  local what=$1 expected=$2 actual=$3
  if [ "$expected" = "$actual" ]; then
    echo "ok: $what"
  else
    echo "FAILED: $what: expected [$expected], got [$actual]"
    failures=$((failures + 1))
  fi
}
contains() {
  local what=$1 text=$2 part=$3
  case $text in
    *"$part"*) echo "ok: $what" ;;
    *) echo "FAILED: $what: [$part] not in [$text]"; failures=$((failures + 1)) ;;
  esac
}

# Row table: name | expected code of the "32-bit" probe | verdict | gate's exit code
while IFS='|' read -r name expected verdict gate_code; do
  file=$work/probe/$name
  "$PROBE" probe "$file" "$probe64" "$probe64" "$expected" >"$work/verdicts/$name.out" 2>&1
  check "$name: probe exit code" 0 $?
  check "$name: verdict" "$verdict" "$(head -n 1 "$file" 2>/dev/null)"
  rm -f "$work/verdicts/ran"
  output=$("$PROBE" gate "$file" sh -c "touch '$work/verdicts/ran'; echo through")
  check "$name: gate exit code" "$gate_code" $?
  if [ "$verdict" = runs ]; then
    check "$name: gate runs the command" through "$output"
  else
    check "$name: gate does not run the command" no "$([ -e "$work/verdicts/ran" ] && echo yes || echo no)"
    contains "$name: skip line" "$output" "SKIPPED: 32-bit Windows programs cannot run on this machine"
    contains "$name: reason names the code" "$output" "ended with 42, not $expected"
    contains "$name: reason names the kernel" "$output" "the kernel"
  fi
done <<'EOF'
right_code|42|runs|0
wrong_code|43|skip|77
EOF

# A control that does not run is a broken root: a failure, and no verdict.
echo "not a program" >"$work/verdicts/broken.exe"
"$PROBE" probe "$work/probe/broken" "$probe64" "$work/verdicts/broken.exe" >"$work/verdicts/broken.out" 2>&1
check "broken control: probe fails" 1 $?
check "broken control: no verdict" no "$([ -e "$work/probe/broken" ] && echo yes || echo no)"

# No verdict: the gate fails and runs nothing.
"$PROBE" gate "$work/verdicts/none" true >/dev/null 2>&1
check "gate without verdict fails" 1 $?

# One probe per run: with MERVO_WOW64_VERDICT set, the first probe writes it
# and a later one copies it (its probe programs are never started).
shared=$work/verdicts/run-verdict
MERVO_WOW64_VERDICT=$shared "$PROBE" probe "$work/probe/first" "$probe64" "$probe64" >/dev/null 2>&1
check "shared verdict: first probe" runs "$(head -n 1 "$shared" 2>/dev/null)"
MERVO_WOW64_VERDICT=$shared "$PROBE" probe "$work/verdicts/second" /nonexistent /nonexistent >/dev/null 2>&1
check "shared verdict: second probe copies" "$(cat "$shared")" "$(cat "$work/verdicts/second" 2>/dev/null)"

if [ $failures -ne 0 ]; then
  echo "FAILED: $failures checks"
  exit 1
fi
echo "all probe paths passed"
