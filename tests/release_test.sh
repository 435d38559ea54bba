#!/usr/bin/env bash
# Releases: two release builds of this source from two folders give the same
# files by name and bytes, unsigned and signed (a throwaway CA, made here, and
# a fixed signing time), each binary of its folder's machine; osslsigncode
# verifies every signed file, every PE file that the signed NSIS installer and
# x64 MSI put on disk under Wine and that the ARM64 MSI carries, and every PE
# file that the installer and uninstaller carry (their plugins), and rejects a
# flipped byte; a signed release without a timestamp is refused unless asked for;
# the MSIX package's block map, content types and manifest hold, and its
# Publisher is the signing certificate's subject as Windows writes it; the
# winget manifests hold under winget's schemas and name the release's files,
# hashes and codes; the README names this version's MSI.
#
# usage: release_test.sh <source folder> <work folder> <build's bin folder>
set -uo pipefail
src=$(cd "$1" && pwd)
work=$2
bin=$3
for tool in makensis wixl msibuild faketime osslsigncode openssl 7z; do
  command -v "$tool" >/dev/null || { echo "FAIL: no $tool (scripts/lib.sh's ensure_packages installs it)"; exit 1; }
done
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo "== $*"; }
# The same commit time for both copies, which have no history of their own.
SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct 2>/dev/null || echo 1767225600)
export SOURCE_DATE_EPOCH
unset QUILLSHELL_SIGN_CERT QUILLSHELL_SIGN_KEY QUILLSHELL_SIGN_TIMESTAMP_URL QUILLSHELL_SIGN_NO_TIMESTAMP

step "a throwaway CA and a code-signing certificate it issued"
ca=$work/ca
mkdir -p "$ca"
{
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ca/ca.key" -out "$ca/ca.crt" -days 3650 \
    -subj "/CN=Quillshell test CA" -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign
  openssl req -newkey rsa:2048 -nodes -keyout "$ca/sign.key" -out "$ca/sign.csr" \
    -subj "/C=DE/ST=Land/L=Town/O=Quillshell, Test Ltd/CN=Quillshell test signer"
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >"$ca/ext"
  # Valid from before the fixed signing time, which lies in the past.
  openssl x509 -req -in "$ca/sign.csr" -CA "$ca/ca.crt" -CAkey "$ca/ca.key" -set_serial 1 -days 3650 \
    -extfile "$ca/ext" -out "$ca/sign.crt"
  # The certificate with its chain, the root first: the signer is the one that issued none.
  cat "$ca/ca.crt" "$ca/sign.crt" >"$ca/chain.crt"
} >"$work/openssl.log" 2>&1 || { cat "$work/openssl.log"; echo "FAIL: openssl"; exit 1; }

step "a certificate whose subject has a multi-valued part (no package Publisher can name it) is refused"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ca/multi.key" -out "$ca/multi.crt" -days 1 -multivalue-rdn \
  -subj "/O=Quillshell/CN=signer+OU=tests" >"$work/openssl.log" 2>&1 || { cat "$work/openssl.log"; fail "openssl"; }
python3 "$src/installer/msix/pack.py" --version 1.0.0 --cert "$ca/multi.crt" --out "$work/multi.msix" 2>"$work/multi.log" &&
  fail "a package for a multi-valued subject was made"
grep -q 'multi-valued' "$work/multi.log" || { fail "the refusal does not say why"; sed 's/^/    | /' "$work/multi.log"; }

