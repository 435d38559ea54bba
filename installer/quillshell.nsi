; The quillshell installer: a 64-bit NSIS installer that runs silently with /S.
;
;   quillshell-setup.exe [/S] [/D=<folder>]     (/D= last, unquoted, spaces allowed)
;   uninstall.exe [/S]
;
; What it writes (64-bit view; HKCR is HKLM\SOFTWARE\Classes):
;   <folder>\quillshell.dll, quillshell64reg.exe, uninstall.exe
;   the class registration, through "quillshell64reg.exe <encoded dll path>"
;   HKCR\*\shellex\ContextMenuHandlers\Quillshell          (default) = {CLSID}
;   HKCR\Directory\shellex\ContextMenuHandlers\Quillshell  (default) = {CLSID}
;   HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved  {CLSID} = description
;   HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quillshell
; then tells the shell that associations changed. The uninstaller removes all
; of it, and the keys above that are left empty.
;
; Exit codes of both: 0 done, 1 cancelled, 2 aborted by NSIS itself,
;   3 files could not be copied (uninstaller: the class registration could not be removed),
;   4 the class registration failed (uninstaller: a key or file could not be removed),
;   5 the handler keys could not be written.
; A failed installation removes what it had written before it ends.
;
; Built by CMake: makensis -DBINDIR=<binaries> -DVERSION=<x.y.z> [-DOUTFILE=<exe>]
;   [-DSIGN=<command that signs the file it is given, in place>]
; With SIGN, the uninstaller and the installer are signed as makensis writes
; them. No file times are stored: the same input gives the same bytes.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include LogicLib.nsh

!ifndef BINDIR
  !error "define BINDIR: the folder that holds quillshell.dll and quillshell64reg.exe"
!endif
!ifndef VERSION
  !error "define VERSION: the product version, x.y.z"
!endif
!ifndef OUTFILE
  !define OUTFILE "quillshell-setup.exe"
!endif
!ifdef SIGN
  !uninstfinalize '"${SIGN}" "%1"' = 0
  !finalize '"${SIGN}" "%1"' = 0
!endif
SetDateSave off

!define CLSID "{7D3B2E91-4C6A-4F1E-9A27-5B8C0D4E6F13}"
!define HANDLER "Quillshell"
!define DESCRIPTION "Quillshell archive context menu"
!define SHELL_EXTENSIONS "SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions"
!define APPROVED "${SHELL_EXTENSIONS}\Approved"
!define UNINSTALL_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quillshell"
!define SHCNE_ASSOCCHANGED 0x08000000

Name "Quillshell"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Quillshell"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "Quillshell"
VIAddVersionKey /LANG=1033 "FileDescription" "Quillshell setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Osmund"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Requested  ; the folder given with /D=, if any
Var Failed   ; 1 once a removal left something behind
Var Created  ; bit mask of the parent keys the installer made (kept as CreatedKeys)

; quillshell64reg reads "_" as a space and "?" as an underscore: every "_" of
; the path is written as "?" and then every space as "_". Windows paths hold
; no "?", so the encoding is unambiguous. In: $R0; out: $R0.
!macro DefineEncodePath prefix
Function ${prefix}EncodePath
  Push $R1
  Push $R2
  Push $R3
  StrCpy $R1 ""
  StrCpy $R2 0
  ${Do}
    StrCpy $R3 $R0 1 $R2
    ${If} $R3 == ""
      ${Break}
    ${ElseIf} $R3 == "_"
      StrCpy $R3 "?"
    ${ElseIf} $R3 == " "
      StrCpy $R3 "_"
    ${EndIf}
    StrCpy $R1 "$R1$R3"
    IntOp $R2 $R2 + 1
  ${Loop}
  StrCpy $R0 $R1
  Pop $R3
  Pop $R2
  Pop $R1
FunctionEnd
!macroend
!insertmacro DefineEncodePath ""
!insertmacro DefineEncodePath "un."

; Runs quillshell64reg.exe with the encoded DLL path and an optional word;
; its output goes to the details log. Out: $0, the tool's exit code (or "error").
!macro RunRegTool prefix word
  StrCpy $R0 "$INSTDIR\quillshell.dll"
  Call ${prefix}EncodePath
  ; The tool runs in the output folder; not in ours, which a rollback or the
  ; uninstaller must be able to remove right after the tool has ended.
  Push $OUTDIR
  SetOutPath "$TEMP"
  nsExec::ExecToLog '"$INSTDIR\quillshell64reg.exe" "$R0" ${word}'
  Pop $0
  Pop $R1
  SetOutPath $R1
!macroend

