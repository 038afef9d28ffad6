; The setup program of OstrelZelto for Windows: both widths of OstrelZeltoDLL.dll, each registered
; with its own regsvr32 (on 32-bit Windows only x86\), Warmscope.exe of the machine's width with a
; Start-menu entry, the samples and the docs, and an uninstaller in Add/Remove Programs.
; tools/package.sh makes it with
;   makensis -DVERSION=1.0.0 -DWIN64=<64-bit bin/> -DWIN32=<32-bit bin/> -DTOP=<the zip's top folder>
;            -DDOCS=<docs/> -DOUTFILE=<setup.exe> [-DTARGET=amd64-unicode] setup.nsi
; Exit status of both, also with /S: 0 when all went well, 1 cancelled, 2 stopped by an error, and
; otherwise the sum of 4 (the 64-bit server could not be registered or unregistered) and 8 (the
; 32-bit one).
Unicode true
!ifdef TARGET
  ; A 32-bit setup program runs on every Windows; the 64-bit one exists for machines that run no
  ; 32-bit programs.
  Target ${TARGET}
!endif
!include LogicLib.nsh
!include x64.nsh

!define PRODUCT OstrelZelto
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; $PROGRAMFILES64 is the 32-bit folder on 32-bit Windows.
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show
VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "${PRODUCT} ${VERSION} setup"
VIAddVersionKey CompanyName "Ostrel"
VIAddVersionKey LegalCopyright "OstrelZelto maintainers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var sys64 ; the folder of the 64-bit regsvr32; empty on 32-bit Windows
Var sys32 ; the folder of the 32-bit one
Var status

; Every user's Start menu, the machine's own registry view and each width's System32.
!macro Machine
  SetShellVarContext all
  StrCpy $status 0
  !if ${NSIS_PTR_SIZE} > 4
    SetRegView 64
    StrCpy $sys64 "$WINDIR\System32"
    StrCpy $sys32 "$WINDIR\SysWOW64"
  !else
    ${If} ${RunningX64}
      SetRegView 64
      ; A 32-bit program sees SysWOW64 as System32, and the real one as Sysnative.
      StrCpy $sys64 "$WINDIR\Sysnative"
      StrCpy $sys32 "$WINDIR\SysWOW64"
    ${Else}
      StrCpy $sys64 ""
      StrCpy $sys32 "$WINDIR\System32"
    ${EndIf}
  !endif
!macroend

; Server FOLDER DLL FLAG BIT: runs FOLDER\regsvr32.exe /s FLAG DLL; a failure adds BIT to the
; exit status.
!macro ServerFunction un
  Function ${un}Server
    ClearErrors
    ExecWait '"$0\regsvr32.exe" /s $2 "$1"' $4
    ${If} ${Errors}
      DetailPrint "FAILED: $0\regsvr32.exe could not be started"
      IntOp $status $status | $3
    ${ElseIf} $4 <> 0
      DetailPrint "FAILED: $0\regsvr32.exe $2 ended with status $4 for $1"
      IntOp $status $status | $3
    ${Else}
      DetailPrint "$0\regsvr32.exe $2 $1: done"
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro ServerFunction ""
!insertmacro ServerFunction "un."

!macro Server un folder dll flag bit
  StrCpy $0 "${folder}"
  StrCpy $1 "${dll}"
  StrCpy $2 "${flag}"
  StrCpy $3 ${bit}
  Call ${un}Server
!macroend

Function .onInit
  !insertmacro Machine
FunctionEnd

Function un.onInit
  !insertmacro Machine
FunctionEnd

; An installed version, wherever it is, is removed by its own uninstaller first; "_?=" runs that in
; place and waits for it.
Function RemoveInstalled
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" InstallLocation
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    DetailPrint "Removing the installed version in $0"
    ExecWait '"$0\uninstall.exe" /S _?=$0'
    Delete "$0\uninstall.exe"
    RMDir "$0"
  ${EndIf}
FunctionEnd

Section
  Call RemoveInstalled
  SetOutPath "$INSTDIR\x64"
  File "${WIN64}/OstrelZeltoDLL.dll"
  SetOutPath "$INSTDIR\x86"
  File "${WIN32}/OstrelZeltoDLL.dll"
  SetOutPath "$INSTDIR"
  !if ${NSIS_PTR_SIZE} > 4
    File "${WIN64}/Warmscope.exe"
  !else
    ${If} ${RunningX64}
      File "${WIN64}/Warmscope.exe"
    ${Else}
      File "${WIN32}/Warmscope.exe"
    ${EndIf}
  !endif
  File "${TOP}/MEMBERS.txt"
  SetOutPath "$INSTDIR\samples"
  File "${TOP}/samples/*.*"
  SetOutPath "$INSTDIR\docs"
  File "${DOCS}/*.md"
  File "${DOCS}/*.png"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Warmscope.lnk" "$INSTDIR\Warmscope.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayName "${PRODUCT} ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" Publisher "Ostrel"
  WriteRegStr HKLM "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\Warmscope.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" UninstallString '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" QuietUninstallString '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" NoRepair 1

  ${If} $sys64 != ""
    !insertmacro Server "" $sys64 "$INSTDIR\x64\OstrelZeltoDLL.dll" "" 4
  ${EndIf}
  !insertmacro Server "" $sys32 "$INSTDIR\x86\OstrelZeltoDLL.dll" "" 8
  ${If} $status <> 0
    MessageBox MB_ICONEXCLAMATION "Not every server could be registered (status $status); see the details." /SD IDOK
    SetErrorLevel $status
  ${EndIf}
SectionEnd

Section Uninstall
  ; Unregistered while the DLLs are still there.
  ${If} $sys64 != ""
    !insertmacro Server un. $sys64 "$INSTDIR\x64\OstrelZeltoDLL.dll" /u 4
  ${EndIf}
  !insertmacro Server un. $sys32 "$INSTDIR\x86\OstrelZeltoDLL.dll" /u 8

  Delete "$SMPROGRAMS\${PRODUCT}\Warmscope.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  Delete "$INSTDIR\x64\OstrelZeltoDLL.dll"
  RMDir "$INSTDIR\x64"
  Delete "$INSTDIR\x86\OstrelZeltoDLL.dll"
  RMDir "$INSTDIR\x86"
  Delete "$INSTDIR\Warmscope.exe"
  Delete "$INSTDIR\MEMBERS.txt"
  RMDir /r "$INSTDIR\samples"
  RMDir /r "$INSTDIR\docs"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${If} $status <> 0
    MessageBox MB_ICONEXCLAMATION "Not every server could be unregistered (status $status); see the details." /SD IDOK
    SetErrorLevel $status
  ${EndIf}
SectionEnd
