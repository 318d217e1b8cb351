#!/usr/bin/env bash
# The Wine environment of the end-to-end tests and of the demo.
#
#   wine-env.sh start STATE_DIR [wow64]
#                                 fresh prefix STATE_DIR/prefix, persistent
#                                 wineserver, Xvfb on a free display when
#                                 DISPLAY is unset; writes STATE_DIR/env.
#                                 With "wow64", the Wine of the root that
#                                 scripts/wow64-root.sh makes (Debian 13's,
#                                 which runs 32-bit programs too) does all
#                                 of that environment's work, and `run`
#                                 and `stop` use it as well
#   wine-env.sh run STATE_DIR PROGRAM.exe ARGS...
#                                 runs a Windows program under wine64 in that
#                                 environment (the ctest emulator of the tests)
#   wine-env.sh stop STATE_DIR    ends the wineserver and the Xvfb it started
#
# Everything started here runs detached from the caller's output: ctest waits
# for a test's output pipe to close, and a persistent wineserver, Wine's
# desktop process or Xvfb holding it would keep the test hanging.
set -euo pipefail

WOW64_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/wow64-root.sh

# The host's Wine, or the root's (set_mode wow64).
set_mode() {
  MODE=${1:-host}
  # The prefix of every command of the environment's Wine.
  IN_WINE=()
  case $MODE in
    host)
      WINE64=${MERVO_WINE64:-/usr/lib/wine/wine64}
      if [ -x /usr/lib/wine/wineserver64 ]; then
        WINESERVER=/usr/lib/wine/wineserver64
      else
        WINESERVER=$(command -v wineserver)
      fi
      ;;
    wow64)
      WINE64=/usr/lib/wine/wine64
      WINESERVER=/usr/lib/wine/wineserver64
      # Inside the root, in a mount namespace of its own that ends with its
      # last process.
      IN_WINE=("$WOW64_ROOT" exec)
      ;;
    *) echo "wine-env: unknown mode $MODE" >&2; exit 2 ;;
  esac
}


action=${1:?usage: wine-env.sh start|run|stop STATE_DIR ...}
state=${2:?usage: wine-env.sh start|run|stop STATE_DIR ...}
shift 2

load_env() {
  if [ ! -f "$state/env" ]; then
    echo "wine-env: $state/env missing: the Wine environment was not started" >&2
    exit 1
  fi
  # shellcheck disable=SC1091
  . "$state/env"
  set_mode "${WINE_MODE:-host}"
  export WINEPREFIX DISPLAY WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

stop_env() {
  if [ -f "$state/env" ]; then
    # shellcheck disable=SC1091
    . "$state/env"
    set_mode "${WINE_MODE:-host}"
    # -k ends the prefix's server and its processes; -w returns once it is gone.
    WINEPREFIX=$WINEPREFIX "${IN_WINE[@]}" "$WINESERVER" -k >/dev/null 2>&1 || true
    WINEPREFIX=$WINEPREFIX timeout 20 "${IN_WINE[@]}" "$WINESERVER" -w >/dev/null 2>&1 || true
    if [ -n "${XVFB_PID:-}" ] && kill -0 "$XVFB_PID" 2>/dev/null; then
      kill "$XVFB_PID" 2>/dev/null || true
    fi
    rm -f "$state/env"
  fi
}

start_env() {
  local mode=${1:-host}
  mkdir -p "$state"
  stop_env
  set_mode "$mode"
  if [ "$mode" = wow64 ]; then
    # Made once per machine (minutes), then only checked.
    "$WOW64_ROOT" path >/dev/null
  fi
  local log=$state/start.log
  exec 3>&1 >"$log" 2>&1
  # A failing command ends the script (errexit): show the caller why.
  trap 'echo "wine-env: start failed; its log:" >&3; cat "$log" >&3' ERR
  local prefix=$state/prefix
  rm -rf "$prefix"
  local xvfb_pid=""
  local display=${DISPLAY:-}
  if [ -z "$display" ]; then
    # Xvfb picks a free display number itself and writes it once it listens.
    rm -f "$state/display"
    setsid Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp \
      4>"$state/display" </dev/null >"$state/xvfb.log" 2>&1 3>&- &
    xvfb_pid=$!
    for _ in $(seq 100); do
      [ -s "$state/display" ] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ ! -s "$state/display" ]; then
      echo "wine-env: Xvfb did not start" >&3
      cat "$state/xvfb.log" >&3
      exit 1
    fi
    display=:$(tr -d '[:space:]' <"$state/display")
  fi
  {
    echo "WINEPREFIX='$prefix'"
    echo "DISPLAY='$display'"
    echo "XVFB_PID='$xvfb_pid'"
    echo "WINE_MODE='$mode'"
  } >"$state/env"
  load_env
  # A persistent server first: every later program start then takes a
  # fraction of a second instead of seconds.
  mkdir -p "$prefix"
  setsid "${IN_WINE[@]}" "$WINESERVER" -p </dev/null >/dev/null 2>&1 3>&- || true
  "${IN_WINE[@]}" "$WINE64" wineboot -i </dev/null 3>&- || { echo "wine-env: wineboot failed" >&3; cat "$log" >&3; exit 1; }
  echo "wine-env: prefix $prefix, display $display${xvfb_pid:+ (Xvfb $xvfb_pid)}, Wine: $mode" >&3
}

case $action in
  start) start_env "$@" ;;
  stop) stop_env ;;
  run)
    load_env
    # The program's output goes through a file, not straight to the caller:
    # a Wine service process that a test happens to start outlives the test
    # and would hold the caller's pipe open.
    out=$(mktemp)
    status=0
    "${IN_WINE[@]}" "$WINE64" "$@" </dev/null >"$out" 2>&1 || status=$?
    cat "$out"
    rm -f "$out"
    exit "$status"
    ;;
  *) echo "usage: wine-env.sh start|run|stop STATE_DIR ..." >&2; exit 2 ;;
esac
