; A device maker's setup program around MERVODriverStager, for 64-bit Windows.
;
;   makensis -DPACKAGE_DIR=<folder> -DOUTFILE=<setup.exe> [-DVERSION=2.5.0.0]
;            [-DINF_NAME=MERVOUSB.inf] MERVOSetup.nsi
;
; PACKAGE_DIR holds what goes into the program folder, flat: the driver
; package (INF, catalog, driver files), MERVODriverStager64.exe,
; MERVODevCtl.exe and MERVODevCtl64.exe, and the maker's publisher
; certificate as publisher.cer when the package is signed with it.
;
; Install: copies the package into Program Files, trusts publisher.cer (when
; present) in the local machine's TrustedPublisher store, runs the stager
; with "nodisplay", and on any failure takes everything out again. Uninstall:
; takes the staged INF out ("unstage force"), the certificate ("untrust"), the
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
;
; Logs: $TEMP\MERVOSetup.log (this program's steps, each with its exit code)
; and beside it $TEMP\MERVOSetup-StageLog.txt (the stager's run log of this
; install). A silent install (/S) shows nothing; the stager shows no box
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

Section "Install"
  SetRegView 64
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

  Delete "$TEMP\MERVOStageLog.txt"
  !insertmacro Run '"$INSTDIR\MERVODriverStager64.exe" nodisplay'
  Delete "$TEMP\MERVOSetup-StageLog.txt"
  CopyFiles /SILENT "$TEMP\MERVOStageLog.txt" "$TEMP\MERVOSetup-StageLog.txt"
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
    SetErrorLevel 0
    Return
  ${EndIf}
  ${If} $Code == 1
  ${OrIf} $Code == 2
    IntOp $Code $Code + 100
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
  SetErrorLevel $Code
  Abort "Installation failed (exit code $Code): see $TEMP\MERVOSetup.log"
SectionEnd

Section "Uninstall"
  SetRegView 64
  FileOpen $Log "$TEMP\MERVOSetup.log" a
  FileSeek $Log 0 END
  !insertmacro Log "${PRODUCT} ${VERSION}: uninstalling from $INSTDIR"
  StrCpy $Trusted 0
  ${If} ${FileExists} "$INSTDIR\publisher.cer"
    StrCpy $Trusted 1
  ${EndIf}
  Call un.TakeOut
  FileClose $Log
  SetErrorLevel 0
SectionEnd
