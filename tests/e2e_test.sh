#!/usr/bin/env bash
# End to end, as a user meets the extension, in a fresh Wine prefix of its
# own: the installer run silently, our shell host finding the handler only
# through what the installer wrote, a stand-in TarnwickUnzip.exe recording
# what a click hands it, the uninstaller leaving nothing behind.
#   headless: installer failures, menus, invoking, the 16-item rule, uninstalling
#   in-use:   upgrades and removal while Explorer (a holder) keeps the DLL loaded
#   msi:      the Windows Installer package: install, repair, upgrade, downgrade, removal
# Both installers' Windows 11 package is checked against a model of Windows'
# package deployment that plays PowerShell (tests/host/deployment_model.cpp).
#   display:  the real popup menu captured to <build>/e2e-menu.png (needs Xvfb)
#
# usage: e2e_test.sh <build folder> headless|in-use|msi|display
set -uo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
mode=$2
bin=$build/bin
stage=$build/stage  # the binaries as the installers carry them
export WINEPREFIX=$build/e2e-$mode-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINE=$build/wine  # the Wine root's: wine64; --32 the 32-bit loader; --server
CLSID='{7D3B2E91-4C6A-4F1E-9A27-5B8C0D4E6F13}'
MODERN_CLSID='{3C79CCA4-8665-480D-B49E-041DB86690E3}'
drive=$WINEPREFIX/drive_c
work=$(mktemp -d)
failures=0
trap '"$WINE" --server -k 2>/dev/null; rm -rf "$work"' EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo "== $*"; }
# A Windows program; its output goes to files, never to our pipe, which
# Wine's helper processes would otherwise inherit and hold open.
win() { "$WINE" "$@" </dev/null >"$work/out" 2>"$work/err"; }
host() { win "$bin/quillhost.exe" "$@"; }
# A 32-bit program (an Open dialog of one) in the same prefix: the x86 build's
# host, run by Wine's 32-bit loader, reads the registry's 32-bit view.
bin32=$build/x86/bin
host32() { "$WINE" --32 "$bin32/quillhost.exe" "$@" </dev/null >"$work/out" 2>"$work/err"; }
show() { sed 's/^/    | /' "$1"; }
expect_rc() { # expected actual what
  [ "$1" = "$2" ] || { fail "$3: exit code $2, expected $1"; show "$work/out"; }
}
expect_text() { # file fixed-text what
  grep -qF -- "$2" "$1" || { fail "$3: no '$2'"; show "$1"; }
}
expect_no_text() {
  ! grep -qF -- "$2" "$1" || { fail "$3: unexpected '$2'"; show "$1"; }
}
winpath() { echo "Z:$1" | tr / '\\'; }
# The files of a folder and of its Modern and x86 subfolders, on one line.
listing() { (cd "$1" && LC_ALL=C ls -d * Modern/* Modern/Assets/* x86/* 2>/dev/null | tr '\n' ' '); }
installed_files='Modern Modern/Assets Modern/Assets/Square150x150Logo.png Modern/Assets/Square44x44Logo.png Modern/Assets/StoreLogo.png Modern/quillshell-modern.dll Modern/quillshell-modern.msix Modern/quillshell-package.exe Modern/quillshell64reg.exe quillshell.dll quillshell64reg.exe uninstall.exe x86 x86/quillshell.dll x86/quillshell64reg.exe '

# PowerShell as quillshell-package.exe finds it, played by the stand-in: a
# model of Windows' package deployment (tests/host/deployment_model.cpp),
# its state in deployment.txt beside it. The Windows build the installers
# read: 22631 is Windows 11, 19045 Windows 10.
powershell_dir="$drive/windows/system32/WindowsPowerShell/v1.0"
model="$powershell_dir/deployment.txt"
powershell_standin() {
  mkdir -p "$powershell_dir"
  cp "$bin/standin.exe" "$powershell_dir/powershell.exe"
}
windows_build() { win reg add 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' /v CurrentBuildNumber /d "$1" /f; }
# What a package file holds, for the model: FNV-1a 64 of its bytes, then its
# name, version and publisher, and who signed it (- for nobody).
declare_package() { # msix [signer's subject]
  python3 - "$1" "${2:--}" >>"$model" <<'PY'
import sys, zipfile, xml.etree.ElementTree as ET
data, h = open(sys.argv[1], "rb").read(), 14695981039346656037
for b in data:
    h = ((h ^ b) * 1099511628211) & (2**64 - 1)
ident = ET.fromstring(zipfile.ZipFile(sys.argv[1]).read("AppxManifest.xml")).find(
    "{http://schemas.microsoft.com/appx/manifest/foundation/windows10}Identity")
print("\t".join(("package", f"{h:016x}", ident.get("Name"), ident.get("Version"), ident.get("Publisher"), sys.argv[2])))
PY
}
# A machine without our package (the packages declared stay).
model_reset() {
  { grep "^package	" "$model" || true; } >"$work/packages"
  mv "$work/packages" "$model"
  rm -f "$powershell_dir/unknown.txt"
}
# Who runs the installers' machine-wide steps and who their own registration:
# SYSTEM, admin:<name> (elevated), or <name>.
model_as() { # machine account, registering account
  sed -i '/^as	/d' "$model"
  printf 'as\tmachine\t%s\nas\tregister\t%s\n' "$1" "$2" >>"$model"
}
# The MSI's accounts, from its custom actions' types: an in-script (1024)
# action that is not a rollback (256) runs as LocalSystem when it does not
# impersonate (2048), else as the installing user, not elevated.
msi_accounts() { # msi, installing user
  msiinfo export "$1" CustomAction | tr -d '\r' | awk -F'\t' -v user="$2" '
    $3 == "quillshell_package.exe" && int($2 / 1024) % 2 && !(int($2 / 256) % 2) {
      a = int($2 / 2048) % 2 ? "SYSTEM" : user
      if ($4 == "machine") m = a; else if ($4 == "user") r = a
    }
    END { print m, r }'
}
sign_in() { # users: Windows' sign-in of each, in turn (provisioned packages, then the Run key's programs)
  local user
  for user in "$@"; do "$WINE" "$powershell_dir/powershell.exe" --sign-in "$user" </dev/null >/dev/null 2>&1; done
}
run_as() { "$WINE" "$powershell_dir/powershell.exe" --run-as "$1" </dev/null >/dev/null 2>&1; }  # that user's HKCU
everyone='alice bob ops'  # standard users, and an administrator
# For each user: ok when they have exactly one registration of the package,
# of this version and naming this folder; none; or wrong.
registrations() { # folder, version (x.y.z.0), users
  awk -F'\t' -v f="$1" -v v="$2" -v users="$3" '
    $1 == "registered" && $3 == "Quillshell.Modern" { n[$2]++; if ($4 == v && $6 == f) good[$2]++ }
    END { k = split(users, u, " "); for (i = 1; i <= k; i++)
            printf "%s%s=%s", (i > 1 ? " " : ""), u[i], !n[u[i]] ? "none" : n[u[i]] == 1 && good[u[i]] ? "ok" : "wrong"
          print "" }' "$model"
}
expect_registrations() { # what, folder, version, users that have it (the others none), users
  local expected="" user
  for user in $5; do
    case " $4 " in *" $user "*) expected="$expected $user=ok" ;; *) expected="$expected $user=none" ;; esac
  done
  [ "$(registrations "$2" "$3" "$5")" = "${expected# }" ] ||
    { fail "$1: $(registrations "$2" "$3" "$5"), expected ${expected# }"; show "$model"; }
  [ ! -f "$powershell_dir/unknown.txt" ] || { fail "$1: commands the model does not know"; show "$powershell_dir/unknown.txt"; }
}

# A key exported as text; a failed or empty export fails (never an earlier file).
reg_text() { # key, text file
  local rc
  rm -f "$work/export.reg"
  win reg export "$1" "$(winpath "$work/export.reg")" /y
  rc=$?
  { iconv -f UTF-16LE -t UTF-8 "$work/export.reg" | tr -d '\r'; } 2>/dev/null >"$2"
  [ "$rc" = 0 ] && grep -q '^\[HKEY_' "$2" || { fail "reg export $1: exit code $rc, $(wc -c <"$2") bytes"; return 1; }
}
# The registry and the folders an installation touches, as text to compare.
snapshot() {
  reg_text 'HKLM\Software' "$work/$1.reg"
  reg_text 'HKCU\Software' "$work/hkcu.reg"
  cat "$work/hkcu.reg" >>"$work/$1.reg"
  (cd "$drive" && find "Program Files" "ProgramData" | sort) >"$work/$1.files"
}
expect_snapshot() { # name-before what
  snapshot now
  diff "$work/$1.reg" "$work/now.reg" >"$work/diff" && diff "$work/$1.files" "$work/now.files" >>"$work/diff" ||
    { fail "$2: left behind"; show "$work/diff"; }
}

fresh_prefix() {
  step "a fresh Wine prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  win wineboot -i
  win reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
  "$WINE" --server -w  # the registry files are written when it ends
  [ -f "$WINEPREFIX/system.reg" ] || { fail "wineboot made no prefix"; exit 1; }
}

install() { # [/D=...] : the folder words stay apart, so Wine passes them unquoted
  win "$bin/quillshell-setup.exe" /S "$@"
}

# The Uninstall key's quiet command, run as a deployment tool runs it: its
# exit code is the removal's, once the removal is done.
uninstall() {
  local - command program
  set -f  # "_?=" is no pattern
  win reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quillshell' /v QuietUninstallString
  command=$(tr -d '\r' <"$work/out" | sed -n 's/^ *QuietUninstallString *REG_SZ *//p')
  program=${command#\"} program=${program%%\"*}
  [ -n "$program" ] || { fail "no QuietUninstallString"; return 1; }
  # shellcheck disable=SC2086
  win "$program" ${command#\""$program"\"}  # the words stay apart: Wine passes them unquoted
  local rc=$? i
  # The program that ran the command goes a moment after it ended, under the lock.
  for i in $(seq 50); do
    { [ $rc != 0 ] && [ $rc != 194 ]; } || [ ! -f "$drive/$(echo "${program#C:\\}" | tr '\\' /)" ] && break
    sleep 0.1
  done
  return $rc
}
# Another process that holds something (holder.exe) lets it go.
release() { rm -f "$work/held-$1"; }

make_samples() {
  mkdir -p "$drive/Work/Holiday Pictures" "$drive/Many"
  printf 'PK\005\006%018d' 0 >"$drive/Work/Photos.zip"
  echo "notes" >"$drive/Work/notes.txt"
  echo "rar" >"$drive/Work/Backup.part01.rar"
  for i in $(seq -w 1 40); do echo "$i" >"$drive/Many/file$i.txt"; done
}

# The stand-in writes received.txt beside itself once it has read everything.
stand="$drive/Tarnwick Tools"
received() {
  local i
  for i in $(seq 150); do [ -f "$stand/received.txt" ] && break; sleep 0.1; done
  if [ -f "$stand/received.txt" ]; then
    mv "$stand/received.txt" "$work/received"
  else
    : >"$work/received"
    fail "TarnwickUnzip.exe was not started"
  fi
}
guid_txt='C:\\users\\[^\\]+\\Temp\\[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\.txt'
list_file_re="^list file: $guid_txt, "
# The whole command line: the quoted program, then the parameters, which
# begin with a space of their own.
expect_command_line() { # token, zip path (a regular expression), what
  local re="^command line: \"C:\\\\Tarnwick Tools\\\\TarnwickUnzip\.exe\"  $1 \"$guid_txt\" \"$2\"\$"
  grep -qE -- "$re" "$work/received" || { fail "$3: command line"; show "$work/received"; }
}

headless() {
  fresh_prefix
  make_samples
  local original_build
  win reg query 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' /v CurrentBuildNumber
  original_build=$(tr -d '\r' <"$work/out" | awk '/CurrentBuildNumber/ { print $3 }')
  snapshot before

  step "a first installation that fails leaves nothing"
  local what code dest make undo
  # A volatile key cannot hold the non-volatile keys written beneath it.
  while IFS='|' read -r what code dest make undo; do
    eval "$make"
    install $dest  # unquoted: the folder words stay apart
    expect_rc "$code" $? "$what"
    eval "$undo"
    expect_snapshot before "$what"
  done <<'ROWS'
files cannot be copied|3|/D=C:\Blocked\Quillshell|: >"$drive/Blocked"|rm "$drive/Blocked"
class cannot be registered|4|/D=C:\Program Files\Quill_Shell Test|win "$bin/key_trap.exe" volatile "SOFTWARE\\Classes\\CLSID\\$CLSID"|win reg delete "HKLM\\SOFTWARE\\Classes\\CLSID\\$CLSID" /f
keys cannot be written|5|/D=C:\Program Files\Quill_Shell Test|win "$bin/key_trap.exe" volatile 'SOFTWARE\Classes\Directory'|win reg delete 'HKLM\SOFTWARE\Classes\Directory' /f
another installer or uninstaller runs|8|/LOCKWAIT=1 /D=C:\Program Files\Quill_Shell Test|hold 'mutex:Global\Quillshell.Setup' busy|release busy
a folder every user may change|9|/D=C:\Shared Tools|win "$bin/key_trap.exe" open-folder 'C:\Shared Tools'|rmdir "$drive/Shared Tools" || fail "written into C:\Shared Tools"
a folder inside one every user may change|9|/D=C:\Shared Tools\Quillshell|win "$bin/key_trap.exe" open-folder 'C:\Shared Tools'|rmdir "$drive/Shared Tools" || fail "written into C:\Shared Tools"
ROWS
  # Each run appends to one log; /LOG= names another file.
  iconv -f UTF-16 -t UTF-8 "$drive"/windows/[Ll]ogs/Quillshell/quillshell-setup.log 2>&1 | tr -d '\r' >"$work/log"
  expect_text "$work/log" "cannot write the handler keys" "the log of the failed runs"
  expect_text "$work/log" "exit code 5" "the log of the failed runs"

  step "install silently into a folder with a space and an underscore"
  install /LOG=C:\\setup-test.log /D=C:\\Program Files\\Quill_Shell Test
  expect_rc 0 $? "install"
  iconv -f UTF-16 -t UTF-8 "$drive/setup-test.log" 2>&1 | tr -d '\r' >"$work/log"
  expect_text "$work/log" "exit code 0" "the log named with /LOG="
  install /D=C:\\Program Files\\Quill_Shell Test
  expect_rc 0 $? "install again over the first installation"
  local folder="$drive/Program Files/Quill_Shell Test" f
  expect_whole_installation() { # what
    [ "$(listing "$folder")" = "$installed_files" ] || { fail "$1: not just our files"; listing "$folder"; }
    win reg query "HKLM\\SOFTWARE\\Classes\\CLSID\\$CLSID\\InProcServer32" /ve
    expect_text "$work/out" 'C:\Program Files\Quill_Shell Test\quillshell.dll' "$1: registered server path"
    win reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quillshell' /v InstallLocation
    expect_text "$work/out" 'C:\Program Files\Quill_Shell Test' "$1: install location"
  }
  expect_whole_installation "install again"
  # (Wine keeps no ACL of files: it shows one made of the Unix mode, whose
  # "others" bits stand for Everyone.)
  step "a folder made outside Program Files: nobody but administrators may change it"
  install /D=C:\\Quill Elsewhere\\Quillshell
  expect_rc 0 $? "install outside Program Files"
  install /D=C:\\Quill Elsewhere\\Quillshell
  expect_rc 0 $? "install again into the folder it made"
  win "$bin/key_trap.exe" acl 'C:\Quill Elsewhere\Quillshell'
  expect_text "$work/out" 'D:' "the ACL of the folder made outside Program Files"
  expect_no_text "$work/out" ';WD)' "the folder made outside Program Files"

  step "the same folder by other names: an installation over it keeps it whole"
  local short make dest
  # (cmd's %~s, from a batch file: Wine mangles a quoted path on cmd's own command line)
  printf '@for %%%%I in ("C:\\Program Files\\Quill_Shell Test") do @echo %%%%~sI\r\n' >"$work/short.bat"
  win cmd /c "$(winpath "$work/short.bat")"
  short=$(tr -d '\r\n' <"$work/out")
  echo "the folder's short name: $short"
  case $short in *~*) ;; *) fail "no 8.3 name for the folder: $short" ;; esac
  while IFS='|' read -r what make dest; do
    eval "$make"
    install ${dest//@short@/$short}  # unquoted: the folder words stay apart
    expect_rc 0 $? "$what"
    expect_whole_installation "$what"
  done <<'ROWS'
its 8.3 name|:|/D=@short@
a doubled backslash|:|/D=C:\Program Files\\Quill_Shell Test
a trailing backslash|:|/D=C:\Program Files\Quill_Shell Test\
an earlier installation recorded by its 8.3 name|win reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quillshell' /v InstallLocation /d "$short" /f|/D=C:\Program Files\Quill_Shell Test
ROWS

  step "the Windows 11 menu's package: who has it at once, and who after their next sign-in"
  # Each row: the Windows build, who runs the installer (machine-wide steps,
  # own registration), what comes before, the action, who has exactly one
  # registration of this version naming this folder at once, what follows,
  # and who after everybody's next sign-in (nobody else has any). Explorer
  # shows a newly registered package after it restarts (a sign-in).
  local winbuild machine registering before action now after later users where
  # (an apostrophe, which PowerShell's strings in single quotes must double)
  local version_0 here='/D=C:\Program Files\Quill_Shell Test' there="/D=C:\Program Files\O'Brien's Tools"
  version_0=$(sed -n 's/^QUILLSHELL_VERSION:STRING=//p' "$build/CMakeCache.txt").0
  powershell_standin
  declare_package "$stage/quillshell-modern.msix"
  while IFS='|' read -r what winbuild machine registering before action now after later; do
    sed -i '/^refuse	/d' "$model"
    windows_build "$winbuild"
    users=$everyone where='C:\Program Files\Quill_Shell Test\Modern'
    model_as "$machine" "$registering"
    eval "$before"
    model_as "$machine" "$registering"
    eval "$action"
    expect_rc 0 $? "$what"
    expect_registrations "$what, at once" "$where" "$version_0" "${now#-}" "$users"
    eval "$after"
    sign_in $users
    expect_registrations "$what, after the next sign-in" "$where" "$version_0" "${later#-}" "$users"
  done <<'ROWS'
NSIS as the signed-in administrator|22631|admin:ops|admin:ops|uninstall; sign_in ops|install $here|ops|:|alice bob ops
NSIS as SYSTEM (as deployment tools run it)|22631|SYSTEM|SYSTEM|uninstall; run_as SYSTEM|install $here|-|:|alice bob ops
NSIS with ops's credentials typed by alice|22631|admin:ops|admin:ops|uninstall; sign_in alice; run_as ops|install $here|ops|:|alice bob ops
a user created after the installation|22631|admin:ops|admin:ops|:|users="$everyone carol"|alice bob ops|:|alice bob ops carol
Windows 10, then an upgrade to Windows 11|22631|admin:ops|admin:ops|uninstall; windows_build 19045|install $here|-|windows_build 22631|alice bob ops
the same version again|22631|admin:ops|admin:ops|:|install $here|ops|:|alice bob ops
a failed deprovisioning|22631|admin:ops|admin:ops|printf 'refuse\tRemove-AppxProvisionedPackage\n' >>"$model"|install $here|ops|:|alice bob ops
into another folder, with an apostrophe|22631|admin:ops|admin:ops|:|where="${there#/D=}\\Modern"; install $there|ops|:|alice bob ops
removal|22631|admin:ops|admin:ops|:|uninstall|-|:|-
ROWS
  model_as admin:ops admin:ops
  install $here
  expect_rc 0 $? "installed again"
  expect_whole_installation "installed again"

  step "on ARM64 Windows (as its registry says) the ARM64 DLLs and package; back on x64 the x64 ones"
  local environment='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' native files pair
  while IFS='|' read -r native files; do
    win reg add "$environment" /v PROCESSOR_ARCHITECTURE /d "$native" /f
    install /D=C:\\Program Files\\Quill_Shell Test
    expect_rc 0 $? "install on $native"
    expect_whole_installation "install on $native"
    for pair in $files; do  # installed=staged
      cmp -s "$folder/${pair%%=*}" "$stage/${pair#*=}" || fail "on $native: ${pair%%=*} is not stage/${pair#*=}"
    done
  done <<'ROWS'
ARM64|quillshell.dll=arm64/quillshell.dll Modern/quillshell-modern.dll=arm64/quillshell-modern.dll Modern/quillshell-modern.msix=arm64/quillshell-modern.msix quillshell64reg.exe=quillshell64reg.exe x86/quillshell.dll=x86/quillshell.dll x86/quillshell64reg.exe=x86/quillshell64reg.exe
AMD64|quillshell.dll=quillshell.dll Modern/quillshell-modern.dll=quillshell-modern.dll Modern/quillshell-modern.msix=quillshell-modern.msix
ROWS

  step "the host finds the handler for a file and shows the archive group"
  host list 'C:\Work\Photos.zip'
  expect_rc 0 $? "list Photos.zip"
  cp "$work/out" "$work/archive-menu"
  expect_text "$work/archive-menu" "handler Quillshell $CLSID from HKCR\\*\\shellex\\ContextMenuHandlers, approved" "handler for a file"
  expect_text "$work/archive-menu" 'Quillshell  Extract to ....  | bitmap  | offset 0  | verb unpackto  | help Decompress to a location of your choice' "archive item 0"
  expect_text "$work/archive-menu" 'Quillshell  Extract here  | bitmap  | offset 1  | verb unpackhere  | help Decompress here' "archive item 1"
  expect_text "$work/archive-menu" 'Quillshell  Extract to "Photos\"  | bitmap  | offset 2  | verb unpacktofolder' "archive item 2"
  expect_text "$work/archive-menu" 'Quillshell  Test archived files  | bitmap  | offset 3  | verb test' "archive item 3"
  expect_no_text "$work/archive-menu" 'Create zip' "archive menu"

  host list 'C:\Work\Backup.part01.rar'
  expect_text "$work/out" 'Quillshell  Extract to "Backup\"' "RAR volume"

  step "the host finds the handler for a folder and shows the zip group"
  host list 'C:\Work\Holiday Pictures'
  expect_rc 0 $? "list a folder"
  expect_text "$work/out" "handler Quillshell $CLSID from HKCR\\Directory\\shellex\\ContextMenuHandlers, approved" "handler for a folder"
  expect_text "$work/out" 'Quillshell  Create zip ....  | bitmap  | offset 0  | verb zipto' "folder item 0"
  expect_text "$work/out" 'Quillshell  Create "Holiday Pictures.zip"  | bitmap  | offset 1  | verb zip' "folder item 1"
  expect_text "$work/out" 'Quillshell  Create "Holiday Pictures.zip" with saved password  | bitmap  | offset 2  | verb zipwithmpw' "folder item 2"

  step "where only approved handlers load, it still loads, and without its approval it does not"
  local policy='HKLM\Software\Microsoft\Windows\CurrentVersion\Policies\Explorer' approval
  local approvals='HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'
  win reg add "$policy" /v EnforceShellExtensionSecurity /t REG_DWORD /d 1 /f
  win reg query "$policy" /v EnforceShellExtensionSecurity
  grep -qE '^ +EnforceShellExtensionSecurity +REG_DWORD +0x1\s*$' "$work/out" || { fail "the approval policy was not set"; show "$work/out"; }
  host list 'C:\Work\notes.txt'
  expect_rc 0 $? "list under the approval policy"
  expect_text "$work/out" 'Quillshell  Create "notes.zip"  | bitmap' "zip group under the approval policy"
  win reg query "$approvals" /v "$CLSID"
  approval=$(tr -d '\r' <"$work/out" | sed -n "s/^ *$CLSID *REG_SZ *//p")
  win reg delete "$approvals" /v "$CLSID" /f
  host list 'C:\Work\notes.txt'
  expect_rc 3 $? "list under the approval policy, not approved"
  expect_text "$work/out" "handler Quillshell $CLSID from HKCR\\*\\shellex\\ContextMenuHandlers, not approved" "not approved"
  expect_text "$work/out" 'not loaded: not approved, and EnforceShellExtensionSecurity is set' "not approved, under the policy"
  expect_no_text "$work/out" 'Quillshell  Create' "not approved, under the policy"
  win reg add "$approvals" /v "$CLSID" /d "$approval" /f
  win reg delete "$policy" /f

  step "a click starts TarnwickUnzip.exe with the token, the list file and the zip path"
  mkdir -p "$stand"
  cp "$bin/standin.exe" "$stand/TarnwickUnzip.exe"
  win reg add 'HKCU\Software\Osmund\Brellow' /v Directory /t REG_SZ /d 'C:\Tarnwick Tools' /f
  host invoke 'Extract here' 'C:\Work\Photos.zip'
  expect_rc 0 $? "invoke Extract here"
  received
  expect_command_line '\?UnpackHere\?' 'NULL' "Extract here"
  expect_text "$work/received" 'token: ?UnpackHere?' "Extract here: token"
  grep -qE "${list_file_re}19 bytes, 1 entries$" "$work/received" || { fail "Extract here: list file"; show "$work/received"; }
  expect_text "$work/received" '  C:\Work\Photos.zip' "Extract here: list entry"
  expect_text "$work/received" 'zip path: NULL' "Extract here: zip path"
  expect_no_text "$work/received" 'unterminated' "Extract here: list file ends with *"

  host invoke 'Create "notes.zip"' 'C:\Work\notes.txt'
  expect_rc 0 $? "invoke the zip caption"
  received
  expect_command_line '\?Zip\?' 'C:\\Work\\notes\.zip' "zip caption"
  expect_text "$work/received" 'token: ?Zip?' "zip caption: token"
  expect_text "$work/received" '  C:\Work\notes.txt' "zip caption: list entry"
  expect_text "$work/received" 'zip path: C:\Work\notes.zip' "zip caption: zip path"

  host verb test 'C:\Work\Photos.zip'
  expect_rc 0 $? "verb test"
  received
  expect_text "$work/received" 'token: ?Test?' "verb test: token"

  step "32-bit programs: the x86 DLL, registered in the 32-bit view, shows the menu and starts the program"
  win reg query "HKLM\\SOFTWARE\\Classes\\WOW6432Node\\CLSID\\$CLSID\\InProcServer32" /ve
  expect_text "$work/out" 'C:\Program Files\Quill_Shell Test\x86\quillshell.dll' "32-bit view: registered server path"
  host32 list 'C:\Work\Photos.zip'
  expect_rc 0 $? "x86 host: list Photos.zip"
  expect_text "$work/out" "handler Quillshell $CLSID from HKCR\\*\\shellex\\ContextMenuHandlers, approved" "x86 host: handler, approved"
  expect_text "$work/out" 'Quillshell  Extract here  | bitmap  | offset 1  | verb unpackhere' "x86 host: archive item 1"
  host32 invoke 'Create "notes.zip"' 'C:\Work\notes.txt'
  expect_rc 0 $? "x86 host: invoke the zip caption"
  received
  expect_command_line '\?Zip\?' 'C:\\Work\\notes\.zip' "x86 host: zip caption"

  step "40 selected files: the menu of the first 16, then all 40 invoked"
  local many=() expected="$work/expected-entries"
  : >"$expected"
  for i in $(seq -w 1 40); do many+=("C:\\Many\\file$i.txt"); echo "  C:\\Many\\file$i.txt" >>"$expected"; done
  host invoke 'Create "Many.zip"' "${many[@]}"
  expect_rc 0 $? "invoke on 40 files"
  expect_text "$work/out" 'menu built from the first 16 of 40 items' "16-item menu"
  expect_text "$work/out" 'menu rebuilt with fresh handlers for all 40 items' "rebuilt menu"
  received
  grep -qE "${list_file_re}[0-9]+ bytes, 40 entries$" "$work/received" || { fail "40 files: list file"; show "$work/received"; }
  grep '^  C:' "$work/received" | diff "$expected" - >"$work/diff" || { fail "40 files: entries"; show "$work/diff"; }
  expect_text "$work/received" 'zip path: C:\Many\Many.zip' "40 files: zip path"

  step "the Windows 11 menu: the command of quillshell-modern.dll, in process as its package runs it"
  # Wine's COM finds classes under HKLM\Software\Classes only; the package
  # registers the class on Windows 11.
  local modern_key="HKLM\\Software\\Classes\\CLSID\\$MODERN_CLSID" item
  win reg add "$modern_key\\InProcServer32" /ve /d "$(winpath "$bin/quillshell-modern.dll")" /f
  win reg add "$modern_key\\InProcServer32" /v ThreadingModel /d Apartment /f
  local row captions
  while IFS= read -r row; do  # the item, then each caption followed by "|"
    item=${row%%|*} captions=${row#*|}
    host modern list "$item"
    expect_rc 0 $? "Windows 11 menu of $item"
    [ "$(sed -n 's/^  Quillshell  \(.*\)  | enabled  | icon .*quillshell-modern\.dll,-1040 (loads)  | tooltip .*/\1/p' "$work/out" | tr '\n' '|')" = "$captions" ] ||
      { fail "Windows 11 menu of $item: not $captions"; show "$work/out"; }
  done <<'ROWS'
C:\Work\Photos.zip|Extract to ....|Extract here|Extract to "Photos\"|Test archived files|
C:\Work\notes.txt|Create zip ....|Create "notes.zip"|Create "notes.zip" with saved password|
C:\Work\Holiday Pictures|Create zip ....|Create "Holiday Pictures.zip"|Create "Holiday Pictures.zip" with saved password|
C:\Work\Backup.part01.rar|Extract to ....|Extract here|Extract to "Backup\"|Test archived files|
ROWS
  host modern list 'C:\Work\Photos.zip'
  expect_text "$work/out" 'GetState(fOkToBeSlow FALSE) = 0x00000000 (Success): enabled' "Windows 11 menu: state"
  expect_text "$work/out" 'Windows 11 menu: "Quillshell" with 4 items:' "Windows 11 menu: root"
  expect_text "$work/out" 'Quillshell  Extract here  | enabled' "Windows 11 menu: Extract here"
  expect_text "$work/out" '| tooltip Decompress here  | name {B9AFC773-0453-4D7A-8427-141923A7D16C}' "Windows 11 menu: help text, name"
  host modern invoke 'Extract here' 'C:\Work\Photos.zip'
  expect_rc 0 $? "Windows 11 menu: invoke Extract here"
  received
  expect_command_line '\?UnpackHere\?' 'NULL' "Windows 11 menu: Extract here"
  expect_text "$work/received" '  C:\Work\Photos.zip' "Windows 11 menu: Extract here: list entry"
  host modern invoke 'Create "Many.zip"' "${many[@]}"
  expect_rc 0 $? "Windows 11 menu: invoke on 40 files"
  received
  grep '^  C:' "$work/received" | diff "$expected" - >"$work/diff" || { fail "Windows 11 menu: 40 files: entries"; show "$work/diff"; }
  expect_command_line '\?Zip\?' 'C:\\Many\\Many\.zip' "Windows 11 menu: 40 files"

  step "a click that cannot start the program leaves no list file; neither does any other"
  # The stand-in takes the list file it was handed, as the real program does.
  win reg add 'HKCU\Software\Osmund\Brellow' /v Directory /t REG_SZ /d 'C:\Work' /f
  host invoke 'Extract here' 'C:\Work\Photos.zip'
  expect_rc 0 $? "invoke without the program (no display: the box returns at once)"
  host modern invoke 'Create "notes.zip"' 'C:\Work\notes.txt'
  expect_rc 0 $? "Windows 11 menu: invoke without the program"
  win reg delete "$modern_key" /f
  win reg add 'HKCU\Software\Osmund\Brellow' /v Directory /t REG_SZ /d 'C:\Tarnwick Tools' /f
  [ ! -f "$stand/received.txt" ] || { fail "TarnwickUnzip.exe started from another folder"; rm "$stand/received.txt"; }
  local left
  left=$(find "$drive/users" -path '*/Temp/*' -name '*-*-*-*-*.txt' | wc -l)
  [ "$left" = 0 ] || fail "$left list file(s) left in Temp"

  step "installed into another folder, the earlier one goes with its uninstaller"
  install
  expect_rc 0 $? "install into the default folder"
  [ ! -e "$folder" ] || { fail "the earlier folder stays"; ls "$folder"; }
  folder="$drive/Program Files/Quillshell"
  expect_handler_works "after the move"

  step "uninstall silently: no handler, no key, no file of ours"
  rm -rf "$stand"
  win reg delete 'HKCU\Software\Osmund' /f
  windows_build 22631
  uninstall
  expect_rc 0 $? "uninstall"
  [ -z "$(grep -E '^(registered|staged|provisioned)	' "$model")" ] || { fail "uninstall: the package stays"; show "$model"; }
  windows_build "$original_build"
  host list 'C:\Work\Photos.zip'
  expect_rc 0 $? "file after uninstall"
  expect_text "$work/out" 'no context-menu handler found' "file after uninstall"
  host list 'C:\Work\Holiday Pictures'
  expect_rc 0 $? "folder after uninstall"
  expect_text "$work/out" 'no context-menu handler found' "folder after uninstall"
  host32 list 'C:\Work\Photos.zip'
  expect_rc 0 $? "x86 host after uninstall"
  expect_text "$work/out" 'no context-menu handler found' "x86 host after uninstall"
  expect_snapshot before "uninstall"

  step "a removal that cannot finish keeps its entry and uninstaller, and run again it finishes"
  while IFS='|' read -r what code make undo; do
    install
    eval "$make"
    uninstall
    expect_rc "$code" $? "$what"
    eval "$undo"
    if [ "$code" != 0 ]; then
      [ -f "$folder/uninstall.exe" ] || fail "$what: the uninstaller is gone"
      uninstall
      expect_rc 0 $? "$what, run again"
    fi
    pending
    expect_no_text "$work/pending" 'Files\Quillshell\' "$what: files of the folder scheduled for the restart"
    expect_snapshot before "$what"
  done <<'ROWS'
the registration tools are missing|0|rm "$folder/quillshell64reg.exe" "$folder/x86/quillshell64reg.exe"|:
a value cannot be removed|4|win "$bin/key_trap.exe" deny 'SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'|win "$bin/key_trap.exe" allow 'SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'
a file can be neither deleted nor moved aside|4|hold "open:C:\\Program Files\\Quillshell\\Modern\\quillshell-modern.msix" locked|release locked; sleep 0.3
ROWS
}

# Explorer keeps the DLL loaded for as long as it likes; holder.exe plays it.
holders=()
hold() { # windows path of the DLL, a name for this holder [, x86: a 32-bit process holds it]
  local flag="$work/held-$2" i
  if [ "${3:-}" = x86 ]; then
    "$WINE" --32 "$bin32/holder.exe" "$1" "$(winpath "$flag")" </dev/null >/dev/null 2>&1 &
  else
    "$WINE" "$bin/holder.exe" "$1" "$(winpath "$flag")" </dev/null >/dev/null 2>&1 &
  fi
  holders+=("$!")
  for i in $(seq 100); do [ -f "$flag" ] && return 0; sleep 0.1; done
  fail "holder $2 could not load $1"
}
still_held() { # what
  local pid
  for pid in "${holders[@]}"; do kill -0 "$pid" 2>/dev/null || fail "$1: a holder has ended"; done
}
pending() { # the files Windows deletes when it restarts
  win reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations
  tr -d '\r' <"$work/out" >"$work/pending"
}
expect_handler_works() { # what: a fresh process finds the handler, and a click starts the program
  host invoke 'Extract here' 'C:\Work\Photos.zip'
  expect_rc 0 $? "$1: invoke Extract here"
  received
  expect_text "$work/received" 'token: ?UnpackHere?' "$1: the click reached TarnwickUnzip.exe"
}

# wineboot -r carries out what was scheduled for a restart; every process has ended before.
restart() {
  rm -f "$work"/held-*
  wait "${holders[@]}"
  holders=()
  win wineboot -r
  "$WINE" --server -w
}
# A restart keeps the installation in $folder whole: its files, its keys, a working menu.
restart_keeps_installation() { # what
  snapshot before-restart
  restart
  [ "$(listing "$folder")" = "$installed_files" ] || { fail "$1: not just our files"; listing "$folder"; }
  snapshot after-restart
  diff "$work/before-restart.reg" "$work/after-restart.reg" >"$work/diff" || { fail "$1: the restart changed keys"; show "$work/diff"; }
  expect_handler_works "$1"
}
# An upgrade while holders keep the installed DLL (and older ones) loaded.
upgrade_held() { # n: the DLL is expected to move aside as quillshell.dll.<n>.old
  install
  expect_rc $((3010 % 256)) $? "upgrade $1 while held (3010 modulo 256)"
  [ -f "$folder/quillshell.dll.$1.old" ] || fail "upgrade $1: the held DLL was not moved aside"
  pending
  expect_text "$work/pending" "$dir\\quillshell.dll.$1.old" "upgrade $1: deletion at restart"
  win reg query "HKLM\\$class" /ve
  expect_text "$work/out" "$dir\\quillshell.dll" "upgrade $1: registered server"
  win reg query "$uninstall_key" /v DisplayVersion
  [ "$(tr -d '\r' <"$work/out" | awk '$1 == "DisplayVersion" && $2 == "REG_SZ" { print $3 }')" = "$version" ] ||
    { fail "upgrade $1: DisplayVersion is not $version"; show "$work/out"; }
  still_held "upgrade $1"
  expect_handler_works "upgrade $1"
  hold "$dir\\quillshell.dll" "after-$1-$RANDOM"  # a new Explorer loads the new DLL
}

in_use() {
  local dir='C:\Program Files\Quillshell' folder="$drive/Program Files/Quillshell" rc version
  version=$(sed -n 's/^QUILLSHELL_VERSION:STRING=//p' "$build/CMakeCache.txt")
  local class="SOFTWARE\\Classes\\CLSID\\$CLSID\\InProcServer32"
  local class32="SOFTWARE\\Classes\\WOW6432Node\\CLSID\\$CLSID\\InProcServer32"
  local approved='SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'
  local uninstall_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Quillshell'
  fresh_prefix
  make_samples
  snapshot before
  step "install, then a holder loads the DLL as Explorer does"
  install
  expect_rc 0 $? "first installation"
  # An earlier version is installed: the rows below must keep it as it is.
  win reg add "$uninstall_key" /v DisplayVersion /d 1.0 /f
  mkdir -p "$stand"
  cp "$bin/standin.exe" "$stand/TarnwickUnzip.exe"
  win reg add 'HKCU\Software\Osmund\Brellow' /v Directory /t REG_SZ /d 'C:\Tarnwick Tools' /f
  hold "$dir\\quillshell.dll" first
  snapshot installed

  step "failed upgrades leave the earlier installation as it was, and working"
  local what make code undo
  while IFS='|' read -r what code make undo; do
    eval "$make"
    install
    expect_rc "$code" $? "$what"
    eval "$undo"
    expect_snapshot installed "$what"
    expect_handler_works "$what"
  done <<'ROWS'
files cannot be written|3|mkdir -p "$folder/quillshell64reg.exe.new/x"|rm -r "$folder/quillshell64reg.exe.new"
class cannot be registered|4|win "$bin/key_trap.exe" deny "$class"|win "$bin/key_trap.exe" allow "$class"
the 32-bit view's class cannot be registered|4|win "$bin/key_trap.exe" deny "$class32"|win "$bin/key_trap.exe" allow "$class32"
keys cannot be written|5|win "$bin/key_trap.exe" deny "$approved"|win "$bin/key_trap.exe" allow "$approved"
a newer version is installed|10|win reg add "$uninstall_key" /v DisplayVersion /d 99.0 /f|win reg add "$uninstall_key" /v DisplayVersion /d 1.0 /f
ROWS
  pending
  expect_no_text "$work/pending" 'quillshell' "failed upgrades: nothing scheduled for the restart"

  step "an upgrade moves the held DLL aside and asks for a restart, twice"
  upgrade_held 1
  upgrade_held 2

  step "a restart deletes the DLLs moved aside; the installation stays and works"
  restart_keeps_installation "after the restart"

  step "removal while held, a DLL moved aside by an upgrade among them: keys and other files go now, the rest at restart"
  hold "$dir\\quillshell.dll" again
  upgrade_held 1
  # Explorer's COM surrogate (dllhost.exe) holds the Windows 11 menu's DLL.
  hold "$dir\\Modern\\quillshell-modern.dll" surrogate
  # A 32-bit program's Open dialog holds the x86 DLL.
  hold "$dir\\x86\\quillshell.dll" dialog x86
  rm -rf "$stand"
  win reg delete 'HKCU\Software\Osmund' /f
  uninstall
  expect_rc $((3010 % 256)) $? "uninstall while held (3010 modulo 256)"
  host list 'C:\Work\Photos.zip'
  expect_rc 0 $? "after removal"
  expect_text "$work/out" 'no context-menu handler found' "after removal"
  # The held DLL moved aside, so that what the restart deletes is that file
  # and not whatever stands at the installed name by then.
  [ "$(listing "$folder")" = "Modern Modern/quillshell-modern.dll.1.old quillshell.dll.1.old quillshell.dll.2.old x86 x86/quillshell.dll.1.old " ] ||
    { fail "removal while held: left in the folder"; listing "$folder"; }
  pending
  expect_no_text "$work/pending" "$dir\\quillshell.dll\\0" "removal: the installed name scheduled"
  expect_text "$work/pending" "$dir\\quillshell.dll.2.old\\0" "removal: the moved DLL at restart"
  [ "$(grep -oF 'Quillshell\quillshell.dll.1.old' "$work/pending" | wc -l)" = 1 ] || fail "removal: a file scheduled twice"
  expect_text "$work/pending" "$dir\\Modern\\quillshell-modern.dll.1.old\\0" "removal: the moved modern DLL at restart"
  expect_text "$work/pending" "$dir\\x86\\quillshell.dll.1.old\\0" "removal: the moved x86 DLL at restart"
  host32 list 'C:\Work\Photos.zip'
  expect_rc 0 $? "x86 host after removal"
  expect_text "$work/out" 'no context-menu handler found' "x86 host after removal"
  expect_text "$work/pending" "$dir\\\\0" "removal: the folder at restart"
  still_held "removal"

  step "installed again before the restart (as deployment tools do): the restart keeps the new installation"
  mkdir -p "$stand"
  cp "$bin/standin.exe" "$stand/TarnwickUnzip.exe"
  win reg add 'HKCU\Software\Osmund\Brellow' /v Directory /t REG_SZ /d 'C:\Tarnwick Tools' /f
  install
  rc=$?
  [ "$rc" = 0 ] || [ "$rc" = $((3010 % 256)) ] || fail "install after a removal while held: exit code $rc"
  restart_keeps_installation "reinstalled, then restarted"

  step "removed again, and restarted: nothing is left"
  rm -rf "$stand"
  win reg delete 'HKCU\Software\Osmund' /f
  uninstall
  expect_rc 0 $? "uninstall"
  restart
  [ ! -e "$folder" ] || { fail "the folder survived the restart"; ls "$folder"; }
  expect_snapshot before "removal and restart"
}

display() {
  fresh_prefix
  make_samples
  step "install silently into the default folder"
  install
  expect_rc 0 $? "install"
  [ -f "$drive/Program Files/Quillshell/quillshell.dll" ] || fail "no quillshell.dll in C:\\Program Files\\Quillshell"

  step "the real popup menu, captured"
  local png=$build/e2e-menu.png
  rm -f "$png"
  host popup "$(winpath "$png")" --select 'Extract here' 'C:\Work\Photos.zip'
  expect_rc 0 $? "popup"
  cat "$work/out"
  # The highlighted item's help text reached the status bar, as in Explorer.
  expect_text "$work/out" 'status bar: Decompress here' "popup highlight"
  local colours
  colours=$(sed -n 's/^menu window: .*, \([0-9]*\) colours.*/\1/p' "$work/out")
  [ "${colours:-0}" -ge 4 ] || fail "the menu's part of the picture has ${colours:-no} colours"
  if [ ! -f "$png" ]; then
    fail "no PNG written"
    return
  fi
  # The IHDR chunk follows the 8-byte signature: length, type, width, height.
  local signature width height size
  signature=$(od -An -tx1 -N8 "$png" | tr -d ' \n')
  read -r width height < <(od -An -tu1 -j16 -N8 "$png" |
    awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  size=$(stat -c %s "$png")
  echo "PNG: ${width}x${height}, $size bytes: $png"
  [ "$signature" = 89504e470d0a1a0a ] || fail "not a PNG file"
  { [ "$width" -ge 300 ] && [ "$width" -le 1024 ] && [ "$height" -ge 250 ] && [ "$height" -le 768 ]; } ||
    fail "implausible size ${width}x${height}"
  # The menu's part of the picture, decoded: our item bitmaps (their red caps
  # and blue bodies; Wine draws them without alpha) and a highlighted row.
  local menu_rect
  menu_rect=$(sed -n 's/^menu window: \([0-9]*\)x\([0-9]*\) pixels at \([0-9]*\),\([0-9]*\),.*/\3 \4 \1 \2/p' "$work/out")
  # shellcheck disable=SC2086
  python3 - "$png" $menu_rect >"$work/png" 2>&1 <<'PY' && cat "$work/png" || { fail "the captured menu"; show "$work/png"; }
import struct, sys, zlib
from collections import Counter
data, (left, top, width, height) = open(sys.argv[1], "rb").read(), map(int, sys.argv[2:6])
pos, idat = 8, b""
while pos < len(data):  # chunks: length, type, body, CRC
    n, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + n]
    assert zlib.crc32(kind + body) == struct.unpack(">I", data[pos + 8 + n:pos + 12 + n])[0], f"{kind} CRC"
    if kind == b"IHDR":
        w, h, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", body)
        assert depth == 8 and ctype in (2, 6) and not interlace, f"PNG depth {depth}, type {ctype}"
    idat += body if kind == b"IDAT" else b""
    pos += 12 + n
bpp = 3 if ctype == 2 else 4
raw, stride, rows, prev = zlib.decompress(idat), w * bpp, [], bytearray(w * bpp)
for y in range(h):  # undo each row's filter
    f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a, b, c = (line[i - bpp] if i >= bpp else 0), prev[i], (prev[i - bpp] if i >= bpp else 0)
        p = a + b - c
        paeth = a if abs(p - a) <= min(abs(p - b), abs(p - c)) else b if abs(p - b) <= abs(p - c) else c
        line[i] = (line[i] + [0, a, b, (a + b) // 2, paeth][f]) & 255
    rows.append([tuple(line[x * bpp:x * bpp + 3]) for x in range(w)])
    prev = line
menu = [r[left:left + width] for r in rows[top:top + height]]
background = Counter(p for r in menu for p in r).most_common(1)[0][0]
red = sum(r > 160 and g < 90 and b < 90 for row in menu for r, g, b in row)
blue = sum(b > 150 and r < 90 and g < 110 for row in menu for r, g, b in row)
band = best = 0
for row in menu:  # a highlighted item: rows of one colour other than the menu's
    colour, count = Counter(row).most_common(1)[0]
    band = band + 1 if colour != background and count > width // 2 else 0
    best = max(best, band)
print(f"menu {width}x{height} at {left},{top}: {red} red and {blue} blue icon pixels, a highlighted band of {best} rows")
assert red >= 20 and blue >= 20, "no item bitmaps in the menu"
assert best >= 10, "no highlighted item"
PY
}

# msi mode, Windows Installer: install, repair, the same keys as the NSIS
# installer's, INSTALLDIR=, an upgrade while the DLL is loaded, a refused
# downgrade, removal, the other architecture's package of this version
# replacing it, and from the tables what Wine's msiexec does not keep (Restart
# Manager, the upgrade's transaction, the package code of a rebuild). It uses
# the MSI of this build and one of the next
# version, made with installer/msi.sh, whose DLL carries a few extra bytes so
# that the upgraded file can be told from the installed one.
msiexec() { win msiexec "$@"; }
msi_entries() { # the DisplayVersion of every Uninstall entry named Quillshell (or the failed export)
  reg_text 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' "$work/arp.reg" || return 0
  awk -v RS= '/\n"DisplayName"="Quillshell"\n/ { match($0, /"DisplayVersion"="[^"]*"/); print substr($0, RSTART + 18, RLENGTH - 19) }' "$work/arp.reg" |
    tr '\n' ' '
}
# What a registry snapshot holds of ours: without Windows Installer's own
# bookkeeping, the Uninstall entries and the package's stamp (new at every
# installation), which differ between the two installers by design.
ours() { awk -v RS= -v ORS='\n\n' '!/^\[[^]\n]*\\(Installer|Uninstall)[]\\]/' "$work/$1.reg" | grep -v '^"PackageStamp"='; }
expect_ours_as_before() { # what
  snapshot now
  { diff <(ours before) <(ours now) && diff "$work/before.files" "$work/now.files"; } >"$work/diff" ||
    { fail "$1: left behind"; show "$work/diff"; }
  [ -z "$(msi_entries)" ] || fail "$1: Uninstall entries '$(msi_entries)'"
}

msi() {
  local version this up up_version folder dll rc f left
  version=$(sed -n 's/^QUILLSHELL_VERSION:STRING=//p' "$build/CMakeCache.txt")
  this=$bin/quillshell-$version-x64.msi
  [ -f "$this" ] || { echo "FAIL: no $this (wixl, of the Debian package wixl, builds it)"; exit 1; }
  up_version=${version%.*}.$((${version##*.} + 1))
  up=$work/quillshell-$up_version-x64.msi
  # Every binary of the next version carries a few extra bytes, so that each
  # upgraded file can be told from the installed one.
  local upgraded='quillshell.dll=quillshell.dll quillshell64reg.exe=quillshell64reg.exe Modern/quillshell-modern.dll=quillshell-modern.dll Modern/quillshell64reg.exe=quillshell64reg.exe Modern/quillshell-package.exe=quillshell-package.exe x86/quillshell.dll=x86/quillshell.dll x86/quillshell64reg.exe=x86/quillshell64reg.exe'
  mkdir -p "$work/up/x86"
  for f in quillshell.dll quillshell64reg.exe quillshell-modern.dll quillshell-package.exe x86/quillshell.dll x86/quillshell64reg.exe; do
    { cat "$build/stage/$f"; echo "quillshell $up_version"; } >"$work/up/$f"
  done
  python3 "$src/installer/msix/pack.py" --version "$up_version" --out "$work/up/quillshell-modern.msix"
  sh "$src/installer/msi.sh" "$src/installer/quillshell.wxs" "$work/up" x64 \
    "$up_version" "$up" 1767225600 || { fail "cannot build the MSI of $up_version"; return; }
  # The next version, signed with another certificate: another package family.
  local signed_version=${version%.*}.$((${version##*.} + 2)) signed signer='CN=Quillshell other signer'
  signed=$work/quillshell-$signed_version-x64.msi
  mkdir -p "$work/signed"
  cp -r "$work/up/"* "$work/signed/"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/signer.key" -out "$work/signer.crt" -days 2 \
    -subj "/CN=Quillshell other signer" -addext extendedKeyUsage=codeSigning >/dev/null 2>&1
  python3 "$src/installer/msix/pack.py" --version "$signed_version" --cert "$work/signer.crt" --out "$work/signed/quillshell-modern.msix"
  sh "$src/installer/sign.sh" "$work/signer.crt" "$work/signer.key" "" 1767225600 "$work/signed/quillshell-modern.msix" &&
  sh "$src/installer/msi.sh" "$src/installer/quillshell.wxs" "$work/signed" x64 \
    "$signed_version" "$signed" 1767225600 || { fail "cannot build the MSI of $signed_version"; return; }

  step "the ARM64 package: Arm64 platform, the ARM64 DLLs and package, the x86 DLL"
  local arm64_msi=$bin/quillshell-$version-arm64.msi pair
  msiinfo suminfo "$arm64_msi" | tr -d '\r' >"$work/suminfo"
  expect_text "$work/suminfo" 'Template: Arm64;1033' "ARM64 MSI: platform"
  rm -rf "$work/arm64-files"
  msiextract -C "$work/arm64-files" "$arm64_msi" >/dev/null || fail "ARM64 MSI: cannot be unpacked"
  for pair in quillshell.dll=arm64/quillshell.dll Modern/quillshell-modern.dll=arm64/quillshell-modern.dll \
              Modern/quillshell-modern.msix=arm64/quillshell-modern.msix quillshell64reg.exe=quillshell64reg.exe \
              x86/quillshell.dll=x86/quillshell.dll x86/quillshell64reg.exe=x86/quillshell64reg.exe; do
    cmp -s "$work/arm64-files/Quillshell/${pair%%=*}" "$stage/${pair#*=}" ||
      fail "ARM64 MSI: ${pair%%=*} is not stage/${pair#*=}"
  done

  step "each package names every binary's version, as Windows Installer compares them with the files on disk"
  local package
  for package in "$this" "$arm64_msi"; do
    # File table: File, Component_, FileName (short|long), FileSize, Version, Language, ...
    msiinfo export "$package" File | tr -d '\r' >"$work/file-table"
    [ "$(awk -F'\t' '$3 ~ /\.(dll|exe)$/ { print $1 "=" $5 }' "$work/file-table" | LC_ALL=C sort | tr '\n' ' ')" = \
      "modern_program.exe=$version.0 quillshell.dll=$version.0 quillshell32.dll=$version.0 quillshell32reg.exe=$version.0 quillshell64reg.exe=$version.0 quillshell_modern.dll=$version.0 quillshell_package.exe=$version.0 " ] ||
      { fail "${package##*/}: not every binary has version $version.0 in the File table"; show "$work/file-table"; }
  done

  # Rules of Windows Installer that Wine's msiexec does not keep, read from the tables.
  step "the tables: Explorer is never shut down, the old version's removal is in the new one's transaction"
  msiinfo export "$this" Property | tr -d '\r' >"$work/property-table"
  grep -qx 'MSIRESTARTMANAGERCONTROL	DisableShutdown' "$work/property-table" ||
    fail "MSI: Restart Manager may shut down Explorer (MSIRESTARTMANAGERCONTROL is not DisableShutdown)"
  # After InstallInitialize the removal is rolled back with a failed installation.
  msiinfo export "$this" InstallExecuteSequence | tr -d '\r' | awk -F'\t' 'NR > 3 { print $3 "\t" $1 }' | sort -n |
    awk -F'\t' '$2 == "InstallInitialize" { getline; print $2 }' >"$work/after-initialize"
  [ "$(cat "$work/after-initialize")" = RemoveExistingProducts ] ||
    fail "MSI: RemoveExistingProducts is not right after InstallInitialize ($(cat "$work/after-initialize") is)"
  step "a rebuild of $version with other contents has another package code; the same contents the same one"
  local rebuild=$work/rebuild.msi
  package_code() { msiinfo suminfo "$1" | tr -d '\r' | sed -n 's/^Revision number (UUID): //p'; }
  sh "$src/installer/msi.sh" "$src/installer/quillshell.wxs" "$work/up" x64 "$version" "$rebuild" 1767225600 ||
    fail "cannot rebuild the MSI of $version"
  [ -n "$(package_code "$this")" ] && [ "$(package_code "$this")" != "$(package_code "$rebuild")" ] ||
    fail "MSI: the rebuild with another DLL has the package code $(package_code "$rebuild") of the original"
  sh "$src/installer/msi.sh" "$src/installer/quillshell.wxs" "$work/up" x64 "$version" "$rebuild.again" 1767225600
  [ "$(package_code "$rebuild")" = "$(package_code "$rebuild.again")" ] || fail "MSI: the same contents give package codes $(package_code "$rebuild") and $(package_code "$rebuild.again")"
  # The ARM64 package of this version as Wine can install it: ARM64's product
  # and tables, built from this machine's DLLs, on the x64 platform.
  local other_arch=$work/other-arch.msi
  mkdir -p "$work/other/arm64"
  cp -r "$build/stage/"* "$work/other/"
  cp "$build/stage/quillshell.dll" "$build/stage/quillshell-modern.dll" "$build/stage/quillshell-modern.msix" "$work/other/arm64/"
  sh "$src/installer/msi.sh" "$src/installer/quillshell.wxs" "$work/other" arm64 "$version" "$other_arch" 1767225600 &&
    msibuild "$other_arch" -s "Quillshell $version" Osmund 'x64;1033' "$(package_code "$other_arch")" || fail "cannot build the ARM64 stand-in"

  fresh_prefix
  make_samples
  mkdir -p "$stand"
  cp "$bin/standin.exe" "$stand/TarnwickUnzip.exe"
  win reg add 'HKCU\Software\Osmund\Brellow' /v Directory /t REG_SZ /d 'C:\Tarnwick Tools' /f
  # Windows always has other handlers and approvals beside ours. A bare Wine
  # prefix has none, and Wine's msiexec then deletes the emptied parent keys
  # as well, although it did not make them.
  local other='{0C0FFEE0-0000-4000-8000-000000000001}' class
  for class in '*' Directory; do
    win reg add "HKLM\\Software\\Classes\\$class\\shellex\\ContextMenuHandlers\\Other" /ve /d "$other" /f
  done
  win reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved' /v "$other" /d Other /f
  win reg add 'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved' /v "$other" /d Other /f
  win reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v Other /d 'C:\other.exe' /f
  powershell_standin
  windows_build 22631
  declare_package "$stage/quillshell-modern.msix"
  declare_package "$work/up/quillshell-modern.msix"
  declare_package "$work/signed/quillshell-modern.msix" "$signer"
  # shellcheck disable=SC2046
  model_as $(msi_accounts "$this" ops)
  grep -q '^as	machine	SYSTEM$' "$model" && grep -q '^as	register	ops$' "$model" ||
    { fail "MSI: not the system's machine-wide step and the installing user's registration"; show "$model"; }
  snapshot before

  step "on ARM64 Windows (as its registry says) the package refuses (1603, here 67) and writes nothing"
  local environment='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
  win reg add "$environment" /v PROCESSOR_ARCHITECTURE /d ARM64 /f
  msiexec /i "$(winpath "$this")" /qn
  expect_rc 67 $? "msiexec /i on ARM64"
  win reg add "$environment" /v PROCESSOR_ARCHITECTURE /d AMD64 /f
  expect_ours_as_before "refused on ARM64"
  msiexec /i "$(winpath "$bin/quillshell-$version-arm64.msi")" /qn
  expect_rc $((1633 % 256)) $? "the ARM64 package on x64 Windows: unsupported platform (1633 modulo 256)"
  expect_ours_as_before "the ARM64 package refused on x64"

  step "the ARM64 package's own condition, which Wine's platform refusal hides: a copy marked x64 refuses x64 Windows and installs on ARM64"
  local arm64_as_x64=$work/arm64-as-x64.msi code
  cp "$arm64_msi" "$arm64_as_x64"
  code=$(sed -n 's/^Revision number (UUID): //p' "$work/suminfo")
  msibuild "$arm64_as_x64" -s "Quillshell $version" Osmund "x64;1033" "$code" || fail "cannot mark a copy of the ARM64 MSI x64"
  msiexec /i "$(winpath "$arm64_as_x64")" /qn
  expect_rc 67 $? "the ARM64 package's condition on x64 Windows (1603 modulo 256)"
  expect_ours_as_before "the ARM64 package's condition on x64 Windows"
  win reg add "$environment" /v PROCESSOR_ARCHITECTURE /d ARM64 /f
  msiexec /i "$(winpath "$arm64_as_x64")" /qn
  expect_rc 0 $? "the ARM64 package on ARM64 Windows"
  cmp -s "$stage/arm64/quillshell.dll" "$drive/Program Files/Quillshell/quillshell.dll" ||
    fail "the ARM64 package on ARM64 Windows: quillshell.dll is not stage/arm64/quillshell.dll"
  msiexec /x "$(winpath "$arm64_as_x64")" /qn
  expect_rc 0 $? "the ARM64 package removed"
  win reg add "$environment" /v PROCESSOR_ARCHITECTURE /d AMD64 /f
  expect_ours_as_before "the ARM64 package installed and removed on ARM64 Windows"
  windows_build 22631

  # A program custom action's exit code other than 0 fails the installation:
  # 1603 from Windows ("Custom Action Return Values"), 1627 (here 91) from Wine.
  step "into a folder every user may change, or one inside it, it refuses and writes nothing"
  for f in 'C:\Shared Tools' 'C:\Shared Tools\Quillshell'; do
    win "$bin/key_trap.exe" open-folder 'C:\Shared Tools'
    msiexec /i "$(winpath "$this")" /qn "INSTALLDIR=$f"
    expect_rc 91 $? "the MSI into $f"
    rmdir "$drive/Shared Tools" || fail "the MSI wrote into C:\Shared Tools"
    expect_ours_as_before "the MSI refused $f"
  done

  step "msiexec /i installs $version silently into the default folder; a click works"
  msiexec /i "$(winpath "$this")" /qn
  expect_rc 0 $? "msiexec /i"
  # The system's steps log where only administrators write, not in its Temp.
  expect_text "$drive/windows/logs/Quillshell/quillshell-package.log" 'provision: Add-AppxProvisionedPackage' "MSI: the system's log"
  expect_no_text "$drive/windows/logs/Quillshell/quillshell-package.log" 'register for this account' "MSI: the system's log"
  # Outside Program Files, INSTALLDIR gets a protected ACL that lets only
  # SYSTEM and Administrators write (Windows Installer 5; Wine's msi sets none).
  msiinfo export "$this" MsiLockPermissionsEx | tr -d '\r' | awk -F'\t' '$2 == "INSTALLDIR" && $3 == "CreateFolder" { print $4 }' >"$work/lock"
  grep -qE '^D:PAI(\(A;OICI;(FA;;;(SY|BA)|0x1200a9;;;[^)]*)\))+$' "$work/lock" || { fail "MSI: INSTALLDIR's ACL"; show "$work/lock"; }
  folder="$drive/Program Files/Quillshell"
  for f in quillshell.dll quillshell64reg.exe x86/quillshell.dll x86/quillshell64reg.exe; do
    cmp -s "$build/stage/$f" "$folder/$f" || fail "MSI: $f not installed"
  done
  win reg query "HKLM\\SOFTWARE\\Classes\\WOW6432Node\\CLSID\\$CLSID\\InProcServer32" /ve
  expect_text "$work/out" 'C:\Program Files\Quillshell\x86\quillshell.dll' "MSI: server path in the 32-bit view"
  host32 list 'C:\Work\Photos.zip'
  expect_text "$work/out" "handler Quillshell $CLSID from HKCR\\*\\shellex\\ContextMenuHandlers, approved" "MSI: x86 host's handler"
  win reg query "HKLM\\SOFTWARE\\Classes\\CLSID\\$CLSID\\InProcServer32" /ve
  expect_text "$work/out" 'C:\Program Files\Quillshell\quillshell.dll' "MSI: registered server path"
  host list 'C:\Work\Photos.zip'
  expect_text "$work/out" "handler Quillshell $CLSID from HKCR\\*\\shellex\\ContextMenuHandlers, approved" "MSI: handler for a file"
  host list 'C:\Work\Holiday Pictures'
  expect_text "$work/out" "handler Quillshell $CLSID from HKCR\\Directory\\shellex\\ContextMenuHandlers, approved" "MSI: handler for a folder"
  expect_handler_works "MSI"
  [ "$(msi_entries)" = "$version " ] || fail "MSI: Uninstall entries '$(msi_entries)'"
  local modern='C:\Program Files\Quillshell\Modern'
  expect_registrations "MSI /qn, at once" "$modern" "$version.0" "ops" "$everyone"
  sign_in $everyone
  expect_registrations "MSI /qn, after the next sign-in" "$modern" "$version.0" "$everyone" "$everyone"
  snapshot installed
  install
  expect_rc 7 $? "the NSIS installer over the MSI's installation"
  expect_snapshot installed "the NSIS installer over the MSI's installation"

  step "a repair puts back a lost handler key and DLL"
  win reg delete 'HKLM\Software\Classes\*\shellex\ContextMenuHandlers\Quillshell' /f
  rm "$folder/quillshell.dll"
  # (the same as /famus, which Wine 8's msiexec does not take)
  msiexec /i "$(winpath "$this")" REINSTALL=ALL REINSTALLMODE=amus /qn
  expect_rc 0 $? "msiexec /i REINSTALL=ALL"
  cmp -s "$build/stage/quillshell.dll" "$folder/quillshell.dll" || fail "repair: no quillshell.dll"
  expect_handler_works "after the repair"
  snapshot msi

  step "msiexec /x removes it; the NSIS installer writes the same keys, and the MSI refuses to go over it"
  model_as $(msi_accounts "$this" ops)
  msiexec /x "$(winpath "$this")" /qn
  expect_rc 0 $? "msiexec /x"
  expect_ours_as_before "MSI removal"
  expect_registrations "MSI removal" "$modern" "$version.0" "" "$everyone"
  install
  expect_rc 0 $? "NSIS install"
  snapshot nsis
  diff <(ours msi) <(ours nsis) >"$work/diff" || { fail "the MSI and the NSIS installer write different keys"; show "$work/diff"; }
  msiexec /i "$(winpath "$this")" /qn
  expect_rc 67 $? "the MSI over the NSIS installation"
  [ -z "$(msi_entries)" ] || fail "the MSI over the NSIS installation: Uninstall entries '$(msi_entries)'"
  uninstall
  expect_rc 0 $? "NSIS uninstall"

  step "INSTALLDIR= moves the folder; where provisioning is refused, each user's sign-in registers the package"
  model_as $(msi_accounts "$this" ops)
  printf 'refuse\tAdd-AppxProvisionedPackage\n' >>"$model"
  folder="$drive/Program Files/Quill_Shell MSI"
  msiexec /i "$(winpath "$this")" /qn 'INSTALLDIR=C:\Program Files\Quill_Shell MSI'
  expect_rc 0 $? "msiexec /i INSTALLDIR="
  win reg query "HKLM\\SOFTWARE\\Classes\\CLSID\\$CLSID\\InProcServer32" /ve
  expect_text "$work/out" 'C:\Program Files\Quill_Shell MSI\quillshell.dll' "INSTALLDIR: registered server path"
  modern='C:\Program Files\Quill_Shell MSI\Modern'
  expect_registrations "INSTALLDIR, provisioning refused, at once" "$modern" "$version.0" "ops" "$everyone"
  sign_in $everyone
  expect_registrations "INSTALLDIR, provisioning refused, after the next sign-in" "$modern" "$version.0" "$everyone" "$everyone"
  sed -i '/^refuse	/d' "$model"

  # Windows Installer replaces a file in use at the next restart and exits
  # with 3010 (here 3010 % 256 = 194); until then the old DLL stays in place
  # and registered, so the menu keeps working throughout.
  step "an upgrade to $up_version while Explorer holds the DLL"
  dll='C:\Program Files\Quill_Shell MSI\quillshell.dll'
  hold "$dll" msi-upgrade
  # ... and the COM surrogate runs the Windows 11 menu's command for alice.
  printf 'running\talice\tQuillshell.Modern\n' >>"$model"
  model_as $(msi_accounts "$up" ops)
  msiexec /i "$(winpath "$up")" /qn 'INSTALLDIR=C:\Program Files\Quill_Shell MSI'
  expect_rc 194 $? "upgrade while the DLL is loaded"
  expect_registrations "upgrade while the surrogate runs, at once" "$modern" "$up_version.0" "ops" "$everyone"
  sign_in $everyone
  expect_registrations "upgrade while the surrogate runs, after the next sign-in" "$modern" "$up_version.0" "$everyone" "$everyone"
  [ "$(msi_entries)" = "$up_version " ] || fail "upgrade: Uninstall entries '$(msi_entries)'"
  cmp -s "$build/stage/quillshell.dll" "$folder/quillshell.dll" || fail "upgrade: the loaded DLL was not left in place"
  expect_handler_works "upgrade, DLL still loaded"
  step "a restart completes it"
  restart
  for pair in $upgraded; do  # installed=the next version's
    cmp -s "$work/up/${pair#*=}" "$folder/${pair%%=*}" || fail "after the restart ${pair%%=*} is not that of $up_version"
  done
  [ "$(cd "$folder" && echo *)" = "Modern quillshell.dll quillshell64reg.exe x86" ] || fail "upgrade left $(cd "$folder" && echo *)"
  expect_handler_works "upgrade, after the restart"

  step "a downgrade to $version is refused (1603, here 67)"
  msiexec /i "$(winpath "$this")" /qn
  expect_rc 67 $? "downgrade"
  [ "$(msi_entries)" = "$up_version " ] || fail "downgrade: Uninstall entries '$(msi_entries)'"
  expect_handler_works "after the refused downgrade"

  step "msiexec /x while Explorer holds the DLL"
  hold "$dll" msi-removal
  model_as $(msi_accounts "$up" ops)
  # Windows Installer finds the installed files where they are; Wine's
  # msiexec looks in the default folder unless INSTALLDIR= is given again.
  msiexec /x "$(winpath "$up")" /qn 'INSTALLDIR=C:\Program Files\Quill_Shell MSI'
  rc=$?
  echo "msiexec /x with the DLL loaded: exit code $rc"
  expect_registrations "removal while in use" "$modern" "$up_version.0" "" "$everyone"
  [ "$rc" = 0 ] || [ "$rc" = 194 ] || fail "removal while in use: exit code $rc"
  # The keys go at once, and of the files only the one in use may stay:
  # Windows schedules its deletion at the restart (3010); Wine 8's msiexec
  # leaves it in place (0).
  snapshot now
  diff <(ours before) <(ours now) >"$work/diff" || { fail "removal while in use: keys left"; show "$work/diff"; }
  [ -z "$(msi_entries)" ] || fail "removal while in use: Uninstall entries '$(msi_entries)'"
  left=$(comm -13 "$work/before.files" "$work/now.files" | tr '\n' '|')
  echo "left by msiexec /x with the DLL loaded: ${left:-nothing}"
  case $left in ''|'Program Files/Quill_Shell MSI|'|'Program Files/Quill_Shell MSI|Program Files/Quill_Shell MSI/quillshell.dll|') ;;
  *) fail "removal while in use: left $left" ;;
  esac
  if [ "$rc" = 194 ]; then
    pending
    grep -qiE 'quillshell\.dll|Config\.Msi' "$work/pending" || { fail "removal while in use: no deletion at restart"; show "$work/pending"; }
  fi
  # Only the other handler stays, which cannot be made (its class is not registered).
  host list 'C:\Work\Photos.zip'
  expect_rc 3 $? "file after msiexec /x"
  [ "$(grep '^handler ' "$work/out")" = "handler Other $other from HKCR\\*\\shellex\\ContextMenuHandlers, approved" ] ||
    { fail "file after msiexec /x: not just the other handler"; show "$work/out"; }
  # Windows Installer moves a file in use aside (into Config.Msi) and
  # deletes that at the restart, so an installation made before the restart
  # keeps its own; Wine 8's msiexec ends with 0 and leaves the file in place.
  step "installed again before the restart: the restart keeps the new installation"
  msiexec /i "$(winpath "$up")" /qn 'INSTALLDIR=C:\Program Files\Quill_Shell MSI'
  rc=$?
  echo "msiexec /i after a removal while in use: exit code $rc"
  [ "$rc" = 0 ] || [ "$rc" = 194 ] || fail "install after a removal while in use: exit code $rc"
  restart
  cmp -s "$work/up/quillshell.dll" "$folder/quillshell.dll" || fail "installed again, then restarted: not the DLL of $up_version"
  expect_handler_works "installed again, then restarted"
  step "an upgrade signed with another certificate: one registration, of the new publisher's package"
  sign_in $everyone
  expect_registrations "before the new certificate" "$modern" "$up_version.0" "$everyone" "$everyone"
  model_as $(msi_accounts "$signed" ops)
  msiexec /i "$(winpath "$signed")" /qn 'INSTALLDIR=C:\Program Files\Quill_Shell MSI'
  expect_rc 0 $? "upgrade to $signed_version"
  expect_registrations "new certificate, at once" "$modern" "$signed_version.0" "ops" "$everyone"
  sign_in $everyone
  expect_registrations "new certificate, after the next sign-in" "$modern" "$signed_version.0" "$everyone" "$everyone"
  grep -q "^registered	alice	Quillshell.Modern	$signed_version.0	$signer	" "$model" || { fail "new certificate: not its publisher"; show "$model"; }

  step "removed: nobody has it, and no sign-in brings it back"
  model_as $(msi_accounts "$signed" ops)
  msiexec /x "$(winpath "$signed")" /qn 'INSTALLDIR=C:\Program Files\Quill_Shell MSI'
  expect_rc 0 $? "msiexec /x"
  expect_registrations "msiexec /x, at once" "$modern" "$signed_version.0" "" "$everyone"
  sign_in $everyone carol
  expect_registrations "msiexec /x, after the next sign-in" "$modern" "$signed_version.0" "" "$everyone carol"
  win reg delete 'HKCU\Software\Osmund\Quillshell' /f  # the marker the last sign-in loaded
  expect_ours_as_before "msiexec /x after the upgrades"

  step "the ARM64 package of $version replaces the x64 one of $version instead of installing beside it"
  model_as $(msi_accounts "$this" ops)
  msiexec /i "$(winpath "$this")" /qn
  expect_rc 0 $? "msiexec /i x64"
  win reg add "$environment" /v PROCESSOR_ARCHITECTURE /d ARM64 /f
  msiexec /i "$(winpath "$other_arch")" /qn
  expect_rc 0 $? "msiexec /i ARM64 over x64"
  [ "$(msi_entries)" = "$version " ] || fail "x64, then ARM64: Uninstall entries '$(msi_entries)'"
  msiexec /x "$(winpath "$other_arch")" /qn
  expect_rc 0 $? "msiexec /x ARM64"
  win reg add "$environment" /v PROCESSOR_ARCHITECTURE /d AMD64 /f
  expect_ours_as_before "x64, then ARM64, removed"
}

[ -f "$bin/quillshell-setup.exe" ] || { echo "FAIL: no $bin/quillshell-setup.exe (makensis, of the Debian package nsis, builds it)"; exit 1; }
case $mode in
headless) headless ;;
in-use) in_use ;;
display) display ;;
msi) msi ;;
*) echo "usage: $0 <build folder> headless|in-use|msi|display"; exit 2 ;;
esac
echo "e2e ($mode): $failures failure(s)"
[ "$failures" = 0 ] || exit 1
# A passing run needs its 700 MB prefix no more; a failing one keeps it to look at.
"$WINE" --server -k 2>/dev/null
rm -rf "$WINEPREFIX"
