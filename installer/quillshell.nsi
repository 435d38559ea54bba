; The quillshell installer: a 64-bit NSIS installer that runs silently with /S.
;
;   quillshell-setup.exe [/S] [/LOG=<file>] [/LOCKWAIT=<seconds>] [/D=<folder>]
;                                     (/D= last, unquoted, spaces allowed)
;   "<folder>\uninstall.exe" [/S] [/LOG=<file>] [/LOCKWAIT=<seconds>] _?=<folder>
;     (the Uninstall key's commands: it returns when the removal is done)
; Both append what they do to %WINDIR%\Logs\Quillshell\quillshell-setup.log,
; or to the file /LOG= names. Neither runs while the other does: the second
; waits for the first, at most /LOCKWAIT= seconds (300), then exits with 8.
;
; What it writes (64-bit view; machine-wide classes under HKLM\SOFTWARE\Classes,
; never through HKCR, which writes to the installing user's own classes when
; they hold a key of the same name):
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
;   HKLM\SOFTWARE\Classes\*\shellex\ContextMenuHandlers\Quillshell          (default) = {CLSID}
;   HKLM\SOFTWARE\Classes\Directory\shellex\ContextMenuHandlers\Quillshell  (default) = {CLSID}
;   HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved  {CLSID} = description
;   HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quillshell
;   HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run  Quillshell = the package's
;     per-user step, "<folder>\Modern\quillshell-package.exe" sign-in
; then tells the shell that associations changed. The uninstaller removes all
; of it, and the keys above that are left empty.
;
; Exit codes of both: 0 done, 1 cancelled, 2 aborted by NSIS itself,
;   3 files could not be copied (uninstaller: the class registration could not be removed),
;   4 the class registration failed (uninstaller: a key or file could not be
;     removed; its Uninstall entry and uninstaller stay, to run again),
;   5 the handler keys could not be written, 6 ARM64 Windows and an installer
;   built without the ARM64 files (nothing written),
;   7 the Windows Installer package of quillshell is installed (nothing written),
;   8 another Quillshell installer or uninstaller is still running (nothing written),
;   9 others than administrators may change the folder, or move it aside
;     through a folder above it (nothing written),
;   10 a newer version is installed (nothing written),
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
!include WordFunc.nsh

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
!define CLASSES "SOFTWARE\Classes"
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
Var RolledBack ; 1 once RollBack has run
!include "${__FILEDIR__}/run.nsh"

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
  nsExec::ExecToStack '"${folder}\quillshell64reg.exe" "$R0" ${word}'
  Pop $0
  Pop $R1
  ${If} $R1 != ""
    ${Log} "$R1"
  ${EndIf}
  ${Log} "quillshell64reg.exe ${dll} ${word}: exit code $0"
  Pop $R1
  SetOutPath $R1
!macroend

; Every value the installer writes, in one list:
;   type, the variable that keeps its earlier state, root, key, name, value.
!macro InstalledValues op
  !insertmacro ${op} Str $Was0 HKLM "${CLASSES}\*\shellex\ContextMenuHandlers\${HANDLER}" "" "${CLSID}"
  !insertmacro ${op} Str $Was1 HKLM "${CLASSES}\Directory\shellex\ContextMenuHandlers\${HANDLER}" "" "${CLSID}"
  !insertmacro ${op} Str $Was2 HKLM "${APPROVED}" "${CLSID}" "${DESCRIPTION}"
  !insertmacro ${op} Str $Was3 HKLM "${UNINSTALL_KEY}" "DisplayName" "${DESCRIPTION}"
  !insertmacro ${op} Str $Was4 HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  !insertmacro ${op} Str $Was5 HKLM "${UNINSTALL_KEY}" "Publisher" "Osmund"
  !insertmacro ${op} Str $Was6 HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  !insertmacro ${op} Str $Was7 HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" _?=$INSTDIR'
  !insertmacro ${op} Str $Was8 HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
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
;   0x01 Classes\*            0x02 Classes\*\shellex            0x04 ...\ContextMenuHandlers
;   0x10 Classes\Directory    0x20 Classes\Directory\shellex    0x40 ...\ContextMenuHandlers
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
  !insertmacro RemoveCreatedKey 0x04 HKLM "${CLASSES}\*\shellex\ContextMenuHandlers"
  !insertmacro RemoveCreatedKey 0x02 HKLM "${CLASSES}\*\shellex"
  !insertmacro RemoveCreatedKey 0x01 HKLM "${CLASSES}\*"
  !insertmacro RemoveCreatedKey 0x40 HKLM "${CLASSES}\Directory\shellex\ContextMenuHandlers"
  !insertmacro RemoveCreatedKey 0x20 HKLM "${CLASSES}\Directory\shellex"
  !insertmacro RemoveCreatedKey 0x10 HKLM "${CLASSES}\Directory"
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
  Push $R2
  StrCpy $R1 1
  ${DoWhile} ${FileExists} "$R0.$R1.old"
    IntOp $R1 $R1 + 1
  ${Loop}
  ; A program that has just opened the file (a scanner) may hold it a moment.
  StrCpy $R2 0
  ${Do}
    Rename "$R0" "$R0.$R1.old"
    ${If} ${FileExists} "$R0.$R1.old"
      StrCpy $R0 "$R0.$R1.old"
      ${Break}
    ${ElseIf} $R2 >= 10
      StrCpy $R0 ""
      ${Break}
    ${EndIf}
    Sleep 100
    IntOp $R2 $R2 + 1
  ${Loop}
  Pop $R2
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
    ${Log} "${path} is in use; it will be deleted when Windows restarts"
  ${EndIf}
!macroend

; Deletes an installed file now; one that a process holds is moved aside
; within its folder first and deleted under that name at the next restart.
; A deletion at restart acts on the path, whatever file stands there then:
; the installed name is never scheduled, or an installation made before the
; restart would lose its file. One that can be neither deleted nor moved
; stays, and sets $Failed.
!macro RemoveOrMoveAside prefix path
  !insertmacro DeleteWithRetries "${path}"
  ${If} ${FileExists} "${path}"
    Push "${path}"
    Call ${prefix}MoveAside
    Pop $R0
    ${If} $R0 == ""
      ${Log} "cannot delete ${path} or move it aside: it stays"
      StrCpy $Failed 1
    ${Else}
      Delete /REBOOTOK "$R0"
      ${Log} "${path} is in use; it will be deleted when Windows restarts"
    ${EndIf}
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
  !insertmacro RemoveMovedIn "$INSTDIR\Modern\Assets" "StoreLogo.png" "Square44x44Logo.png" "Square150x150Logo.png" "StoreLogo.png"
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
!if "${prefix}" == ""
  !insertmacro RemoveOrMoveAside "" "$INSTDIR\uninstall.exe"
!endif
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\Modern\quillshell-modern.dll"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\Modern\quillshell-modern.msix"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\Modern\quillshell64reg.exe"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\Modern\quillshell-package.exe"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\x86\quillshell.dll"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\x86\quillshell64reg.exe"
  ; The shell may be reading the package's logos.
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\Modern\Assets\StoreLogo.png"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\Modern\Assets\Square44x44Logo.png"
  !insertmacro RemoveOrMoveAside "${prefix}" "$INSTDIR\Modern\Assets\Square150x150Logo.png"
  Call ${prefix}RemoveMovedFiles
  Pop $R0
!if "${prefix}" == ""
  Call RemoveFolders
!endif
FunctionEnd

; The folders, once their files are gone: now, or at the next restart when
; files moved aside are left in them.
Function ${prefix}RemoveSubfolders
  SetOutPath "$TEMP"
  ${If} ${FileExists} "$INSTDIR\Modern\Assets\*.old"
    RMDir /REBOOTOK "$INSTDIR\Modern\Assets"
  ${Else}
    RMDir "$INSTDIR\Modern\Assets"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\x86\quillshell*"
    RMDir /REBOOTOK "$INSTDIR\x86"
  ${Else}
    RMDir "$INSTDIR\x86"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\Modern\quillshell*"
  ${OrIf} ${FileExists} "$INSTDIR\Modern\Assets\*.*"
    RMDir /REBOOTOK "$INSTDIR\Modern"
  ${Else}
    RMDir "$INSTDIR\Modern"
  ${EndIf}
FunctionEnd
Function ${prefix}RemoveFolders
  Call ${prefix}RemoveSubfolders
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
  StrCpy $RolledBack 1
  SetRegView 64
  ${If} $Step >= 3
    !insertmacro InstalledValues RestoreValue
    !insertmacro RemoveKeyIfEmpty HKLM "${CLASSES}\*\shellex\ContextMenuHandlers\${HANDLER}"
    !insertmacro RemoveKeyIfEmpty HKLM "${CLASSES}\Directory\shellex\ContextMenuHandlers\${HANDLER}"
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
  ${Log} "${message}"
  Call RollBack
  SetErrorLevel ${code}
  Abort "${message}"
!macroend

; NSIS ends the installation itself when a file cannot be written out (a full
; disk): that failure is rolled back too.
Function .onInstFailed
  GetErrorLevel $0
  ${If} $RolledBack != 1
    ${Log} "the installation failed; putting back what was there"
    Call RollBack
  ${EndIf}
  ; -1: no exit code chosen, so NSIS stopped by itself (at a file it could not write).
  ${If} $0 == -1
    SetErrorLevel 3
  ${EndIf}
  GetErrorLevel $0
  ${Log} "exit code $0"
FunctionEnd
Function .onInstSuccess
  GetErrorLevel $0
  IntOp $0 $0 + 0  ; (-1 when never set)
  ${If} $0 < 0
    StrCpy $0 0
  ${EndIf}
  ${Log} "exit code $0"
FunctionEnd

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
  Call ${prefix}CloseLog
  nsExec::ExecToLog '"$INSTDIR\Modern\quillshell-package.exe" $R1'
  Pop $1
  Call ${prefix}ReopenLog
  Pop $0
  SetOutPath $0
  ${If} $1 == "0"
    ${Log} "Windows 11 menu: $R1 step done"
  ${Else}
    ${Log} "Windows 11 menu: $R1 step failed (quillshell-package.exe: $1); the classic menu is there"
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
!macro DefineCanonicalFolder prefix
Function ${prefix}CanonicalFolder
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
!macroend
!insertmacro DefineCanonicalFolder ""
!insertmacro DefineCanonicalFolder "un."

; Whether two folders are one: out $R0, 1 or 0.
!macro SameFolderIn prefix a b
  Push $R3
  StrCpy $R0 "${a}"
  Call ${prefix}CanonicalFolder
  StrCpy $R3 $R0
  StrCpy $R0 "${b}"
  Call ${prefix}CanonicalFolder
  ; (NSIS compares strings without regard to case, as Windows names files.)
  ${If} $R0 == $R3
    StrCpy $R0 1
  ${Else}
    StrCpy $R0 0
  ${EndIf}
  Pop $R3
!macroend
!macro SameFolder a b
  !insertmacro SameFolderIn "" "${a}" "${b}"
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
  SetRegView 64
  Call TakeLock
  Call OpenLog
  StrCpy $Native x64
  ReadRegStr $0 HKLM "SYSTEM\CurrentControlSet\Control\Session Manager\Environment" "PROCESSOR_ARCHITECTURE"
  ${If} ${IsNativeARM64}
  ${OrIf} $0 == "ARM64"
    StrCpy $Native arm64
  ${EndIf}
!ifndef HAVE_ARM64
  ${If} $Native == arm64
    ${Log} "This installer was built without the ARM64 menu: nothing was installed. Exit code 6"
    MessageBox MB_ICONSTOP|MB_OK "This Quillshell installer was built without the ARM64 menu. On ARM64 Windows, Explorer cannot load the x64 one, so nothing was installed." /SD IDOK
    SetErrorLevel 6
    Abort
  ${EndIf}
!endif
  ; The Windows Installer package installs the same files and keys: with
  ; both, removing either would break the other.
  System::Call 'msi::MsiEnumRelatedProductsW(w "${MSI_UPGRADE_CODE}", i 0, i 0, w .r1) i .r0'
  ${If} $0 = 0
    ${Log} "Quillshell is installed with its Windows Installer package: nothing was installed. Exit code 7"
    MessageBox MB_ICONSTOP|MB_OK "Quillshell is installed with its Windows Installer package: upgrade it with a newer package, or remove it first to use this installer. Nothing was installed." /SD IDOK
    SetErrorLevel 7
    Abort
  ${EndIf}
  ; Never over a newer version: its files and keys would be replaced by older ones.
  ClearErrors
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ${IfNot} ${Errors}
    ${VersionCompare} $0 "${VERSION}" $1
    ${If} $1 == 1
      ${Log} "Quillshell $0 is installed, newer than ${VERSION}: nothing was installed. Exit code 10"
      MessageBox MB_ICONSTOP|MB_OK "Quillshell $0 is installed, which is newer than this installer's ${VERSION}. Nothing was installed." /SD IDOK
      SetErrorLevel 10
      Abort
    ${EndIf}
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
      ${Log} "NSIS cannot use the folder $Requested: nothing was installed. Exit code 3"
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

  !insertmacro NoteMissingKey 0x001 HKLM "${CLASSES}\*"
  !insertmacro NoteMissingKey 0x002 HKLM "${CLASSES}\*\shellex"
  !insertmacro NoteMissingKey 0x004 HKLM "${CLASSES}\*\shellex\ContextMenuHandlers"
  !insertmacro NoteMissingKey 0x010 HKLM "${CLASSES}\Directory"
  !insertmacro NoteMissingKey 0x020 HKLM "${CLASSES}\Directory\shellex"
  !insertmacro NoteMissingKey 0x040 HKLM "${CLASSES}\Directory\shellex\ContextMenuHandlers"
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
      ${Log} "removing the earlier installation in $Was6"
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
    ${Log} "Installed. Windows must restart to remove the earlier version that Explorer still holds."
    SetErrorLevel 3010
  ${EndIf}
SectionEnd

!macro RemoveHandlerKey class
  DeleteRegKey HKLM "${CLASSES}\${class}\shellex\ContextMenuHandlers\${HANDLER}"
  ClearErrors
  ReadRegStr $1 HKLM "${CLASSES}\${class}\shellex\ContextMenuHandlers\${HANDLER}" ""
  ${IfNot} ${Errors}
    ${Log} "cannot remove HKLM\${CLASSES}\${class}\shellex\ContextMenuHandlers\${HANDLER}"
    StrCpy $Failed 1
  ${EndIf}
!macroend

Var Launcher        ; the process id of the uninstaller that started this copy, or ""
Var LauncherProcess ; its handle

; Started in its folder (the Uninstall key's commands, with _?=), the
; uninstaller runs the removal in a copy of itself and exits with the copy's
; exit code once the removal is done: whoever ran the command learns the
; result then. (Started without _?=, NSIS's own copy runs it and the command
; returns at once.) A running NSIS program keeps its own file open: the copy
; tells this one the exit code in a file, waits for it to end, and only then
; deletes its file and the folder, still holding the lock against an
; installer started right after.
Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/LAUNCHER=" $Launcher
  ${If} ${Errors}
    StrCpy $Launcher ""
    !insertmacro SameFolderIn "un." $EXEDIR $INSTDIR
    ${If} $R0 == 1
      Call un.RunCopy
    ${EndIf}
  ${Else}
    ; Opened now, while it surely waits: its id cannot be taken by another process yet.
    System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i $Launcher) p .s'
    Pop $LauncherProcess
  ${EndIf}
  Call un.TakeLock
  Call un.OpenLog
FunctionEnd

; Runs the copy from a folder of its own that only administrators and SYSTEM
; may write (it runs elevated; the temporary folder of SYSTEM lets users add
; files), waits for its exit code and quits with it.
Function un.RunCopy
  GetTempFileName $R1
  Delete $R1
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", i 1, *p .r1, p 0) i .r0'
  ; SECURITY_ATTRIBUTES: nLength, (padding), lpSecurityDescriptor, bInheritHandle
  System::Call '*(i 24, i 0, p r1, i 0, i 0) p .r2'
  System::Call 'kernel32::CreateDirectoryW(w R1, p r2) i .r0'
  System::Free $2
  System::Call 'kernel32::LocalFree(p r1)'
  ${If} $0 <> 0
    System::Call 'kernel32::CopyFileW(w "$EXEPATH", w "$R1\uninstall.exe", i 1) i .r0'
  ${EndIf}
  ${If} $0 <> 0
    System::Call 'kernel32::GetCurrentProcessId() i .r3'
    ${GetParameters} $2
    System::Alloc 104  ; STARTUPINFOW, zeroed
    Pop $5
    System::Call '*$5(i 104)'
    System::Alloc 24   ; PROCESS_INFORMATION
    Pop $6
    System::Call 'kernel32::CreateProcessW(p 0, w `"$R1\uninstall.exe" $2 /LAUNCHER=$3 _?=$INSTDIR`, p 0, p 0, i 0, i 0, p 0, p 0, p r5, p r6) i .r0'
    System::Call '*$6(p .r7, p .r8)'
    System::Free $5
    System::Free $6
  ${EndIf}
  ${If} $0 = 0
    MessageBox MB_ICONSTOP|MB_OK "The uninstaller cannot start its copy in $R1. Nothing was removed." /SD IDOK
    Delete "$R1\uninstall.exe"
    RMDir $R1
    SetErrorLevel 3
    Quit
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p r8)'
  ${Do}
    System::Call 'kernel32::WaitForSingleObject(p r7, i 100) i .r0'
    ${If} $0 = 0
      ; It has ended: its files can go.
      System::Call 'kernel32::GetExitCodeProcess(p r7, *i .r1)'
      !insertmacro DeleteWithRetries "$R1\uninstall.exe"
      Delete "$R1\exit code"
      RMDir $R1
      ${Break}
    ${EndIf}
    ${If} ${FileExists} "$R1\exit code"
      FileOpen $2 "$R1\exit code" r
      FileRead $2 $1
      FileClose $2
      ${Break}
    ${EndIf}
  ${Loop}
  System::Call 'kernel32::CloseHandle(p r7)'
  SetErrorLevel $1
  Quit
