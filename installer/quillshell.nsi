; The quillshell installer: a 64-bit NSIS installer that runs silently with /S.
;
;   quillshell-setup.exe [/S] [/D=<folder>]     (/D= last, unquoted, spaces allowed)
;   uninstall.exe [/S]
;
; What it writes (64-bit view; HKCR is HKLM\SOFTWARE\Classes):
;   <folder>\quillshell.dll, quillshell64reg.exe, uninstall.exe: the DLL for the
;     machine's Explorer, x64 or ARM64 (which shares the 64-bit registry view
;     with x64 programs, so the x64 tool and installer, emulated there, write
;     what ARM64 Explorer reads)
;   <folder>\x86\quillshell.dll, quillshell64reg.exe: the x86 builds, for the
;     Open and Save dialogs of 32-bit programs, registered by that 32-bit tool
;     in the 32-bit view (HKLM\SOFTWARE\Classes\WOW6432Node\CLSID); the
;     handler keys below are shared by both views, the Approved value is
;     written in both
;   <folder>\Modern\quillshell-modern.dll, quillshell-modern.msix: the Windows 11
;     menu's command and its package (identity only), which on Windows 11 is
;     registered for all users with Modern\ as its external location, by
;     Modern\quillshell-package.exe (the one place that holds those steps); what
;     the package's manifest names lies there too: its application's program (a
;     copy of quillshell64reg.exe, which nothing starts) and Assets\*.png
;   the class registration, through "quillshell64reg.exe <encoded dll path>"
;   HKCR\*\shellex\ContextMenuHandlers\Quillshell          (default) = {CLSID}
;   HKCR\Directory\shellex\ContextMenuHandlers\Quillshell  (default) = {CLSID}
;   HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved  {CLSID} = description
;   HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quillshell
;   HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run  Quillshell = the package's
;     per-user step, "<folder>\Modern\quillshell-package.exe" sign-in
; then tells the shell that associations changed. The uninstaller removes all
; of it, and the keys above that are left empty.
;
; Exit codes of both: 0 done, 1 cancelled, 2 aborted by NSIS itself,
;   3 files could not be copied (uninstaller: the class registration could not be removed),
;   4 the class registration failed (uninstaller: a key could not be removed),
;   5 the handler keys could not be written, 6 ARM64 Windows and an installer
;   built without the ARM64 files (nothing written),
;   7 the Windows Installer package of quillshell is installed (nothing written),
;   9 the folder exists and others than administrators may change it (nothing written),
;   3010 done, but a file Explorer still holds goes only when Windows restarts.
; The Windows 11 package's registration never fails the installation: the
; classic menu is there without it; the log holds every PowerShell command
; and its answer.
; A failed installation puts back what was there before it ends.
;
; Built by CMake: makensis -DBINDIR=<binaries> -DVERSION=<x.y.z> [-DOUTFILE=<exe>]
;   -DPLUGINS=<folder of the amd64-unicode plugins to pack>
;   [-DSIGN=<command that signs the file it is given, in place>]
;   [-DHAVE_X86] [-DHAVE_ARM64]: BINDIR\x86 and BINDIR\arm64 hold those builds
; With SIGN, the uninstaller and the installer are signed as makensis writes
; them, and PLUGINS holds signed copies of NSIS's plugins: both unpack them
; into the temporary folder and load them. No file times are stored: the
; same input gives the same bytes.

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
!ifndef MSI_UPGRADE_CODE
  !error "define MSI_UPGRADE_CODE: the UpgradeCode of installer/quillshell.wxs"
!endif
!ifndef ASSETS
  !error "define ASSETS: the folder of the package's logos (installer/msix/Assets)"
!endif
!ifndef PLUGINS
  !error "define PLUGINS: the folder of the (signed) amd64-unicode plugins"
!endif
!addplugindir /amd64-unicode "${PLUGINS}"
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
!define RUN_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
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
Var Failed     ; 1 once a removal left something behind
Var Created    ; bit mask of the parent keys the installer made (kept as CreatedKeys)
Var Noted      ; those of them that this run made
Var OldServer  ; the class's server before this run, "" if it had none
Var OldServer32 ; the same in the 32-bit view
Var Native     ; arm64 on ARM64 Windows, else x64: whose DLLs are installed
Var FolderMade ; 1 when this run made $INSTDIR
Var Step       ; how far this run got: 1 files swapped in, 2 class registered, 3 keys written
Var Swapped    ; bits of the new files put in place: 1 the DLL, 2 the tool, 4 the uninstaller,
               ; 8 the Windows 11 menu's DLL, 16 its package, 32 the x86 DLL, 64 the x86 tool,
               ; 128 quillshell-package.exe
