# Sourced by the Wine check scripts (POSIX sh): one line per check, "ok: ..."
# or "FAILED: ...", a failure kept in FAILED; WINESERVER is the host Wine's
# server program; finish_checks ends the script with the outcome.
FAILED=0

check() {  # check <what> <expected> <actual>
    if [ "$2" = "$3" ]; then
        echo "ok: $1"
    else
        echo "FAILED: $1: expected $2, got $3"
        FAILED=1
    fi
}
yes_no() { if "$@"; then echo yes; else echo no; fi; }
finish_checks() {
    [ $FAILED -eq 0 ] && echo "all checks passed"
    exit $FAILED
}

if [ -x /usr/lib/wine/wineserver64 ]; then
    WINESERVER=/usr/lib/wine/wineserver64
else
    WINESERVER=$(command -v wineserver)
fi
