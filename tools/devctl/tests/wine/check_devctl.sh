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
# Usage: check_devctl.sh <x86_64 build dir> <Wine prefix dir>
# The prefix is made when missing; its wineserver is stopped at the end.
set -u
BUILD=$(cd "${1:?x86_64 build folder}" && pwd)
export WINEPREFIX=${2:?Wine prefix folder}
export WINEDEBUG=-all
WINE=/usr/lib/wine/wine64
TOOLS="$BUILD/tools/devctl"
ROOT=$(cd "$(dirname "$0")/../../../.." && pwd)
PKG="$WINEPREFIX/drive_c/devctl check"
FAILED=0

check() {  # check <what> <expected> <actual>
    if [ "$2" = "$3" ]; then
        echo "ok: $1"
    else
        echo "FAILED: $1: expected $2, got $3"
        FAILED=1
    fi
}

[ -d "$WINEPREFIX/drive_c" ] || $WINE wineboot -i >/dev/null 2>&1
wineserver -p
trap 'wineserver -k' EXIT

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

# Unstage. The stager's run, as a setup program starts it.
STAGE="$WINEPREFIX/drive_c/stage check"
ELSEWHERE="$WINEPREFIX/drive_c/elsewhere"
INF_STORE="$WINEPREFIX/drive_c/windows/inf"
DRIVER_STORE="$WINEPREFIX/drive_c/windows/system32/driverstore/filerepository"
mkdir -p "$STAGE" "$ELSEWHERE"
cp "$ROOT/examples/package/"* "$STAGE/"
cp "$STAGE/MERVOUSB.inf" "$ELSEWHERE/"
cp "$BUILD/MERVODriverStager.exe" "$STAGE/"
cp "$TOOLS/MERVODevCtl64.exe" "$STAGE/MERVODevCtl.exe"
cp "$TOOLS/MERVODevCtl64.exe" "$STAGE/"
# The store's copies of the package: files of its content, .inf or folder.
copies() {
    for f in "$INF_STORE"/*.inf "$INF_STORE"/*.INF; do
        [ -f "$f" ] && cmp -s "$f" "$STAGE/MERVOUSB.inf" && echo "$f"
    done
    if [ -d "$DRIVER_STORE" ]; then
        find "$DRIVER_STORE" -iname '*.inf' -exec cmp -s {} "$STAGE/MERVOUSB.inf" \; -print
    fi
}
pnfs() {
    for f in $(copies); do
        p="${f%.*}.pnf"
        [ -f "$p" ] && echo "$p"
    done
}
(cd "$STAGE" && $WINE MERVODriverStager.exe nodisplay >/dev/null 2>&1)
check "the stager's run" 0 $?
staged=$(copies | head -n1)
check "the stager staged the package" yes "$([ -n "$staged" ] && echo yes || echo no)"
check "with its .pnf" yes "$([ -n "$(pnfs)" ] && echo yes || echo no)"
# A second, identical copy under another name, as a store may hold one.
cp "$staged" "$INF_STORE/oem90.inf"
echo "staged: $(copies | tr '\n' ' ')"

$WINE "$STAGE/MERVODevCtl64.exe" unstage 'C:\stage check\MERVOUSB.inf'
status=$?
# Without force Windows takes the copy out; this system may say so and keep it.
if [ -n "$(copies)" ]; then
    check "unstage without force: a copy left is not reported as removed" 75 $status
else
    check "unstage without force" 0 $status
fi
$WINE "$STAGE/MERVODevCtl64.exe" unstage 'C:\stage check\MERVOUSB.inf' force
check "unstage force" 0 $?
check "no copy left in the INF store" "" "$(copies)"
check "no .pnf left" "" "$(for f in "$INF_STORE"/MERVOUSB.pnf "${staged%.*}.pnf"; do [ -f "$f" ] && echo "$f"; done)"
check "the other copy taken out too" no "$([ -f "$INF_STORE/oem90.inf" ] && echo yes || echo no)"
check "the file of the same name elsewhere kept" yes "$([ -f "$ELSEWHERE/MERVOUSB.inf" ] && echo yes || echo no)"
check "the package's own INF kept" yes "$([ -f "$STAGE/MERVOUSB.inf" ] && echo yes || echo no)"
$WINE "$STAGE/MERVODevCtl64.exe" unstage 'C:\stage check\MERVOUSB.inf' force
check "second unstage: nothing staged" 73 $?
$WINE "$STAGE/MERVODevCtl64.exe" unstage 'C:\stage check\absent.inf'
check "unstage of an absent INF" 65 $?

[ $FAILED -eq 0 ] && echo "all checks passed"
exit $FAILED
