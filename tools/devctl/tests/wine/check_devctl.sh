#!/bin/sh
# Checks MERVODevCtl64.exe against Wine's real Setup API: creates three device
# instances (one the INF serves, one of the same vendor's other product, one
# of another vendor), runs "remove", and checks that only the first is gone;
# then checks the rescan's exit code (Wine's CR_FAILURE, 19) and the hand-off
# program (which starts MERVODevCtl64.exe beside it). Last, "unstage": a
# real run of the stager stages the example package, and unstage takes it
# out of C:\windows\inf again (the .inf, its .pnf, and the driver store
# folder where the system keeps one), leaving a file of the same name and
# content outside the store alone.
#
# Usage: check_devctl.sh <x86_64 build dir> <Wine prefix dir> [<i686 build dir>]
# The prefix is made when missing; its wineserver is stopped at the end.
# With an i686 build, the unstage part runs its 32-bit stager and tool, which
# hand their runs to the x86_64 builds (run it in the WoW64 root:
# scripts/wow64-root.sh exec sh check_devctl.sh ...).
set -u
BUILD=$(cd "${1:?x86_64 build folder}" && pwd)
export WINEPREFIX=${2:?Wine prefix folder}
BUILD32=${3:+$(cd "$3" && pwd)}
export WINEDEBUG=-all
WINE=/usr/lib/wine/wine64
TOOLS="$BUILD/tools/devctl"
ROOT=$(cd "$(dirname "$0")/../../../.." && pwd)
PKG="$WINEPREFIX/drive_c/devctl check"
# shellcheck source=../../../../tests/support/wine-checks.sh
. "$ROOT/tests/support/wine-checks.sh"

[ -d "$WINEPREFIX/drive_c" ] || $WINE wineboot -i >/dev/null 2>&1
"$WINESERVER" -p
trap '"$WINESERVER" -k' EXIT

mkdir -p "$PKG"
cp "$TOOLS/MERVODevCtl64.exe" "$TOOLS/MERVOTestDevices.exe" "$TOOLS/MERVODevCtlHandOffCheck.exe" "$PKG/"
printf '[Version]\r\nSignature="$Windows NT$"\r\n[DeviceList]\r\n%%D%%=Install, USB\\VID_0123&PID_4567\r\n[Strings]\r\nD="Example"\r\n' >"$PKG/MERVOUSB.inf"
cd "$PKG" || exit 1

SERVED='USB\VID_0123&PID_4567&REV_0100'
OTHER_PRODUCT='USB\VID_0123&PID_9999'
OTHER_VENDOR='USB\VID_4567&PID_0123'
for id in "$SERVED" "$OTHER_PRODUCT" "$OTHER_VENDOR"; do
    $WINE MERVOTestDevices.exe remove "$id" >/dev/null
    $WINE MERVOTestDevices.exe create "$id" >/dev/null || { echo "FAILED: cannot create $id"; exit 1; }
done

$WINE MERVODevCtl64.exe remove 'C:\devctl check\MERVOUSB.inf' '*VID_0123*'
check "remove exit code" 0 $?
check "served instance removed" 0 "$($WINE MERVOTestDevices.exe count "$SERVED" | tr -d '\r')"
check "same vendor, other product kept" 1 "$($WINE MERVOTestDevices.exe count "$OTHER_PRODUCT" | tr -d '\r')"
check "other vendor kept" 1 "$($WINE MERVOTestDevices.exe count "$OTHER_VENDOR" | tr -d '\r')"

$WINE MERVODevCtl64.exe rescan
check "rescan exit code (CR_FAILURE)" 19 $?
$WINE MERVODevCtl64.exe remove 'C:\devctl check\MERVOUSB.inf'
check "wrong command line" 64 $?

# The stager's own command line, started as the stager starts it.
$WINE MERVOTestDevices.exe create "$SERVED" >/dev/null
cp MERVODevCtl64.exe MERVODevCtl.exe
$WINE MERVOTestDevices.exe run '"C:\devctl check\MERVODevCtl.exe" remove "C:\devctl check\MERVOUSB.inf" *VID_0123*' >/dev/null
check "stager-style remove exit code" 0 $?
check "served instance removed again" 0 "$($WINE MERVOTestDevices.exe count "$SERVED" | tr -d '\r')"

# Hand-off: the check program acts as a 32-bit build on 64-bit Windows.
$WINE MERVODevCtlHandOffCheck.exe rescan
check "hand-off passes the exit code on" 19 $?
rm MERVODevCtl64.exe
$WINE MERVODevCtlHandOffCheck.exe rescan
check "hand-off without the 64-bit build" 70 $?

# Unstage. The stager's runs, as a setup program starts them: the x86_64
# programs, or with a 32-bit build the 32-bit ones, which hand their runs to
# the x86_64 builds beside them (WoW64).
STAGE="$WINEPREFIX/drive_c/stage check"
ELSEWHERE="$WINEPREFIX/drive_c/elsewhere"
INF_STORE="$WINEPREFIX/drive_c/windows/inf"
DRIVER_STORE="$WINEPREFIX/drive_c/windows/system32/driverstore/filerepository"
mkdir -p "$STAGE" "$ELSEWHERE"
cp "$ROOT/examples/package/"* "$STAGE/"
cp "$STAGE/MERVOUSB.inf" "$ELSEWHERE/"
cp "$TOOLS/MERVODevCtl64.exe" "$STAGE/"
if [ -n "$BUILD32" ]; then
    cp "$BUILD32/MERVODriverStager.exe" "$STAGE/"
    cp "$BUILD/MERVODriverStager.exe" "$STAGE/MERVODriverStager64.exe"
    cp "$BUILD32/tools/devctl/MERVODevCtl.exe" "$STAGE/"
