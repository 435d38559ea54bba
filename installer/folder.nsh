; The installation folder's access: Explorer of every user loads the DLL from
; it, and the uninstaller in it runs elevated, so only administrators may
; change what lies there.
;   PrepareFolder   refuses (exit 9, nothing written) an existing $INSTDIR, or
;                   one of its Modern, Modern\Assets and x86 folders, that
;                   others than administrators may write, and one that they
;                   may move aside through a folder above it; makes a
;                   missing one, outside Program Files with Program Files' ACL
; Needs LogicLib and the System plugin; calls CanonicalFolder.

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
; Rights that change a folder or what it holds: FILE_WRITE_DATA (add a file),
; FILE_APPEND_DATA (add a folder), FILE_WRITE_EA, FILE_DELETE_CHILD,
; FILE_WRITE_ATTRIBUTES, DELETE, WRITE_DAC, WRITE_OWNER, GENERIC_ALL and
; GENERIC_WRITE ("File Security and Access Rights").
!define FOLDER_WRITE_RIGHTS 0x500D0156
; Rights on a folder above that let someone move the folder below aside and
; put another in its place: DELETE (of itself; a folder moves with what it
; holds), FILE_DELETE_CHILD (of what it holds), and WRITE_DAC, WRITE_OWNER
; and GENERIC_ALL, which give the others.
!define FOLDER_MOVE_RIGHTS 0x100D0040
!define SE_FILE_OBJECT 1
!define INHERIT_ONLY_ACE 0x08

; Whether a SID string names an administrator: SYSTEM, Administrators,
; TrustedInstaller, or the account that runs this installer while its
; Administrators membership is in force (Wine names it the owner of every file).
; In: $R5 the SID; out: $R5 1 or 0.
Function FolderIsAdminSid
  ${If} $R5 == "S-1-5-18"
  ${OrIf} $R5 == "S-1-5-32-544"
  ${OrIf} $R5 == "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
  ${OrIf} $R5 == $R6
    StrCpy $R5 1
  ${Else}
    StrCpy $R5 0
  ${EndIf}
FunctionEnd

; A SID's string form. In: $R4 a PSID; out: $R5.
Function FolderSidString
  Push $0
  StrCpy $R5 ""
  System::Call 'advapi32::ConvertSidToStringSidW(p R4, *p .r0) i .R5'
  ${If} $R5 <> 0
    System::Call 'kernel32::lstrcpynW(w .R5, p r0, i ${NSIS_MAX_STRLEN})'
    System::Call 'kernel32::LocalFree(p r0)'
  ${Else}
    StrCpy $R5 "?"
  ${EndIf}
  Pop $0
FunctionEnd

; Who other than an administrator may change a folder: its owner (who may
; always rewrite the ACL) or the SID of an allow entry that applies to the
; folder itself with any of the rights given. Deny entries are not weighed:
; they only ever make a folder refused that Windows would protect.
; In: $R0 the folder, $R6 this account's SID, $R7 the rights; out: $R0, ""
; for nobody.
Function FolderWriter
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  System::Call 'advapi32::GetNamedSecurityInfoW(w R0, i ${SE_FILE_OBJECT}, i 5, *p .r1, p 0, *p .r2, p 0, *p .r3) i .r0'
  ${If} $0 <> 0
    StrCpy $R0 "(its ACL cannot be read: error $0)"
    Goto done
  ${EndIf}
  StrCpy $R4 $1
  Call FolderSidString
  StrCpy $R1 $R5
  Call FolderIsAdminSid
  ${If} $R5 <> 1
    StrCpy $R0 "$R1 (the owner)"
    Goto free
  ${EndIf}
  ; A null DACL lets everybody do everything.
  ${If} $2 = 0
    StrCpy $R0 "everybody (no ACL)"
    Goto free
  ${EndIf}
  StrCpy $R0 ""
  ; ACL header: revision, padding, size, ACE count.
  System::Call '*$2(&i1, &i1, &i2, &i2 .r4)'
  ${For} $R1 0 $4
    ${If} $R1 = $4
      ${Break}
    ${EndIf}
    System::Call 'advapi32::GetAce(p r2, i R1, *p .R4) i .r0'
    ${If} $0 = 0
      ${Continue}
    ${EndIf}
    ; ACE header (type, flags, size), then the access mask and the SID.
    System::Call '*$R4(&i1 .R2, &i1 .R3, &i2, i .r0)'
    ; ACCESS_ALLOWED_ACE_TYPE and ACCESS_ALLOWED_CALLBACK_ACE_TYPE share that layout.
    ${If} $R2 <> 0
    ${AndIf} $R2 <> 9
      ${Continue}
    ${EndIf}
    IntOp $R3 $R3 & ${INHERIT_ONLY_ACE}
    IntOp $0 $0 & $R7
    ${If} $R3 <> 0
    ${OrIf} $0 = 0
      ${Continue}
    ${EndIf}
    IntPtrOp $R4 $R4 + 8
    Call FolderSidString
    StrCpy $R2 $R5
    Call FolderIsAdminSid
    ${If} $R5 <> 1
      StrCpy $R0 $R2
      ${Break}
    ${EndIf}
  ${Next}