Var MovedDll   ; where each earlier file was moved aside, "" if there was none
Var MovedTool
Var MovedUninst
Var MovedModern
Var MovedPackage
Var MovedDll32
Var MovedTool32
Var MovedDeploy
Var ModernMade ; 1 when this run made $INSTDIR\Modern
Var X86Made    ; 1 when this run made $INSTDIR\x86
; The values the installer writes, as they were before this run.
Var Was0
Var Was1
Var Was2
Var Was3
Var Was4
Var Was5
Var Was6
Var Was7
Var Was8
Var Was9
Var Was10
Var Was11
Var Was12
Var Was13

!define ABSENT "<absent>"

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

; Runs quillshell64reg.exe on a DLL path, with an optional word; its output
; goes to the details log. Out: $0, the tool's exit code (or "error").
; The x86 tool of $INSTDIR\x86 writes the 32-bit view.
!macro RunRegTool prefix dll word
  !insertmacro RunRegToolIn "${prefix}" "$INSTDIR" "${dll}" "${word}"
!macroend
!macro RunRegToolIn prefix folder dll word
  StrCpy $R0 "${dll}"
  Call ${prefix}EncodePath
  ; The tool runs in the output folder; not in ours, which a rollback or the
  ; uninstaller must be able to remove right after the tool has ended.
  Push $OUTDIR
  SetOutPath "$TEMP"
  nsExec::ExecToLog '"${folder}\quillshell64reg.exe" "$R0" ${word}'
  Pop $0
  Pop $R1
  SetOutPath $R1
!macroend

; Every value the installer writes, in one list:
;   type, the variable that keeps its earlier state, root, key, name, value.
!macro InstalledValues op
  !insertmacro ${op} Str $Was0 HKCR "*\shellex\ContextMenuHandlers\${HANDLER}" "" "${CLSID}"
  !insertmacro ${op} Str $Was1 HKCR "Directory\shellex\ContextMenuHandlers\${HANDLER}" "" "${CLSID}"
  !insertmacro ${op} Str $Was2 HKLM "${APPROVED}" "${CLSID}" "${DESCRIPTION}"
  !insertmacro ${op} Str $Was3 HKLM "${UNINSTALL_KEY}" "DisplayName" "${DESCRIPTION}"
  !insertmacro ${op} Str $Was4 HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  !insertmacro ${op} Str $Was5 HKLM "${UNINSTALL_KEY}" "Publisher" "Osmund"
  !insertmacro ${op} Str $Was6 HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  !insertmacro ${op} Str $Was7 HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  !insertmacro ${op} Str $Was8 HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  !insertmacro ${op} DWORD $Was9 HKLM "${UNINSTALL_KEY}" "NoModify" 1
  !insertmacro ${op} DWORD $Was10 HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  !insertmacro ${op} DWORD $Was11 HKLM "${UNINSTALL_KEY}" "CreatedKeys" $Created
  !insertmacro ${op} Str $Was13 HKLM "${RUN_KEY}" "${HANDLER}" '"$INSTDIR\Modern\quillshell-package.exe" sign-in'
!ifdef HAVE_X86
  !insertmacro ${op} Str $Was12 HKLM32 "${APPROVED}" "${CLSID}" "${DESCRIPTION}"
!endif
!macroend
!macro SaveValue type var root key name value
  ClearErrors
  ReadReg${type} ${var} ${root} "${key}" "${name}"
  ${If} ${Errors}
    StrCpy ${var} "${ABSENT}"
  ${EndIf}
!macroend
!macro WriteValue type var root key name value
  WriteReg${type} ${root} "${key}" "${name}" `${value}`
!macroend
!macro RestoreValue type var root key name value
  ${If} ${var} == "${ABSENT}"
    DeleteRegValue ${root} "${key}" "${name}"
  ${Else}
    WriteReg${type} ${root} "${key}" "${name}" ${var}
  ${EndIf}
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
;   0x400 and 0x800: those two in the 32-bit view
!macro NoteMissingKey mask root key
  ClearErrors
  EnumRegKey $1 ${root} "${key}" 0
  ${If} ${Errors}
    IntOp $Noted $Noted | ${mask}
  ${EndIf}
!macroend

!macro RemoveCreatedKey mask root key
  IntOp $1 $Created & ${mask}
  ${If} $1 <> 0
    !insertmacro RemoveKeyIfEmpty ${root} "${key}"
  ${EndIf}
!macroend

; The parents the installer made, deepest first.
!macro RemoveCreatedKeys
  !insertmacro RemoveCreatedKey 0x04 HKCR "*\shellex\ContextMenuHandlers"
  !insertmacro RemoveCreatedKey 0x02 HKCR "*\shellex"
  !insertmacro RemoveCreatedKey 0x01 HKCR "*"
  !insertmacro RemoveCreatedKey 0x40 HKCR "Directory\shellex\ContextMenuHandlers"
  !insertmacro RemoveCreatedKey 0x20 HKCR "Directory\shellex"
  !insertmacro RemoveCreatedKey 0x10 HKCR "Directory"
  !insertmacro RemoveCreatedKey 0x200 HKLM "${APPROVED}"
  !insertmacro RemoveCreatedKey 0x100 HKLM "${SHELL_EXTENSIONS}"
  !insertmacro RemoveCreatedKey 0x800 HKLM32 "${APPROVED}"
  !insertmacro RemoveCreatedKey 0x400 HKLM32 "${SHELL_EXTENSIONS}"
