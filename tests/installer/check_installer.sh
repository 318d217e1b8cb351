#!/bin/sh
# The example setup program (examples/installer) under 64-bit Wine, run as a
# deployment agent runs it: silently (/S), in a window station without
# WSF_VISIBLE, where no box could ever be answered. It builds two installers
# with cmake/MakeInstaller.cmake from this tree's programs, both carrying the
# test publisher's certificate: one of the example package, one of a package
# whose INF names no device (the stager ends with 15). Then, timing each
# step:
#   1. silent install: exit 0; the INF staged (found by its content: Wine 8
#      keeps it under its own name), the driver files in system32\drivers,
#      the certificate in TrustedPublisher, the Add/Remove Programs entry in
#      the 64-bit registry view, both logs in the temporary folder;
#   2. a second install over the first: exit 0, the same state;
#   3. silent uninstall (through _?=, else it returns at once): nothing
#      staged, no certificate, no entry, no driver files, no program folder;
#   4. the failing package: the installer ends with 15 well inside its limit
#      (nothing waits for a box), and nothing is left;
#   5. a package whose staging the Setup API refuses: the stager's error box
#      becomes a line of its log, the installer ends with 22, nothing is left;
#   6. four installs at once, as a deployment agent's retries overlap: each
#      ends with 0 (one at a time has the machine's turn, the others wait; the
#      later ones find the package in place with "MERVODevCtl status" and run
#      no stager), one staged copy, whole driver files;
#   7. an install while another installation holds the machine's turn beyond
#      its wait (an installer built with a 3-second wait): 1618, nothing
#      done, the reason in MERVOSetup-NotRun.log, the earlier setup log whole.
#
# Usage: check_installer.sh <x86_64 build dir> <Wine prefix dir> <cmake>
# The prefix is made anew; its wineserver is stopped at the end.
set -u
BUILD=$(cd "${1:?x86_64 build folder}" && pwd)
export WINEPREFIX=${2:?Wine prefix folder}
CMAKE=${3:?cmake}
export WINEDEBUG=-all
WINE=/usr/lib/wine/wine64
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WORK="$BUILD/installer/check"
STARTER="$BUILD/MERVOInstallerStarter.exe"
CERTIFICATE="$ROOT/tools/devctl/tests/certificates/publisher.cer"
# shellcheck source=../support/wine-checks.sh
. "$ROOT/tests/support/wine-checks.sh"
now_ms() { date +%s%3N; }
# timed NAME COMMAND...: runs the command, keeps its exit code in STATUS and
# prints how long it took.
timed() {
    name=$1
    shift
    start=$(now_ms)
    "$@"
    STATUS=$?
    echo "time: $name: $(($(now_ms) - start)) ms"
}
windows_path() { echo "Z:$1" | tr / '\\'; }

# The installers.
make_installer() {  # make_installer NAME PACKAGE_FOLDER [TURN_WAIT_MS]
    installer=$1
    package=$2
    wait_ms=${3:-}
    set --
    while IFS= read -r line; do
        set -- "$@" "$line"
    done <"$BUILD/installer/make-installer.args"
    "$CMAKE" "$@" -DPACKAGE="$package" -DCERTIFICATE="$CERTIFICATE" -DWORK="$WORK/$installer-package" \
        -DOUTFILE="$WORK/$installer.exe" -DTURN_WAIT_MS="$wait_ms" -P "$ROOT/cmake/MakeInstaller.cmake"
}
rm -rf "$WORK"
mkdir -p "$WORK/no-device"
printf '[Version]\r\nSignature="$Windows NT$"\r\nClass=Ports\r\n[SourceDisksFiles]\r\nmervousb.sys=1\r\n[Strings]\r\nDevDesc="x"\r\n' \
    >"$WORK/no-device/MERVOUSB.inf"