FunctionEnd

; After a removal that a launcher waits for: the exit code for it, then,
; once it has ended, its file and the folder. This copy and its folder go at
; the next restart, as NSIS does with its own copies (without asking for it).
Function un.ReportToLauncher
  Push $1
  FileOpen $1 "$EXEDIR\exit code.new" w
  FileWrite $1 $0
  FileClose $1
  Rename "$EXEDIR\exit code.new" "$EXEDIR\exit code"
  System::Call 'kernel32::WaitForSingleObject(p $LauncherProcess, i 60000)'
  System::Call 'kernel32::CloseHandle(p $LauncherProcess)'
  Delete "$EXEDIR\exit code"
  !insertmacro RemoveOrMoveAside "un." "$INSTDIR\uninstall.exe"
  Call un.RemoveFolders
  System::Call 'kernel32::MoveFileExW(w "$EXEPATH", p 0, i 4)'
  System::Call 'kernel32::MoveFileExW(w "$EXEDIR", p 0, i 4)'
  Pop $1
FunctionEnd

Function un.onUninstSuccess
  GetErrorLevel $0
  IntOp $0 $0 + 0
  ${If} $0 < 0
    StrCpy $0 0
  ${EndIf}
  ${Log} "exit code $0"
  ${If} $Launcher != ""
    Call un.ReportToLauncher
  ${EndIf}