!macroend

; A file that Explorer has loaded cannot be written or deleted, but it can be
; renamed within its folder; the process keeps using it under the new name.
; Moves <folder>\<name> aside as <name>.<n>.old, with n free, even when earlier
; upgrades left older ones still in use. Out: $R0, the new path ("" on error).
!macro DefineMoveAside prefix
Function ${prefix}MoveAside
  Exch $R0  ; the path
  Push $R1
  StrCpy $R1 1
  ${DoWhile} ${FileExists} "$R0.$R1.old"
    IntOp $R1 $R1 + 1
  ${Loop}
  ClearErrors
  Rename "$R0" "$R0.$R1.old"
  ${If} ${Errors}
    StrCpy $R0 ""
  ${Else}
    StrCpy $R0 "$R0.$R1.old"
  ${EndIf}
  Pop $R1
  Exch $R0
FunctionEnd
!macroend
!insertmacro DefineMoveAside ""
!insertmacro DefineMoveAside "un."

; Tries to delete a file for a moment: a program that has just ended may
; hold its file a little longer. The file may still be there afterwards.
!macro DeleteWithRetries path
  StrCpy $5 0
  ${Do}
    Delete "${path}"
    ${IfNot} ${FileExists} "${path}"
    ${OrIf} $5 >= 3
      ${Break}
    ${EndIf}
    Sleep 100
    IntOp $5 $5 + 1
  ${Loop}
!macroend

; Deletes a file (one already moved aside) now or, while a process has it
; loaded, at the next restart (which sets the reboot flag).
!macro DeleteNowOrAtRestart path
  !insertmacro DeleteWithRetries "${path}"
  ${If} ${FileExists} "${path}"
    Delete /REBOOTOK "${path}"
    DetailPrint "${path} is in use; it will be deleted when Windows restarts"
  ${EndIf}
!macroend

; Deletes an installed file now; one that a process holds is moved aside
; within its folder first and deleted under that name at the next restart.
; A deletion at restart acts on the path, whatever file stands there then:
; scheduling the installed name would delete the file of an installation
; made before the restart.
!macro RemoveOrMoveAside prefix path
  !insertmacro DeleteWithRetries "${path}"
  ${If} ${FileExists} "${path}"
    Push "${path}"
    Call ${prefix}MoveAside
    Pop $R0
    ${If} $R0 == ""
      DetailPrint "cannot move ${path} aside"
      StrCpy $R0 "${path}"
    ${EndIf}
    Delete /REBOOTOK "$R0"
    DetailPrint "${path} is in use; it will be deleted when Windows restarts"
  ${EndIf}
!macroend

; The files that earlier upgrades moved aside: deleted now if nothing holds
; them any more, else left to the restart they were scheduled for when they
; were moved (scheduling them again would only repeat the entry).
!macro RemoveMovedIn folder name1 name2 name3 name4
  FindFirst $R0 $R1 "${folder}\*.old"
  ${DoWhile} $R1 != ""
    StrLen $2 "${name1}."
    StrCpy $2 $R1 $2
    StrLen $3 "${name2}."
    StrCpy $3 $R1 $3
    StrLen $4 "${name3}."
    StrCpy $4 $R1 $4
    StrLen $5 "${name4}."
    StrCpy $5 $R1 $5
    ${If} $2 == "${name1}."
    ${OrIf} $3 == "${name2}."
    ${OrIf} $4 == "${name3}."
    ${OrIf} $5 == "${name4}."
      Delete "${folder}\$R1"
      ${If} ${FileExists} "${folder}\$R1"
        SetRebootFlag true
      ${EndIf}
    ${EndIf}
    FindNext $R0 $R1
  ${Loop}
  FindClose $R0
!macroend
!macro DefineRemoveMovedFiles prefix
Function ${prefix}RemoveMovedFiles
  Push $R0
  Push $R1
  !insertmacro RemoveMovedIn "$INSTDIR" "quillshell.dll" "quillshell64reg.exe" "uninstall.exe" "uninstall.exe"
  !insertmacro RemoveMovedIn "$INSTDIR\Modern" "quillshell-modern.dll" "quillshell-modern.msix" "quillshell64reg.exe" "quillshell-package.exe"
  !insertmacro RemoveMovedIn "$INSTDIR\x86" "quillshell.dll" "quillshell64reg.exe" "quillshell64reg.exe" "quillshell64reg.exe"
  Pop $R1
  Pop $R0
FunctionEnd
!macroend
!insertmacro DefineRemoveMovedFiles ""
!insertmacro DefineRemoveMovedFiles "un."