cp "$ROOT/examples/package/mervousb.sys" "$WORK/no-device/"
# The example INF without its [Version] section: the Setup API refuses it,
# and the stager's error box would wait for ever in a deployment agent's
# window station.
mkdir -p "$WORK/no-version"
cp "$ROOT/examples/package/"*.sys "$WORK/no-version/"
sed '/^\[Version\]/,/^\[Manufacturer\]/{/^\[Manufacturer\]/!d}' "$ROOT/examples/package/MERVOUSB.inf" \
    >"$WORK/no-version/MERVOUSB.inf"
timed "build the installer (makensis)" make_installer good "$ROOT/examples/package"
check "installer built" 0 $STATUS
make_installer no-device "$WORK/no-device"
check "failing package's installer built" 0 $?
make_installer no-version "$WORK/no-version"
check "refused package's installer built" 0 $?
make_installer short-wait "$ROOT/examples/package" 3000
check "installer with a short wait built" 0 $?

# The prefix, as Windows 10 (where deployment systems run setup programs
# today; the stager without a manifest sees 6.2), one program kept alive.
rm -rf "$WINEPREFIX"
timed "make the prefix" sh -c "$WINE wineboot -i >/dev/null 2>&1"
"$WINESERVER" -p
$WINE "$STARTER" hold >/dev/null 2>&1 &
HOLD=$!
trap 'kill $HOLD 2>/dev/null; "$WINESERVER" -k' EXIT
$WINE reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1