# Two copies of the source in folders of different names and depths.
copy() {
  mkdir -p "$1"
  (cd "$src" && tar --exclude='./build*' --exclude=./dist --exclude=./.git -cf - .) | (cd "$1" && tar -xf -)
}
copy "$work/a/src"
copy "$work/second copy/b/src"
release() { # source, dist folder, [keep]
  RELEASE_BUILD="$1/../build" DIST=$2 RELEASE_KEEP_BUILD=${3:-0} "$1/scripts/release" >"$2.log" 2>&1 ||
    { fail "scripts/release in $1"; sed 's/^/    | /' "$2.log"; }
}
# x64, x86 and arm64 binaries, two installers of each kind, two packages, the winget manifests, the sums
release_files() { # version
  printf '%s\n' SHA256SUMS arm64/quillshell-modern.dll arm64/quillshell.dll arm64/quillshell64reg.exe \
    "quillshell-$1-arm64.msi" "quillshell-$1-setup.exe" "quillshell-$1-x64.msi" quillshell-modern-arm64.msix \
    quillshell-modern.dll quillshell-modern.msix quillshell.dll quillshell64reg.exe x86/quillshell.dll \
    x86/quillshell64reg.exe winget/Osmund.Quillshell.yaml winget/Osmund.Quillshell.installer.yaml \
    winget/Osmund.Quillshell.locale.en-US.yaml | LC_ALL=C sort
}
same() { # dist A, dist B, what
  local f
  [ -f "$1/SHA256SUMS" ] || { fail "$3: no release in $1"; return; }
  diff -r "$1" "$2" >"$work/diff" 2>&1 || { fail "$3: the releases differ"; sed 's/^/    | /' "$work/diff"; }
  diff <(release_files "$version") <(cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$work/diff" ||
    { fail "$3: not the release's files (< missing, > extra)"; sed 's/^/    | /' "$work/diff"; }
  diff <(release_files "$version" | grep -vx SHA256SUMS) <(awk '{ print $2 }' "$1/SHA256SUMS" | LC_ALL=C sort) >"$work/diff" ||
    { fail "$3: SHA256SUMS does not list every other file"; sed 's/^/    | /' "$work/diff"; }
  echo "$3:"; sed 's/^/    /' "$1/SHA256SUMS"
  (cd "$1" && sha256sum -c --quiet SHA256SUMS) || fail "$3: SHA256SUMS does not match"
  for f in $(find "$1" -type f); do
    case $f in *.dll | *.exe | *.msi | *.msix) grep -qF "$work" "$f" && fail "$3: $(basename "$f") holds a build path" ;; esac
  done
}

step "two unsigned releases from two folders"
a=$work/a/dist b="$work/second copy/b/dist"
release "$work/a/src" "$a"
release "$work/second copy/b/src" "$b"
version=$(sed -n 's/^QUILLSHELL_VERSION:STRING=//p' "$work/a/build/CMakeCache.txt")
grep -q 'UNSIGNED' "$a.log" || fail "an unsigned release does not say so"
same "$a" "$b" "unsigned"
# Each binary of the architecture its folder names (machine, hardening, exports, imports).
sh "$src/tests/check_binaries.sh" --machine x64 "$a/quillshell.dll" "$a/quillshell64reg.exe" "$a/quillshell-modern.dll" ||
  fail "the x64 binaries"
sh "$src/tests/check_binaries.sh" --machine x86 "$a/x86/quillshell.dll" "$a/x86/quillshell64reg.exe" || fail "x86/"
sh "$src/tests/check_binaries.sh" --machine arm64 "$a/arm64/quillshell.dll" "$a/arm64/quillshell64reg.exe" \
  "$a/arm64/quillshell-modern.dll" || fail "arm64/"
grep -qF "quillshell-$version-x64.msi" "$src/README.md" || fail "README.md does not name quillshell-$version-x64.msi"

step "the winget manifests: winget's schemas; every installer's file, hash and codes, for both installers and architectures"
# Debian's python3: scripts/lib.sh installs its jsonschema and yaml.
/usr/bin/python3 "$src/tests/winget_check.py" "$a" "$version" || fail "the unsigned release's winget manifests"
grep -qF "InstallerUrl: \"https://quillshell.example/download/$version/quillshell-$version-x64.msi\"" \
  "$a/winget/Osmund.Quillshell.installer.yaml" || fail "the winget installers' URLs are not under the default base address"

step "a signed release without a timestamp server is refused unless asked for"
export QUILLSHELL_SIGN_CERT=$ca/chain.crt QUILLSHELL_SIGN_KEY=$ca/sign.key
RELEASE_BUILD="$work/a/build" DIST="$work/a/untimed" RELEASE_KEEP_BUILD=1 \
  "$work/a/src/scripts/release" >"$work/untimed.log" 2>&1 && fail "a signed release without a timestamp succeeded"