; Our files in $INSTDIR, and the folder once they are gone: now, or at the
; next restart for what a process still holds. The folder's removal at the
; restart comes after its files' and, like any removal of a folder, does
; nothing to a folder that is not empty by then (an installation made before
; the restart keeps it).
!macro DefineRemoveInstalledFiles prefix
Function ${prefix}RemoveInstalledFiles
  Push $R0
  ; The folder cannot go while it is the current directory.
  SetOutPath "$TEMP"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\quillshell.dll"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\quillshell64reg.exe"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\uninstall.exe"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\Modern\quillshell-modern.dll"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\Modern\quillshell-modern.msix"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\Modern\quillshell64reg.exe"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\Modern\quillshell-package.exe"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\x86\quillshell.dll"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\x86\quillshell64reg.exe"
  Delete "$INSTDIR\Modern\Assets\*.png"
  RMDir "$INSTDIR\Modern\Assets"
  Call ${prefix}RemoveMovedFiles
  Pop $R0
  ${If} ${FileExists} "$INSTDIR\x86\quillshell*"
    RMDir /REBOOTOK "$INSTDIR\x86"
  ${Else}
    RMDir "$INSTDIR\x86"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\Modern\quillshell*"
    RMDir /REBOOTOK "$INSTDIR\Modern"
  ${Else}
    RMDir "$INSTDIR\Modern"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\quillshell.dll*"
  ${OrIf} ${FileExists} "$INSTDIR\Modern\*.*"
  ${OrIf} ${FileExists} "$INSTDIR\x86\*.*"
  ${OrIf} ${FileExists} "$INSTDIR\quillshell64reg.exe*"
  ${OrIf} ${FileExists} "$INSTDIR\uninstall.exe*"
    RMDir /REBOOTOK "$INSTDIR"
    Return
  ${EndIf}
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
!insertmacro DefineRemoveInstalledFiles ""
!insertmacro DefineRemoveInstalledFiles "un."

; Puts one file back as it was before this run. In: the name, its bit in
; $Swapped, the variable that holds where the earlier file was moved aside.
!macro RestoreFile name bit moved
  IntOp $R1 $Swapped & ${bit}
  ${If} $R1 <> 0
    ; Something may already have loaded the new file: move it aside too.
    Push "$INSTDIR\${name}"
    Call MoveAside
    Pop $R0
    ${If} $R0 != ""
      !insertmacro DeleteNowOrAtRestart "$R0"
    ${EndIf}
  ${EndIf}
  ${If} ${moved} != ""
    Rename "${moved}" "$INSTDIR\${name}"
  ${EndIf}
  Delete "$INSTDIR\${name}.new"
!macroend

; Takes a failed installation back to the state before it: the earlier
; registration, keys and files, or nothing at all when there were none.
Function RollBack
  SetRegView 64
  ${If} $Step >= 3
    !insertmacro InstalledValues RestoreValue
    !insertmacro RemoveKeyIfEmpty HKCR "*\shellex\ContextMenuHandlers\${HANDLER}"
    !insertmacro RemoveKeyIfEmpty HKCR "Directory\shellex\ContextMenuHandlers\${HANDLER}"
    !insertmacro RemoveKeyIfEmpty HKLM "${UNINSTALL_KEY}"
    StrCpy $Created $Noted
    !insertmacro RemoveCreatedKeys
  ${EndIf}
  ${If} $Step >= 2
    ; The tool stops at the first key it cannot write: whatever it wrote goes
    ; back to the earlier server, or away when there was none.
    ${If} $OldServer != ""
      !insertmacro RunRegTool "" $OldServer ""
    ${Else}
      !insertmacro RunRegTool "" "$INSTDIR\quillshell.dll" "uninstall"
    ${EndIf}
!ifdef HAVE_X86
    ${If} $OldServer32 != ""
      !insertmacro RunRegToolIn "" "$INSTDIR\x86" $OldServer32 ""
    ${Else}
      !insertmacro RunRegToolIn "" "$INSTDIR\x86" "$INSTDIR\x86\quillshell.dll" "uninstall"
    ${EndIf}
!endif
  ${EndIf}
  !insertmacro RestoreFile "quillshell.dll" 1 $MovedDll
  !insertmacro RestoreFile "quillshell64reg.exe" 2 $MovedTool
  !insertmacro RestoreFile "uninstall.exe" 4 $MovedUninst
  !insertmacro RestoreFile "Modern\quillshell-modern.dll" 8 $MovedModern
  !insertmacro RestoreFile "Modern\quillshell-modern.msix" 16 $MovedPackage
  !insertmacro RestoreFile "x86\quillshell.dll" 32 $MovedDll32
  !insertmacro RestoreFile "x86\quillshell64reg.exe" 64 $MovedTool32
  !insertmacro RestoreFile "Modern\quillshell-package.exe" 128 $MovedDeploy
  ${If} $X86Made == 1
    SetOutPath "$TEMP"
    RMDir "$INSTDIR\x86"
  ${EndIf}
  ${If} $ModernMade == 1
    SetOutPath "$TEMP"
    Delete "$INSTDIR\Modern\quillshell64reg.exe"
    Delete "$INSTDIR\Modern\Assets\*.png"
    RMDir "$INSTDIR\Modern\Assets"
    RMDir "$INSTDIR\Modern"
  ${EndIf}
  ${If} $FolderMade == 1
    SetOutPath "$TEMP"
    RMDir "$INSTDIR"
  ${EndIf}