FunctionEnd
Function un.onUninstFailed
  GetErrorLevel $0
  ${Log} "exit code $0"
FunctionEnd

; Without its tool (deleted by hand, or lost), the class registration is
; removed as the tool removes it: the server key, then the class key unless
; it holds keys of somebody else's. Out: $0, 0 or "error".
!macro RemoveClassKeys root
  DeleteRegKey ${root} "${CLASSES}\CLSID\${CLSID}\InProcServer32"
  DeleteRegKey /ifempty ${root} "${CLASSES}\CLSID\${CLSID}"
  ClearErrors
  EnumRegKey $1 ${root} "${CLASSES}\CLSID\${CLSID}\InProcServer32" 0
  ${IfNot} ${Errors}
    StrCpy $0 "error"
  ${EndIf}
!macroend
!macro RemoveClass folder root what
  StrCpy $0 0
  ${If} ${FileExists} "${folder}\quillshell64reg.exe"
    !insertmacro RunRegToolIn "un." "${folder}" "${folder}\quillshell.dll" "uninstall"
  ${Else}
    ${Log} "${folder}\quillshell64reg.exe is missing: removing the class registration${what} directly"
    !insertmacro RemoveClassKeys ${root}
  ${EndIf}
  ${If} $0 != 0
    ${Log} "the class registration${what} could not be removed. Exit code 3"
    SetErrorLevel 3
    Abort "the class registration${what} could not be removed"
  ${EndIf}
