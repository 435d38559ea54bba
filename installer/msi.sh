#!/bin/sh
# Builds quillshell-<version>-<arch>.msi with wixl, byte for byte the same
# from the same input:
#   msi.sh WXS BINDIR ARCH VERSION OUT EPOCH [SIGN]
# BINDIR holds quillshell.dll, quillshell64reg.exe, quillshell-modern.dll,
# quillshell-modern.msix and quillshell-package.exe (x64), and in arm64\ the ARM64 DLLs and package, in
# x86\ the x86 DLL and tool (packed when there). ARCH is x64 or arm64: the
# package's platform and the DLLs it installs (the tool is the x64 one in
# both: Windows 11 on ARM runs it). EPOCH (Unix seconds)
# stands in for every time the package records; SIGN, if given, is a command
# that signs the file it is given in place.
# wixl takes its sources relative to the .wxs and records the files' times
# and its own clock: the inputs are copied beside the .wxs with their times
# set to EPOCH, and wixl runs under faketime. It ignores Package/@Id and makes
# a random package code: msibuild sets one afterwards, derived from the
# finished package's bytes, so that any change to the package gives a new one
# and the same input the same one. The product code is derived from the
# version, so that each version is a new product (a major upgrade) and an
# administrator can detect a version by it.
set -eu
wxs=$1 bindir=$2 arch=$3 version=$4 out=$5 epoch=$6 sign=${7:-}

# A name-based GUID (SHA-1, as RFC 4122 version 5 lays it out).
guid() {
  h=$(printf '%s' "$1" | sha1sum | tr a-f A-F)
  v=$(printf '%X' $(( (0x$(echo "$h" | cut -c17) & 3) | 8 )))
  echo "{$(echo "$h" | cut -c1-8)-$(echo "$h" | cut -c9-12)-5$(echo "$h" | cut -c14-16)-$v$(echo "$h" | cut -c18-20)-$(echo "$h" | cut -c21-32)}"
}
# x64 keeps the codes it had before there were two packages.
case $arch in
  x64) salt="" platform=x64 dlls=$bindir other=arm64
       refusal='Installed OR NATIVE_ARCHITECTURE <> "ARM64"' ;;
  arm64) salt=" arm64" platform=Arm64 dlls=$bindir/arm64 other=x64
       refusal='Installed OR NATIVE_ARCHITECTURE = "ARM64"' ;;
  *) echo "msi.sh: ARCH is x64 or arm64, not $arch" >&2; exit 2 ;;
esac
product=$(guid "quillshell product $version$salt")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$wxs" "$work/quillshell.wxs"
cp "$dlls/quillshell.dll" "$bindir/quillshell64reg.exe" "$dlls/quillshell-modern.dll" "$dlls/quillshell-modern.msix" \
   "$bindir/quillshell-package.exe" "$work/"
# What the package's manifest names in its external location, beside the DLL.
cp -r "$(dirname "$wxs")/msix/Assets" "$work/Assets"
have_x86=no
if [ -d "$bindir/x86" ]; then
  have_x86=yes
  mkdir "$work/x86"
  cp "$bindir/x86/quillshell.dll" "$bindir/x86/quillshell64reg.exe" "$work/x86/"