grep -q 'QUILLSHELL_SIGN_NO_TIMESTAMP' "$work/untimed.log" || { fail "the refusal does not say how to go on"; sed 's/^/    | /' "$work/untimed.log"; }
[ ! -e "$work/a/untimed" ] || fail "a refused release left $(ls "$work/a/untimed")"

step "two signed releases from the same folders (no timestamp, signing time fixed)"
export QUILLSHELL_SIGN_NO_TIMESTAMP=1
release "$work/a/src" "$a-signed" 1
release "$work/second copy/b/src" "$b-signed" 1
grep -qF "signed with $ca/chain.crt (CN=Quillshell test signer, O=" "$a-signed.log" || fail "a signed release does not say so"
grep -q "NOT TIMESTAMPED" "$a-signed.log" || fail "a signed release without a timestamp does not say so"
same "$a-signed" "$b-signed" "signed"
# The signed MSIs are other packages: the manifests name their hashes and codes.
/usr/bin/python3 "$src/tests/winget_check.py" "$a-signed" "$version" || fail "the signed release's winget manifests"

step "a signing failure fails the release and leaves no release"
QUILLSHELL_SIGN_KEY=$ca/ext RELEASE_BUILD="$work/a/build" DIST="$work/a/bad" RELEASE_KEEP_BUILD=1 \
  "$work/a/src/scripts/release" >"$work/bad.log" 2>&1 && fail "a release signed with the wrong key succeeded"
[ ! -e "$work/a/bad" ] || [ -z "$(ls "$work/a/bad")" ] || fail "a failed release left $(ls "$work/a/bad")"
unset QUILLSHELL_SIGN_CERT QUILLSHELL_SIGN_KEY QUILLSHELL_SIGN_NO_TIMESTAMP

verify() { # file, what
  osslsigncode verify -CAfile "$ca/ca.crt" -in "$1" >"$work/verify" 2>&1 ||
    { fail "$2: not verified"; sed 's/^/    | /' "$work/verify"; return; }
  echo "  $2: $(grep -m1 -E '^Signature verification' "$work/verify")"
}
step "osslsigncode verifies every signed file"
# (The winget manifests are text: what they name is signed, they are not.)
for f in $(cd "$a-signed" && find . -type f ! -name SHA256SUMS ! -path "./winget/*" | sort); do
  verify "$a-signed/${f#./}" "${f#./}"