; Deletes a key only when it holds neither subkeys nor values: the parents of
; our keys may have existed before, or gained entries of somebody else's.
; (EnumRegValue names the default value "" too, so that one is read apart.)
!macro RemoveKeyIfEmpty root key
  ClearErrors
  EnumRegKey $1 ${root} "${key}" 0
  ${IfNot} ${Errors}
  ${AndIf} $1 == ""
    EnumRegValue $1 ${root} "${key}" 0
    ${If} $1 == ""
      ClearErrors
      ReadRegStr $1 ${root} "${key}" ""
      ${If} ${Errors}
        DeleteRegKey ${root} "${key}"
      ${EndIf}
    ${EndIf}
  ${EndIf}
!macroend

; The parents of our keys that did not exist before the installation: their
; bits in $Created. Windows always has them; a fresh Wine prefix lacks some.
;   0x01 HKCR\*            0x02 HKCR\*\shellex            0x04 ...\ContextMenuHandlers
;   0x10 HKCR\Directory    0x20 HKCR\Directory\shellex    0x40 ...\ContextMenuHandlers
;   0x100 HKLM\...\Shell Extensions                      0x200 ...\Shell Extensions\Approved
!macro NoteMissingKey mask root key
  ClearErrors
  EnumRegKey $1 ${root} "${key}" 0
  ${If} ${Errors}
    IntOp $Created $Created | ${mask}
  ${EndIf}
!macroend

!macro RemoveCreatedKey mask root key
  IntOp $1 $Created & ${mask}
  ${If} $1 <> 0
    !insertmacro RemoveKeyIfEmpty ${root} "${key}"
  ${EndIf}
!macroend