else
    cp "$BUILD/MERVODriverStager.exe" "$STAGE/"
    cp "$TOOLS/MERVODevCtl64.exe" "$STAGE/MERVODevCtl.exe"
fi
# The store's copies of the package: files of its content, in the INF folder
# or the driver store.
copies() {
    for f in "$INF_STORE"/*.inf "$INF_STORE"/*.INF; do
        [ -f "$f" ] && cmp -s "$f" "$STAGE/MERVOUSB.inf" && echo "$f"
    done
    if [ -d "$DRIVER_STORE" ]; then
        find "$DRIVER_STORE" -iname '*.inf' -exec cmp -s {} "$STAGE/MERVOUSB.inf" \; -print
    fi
}
unstage() { $WINE "$STAGE/MERVODevCtl.exe" unstage 'C:\stage check\MERVOUSB.inf' "$@"; }
# stage ROUND: the package, by a run of the stager. (Not also the same INF
# under another name: Wine 10 then keeps a second driver store folder that
# no INF of the INF folder names, and so no uninstall call can reach.)
stage() {
    (cd "$STAGE" && $WINE MERVODriverStager.exe nodisplay >/dev/null 2>&1)
    check "$1: the stager's run" 0 $?
    PNFS=$(for f in $(copies); do [ -f "${f%.*}.pnf" ] && echo "${f%.*}.pnf"; done)
    check "$1: the package staged" yes "$(yes_no [ -n "$(copies)" ])"
    check "$1: with its .pnf" yes "$(yes_no [ -n "$PNFS" ])"
    echo "$1: staged $(copies | tr '\n' ' ')"
}
gone() {
    check "$1: no copy left in the stores" "" "$(copies)"
    check "$1: no .pnf left" "" "$(for p in $PNFS; do [ -f "$p" ] && echo "$p"; done)"
}

stage "forced"
unstage force
check "forced: unstage force" 0 $?
gone "forced"

stage "unforced"
unstage
status=$?
# Without force Windows takes a copy out that no present device uses; a
# system that says so and keeps it must not be believed.
if [ -n "$(copies)" ]; then
    check "unforced: a copy left is not reported as removed" 75 $status
    unstage force
    check "unforced: then unstage force" 0 $?
else
    check "unforced: unstage" 0 $status
fi
gone "unforced"

unstage force
check "second unstage: nothing staged" 73 $?
check "the file of the same name elsewhere kept" yes "$(yes_no [ -f "$ELSEWHERE/MERVOUSB.inf" ])"
check "the package's own INF kept" yes "$(yes_no [ -f "$STAGE/MERVOUSB.inf" ])"
$WINE "$STAGE/MERVODevCtl.exe" unstage 'C:\stage check\absent.inf'
check "unstage of an absent INF" 65 $?

# trust and untrust: the publisher's certificate in the local machine's
# TrustedPublisher store, looked at where the system keeps it (the registry;
# a deletion gets there only through the store's commit). Root stays untouched.
CERTS="$ROOT/tools/devctl/tests/certificates"
cp "$CERTS/publisher.pem" "$CERTS/publisher.cer" "$CERTS/ca.pem" "$STAGE/"
thumbprint() { openssl x509 -in "$1" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g'; }
PUBLISHER=$(thumbprint "$CERTS/publisher.pem")
AUTHORITY=$(thumbprint "$CERTS/ca.pem")
in_store() {  # in_store STORE THUMBPRINT: yes or no
    if $WINE reg query "HKLM\\Software\\Microsoft\\SystemCertificates\\$1\\Certificates\\$2" >/dev/null 2>&1; then
        echo yes
    else
        echo no
    fi
}
devctl() { $WINE "$STAGE/MERVODevCtl.exe" "$@" >/dev/null; }
devctl trust 'C:\stage check\publisher.pem'
check "trust (PEM)" 0 $?
check "trust: in TrustedPublisher" yes "$(in_store TrustedPublisher "$PUBLISHER")"
check "trust: not in Root" no "$(in_store Root "$PUBLISHER")"
devctl trust 'C:\stage check\publisher.cer'
check "trust again (DER)" 0 $?
{ printf 'MERVO publisher certificate\r\n'; cat "$CERTS/publisher.pem"; } >"$STAGE/commented.pem"
devctl trust 'C:\stage check\commented.pem'
check "trust again (PEM after a comment line)" 0 $?
devctl untrust 'C:\stage check\publisher.cer'
check "untrust" 0 $?
check "untrust: gone from TrustedPublisher" no "$(in_store TrustedPublisher "$PUBLISHER")"
devctl untrust 'C:\stage check\publisher.pem'
check "untrust again: not trusted" 84 $?
devctl trust 'C:\stage check\ca.pem'
check "trust of a CA certificate refused" 80 $?
check "the CA certificate in neither store" "no no" \
    "$(in_store TrustedPublisher "$AUTHORITY") $(in_store Root "$AUTHORITY")"
devctl trust 'C:\stage check\MERVOUSB.inf'
check "trust of a file that is no certificate" 79 $?

finish_checks