FunctionEnd

; Ends a failed installation with an exit code, after putting back what was there.
!macro FailInstall code message
  DetailPrint "${message}"
  Call RollBack
  SetErrorLevel ${code}
  Abort "${message}"
!macroend

; Swaps a staged <name>.new in for <name>, moving an earlier <name> aside.
!macro SwapIn name bit moved
  ${If} ${FileExists} "$INSTDIR\${name}"
    Push "$INSTDIR\${name}"
    Call MoveAside
    Pop ${moved}
    ${If} ${moved} == ""
      !insertmacro FailInstall 3 "cannot move $INSTDIR\${name} aside"
    ${EndIf}
  ${EndIf}
  StrCpy $Step 1
  ClearErrors
  Rename "$INSTDIR\${name}.new" "$INSTDIR\${name}"
  ${If} ${Errors}
    !insertmacro FailInstall 3 "cannot put the new $INSTDIR\${name} in place"
  ${EndIf}
  IntOp $Swapped $Swapped | ${bit}
!macroend

; The Windows 11 menu: Explorer builds its top-level menu only from verbs of
; a package with identity. quillshell-modern.msix holds nothing but its
; manifest; Modern\ is its external location, where the DLL it names lies.
; Modern\quillshell-package.exe holds every deployment call (one PowerShell
; command per step, each written into this log with its answer): "machine"
; removes every earlier registration, stages and provisions the package for
; all users, "user" registers it for the account that runs the installer,
; "remove" takes it away again. Windows 10 gets no PowerShell call. A failure
; never fails the installation: the classic menu is there without it.
!macro DefineRunPackageTool prefix
Function ${prefix}RunPackageTool
  Exch $R1  ; the step
  Push $0
  Push $1
  ; Never the installer's folder as the working folder: it must be removable.
  Push $OUTDIR
  SetOutPath "$TEMP"
  nsExec::ExecToLog '"$INSTDIR\Modern\quillshell-package.exe" $R1'
  Pop $1
  Pop $0
  SetOutPath $0
  ${If} $1 == "0"
    DetailPrint "Windows 11 menu: $R1 step done"
  ${Else}
    DetailPrint "Windows 11 menu: $R1 step failed (quillshell-package.exe: $1); the classic menu is there"
  ${EndIf}
  Pop $1
  Pop $0
  Pop $R1
FunctionEnd
!macroend
!insertmacro DefineRunPackageTool ""
!insertmacro DefineRunPackageTool "un."

!macro NotifyShell
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
!macroend

!include x64.nsh
!include "${__FILEDIR__}\folder.nsh"

; A folder's full, long form, so that two names of one folder compare equal:
; 8.3 names, doubled, trailing or "." parts all name the same folder as its
; long path. GetLongPathNameW needs the folder to exist; of one that does not
; the full path is taken. In: $R0; out: $R0.
Function CanonicalFolder
  Push $R1
  Push $R2
  System::Call 'kernel32::GetFullPathNameW(w R0, i ${NSIS_MAX_STRLEN}, w .R1, p 0) i .R2'
  ${If} $R2 > 0
  ${AndIf} $R2 < ${NSIS_MAX_STRLEN}
    StrCpy $R0 $R1
  ${EndIf}
  System::Call 'kernel32::GetLongPathNameW(w R0, w .R1, i ${NSIS_MAX_STRLEN}) i .R2'
  ${If} $R2 > 0
  ${AndIf} $R2 < ${NSIS_MAX_STRLEN}
    StrCpy $R0 $R1
  ${EndIf}
  ; No trailing backslash but a drive's own ("C:\").
  ${Do}
    StrLen $R2 $R0
    StrCpy $R1 $R0 1 -1
    ${If} $R1 != "\"
    ${OrIf} $R2 <= 3
      ${Break}
    ${EndIf}
    StrCpy $R0 $R0 -1
  ${Loop}
  Pop $R2
  Pop $R1
FunctionEnd

; Whether two folders are one: out $R0, 1 or 0.
!macro SameFolder a b
  Push $R3
  StrCpy $R0 "${a}"
  Call CanonicalFolder
  StrCpy $R3 $R0
  StrCpy $R0 "${b}"
  Call CanonicalFolder
  ; (NSIS compares strings without regard to case, as Windows names files.)
  ${If} $R0 == $R3
    StrCpy $R0 1
  ${Else}
    StrCpy $R0 0
  ${EndIf}
  Pop $R3
!macroend