!macroend

; Nothing is left but what a process holds, which goes at the next restart.
; Whatever cannot be removed sets $Failed: then the Uninstall entry and the
; uninstaller stay, so that running it again finishes the removal (each step
; is done again harmlessly).
Section "Uninstall"
  SetRegView 64
  StrCpy $Failed 0
  ; The class registration goes first: while it fails, nothing else is
  ; touched. Without an x86 folder there is none in the 32-bit view.
  !insertmacro RemoveClass "$INSTDIR" HKLM ""
  ${If} ${FileExists} "$INSTDIR\x86\*.*"
    !insertmacro RemoveClass "$INSTDIR\x86" HKLM32 " of the 32-bit view"
  ${EndIf}

  ; The package goes before the per-user step and the files it names.
  Push remove
  Call un.RunPackageTool
  ReadRegDWORD $Created HKLM "${UNINSTALL_KEY}" "CreatedKeys"
  IntOp $Created $Created + 0
  !insertmacro RemoveHandlerKey "*"
  !insertmacro RemoveHandlerKey "Directory"
  DeleteRegValue HKLM "${APPROVED}" "${CLSID}"
  DeleteRegValue HKLM32 "${APPROVED}" "${CLSID}"
  !insertmacro RemoveCreatedKeys
  ClearErrors
  ReadRegStr $1 HKLM "${APPROVED}" "${CLSID}"
  ${IfNot} ${Errors}
    ${Log} "cannot remove the value ${CLSID} of HKLM\${APPROVED}"
    StrCpy $Failed 1
  ${EndIf}
  ClearErrors
  ReadRegStr $1 HKLM32 "${APPROVED}" "${CLSID}"
  ${IfNot} ${Errors}
    ${Log} "cannot remove the value ${CLSID} of HKLM\${APPROVED} (32-bit view)"
    StrCpy $Failed 1
  ${EndIf}
  DeleteRegValue HKLM "${RUN_KEY}" "${HANDLER}"
  Call un.RemoveInstalledFiles
  !insertmacro NotifyShell
  ; The Uninstall entry and the uninstaller go last, when all else went.
  ${If} $Failed == 0
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ClearErrors
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "DisplayName"
    ${IfNot} ${Errors}
      ${Log} "cannot remove HKLM\${UNINSTALL_KEY}"
      StrCpy $Failed 1
    ${EndIf}
  ${EndIf}
  ; A launcher holds the uninstaller's file: it goes when the launcher has ended.
  ${If} $Failed == 0
  ${AndIf} $Launcher == ""
    !insertmacro RemoveOrMoveAside "un." "$INSTDIR\uninstall.exe"
    Call un.RemoveFolders
  ${ElseIf} $Failed == 0
    Call un.RemoveSubfolders
  ${EndIf}
  ${If} $Failed == 1
    ${Log} "Not everything could be removed: the Uninstall entry and the uninstaller stay; run it again."
    SetErrorLevel 4
    Abort "not everything could be removed"
  ${EndIf}
  ; Never restarts Windows or ends Explorer itself: says so, and exits 3010.
  ${If} ${RebootFlag}
    ${Log} "Removed. quillshell.dll is still loaded (by Explorer); it and $INSTDIR go when Windows restarts."
    SetErrorLevel 3010
  ${EndIf}
SectionEnd