C="$WINEPREFIX/drive_c"
PROGRAM="$C/Program Files/MERVO/USB Driver"
PROGRAM_WINDOWS='C:\Program Files\MERVO\USB Driver'
TEMP_FOLDER=$(ls -d "$C"/users/*/Temp | head -n 1)
INF="$ROOT/examples/package/MERVOUSB.inf"
ENTRY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\MERVOUSBDriver'
ENTRY32='HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\MERVOUSBDriver'
THUMBPRINT=$(openssl x509 -inform DER -in "$CERTIFICATE" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
CERTIFICATE_KEY="HKLM\\Software\\Microsoft\\SystemCertificates\\TrustedPublisher\\Certificates\\$THUMBPRINT"

staged() {  # the INF store's copies of the package INF
    for f in "$C/windows/inf/"*.inf "$C/windows/inf/"*.INF; do
        [ -f "$f" ] && cmp -s "$f" "$INF" && echo "$f"
    done
}
key() {  # key KEY: yes or no
    if $WINE reg query "$1" >/dev/null 2>&1; then echo yes; else echo no; fi
}
drivers() {
    for f in mervousb.sys mervoser.sys; do
        cmp -s "$ROOT/examples/package/$f" "$C/windows/system32/drivers/$f" && echo "$f"
    done
}
installed() {  # installed STEP
    check "$1: the INF staged" yes "$(yes_no [ -n "$(staged)" ])"
    check "$1: the driver files in system32\\drivers" "mervousb.sys mervoser.sys" "$(drivers | tr '\n' ' ' | sed 's/ $//')"
    check "$1: the certificate in TrustedPublisher" yes "$(key "$CERTIFICATE_KEY")"
    check "$1: the uninstall entry in the 64-bit view" yes "$(key "$ENTRY")"
    check "$1: no entry in the 32-bit view" no "$(key "$ENTRY32")"
    check "$1: the program folder" yes "$(yes_no [ -f "$PROGRAM/MERVODriverStager64.exe" ])"
    check "$1: the setup log" yes "$(yes_no grep -q 'Installed: exit code 0' "$TEMP_FOLDER/MERVOSetup.log")"
    check "$1: the stager's run log beside it" yes "$(yes_no grep -q 'Driver pre-installed OK.' "$TEMP_FOLDER/MERVOSetup-StageLog.txt")"
}
nothing_left() {  # nothing_left STEP
    check "$1: nothing staged" "" "$(staged)"
    check "$1: no driver files" "" "$(drivers)"
    check "$1: no certificate" no "$(key "$CERTIFICATE_KEY")"
    check "$1: no uninstall entry" no "$(key "$ENTRY")"
    check "$1: no program files" "" "$(ls -A "$PROGRAM" 2>/dev/null | grep -v -i '^uninstall.exe$')"
}
# install NAME STEP: the installer, silent, as a deployment agent starts it.
install() {
    timed "$2" $WINE "$STARTER" run unattended 60000 "$(windows_path "$WORK/$1.exe")" /S
}

install good "silent install"
check "silent install: exit code" 0 $STATUS
installed "silent install"

install good "second install over the first"
check "second install: exit code" 0 $STATUS
installed "second install"
check "second install: one staged copy" 1 "$(staged | wc -l | tr -d ' ')"

# The uninstaller copies itself away and returns at once unless it is told
# its folder with _?= (bare: hence the Windows-side starter).
timed "silent uninstall" $WINE "$STARTER" run unattended 60000 "$PROGRAM_WINDOWS\\uninstall.exe" /S "_?=$PROGRAM_WINDOWS"
check "silent uninstall: exit code" 0 $STATUS
nothing_left "silent uninstall"
rm -rf "$PROGRAM"

install no-device "install of a package the stager refuses (15)"
check "failing install: the installer's code carries the stager's 15" 15 $STATUS
nothing_left "failing install"
check "failing install: the log says so" yes "$(yes_no grep -q 'Not installed: exit code 15' "$TEMP_FOLDER/MERVOSetup.log")"

install no-version "install of a package whose staging fails with a box (22)"
check "refused install: the installer's code carries the stager's 22" 22 $STATUS
nothing_left "refused install"
check "refused install: the box went to the stager's log" yes \
    "$(yes_no grep -q 'Message box not shown (no interactive desktop): Error: ' "$TEMP_FOLDER/MERVOSetup-StageLog.txt")"

# Four installs at once; each exit code into its own file.
rm -rf "$PROGRAM"
start=$(now_ms)
pids=""
for i in 1 2 3 4; do
    ( $WINE "$STARTER" run unattended 300000 "$(windows_path "$WORK/good.exe")" /S >"$WORK/at-once-$i.out" 2>&1
      echo $? >"$WORK/at-once-$i.code" ) &
    pids="$pids $!"
done
for pid in $pids; do wait "$pid"; done
echo "time: four installs at once: $(($(now_ms) - start)) ms ($(cat "$WORK"/at-once-*.out | tr '\n' ' '))"
check "four at once: exit codes" "0 0 0 0" "$(cat "$WORK"/at-once-*.code | tr '\n' ' ' | sed 's/ $//')"
installed "four at once"
check "four at once: one staged copy" 1 "$(staged | wc -l | tr -d ' ')"
check "four at once: the last found the package in place" yes \
    "$(yes_no grep -q 'The package is in place already' "$TEMP_FOLDER/MERVOSetup.log")"

# An install while another installation keeps the turn past the wait.
cp "$TEMP_FOLDER/MERVOSetup.log" "$WORK/setup-log-before"
$WINE "$STARTER" hold-turn 15000 >"$WORK/holder.out" 2>&1 &
HOLDER=$!
tries=0
while ! grep -q "turn held" "$WORK/holder.out" 2>/dev/null && [ $tries -lt 100 ]; do
    sleep 0.1
    tries=$((tries + 1))
done
timed "install while the turn is held (3 s wait)" $WINE "$STARTER" run unattended 60000 \
    "$(windows_path "$WORK/short-wait.exe")" /S >"$WORK/short-wait.out"
cat "$WORK/short-wait.out"
check "turn held: the installer ends with 1618" 1618 "$(sed -n 's/.*exit code \([0-9]*\).*/\1/p' "$WORK/short-wait.out")"
check "turn held: the reason beside the logs" yes \
    "$(yes_no grep -q 'another installation was at work for 3000 ms: nothing was done (exit code 1618)' "$TEMP_FOLDER/MERVOSetup-NotRun.log")"
check "turn held: the setup log of the install before is whole" yes \
    "$(yes_no cmp -s "$WORK/setup-log-before" "$TEMP_FOLDER/MERVOSetup.log")"
wait $HOLDER
installed "after the refused install"

finish_checks