; ARM64 Windows (11: Windows 10 on ARM runs no x64 programs, so not this
; installer) runs this installer under emulation; its Explorer is ARM64 and
; loads only an ARM64 DLL. An installer built without those refuses: a menu
; that could never appear is not installed. The native architecture is the
; one Windows names in the system environment too (the MSI reads that).
;
; NSIS checks the folder given with /D= before .onInit and, when it finds it
; unusable, quietly puts the default in its place: installing elsewhere than
; asked would be a failure reported as success. The process's own command
; line still holds the /D= that NSIS cut from $CMDLINE.
Function .onInit
  StrCpy $Native x64
  ReadRegStr $0 HKLM "SYSTEM\CurrentControlSet\Control\Session Manager\Environment" "PROCESSOR_ARCHITECTURE"
  ${If} ${IsNativeARM64}
  ${OrIf} $0 == "ARM64"
    StrCpy $Native arm64
  ${EndIf}
!ifndef HAVE_ARM64
  ${If} $Native == arm64
    MessageBox MB_ICONSTOP|MB_OK "This Quillshell installer was built without the ARM64 menu. On ARM64 Windows, Explorer cannot load the x64 one, so nothing was installed." /SD IDOK
    SetErrorLevel 6
    Abort
  ${EndIf}
!endif
  ; The Windows Installer package installs the same files and keys: with
  ; both, removing either would break the other.
  System::Call 'msi::MsiEnumRelatedProductsW(w "${MSI_UPGRADE_CODE}", i 0, i 0, w .r1) i .r0'
  ${If} $0 = 0
    MessageBox MB_ICONSTOP|MB_OK "Quillshell is installed with its Windows Installer package: upgrade it with a newer package, or remove it first to use this installer. Nothing was installed." /SD IDOK
    SetErrorLevel 7
    Abort
  ${EndIf}
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
    !insertmacro SameFolder $Requested $INSTDIR
    ${If} $R0 != 1
      SetErrorLevel 3
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

; Nothing earlier is taken away until the new installation is complete: the
; new files are written beside the old ones, swapped in by renaming (which
; works while Explorer has the old DLL loaded), and the old ones are deleted
; only at the end, or at the next restart while something still holds them.
; Any failure puts back the earlier files, registration and keys.
Section "Install"
  SetRegView 64
  StrCpy $Step 0
  StrCpy $Noted 0
  StrCpy $Created 0
  StrCpy $Swapped 0
  StrCpy $MovedDll ""
  StrCpy $MovedTool ""
  StrCpy $MovedUninst ""
  StrCpy $MovedModern ""
  StrCpy $MovedPackage ""
  StrCpy $MovedDll32 ""
  StrCpy $MovedTool32 ""
  StrCpy $MovedDeploy ""
  !insertmacro InstalledValues SaveValue
  ClearErrors
  ReadRegStr $OldServer HKLM "SOFTWARE\Classes\CLSID\${CLSID}\InProcServer32" ""
  ${If} ${Errors}
    StrCpy $OldServer ""
  ${EndIf}
  ClearErrors
  ReadRegStr $OldServer32 HKLM32 "SOFTWARE\Classes\CLSID\${CLSID}\InProcServer32" ""
  ${If} ${Errors}
    StrCpy $OldServer32 ""
  ${EndIf}

  StrCpy $FolderMade 0
  ${IfNot} ${FileExists} "$INSTDIR\*.*"
    StrCpy $FolderMade 1
  ${EndIf}
  Call PrepareFolder  ; exit 9 for a folder others may write; a new one admin-only
  SetOutPath "$INSTDIR"
  ; The folder as Windows names it, however /D= spelt it: the keys name it so.
  StrCpy $R0 $INSTDIR
  Call CanonicalFolder
  StrCpy $INSTDIR $R0
  StrCpy $ModernMade 0
  ${IfNot} ${FileExists} "$INSTDIR\Modern\*.*"
    StrCpy $ModernMade 1
  ${EndIf}
  ; "try": a file that cannot be written fails the installation without asking.
  SetOverwrite try
  StrCpy $X86Made 0
  ${IfNot} ${FileExists} "$INSTDIR\x86\*.*"
    StrCpy $X86Made 1
  ${EndIf}
  ClearErrors
  File "/oname=quillshell64reg.exe.new" "${BINDIR}\quillshell64reg.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe.new"
!ifdef HAVE_ARM64
  ${If} $Native == arm64
    File "/oname=quillshell.dll.new" "${BINDIR}\arm64\quillshell.dll"
    SetOutPath "$INSTDIR\Modern"
    File "/oname=quillshell-modern.dll.new" "${BINDIR}\arm64\quillshell-modern.dll"
    File "/oname=quillshell-modern.msix.new" "${BINDIR}\arm64\quillshell-modern.msix"
  ${Else}
!endif
    File "/oname=quillshell.dll.new" "${BINDIR}\quillshell.dll"
    ; The package's external location: registration changes its ACLs, which
    ; is why it is a folder of its own.
    SetOutPath "$INSTDIR\Modern"
    File "/oname=quillshell-modern.dll.new" "${BINDIR}\quillshell-modern.dll"
    File "/oname=quillshell-modern.msix.new" "${BINDIR}\quillshell-modern.msix"
!ifdef HAVE_ARM64
  ${EndIf}