; The handler's key under one class, then the parents the installer made
; (masks: the class key's; shellex is twice it, ContextMenuHandlers four times).
!macro RemoveHandlerKey class mask
  !define /math _HANDLERS_MASK ${mask} * 4
  !define /math _SHELLEX_MASK ${mask} * 2
  DeleteRegKey HKCR "${class}\shellex\ContextMenuHandlers\${HANDLER}"
  !insertmacro RemoveCreatedKey ${_HANDLERS_MASK} HKCR "${class}\shellex\ContextMenuHandlers"
  !insertmacro RemoveCreatedKey ${_SHELLEX_MASK} HKCR "${class}\shellex"
  !insertmacro RemoveCreatedKey ${mask} HKCR "${class}"
  !undef _HANDLERS_MASK
  !undef _SHELLEX_MASK
  ClearErrors
  ReadRegStr $1 HKCR "${class}\shellex\ContextMenuHandlers\${HANDLER}" ""
  ${IfNot} ${Errors}
    DetailPrint "cannot remove HKCR\${class}\shellex\ContextMenuHandlers\${HANDLER}"
    StrCpy $Failed 1
  ${EndIf}
!macroend

!macro RemoveFile path
  ${If} ${FileExists} "${path}"
    Delete "${path}"
    ${If} ${FileExists} "${path}"
      DetailPrint "cannot remove ${path}"
      StrCpy $Failed 1
    ${EndIf}
  ${EndIf}
!macroend

; Everything but the class registration, which quillshell64reg removes.
; Sets $Failed when something stays.
!macro DefineRemoveKeysAndFiles prefix
Function ${prefix}RemoveKeysAndFiles
  StrCpy $Failed 0
  !insertmacro RemoveHandlerKey "*" 0x01
  !insertmacro RemoveHandlerKey "Directory" 0x10

  DeleteRegValue HKLM "${APPROVED}" "${CLSID}"
  !insertmacro RemoveCreatedKey 0x200 HKLM "${APPROVED}"
  !insertmacro RemoveCreatedKey 0x100 HKLM "${SHELL_EXTENSIONS}"
  ClearErrors
  ReadRegStr $1 HKLM "${APPROVED}" "${CLSID}"
  ${IfNot} ${Errors}
    DetailPrint "cannot remove the value ${CLSID} of HKLM\${APPROVED}"
    StrCpy $Failed 1
  ${EndIf}

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ClearErrors
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "DisplayName"
  ${IfNot} ${Errors}
    DetailPrint "cannot remove HKLM\${UNINSTALL_KEY}"
    StrCpy $Failed 1
  ${EndIf}

  ; A DLL still loaded by Explorer cannot be deleted; that is reported, not hidden.
  ; The folder cannot go while it is the current directory.
  SetOutPath "$TEMP"
  !insertmacro RemoveFile "$INSTDIR\quillshell.dll"
  !insertmacro RemoveFile "$INSTDIR\quillshell64reg.exe"
  !insertmacro RemoveFile "$INSTDIR\uninstall.exe"
  ; A process that has just ended may hold the folder a moment longer.
  StrCpy $1 0
  ${Do}
    RMDir "$INSTDIR"
    ${IfNot} ${FileExists} "$INSTDIR\*.*"
    ${OrIf} $1 >= 20
      ${Break}
    ${EndIf}
    Sleep 100
    IntOp $1 $1 + 1
  ${Loop}
FunctionEnd
!macroend
!insertmacro DefineRemoveKeysAndFiles ""
!insertmacro DefineRemoveKeysAndFiles "un."

!macro NotifyShell
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
!macroend

; Ends a failed installation with an exit code, after removing what it wrote.
!macro FailInstall code message
  DetailPrint "${message}"
  Call RemoveKeysAndFiles
  SetErrorLevel ${code}
  Abort "${message}"
!macroend

; NSIS checks the folder given with /D= before .onInit and, when it finds it
; unusable, quietly puts the default in its place: installing elsewhere than
; asked would be a failure reported as success. The process's own command
; line still holds the /D= that NSIS cut from $CMDLINE.
Function .onInit
  System::Call 'kernel32::GetCommandLineW() t .r0'
  StrCpy $Requested ""
  StrLen $2 $0
  ${For} $1 0 $2
    StrCpy $3 $0 4 $1
    ${If} $3 S== " /D="
      IntOp $1 $1 + 4
      StrCpy $Requested $0 "" $1
      ${Break}
    ${EndIf}
  ${Next}
  ${If} $Requested != ""
  ${AndIf} $Requested != $INSTDIR
    SetErrorLevel 3
    Abort
  ${EndIf}
FunctionEnd

Section "Install"
  SetRegView 64
  StrCpy $Created 0
  SetOutPath "$INSTDIR"
  SetOverwrite on
  ClearErrors
  File "${BINDIR}\quillshell.dll"
  File "${BINDIR}\quillshell64reg.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${If} ${Errors}
    !insertmacro FailInstall 3 "cannot copy the files to $INSTDIR"
  ${EndIf}

  !insertmacro RunRegTool "" ""
  ${If} $0 != 0
    ; The tool stops at the first key it cannot write; remove what it did write.
    !insertmacro RunRegTool "" "uninstall"
    !insertmacro FailInstall 4 "quillshell64reg.exe could not register the class"
  ${EndIf}

  !insertmacro NoteMissingKey 0x001 HKCR "*"
  !insertmacro NoteMissingKey 0x002 HKCR "*\shellex"
  !insertmacro NoteMissingKey 0x004 HKCR "*\shellex\ContextMenuHandlers"
  !insertmacro NoteMissingKey 0x010 HKCR "Directory"
  !insertmacro NoteMissingKey 0x020 HKCR "Directory\shellex"
  !insertmacro NoteMissingKey 0x040 HKCR "Directory\shellex\ContextMenuHandlers"
  !insertmacro NoteMissingKey 0x100 HKLM "${SHELL_EXTENSIONS}"
  !insertmacro NoteMissingKey 0x200 HKLM "${APPROVED}"
  ; Installed over an earlier installation: keep what that one made.
  ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "CreatedKeys"
  IntOp $Created $Created | $1

  ClearErrors
  WriteRegStr HKCR "*\shellex\ContextMenuHandlers\${HANDLER}" "" "${CLSID}"
  WriteRegStr HKCR "Directory\shellex\ContextMenuHandlers\${HANDLER}" "" "${CLSID}"
  WriteRegStr HKLM "${APPROVED}" "${CLSID}" "${DESCRIPTION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${DESCRIPTION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Osmund"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "CreatedKeys" $Created
  ${If} ${Errors}
    !insertmacro RunRegTool "" "uninstall"
    !insertmacro FailInstall 5 "cannot write the handler keys"
  ${EndIf}

  !insertmacro NotifyShell
SectionEnd

Section "Uninstall"
  SetRegView 64
  ; The class registration goes first: while it fails, nothing else is
  ; touched, so that running the uninstaller again can still finish the job.
  !insertmacro RunRegTool "un." "uninstall"
  ${If} $0 != 0
    DetailPrint "quillshell64reg.exe could not remove the class registration"
    SetErrorLevel 3
    Abort "quillshell64reg.exe could not remove the class registration"
  ${EndIf}

  ReadRegDWORD $Created HKLM "${UNINSTALL_KEY}" "CreatedKeys"
  IntOp $Created $Created + 0
  Call un.RemoveKeysAndFiles
  !insertmacro NotifyShell
  ${If} $Failed == 1
    SetErrorLevel 4
    Abort "some keys or files could not be removed"
  ${EndIf}
SectionEnd