free:
  System::Call 'kernel32::LocalFree(p r3)'
done:
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; The SID of the account this process runs as, "" unless it is an
; administrator now (elevated). Out: $R6.
Function FolderOwnSid
  Push $0
  Push $1
  Push $2
  Push $R4
  Push $R5
  StrCpy $R6 ""
  StrCpy $1 0
  System::Call 'advapi32::ConvertStringSidToSidW(w "S-1-5-32-544", *p .r2) i .r0'
  ${If} $0 <> 0
    System::Call 'advapi32::CheckTokenMembership(p 0, p r2, *i .r1) i .r0'
    ${If} $0 = 0
      StrCpy $1 0
    ${EndIf}
    System::Call 'kernel32::LocalFree(p r2)'
  ${EndIf}
  ${If} $1 <> 0
    System::Call 'advapi32::OpenProcessToken(p -1, i 8, *p .r0) i .r1'  ; TOKEN_QUERY
  ${EndIf}
  ${If} $1 <> 0
    System::Alloc 512
    Pop $2
    ; TokenUser (1): a TOKEN_USER, whose first member points to the SID.
    System::Call 'advapi32::GetTokenInformation(p r0, i 1, p r2, i 512, *i .r1) i .r1'
    ${If} $1 <> 0
      System::Call '*$2(p .R4)'
      Call FolderSidString
      StrCpy $R6 $R5
    ${EndIf}
    System::Free $2
    System::Call 'kernel32::CloseHandle(p r0)'
  ${EndIf}
  Pop $R5
  Pop $R4
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

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

; Ends the installation with exit code 9: others than administrators may
; change ${folder} ($R0 says how).
!macro FolderRefuse folder
  ${Log} "${folder} $R0, not only by administrators: nothing was installed. Exit code 9"
  MessageBox MB_ICONSTOP|MB_OK "${folder} $R0, not only by administrators. Explorer of every user would load what they put there, so nothing was installed: choose another folder, or one that only administrators may change." /SD IDOK
  SetErrorLevel 9
  Abort
!macroend

; Ends the installation with exit code 9 when others than administrators
; may change $R1<sub>, if that exists.
!macro FolderRefuseWritable sub
  ${If} ${FileExists} "$R1${sub}\*.*"
    StrCpy $R0 "$R1${sub}"
    StrCpy $R7 ${FOLDER_WRITE_RIGHTS}
    Call FolderWriter
    ${If} $R0 != ""
      StrCpy $R0 "may be changed by $R0"
      !insertmacro FolderRefuse "$R1${sub}"
    ${EndIf}
  ${EndIf}
!macroend

; Ends the installation with exit code 9 when others than administrators may
; move $R1, or a folder above it, aside (and put another in its place): the
; folders above that exist, up to the drive's root.
Function FolderRefuseMovable
  Push $R2
  StrCpy $R2 $R1
  ${Do}
    ${GetParent} $R2 $R2
    ${If} $R2 == ""
      ${Break}
    ${EndIf}
    ${If} ${FileExists} "$R2\*.*"
      ; ("C:" names the current folder of drive C:, "C:\" its root)
      StrLen $R0 $R2
      ${If} $R0 = 2
        StrCpy $R0 "$R2\"
      ${Else}
        StrCpy $R0 $R2
      ${EndIf}
      StrCpy $R7 ${FOLDER_MOVE_RIGHTS}
      Call FolderWriter
      ${If} $R0 != ""
        StrCpy $R0 "may be moved aside, with what it holds, through $R2 by $R0"
        !insertmacro FolderRefuse "$R1"
      ${EndIf}
    ${EndIf}
  ${Loop}
  Pop $R2
FunctionEnd

; Before anything is written: $INSTDIR made, or refused with exit 9.
Function PrepareFolder
  Push $0
  Push $R0
  Push $R1
  Push $R6
  Push $R7
  StrCpy $R0 $INSTDIR
  Call CanonicalFolder
  Call FolderOwnSid
  StrCpy $R1 $R0
  Call FolderRefuseMovable
  StrCpy $R0 $R1
  ${If} ${FileExists} "$R0\*.*"
    !insertmacro FolderRefuseWritable ""
    !insertmacro FolderRefuseWritable "\Modern"
    !insertmacro FolderRefuseWritable "\Modern\Assets"
    !insertmacro FolderRefuseWritable "\x86"
  ${Else}
    Call FolderCreate
    ${If} $0 != 0
      DetailPrint "cannot make the folder $0"
      SetErrorLevel 3
      Abort
    ${EndIf}
  ${EndIf}
  Pop $R7
  Pop $R6
  Pop $R1
  Pop $R0
  Pop $0
FunctionEnd
