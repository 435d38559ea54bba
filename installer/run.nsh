; What every run of the installer and of the uninstaller does first: it waits
; for the lock that keeps them from running at once, and opens the log that
; it appends everything to. !included by quillshell.nsi.
!include FileFunc.nsh

!define LOCK_NAME "Global\Quillshell.Setup"
Var LogFile    ; the log's handle, "" when it could not be opened
Var LogPath

; Every line of the details goes to the log too: a silent run has no window,
; and a deployment tool keeps only the exit code.
!macro Log text
  DetailPrint "${text}"
  ${If} $LogFile != ""
    FileWriteUTF16LE $LogFile "${text}$\r$\n"
  ${EndIf}
!macroend
!define Log "!insertmacro Log"

; The log: appended to, UTF-16 with its byte-order mark, in a folder that only
; administrators may write (the runs are elevated: a folder that users may
; write would let them point the log at any file).
!macro DefineOpenLog prefix what
Function ${prefix}OpenLog
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/LOG=" $LogPath
  ; (quoted, as winget may pass <LOGPATH>)
  StrCpy $1 $LogPath 1
  StrCpy $2 $LogPath 1 -1
  ${If} $1 == '"'
  ${AndIf} $2 == '"'
    StrCpy $LogPath $LogPath -1 1
  ${EndIf}
  ${If} ${Errors}
  ${OrIf} $LogPath == ""
    CreateDirectory "$WINDIR\Logs\Quillshell"
    StrCpy $LogPath "$WINDIR\Logs\Quillshell\quillshell-setup.log"
  ${EndIf}
  Call ${prefix}ReopenLog
  ${If} $LogFile != ""
    ${GetTime} "" "L" $1 $2 $3 $4 $5 $6 $7
    ${Log} "== $3-$2-$1 $5:$6:$7 Quillshell ${VERSION} ${what}: $CMDLINE"
  ${EndIf}
FunctionEnd
Function ${prefix}ReopenLog
  Push $1
  ClearErrors
  FileOpen $LogFile $LogPath a
  ${If} ${Errors}
    StrCpy $LogFile ""
  ${Else}
    FileSeek $LogFile 0 END $1
    ${If} $1 = 0
      FileWriteWord $LogFile 0xFEFF
    ${EndIf}
  ${EndIf}
  Pop $1
FunctionEnd
; Another program (quillshell-package.exe) appends to the log meanwhile: it
; gets the log's path in QUILLSHELL_LOG.
Function ${prefix}CloseLog
  ${If} $LogFile != ""
    FileClose $LogFile
    StrCpy $LogFile ""
    System::Call 'kernel32::SetEnvironmentVariableW(w "QUILLSHELL_LOG", w "$LogPath")'
  ${EndIf}
FunctionEnd
!macroend
!insertmacro DefineOpenLog "" "setup"
!insertmacro DefineOpenLog "un." "removal"

; Installer and uninstaller never run at once: a deployment tool may start
; one right after the other. The second waits for the first, at most
; /LOCKWAIT=<seconds> (300), then exits with 8, having done nothing. The
; mutex lives as long as this process; one whose holder ended without
; releasing it is abandoned, which the wait takes as free. "Global\": SYSTEM
; (session 0) and a signed-in administrator see the same one.
!macro DefineTakeLock prefix
Function ${prefix}TakeLock
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/LOCKWAIT=" $1
  ${If} ${Errors}
    StrCpy $1 300
  ${EndIf}
  IntOp $1 $1 * 1000
  System::Call 'kernel32::CreateMutexW(p 0, i 0, w "${LOCK_NAME}") p .r2'
  ${If} $2 P= 0
    ; Made by a process of another account: SYNCHRONIZE is all a wait needs.
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${LOCK_NAME}") p .r2'
  ${EndIf}
  ${If} $2 P<> 0
    System::Call 'kernel32::WaitForSingleObject(p r2, i r1) i .r3'
    ; WAIT_OBJECT_0, or WAIT_ABANDONED (0x80)
    ${If} $3 <> 0
    ${AndIf} $3 <> 0x80
      MessageBox MB_ICONSTOP|MB_OK "Another Quillshell installer or uninstaller is still running. Nothing was changed." /SD IDOK
      SetErrorLevel 8
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd
!macroend
!insertmacro DefineTakeLock ""
!insertmacro DefineTakeLock "un."
