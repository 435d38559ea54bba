; The installation folder's access: Explorer of every user loads the DLL from
; it, and the uninstaller in it runs elevated, so only administrators may
; change what lies there.
;   PrepareFolder   refuses (exit 9, nothing written) a $INSTDIR that others
;                   than administrators may change or move aside, as
;                   "quillshell-package.exe check-folder" judges it (the
;                   MSI's check too); makes a missing one, outside Program
;                   Files with Program Files' ACL
; Needs LogicLib, WordFunc and the System and nsExec plugins; calls
; CanonicalFolder and ${Log}.

; What Program Files passes to a folder made in it: SYSTEM and Administrators
; full control, Users, ALL APPLICATION PACKAGES (AC) and ALL RESTRICTED
; APPLICATION PACKAGES (S-1-15-2-2; "App Container SID constants") read and
; execute (0x1200a9: FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), for the
; folder, its subfolders and files. Protected ("P"): nothing is inherited from
; a parent that others may write, as C:\ lets every user add folders and
; modify what they hold. Owned by Administrators, as an elevated
; administrator's folders are by default; without the owner where the
; account cannot name that owner.
!define FOLDER_ACL "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;AC)(A;OICI;0x1200a9;;;S-1-15-2-2)"
!define FOLDER_OWNER "O:BA"

; Makes the folder $R1 with an ACL in SDDL; out: $0, 0 or the error.
!macro FolderCreateWith sddl
  Push "${sddl}"
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w s, i 1, *p .r1, p 0) i .r0'
  ${If} $0 <> 0
    ; SECURITY_ATTRIBUTES: nLength, (padding), lpSecurityDescriptor, bInheritHandle, (padding)
    System::Call '*(i 24, i 0, p r1, i 0, i 0) p .r2'
    System::Call 'kernel32::CreateDirectoryW(w R1, p r2) i .r0 ?e'
    Pop $3
    System::Free $2
    System::Call 'kernel32::LocalFree(p r1)'
    ${If} $0 <> 0
      StrCpy $0 0
    ${Else}
      StrCpy $0 $3
    ${EndIf}
  ${Else}
    StrCpy $0 "invalid ACL"
  ${EndIf}
!macroend

; Sets $5 to 1 when $R0 lies in the folder given.
!macro FolderIsUnder parent
  Push $R0
  StrCpy $R0 "${parent}"
  Call CanonicalFolder
  StrCpy $R1 "$R0\"
  Pop $R0
  StrLen $2 $R1
  StrCpy $3 $R0 $2
  ${If} $3 == $R1
    StrCpy $5 1
  ${EndIf}
!macroend

; Makes $R0 and every missing folder above it: in Program Files as it passes
; them on, elsewhere with its ACL, given at creation, so that nobody can open
; or fill the folder before it is protected. Out: $0, 0 or the error.
Function FolderCreate
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $R1
  Push $R2
  ; Inside Program Files?
  StrCpy $5 0
  !insertmacro FolderIsUnder $PROGRAMFILES64
  !insertmacro FolderIsUnder $PROGRAMFILES
  ; The missing folders, deepest first on the stack.
  StrCpy $R1 $R0
  StrCpy $4 0
  ${DoUntil} ${FileExists} "$R1\*.*"
    Push $R1
    IntOp $4 $4 + 1
    StrLen $2 $R1
    ${Do}
      IntOp $2 $2 - 1
      StrCpy $3 $R1 1 $2
      ${If} $3 == "\"
      ${OrIf} $2 <= 0
        ${Break}
      ${EndIf}
    ${Loop}
    ${If} $2 <= 0
      ${Break}
    ${EndIf}
    StrCpy $R1 $R1 $2
  ${Loop}
  StrCpy $0 0
  ${For} $R2 1 $4
    Pop $R1
    ${If} $0 == 0
      ${If} $5 = 1
        System::Call 'kernel32::CreateDirectoryW(w R1, p 0) i .r0 ?e'
        Pop $3
        ${If} $0 <> 0
          StrCpy $0 0
        ${Else}
          StrCpy $0 $3
        ${EndIf}
      ${Else}
        !insertmacro FolderCreateWith "${FOLDER_OWNER}${FOLDER_ACL}"
        ${If} $0 == 1307  ; ERROR_INVALID_OWNER
          !insertmacro FolderCreateWith "${FOLDER_ACL}"
        ${EndIf}
      ${EndIf}
      ${If} $0 != 0
        StrCpy $0 "$R1: error $0"
      ${EndIf}
    ${EndIf}
  ${Next}
  Pop $R2
  Pop $R1
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; Before anything is written: $INSTDIR checked, then made if missing.
Function PrepareFolder
  Push $0
  Push $1
  Push $R0
  StrCpy $R0 $INSTDIR
  Call CanonicalFolder
  InitPluginsDir
  File "/oname=$PLUGINSDIR\quillshell-package.exe" "${BINDIR}\quillshell-package.exe"
  nsExec::ExecToStack '"$PLUGINSDIR\quillshell-package.exe" check-folder $R0'
  Pop $0  ; its exit code, or "error"
  Pop $1  ; what it wrote: why it refuses
  Delete "$PLUGINSDIR\quillshell-package.exe"
  ${If} $0 == 9
    ${WordReplace} $1 "$\r$\n" "" "+" $1
    ${Log} "$1"
    MessageBox MB_ICONSTOP|MB_OK "$1. Explorer of every user would load what they put there: choose another folder, or one that only administrators may change." /SD IDOK
    SetErrorLevel 9
    Abort
  ${ElseIf} $0 != 0
    ${Log} "cannot check who may change $R0 (quillshell-package.exe: $0): nothing was installed"
    SetErrorLevel 3
    Abort
  ${EndIf}
  ${IfNot} ${FileExists} "$R0\*.*"
    Call FolderCreate
    ${If} $0 != 0
      ${Log} "cannot make the folder $0: nothing was installed"
      SetErrorLevel 3
      Abort
    ${EndIf}
  ${EndIf}
  Pop $R0
  Pop $1
  Pop $0
FunctionEnd