!endif
  ; An x64 program on ARM64 Windows too, where it runs emulated.
  File "/oname=quillshell-package.exe.new" "${BINDIR}\quillshell-package.exe"
  ; Never loaded by Explorer: written in place.
  File "${BINDIR}\quillshell64reg.exe"
  SetOutPath "$INSTDIR\Modern\Assets"
  File "${ASSETS}\*.png"
!ifdef HAVE_X86
  SetOutPath "$INSTDIR\x86"
  File "/oname=quillshell.dll.new" "${BINDIR}\x86\quillshell.dll"
  File "/oname=quillshell64reg.exe.new" "${BINDIR}\x86\quillshell64reg.exe"
!endif
  SetOutPath "$INSTDIR"
  ${If} ${Errors}
    !insertmacro FailInstall 3 "cannot copy the files to $INSTDIR"
  ${EndIf}
  ${IfNot} ${FileExists} "$INSTDIR\uninstall.exe.new"
    !insertmacro FailInstall 3 "cannot write $INSTDIR\uninstall.exe"
  ${EndIf}
  !insertmacro SwapIn "quillshell.dll" 1 $MovedDll
  !insertmacro SwapIn "quillshell64reg.exe" 2 $MovedTool
  !insertmacro SwapIn "uninstall.exe" 4 $MovedUninst
  !insertmacro SwapIn "Modern\quillshell-modern.dll" 8 $MovedModern
  !insertmacro SwapIn "Modern\quillshell-modern.msix" 16 $MovedPackage
  !insertmacro SwapIn "Modern\quillshell-package.exe" 128 $MovedDeploy
!ifdef HAVE_X86
  !insertmacro SwapIn "x86\quillshell.dll" 32 $MovedDll32
  !insertmacro SwapIn "x86\quillshell64reg.exe" 64 $MovedTool32
!endif

  StrCpy $Step 2
  !insertmacro RunRegTool "" "$INSTDIR\quillshell.dll" ""
  ${If} $0 != 0
    !insertmacro FailInstall 4 "quillshell64reg.exe could not register the class"
  ${EndIf}
!ifdef HAVE_X86
  !insertmacro RunRegToolIn "" "$INSTDIR\x86" "$INSTDIR\x86\quillshell.dll" ""
  ${If} $0 != 0
    !insertmacro FailInstall 4 "the x86 quillshell64reg.exe could not register the class in the 32-bit view"
  ${EndIf}
!endif

  !insertmacro NoteMissingKey 0x001 HKCR "*"
  !insertmacro NoteMissingKey 0x002 HKCR "*\shellex"
  !insertmacro NoteMissingKey 0x004 HKCR "*\shellex\ContextMenuHandlers"
  !insertmacro NoteMissingKey 0x010 HKCR "Directory"
  !insertmacro NoteMissingKey 0x020 HKCR "Directory\shellex"
  !insertmacro NoteMissingKey 0x040 HKCR "Directory\shellex\ContextMenuHandlers"
  !insertmacro NoteMissingKey 0x100 HKLM "${SHELL_EXTENSIONS}"
  !insertmacro NoteMissingKey 0x200 HKLM "${APPROVED}"
!ifdef HAVE_X86
  !insertmacro NoteMissingKey 0x400 HKLM32 "${SHELL_EXTENSIONS}"
  !insertmacro NoteMissingKey 0x800 HKLM32 "${APPROVED}"
!endif
  ; Installed over an earlier installation: keep what that one made.
  StrCpy $Created $Noted
  ${If} $Was11 != "${ABSENT}"
    IntOp $Created $Created | $Was11
  ${EndIf}

  StrCpy $Step 3
  ClearErrors
  !insertmacro InstalledValues WriteValue
  ${If} ${Errors}
    !insertmacro FailInstall 5 "cannot write the handler keys"
  ${EndIf}

  ; Complete: the earlier files can go, now or at the next restart.
  ${If} $MovedDll != ""
    !insertmacro DeleteNowOrAtRestart $MovedDll
  ${EndIf}
  ${If} $MovedTool != ""
    !insertmacro DeleteNowOrAtRestart $MovedTool
  ${EndIf}
  ${If} $MovedUninst != ""
    !insertmacro DeleteNowOrAtRestart $MovedUninst
  ${EndIf}
  ${If} $MovedModern != ""
    !insertmacro DeleteNowOrAtRestart $MovedModern
  ${EndIf}
  ${If} $MovedPackage != ""
    !insertmacro DeleteNowOrAtRestart $MovedPackage
  ${EndIf}
  ${If} $MovedDll32 != ""
    !insertmacro DeleteNowOrAtRestart $MovedDll32
  ${EndIf}
  ${If} $MovedTool32 != ""
    !insertmacro DeleteNowOrAtRestart $MovedTool32
  ${EndIf}
  ${If} $MovedDeploy != ""
    !insertmacro DeleteNowOrAtRestart $MovedDeploy
  ${EndIf}
  Call RemoveMovedFiles
  ; Installed into another folder than before: the earlier folder's files go,
  ; or its uninstaller would later remove the keys this installation shares.
  ; The earlier folder may be this one by another name (C:\PROGRA~1\...).
  ${If} $Was6 != "${ABSENT}"
  ${AndIf} ${FileExists} "$Was6\uninstall.exe"
    !insertmacro SameFolder $Was6 $INSTDIR
    ${If} $R0 != 1
      DetailPrint "removing the earlier installation in $Was6"
      Push $INSTDIR
      StrCpy $INSTDIR $Was6
      Call RemoveInstalledFiles
      Pop $INSTDIR
    ${EndIf}
  ${EndIf}
  ; Every user gets it at their next sign-in (provisioning, or the Run value's
  ; per-user step where provisioning is refused); the installing account now.
  Push machine
  Call RunPackageTool
  Push user
  Call RunPackageTool
  !insertmacro NotifyShell
  ; Never restarts Windows or ends Explorer itself: says so, and exits 3010.
  ${If} ${RebootFlag}
    DetailPrint "Installed. Windows must restart to remove the earlier version that Explorer still holds."
    SetErrorLevel 3010
  ${EndIf}