done
# Every PE file an installer carries, its plugins among them, which it unpacks
# into the temporary folder and loads (7-Zip reads NSIS installers).
verify_carried() { # installer, what
  local dir=$work/carried/${1##*/} f n=0
  rm -rf "$dir"
  7z x -y -o"$dir" "$1" >"$work/7z.log" 2>&1 || { fail "$2: 7z cannot unpack it"; sed 's/^/    | /' "$work/7z.log"; return; }
  while IFS= read -r f; do
    n=$((n + 1))
    verify "$f" "$2 carries ${f#"$dir"/}"
  done < <(find "$dir" -type f -exec sh -c 'head -c2 "$1" | grep -q MZ' _ {} \; -print | sort)
  [ "$n" -gt 0 ] && find "$dir" -name System.dll | grep -q . || fail "$2: no plugin DLLs found in it"
}
verify_carried "$a-signed/quillshell-$version-setup.exe" "the installer"

step "the MSIX package: block map, content types, manifest; Publisher as Windows writes the subject"
unsigned='CN=Quillshell Development, OID.2.25.311729368913984317654407730594956997722=1'
python3 "$src/tests/msix_check.py" "$a/quillshell-modern.msix" "$version" "$unsigned" x64 unsigned || fail "unsigned MSIX"
python3 "$src/tests/msix_check.py" "$a/quillshell-modern-arm64.msix" "$version" "$unsigned" arm64 unsigned ||
  fail "unsigned ARM64 MSIX"
# Windows' order and quoting: the last name part first, ST as S, a comma quoted.
python3 "$src/tests/msix_check.py" "$a-signed/quillshell-modern.msix" "$version" \
  'CN=Quillshell test signer, O="Quillshell, Test Ltd", L=Town, S=Land, C=DE' x64 signed || fail "signed MSIX"
python3 "$src/tests/msix_check.py" "$a-signed/quillshell-modern-arm64.msix" "$version" \
  'CN=Quillshell test signer, O="Quillshell, Test Ltd", L=Town, S=Land, C=DE' arm64 signed || fail "signed ARM64 MSIX"

step "a flipped byte is rejected"
for f in quillshell.dll:20000 "quillshell-$version-x64.msi:20000" quillshell-modern.msix:200; do
  cp "$a-signed/${f%:*}" "$work/flipped"
  # A byte well inside the signed content (past the headers; in the MSIX, the manifest).
  printf '\x5a' | dd of="$work/flipped" bs=1 seek="${f##*:}" conv=notrunc status=none
  f=${f%:*}
  if osslsigncode verify -CAfile "$ca/ca.crt" -in "$work/flipped" >"$work/verify" 2>&1; then
    fail "$f with a flipped byte verified"
  else
    echo "  $f with a flipped byte: $(grep -m1 -iE 'mismatch|failed' "$work/verify")"
  fi
done

step "the files the signed installers put on disk are signed"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(cd "$bin/.." && pwd)/wine
trap '"$wine" --server -k 2>/dev/null' EXIT
win() { "$wine" "$@" </dev/null >"$work/out" 2>&1; }
mkdir -p "$WINEPREFIX"
win wineboot -i
# One after the other: the MSI refuses to install beside the NSIS installation.
msi="Z:$(echo "$a-signed/quillshell-$version-x64.msi" | tr / '\\')"
win msiexec /i "$msi" /qn 'INSTALLDIR=C:\From MSI'
rc=$?; [ "$rc" = 0 ] || fail "signed MSI: exit code $rc"
pe_files='quillshell.dll quillshell64reg.exe Modern/quillshell-modern.dll Modern/quillshell64reg.exe Modern/quillshell-package.exe x86/quillshell.dll x86/quillshell64reg.exe'
for f in $pe_files; do
  verify "$WINEPREFIX/drive_c/From MSI/$f" "MSI installed $f"
done
# The ARM64 package's files as Windows Installer would put them on disk.
rm -rf "$work/arm64-msi"
msiextract -C "$work/arm64-msi" "$a-signed/quillshell-$version-arm64.msi" >/dev/null || fail "the ARM64 MSI cannot be unpacked"
for f in $pe_files; do
  verify "$work/arm64-msi/Quillshell/$f" "ARM64 MSI carries $f"
done
# The signed DLL, registered by the MSI, loads and makes its menu.
mkdir -p "$WINEPREFIX/drive_c/Work"
echo notes >"$WINEPREFIX/drive_c/Work/notes.txt"
win "$bin/quillhost.exe" list 'C:\Work\notes.txt'
grep -qF 'Quillshell  Create "notes.zip"' "$work/out" || { fail "the signed DLL makes no menu"; sed 's/^/    | /' "$work/out"; }
win msiexec /x "$msi" /qn 'INSTALLDIR=C:\From MSI'
rc=$?; [ "$rc" = 0 ] || fail "signed MSI removal: exit code $rc"
win "$a-signed/quillshell-$version-setup.exe" /S
rc=$?; [ "$rc" = 0 ] || fail "signed NSIS installer: exit code $rc"
for f in $pe_files uninstall.exe; do
  verify "$WINEPREFIX/drive_c/Program Files/Quillshell/$f" "NSIS installed $f"
done
verify_carried "$WINEPREFIX/drive_c/Program Files/Quillshell/uninstall.exe" "the uninstaller"
"$wine" --server -k 2>/dev/null

echo "release: $failures failure(s)"
[ "$failures" = 0 ] || exit 1
# A passing run needs none of it; a failing one keeps it to look at.
rm -rf "$work"
