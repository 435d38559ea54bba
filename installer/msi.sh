#!/bin/sh
# Builds quillshell-<version>-x64.msi with wixl, byte for byte the same from
# the same input:
#   msi.sh WXS BINDIR VERSION OUT EPOCH [SIGN]
# BINDIR holds quillshell.dll, quillshell64reg.exe, quillshell-modern.dll and
# quillshell-modern.msix; EPOCH (Unix seconds)
# stands in for every time the package records; SIGN, if given, is a command
# that signs the file it is given in place.
# wixl takes its sources relative to the .wxs and records the files' times
# and its own clock: the inputs are copied beside the .wxs with their times
# set to EPOCH, and wixl runs under faketime. It ignores Package/@Id and makes
# a random package code: msibuild sets a fixed one afterwards. Product and
# package code are derived from the version, so that each version is a new
# product (a major upgrade) and the same version always gives the same codes.
set -eu
wxs=$1 bindir=$2 version=$3 out=$4 epoch=$5 sign=${6:-}

# A name-based GUID (SHA-1, as RFC 4122 version 5 lays it out).
guid() {
  h=$(printf '%s' "$1" | sha1sum | tr a-f A-F)
  v=$(printf '%X' $(( (0x$(echo "$h" | cut -c17) & 3) | 8 )))
  echo "{$(echo "$h" | cut -c1-8)-$(echo "$h" | cut -c9-12)-5$(echo "$h" | cut -c14-16)-$v$(echo "$h" | cut -c18-20)-$(echo "$h" | cut -c21-32)}"
}
product=$(guid "quillshell product $version")
package=$(guid "quillshell package $version")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$wxs" "$work/quillshell.wxs"
cp "$bindir/quillshell.dll" "$bindir/quillshell64reg.exe" "$bindir/quillshell-modern.dll" "$bindir/quillshell-modern.msix" "$work/"
# What the package's manifest names in its external location, beside the DLL.
cp -r "$(dirname "$wxs")/msix/Assets" "$work/Assets"
touch -d "@$epoch" "$work"/* "$work"/Assets/*
when=$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S')
(cd "$work" && TZ=UTC faketime -f "$when" wixl -a x64 -D "Version=$version" -D "ProductCode=$product" \
   -o package.msi quillshell.wxs)
# Refused while quillshell-setup.exe's installation is there (quillshell.wxs
# finds it); wixl makes launch conditions of MajorUpgrade only.
msibuild "$work/package.msi" -q "INSERT INTO \`LaunchCondition\` (\`Condition\`, \`Description\`) VALUES \
  ('Installed OR NOT NSIS_INSTALLATION', 'Quillshell is installed with quillshell-setup.exe: remove it first to install this package.')"
msibuild "$work/package.msi" -q "INSERT INTO \`LaunchCondition\` (\`Condition\`, \`Description\`) VALUES \
  ('Installed OR NATIVE_ARCHITECTURE <> \"ARM64\"', 'The Quillshell menu is made for x64 Windows. On ARM64 Windows, Explorer cannot load it, so nothing was installed.')"
# Both binaries' fixed version is x.y.z.0 (version.h). Windows Installer
# replaces a versioned file on disk only by a higher version, and never by an
# unversioned one: without a Version here a major upgrade would install no
# new file and then remove the old product's. A file hash is for unversioned
# files only.
for f in quillshell.dll quillshell64reg.exe quillshell_modern.dll modern_program.exe; do
  msibuild "$work/package.msi" -q "UPDATE \`File\` SET \`Version\` = '$version.0', \`Language\` = '1033' WHERE \`File\` = '$f'"
  msibuild "$work/package.msi" -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$f'"
done
# wixl 0.101 misplaces two things that quillshell.wxs asks for: with custom
# actions scheduled it moves RemoveExistingProducts after InstallFinalize (a
# major upgrade must remove the old product right after InstallValidate,
# before anything of the new one is installed), and it writes
# Execute="rollback" as an immediate action (50 + 64 ignore + 2048 no
# impersonation): 3442 adds the rollback (256) and in-script (1024) bits.
msibuild "$work/package.msi" -q "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 1401 WHERE \`Action\` = 'RemoveExistingProducts'"
msibuild "$work/package.msi" -q "UPDATE \`CustomAction\` SET \`Type\` = 3442 WHERE \`Action\` = 'UnregisterPackageOnRollback'"
msibuild "$work/package.msi" -s "Quillshell $version" "Osmund" "x64;1033" "$package"
[ -z "$sign" ] || "$sign" "$work/package.msi"
mv "$work/package.msi" "$out"