SectionEnd

; The uninstaller's own file need not be removed here: NSIS runs a copy of
; it from the temporary folder.
!macro RemoveHandlerKey class
  DeleteRegKey HKCR "${class}\shellex\ContextMenuHandlers\${HANDLER}"
  ClearErrors
  ReadRegStr $1 HKCR "${class}\shellex\ContextMenuHandlers\${HANDLER}" ""
  ${IfNot} ${Errors}
    DetailPrint "cannot remove HKCR\${class}\shellex\ContextMenuHandlers\${HANDLER}"
    StrCpy $Failed 1
  ${EndIf}
!macroend

; Everything but the class registration, which quillshell64reg removes.
; Sets $Failed when a key stays; files in use are deleted at the next restart.
Function un.RemoveKeysAndFiles
  StrCpy $Failed 0
  !insertmacro RemoveHandlerKey "*"
  !insertmacro RemoveHandlerKey "Directory"
  DeleteRegValue HKLM "${APPROVED}" "${CLSID}"
  DeleteRegValue HKLM32 "${APPROVED}" "${CLSID}"
  !insertmacro RemoveCreatedKeys
  ClearErrors
  ReadRegStr $1 HKLM "${APPROVED}" "${CLSID}"
  ${IfNot} ${Errors}
    DetailPrint "cannot remove the value ${CLSID} of HKLM\${APPROVED}"
    StrCpy $Failed 1
  ${EndIf}
  ClearErrors
  ReadRegStr $1 HKLM32 "${APPROVED}" "${CLSID}"
  ${IfNot} ${Errors}
    DetailPrint "cannot remove the value ${CLSID} of HKLM\${APPROVED} (32-bit view)"
    StrCpy $Failed 1
  ${EndIf}

  DeleteRegValue HKLM "${RUN_KEY}" "${HANDLER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ClearErrors
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "DisplayName"
  ${IfNot} ${Errors}
    DetailPrint "cannot remove HKLM\${UNINSTALL_KEY}"
    StrCpy $Failed 1
  ${EndIf}

  Call un.RemoveInstalledFiles
FunctionEnd

Section "Uninstall"
  SetRegView 64
  ; The class registration goes first: while it fails, nothing else is
  ; touched, so that running the uninstaller again can still finish the job.
  !insertmacro RunRegTool "un." "$INSTDIR\quillshell.dll" "uninstall"
  ${If} $0 != 0
    DetailPrint "quillshell64reg.exe could not remove the class registration"
    SetErrorLevel 3
    Abort "quillshell64reg.exe could not remove the class registration"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\x86\quillshell64reg.exe"
    !insertmacro RunRegToolIn "un." "$INSTDIR\x86" "$INSTDIR\x86\quillshell.dll" "uninstall"
    ${If} $0 != 0
      DetailPrint "the x86 quillshell64reg.exe could not remove the class registration of the 32-bit view"
      SetErrorLevel 3
      Abort "the x86 quillshell64reg.exe could not remove the class registration of the 32-bit view"
    ${EndIf}
  ${EndIf}

  ; The package goes before the per-user step and the files it names.
  Push remove
  Call un.RunPackageTool
  ReadRegDWORD $Created HKLM "${UNINSTALL_KEY}" "CreatedKeys"
  IntOp $Created $Created + 0
  Call un.RemoveKeysAndFiles
  !insertmacro NotifyShell
  ${If} $Failed == 1
    SetErrorLevel 4
    Abort "some keys could not be removed"
  ${EndIf}
  ; Never restarts Windows or ends Explorer itself: says so, and exits 3010.
  ${If} ${RebootFlag}
    DetailPrint "Removed. quillshell.dll is still loaded (by Explorer); it and $INSTDIR go when Windows restarts."
    SetErrorLevel 3010
  ${EndIf}
SectionEnd
