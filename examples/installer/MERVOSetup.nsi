; A device maker's setup program around MERVODriverStager, for 64-bit Windows.
;
;   makensis -DPACKAGE_DIR=<folder> -DOUTFILE=<setup.exe> [-DVERSION=2.5.0.0]
;            [-DINF_NAME=MERVOUSB.inf] [-DTURN_WAIT_MS=300000] MERVOSetup.nsi
;
; PACKAGE_DIR holds what goes into the program folder, flat: the driver
; package (INF, catalog, driver files), MERVODriverStager64.exe,
; MERVODevCtl.exe and MERVODevCtl64.exe, and the maker's publisher
; certificate as publisher.cer when the package is signed with it.
;
; One installation at a time per machine: install and uninstall first take
; the machine's turn that the stager and the companion tool take (the mutex
; Global\MERVODriverStager.MachineTurn), waiting at most TURN_WAIT_MS (5
; minutes) while another installation has it, and name this process in
; MERVO_MACHINE_TURN, so that the stager and the tool they start run under
; their turn instead of waiting for it.
;
; Install: copies the package into Program Files, trusts publisher.cer (when
; present) in the local machine's TrustedPublisher store, runs the stager
; with "nodisplay" unless "MERVODevCtl status" says the package is in place
; already, and on any failure takes everything out again. Uninstall: takes
; the staged INF out ("unstage force"), the certificate ("untrust"), the
; driver files, the program folder and the Add/Remove Programs entry.
;
; Exit codes (NSIS itself ends with 1 when the user cancels and 2 when it
; aborts, for example when a file cannot be written):
;   0                  installed
;   15, 21, 22, 23     the stager ended with that code; nothing is left installed
;   101, 102           the stager ended with 1 (no temporary folder) or 2
;                      (unsupported Windows); nothing is left installed
;   103                the certificate could not be trusted (MERVODevCtl's code
;                      is in the log); nothing is left installed
;   104                the stager could not be started, or ended with a code of
;                      none of its own; nothing is left installed
;   105                the machine's turn could not be taken; nothing was done
;   1618               another installation was at work for the whole wait (the
;                      code deployment systems read as "another installation is
;                      in progress, retry later"); nothing was done
;
; Logs: $TEMP\MERVOSetup.log (this program's steps, each with its exit code)
; and beside it $TEMP\MERVOSetup-StageLog.txt (the stager's run log of this
; install); an install or uninstall that did not get the machine's turn
; writes only $TEMP\MERVOSetup-NotRun.log, so the logs of the installation
; that had it stay whole. A silent install (/S) shows nothing; the stager shows no box
; either where nobody can answer one (a service's window station).

Unicode true
Target amd64-unicode
!include LogicLib.nsh

!ifndef VERSION
  !define VERSION 2.5.0.0
!endif
!ifndef INF_NAME
  !define INF_NAME MERVOUSB.inf
!endif
!ifndef TURN_WAIT_MS
  !define TURN_WAIT_MS 300000
!endif
; The machine's turn, as the stager names it (src/common/Names.h).
!define TURN_NAME "Global\MERVODriverStager.MachineTurn"
!define TURN_VARIABLE "MERVO_MACHINE_TURN"
!define PRODUCT "MERVO USB Driver"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MERVOUSBDriver"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\MERVO\USB Driver"
RequestExecutionLevel admin
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Log
Var Code
Var Trusted
Var Turn

!macro Log TEXT
  FileWrite $Log `${TEXT}$\r$\n`
  DetailPrint `${TEXT}`
!macroend

; Runs a command line, waits and leaves its exit code in $Code ("none" when
; it could not be started).
!macro Run COMMAND
  ClearErrors
  ExecWait '${COMMAND}' $Code
  ${If} ${Errors}
    StrCpy $Code none
  ${EndIf}
  !insertmacro Log `${COMMAND}: exit code $Code`
!macroend

; Takes out what an install put in: the staged INF, the trust (when this
; program gave it), the driver files, the program folder and the entry.
!macro TakeOut PREFIX
  Function ${PREFIX}TakeOut
    !insertmacro Run '"$INSTDIR\MERVODevCtl.exe" unstage "$INSTDIR\${INF_NAME}" force'
    ${If} $Trusted == 1
      !insertmacro Run '"$INSTDIR\MERVODevCtl.exe" untrust "$INSTDIR\publisher.cer"'
    ${EndIf}
    FindFirst $0 $1 "$INSTDIR\*.sys"
    ${DoWhile} $1 != ""
      Delete "$SYSDIR\drivers\$1"
      FindNext $0 $1
    ${Loop}
    FindClose $0
    Delete "$INSTDIR\*.*"
    RMDir "$INSTDIR"
    RMDir "$INSTDIR\.."
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    !insertmacro Log "Taken out: $INSTDIR"
  FunctionEnd
!macroend
!insertmacro TakeOut ""
!insertmacro TakeOut "un."

; Takes the machine's turn into $Turn (waiting at most TURN_WAIT_MS) and names
; this process for the programs it starts; $Code is 0 when taken, else the
; exit code (1618 the wait ran out, 105 no turn to be had), and nothing else
; is done then but the line in MERVOSetup-NotRun.log. Give the turn back
; (GiveTurnBack) in the same section, on every way out.
!macro TakeTurn PREFIX
  Function ${PREFIX}TakeTurn
    StrCpy $Code 0
    System::Call 'kernel32::CreateMutex(p 0, i 0, t "${TURN_NAME}") p .r0'
    ${If} $0 == 0
      ; Made by another account: waiting needs only SYNCHRONIZE.
      System::Call 'kernel32::OpenMutex(i 0x00100000, i 0, t "${TURN_NAME}") p .r0'
    ${EndIf}
    ${If} $0 == 0
      StrCpy $Code 105
    ${Else}
      System::Call 'kernel32::WaitForSingleObject(p r0, i 0) i .r1'
      ${If} $1 == 258
        DetailPrint "Waiting for another installation to end..."
        System::Call 'kernel32::WaitForSingleObject(p r0, i ${TURN_WAIT_MS}) i .r1'
      ${EndIf}
      ${If} $1 == 0
      ${OrIf} $1 == 128
        StrCpy $Turn $0
        System::Call 'kernel32::GetCurrentProcessId() i .r2'
        System::Call 'kernel32::SetEnvironmentVariable(t "${TURN_VARIABLE}", t "$2") i .r3'
        ${If} $3 == 0
          Call ${PREFIX}GiveTurnBack
          StrCpy $Code 105
        ${EndIf}
      ${Else}
        System::Call 'kernel32::CloseHandle(p r0)'
        ${If} $1 == 258
          StrCpy $Code 1618
        ${Else}
          StrCpy $Code 105
        ${EndIf}
      ${EndIf}
    ${EndIf}
    ${If} $Code != 0
      FileOpen $0 "$TEMP\MERVOSetup-NotRun.log" w
      ${If} $Code == 1618
        FileWrite $0 "${PRODUCT} ${VERSION}: another installation was at work for ${TURN_WAIT_MS} ms: nothing was done (exit code 1618)$\r$\n"
      ${Else}
        FileWrite $0 "${PRODUCT} ${VERSION}: cannot take the machine's turn: nothing was done (exit code 105)$\r$\n"
      ${EndIf}
      FileClose $0
    ${EndIf}
  FunctionEnd

  Function ${PREFIX}GiveTurnBack
    ${If} $Turn != ""
      System::Call 'kernel32::ReleaseMutex(p $Turn)'
      System::Call 'kernel32::CloseHandle(p $Turn)'
      StrCpy $Turn ""
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro TakeTurn ""
!insertmacro TakeTurn "un."

Section "Install"
  SetRegView 64
  Call TakeTurn
  ${If} $Code != 0
    SetErrorLevel $Code
    Abort "Not installed: another installation is at work (exit code $Code)"
  ${EndIf}
  FileOpen $Log "$TEMP\MERVOSetup.log" w
  !insertmacro Log "${PRODUCT} ${VERSION}: installing into $INSTDIR"
  SetOutPath "$INSTDIR"
  File "${PACKAGE_DIR}/*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  StrCpy $Trusted 0
  ${If} ${FileExists} "$INSTDIR\publisher.cer"
    !insertmacro Run '"$INSTDIR\MERVODevCtl.exe" trust "$INSTDIR\publisher.cer"'
    ${If} $Code != 0
      StrCpy $Code 103
      Goto failed
    ${EndIf}
    StrCpy $Trusted 1
  ${EndIf}

  ; A package in place already (an install repeated, a deployment system's
  ; retry) needs no new run of the stager.
  !insertmacro Run '"$INSTDIR\MERVODevCtl.exe" status "$INSTDIR\${INF_NAME}"'
  ${If} $Code == 0
    !insertmacro Log "The package is in place already: the stager is not run again"
  ${Else}
    Delete "$TEMP\MERVOStageLog.txt"
    !insertmacro Run '"$INSTDIR\MERVODriverStager64.exe" nodisplay'
    Delete "$TEMP\MERVOSetup-StageLog.txt"
    CopyFiles /SILENT "$TEMP\MERVOStageLog.txt" "$TEMP\MERVOSetup-StageLog.txt"
  ${EndIf}
  ${If} $Code == 0
    WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "MERVO"
    WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1
    !insertmacro Log "Installed: exit code 0"
    FileClose $Log
    Call GiveTurnBack
    SetErrorLevel 0
    Return
  ${EndIf}
  ${If} $Code == 1
  ${OrIf} $Code == 2
    IntOp $Code $Code + 100
  ${ElseIf} $Code == 24
    ; The stager runs under this program's turn; should it not, it is an
    ; installation that did not get its turn all the same.
    StrCpy $Code 1618
  ${ElseIf} $Code != 15
  ${AndIf} $Code != 21
  ${AndIf} $Code != 22
  ${AndIf} $Code != 23
    StrCpy $Code 104
  ${EndIf}

failed:
  Push $Code
  Call TakeOut
  Pop $Code
  !insertmacro Log "Not installed: exit code $Code"
  FileClose $Log
  Call GiveTurnBack
  SetErrorLevel $Code
  Abort "Installation failed (exit code $Code): see $TEMP\MERVOSetup.log"
SectionEnd

Section "Uninstall"
  SetRegView 64
  Call un.TakeTurn
  ${If} $Code != 0
    SetErrorLevel $Code
    Abort "Not uninstalled: another installation is at work (exit code $Code)"
  ${EndIf}
  FileOpen $Log "$TEMP\MERVOSetup.log" a
  FileSeek $Log 0 END
  !insertmacro Log "${PRODUCT} ${VERSION}: uninstalling from $INSTDIR"
  StrCpy $Trusted 0
  ${If} ${FileExists} "$INSTDIR\publisher.cer"
    StrCpy $Trusted 1
  ${EndIf}
  Call un.TakeOut
  FileClose $Log
  Call un.GiveTurnBack
  SetErrorLevel 0
SectionEnd