fi
touch -d "@$epoch" "$work"/* "$work"/Assets/* "$work"/x86/* 2>/dev/null || true
when=$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S')
(cd "$work" && TZ=UTC faketime -f "$when" wixl -a x64 -D "Version=$version" -D "ProductCode=$product" -D "HaveX86=$have_x86" \
   -o package.msi quillshell.wxs)
# Refused while quillshell-setup.exe's installation is there (quillshell.wxs
# finds it); wixl makes launch conditions of MajorUpgrade only.
msibuild "$work/package.msi" -q "INSERT INTO \`LaunchCondition\` (\`Condition\`, \`Description\`) VALUES \
  ('Installed OR NOT NSIS_INSTALLATION', 'Quillshell is installed with quillshell-setup.exe: remove it first to install this package.')"
# The package for the other architecture's Explorer is refused: its DLLs could
# never be loaded. (Windows Installer refuses an Arm64 package on x64 itself.)
msibuild "$work/package.msi" -q "INSERT INTO \`LaunchCondition\` (\`Condition\`, \`Description\`) VALUES \
  ('$refusal', 'This Quillshell package is for $arch Windows: on $other Windows, Explorer cannot load its menu. Install quillshell-$version-$other.msi instead. Nothing was installed.')"
# Both binaries' fixed version is x.y.z.0 (version.h). Windows Installer
# replaces a versioned file on disk only by a higher version, and never by an
# unversioned one: without a Version here a major upgrade would install no
# new file and then remove the old product's. A file hash is for unversioned
# files only.
for f in quillshell.dll quillshell64reg.exe quillshell_modern.dll modern_program.exe quillshell_package.exe quillshell32.dll quillshell32reg.exe; do
  msibuild "$work/package.msi" -q "UPDATE \`File\` SET \`Version\` = '$version.0', \`Language\` = '1033' WHERE \`File\` = '$f'"
  msibuild "$work/package.msi" -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$f'"
done
# wixl 0.101 misplaces two things that quillshell.wxs asks for: with custom
# actions scheduled it moves RemoveExistingProducts after InstallFinalize, and
# it writes Execute="rollback" as an immediate action: 3410 is an installed
# program (18) + ignore its exit code (64) + rollback (256) + in-script (1024)
# + no impersonation (2048). RemoveExistingProducts goes right after
# InstallInitialize (1500), before anything of the new product is installed:
# there the old product's removal is part of this installation's script and is
# rolled back with it ("RemoveExistingProducts Action": between InstallValidate
# and InstallInitialize, a failed installation leaves neither product).
msibuild "$work/package.msi" -q "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 1501 WHERE \`Action\` = 'RemoveExistingProducts'"
for a in PackageRemoveOnRollback PackageMachineOnRollback; do
  msibuild "$work/package.msi" -q "UPDATE \`CustomAction\` SET \`Type\` = 3410 WHERE \`Action\` = '$a'"
done
# quillshell.wxs's CheckFolderAccess: 2 is a program of the Binary table, run
# at once (as whoever installs), its exit code checked.
msibuild "$work/package.msi" -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) \
  VALUES ('CheckFolderAccess', 2, 'PackageTool', 'check-folder [INSTALLDIR]')"
# The x64 and the Arm64 package of one version are two products of one
# upgrade code: the upgrade row includes its own version
# (msidbUpgradeAttributesVersionMaxInclusive, 0x200), so that either replaces
# the other instead of installing beside it. FindRelatedProducts never finds
# the product being installed, so a repair is not affected; wixl takes no
# AllowSameVersionUpgrades.
# (Attributes is part of the table's key: the row is replaced.)
msibuild "$work/package.msi" -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
msibuild "$work/package.msi" -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) \
  VALUES ('{5B42E06D-0876-433F-B81B-401D69884B19}', '$version', 513, 'WIX_UPGRADE_DETECTED')"
# A folder outside Program Files gets Program Files' ACL (installer/folder.nsh
# holds it), protected from what its parent lets others do: Windows Installer
# 5 sets it on INSTALLDIR, made or found, in CreateFolders, before any file is
# written ("MsiLockPermissionsEx Table"). In Program Files the folder keeps
# what Program Files passes on. wixl writes no such table.
acl=$(sed -n 's/^!define FOLDER_ACL "\(.*\)"$/\1/p' "$(dirname "$wxs")/folder.nsh")
[ -n "$acl" ] || { echo "msi.sh: no FOLDER_ACL in folder.nsh" >&2; exit 1; }
printf '%s\t%s\t%s\t%s\t%s\r\n' MsiLockPermissionsEx LockObject Table SDDLText Condition s72 s72 s32 s0 S255 \
  MsiLockPermissionsEx MsiLockPermissionsEx '' '' '' InstallFolder INSTALLDIR CreateFolder "$acl" \
  'NOT (INSTALLDIR ~<< ProgramFiles64Folder)' | sed 's/\t\t\t\r$/\r/' >"$work/MsiLockPermissionsEx.idt"
msibuild "$work/package.msi" -i "$work/MsiLockPermissionsEx.idt"
# The package code names one package: derived from the package's bytes with
# a fixed code in place, then set.
msibuild "$work/package.msi" -s "Quillshell $version" "Osmund" "$platform;1033" "{00000000-0000-0000-0000-000000000000}"
package=$(guid "quillshell package $(sha256sum <"$work/package.msi" | cut -c1-64)")
msibuild "$work/package.msi" -s "Quillshell $version" "Osmund" "$platform;1033" "$package"
[ -z "$sign" ] || "$sign" "$work/package.msi"
mv "$work/package.msi" "$out"
