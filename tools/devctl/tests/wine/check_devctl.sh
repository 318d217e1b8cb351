#!/bin/sh
# Checks MERVODevCtl64.exe against Wine's real Setup API: creates three device
# instances (one the INF serves, one of the same vendor's other product, one
# of another vendor), runs "remove", and checks that only the first is gone;
# then checks the rescan's exit code (Wine's CR_FAILURE, 19) and the hand-off
# program (which starts MERVODevCtl64.exe beside it).
#
# Usage: check_devctl.sh <x86_64 build dir> <Wine prefix dir>
# The prefix is made when missing; its wineserver is stopped at the end.
set -u
BUILD=${1:?x86_64 build folder}
export WINEPREFIX=${2:?Wine prefix folder}
export WINEDEBUG=-all
WINE=/usr/lib/wine/wine64
TOOLS="$BUILD/tools/devctl"
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

[ $FAILED -eq 0 ] && echo "all checks passed"
exit $FAILED
